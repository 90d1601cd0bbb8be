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

if [ "${1:-}" != "--inside-session" ]; then
  for tool in dbus-run-session dbus-daemon gnome-keyring-daemon gdbus; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "with-keyring: $tool not found (packages dbus, gnome-keyring, libglib2.0-bin)" >&2
      [ "${CI:-}" = true ] && exit 1
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

# The daemon answers before its default collection is ready; wait for it.
tries=0
until gdbus call --session --timeout 5 --dest org.freedesktop.secrets \
  --object-path /org/freedesktop/secrets/aliases/default \
  --method org.freedesktop.DBus.Properties.Get org.freedesktop.Secret.Collection Locked \
  2>/dev/null | grep -qx '(<false>,)'; do
  tries=$((tries + 1))
  if [ "$tries" -ge 100 ] || ! kill -0 "$daemon" 2>/dev/null; then
    echo "with-keyring: no unlocked default collection; gnome-keyring-daemon said:" >&2
    cat "$root/daemon.log" >&2
    exit 1
  fi
  sleep 0.1
done

# Tells the test program it talks to this throwaway keyring, and how to unlock it.
export GLIMMET_TEST_KEYRING_PASSWORD="$password"
status=0
"$@" || status=$?
exit "$status"
