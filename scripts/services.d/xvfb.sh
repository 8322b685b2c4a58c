#!/usr/bin/env bash
# A virtual X server for the window tests: Xvfb on a free display number,
# listening on no TCP port (local socket only). On start it appends DISPLAY
# and GDK_BACKEND=x11 to $QF_SERVICE_ENV.
#   xvfb.sh start | stop
set -euo pipefail
: "${QF_SERVICE_DIR:?QF_SERVICE_DIR is not set}"
dir="$QF_SERVICE_DIR/xvfb"
pidfile="$dir/xvfb.pid"

start() {
  command -v Xvfb >/dev/null 2>&1 || { echo "xvfb.sh: no Xvfb found" >&2; return 1; }
  mkdir -p "$dir"
  local display
  for display in $(seq 91 140); do
    [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] && continue
    setsid Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp -noreset \
      </dev/null >"$dir/xvfb.log" 2>&1 &
    echo $! >"$pidfile"
    for _ in $(seq 1 100); do
      [ -e "/tmp/.X11-unix/X$display" ] && break
      kill -0 "$(cat "$pidfile")" 2>/dev/null || break
      sleep 0.05
    done
    if [ -e "/tmp/.X11-unix/X$display" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then
      {
        echo "export DISPLAY=:$display"
        echo "export GDK_BACKEND=x11"
        echo "export NO_AT_BRIDGE=1"
      } >>"$QF_SERVICE_ENV"
      return 0
    fi
  done
  echo "xvfb.sh: could not start Xvfb" >&2
  return 1
}

stop() {
  [ -f "$pidfile" ] || return 0
  kill "$(cat "$pidfile")" 2>/dev/null || true
  rm -f "$pidfile"
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
