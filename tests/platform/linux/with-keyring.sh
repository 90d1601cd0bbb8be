#!/bin/sh
# Runs a test program against a private Secret Service: its own session bus
# (tests/platform/linux/private-bus.conf), a throwaway home and runtime directory, and
# gnome-keyring-daemon with an unlocked "login" collection as the default, so
# storing never prompts. The user's own keyring is never touched.
#
#   with-keyring.sh <test program> [arguments...]
#
# Exit status: the program's; 77 (skip) when the tools are missing, or 1 when CI=true.
set -eu

fail() {
  echo "with-keyring: $*" >&2
  exit 1
}

if [ "${1:-}" != "--inside-session" ]; then
  [ $# -ge 1 ] || fail "usage: with-keyring.sh <test program> [arguments...]"
  for tool in dbus-run-session dbus-daemon gnome-keyring-daemon gdbus; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      [ "${CI:-}" = true ] && fail "$tool is required in CI (packages dbus, gnome-keyring, libglib2.0-bin)"
      echo "with-keyring: $tool not found; skipping" >&2
      exit 77
    fi
  done

  root=$(mktemp -d "${TMPDIR:-/tmp}/glimmet-keyring.XXXXXX")
  trap 'rm -rf "$root"' EXIT
  mkdir -m 700 "$root/home" "$root/runtime" "$root/data" "$root/config" "$root/cache"
  status=0
  HOME="$root/home" XDG_RUNTIME_DIR="$root/runtime" XDG_DATA_HOME="$root/data" \
    XDG_CONFIG_HOME="$root/config" XDG_CACHE_HOME="$root/cache" \
    dbus-run-session --config-file="$(dirname "$0")/private-bus.conf" -- \
    "$0" --inside-session "$root" "$@" || status=$?
  exit "$status"
fi

# Inside the private session bus.
root=$2
shift 2

# The password only encrypts the throwaway login keyring; --unlock creates that
# keyring when it does not exist and leaves it unlocked.
password=glimmet-test
printf '%s' "$password" |
  gnome-keyring-daemon --foreground --unlock --components=secrets >"$root/daemon.log" 2>&1 &
daemon=$!
trap 'kill "$daemon" 2>/dev/null || true; wait "$daemon" 2>/dev/null || true' EXIT

secrets() {
  gdbus call --session --timeout 5 --dest org.freedesktop.secrets "$@" 2>/dev/null
}

default_collection_unlocked() {
  path=$(secrets --object-path /org/freedesktop/secrets \
    --method org.freedesktop.Secret.Service.ReadAlias default |
    sed -n "s/^(objectpath '\(.*\)',)\$/\1/p")
  [ -n "$path" ] && [ "$path" != / ] || return 1
  [ "$(secrets --object-path "$path" --method org.freedesktop.DBus.Properties.Get \
    org.freedesktop.Secret.Collection Locked)" = "(<false>,)" ]
}

tries=0
until default_collection_unlocked; do
  tries=$((tries + 1))
  if [ "$tries" -ge 100 ] || ! kill -0 "$daemon" 2>/dev/null; then
    cat "$root/daemon.log" >&2
    fail "gnome-keyring-daemon did not provide an unlocked default collection"
  fi
  sleep 0.1
done

# Tells the test program it talks to this throwaway keyring, and how to unlock it.
export GLIMMET_TEST_KEYRING_PASSWORD="$password"
status=0
"$@" || status=$?
exit "$status"
