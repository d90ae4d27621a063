#!/usr/bin/env bash
# Whole-disk watching as an ordinary user after root installed the program:
# the watch helper alone has capabilities, the user's own changes are listed
# and acted on, and nothing in a folder the user may not read is listed or
# copied, not even after the folder is closed while the program runs. The
# helper run directly by that user gives away no more.
#   watch_helper_test.sh BUILD-DIR WRITE-RULE-FILE
set -u
build=$1
write_rules=$2
skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root, to install with capabilities and to make a throwaway user"
for tool in useradd userdel setpriv setcap getcap iconv; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done

work=$(mktemp -d)
# The installed program must be within the user's reach.
chmod 755 "$work"
user="vantrel-t$$"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  userdel "$user" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

useradd -M -N -s /usr/sbin/nologin "$user" || skip "useradd could not make a user"
uid=$(id -u "$user")
gid=$(id -g "$user")
as_user() { setpriv --reuid "$uid" --regid "$gid" --init-groups "$@"; }

cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 || fail "install: $(cat "$work/install.log")"
bin="$work/prefix/bin"
findmnt -n -o OPTIONS -T "$bin" | grep -qw nosuid && skip "$work is on a nosuid mount, where file capabilities do not count"

# (d) The helper alone carries capabilities, exactly its two.
caps=$(getcap "$bin/vantrel-watch-helper")
[ "${caps##* }" = "cap_dac_read_search,cap_sys_admin=ep" ] || fail "helper capabilities: '$caps'"
[ -z "$(getcap "$bin/vantrel")" ] || fail "the program has capabilities: $(getcap "$bin/vantrel")"

# The user's folders, a folder of root's the user may not read with a file
# the user may not read, and one of root's the user may read for now.
home="$work/user"
mkdir -p "$home/docs" "$home/copies" "$home/vantrel" "$home/runtime"
chown -R "$uid:$gid" "$home"
chmod 700 "$home/runtime"
mkdir -m 700 "$work/secret"
mkdir -m 755 "$work/public"
printf '[监控设置]\r\n全盘监控=真\r\n自定义路径=假\r\n保存日志=真\r\n' | iconv -f UTF-8 -t GB18030 >"$home/vantrel/config.ini"
"$write_rules" "$home/vantrel/data.jl" \
  新建文件 "$home/docs" "【复制文件】$home/copies" \
  新建文件 "$work/secret" "【复制文件】$home/copies" || fail "could not write the rules"
chown -R "$uid:$gid" "$home/vantrel"

# The helper run by the user directly: what it writes is what the user may
# see. Neither an argument nor an output that is no pipe is taken.
as_user "$bin/vantrel-watch-helper" --anything | cat >"$work/with-argument"
grep -qa "takes no arguments" "$work/with-argument" || fail "the helper took an argument"
as_user "$bin/vantrel-watch-helper" >"$work/no-pipe" 2>&1 && fail "the helper wrote to a file"
as_user "$bin/vantrel-watch-helper" | cat >"$work/direct" &
# The reader's id: ending it must end the helper.
pids+=($!)

env -i HOME="$home" XDG_RUNTIME_DIR="$home/runtime" QT_QPA_PLATFORM=offscreen PATH=/usr/bin:/bin \
  setpriv --reuid "$uid" --regid "$gid" --init-groups \
  "$bin/vantrel" --home "$home/vantrel" --watch-backend fanotify --console >"$work/out" 2>"$work/err" &
pid=$!
pids+=("$pid")
# Both watch once a probe file of the user's is told by each: the program
# on its console, the helper run directly on its pipe. One a second, as the
# first may come before the watches do.
for i in $(seq 30); do
  kill -0 "$pid" 2>/dev/null || break
  as_user sh -c ": >'$home/probe$i'"
  for _ in $(seq 20); do
    grep -q "$home/probe" "$work/err" && grep -qa "$home/probe" "$work/direct" && break 2
    sleep 0.05
  done
done
kill -0 "$pid" 2>/dev/null || fail "vantrel did not start: $(cat "$work/err")"
grep -q "$home/probe" "$work/err" || fail "vantrel never told a change: $(cat "$work/err")"
grep -qa "$home/probe" "$work/direct" || fail "the helper run directly never told a change"

as_user sh -c "echo mine >'$home/docs/mine.txt'"
echo "root only" >"$work/secret/hidden-name.txt"
chmod 600 "$work/secret/hidden-name.txt"
echo "seen" >"$work/public/before-closing.txt"
# Closed once both have told the file made while it was open.
for _ in $(seq 200); do
  grep -q "before-closing" "$work/err" && grep -qa "before-closing" "$work/direct" && break
  sleep 0.05
done
chmod 700 "$work/public"
echo "unseen" >"$work/public/after-closing.txt"
as_user sh -c "echo last >'$home/docs/last.txt'"

log="$home/vantrel/log/$(date +%Y%m%d)/log.txt"
# Both tell changes in order: once each has told the last, whatever came
# before it has been told or left out, and its copy rule has had its turn.
for _ in $(seq 200); do
  [ -f "$log" ] && grep -q "last.txt" "$log" && grep -qa "last.txt" "$work/direct" &&
    [ "$(cat "$home/copies/mine.txt" 2>/dev/null)" = "mine" ] &&
    [ "$(cat "$home/copies/last.txt" 2>/dev/null)" = "last" ] && break
  sleep 0.05
done
kill -TERM "$pid"
wait "$pid" || fail "exit code $? after SIGTERM: $(cat "$work/err")"
listed=$(iconv -f GB18030 -t UTF-8 "$log" 2>/dev/null; cat "$work/err")

# (a) The user's own changes come through the helper and fire their rule.
printf '%s\n' "$listed" | grep -q "新建文件 ┃ $home/docs/mine.txt" || fail "own file not listed: $listed"
printf '%s\n' "$listed" | grep -q "新建文件 ┃ $work/public/before-closing.txt" || fail "readable folder not listed: $listed"
[ "$(cat "$home/copies/mine.txt" 2>/dev/null)" = "mine" ] || fail "the user's copy rule did not copy: $(ls -la "$home/copies")"
# (b) Nothing in a folder the user may not read, nor in one closed meanwhile.
printf '%s\n' "$listed" | grep -q "hidden-name" && fail "a change in root's private folder was listed: $listed"
printf '%s\n' "$listed" | grep -q "after-closing" && fail "a change in a folder closed meanwhile was listed: $listed"
# (c) The copy rule on root's private folder copied nothing.
[ -e "$home/copies/hidden-name.txt" ] && fail "root's file was copied into the user's folder"
# The helper run directly told the user's change and not root's.
grep -qa "$home/docs/mine.txt" "$work/direct" || fail "the helper run directly did not tell the user's own change"
grep -qa "hidden-name" "$work/direct" && fail "the helper run directly told a change in root's private folder"
grep -qa "after-closing" "$work/direct" && fail "the helper run directly told a change in a folder closed meanwhile"
# Helpers end with their readers: the program's, and the one run directly.
kill "${pids[0]}"
for _ in $(seq 50); do
  [ -z "$(ps -u "$uid" -o pid=)" ] && break
  sleep 0.1
done
[ -z "$(ps -u "$uid" -o pid=)" ] || fail "outlived their readers: $(ps -u "$uid" -o pid=,args=)"
echo "watch helper: own changes listed and copied, private ones neither listed nor copied"
