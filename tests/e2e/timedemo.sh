#!/usr/bin/env bash
# The command-line options on the real binary: --help, an unknown option, and
# the timedemo with --screenshot, --seed and --no-culling on the shipped valley.
# usage: timedemo.sh VALLEY_BINARY DATA_DIR
set -u
here=$(dirname "$0")
. "$here/lib.sh"
binary=$1
E2E_DIR=$(mktemp -d)
E2E_OUT=$E2E_DIR/stdout.txt
E2E_ERR=$E2E_DIR/stderr.txt
cp "$2"/* "$E2E_DIR"/
cd "$E2E_DIR" || exit 1

"$binary" --help >"$E2E_OUT" 2>"$E2E_ERR" || e2e_fail "--help did not exit with 0"
grep -q -- '--timedemo N' "$E2E_OUT" || e2e_fail "--help does not describe --timedemo"

"$binary" --bogus >"$E2E_OUT" 2>"$E2E_ERR"
status=$?
[ $status -eq 2 ] || e2e_fail "an unknown option exited with $status, not 2"
grep -q 'unknown option: --bogus' "$E2E_ERR" || e2e_fail "no message about the unknown option"
grep -q '^usage:' "$E2E_ERR" || e2e_fail "no usage after the unknown option"

e2e_own_display

# timedemo ARGS...: runs it (bounded) and checks its report.
timedemo() {
    timeout 120 "$binary" "$@" >"$E2E_OUT" 2>"$E2E_ERR" || e2e_fail "timedemo $* did not exit with 0"
    grep -Eq '^timedemo: 40 frames in [0-9.]+ s, [0-9.]+ frames per second' "$E2E_OUT" ||
        e2e_fail "no frames-per-second line for $*"
    grep -Eq '^timedemo: world step [0-9.]+ ms, frame drawing [0-9.]+ ms' "$E2E_OUT" ||
        e2e_fail "no step and drawing times for $*"
}

timedemo --timedemo 40 --seed 7 --screenshot first.bmp
header() { od -An -t "$1" -j "$2" -N "$3" first.bmp | tr -d ' '; }  # header TYPE OFFSET SIZE
[ "$(head -c 2 first.bmp)" = BM ] && [ "$(header d4 18 4)" = 640 ] && [ "$(header d4 22 4)" = 480 ] &&
    [ "$(header u2 28 2)" = 24 ] || e2e_fail "first.bmp is not a 640 x 480 24-bit BMP: $(identify first.bmp)"
fog_above_valley first.bmp || e2e_fail "the screenshot does not show the fog above the valley"
centre_dot_shown first.bmp || e2e_fail "the screenshot does not show the centre dot"
small_radar_shown first.bmp || e2e_fail "the screenshot does not show the small radar"

# A fixed step and a fixed seed give the same frames on every run.
timedemo --timedemo 40 --seed 7 --screenshot second.bmp
cmp -s first.bmp second.bmp || e2e_fail "two runs with --seed 7 drew different last frames"

timedemo --timedemo 40 --no-culling
grep -q 'terrain culling off' "$E2E_OUT" || e2e_fail "--no-culling is not reported"
e2e_pass
