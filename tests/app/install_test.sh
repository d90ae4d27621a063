#!/usr/bin/env bash
# An install lays out the program, its watch helper, a valid desktop file and
# a scalable icon in their XDG places; as root, the helper alone gets its two
# capabilities.
set -u
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
DESTDIR="$dest" cmake --install "$build" --prefix /usr/local >"$dest/install.log" 2>&1 || fail "cmake --install failed: $(cat "$dest/install.log")"
[ -x "$dest/usr/local/bin/vantrel" ] || fail "no program in bin/"
[ -x "$dest/usr/local/bin/vantrel-watch-helper" ] || fail "no watch helper beside the program in bin/"
[ -x "$dest/usr/local/bin/vantrel-headless" ] || fail "no program without a window in bin/"
unit="$dest/usr/local/lib/systemd/user/vantrel-headless.service"
[ -f "$unit" ] || fail "no systemd user unit"
grep -qx "ExecStart=/usr/local/bin/vantrel-headless --console" "$unit" || fail "the unit does not start the installed program: $(cat "$unit")"
grep -qx "WantedBy=default.target" "$unit" || fail "the unit cannot be enabled for a user session"
"$dest/usr/local/bin/vantrel-headless" --help | grep -q "SIGHUP" || fail "vantrel-headless --help"
if [ "$(id -u)" -eq 0 ]; then
  command -v getcap >/dev/null || fail "getcap is missing (libcap2-bin)"
  caps=$(getcap "$dest/usr/local/bin/vantrel-watch-helper")
  [ "${caps##* }" = "cap_dac_read_search,cap_sys_admin=ep" ] || fail "helper capabilities: '$caps'"
  [ -z "$(getcap "$dest/usr/local/bin/vantrel")" ] || fail "the program itself has capabilities"
else
  grep -q "has no capabilities" "$dest/install.log" || fail "an install without root does not say the helper lacks its capabilities"
fi
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
echo "install: bin with the headless program and the watch helper, user unit, desktop file and icon in place"
