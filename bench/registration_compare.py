#!/usr/bin/python3
"""kvel register beside Debian's elastix on real MRI volumes with known motions.

Each case: a brain template from Debian's mricron package as the fixed image;
the moving image is the same volume moved by a known rigid motion (resampled
by scipy, not by KVEL), with noise, and for mi a nonlinear remap of the
intensities (bright where the T1 is middling, dark at both ends, like a T2).
elastix (with bench/elastix_rigid.txt) and kvel register run one after the
other at the same thread count; the table gives wall time and the error of
a few thousand brain points mapped through each result against the truth.

The volumes go to both programs as MetaImage files with an identity direction,
so both read the same physical points. Both write the moved image the same way:
linear interpolation, uncompressed NIfTI.

usage: /usr/bin/python3 bench/registration_compare.py BUILD/kvel [--threads 2] [--grids 1,0.5] [--motions 3]
  --grids: 1 is the 1 mm template (181 x 217 x 181), 0.5 the 0.5 mm one (301 x 370 x 316).
"""
import argparse
import os
import re
import resource
import subprocess
import sys
import tempfile
import time

import nibabel
import numpy as np
import scipy.ndimage

HERE = os.path.dirname(os.path.abspath(__file__))
TEMPLATE = "/usr/share/mricron/templates/ch2.nii.gz"
FINE = "/usr/share/mricron/templates/ch2better.nii.gz"  # 0.5 mm


def write_mha(path, data, spacing):
    """A MetaImage both programs read the same way: identity direction, offset 0."""
    header = ("ObjectType = Image\nNDims = 3\nBinaryData = True\nBinaryDataByteOrderMSB = False\n"
              "CompressedData = False\nTransformMatrix = 1 0 0 0 1 0 0 0 1\nOffset = 0 0 0\n"
              "ElementSpacing = %g %g %g\nDimSize = %d %d %d\nElementType = MET_FLOAT\n"
              "ElementDataFile = LOCAL\n" % ((spacing,) * 3 + data.shape))
    with open(path, "wb") as f:
        f.write(header.encode())
        f.write(np.ascontiguousarray(data.astype("<f4").transpose(2, 1, 0)).tobytes())


def rotation(axis, degrees):
    axis = np.asarray(axis, float) / np.linalg.norm(axis)
    a = np.radians(degrees)
    k = np.array([[0, -axis[2], axis[1]], [axis[2], 0, -axis[0]], [-axis[1], axis[0], 0]])
    return np.eye(3) + np.sin(a) * k + (1 - np.cos(a)) * k @ k


def moved_volume(data, affine, matrix, offset):
    """The volume M with M(T(p)) = data(p), T(p) = matrix p + offset, on the same grid."""
    a, b = affine[:3, :3], affine[:3, 3]
    inv_t = np.linalg.inv(matrix)
    # moving voxel o -> q -> p = T^-1(q) -> fixed voxel i
    m = np.linalg.inv(a) @ inv_t @ a
    off = np.linalg.inv(a) @ (inv_t @ (b - offset) - b)
    return scipy.ndimage.affine_transform(data, m, off, order=3, mode="constant", cval=0.0)


def t2_like(v, top):
    return (255 * np.clip(np.sin(np.pi * np.clip(v / top, 0, 1)), 0, 1) ** 0.8).astype(np.float32)


def euler_zxy(ax, ay, az, zyx=False):
    cx, sx, cy, sy, cz, sz = np.cos(ax), np.sin(ax), np.cos(ay), np.sin(ay), np.cos(az), np.sin(az)
    rx = np.array([[1, 0, 0], [0, cx, -sx], [0, sx, cx]])
    ry = np.array([[cy, 0, sy], [0, 1, 0], [-sy, 0, cy]])
    rz = np.array([[cz, -sz, 0], [sz, cz, 0], [0, 0, 1]])
    return rz @ ry @ rx if zyx else rz @ rx @ ry


def elastix_result(folder):
    text = open(os.path.join(folder, "TransformParameters.0.txt")).read()
    p = [float(x) for x in re.search(r"\(TransformParameters ([^)]*)\)", text).group(1).split()]
    c = np.array([float(x) for x in re.search(r"\(CenterOfRotationPoint ([^)]*)\)", text).group(1).split()])
    zyx = re.search(r'\(ComputeZYX "true"\)', text) is not None
    r = euler_zxy(*p[:3], zyx=zyx)
    return r, c + np.array(p[3:6]) - r @ c


def kvel_result(stdout):
    rows = re.findall(r"^  (\S+) (\S+) (\S+) (\S+)$", stdout, re.M)
    m = np.array([[float(x) for x in row] for row in rows[:3]])
    return m[:, :3], m[:, 3]


def errors(result, truth, points):
    (a, b), (ta, tb) = result, truth
    d = np.linalg.norm(points @ a.T + b - (points @ ta.T + tb), axis=1)
    return d.mean(), d.max()


def run(command, env=None):
    """Wall seconds, processor seconds (user + system) and standard output of one command."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    done = subprocess.run(command, capture_output=True, text=True, env=env)
    seconds = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    if done.returncode != 0:
        sys.exit("failed: %s\n%s%s" % (" ".join(command), done.stdout[-2000:], done.stderr[-2000:]))
    return seconds, cpu, done.stdout


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("kvel")
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--grids", default="1")
    parser.add_argument("--motions", type=int, default=3)
    args = parser.parse_args()
    grids = [("%s mm" % g, np.asarray(nibabel.load(TEMPLATE if g == "1" else FINE).dataobj, dtype=np.float32),
              float(g)) for g in args.grids.split(",")]
    motions = [((1, 0.3, 0.2), 15, (15, -8, 6)), ((0.2, 1, -0.4), -12, (-6, 14, -10)), ((0.3, -0.2, 1), 9, (10, 10, -15))]
    rng = np.random.default_rng(7)
    env = dict(os.environ, KVEL_THREADS=str(args.threads))
    print("threads %d; each row: elastix | kvel register, run one after the other" % args.threads)
    print("wall and processor (user + system) seconds; ratio: kvel / elastix processor time")
    print("%-6s %-3s %-15s %8s %8s %7s %7s | %8s %8s %7s %7s | %6s" %
          ("grid", "", "motion", "wall s", "cpu s", "mean mm", "max mm", "wall s", "cpu s", "mean mm", "max mm", "ratio"))
    with tempfile.TemporaryDirectory() as tmp:
        for grid_name, data, spacing in grids:
            aff = np.diag([spacing, spacing, spacing, 1.0])
            top = float(data.max())
            brain = np.argwhere(data > 0.25 * top)
            picked = brain[rng.choice(len(brain), 4000, replace=False)]
            points = picked * spacing
            for axis, degrees, shift in motions[:args.motions]:
                r = rotation(axis, degrees)
                moving = moved_volume(data, aff, r, np.array(shift, float))
                for metric in ("ms", "mi"):
                    fixed = data + rng.normal(0, 0.01 * top, data.shape).astype(np.float32)
                    mov = moving + rng.normal(0, 0.01 * top, data.shape).astype(np.float32)
                    if metric == "mi":
                        mov = t2_like(mov, top)
                    fpath, mpath = os.path.join(tmp, "fixed.mha"), os.path.join(tmp, "moving.mha")
                    write_mha(fpath, fixed, spacing)
                    write_mha(mpath, mov, spacing)
                    truth = (r, np.array(shift, float))
                    out = os.path.join(tmp, "elastix")
                    os.makedirs(out, exist_ok=True)
                    et, ec, _ = run(["elastix", "-f", fpath, "-m", mpath, "-p", os.path.join(HERE, "elastix_rigid.txt"),
                                 "-out", out, "-threads", str(args.threads)])
                    e_mean, e_max = errors(elastix_result(out), truth, points)
                    kt, kc, stdout = run([args.kvel, "register", fpath, mpath, os.path.join(tmp, "out.nii"),
                                      "--metric", metric], env=env)
                    k_mean, k_max = errors(kvel_result(stdout), truth, points)
                    motion = "%g deg %.1f mm" % (degrees, np.linalg.norm(shift))
                    print("%-6s %-3s %-15s %8.2f %8.2f %7.3f %7.3f | %8.2f %8.2f %7.3f %7.3f | %6.3f" %
                          (grid_name, metric, motion, et, ec, e_mean, e_max, kt, kc, k_mean, k_max, kc / ec), flush=True)


if __name__ == "__main__":
    main()
