#!/usr/bin/env bash
# The shipped valley without its scenario file: the game starts with the
# player alone over the terrain (no ball or finish markers on the radar),
# quits cleanly and, asked with --screenshot, saves its last frame on the way.
# usage: play_without_scenario.sh VALLEY_BINARY DATA_DIR
set -u
here=$(dirname "$0")
. "$here/lib.sh"
data=$(mktemp -d)
cp "$2"/valleyDepth.bmp "$2"/valleyTex.bmp "$data"/
e2e_start "$1" "$data" --screenshot last.bmp
rm -rf "$data"

e2e_wait_for "the first frame (fog above the valley, centre dot, small radar)" first_frame_shown
shot=$(e2e_shot alone)
# Finish markers are yellow; balls are red, green or between.
markers=$(e2e_count "$shot" 14 262 98 194 'r > 200 && g > 200 && b < 60')
[ "$markers" -eq 0 ] || e2e_fail "$markers yellow marker pixels on the radar of an empty world"

e2e_key Escape
e2e_expect_exit 0
[ "$(tail -n 1 "$E2E_OUT")" = "normal exit" ] || e2e_fail "last line was: $(tail -n 1 "$E2E_OUT")"
[ -s "$E2E_DIR/last.bmp" ] || e2e_fail "no last.bmp after Escape"
small_radar_shown "$E2E_DIR/last.bmp" && centre_dot_shown "$E2E_DIR/last.bmp" ||
    e2e_fail "last.bmp does not show the game's frame"
e2e_pass
