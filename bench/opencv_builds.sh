#!/usr/bin/env bash
# The OpenCV comparison in the build the README's "Building by hand" makes
# (no build type given: RelWithDebInfo) and in a Release build of the same
# sources, run alternately so that both see the same machine. Each run prints
# the build type and flags its library was compiled with, then its table.
# usage: bench/opencv_builds.sh [ROUNDS [GOOGLE BENCHMARK FLAGS...]]   (default: 2 rounds)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-2}
shift || true
cmake -S "$root" -B "$root/build" -G Ninja -DVALLEY_BENCH=ON > /dev/null
cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVALLEY_BENCH=ON > /dev/null
for dir in build build-bench; do cmake --build "$root/$dir" -j2 --target bench_opencv_compare; done
for round in $(seq "$rounds"); do
  for dir in build build-bench; do
    echo "=== round $round, $dir, load $(cut -d' ' -f1-3 /proc/loadavg)"
    "$root/$dir/bench/bench_opencv_compare" "$@" 2>/dev/null | sed -n '/^OpenCV/,$p'
  done
done
