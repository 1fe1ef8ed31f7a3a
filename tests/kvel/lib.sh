# Shared helpers for the tests of the installed kvel tool: a scratch folder
# removed at exit, small deterministic input images, and failure checks.
# The including script gets the install prefix as $1.
set -u
kvel=$1/bin/kvel
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }

# make_image NAME W H D CHANNELS: NAME.mhd + NAME.raw of MET_UCHAR with a
# pattern that varies along every axis and channel.
make_image() {
    python3 - "$@" <<'PY'
import sys
name, w, h, d, c = sys.argv[1], *map(int, sys.argv[2:])
dims = [w, h] + ([d] if d > 1 else [])
with open(name + ".raw", "wb") as f:
    f.write(bytes((x * 7 + y * 31 + z * 57 + k * 90) % 256
                  for z in range(d) for y in range(h) for x in range(w) for k in range(c)))
with open(name + ".mhd", "w") as f:
    f.write(f"NDims = {len(dims)}\nDimSize = {' '.join(map(str, dims))}\n"
            f"ElementNumberOfChannels = {c}\nElementType = MET_UCHAR\nElementDataFile = {name}.raw\n")
PY
}

# summary FILE: "W x H x D x T, CHANNELS, TYPE" from kvel info.
summary() {
    "$kvel" info "$1" | awk -F': *' '/element type/ {split($2, t, " "); type = t[1]}
        /dimensions/ {d = $2} /channels/ {c = $2} END {print d ", " c ", " type}'
}

# range FILE: every channel's "min A, max B" on one line.
range() { "$kvel" info "$1" | sed -n 's/^  channel [0-9]*: *//p' | tr '\n' ' '; }

# expect_failure STATUS TEXT COMMAND...: the command exits with STATUS and
# prints exactly one line on standard error, containing TEXT.
expect_failure() {
    local status=$1 text=$2
    shift 2
    "$@" >/dev/null 2>"$work/stderr.txt"
    local got=$?
    [ $got -eq "$status" ] || fail "'$*' exited $got, not $status: $(cat "$work/stderr.txt")"
    [ "$(wc -l <"$work/stderr.txt")" -eq 1 ] || fail "'$*' wrote not one line: $(cat "$work/stderr.txt")"
    grep -qF -- "$text" "$work/stderr.txt" || fail "'$*' did not name '$text': $(cat "$work/stderr.txt")"
}
