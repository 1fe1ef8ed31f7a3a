# Shared helpers for the end-to-end tests: run the real valley binary on an X
# server of its own (a private Xvfb, so parallel tests never share keyboard
# focus or overlap windows), find its window, send real key events with
# xdotool and read its pixels from screenshots. Every wait is bounded so CI can
# never hang.

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
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number_file" 2>"$E2E_DIR/xvfb.txt" &
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
