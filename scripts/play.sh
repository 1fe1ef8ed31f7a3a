#!/usr/bin/env bash
# Builds the game and starts it on the shipped valley in data/.
# usage: scripts/play.sh [game options]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" play
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVALLEY_TESTS=OFF -DVALLEY_BENCH=OFF >/dev/null
cmake --build "$root/build" --target valley
cd "$root/data"
exec "$root/build/valley" "$@"
