#!/usr/bin/env bash
# Builds examples/ against the installed package, once through find_package and
# once through pkg-config, and runs both on a shipped picture.
# usage: example.sh PREFIX SOURCE_DIR [EXTRA_CXX_FLAGS]
set -eu
prefix=$1 source=$2 flags=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake -S "$source/examples" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_FLAGS="$flags" >/dev/null || fail "configuring the example against $prefix"
cmake --build "$work/cmake" >/dev/null || fail "building the example through find_package"
# KVEL::kvel alone must not pull in OpenGL.
! ldd "$work/cmake/edges_example" | grep -q 'libGL' || fail "the example links OpenGL"

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
[ "$(pkg-config --modversion kvel)" = 1.0.0 ] || fail "pkg-config does not know kvel 1.0.0"
# shellcheck disable=SC2046,SC2086
c++ -std=c++17 $flags "$source/examples/edges_example.cpp" -o "$work/pc_example" \
    $(pkg-config --cflags --libs --static kvel) || fail "building the example through pkg-config"

# pkg-config gives no run path; a shared libkvel is found this way.
export LD_LIBRARY_PATH=$prefix/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
for program in "$work/cmake/edges_example" "$work/pc_example"; do
    rm -f "$work/edges.mhd" "$work/edges.raw"
    "$program" "$source/data/valleyDepth.bmp" "$work/edges" 1 >/dev/null || fail "$program failed"
    # A 512 x 256 edge map of 0 and 255, with some of each.
    grep -q '^DimSize = 512 256$' "$work/edges.mhd" || fail "$program wrote: $(cat "$work/edges.mhd")"
    [ "$(stat -c %s "$work/edges.raw")" = 131072 ] || fail "$program wrote a raw file of the wrong size"
    values=$(od -An -v -tu1 "$work/edges.raw" | tr -s ' ' '\n' | sort -u | tr '\n' ' ')
    [ "$values" = " 0 255 " ] || fail "$program wrote values other than 0 and 255: $values"
done
echo PASS
