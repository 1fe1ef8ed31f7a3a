#!/usr/bin/env bash
# The installed kvel's usage and refusals: every failure is one line on
# standard error naming the file or argument and the reason, with status 2 for
# usage errors and 1 otherwise, and never leaves a half-written output behind.
# usage: failures.sh PREFIX
. "$(dirname "$0")/lib.sh"
make_image pic 12 5 1 1
make_image vol 6 5 4 1
make_image rgb 12 5 1 3
make_image pair 4 4 4 2
"$kvel" convert pic.mhd keep.bmp || fail "convert"
cp keep.bmp keep.orig

"$kvel" --help >help.txt || fail "--help failed"
for op in info convert downsample resample2d rotate pad2d pad3d invert window filter gradient hessian edges \
          rigid colourmap; do
    grep -q "^  $op" help.txt || fail "--help does not list $op"
done
"$kvel" rigid --help | grep -q '^usage: kvel rigid TX TY TZ A B C IN OUT \[--nearest\]$' || fail "rigid --help"

printf 'nothing here\n' >bad.mhd
printf 'NDims = 2\nDimSize = 40 40\nElementType = MET_UCHAR\nElementDataFile = pic.raw\n' >short.mhd
printf '1 2\n3 4\n' >even.txt
printf '1 2 x\n' >words.txt
expect_failure 2 "no command" "$kvel"
expect_failure 2 "frobnicate" "$kvel" frobnicate pic.mhd out.mhd
expect_failure 2 "takes 3 arguments" "$kvel" rotate pic.mhd out.mhd
expect_failure 2 "AXIS" "$kvel" rotate 3 vol.mhd out.mhd
expect_failure 2 "FX" "$kvel" downsample 0 1 1 1 pic.mhd out.mhd
expect_failure 2 "FZ" "$kvel" downsample 1 1 2 1 pic.mhd out.mhd
expect_failure 2 "LOW must be below HIGH" "$kvel" window 20 10 pic.mhd out.mhd
expect_failure 2 "'nan'" "$kvel" edges nan pic.mhd out.mhd
expect_failure 2 "out.gif" "$kvel" convert pic.mhd out.gif
expect_failure 1 "missing.mhd: No such file" "$kvel" invert missing.mhd out.mhd
expect_failure 1 "bad.mhd" "$kvel" info bad.mhd
expect_failure 1 "short.mhd" "$kvel" convert short.mhd out.bmp
expect_failure 2 "KERNEL must be k x k numbers with k odd" "$kvel" filter even.txt pic.mhd out.mhd
expect_failure 1 "words.txt" "$kvel" filter words.txt pic.mhd out.mhd
expect_failure 1 "rgb.mhd: resample2d refused" "$kvel" resample2d 4 4 rgb.mhd out.mhd
expect_failure 1 "pair.mhd: edges refused" "$kvel" edges 1 pair.mhd out.mhd
expect_failure 1 "no/such/dir/out.bmp" "$kvel" convert pic.mhd no/such/dir/out.bmp
# A refused write keeps the old file as it was.
expect_failure 1 "keep.bmp: a BMP file holds one picture" "$kvel" convert vol.mhd keep.bmp
cmp -s keep.bmp keep.orig || fail "a refused write changed keep.bmp"

[ ! -e out.mhd ] && [ ! -e out.raw ] && [ ! -e out.bmp ] || fail "a failed command left an output file"
leftovers=$(find . -name '.kvel-*')
[ -z "$leftovers" ] || fail "scratch files left behind: $leftovers"
echo PASS
