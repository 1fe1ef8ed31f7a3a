# Shared helpers for the end-to-end tests: run the real valley binary on the
# X server in $DISPLAY (the test command starts Xvfb), find its window, send
# real key events with xdotool. Every wait is bounded so CI can never hang.

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

# e2e_start BINARY DATA_DIR [ARGS...]: copies DATA_DIR's files (if any) into a fresh
# working directory, starts the game there and waits for its window.
e2e_start() {
    local binary=$1 data=$2
    shift 2
    [ -n "${DISPLAY:-}" ] || { echo "FAIL: no X display (run the suite through the test command)" >&2; exit 1; }
    E2E_DIR=$(mktemp -d)
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
