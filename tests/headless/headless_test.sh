#!/usr/bin/env bash
# The program without a window on real folders, with each change source:
# a copy rule and a program rule act, SIGHUP picks up a rule added to
# data.jl meanwhile, SIGTERM during a large copy leaves nothing half-made and
# ends with 0, a kill -9 is told at the next start and --undo takes back
# what finished, the window and this program share one guard, and no Qt
# library is linked.
set -u
exe=$1
write_rules=$2
window=$3
work=$(mktemp -d)
# Moves across file systems start from a tmpfs of their own.
shm=$(mktemp -d /dev/shm/vantrel-headless.XXXXXX 2>/dev/null || mktemp -d)
trap 'kill -9 $(jobs -p) 2>/dev/null; rm -rf "$work" "$shm"' EXIT
export XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen
mkdir -m 700 "$XDG_RUNTIME_DIR"
fail() { echo "FAIL: $*"; [ -f "$work/err" ] && tail -20 "$work/err"; exit 1; }

if ldd "$exe" | grep -qi 'libQt'; then fail "the program links Qt: $(ldd "$exe" | grep -i qt)"; fi

# Waits until the console shows a record with the text, 10 s unless told.
wait_for() {
  for _ in $(seq "${2:-200}"); do
    grep -q -- "$1" "$work/err" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}
# The console mirrors the log's GB18030 records as the terminal's UTF-8.
logged() { iconv -f GB18030 -t UTF-8 "$1" 2>/dev/null | tr -d '\r'; }

for backend in inotify fanotify; do
  home="$work/home-$backend" in="$work/in-$backend" out="$work/out-$backend" ran="$work/ran-$backend"
  mkdir -p "$home" "$in" "$out" "$out-2" "$ran"
  printf '[\xbc\xe0\xbf\xd8\xc9\xe8\xd6\xc3]\r\n\xb1\xa3\xb4\xe6\xc8\xd5\xd6\xbe=\xd5\xe6\r\n' >"$home/config.ini"
  "$write_rules" "$home/data.jl" 新建文件 "$in" "【复制文件】$out" 新建文件 "$in" "【执行程序】/usr/bin/touch§$ran/#文件名§1" ||
    fail "cannot write data.jl"
  : >"$work/err"
  "$exe" --home "$home" --watch-backend "$backend" --console 2>"$work/err" &
  pid=$!
  # The watch is in place once a probe folder's creation is recorded; one
  # probe a second, as the first may come before the watch does. A program
  # that ends meanwhile did not stay up.
  for i in $(seq 40); do
    kill -0 "$pid" 2>/dev/null || break
    mkdir "$in/.probe$i"
    wait_for ".probe$i" 20 && break
  done
  if ! kill -0 "$pid" 2>/dev/null; then
    [ "$backend" = fanotify ] && grep -q fanotify "$work/err" && { echo "note: fanotify cannot run here; skipped"; continue; }
    fail "$backend: the program did not stay up"
  fi
  wait_for ".probe" 1 || fail "$backend: changes never reached the program"

  echo "report" >"$in/a.txt"
  for _ in $(seq 200); do [ -f "$out/a.txt" ] && [ -f "$ran/a.txt" ] && break; sleep 0.05; done
  [ "$(cat "$out/a.txt" 2>/dev/null)" = report ] || fail "$backend: the copy rule did not act"
  [ -f "$ran/a.txt" ] || fail "$backend: the program rule did not act"
  [ "$(cat "$in/a.txt")" = report ] || fail "$backend: the source changed"

  # A rule added to data.jl while it runs counts after SIGHUP.
  "$write_rules" "$home/data.jl" 新建文件 "$in" "【复制文件】$out" 新建文件 "$in" "【复制文件】$out-2"
  kill -HUP "$pid"
  # A file made before the reload took effect meets the old rules only, so
  # another is made every half second until the new rule copies one.
  reloaded() { local f; for f in "$out-2"/b-*.txt; do [ -f "$f" ] && return 0; done; return 1; }
  for i in $(seq 40); do
    echo "second" >"$in/b-$i.txt"
    for _ in $(seq 10); do reloaded && break 2; sleep 0.05; done
  done
  copy=$(ls "$out-2"/b-*.txt 2>/dev/null | head -1)
  [ -n "$copy" ] && [ "$(cat "$copy")" = second ] || fail "$backend: the rule added meanwhile did not act after SIGHUP"
  kill -0 "$pid" || fail "$backend: SIGHUP ended the program"

  # One guard for both faces: the window refuses to start on this home and
  # says which program runs there.
  "$window" --home "$home" --watch-backend inotify >/dev/null 2>"$work/second"
  grep -q "程序已运行,无需重复运行!" "$work/second" || fail "$backend: the window started beside the headless program"
  grep -q "vantrel-headless" "$work/second" || fail "$backend: the notice does not say which is running: $(cat "$work/second")"

  # SIGTERM during a large copy: nothing half-made stays, and the end is 0.
  head -c 1500000000 /dev/zero >"$in/big.bin"
  wait_for "big.bin" || fail "$backend: the large file was not listed"
  # Under way once the program holds an unnamed file open in a target
  # folder (the copy is written so where the file system allows) or its
  # named temporary is there; on a disk fast enough a copy may be whole.
  copying() {
    local fd target
    for fd in /proc/"$pid"/fd/*; do
      target=$(readlink "$fd" 2>/dev/null) || continue
      case $target in "$out/#"*" (deleted)" | "$out-2/#"*" (deleted)") return 0 ;; esac
    done
    [ -n "$(find "$out" "$out-2" -maxdepth 1 \( -name '.vantrel-????????' -o -name big.bin \) -print -quit)" ]
  }
  for _ in $(seq 400); do copying && break; sleep 0.05; done
  copying || fail "$backend: the large copy never began"
  kill -TERM "$pid"
  wait "$pid"
  rc=$?
  [ "$rc" -eq 0 ] || fail "$backend: exit code $rc after SIGTERM"
  if [ -e "$out/big.bin" ]; then
    [ "$(stat -c %s "$out/big.bin")" -eq 1500000000 ] || fail "$backend: a half-made copy was left"
    echo "note: $backend: the large copy was done before the end came"
  fi
  left=$(find "$out" "$out-2" -name '.vantrel-*' | wc -l)
  [ "$left" -eq 0 ] || fail "$backend: $left temporaries left behind"
  [ "$(stat -c %s "$in/big.bin")" -eq 1500000000 ] || fail "$backend: the source changed"
  log="$home/log/$(date +%Y%m%d)/log.txt"
  logged "$log" | grep -q "复制文件】$out/a.txt" || fail "$backend: no log record of the copy"
  rm -f "$in/big.bin"
done

# The journal of actions: a kill -9 in the middle of a large copy is told at
# the next start, and --undo takes back the copy and the move that finished,
# newest first, and then says there is nothing more.
home="$work/home-journal" in="$work/j-in" out="$work/j-out" mvin="$work/j-mvin" moved="$work/j-moved"
far_in="$shm/in" stage="$shm/stage" far="$work/j-far"
mkdir -p "$home" "$in" "$out" "$mvin" "$moved" "$far_in" "$stage" "$far"
"$write_rules" "$home/data.jl" 新建文件 "$in" "【复制文件】$out" 新建文件 "$mvin" "【移动文件】$moved" \
  新建文件 "$far_in" "【移动文件】$far" 新建目录 "$far_in" "【移动文件】$far" || fail "cannot write data.jl"
# The program holds an unnamed file open in the folder, or its temporary is there.
writing_into() {
  local fd target
  for fd in /proc/"$pid"/fd/*; do
    target=$(readlink "$fd" 2>/dev/null) || continue
    case $target in "$1/#"*" (deleted)") return 0 ;; esac
  done
  [ -n "$(find "$1" -maxdepth 1 -name '.vantrel-????????' -print -quit 2>/dev/null)" ]
}
# Kills the program once it writes into the folder; says whether it was in
# time (on a disk fast enough the action may be whole first).
kill_while_writing_into() {
  for _ in $(seq 400); do writing_into "$1" && break; sleep 0.02; done
  writing_into "$1" || fail "journal: nothing was ever written into $1"
  kill -9 "$pid"
  wait "$pid" 2>/dev/null
}
start_journal_run() {
  : >"$work/err"
  "$exe" --home "$home" --watch-backend inotify --console 2>"$work/err" &
  pid=$!
  for i in $(seq 40); do
    kill -0 "$pid" 2>/dev/null || fail "journal: the program did not stay up"
    mkdir "$in/.probe-$1-$i"
    wait_for ".probe-$1-$i" 20 && return 0
  done
  fail "journal: changes never reached the program"
}
start_journal_run 1
echo copied >"$in/a.txt"
echo moved >"$mvin/m.txt"
for _ in $(seq 200); do [ -f "$out/a.txt" ] && [ -f "$moved/m.txt" ] && break; sleep 0.05; done
[ -f "$out/a.txt" ] && [ -f "$moved/m.txt" ] || fail "journal: the rules did not act"
# Large enough to be cut short mostly, small enough not to hold up the disk
# for the tests running beside this one.
head -c 300000000 /dev/zero >"$in/big.bin"
wait_for "big.bin" || fail "journal: the large file was not listed"
for _ in $(seq 400); do copying && break; sleep 0.05; done
copying || fail "journal: the large copy never began"
kill -9 "$pid"
wait "$pid" 2>/dev/null
# On a disk fast enough the copy may be whole before the kill lands: then
# it is one more action to take back, not one cut short.
undo=2
if [ "$(stat -c %s "$out/big.bin" 2>/dev/null)" = 300000000 ]; then
  echo "note: journal: the large copy was done before the kill came"
  undo=3
fi
start_journal_run 2
if [ "$undo" = 2 ]; then
  wait_for "个操作被中断" || fail "journal: the next start did not tell the action a kill cut short"
  grep -q "big.bin" "$work/err" || fail "journal: the notice does not name the action: $(grep 中断 "$work/err")"
fi
# A move across file systems and a folder's move across them, each cut
# short: their sources stay whole, and the next start tells both.
head -c 300000000 /dev/zero >"$stage/big-move.bin"
mv "$stage/big-move.bin" "$far_in/"
kill_while_writing_into "$far"
told_cut() {
  wait_for "有 1 个操作被中断, 未完成, 如 移动文件 $1" ||
    fail "journal: the next start did not tell the cut move of $1: $(grep 中断 "$work/err")"
}
if [ -e "$far/big-move.bin" ] && [ ! -e "$far_in/big-move.bin" ]; then
  echo "note: journal: the move was done before the kill came"
  undo=$((undo + 1))
  start_journal_run 3
else
  [ "$(stat -c %s "$far_in/big-move.bin")" = 300000000 ] || fail "journal: the cut move's source is not whole"
  start_journal_run 3
  told_cut "$far_in/big-move.bin"
fi
mkdir -p "$stage/F/sub"
for i in $(seq 20); do echo "$i" >"$stage/F/sub/$i.txt"; done
head -c 300000000 /dev/zero >"$stage/F/zz-big.bin"
mv "$stage/F" "$far_in/"
kill_while_writing_into "$far/F"
start_journal_run 4
if [ -d "$far_in/F" ]; then
  [ "$(ls "$far_in/F/sub" | wc -l)" = 20 ] && [ "$(stat -c %s "$far_in/F/zz-big.bin")" = 300000000 ] ||
    fail "journal: the cut folder move's source is not whole"
  told_cut "$far_in/F"
else
  echo "note: journal: the folder move was done before the kill came"
  undo=$((undo + 1))
fi
# While it runs, what an --undo brings back would set its rules off again.
"$exe" --home "$home" --undo >"$work/undo" 2>&1 && fail "journal: --undo went ahead beside the running program"
grep -q "vantrel-headless 正在使用" "$work/undo" || fail "journal: --undo did not say why: $(cat "$work/undo")"
[ -e "$out/a.txt" ] || fail "journal: the refused --undo took something back"
kill -TERM "$pid"
wait "$pid"
"$exe" --home "$home" --undo=$undo >"$work/undo" 2>&1 || fail "journal: --undo=$undo failed: $(cat "$work/undo")"
rm -f "$in/big.bin"
[ ! -e "$out/a.txt" ] || fail "journal: the copy was not taken back: $(cat "$work/undo")"
[ "$(cat "$mvin/m.txt" 2>/dev/null)" = moved ] && [ ! -e "$moved/m.txt" ] || fail "journal: the move was not taken back"
[ "$(cat "$in/a.txt")" = copied ] || fail "journal: the copy's source was touched"
"$exe" --home "$home" --undo=1h >"$work/undo" 2>&1 && fail "journal: a second --undo found something to take back"
grep -q "没有可以撤销的操作" "$work/undo" || fail "journal: a second --undo did not say why: $(cat "$work/undo")"
# --preview says what a rule would do to what is there, and does nothing.
echo preview >"$in/p.txt"
"$exe" --home "$home" --preview=1 >"$work/preview" 2>&1 || fail "journal: --preview=1 failed: $(cat "$work/preview")"
grep -qF "$in/p.txt  →  复制到 $out/p.txt" "$work/preview" || fail "journal: --preview did not list the file: $(cat "$work/preview")"
[ ! -e "$out/p.txt" ] || fail "journal: --preview acted"
"$exe" --home "$home" --preview=9 >"$work/preview" 2>&1 && fail "journal: --preview of a rule that is not there succeeded"

# And the other way round: the headless program refuses a home the window has.
home="$work/home-window"
mkdir -p "$home"
"$window" --home "$home" --watch-backend inotify >/dev/null 2>&1 &
wpid=$!
# The window holds the home once its process id is in the guard's lock
# file: only the holder writes it there.
for _ in $(seq 200); do
  kill -0 "$wpid" 2>/dev/null || fail "the window did not stay up"
  grep -qsx "$wpid" "$XDG_RUNTIME_DIR"/vantrel/*.lock && break
  sleep 0.05
done
grep -qsx "$wpid" "$XDG_RUNTIME_DIR"/vantrel/*.lock || fail "the window never took its home's guard"
"$exe" --home "$home" --watch-backend inotify 2>"$work/second"
rc=$?
kill -TERM "$wpid"; wait "$wpid"
[ "$rc" -eq 0 ] || fail "the second start on the window's home ended with $rc"
grep -q "程序已运行,无需重复运行! (vantrel 正在使用" "$work/second" || fail "no notice naming the window: $(cat "$work/second")"
echo "headless: both change sources, SIGHUP, SIGTERM, the journal after kill -9 and --undo, one guard, no Qt"
