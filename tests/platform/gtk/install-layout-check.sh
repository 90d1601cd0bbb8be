#!/bin/sh
# Installs the build tree under a throwaway prefix and checks that the
# program, its web process extension, the page, the resources, the desktop
# entry and the icon land where the program and the desktop look for them.
#
#   install-layout-check.sh <cmake> <build directory>
set -eu
cmake=$1
build=$2
prefix=$(mktemp -d "${TMPDIR:-/tmp}/glimmet-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

status=0
for file in bin/glimmet lib/glimmet/web-extensions/plumora-bridge.so \
  share/glimmet/web/index.html share/glimmet/PlumoraComplete.wav \
  share/glimmet/provider-codex.png share/glimmet/provider-api.png \
  share/glimmet/provider-glimmet.png share/applications/glimmet.desktop \
  share/icons/hicolor/scalable/apps/glimmet.svg; do
  [ -f "$prefix/$file" ] || { echo "missing: $file" >&2; status=1; }
done
[ -x "$prefix/bin/glimmet" ] || { echo "not executable: bin/glimmet" >&2; status=1; }
[ ! -e "$prefix/share/glimmet/desktop" ] || { echo "desktop files leaked into share/glimmet" >&2; status=1; }
grep -qx 'Name=Glimmet' "$prefix/share/applications/glimmet.desktop" ||
  { echo "desktop entry lacks Name=Glimmet" >&2; status=1; }
exit "$status"
