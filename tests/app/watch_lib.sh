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
