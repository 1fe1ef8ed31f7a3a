"""TIFF and NIfTI files made by other programs, and their view of ours.

Run with Debian's /usr/bin/python3 (numpy, tifffile, nibabel, PIL):
  volume_fixtures.py write DIR   TIFF and NIfTI files of many kinds, each with
                                 NAME.expected (the elements x fastest, then y,
                                 z, t; channels interleaved; native byte order)
                                 and a line "NAME DTYPE X Y Z T C SX SY SZ ST
                                 PX PY PZ" in DIR/manifest.txt
  volume_fixtures.py check DIR   reads the files a manifest of that form names
                                 (written by the library) with tifffile or
                                 nibabel and prints one line per difference,
                                 then "checked N"
  volume_fixtures.py seeds DIR   the fuzz seed corpus: small files into
                                 DIR/tiff and DIR/nifti
"""
import io
import os
import struct
import sys

import nibabel as nib
import numpy as np
import tifffile
from PIL import Image

RNG = np.random.default_rng(7)


def values(shape, dtype):
    dtype = np.dtype(dtype)
    if dtype.kind == "f":
        return (RNG.standard_normal(shape) * 1000).astype(dtype)
    info = np.iinfo(dtype)
    return RNG.integers(info.min, info.max, size=shape, endpoint=True, dtype=dtype)


class Manifest:
    def __init__(self, folder):
        self.folder = folder
        self.lines = []

    def add(self, name, expected, dims, spacing=(1, 1, 1, 1), position=(0, 0, 0)):
        """expected: the elements in the library's order; dims: X Y Z T C."""
        np.ascontiguousarray(expected).tofile(os.path.join(self.folder, name + ".expected"))
        fields = [name, expected.dtype.str[1:]] + [str(d) for d in dims]
        fields += [repr(float(s)) for s in spacing] + [repr(float(p)) for p in position]
        self.lines.append(" ".join(fields))

    def save(self):
        with open(os.path.join(self.folder, "manifest.txt"), "w") as f:
            f.write("\n".join(self.lines) + "\n")


def tiff_fixtures(folder, m):
    def put(name, data, pages=1, spacing=(1, 1), **options):
        tifffile.imwrite(os.path.join(folder, name), data, **options)
        h, w = data.shape[-3:-1] if data.ndim - (pages > 1) == 3 else data.shape[-2:]
        c = data.shape[-1] if data.ndim - (pages > 1) == 3 else 1
        m.add(name, data, (w, h, pages, 1, c), (spacing[0], spacing[1], 1, 1))

    for dtype in ("u1", "i1", "u2", "i2", "u4", "i4", "f4", "f8"):
        put("gray_%s.tif" % dtype, values((5, 7), dtype), photometric="minisblack")
    put("rgb_u2_deflate.tif", values((9, 7, 3), "u2"), photometric="rgb", compression="zlib", predictor=True,
        resolution=(2, 4), resolutionunit="CENTIMETER", spacing=(5, 2.5))
    put("grey_alpha_u4.tif", values((6, 5, 2), "u4"), photometric="minisblack", planarconfig="contig",
        extrasamples=["unassalpha"])
    put("rgba_f4_tiles.tif", values((33, 20, 4), "f4"), photometric="rgb", planarconfig="contig", tile=(16, 16),
        extrasamples=["unassalpha"])
    put("tiles_i2_deflate.tif", values((40, 50), "i2"), photometric="minisblack", tile=(16, 32), compression="zlib")
    put("stack_u2_inch.tif", values((6, 9, 11), "u2"), pages=6, photometric="minisblack", resolution=(300, 300),
        resolutionunit="INCH", spacing=(25.4 / 300, 25.4 / 300))
    put("stack_f4_tiles.tif", values((3, 20, 18), "f4"), pages=3, photometric="minisblack", tile=(16, 16),
        compression="zlib")
    put("big_endian_i4.tif", values((8, 6), "i4"), photometric="minisblack", byteorder=">")
    put("bigtiff_u2.tif", values((4, 5), "u2"), photometric="minisblack", bigtiff=True)
    put("no_unit_u1.tif", values((3, 4), "u1"), photometric="minisblack", resolution=(2, 2), resolutionunit="NONE")
    put("strips_i1.tif", values((17, 6), "i1"), photometric="minisblack", rowsperstrip=4)
    # Planes one after another in the file, the library's channels interleaved.
    planar = values((3, 10, 12), "u1")
    tifffile.imwrite(os.path.join(folder, "planar_rgb.tif"), planar, photometric="rgb", planarconfig="separate",
                     rowsperstrip=3)
    m.add("planar_rgb.tif", np.moveaxis(planar, 0, -1), (12, 10, 1, 1, 3))
    rgb = values((11, 13, 3), "u1")
    Image.fromarray(rgb).save(os.path.join(folder, "lzw_rgb.tif"), compression="tiff_lzw")
    m.add("lzw_rgb.tif", rgb, (13, 11, 1, 1, 3))
    grey = values((9, 10), "u1")
    Image.fromarray(grey).save(os.path.join(folder, "packbits_grey.tif"), compression="packbits")
    m.add("packbits_grey.tif", grey, (10, 9, 1, 1, 1))
    # Pictures as every other format gives them: palettes applied, white 0 turned to black 0.
    indices = Image.fromarray(values((6, 8), "u1"), "P")
    indices.putpalette(values(768, "u1").tobytes())
    indices.save(os.path.join(folder, "palette.tif"))
    m.add("palette.tif", np.asarray(indices.convert("RGB")), (8, 6, 1, 1, 3))
    white = values((5, 4), "u2")
    tifffile.imwrite(os.path.join(folder, "miniswhite_u2.tif"), white, photometric="miniswhite")
    m.add("miniswhite_u2.tif", 65535 - white, (4, 5, 1, 1, 1))
    # YCbCr JPEG inside TIFF, lossy: PIL's own decode is the reference.
    Image.fromarray(values((24, 32, 3), "u1")).save(os.path.join(folder, "jpeg_ycbcr.tif"), compression="jpeg")
    m.add("jpeg_ycbcr.tif", np.asarray(Image.open(os.path.join(folder, "jpeg_ycbcr.tif")).convert("RGB")),
          (32, 24, 1, 1, 3))
    # Pages of other shapes: the first page alone.
    first = values((4, 6), "f4")
    with tifffile.TiffWriter(os.path.join(folder, "mixed_pages.tif")) as tif:
        tif.write(first, photometric="minisblack")
        tif.write(values((3, 3), "f4"), photometric="minisblack")
    m.add("mixed_pages.tif", first, (6, 4, 1, 1, 1))


def ras_lps(point):
    """NIfTI's RAS and the library's LPS differ in the signs of x and y (both ways)."""
    return [-point[0], -point[1], point[2]]


def nifti_fixtures(folder, m):
    def put(name, data, zooms, offset, kind=nib.Nifti1Image, header=None, sform=True):
        affine = np.diag(list(zooms[:3]) + [1.0])
        affine[:3, 3] = offset
        if header is not None:
            header.set_data_dtype(data.dtype)  # a header given keeps its own type otherwise
        img = kind(data, affine, header=header)
        if not sform:
            img.set_sform(None, code=0)
            img.set_qform(affine, code=1)
        img.header.set_zooms(zooms[: data.ndim])
        img.to_filename(os.path.join(folder, name))
        dims = list(data.shape) + [1] * (4 - min(data.ndim, 4))
        m.add(name, data.reshape(-1, order="F"), dims[:4] + [1], (list(zooms) + [1] * 4)[:4], ras_lps(offset))

    put("n1_i2_3d.nii", values((4, 5, 6), "i2"), (1.5, 2, 2.5), (10, -20, 30))
    put("n1_u1.nii.gz", values((7, 3, 2), "u1"), (1, 1, 1), (0, 0, 0))
    put("n2_f4_4d.nii.gz", values((4, 3, 2, 5), "f4"), (0.5, 0.75, 1.25, 2), (-1, -2, -3), kind=nib.Nifti2Image)
    put("n2_f8.nii", values((3, 3, 3), "f8"), (1, 2, 3), (4, 5, 6), kind=nib.Nifti2Image)
    put("n1_u2_4d.nii", values((5, 4, 3, 2), "u2"), (1, 1, 1, 3), (0, 0, 0))
    put("n1_i1_qform.nii", values((3, 4, 5), "i1"), (2, 2, 2), (7, 8, 9), sform=False)
    put("n1_u4.nii.gz", values((6, 2, 2), "u4"), (1, 1, 1), (0, 0, 0))
    put("n1_i4_big_endian.nii", values((4, 4, 4), "i4"), (1, 1, 1), (1, 1, 1), header=nib.Nifti1Header(endianness=">"))
    put("n1_5d_f4.nii.gz", values((3, 4, 2, 2, 1), "f4"), (1, 2, 3, 4, 1), (0, 0, 0))
    put("pair_i2.hdr", values((5, 4, 3), "i2"), (1, 1, 2), (3, 2, 1), kind=nib.Nifti1Pair)
    # Scaled integers: the header's slope and intercept set by hand, so nibabel
    # does not choose its own.
    raw = values((4, 3, 2), "i2")
    nib.Nifti1Image(raw, np.eye(4)).to_filename(os.path.join(folder, "n1_scaled.nii"))
    with open(os.path.join(folder, "n1_scaled.nii"), "r+b") as f:
        f.seek(112)
        f.write(struct.pack("<ff", 0.5, -3))
    m.add("n1_scaled.nii", (raw.astype(np.float64) * 0.5 - 3).astype("f4").reshape(-1, order="F"), (4, 3, 2, 1, 1))


def write(folder):
    m = Manifest(folder)
    tiff_fixtures(folder, m)
    nifti_fixtures(folder, m)
    m.save()


def check(folder):
    """Reads the library's files as the other programs see them."""
    problems, checked = [], 0
    for line in open(os.path.join(folder, "manifest.txt")):
        f = line.split()
        name, dtype = f[0], np.dtype(f[1])
        x, y, z, t, c = (int(v) for v in f[2:7])
        spacing = [float(v) for v in f[7:11]]
        position = [float(v) for v in f[11:14]]
        expected = np.fromfile(os.path.join(folder, name + ".expected"), dtype)
        path = os.path.join(folder, name)

        def differ(what, theirs, ours):
            problems.append("%s: %s is %s, the library wrote %s" % (name, what, theirs, ours))

        if name.endswith((".tif", ".tiff")):
            with tifffile.TiffFile(path) as tif:
                data = np.stack([p.asarray() for p in tif.pages])
                page = tif.pages[0]
                unit = page.tags["ResolutionUnit"].value if "ResolutionUnit" in page.tags else 1
                scale = {2: 25.4, 3: 10.0}.get(int(unit))
                theirs = [scale / r for r in page.resolution] if scale else [1, 1]
                if not np.allclose(theirs, spacing[:2], rtol=1e-5):
                    differ("the spacing", theirs, spacing[:2])
                if len(tif.pages) != z:
                    differ("the number of pages", len(tif.pages), z)
            shape = (z, y, x, c)
        else:
            img = nib.load(path)
            data = np.asanyarray(img.dataobj)
            if data.dtype.names:  # RGB24 / RGBA32: one record per voxel, channels first in the flat order
                data = np.moveaxis(data.view((np.uint8, len(data.dtype.names))), -1, 0)
            # Fortran order puts x fastest, as the library stores it.
            data = data.reshape(-1, order="F")
            zooms = list(img.header.get_zooms()) + [1.0] * 4
            if not np.allclose(zooms[:4], spacing, rtol=1e-6):
                differ("the spacing", zooms[:4], spacing)
            if not np.allclose(img.affine[:3, 3], ras_lps(position)):
                differ("the position", list(img.affine[:3, 3]), ras_lps(position))
            if img.header.get("sizeof_hdr") != (540 if max(x, y, z, t) > 32767 else 348):
                differ("the header size", int(img.header.get("sizeof_hdr")), "348 or 540 as the dimensions need")
            shape = (t, z, y, x, c)
        if data.dtype != dtype:
            differ("the element type", data.dtype, dtype)
        elif data.size != expected.size or not np.array_equal(data.reshape(-1), expected, equal_nan=True):
            differ("the elements (shape %s)" % (data.shape,), "different", "shape %s" % (shape,))
        checked += 1
    print("\n".join(problems + ["checked %d" % checked]))


def seeds(folder):
    """Small files of every kind the readers take; the fuzzer mutates them."""
    t, n = os.path.join(folder, "tiff"), os.path.join(folder, "nifti")
    os.makedirs(t, exist_ok=True)
    os.makedirs(n, exist_ok=True)
    small = values((3, 4), "u2")
    tifffile.imwrite(os.path.join(t, "seed_u2.tif"), small, photometric="minisblack")
    tifffile.imwrite(os.path.join(t, "seed_rgb_deflate.tif"), values((4, 5, 3), "u1"), photometric="rgb",
                     compression="zlib", predictor=True, resolution=(3, 3), resolutionunit="CENTIMETER")
    tifffile.imwrite(os.path.join(t, "seed_tiles_f4.tif"), values((20, 17), "f4"), tile=(16, 16),
                     photometric="minisblack")
    tifffile.imwrite(os.path.join(t, "seed_stack_i2.tif"), values((3, 3, 4), "i2"), photometric="minisblack")
    tifffile.imwrite(os.path.join(t, "seed_planar.tif"), values((3, 4, 4), "u1"), photometric="rgb",
                     planarconfig="separate")
    tifffile.imwrite(os.path.join(t, "seed_big_endian.tif"), values((6, 5), "i1"), byteorder=">",
                     photometric="minisblack", rowsperstrip=2)
    Image.fromarray(values((5, 6), "u1")).save(os.path.join(t, "seed_packbits.tif"), compression="packbits")
    tifffile.imwrite(os.path.join(t, "seed_bigtiff.tif"), small, bigtiff=True, photometric="minisblack")
    Image.fromarray(values((4, 6, 3), "u1")).save(os.path.join(t, "seed_lzw.tif"), compression="tiff_lzw")
    Image.fromarray(values((4, 6), "u1")).convert("P").save(os.path.join(t, "seed_palette.tif"))
    affine = np.diag([2.0, 3.0, 4.0, 1.0])
    nib.Nifti1Image(values((3, 2, 2), "i2"), affine).to_filename(os.path.join(n, "seed_n1.nii"))
    nib.Nifti1Image(values((3, 2, 2, 2), "f4"), affine).to_filename(os.path.join(n, "seed_n1_4d.nii.gz"))
    nib.Nifti2Image(values((2, 2, 3), "f8"), affine).to_filename(os.path.join(n, "seed_n2.nii"))
    nib.Nifti2Image(values((2, 3, 2, 1, 1), "u1"), affine).to_filename(os.path.join(n, "seed_n2_5d.nii.gz"))
    header = nib.Nifti1Header(endianness=">")
    header.set_data_dtype("u2")
    nib.Nifti1Image(values((2, 2, 2), "u2"), affine, header=header).to_filename(os.path.join(n, "seed_big_endian.nii"))
    buffer = io.BytesIO()
    nib.Nifti1Image(values((2, 2, 2), "i4"), affine).to_file_map({"image": nib.FileHolder(fileobj=buffer)})
    data = bytearray(buffer.getvalue())
    data[112:120] = struct.pack("<ff", 2.0, 1.0)
    open(os.path.join(n, "seed_scaled.nii"), "wb").write(data)


if __name__ == "__main__":
    {"write": write, "check": check, "seeds": seeds}[sys.argv[1]](sys.argv[2])
