#!/usr/bin/env bash
# vantrel-headless.exe under Wine on real folders: files made by Linux
# programs and by Wine's own are listed, copied byte for byte and handed to a
# program rule as single arguments; a burst of 20,000 files is listed with
# none missing; an overflow is told; a second start is refused and --quit
# ends the running copy cleanly.
#   windows_headless_test.sh PREFIX HEADLESS.EXE WRITE_RULE_FILE.EXE ARGV_RECORDER.EXE
set -u
export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exe=$2 write_rules=$3 recorder=$4
work=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [ -f "$work/err" ] && tail -30 "$work/err"; exit 1; }
# Wine's drive Z: is the Linux root.
win() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
# The log is GB18030 with CR LF, as earlier versions wrote it.
logged() { iconv -f GB18030 -t UTF-8 "$home/log/$(date +%Y%m%d)/log.txt" 2>/dev/null | tr -d '\r'; }
wait_for() {
  for _ in $(seq "${2:-400}"); do
    grep -q -- "$1" "$work/err" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

home=$work/home in=$work/in out=$work/out ran=$work/ran burst=$work/burst
mkdir -p "$home" "$in" "$out" "$ran" "$burst"
# Only the rules' folders are watched (Z: is the whole Linux tree), and the
# log is kept.
printf '[\xbc\xe0\xbf\xd8\xc9\xe8\xd6\xc3]\r\n\xc8\xab\xc5\xcc\xbc\xe0\xbf\xd8=\xbc\xd9\r\n\xd7\xd4\xb6\xa8\xd2\xe5\xc2\xb7\xbe\xb6=\xd5\xe6\r\n\xb1\xa3\xb4\xe6\xc8\xd5\xd6\xbe=\xd5\xe6\r\n' >"$home/config.ini"
# The burst folder's rule fires only for folders made there: its files are
# listed and fire nothing.
wine "$write_rules" "$(win "$home")\\data.jl" \
  新建文件 "$(win "$in")" "【复制文件】$(win "$out")" \
  新建文件 "$(win "$in")" "【执行程序】$(win "$recorder")§#路径 #文件名§1" \
  新建目录 "$(win "$burst")" "【复制文件】$(win "$out")" >/dev/null 2>"$work/err" || fail "cannot write data.jl"

# The recorder writes what it was given here, for each start anew.
VANTREL_ARGV_FILE=$(win "$ran/argv") wine "$exe" --home "$(win "$home")" --console >"$work/out.txt" 2>"$work/err" &
pid=$!
for i in $(seq 40); do
  mkdir "$in/.probe$i"
  wait_for ".probe$i" 20 && break
  kill -0 "$pid" 2>/dev/null || fail "the program did not stay up"
done
wait_for ".probe" 1 || fail "changes never reached the program"

# A file from a Linux program, one from a Wine program, a Chinese and emoji
# name with blanks and an ampersand, one at a time so that each start of the
# program rule is seen.
expect_args() {
  # Hidden (show mode 1), then the path and the name, one argument each
  # whatever they hold.
  printf 'show=0\0%s\0%s\0\n' "$(win "$in")\\$1" "$1"
}
for name in linux.bin wine.txt "报告 😀 a&b.txt"; do
  rm -f "$ran/argv"
  case $name in
    linux.bin) head -c 3000000 /dev/urandom >"$in/$name" ;;
    wine.txt) wine cmd /c "echo made by wine> $(win "$in")\\$name" >/dev/null 2>&1 ;;
    *) printf '中文' >"$in/$name" ;;
  esac
  for _ in $(seq 400); do [ -f "$ran/argv" ] && cmp -s "$in/$name" "$out/$name" && break; sleep 0.05; done
  cmp "$in/$name" "$out/$name" || fail "$name was not copied byte for byte"
  [ -f "$ran/argv" ] || fail "the program rule did not act on $name"
  expect_args "$name" | cmp -s - "$ran/argv" ||
    fail "the program got other arguments for $name: $(tr '\0' '|' <"$ran/argv")"
done
logged | grep -q "复制文件】$(win "$out")\\\\linux.bin" || fail "no log record of the copy"

# A second start on the same home is refused and says who runs there.
wine "$exe" --home "$(win "$home")" >/dev/null 2>"$work/second"
grep -q "程序已运行,无需重复运行! (vantrel-headless 正在使用" "$work/second" || fail "a second copy started: $(cat "$work/second")"

# 20,000 files at once from a Linux program: every one is listed, or an
# overflow is told and the files made meanwhile are listed after it.
(cd "$burst" && seq -f 'f%05g' 1 20000 | xargs touch)
for _ in $(seq 1200); do
  [ "$(logged | grep -c "新建文件.*burst")" -ge 20000 ] && break
  sleep 0.1
done
listed=$(logged | grep "新建文件" | grep -o 'f[0-9]\{5\}' | sort -u | wc -l)
[ "$listed" -eq 20000 ] || fail "of 20,000 new files $listed were listed"
if logged | grep -q "变动丢失"; then echo "note: the burst overflowed Wine's buffer; it was told and rescanned"; fi

# --quit ends it the way "退出程序" does, and waits for it.
wine "$exe" --home "$(win "$home")" --quit 2>"$work/quit" || fail "--quit failed: $(cat "$work/quit")"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the program still runs after --quit"
wait "$pid"
rc=$?
pid=
[ "$rc" -eq 0 ] || fail "exit code $rc after --quit"
[ "$(find "$out" -name '.vantrel-*' | wc -l)" -eq 0 ] || fail "temporaries left behind"
echo "windows headless: Linux and Wine files copied and passed on, 20,000 listed, one guard, --quit"
