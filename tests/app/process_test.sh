#!/usr/bin/env bash
# The program as a process: it starts on the offscreen platform, saves its
# size when SIGTERM ends it and exits 0; a wrong option gets one line and 2.
set -u
exe=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/screens.json" <<'JSON'
{"screens":[{"name":"s","x":0,"y":0,"width":1920,"height":1080,"logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]}
JSON
export QT_QPA_PLATFORM="offscreen:configfile=$work/screens.json"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
fail() { echo "FAIL: $*"; exit 1; }

"$exe" --home "$work/home" >"$work/out" 2>"$work/err" &
pid=$!
for _ in $(seq 100); do
  [ -d "$work/home" ] && sleep 1 && break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null || fail "vantrel did not stay up: $(cat "$work/err")"
kill -TERM "$pid"
wait "$pid"
rc=$?
[ "$rc" -eq 0 ] || fail "exit code $rc after SIGTERM: $(cat "$work/err")"
[ -f "$work/home/config.ini" ] || fail "no config.ini written"
text=$(iconv -f GB18030 -t UTF-8 "$work/home/config.ini") || fail "config.ini is not GB18030"
printf '%s' "$text" | tr -d '\r' | grep -qx '\[程序尺寸\]' || fail "no size section in: $text"
printf '%s' "$text" | tr -d '\r' | grep -qx 'XY=1010\*800' || fail "size not 1010*800 in: $text"
grep -q $'\xb3\xcc\xd0\xf2\xb3\xdf\xb4\xe7' "$work/home/config.ini" || fail "section name not in code page 936 bytes"

"$exe" --bogus >"$work/out" 2>"$work/err"
rc=$?
[ "$rc" -eq 2 ] || fail "unknown option gave exit code $rc"
[ "$(wc -l <"$work/err")" -eq 1 ] || fail "unknown option message is not one line: $(cat "$work/err")"
echo "process test passed"
