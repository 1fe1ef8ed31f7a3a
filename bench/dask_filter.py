"""Filtering one float32 volume with one 3 x 3 kernel and the same chunks, three ways:
kvel.dask.filter, dask.array.map_overlap over scipy.ndimage.correlate (what one writes without
kvel.dask), and the in-memory kvel.filter; the Dask routes on one and on two worker processes.
Every route reads the volume from a raw MetaImage and writes its result to one, so each pays
the same file costs; the median of the rounds is printed with its ratio to the in-memory route.

    PYTHONPATH=build/python /usr/bin/python3 bench/dask_filter.py [DEPTH [ROUNDS]]

(a DEPTH x 1024 x 1024 volume, default 128 slices = 512 MiB, 3 rounds)."""

import os
import statistics
import sys
import tempfile
import time

import dask.array as da
import numpy as np
import scipy.ndimage
from distributed import Client, LocalCluster

import kvel
import kvel.dask

KERNEL = np.array([[1, 2, 1], [2, 4, 2], [1, 2, 1]], np.float32) / 16
SLAB = 16


def in_memory(source, target):
    image = kvel.read(source)
    kvel.write(target, kvel.filter(image, KERNEL))


def blockwise(source, target):
    volume = kvel.dask.from_file(source, chunks=(SLAB, -1, -1))
    kvel.dask.to_file(kvel.dask.filter(volume, KERNEL), target)


def _correlate(block):
    # The kernel in every slice, none across them.
    return scipy.ndimage.correlate(block, KERNEL[None], mode="constant")


def scipy_route(source, target):
    volume = kvel.dask.from_file(source, chunks=(SLAB, -1, -1))
    result = da.map_overlap(_correlate, volume, depth={0: 0, 1: 1, 2: 1}, boundary="none", dtype=np.float32)
    kvel.dask.to_file(result, target)


def median_seconds(route, source, target, rounds):
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        route(source, target)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    depth = int(sys.argv[1]) if len(sys.argv) > 1 else 128
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    with tempfile.TemporaryDirectory() as work:
        source, target = os.path.join(work, "v.mhd"), os.path.join(work, "f.mhd")
        values = np.random.default_rng(1).standard_normal((depth, 1024, 1024), np.float32)
        kvel.write(source, values)
        del values
        rows = [("in-memory kvel.filter", 0, median_seconds(in_memory, source, target, rounds))]
        for workers in (1, 2):
            cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, host="127.0.0.1",
                                   dashboard_address=None)
            with cluster, Client(cluster, timeout=120):
                rows.append(("kvel.dask.filter", workers, median_seconds(blockwise, source, target, rounds)))
                rows.append(("map_overlap + scipy correlate", workers,
                             median_seconds(scipy_route, source, target, rounds)))
    base = rows[0][2]
    print(f"{depth} x 1024 x 1024 float32, 3 x 3 kernel, chunks of {SLAB} slices, median of {rounds}")
    print(f"{'route':32} {'workers':>7} {'seconds':>8} {'ratio':>6}")
    for name, workers, seconds in rows:
        print(f"{name:32} {workers or '-':>7} {seconds:8.2f} {seconds / base:6.2f}")


if __name__ == "__main__":
    main()
