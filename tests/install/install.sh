#!/usr/bin/env bash
# Installs the build into PREFIX (afresh) and checks what landed there: the
# package files, the public headers only, the game with its data, the Python module.
# usage: install.sh BUILD_DIR PREFIX
set -eu
build=$1 prefix=$2
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
cd "$prefix"
for library in lib/libkvel lib/libkvel_gl; do
    [ -e "$library.a" ] || [ -e "$library.so" ] || { echo "FAIL: $library was not installed" >&2; exit 1; }
done
for f in lib/cmake/KVEL/KVELConfig.cmake lib/cmake/KVEL/KVELConfigVersion.cmake \
         lib/pkgconfig/kvel.pc include/kvel/imagebase.h include/kvel/gl/bitmap_texture.h bin/kvel bin/valley \
         bin/valley-play share/valley/valleyDepth.bmp share/valley/valleyTex.bmp share/valley/in.conf \
         share/applications/valley.desktop; do
    [ -e "$f" ] || { echo "FAIL: $f was not installed" >&2; exit 1; }
done
[ ! -e include/kvel/detail ] || { echo "FAIL: internal headers were installed" >&2; exit 1; }
# Installed headers reach each other as <kvel/...> only.
if grep -rn '#include "' include/kvel; then echo "FAIL: a quoted include in the installed headers" >&2; exit 1; fi
grep -q "^Exec=\"$prefix/bin/valley\" --data \"$prefix/share/valley\"" share/applications/valley.desktop ||
    { echo "FAIL: the desktop entry does not point at the installed data" >&2; exit 1; }
# The Python module, when the build made one, imports with the documented PYTHONPATH line
# (under the sanitizers the caller names their runtime in KVEL_PYTHON_PRELOAD).
if ls "$build"/python/kvel/_kvel*.so >/dev/null 2>&1; then
    site=$(/usr/bin/python3 -c 'import sys; print("lib/python%d.%d/site-packages" % sys.version_info[:2])')
    ls "$site"/kvel/_kvel*.so "$site"/kvel/__init__.py "$site"/kvel/dask.py >/dev/null 2>&1 || { echo "FAIL: the Python module was not installed in $site" >&2; exit 1; }
    PYTHONPATH="$prefix/$site" LD_PRELOAD=${KVEL_PYTHON_PRELOAD:-} ASAN_OPTIONS=detect_leaks=0 /usr/bin/python3 -c \
        "import kvel, kvel.dask, numpy; assert kvel.__file__.startswith('$prefix/'); assert kvel.invert(numpy.eye(3, dtype=numpy.uint8)).array[0, 1] == 1" ||
        { echo "FAIL: the installed Python module does not import" >&2; exit 1; }
fi
echo PASS
