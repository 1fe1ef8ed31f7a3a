#!/usr/bin/env bash
# The whole game loop on the shipped valley, measured: `valley --timedemo N`
# (fixed 16 ms steps, real rendering, 640 x 480) drawing the whole frame, and
# `--terrain-only`, the bare frame of the same clear, camera and culled terrain
# tiles without objects and overlay, on the same camera path. The two alternate
# for a few rounds, so both see the same machine; medians and their ratio are
# printed. Given a second binary (e.g. a build of an older commit), its whole
# frame runs in each round too, and the ratio of the two whole frames follows.
# "main" is the drawing thread's own processor time per frame, the steadiest
# figure when other programs share the machine; "draw" is the wall time until
# the renderer's threads are done.
# Starts its own Xvfb when there is no display.
# usage: bench/timedemo.sh [VALLEY_BINARY [FRAMES [ROUNDS [OTHER_BINARY]]]]
#        (defaults: build/valley, 1500, 3, none)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
binary=$(realpath "${1:-$root/build/valley}")
frames=${2:-1500}
rounds=${3:-3}
other=${4:+$(realpath "$4")}

if [ -z "${DISPLAY:-}" ]; then
    # A random first display number keeps runs of several people off each other's server.
    exec xvfb-run -a -n $((200 + RANDOM % 600)) -s "-screen 0 1024x768x24 -noreset" \
        "$0" "$binary" "$frames" "$rounds" ${other:+"$other"}
fi

cd "$root/data"
results=$(mktemp)
trap 'rm -f "$results"' EXIT

run() {  # run LABEL BINARY [OPTIONS...]: one timedemo, its figures kept under LABEL
    local label=$1 program=$2 report
    shift 2
    if ! report=$("$program" --timedemo "$frames" "$@" | grep '^timedemo:'); then
        echo "$label: the run failed, left out" >&2
        return
    fi
    echo "$report" | awk -v label="$label" '
        / frames per second/ { for (i = 1; i <= NF; ++i) if ($i == "frames" && $(i + 1) == "per") fps = $(i - 1) }
        /frame drawing/ { for (i = 1; i <= NF; ++i) { if ($i == "drawing") draw = $(i + 1); if ($i == "it") main = $(i + 1) } }
        END { printf "%-8s %7.1f fps  draw %7.3f ms  main %7.3f ms\n", label, fps, draw, main }' | tee -a "$results"
}

for round in $(seq "$rounds"); do
    run frame "$binary"
    run terrain "$binary" --terrain-only
    if [ -n "$other" ]; then run other "$other"; fi
done

awk '
    function median(label, column,   n, i, j, t, v) {
        n = 0
        for (i = 1; i <= rows; ++i) if (kind[i] == label) v[++n] = value[i, column]
        for (i = 2; i <= n; ++i) for (j = i; j > 1 && v[j - 1] > v[j]; --j) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
        return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    function ratio(a, b) { return b > 0 ? sprintf("%.2fx", a / b) : "n/a" }
    { ++rows; kind[rows] = $1; value[rows, 1] = $2; value[rows, 2] = $5; value[rows, 3] = $8; seen[$1] = 1 }
    END {
        print "medians:"
        for (label in seen) printf "%-8s %7.1f fps  draw %7.3f ms  main %7.3f ms\n", label, median(label, 1), median(label, 2), median(label, 3)
        printf "whole frame / bare terrain: %s draw, %s main, %s frames per second\n", ratio(median("frame", 2), median("terrain", 2)),
            ratio(median("frame", 3), median("terrain", 3)), ratio(median("frame", 1), median("terrain", 1))
        if (seen["other"])
            printf "whole frame / other binary: %s draw, %s main, %s frames per second\n", ratio(median("frame", 2), median("other", 2)),
                ratio(median("frame", 3), median("other", 3)), ratio(median("frame", 1), median("other", 1))
    }' "$results"
