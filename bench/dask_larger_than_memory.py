"""Filters a raw MetaImage volume larger than the workers may hold, file to file, on a local
cluster, then checks the result slab by slab against the in-memory kvel.filter and reports each
worker's peak resident memory.

    /usr/bin/python3 bench/dask_larger_than_memory.py [MIB_PER_WORKER [FOLDER]]

with PYTHONPATH=build/python. The volume is four times the workers' memory_limit (default
400 MiB per worker, two workers: a 3.2 GiB float32 volume, as much again for the result)."""

import os
import sys
import tempfile
import time

import dask.array as da
import numpy as np
from distributed import Client, LocalCluster

import kvel
import kvel.dask

KERNEL = np.array([[1, 2, 1], [2, 4, 2], [1, 2, 1]], np.float32) / 16
WORKERS = 2


def _peak_resident_bytes():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return 0


def write_volume(path, shape, slab=16):
    """A float32 volume of the given shape, written slab by slab (never whole in memory)."""
    volume = da.zeros(shape, np.float32, chunks=(slab,) + shape[1:]).map_blocks(_noise, dtype=np.float32)
    kvel.dask.to_file(volume, path)


def _noise(block, block_info=None):
    rng = np.random.default_rng(block_info[0]["chunk-location"][0])
    return rng.standard_normal(block.shape, np.float32)


def run(memory_limit, folder, shape=None, timeout=3600):
    """Filters a volume four times the workers' total memory_limit (or of the given shape);
    returns (seconds, slabs checked, peak resident bytes of each worker)."""
    if shape is None:
        side = 1024
        depth = max(2, 4 * WORKERS * memory_limit // (4 * side * side))
        shape = (depth, side, side)
    source, target = os.path.join(folder, "volume.mhd"), os.path.join(folder, "filtered.mhd")
    cluster = LocalCluster(n_workers=WORKERS, threads_per_worker=1, processes=True, host="127.0.0.1",
                           memory_limit=memory_limit, dashboard_address=None)
    with cluster, Client(cluster, timeout=timeout) as client:
        # A slab is a sixteenth of a worker's memory: a task holds a few of them at once.
        slab = max(1, min(shape[0], memory_limit // (16 * shape[1] * shape[2] * 4)))
        write_volume(source, shape, slab)
        start = time.perf_counter()
        volume = kvel.dask.from_file(source, chunks=(slab,) + shape[1:])
        kvel.dask.to_file(kvel.dask.filter(volume, KERNEL), target, spacing=volume.header["spacing"])
        seconds = time.perf_counter() - start
        peaks = sorted(client.run(_peak_resident_bytes).values())
    # The filter works within slices: each slab of slices is checked on its own.
    source_values, result = kvel.dask.from_file(source), kvel.dask.from_file(target)
    slabs = 0
    for z in range(0, shape[0], 8):
        expected = kvel.filter(np.asarray(source_values[z:z + 8]), KERNEL).array
        got = np.asarray(result[z:z + 8]).reshape(expected.shape)
        if expected.tobytes() != got.tobytes():
            raise AssertionError(f"slices {z} to {z + 7} differ from the in-memory filter")
        slabs += 1
    return seconds, slabs, peaks, shape


def main():
    mib = int(sys.argv[1]) if len(sys.argv) > 1 else 400
    folder = sys.argv[2] if len(sys.argv) > 2 else None
    with tempfile.TemporaryDirectory(dir=folder) as work:
        seconds, slabs, peaks, shape = run(mib << 20, work)
    volume = np.prod(shape) * 4
    print(f"volume {shape[2]} x {shape[1]} x {shape[0]} float32, {volume / 2**20:.0f} MiB; "
          f"{WORKERS} workers of memory_limit {mib} MiB ({volume / (WORKERS * (mib << 20)):.1f} times their total)")
    print(f"filtered file to file in {seconds:.1f} s; {slabs} slabs equal to the in-memory filter")
    print("peak resident memory per worker: " + ", ".join(f"{p / 2**20:.0f} MiB" for p in peaks))


if __name__ == "__main__":
    main()
