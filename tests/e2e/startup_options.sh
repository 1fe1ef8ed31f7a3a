#!/usr/bin/env bash
# Start-up before the window: without a display the game says what to do and
# exits 1 before its first line; a missing --data folder or an option neither
# the game nor GLUT knows is refused. Then GLUT's own -display and -geometry
# reach it, and --data finds the valley from any working directory.
# usage: startup_options.sh VALLEY_BINARY DATA_DIR
set -u
here=$(dirname "$0")
. "$here/lib.sh"
valley=$1 data=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# refused STATUS TEXT ARGS...: the game exits STATUS at once, before its first line.
refused() {
    local status=$1 text=$2
    shift 2
    (cd "$scratch" && env -u DISPLAY timeout 20 "$valley" "$@" >"$scratch/out" 2>"$scratch/err")
    local got=$?
    [ $got -eq "$status" ] || { echo "FAIL: '$*' exited $got, not $status: $(cat "$scratch/err")" >&2; exit 1; }
    [ ! -s "$scratch/out" ] || { echo "FAIL: '$*' printed: $(cat "$scratch/out")" >&2; exit 1; }
    grep -qF -- "$text" "$scratch/err" || { echo "FAIL: '$*' did not say '$text': $(cat "$scratch/err")" >&2; exit 1; }
}
refused 1 "xvfb-run"
refused 1 "cannot open display ':65000'" -display :65000
refused 1 "cannot use data folder '$scratch/none'" --data "$scratch/none"
refused 2 "unknown option: -fullscreen" -fullscreen
refused 2 "-geometry needs a value" -geometry

# DISPLAY unset, the server named by -display alone; the wrapper reads DISPLAY
# only once e2e_start has started the private server.
printf '#!/bin/sh\nexec env -u DISPLAY "%s" -display "$DISPLAY" "$@"\n' "$valley" >"$scratch/valley"
chmod +x "$scratch/valley"
e2e_start "$scratch/valley" "" -geometry 320x200+10+10
trap 'kill "$E2E_XVFB_PID" 2>/dev/null; rm -rf "$scratch"' EXIT
xdotool getwindowgeometry "$E2E_WINDOW" | grep -q 'Geometry: 320x200' ||
    e2e_fail "-geometry was not applied: $(xdotool getwindowgeometry "$E2E_WINDOW")"
e2e_key Escape
e2e_expect_exit 0
rm -rf "$E2E_DIR" "$scratch"
kill "$E2E_XVFB_PID" 2>/dev/null

# An empty working directory, the data from --data: the radar shows the valley.
e2e_start "$valley" "" --data "$data"
e2e_wait_for "the first frame with the valley's radar" first_frame_shown
e2e_key Escape
e2e_expect_exit 0
e2e_pass
