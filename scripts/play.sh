#!/usr/bin/env bash
# Builds the game and starts it on the shipped valley in data/.
# usage: scripts/play.sh [game options]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" play
# A build folder of its own, so the test command never finds this one's settings.
build=$root/build-play
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVALLEY_TESTS=OFF -DVALLEY_BENCH=OFF >/dev/null
cmake --build "$build" --target valley
exec "$build/valley" --data "$root/data" "$@"
