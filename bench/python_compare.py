#!/usr/bin/env python3
"""KVEL from Python beside OpenCV's and scikit-image's Python modules.

Every row runs the three on the same numpy arrays, in one run, each at its
default thread count, and prints the medians and the ratios KVEL / peer
(below 1.0: KVEL is faster). Where scikit-image has no peer of its own, the
function it builds on (scipy.ndimage, numpy) stands in, named in the table.

usage: PYTHONPATH=BUILD/python python3 bench/python_compare.py [--seconds S] [--sizes 512,2048]
"""
import argparse
import statistics
import time

import cv2
import numpy as np
import scipy.ndimage
import skimage.exposure
import skimage.feature
import skimage.filters
import skimage.transform

import kvel


def test_picture(size):
    """Rings, waves, a checker pattern and a little noise, values 0..255."""
    y, x = np.mgrid[0:size, 0:size].astype(np.float32)
    u, v = x / size, y / size
    r = np.hypot(u - 0.5, v - 0.45)
    values = 128 + 60 * np.sin(40 * r) * np.where(r < 0.35, 1.0, 0.3) + 40 * np.sin(9 * u + 5 * v)
    values += np.where(((x // 64 + y // 64) % 2) == 1, 20, -20)
    values += np.random.default_rng(12345).uniform(-4, 4, values.shape)
    return np.clip(values, 0, 255).astype(np.float32)


def median_ms(call, seconds):
    """Median of single calls, repeated for about `seconds` (at least 5 times)."""
    call()  # warm-up: first-touch allocations, thread pools
    times, spent = [], 0.0
    while len(times) < 5 or spent < seconds:
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
        spent += times[-1]
    return statistics.median(times) * 1000


def rows(size):
    """(operation, KVEL call, OpenCV call, peer name, peer call) on pictures of size x size."""
    f = test_picture(size)
    b = f.astype(np.uint8)
    box3 = np.full((3, 3), 1 / 9, np.float32)
    box5 = np.full((5, 5), 1 / 25, np.float32)
    half, part = size // 2, int(size * 0.7)
    low = 5  # KVEL's gradient is divided by 9; OpenCV's Sobel is not, nor squared into L2 the same way
    return [
        ("filter 3x3 float", lambda: kvel.filter(f, box3), lambda: cv2.filter2D(f, cv2.CV_32F, box3),
         "scipy.ndimage.correlate", lambda: scipy.ndimage.correlate(f, box3)),
        ("filter 5x5 float", lambda: kvel.filter(f, box5), lambda: cv2.filter2D(f, cv2.CV_32F, box5),
         "scipy.ndimage.correlate", lambda: scipy.ndimage.correlate(f, box5)),
        ("gradient float / Sobel x+y", lambda: kvel.gradient(f),
         lambda: (cv2.Sobel(f, cv2.CV_32F, 1, 0), cv2.Sobel(f, cv2.CV_32F, 0, 1)),
         "skimage sobel_h+sobel_v", lambda: (skimage.filters.sobel_h(f), skimage.filters.sobel_v(f))),
        ("edges uint8 / Canny", lambda: kvel.edges(b, low),
         lambda: cv2.Canny(b, 9 * low, 27 * low, L2gradient=True),
         "skimage canny sigma=0", lambda: skimage.feature.canny(b, sigma=0, low_threshold=9 * low,
                                                                 high_threshold=27 * low)),
        ("downsample 2x2 float", lambda: kvel.downsample(f, 2, 2),
         lambda: cv2.resize(f, (half, half), interpolation=cv2.INTER_AREA),
         "skimage downscale_local_mean", lambda: skimage.transform.downscale_local_mean(f, (2, 2))),
        ("resample2d to 1/2 float", lambda: kvel.resample2d(f, half, half),
         lambda: cv2.resize(f, (half, half), interpolation=cv2.INTER_LINEAR),
         "skimage resize order=1", lambda: skimage.transform.resize(f, (half, half), order=1, anti_aliasing=False,
                                                                    preserve_range=True)),
        ("resample2d to 0.7 float", lambda: kvel.resample2d(f, part, part),
         lambda: cv2.resize(f, (part, part), interpolation=cv2.INTER_LINEAR),
         "skimage resize order=1", lambda: skimage.transform.resize(f, (part, part), order=1, anti_aliasing=False,
                                                                    preserve_range=True)),
        ("rotate(2) float", lambda: kvel.rotate(f, 2), lambda: cv2.rotate(f, cv2.ROTATE_90_COUNTERCLOCKWISE),
         "numpy rot90 (copied)", lambda: np.ascontiguousarray(np.rot90(f))),
        ("to_bytes float", lambda: kvel.to_bytes(f),
         lambda: cv2.normalize(f, None, 0, 255, cv2.NORM_MINMAX, cv2.CV_8U),
         "skimage rescale_intensity", lambda: skimage.exposure.rescale_intensity(
             f, out_range=(0, 255)).astype(np.uint8)),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=0.5, help="time per case and library (default 0.5)")
    parser.add_argument("--sizes", default="512,2048", help="picture sizes (default 512,2048)")
    args = parser.parse_args()

    print(f"KVEL threads {kvel.threads()}, OpenCV {cv2.__version__} threads {cv2.getNumThreads()}, "
          f"scikit-image {skimage.__version__}, numpy {np.__version__}")
    build = kvel.build_info()
    print(f"KVEL module {kvel.__file__}: build type '{build['build_type']}'"
          f"{'' if build['optimised'] else ' (NOT optimised)'}, compiled with: {build['compile_flags']}")
    print("| Operation | Size | KVEL (ms) | OpenCV (ms) | KVEL / OpenCV | Peer | Peer (ms) | KVEL / peer |")
    print("|---|---|---:|---:|---:|---|---:|---:|")
    for size in (int(s) for s in args.sizes.split(",")):
        for name, ours, opencv, peer_name, peer in rows(size):
            t_ours = median_ms(ours, args.seconds)
            t_cv = median_ms(opencv, args.seconds)
            t_peer = median_ms(peer, args.seconds)
            print(f"| {name} | {size}x{size} | {t_ours:.3f} | {t_cv:.3f} | {t_ours / t_cv:.2f} | {peer_name} | "
                  f"{t_peer:.3f} | {t_ours / t_peer:.2f} |", flush=True)


if __name__ == "__main__":
    main()
