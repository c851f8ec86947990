#!/usr/bin/env bash
# session_bus.sh start SOCKET PIDFILE CONFIG | stop SOCKET PIDFILE: a private bus listening on
# SOCKET: the session bus of the tests of desktop notifications, or the one the NetworkManager
# tests take for the system bus.
set -eu
cmd=$1 socket=$2 pidfile=$3
case $cmd in
start)
    config=$4
    if [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then exit 0; fi
    rm -f "$socket"
    # --fork returns once the daemon listens, and --print-pid hands back its process id.
    dbus-daemon --config-file="$config" --address="unix:path=$socket" --fork --print-pid=1 \
        >"$pidfile"
    ;;
stop)
    if [ -f "$pidfile" ]; then
        kill "$(cat "$pidfile")" 2>/dev/null || true
        rm -f "$pidfile"
    fi
    rm -f "$socket"
    ;;
esac
