#!/usr/bin/env bash
# The whole game loop on the shipped valley, measured: `valley --timedemo N`
# (fixed 16 ms steps, real rendering, 640 x 480) with terrain culling and
# without it, one after the other in the same run, then the culling's gain.
# Starts its own Xvfb when there is no display.
# usage: bench/timedemo.sh [VALLEY_BINARY [FRAMES]]   (defaults: build/valley, 2000)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
binary=$(realpath "${1:-$root/build/valley}")
frames=${2:-2000}

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$binary" "$frames"
fi

cd "$root/data"
run() {  # run [OPTIONS...]: prints the report and keeps fps and drawing ms
    local report
    report=$("$binary" --timedemo "$frames" "$@" | grep '^timedemo:')
    echo "$report"
    fps=$(echo "$report" | sed -n 's/.* s, \([0-9.]*\) frames per second.*/\1/p')
    draw=$(echo "$report" | sed -n 's/.*frame drawing \([0-9.]*\) ms.*/\1/p')
}
run
culled_fps=$fps culled_draw=$draw
run --no-culling
awk -v a="$culled_fps" -v b="$fps" -v c="$culled_draw" -v d="$draw" 'BEGIN {
    printf "culling gain: %.2fx frames per second, %.2fx less drawing time per frame\n", a / b, d / c }'
