#!/usr/bin/env bash
# Every operation of the installed kvel on small images: the shape and type of
# its result as the operation defines them, and the round trips that must
# give the input back.
# usage: operations.sh PREFIX
. "$(dirname "$0")/lib.sh"
make_image pic 12 5 1 1
make_image vol 6 5 4 1
make_image rgb 12 5 1 3
printf '0 0 0\n0 1 0\n0 0 0\n' >identity.txt

while IFS='|' read -r command input expected; do
    # shellcheck disable=SC2086
    "$kvel" $command "$input" out.mhd || fail "kvel $command $input failed"
    got=$(summary out.mhd)
    [ "$got" = "$expected" ] || fail "kvel $command $input gave '$got', not '$expected'"
done <<'CASES'
downsample 2 2 1 1|pic.mhd|6 x 2 x 1 x 1, 1, MET_UCHAR
downsample 2 2 2 1|vol.mhd|3 x 2 x 2 x 1, 1, MET_UCHAR
resample2d 7 3|pic.mhd|7 x 3 x 1 x 1, 1, MET_UCHAR
rotate 0|vol.mhd|6 x 4 x 5 x 1, 1, MET_UCHAR
rotate 1|vol.mhd|4 x 5 x 6 x 1, 1, MET_UCHAR
rotate 2|rgb.mhd|5 x 12 x 1 x 1, 3, MET_UCHAR
pad2d|pic.mhd|16 x 8 x 1 x 1, 1, MET_UCHAR
pad3d|vol.mhd|8 x 8 x 4 x 1, 1, MET_UCHAR
invert|rgb.mhd|12 x 5 x 1 x 1, 3, MET_UCHAR
window 10 20|pic.mhd|12 x 5 x 1 x 1, 1, MET_UCHAR
filter identity.txt|pic.mhd|12 x 5 x 1 x 1, 1, MET_FLOAT
gradient|pic.mhd|12 x 5 x 1 x 1, 2, MET_FLOAT
gradient|vol.mhd|6 x 5 x 4 x 1, 3, MET_FLOAT
hessian|pic.mhd|12 x 5 x 1 x 1, 3, MET_FLOAT
edges 1|pic.mhd|12 x 5 x 1 x 1, 1, MET_UCHAR
edges 1|vol.mhd|6 x 5 x 4 x 1, 1, MET_UCHAR
rigid 1 0 0 0 0 0.5|vol.mhd|6 x 5 x 4 x 1, 1, MET_FLOAT
rigid 0 0 0 0.1 0 0 --nearest|vol.mhd|6 x 5 x 4 x 1, 1, MET_FLOAT
colourmap|pic.mhd|12 x 5 x 1 x 1, 3, MET_UCHAR
colourmap|rgb.mhd|12 x 5 x 1 x 1, 3, MET_UCHAR
convert|rgb.mhd|12 x 5 x 1 x 1, 3, MET_UCHAR
CASES

# Value checks that follow from the definitions, not from the code.
"$kvel" window 10 20 pic.mhd w.mhd && [ "$(range w.mhd)" = "min 0, max 10 " ] || fail "window range: $(range w.mhd)"
"$kvel" edges 1 pic.mhd e.bmp && case "$(range e.bmp)" in "min 0, max 0 " | "min 0, max 255 ") ;; *)
    fail "edge map holds other values: $(range e.bmp)" ;; esac

# Round trips: BMP, PNG and MetaImage carry the same bytes, and invert twice is no change.
"$kvel" convert rgb.mhd a.bmp && "$kvel" convert a.bmp b.mhd && cmp -s rgb.raw b.raw || fail "BMP round trip"
"$kvel" convert vol.mhd v.mha && "$kvel" convert v.mha v2.mhd && cmp -s vol.raw v2.raw || fail ".mha round trip"
"$kvel" convert rgb.mhd a.png && "$kvel" convert a.png p.mhd && cmp -s rgb.raw p.raw || fail "PNG round trip"
# Outputs by extension, inputs by content: a JPEG named .png still reads.
"$kvel" edges 1 a.png e.jpg && mv e.jpg e.png && [ "$("$kvel" info e.png | sed -n 's/^  format: *//p')" = JPEG ] ||
    fail "a JPEG named .png: $("$kvel" info e.png)"
[ "$(summary e.png)" = "12 x 5 x 1 x 1, 1, MET_UCHAR" ] || fail "edges to JPEG: $(summary e.png)"
"$kvel" invert vol.mhd i1.mhd && "$kvel" invert i1.mhd i2.mhd && cmp -s vol.raw i2.raw || fail "invert twice"
! cmp -s vol.raw i1.raw || fail "invert changed nothing"
# A float image written as BMP goes through its range: the lowest value to 0,
# the highest to 255.
"$kvel" gradient pic.mhd g.mhd && "$kvel" convert g.mhd g.bmp || fail "float to BMP"
case "$(range g.bmp)" in *"min 0,"*) ;; *) fail "float to BMP: no 0 in $(range g.bmp)" ;; esac
case "$(range g.bmp)" in *"max 255 "*) ;; *) fail "float to BMP: no 255 in $(range g.bmp)" ;; esac
# A picture of a series of frames is its first frame, nothing read past it.
python3 -c 'import struct; open("frames.raw", "wb").write(struct.pack("<24f", *range(24)))'
printf 'NDims = 4\nDimSize = 4 3 1 2\nElementType = MET_FLOAT\nElementDataFile = frames.raw\n' >frames.mhd
"$kvel" convert frames.mhd frames.png || fail "frames to PNG"
[ "$(summary frames.png)" = "4 x 3 x 1 x 1, 1, MET_UCHAR" ] || fail "frames to PNG: $(summary frames.png)"
# The header alone: a raw volume of more elements than an image holds is
# described with where its elements lie, and no range is read.
truncate -s 2147483648 big.raw
printf 'NDims = 3\nDimSize = 65536 32768 1\nElementType = MET_UCHAR\nElementDataFile = big.raw\n' >big.mhd
"$kvel" info big.mhd >big.txt || fail "kvel info of a large raw volume failed"
grep -q "dimensions:   65536 x 32768 x 1 x 1" big.txt && grep -q "data file:    ./big.raw" big.txt &&
    ! grep -q "channel 0" big.txt || fail "kvel info of a large raw volume: $(cat big.txt)"
"$kvel" info --header vol.mhd | grep -q "data offset:  0" && ! "$kvel" info --header vol.mhd | grep -q "channel 0" ||
    fail "kvel info --header: $("$kvel" info --header vol.mhd)"
echo PASS
