#!/usr/bin/env bash
# Installs the Debian packages the build, the game and the tests need, if missing.
# usage: scripts/deps.sh play|test
set -eu
packages="cmake ninja-build g++ freeglut3-dev libglu1-mesa-dev libgl1-mesa-dri libx11-dev zlib1g-dev libpng-dev libjpeg62-turbo-dev libtiff-dev libgdcm-dev libgdcm-tools"
if [ "${1:-test}" = test ]; then
    packages="$packages libgtest-dev libbenchmark-dev xvfb xauth xdotool x11-utils imagemagick python3 python3-pil pkg-config clang libclang-rt-14-dev"
    # Other programs' files for the round-trip tests, and the Python module.
    packages="$packages python3-numpy python3-tifffile python3-nibabel python3-dev pybind11-dev python3-pytest python3-setuptools python3-wheel python3-pip python3-venv libopencv-dev python3-dask python3-distributed python3-scipy python3-zarr"
    # Peers that judge where voxels lie and what transforms do.
    packages="$packages libinsighttoolkit5-dev python3-pydicom dcm2niix"
fi
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
