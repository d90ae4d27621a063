# Shared by the whole-disk watching tests run as root: waiting, reading the
# records a helper or the service writes, and acting as another user.
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
as() { local who=$1; shift; setpriv --reuid "$(id -u "$who")" --regid "$(id -g "$who")" --init-groups "$@"; }
# Waits up to $1 seconds for the command that follows to succeed.
wait_for() {
  local limit=$1
  shift
  local end=$((SECONDS + limit))
  until "$@"; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.05
  done
}
# The records, one line each: ready, alive, failed, "report KIND COUNT", or
# "change KIND PID PATH".
decode() {
  perl -e 'local $/; my $d = <STDIN>; my $p = 0;
    while ($p + 4 <= length $d) {
      my $n = unpack("V", substr($d, $p, 4)); my $b = substr($d, $p + 4, $n); $p += 4 + $n;
      my $t = ord($b);
      if ($t == 3) { my ($k, $f, $pid, $l) = unpack("CCl<V", substr($b, 1, 10)); print "change $k $pid ", substr($b, 11, $l), "\n" }
      elsif ($t == 4) { my ($k, $c) = unpack("CV", substr($b, 1, 5)); print "report $k $c\n" }
      else { print(($t == 1 ? "ready" : $t == 2 ? "failed " . substr($b, 1) : $t == 5 ? "alive" : "other"), "\n") }
    }' <"$1"
}
ms() { echo $(($(date +%s%N) / 1000000)); }
kb() { awk -v key="$1:" '$1 == key { print $2 }' "$2"; }
# Rights are those at the change: user $1 runs 300 rounds of each race in
# folders of theirs under $2, a folder opened right after a secret name came
# and went in it, and one moved out of a private folder into a public one.
run_races() {
  local who=$1 base=$2
  mkdir -m 755 "$base/race" "$base/apub"
  mkdir -m 700 "$base/apriv"
  chown "$who" "$base/race" "$base/apub" "$base/apriv"
  as "$who" perl -e 'my $base = shift; for my $i (1..300) { my $d = "$base/d$i"; mkdir $d, 0700 or die;
      open(my $f, ">", "$d/chmod-secret-$i") or die; close $f; unlink "$d/chmod-secret-$i"; chmod 0755, $d; }' "$base/race" ||
    fail "the chmod race did not run"
  as "$who" perl -e 'my ($priv, $pub) = @ARGV; for my $i (1..300) { my $d = "$priv/m$i"; mkdir $d, 0755 or die;
      open(my $f, ">", "$d/move-secret-$i") or die; close $f; unlink "$d/move-secret-$i"; rename $d, "$pub/m$i" or die; }' \
    "$base/apriv" "$base/apub" || fail "the move race did not run"
}
# Fails unless the decoded records in $1 hold the races' public folders and
# none of their secret names; $2 says through what they came.
check_races() {
  local seen=$1 through=$2 leaked moved
  grep -q " $(dirname "$seen")/race/d300$" "$seen" || fail "the public folders made in the race were not told"
  leaked=$(grep -c "chmod-secret-" "$seen")
  moved=$(grep -c "move-secret-" "$seen")
  echo "names leaked${through} in 300 rounds: ${leaked} by chmod, ${moved} by move"
  [ "$leaked" -eq 0 ] && [ "$moved" -eq 0 ] || fail "private names reached another user: ${leaked} by chmod, ${moved} by move"
}
