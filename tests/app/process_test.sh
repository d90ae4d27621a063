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
# True once the process has its own handler for SIGTERM: the program sets it
# after its window is made, and a SIGTERM before that ends it outright.
catches_term() {
  local mask
  mask=$(awk '$1 == "SigCgt:" { print $2 }' "/proc/$1/status" 2>/dev/null)
  [ -n "$mask" ] && (((0x$mask >> 14) & 1))
}

"$exe" --home "$work/home" >"$work/out" 2>"$work/err" &
pid=$!
for _ in $(seq 200); do
  kill -0 "$pid" 2>/dev/null || break
  [ -d "$work/home" ] && catches_term "$pid" && break
  sleep 0.05
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

# Whole-disk mode with the log on: a file created under the user's home is
# logged, whichever change source runs.
for backend in inotify auto; do
  home="$work/home-$backend"
  export HOME="$work/user-$backend"
  mkdir -p "$home" "$HOME/docs"
  printf '[\xbc\xe0\xbf\xd8\xc9\xe8\xd6\xc3]\r\n%s\r\n%s\r\n%s\r\n' \
    $'\xc8\xab\xc5\xcc\xbc\xe0\xbf\xd8=\xd5\xe6' \
    $'\xd7\xd4\xb6\xa8\xd2\xe5\xc2\xb7\xbe\xb6=\xbc\xd9' \
    $'\xb1\xa3\xb4\xe6\xc8\xd5\xd6\xbe=\xd5\xe6' >"$home/config.ini"
  "$exe" --home "$home" --watch-backend "$backend" >"$work/out" 2>"$work/err" &
  pid=$!
  log="$home/log/$(date +%Y%m%d)/log.txt"
  # Watching once a probe file made there is logged; one a second, as the
  # first may come before the watch does.
  for i in $(seq 30); do
    kill -0 "$pid" 2>/dev/null || break
    : >"$HOME/docs/probe$i"
    for _ in $(seq 20); do grep -qs "docs/probe" "$log" && break 2; sleep 0.05; done
  done
  echo "hello" >"$HOME/docs/note.txt"
  for _ in $(seq 50); do
    [ -f "$log" ] && grep -q "note.txt" "$log" && break
    sleep 0.1
  done
  kill -TERM "$pid"
  wait "$pid" || fail "$backend: exit code $? after SIGTERM"
  [ -f "$log" ] || fail "$backend: no log file at $log: $(cat "$work/err")"
  line=$(iconv -f GB18030 -t UTF-8 "$log" | tr -d '\r' | grep "note.txt" | head -1)
  pattern="^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} 信息: ┃ note\.txt ┃ 新建文件 ┃ $HOME/docs/note\.txt$"
  printf '%s\n' "$line" | grep -Eq "$pattern" || fail "$backend: unexpected log record: '$line'"
done

"$exe" --bogus >"$work/out" 2>"$work/err"
rc=$?
[ "$rc" -eq 2 ] || fail "unknown option gave exit code $rc"
[ "$(wc -l <"$work/err")" -eq 1 ] || fail "unknown option message is not one line: $(cat "$work/err")"
echo "process test passed"
