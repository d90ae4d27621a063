# A virtual X server for tests and pictures: vantrel_start_xvfb picks a free
# display, starts Xvfb on it, waits until it answers and exports DISPLAY;
# vantrel_stop_xvfb ends it. Sourced, not run.
vantrel_xvfb_pid=""

vantrel_start_xvfb() {
  local size="${1:-1280x1024x24}" n
  for n in $(seq 90 130); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 "$size" -nolisten tcp >/dev/null 2>&1 &
    vantrel_xvfb_pid=$!
    local tries
    for tries in $(seq 1 100); do
      if [ -e "/tmp/.X11-unix/X$n" ]; then
        export DISPLAY=":$n"
        return 0
      fi
      kill -0 "$vantrel_xvfb_pid" 2>/dev/null || break
      sleep 0.05
    done
    kill "$vantrel_xvfb_pid" 2>/dev/null || true
  done
  echo "no virtual X server could start" >&2
  return 1
}

vantrel_stop_xvfb() {
  [ -n "$vantrel_xvfb_pid" ] && kill "$vantrel_xvfb_pid" 2>/dev/null || true
  vantrel_xvfb_pid=""
}
