#!/bin/sh
# Packs the build tree as the Debian package, checks where its files land and
# what it declares it needs, then unpacks it into a throwaway root and runs the
# unpacked program's self-test from there (the program finds its page and
# extension relative to itself).
#
#   package-check.sh <cpack> <build directory>
set -eu
cpack=$1
build=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/glimmet-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
(cd "$build" && "$cpack" -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/glimmet_*.deb)

status=0
fail() { echo "$*" >&2; status=1; }
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's#^\./#/#' >"$work/files"
extension=$(grep -E '^/usr/lib/.*glimmet/web-extensions/plumora-bridge\.so$' "$work/files" || true)
[ -n "$extension" ] || fail "missing: the web process extension under /usr/lib"
for file in /usr/bin/glimmet /usr/share/glimmet/web/index.html \
  /usr/share/glimmet/PlumoraComplete.wav /usr/share/glimmet/provider-codex.png \
  /usr/share/glimmet/provider-api.png /usr/share/glimmet/provider-glimmet.png \
  /usr/share/applications/glimmet.desktop /usr/share/icons/hicolor/scalable/apps/glimmet.svg; do
  grep -qx "$file" "$work/files" || fail "missing: $file"
done
if grep -q '^/usr/share/glimmet/desktop' "$work/files"; then fail "desktop files leaked into share/glimmet"; fi

depends=$(dpkg-deb -f "$deb" Depends)
for needed in libwebkit2gtk-4.1-0 libgtk-3-0 libvips42 libsecret-1-0 libcurl4 \
  gstreamer1.0-plugins-good gstreamer1.0-libav; do
  echo "$depends" | grep -q "$needed" || fail "Depends lacks $needed: $depends"
done

dpkg-deb -x "$deb" "$work/root"
grep -qx 'Name=Glimmet' "$work/root/usr/share/applications/glimmet.desktop" ||
  fail "desktop entry lacks Name=Glimmet"
"$work/root/usr/bin/glimmet" --self-test >"$work/self-test" 2>&1 ||
  fail "the unpacked program's self-test failed: $(cat "$work/self-test")"
grep -q '^PASS: ' "$work/self-test" ||
  fail "the unpacked program did not pass: $(cat "$work/self-test")"
exit "$status"
