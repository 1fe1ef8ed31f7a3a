#!/usr/bin/env bash
# Installs the build into PREFIX (afresh) and checks what landed there: the
# package files, the public headers only, the game with its data.
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
echo PASS
