#!/usr/bin/env bash
# Plays the real game on the shipped valley with real key events and checks
# the window after each: the first frame, the help screen on and off, the
# score list, the big map, moving forward, and Escape.
# usage: play_keys.sh VALLEY_BINARY DATA_DIR
set -u
here=$(dirname "$0")
. "$here/lib.sh"
e2e_start "$1" "$2"

e2e_wait_for "the first frame (fog above the valley, centre dot, small radar)" first_frame_shown
help_before=$(help_pixels "$(e2e_shot before-help)")

# The first 'm' keeps the small map; 'h' then proves that a frame was drawn since.
e2e_key m h
e2e_wait_for "the help screen" help_shown "$help_before"
shot=$(e2e_shot after-first-m)
small_radar_shown "$shot" || e2e_fail "the first 'm' changed the small map"
big_radar_shown "$shot" && e2e_fail "the first 'm' showed the big map"

e2e_key h
e2e_wait_for "the help screen to go away" help_hidden "$help_before"

e2e_key t
e2e_wait_for "the score list" score_list_shown

e2e_key m
e2e_wait_for "the big map in the middle" big_radar_in_view

before=$(e2e_shot before-moving)
e2e_key_repeat Up 30
e2e_wait_for "the view to move forward" view_moved_since "$before"

e2e_key Escape
e2e_expect_exit 0
[ "$(tail -n 1 "$E2E_OUT")" = "normal exit" ] || e2e_fail "last line was: $(tail -n 1 "$E2E_OUT")"
e2e_pass
