# Shared helpers for the end-to-end tests: run the real valley binary on an X
# server of its own (a private Xvfb, so parallel tests never share keyboard
# focus or overlap windows), find its window, send real key events with
# xdotool and read its pixels from screenshots. Every wait is bounded so CI can
# never hang.

# No leak check when a sanitizer build of the game exits: the game keeps its
# world until the process ends, and Mesa's driver allocations show up as leaks
# from an unknown module.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

e2e_fail() {
    echo "FAIL: $*" >&2
    echo "--- stdout ---" >&2; cat "$E2E_OUT" >&2 2>/dev/null
    echo "--- stderr ---" >&2; cat "$E2E_ERR" >&2 2>/dev/null
    [ -n "${E2E_PID:-}" ] && kill -9 "$E2E_PID" 2>/dev/null
    exit 1
}

e2e_pass() {
    rm -rf "$E2E_DIR"
    echo PASS
    exit 0
}

# e2e_own_display: starts a private Xvfb (it picks a free display number
# itself) and points DISPLAY at it; the server ends with the script.
e2e_own_display() {
    local number_file=$E2E_DIR/display.txt waited=0
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$number_file" 2>"$E2E_DIR/xvfb.txt" &
    E2E_XVFB_PID=$!
    trap 'kill "$E2E_XVFB_PID" 2>/dev/null' EXIT
    while [ ! -s "$number_file" ]; do
        kill -0 "$E2E_XVFB_PID" 2>/dev/null || { cat "$E2E_DIR/xvfb.txt" >&2; echo "FAIL: Xvfb did not start" >&2; exit 1; }
        sleep 0.1
        waited=$((waited + 1))
        [ $waited -lt 100 ] || { echo "FAIL: Xvfb did not start within 10 s" >&2; exit 1; }
    done
    export DISPLAY=":$(tr -d '[:space:]' <"$number_file")"
}

# e2e_start BINARY DATA_DIR [ARGS...]: copies DATA_DIR's files (if any) into a fresh
# working directory, starts the game there and waits for its window.
e2e_start() {
    local binary=$1 data=$2
    shift 2
    E2E_DIR=$(mktemp -d)
    e2e_own_display
    E2E_OUT=$E2E_DIR/stdout.txt
    E2E_ERR=$E2E_DIR/stderr.txt
    [ -n "$data" ] && cp "$data"/* "$E2E_DIR"/
    (cd "$E2E_DIR" && exec timeout 90 "$binary" "$@" >"$E2E_OUT" 2>"$E2E_ERR") &
    E2E_PID=$!
    E2E_WINDOW=$(timeout 30 xdotool search --sync --onlyvisible --name '^Just a try$' | head -n 1)
    [ -n "$E2E_WINDOW" ] || e2e_fail "window 'Just a try' did not appear"
}

# e2e_key KEY...: focuses the game's window and types the keys through XTEST.
e2e_key() {
    xdotool windowfocus --sync "$E2E_WINDOW" 2>/dev/null || xdotool windowfocus "$E2E_WINDOW"
    xdotool key --delay 50 "$@"
}

# e2e_key_repeat KEY N: presses KEY N times in quick succession, as a held key repeats.
e2e_key_repeat() {
    xdotool windowfocus --sync "$E2E_WINDOW" 2>/dev/null || xdotool windowfocus "$E2E_WINDOW"
    xdotool key --repeat "$2" --delay 20 "$1"
}

# e2e_expect_exit STATUS: waits (bounded) for the game to end with STATUS.
e2e_expect_exit() {
    local waited=0
    while kill -0 "$E2E_PID" 2>/dev/null; do
        sleep 0.1
        waited=$((waited + 1))
        [ $waited -lt 200 ] || e2e_fail "the game did not exit within 20 s"
    done
    wait "$E2E_PID"
    local status=$?
    E2E_PID=
    [ "$status" -eq "$1" ] || e2e_fail "exit status $status, expected $1"
}

# e2e_shot NAME: saves a screenshot of the game's window as $E2E_DIR/NAME.png
# and prints its path.
e2e_shot() {
    local file=$E2E_DIR/$1.png
    import -window "$E2E_WINDOW" "$file" 2>/dev/null || e2e_fail "could not take screenshot $1"
    echo "$file"
}

# e2e_count FILE X Y W H TEST: counts the pixels of the W x H region at (X, Y)
# (image coordinates, origin top left) for which the awk condition TEST on r,
# g and b (0..255) holds, e.g. 'r > 200 && g < 60'.
e2e_count() {
    convert "$1" -crop "${4}x${5}+${2}+${3}" +repage -type TrueColor -depth 8 txt:- |
        awk -F'[(),]' "NR > 1 { r = \$3; g = \$4; b = \$5; if ($6) n++ } END { print n + 0 }"
}

# e2e_wait_for DESCRIPTION COMMAND...: runs COMMAND (typically a function that
# takes a screenshot and checks it) until it succeeds, for at most about 20 s.
e2e_wait_for() {
    local what=$1 tries=0
    shift
    until "$@"; do
        tries=$((tries + 1))
        [ $tries -lt 80 ] || e2e_fail "$what did not happen within the time limit"
        kill -0 "$E2E_PID" 2>/dev/null || e2e_fail "the game ended while waiting for: $what"
        sleep 0.25
    done
}

# What the game's window shows, read from screenshots (image coordinates:
# origin top left, 640 x 480). Every check returns 0 when the thing is shown.
# The overlay spans x 0..1.333333 and y 0..1 over the window, so an overlay
# point (x, y) is the pixel (x * 480, 479 - y * 480).

# The fog and clear colour (0.5, 0.6, 1.0), give or take the fog's rounding.
E2E_FOG='r >= 118 && r <= 138 && g >= 143 && g <= 163 && b >= 245'
E2E_WHITE='r > 215 && g > 215 && b > 215'
E2E_RED='r > 150 && g < 90 && b < 90'

# The top middle of the window: water in the fog above the valley.
fog_above_valley() { [ "$(e2e_count "$1" 200 0 240 40 "$E2E_FOG")" -gt 8000 ]; }

# The white 2-pixel dot in the middle of the window.
centre_dot_shown() { [ "$(e2e_count "$1" 318 238 4 4 "$E2E_WHITE")" -ge 4 ]; }

# The small map: a picture of the valley (no fog colour) at the lower left,
# and the red arrow at its origin (0.079998, 0.06).
small_radar_shown() {
    [ "$(e2e_count "$1" 20 280 80 160 "!($E2E_FOG)")" -gt 12000 ] &&
        [ "$(e2e_count "$1" 32 442 14 12 "$E2E_RED")" -ge 3 ]
}

# The big map: the red arrow at the middle of the window (0.66665, 0.5).
big_radar_shown() { [ "$(e2e_count "$1" 310 226 20 20 "$E2E_RED")" -ge 20 ]; }

# White text pixels where the help screen's first lines stand ("HELP",
# "Arrow up/Arrow down", "accelerate/break").
help_pixels() { e2e_count "$1" 60 30 300 60 "$E2E_WHITE"; }
# White text where the score list's title "SCORE" stands (0.266666, 0.9).
score_title_pixels() { e2e_count "$1" 124 34 56 18 "$E2E_WHITE"; }

first_frame_shown() {
    local shot
    shot=$(e2e_shot first)
    fog_above_valley "$shot" && centre_dot_shown "$shot" && small_radar_shown "$shot"
}

help_shown() { [ "$(help_pixels "$(e2e_shot help)")" -gt $(($1 + 150)) ]; }
help_hidden() { [ "$(help_pixels "$(e2e_shot no-help)")" -le $(($1 + 10)) ]; }
score_list_shown() { [ "$(score_title_pixels "$(e2e_shot score-list)")" -ge 40 ]; }

big_radar_in_view() {
    local shot
    shot=$(e2e_shot big-map)
    big_radar_shown "$shot" && [ "$(e2e_count "$shot" 300 20 150 150 "!($E2E_FOG)")" -gt 20000 ]
}

# More than 3000 pixels differ clearly from the earlier screenshot $1.
view_moved_since() {
    local changed
    changed=$(compare -metric AE -fuzz 8% "$1" "$(e2e_shot moving)" null: 2>&1 | cut -d' ' -f1)
    [ "${changed%.*}" -gt 3000 ] 2>/dev/null
}
