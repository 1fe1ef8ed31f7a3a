"""How much of a file kvel.dask.from_file reads for one block of slices: a TIFF stack (plain and
deflated) and a DICOM series, each timed in a fresh process for the header alone, for the first
block of 16 slices, for every block, and for kvel.read of the whole, with that process's peak
resident memory.

    /usr/bin/python3 bench/dask_from_file.py [DEPTH [FOLDER]]

with PYTHONPATH=build/python (pydicom, tifffile). DEPTH slices of 512 x 512 uint16 (default 256;
the DICOM series has half as many)."""

import os
import subprocess
import sys
import tempfile

import numpy as np
import tifffile

ROUTES = {
    "header": "kvel.read_header(path)",
    "first block": "kd.from_file(path, chunks=(16, -1, -1))[:16].sum().compute()",
    "every block": "kd.from_file(path, chunks=(16, -1, -1)).sum().compute()",
    "kvel.read": "kvel.read(path)",
}

# VmHWM: the peak of this program alone (getrusage's would keep the writer's across exec).
MEASURE = """import sys, time
import dask, kvel, kvel.dask as kd
path = sys.argv[1]
start = time.perf_counter()
with dask.config.set(scheduler="synchronous"):
    {route}
seconds = time.perf_counter() - start
peak = next(int(l.split()[1]) for l in open("/proc/self/status") if l.startswith("VmHWM:"))
print(seconds, peak / 1024)
"""


def write_files(folder, depth):
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "imagelib"))
    import dicom_fixtures as dicom
    values = np.random.default_rng(1).integers(0, 4096, (depth, 512, 512), dtype=np.uint16)
    tifffile.imwrite(os.path.join(folder, "stack.tif"), values, photometric="minisblack")
    tifffile.imwrite(os.path.join(folder, "deflated.tif"), values, photometric="minisblack", compression="zlib")
    dicom.series(os.path.join(folder, "series"), depth // 2, dicom.AXIAL, shape=(512, 512), slope=1,
                 intercept=-1024, bits_stored=12)
    return ["stack.tif", "deflated.tif", "series"]


def main():
    depth = int(sys.argv[1]) if len(sys.argv) > 1 else 256
    with tempfile.TemporaryDirectory(dir=sys.argv[2] if len(sys.argv) > 2 else None) as folder:
        print(f"| File | {' | '.join(ROUTES)} |\n|---|" + "---|" * len(ROUTES))
        for name in write_files(folder, depth):
            cells = []
            for route in ROUTES.values():
                out = subprocess.run([sys.executable, "-c", MEASURE.format(route=route), os.path.join(folder, name)],
                                     check=True, capture_output=True, text=True).stdout.split()
                cells.append(f"{float(out[0]):.3f} s, {float(out[1]):.0f} MiB")
            print(f"| {name} | {' | '.join(cells)} |")


if __name__ == "__main__":
    main()
