#!/bin/sh
# Installs the build into a throwaway prefix and runs the end-to-end journey
# against the installed program, on a private display (with a window manager
# and a tray the test starts) and a private session bus with its own keyring.
#
#   run.sh <cmake> <build directory> <node> <test file>
set -eu
cmake=$1
build=$2
node=$3
journey=$4
here=$(cd "$(dirname "$0")" && pwd)
prefix=$(mktemp -d "${TMPDIR:-/tmp}/glimmet-e2e-prefix.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
export GLIMMET_PROGRAM="$prefix/bin/glimmet"
exec "$here/../platform/gtk/with-display.sh" "$here/../platform/linux/with-keyring.sh" \
  "$node" --test "$journey"
