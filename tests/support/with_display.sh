#!/usr/bin/env bash
# with_display.sh DISPLAYFILE COMMAND...: runs an X11 test on the tests' own X server.
set -eu
displayfile=$1
shift
number=$(cat "$displayfile" 2>/dev/null || true)
if [ -z "$number" ]; then
    echo "The tests' X server is not running (no $displayfile)" >&2
    exit 1
fi
export DISPLAY=":$number"
exec "$@"
