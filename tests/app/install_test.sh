#!/usr/bin/env bash
# An install lays out the program, a valid desktop file and a scalable icon
# in their XDG places.
set -u
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
DESTDIR="$dest" cmake --install "$build" --prefix /usr/local >/dev/null || fail "cmake --install failed"
[ -x "$dest/usr/local/bin/vantrel" ] || fail "no program in bin/"
desktop="$dest/usr/local/share/applications/vantrel.desktop"
[ -f "$desktop" ] || fail "no desktop file"
[ -f "$dest/usr/local/share/icons/hicolor/scalable/apps/vantrel.svg" ] || fail "no scalable icon"
if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
  [ -z "$out" ] || fail "desktop-file-validate: $out"
else
  fail "desktop-file-validate is missing (desktop-file-utils)"
fi
"$dest/usr/local/bin/vantrel" --help | grep -q -- "--watch-backend" || fail "--help"
echo "install: bin, desktop file and icon in place"
