#!/bin/sh
# Runs a test program on a private virtual X display (Xvfb, no TCP listener)
# and its own session bus without service activation (private-bus.conf), with
# throwaway home, runtime and settings directories and in-memory GSettings, so
# the user's desktop is never touched. A GLib critical aborts the program, so a
# test fails on it rather than printing it.
#
#   with-display.sh <test program> [arguments...]
#
# Exit status: the program's; 77 (skip) when the tools are missing, or 1 when CI=true.
set -eu

fail() {
  echo "with-display: $*" >&2
  exit 1
}

[ $# -ge 1 ] || fail "usage: with-display.sh <test program> [arguments...]"
for tool in Xvfb dbus-run-session; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    [ "${CI:-}" = true ] && fail "$tool is required in CI (packages xvfb, dbus-bin)"
    echo "with-display: $tool not found; skipping" >&2
    exit 77
  fi
done

root=$(mktemp -d "${TMPDIR:-/tmp}/glimmet-display.XXXXXX")
xvfb=""
cleanup() {
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
  fi
  # WebKit's helper processes may still be writing caches under the home for
  # a moment after the program ends.
  rm -rf "$root" 2>/dev/null || { sleep 1; rm -rf "$root" 2>/dev/null || true; }
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mkdir -m 700 "$root/home" "$root/runtime" "$root/data" "$root/config" "$root/cache"

# -displayfd: Xvfb takes the first free display number and writes it once it
# accepts connections.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 3>"$root/display" 2>"$root/xvfb.log" &
xvfb=$!
tries=0
until [ -s "$root/display" ]; do
  tries=$((tries + 1))
  if [ "$tries" -ge 100 ] || ! kill -0 "$xvfb" 2>/dev/null; then
    cat "$root/xvfb.log" >&2
    fail "Xvfb did not start"
  fi
  sleep 0.1
done

# Under LeakSanitizer, unwind allocations fully: GLib and GTK are built
# without frame pointers, and the suppressions must see the library
# constructor an allocation came from.
if [ -n "${LSAN_OPTIONS:-}" ]; then
  export LSAN_OPTIONS="$LSAN_OPTIONS:fast_unwind_on_malloc=0"
fi

status=0
G_DEBUG="${G_DEBUG:+$G_DEBUG,}fatal-criticals" \
  DISPLAY=":$(cat "$root/display")" HOME="$root/home" XDG_RUNTIME_DIR="$root/runtime" \
  XDG_DATA_HOME="$root/data" XDG_CONFIG_HOME="$root/config" XDG_CACHE_HOME="$root/cache" \
  GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 GDK_BACKEND=x11 \
  dbus-run-session --config-file="$(dirname "$0")/private-bus.conf" -- "$@" || status=$?
exit "$status"
