#!/usr/bin/env bash
# The colour picture missing, then cut short: each time the game says which
# picture it could not use, still opens its window with the fog, the centre
# dot and the radar's arrow, and quits cleanly with Escape.
# usage: play_damaged_texture.sh VALLEY_BINARY DATA_DIR
set -u
here=$(dirname "$0")
. "$here/lib.sh"

fog_and_dot_shown() {
    local shot
    shot=$(e2e_shot damaged)
    fog_above_valley "$shot" && centre_dot_shown "$shot" &&
        [ "$(e2e_count "$shot" 32 442 14 12 "$E2E_RED")" -ge 3 ]
}

play_with() {  # play_with DESCRIPTION: the valley as left in $data
    e2e_start "$binary" "$data"
    e2e_wait_for "the first frame with $1" fog_and_dot_shown
    grep -q 'valleyTex.bmp' "$E2E_ERR" "$E2E_OUT" || e2e_fail "no message names valleyTex.bmp with $1"
    e2e_key Escape
    e2e_expect_exit 0
    [ "$(tail -n 1 "$E2E_OUT")" = "normal exit" ] || e2e_fail "last line was: $(tail -n 1 "$E2E_OUT")"
    kill "$E2E_XVFB_PID" 2>/dev/null
    wait "$E2E_XVFB_PID" 2>/dev/null
    rm -rf "$E2E_DIR"
}

binary=$1
data=$(mktemp -d)
cp "$2"/* "$data"/

rm "$data"/valleyTex.bmp
play_with "no valleyTex.bmp"

head -c 4000 "$2"/valleyTex.bmp >"$data"/valleyTex.bmp
play_with "a truncated valleyTex.bmp"

rm -rf "$data"
E2E_DIR=$(mktemp -d)
e2e_pass
