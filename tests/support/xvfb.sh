#!/usr/bin/env bash
# xvfb.sh start|stop PIDFILE DISPLAYFILE: the X server of the X11 tests. It takes the first
# display number that no other X server uses (the developer's desktop, another test run), and
# says which in DISPLAYFILE for with_display.sh.
set -eu
cmd=$1 pidfile=$2 displayfile=$3
case $cmd in
start)
    if [ -f "$pidfile" ] && [ -s "$displayfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then
        exit 0
    fi
    rm -f "$displayfile"
    fifo=$(mktemp -u "${displayfile}.XXXXXX")
    mkfifo "$fifo"
    # -displayfd: the server picks a free number and writes it once it accepts connections.
    # -noreset: without it the server resets when its last client leaves and drops a connection
    # that arrives meanwhile, so a test connecting just after another has finished could fail.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
    echo $! >"$pidfile"
    number=$(head -n 1 "$fifo" || true)
    rm -f "$fifo"
    if [ -z "$number" ]; then
        echo "Xvfb did not come up" >&2
        exit 1
    fi
    echo "$number" >"$displayfile"
    ;;
stop)
    if [ -f "$pidfile" ]; then
        kill "$(cat "$pidfile")" 2>/dev/null || true
        rm -f "$pidfile"
    fi
    rm -f "$displayfile"
    ;;
esac
