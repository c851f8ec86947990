#!/usr/bin/env bash
# xvfb.sh start|stop DISPLAY PIDFILE: the X server of the X11 tests.
set -eu
cmd=$1 display=$2 pidfile=$3
case $cmd in
start)
    if [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then exit 0; fi
    rm -f "/tmp/.X${display}-lock" "/tmp/.X11-unix/X${display}"
    # -noreset: without it the server resets when its last client leaves and drops a connection
    # that arrives meanwhile, so a test connecting just after another has finished could fail.
    Xvfb ":${display}" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    echo $! >"$pidfile"
    for _ in $(seq 1 100); do
        [ -S "/tmp/.X11-unix/X${display}" ] && exit 0
        sleep 0.05
    done
    echo "Xvfb did not come up on :${display}" >&2
    exit 1
    ;;
stop)
    if [ -f "$pidfile" ]; then
        kill "$(cat "$pidfile")" 2>/dev/null || true
        rm -f "$pidfile"
    fi
    ;;
esac
