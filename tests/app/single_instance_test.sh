#!/usr/bin/env bash
# One copy per user and program folder: two copies started at the same moment
# on one home, again and again, leave exactly one running and the other
# exiting 0 after its notice; a copy killed with SIGKILL never blocks the
# next start; another home runs beside it.
set -u
exe=$1
rounds=${VANTREL_INSTANCE_ROUNDS:-100}
work=$(mktemp -d)
trap 'kill -9 $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
fail() { echo "FAIL: $*"; exit 1; }

# True once the copy holds a home's guard: only the holder writes its
# process id into the guard's lock file; a refused copy ends instead.
holds_guard() {
  for _ in $(seq 200); do
    kill -0 "$1" 2>/dev/null || return 1
    grep -qsx "$1" "$XDG_RUNTIME_DIR"/vantrel/*.lock && return 0
    sleep 0.05
  done
  return 1
}
# True once the copy holds its guard and has made its window, which is when
# it sets SIGTERM to end it the way "退出程序" does; it then ends with 0 when
# sent one, which only a copy still running and answering does.
stays_up() {
  local mask
  holds_guard "$1" || return 1
  for _ in $(seq 200); do
    kill -0 "$1" 2>/dev/null || return 1
    mask=$(awk '$1 == "SigCgt:" { print $2 }' "/proc/$1/status" 2>/dev/null)
    [ -n "$mask" ] && (((0x$mask >> 14) & 1)) && return 0
    sleep 0.05
  done
  return 1
}

home="$work/home"
mkdir -p "$home"
for round in $(seq "$rounds"); do
  "$exe" --home "$home" --watch-backend inotify >/dev/null 2>"$work/a" &
  a=$!
  "$exe" --home "$home" --watch-backend inotify >/dev/null 2>"$work/b" &
  b=$!
  for _ in $(seq 200); do
    kill -0 "$a" 2>/dev/null && kill -0 "$b" 2>/dev/null || break
    sleep 0.05
  done
  # One has ended; the other must be the one holding the guard, not one
  # about to end as well.
  if ! kill -0 "$b" 2>/dev/null; then
    survivor=$a loser=$b notice="$work/b"
  else
    survivor=$b loser=$a notice="$work/a"
  fi
  if kill -0 "$loser" 2>/dev/null || ! holds_guard "$survivor"; then
    fail "round $round: not exactly one copy running ($(cat "$work/a" "$work/b"))"
  fi
  wait "$loser"
  rc=$?
  [ "$rc" -eq 0 ] || fail "round $round: the later copy exited with $rc"
  grep -q "程序已运行,无需重复运行!" "$notice" || fail "round $round: no notice: $(cat "$notice")"
  if [ "$round" -eq 1 ]; then
    "$exe" --home "$work/other" --watch-backend inotify >/dev/null 2>&1 &
    other=$!
    stays_up "$other" || fail "a copy on another home was refused"
    kill -TERM "$other"
    wait "$other" || fail "the copy on another home ended with $? on SIGTERM"
    # A copy killed outright leaves no lock behind.
    kill -9 "$survivor"; wait "$survivor" 2>/dev/null
    "$exe" --home "$home" --watch-backend inotify >/dev/null 2>"$work/c" &
    survivor=$!
    stays_up "$survivor" || fail "the start after a SIGKILL was blocked: $(cat "$work/c")"
    kill -TERM "$survivor"
    wait "$survivor" || fail "the start after a SIGKILL ended with $? on SIGTERM"
    continue
  fi
  # Its window may not be made yet and a SIGTERM then ends it outright, so
  # how it ends is not asked here.
  kill -TERM "$survivor"
  wait "$survivor" 2>/dev/null
done
echo "single instance: $rounds rounds, one copy each time"
