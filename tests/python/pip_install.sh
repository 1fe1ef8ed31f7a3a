#!/usr/bin/env bash
# pip install of the module into a fresh virtual environment that sees
# Debian's packages: offline, with Debian's build tools only, from a copy of
# the sources (pip builds inside the folder it is given).
# usage: pip_install.sh PYTHON REPOSITORY
set -eu
python=$1
repository=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
(cd "$repository" && git ls-files -co --exclude-standard -z | tar --null -T - -cf -) | tar -xf - -C "$work/src"
"$python" -m venv --system-site-packages "$work/env"
"$work/env/bin/pip" install -q --no-build-isolation --no-index "$work/src/python"
cd "$work"
"$work/env/bin/python" - <<'PY'
import kvel, kvel.dask, numpy as np
assert kvel.__file__.startswith(__import__("sys").prefix), kvel.__file__
a = np.arange(12, dtype=np.uint16).reshape(3, 4)
kvel.write("a.png", a)
assert (kvel.read("a.png").array == a).all()
print("installed kvel reads back what it wrote")
PY
