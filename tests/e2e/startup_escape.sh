#!/usr/bin/env bash
# Starts the real game in an empty working directory, checks its console
# output and window, quits it with a real Escape key and checks the exit.
# usage: startup_escape.sh VALLEY_BINARY DATA_DIR
set -u
here=$(dirname "$0")
. "$here/lib.sh"
e2e_start "$1" ""   # no data files: the game must still start and quit cleanly

first=$(head -n 1 "$E2E_OUT")
[ "$first" = 'Press "h" for help in game' ] || e2e_fail "first line was: $first"

geometry=$(xdotool getwindowgeometry "$E2E_WINDOW") || e2e_fail "no geometry"
echo "$geometry" | grep -q 'Geometry: 640x480' || e2e_fail "window is not 640x480: $geometry"

e2e_key Escape
e2e_expect_exit 0
[ "$(tail -n 1 "$E2E_OUT")" = "normal exit" ] || e2e_fail "last line was: $(tail -n 1 "$E2E_OUT")"
e2e_pass
