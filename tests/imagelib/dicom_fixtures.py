"""DICOM series written with pydicom, and what pydicom reads in them.

Run with Debian's /usr/bin/python3 (pydicom, numpy):
  dicom_fixtures.py write DIR   one folder (or file) per case under DIR and a
                                line "CASE TYPE|refused" in DIR/manifest.txt;
                                for every case read, CASE.probes holds one line
                                "X Y Z VALUE" per pixel pydicom reads: its
                                physical point (LPS) and its rescaled value
  dicom_fixtures.py seeds DIR   small files for the fuzz seed corpus
  dicom_fixtures.py ct DIR      a 512 x 512 x 400 CT series (12 of 16 bits,
                                intercept -1024) for the benchmark
  dicom_fixtures.py samples DIR one line "NAME read|unread" in DIR/manifest.txt
                                per pydicom sample file; for each one pydicom
                                decodes, NAME.values holds its rescaled values
                                as little-endian doubles, frame by frame, row
                                by row, samples of a pixel together
"""
import os
import sys

import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileDataset, FileMetaDataset
from pydicom.uid import (CTImageStorage, ExplicitVRBigEndian, ExplicitVRLittleEndian, ImplicitVRLittleEndian,
                         RLELossless, generate_uid)

RNG = np.random.default_rng(22)
AXIAL = [1, 0, 0, 0, 1, 0]
SAGITTAL = [0, 1, 0, 0, 0, -1]


def oblique():
    a, b = np.radians(20), np.radians(-35)
    rot = np.array([[np.cos(a), -np.sin(a), 0], [np.sin(a), np.cos(a), 0], [0, 0, 1]]) @ \
        np.array([[1, 0, 0], [0, np.cos(b), -np.sin(b)], [0, np.sin(b), np.cos(b)]])
    return list(rot[:, 0]) + list(rot[:, 1])


def dataset(pixels, position, orientation, series, sop_class=CTImageStorage, syntax=ExplicitVRLittleEndian,
            spacing=(0.7, 0.9), slope=None, intercept=None, signed=False, bits_stored=None):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = sop_class
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = syntax
    ds = FileDataset(None, {}, file_meta=meta, preamble=b"\0" * 128)
    ds.is_little_endian = syntax != ExplicitVRBigEndian
    ds.is_implicit_VR = syntax == ImplicitVRLittleEndian
    ds.SOPClassUID = sop_class
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.SeriesInstanceUID = series
    ds.SeriesDescription = "test " + series[-6:]
    ds.Modality = "CT"
    if pixels is None:
        return ds
    ds.ImagePositionPatient = [float(v) for v in position]
    ds.ImageOrientationPatient = [float(v) for v in orientation]
    ds.PixelSpacing = list(spacing)
    ds.SliceThickness = 2.5
    ds.Rows, ds.Columns = pixels.shape[:2]
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = "MONOCHROME2"
    ds.BitsAllocated = pixels.dtype.itemsize * 8
    ds.BitsStored = bits_stored or ds.BitsAllocated
    ds.HighBit = ds.BitsStored - 1
    ds.PixelRepresentation = 1 if signed else 0
    if slope is not None:
        ds.RescaleSlope, ds.RescaleIntercept = slope, intercept
    data = pixels.astype(pixels.dtype.newbyteorder(">" if syntax == ExplicitVRBigEndian else "<"))
    ds.PixelData = data.tobytes()
    if syntax == RLELossless:
        ds.file_meta.TransferSyntaxUID = ExplicitVRLittleEndian
        ds.compress(RLELossless)
    return ds


def stack(count, orientation, start=(-20.0, 30.0, 15.0), step=2.5, tilt=0.0, steps=None):
    o = np.array(orientation, float)
    normal = np.cross(o[:3], o[3:])
    along = np.cumsum([0.0] + list(steps)) if steps is not None else np.arange(count) * step
    return [np.array(start) + a * normal + i * tilt * o[3:] for i, a in enumerate(along)]


def series(folder, count, orientation, kind="u2", shape=(20, 24), shuffle=True, **options):
    os.makedirs(folder, exist_ok=True)
    uid = generate_uid()
    slices = []
    positions = options.pop("positions", None) or stack(count, orientation, **options.pop("placement", {}))
    for p in positions:
        high = 4095 if kind == "u2" else 200
        pixels = RNG.integers(0 if kind != "i2" else -2000, high, size=shape).astype(kind)
        slices.append(dataset(pixels, p, orientation, uid, **options))
    order = RNG.permutation(count) if shuffle else np.arange(count)
    for n, i in enumerate(order):
        slices[i].InstanceNumber = int(n + 1)  # unrelated to position
        name = "IM%04d" % RNG.integers(0, 9999) + "_%d" % n
        slices[i].save_as(os.path.join(folder, name), write_like_original=False)
    return uid


def probes(paths, out):
    """Every pixel pydicom reads: its physical point and rescaled value."""
    with open(out, "w") as f:
        for path in paths:
            ds = pydicom.dcmread(path)
            values = pydicom.pixel_data_handlers.util.apply_modality_lut(ds.pixel_array, ds)
            frames = values if values.ndim == 3 else values[None]
            if "PerFrameFunctionalGroupsSequence" in ds:
                shared = ds.SharedFunctionalGroupsSequence[0]
                o = np.array(shared.PlaneOrientationSequence[0].ImageOrientationPatient, float)
                dy, dx = (float(v) for v in shared.PixelMeasuresSequence[0].PixelSpacing)
                positions = [np.array(g.PlanePositionSequence[0].ImagePositionPatient, float)
                             for g in ds.PerFrameFunctionalGroupsSequence]
            else:
                o = np.array(ds.ImageOrientationPatient, float)
                dy, dx = (float(v) for v in ds.PixelSpacing)
                positions = [np.array(ds.ImagePositionPatient, float)] * len(frames)
            for frame, origin in zip(frames, positions):
                for r in range(frame.shape[0]):
                    for c in range(frame.shape[1]):
                        p = origin + c * dx * o[:3] + r * dy * o[3:]
                        f.write("%.6f %.6f %.6f %r\n" % (p[0], p[1], p[2], float(frame[r, c])))


def files(folder, uid=None):
    out = []
    for root, _, names in os.walk(folder):
        for n in names:
            p = os.path.join(root, n)
            if uid is None or pydicom.dcmread(p, stop_before_pixels=True).SeriesInstanceUID == uid:
                out.append(p)
    return sorted(out)


def multiframe(path, count=5):
    uid = generate_uid()
    positions = stack(count, SAGITTAL)
    order = RNG.permutation(count)
    pixels = RNG.integers(0, 3000, size=(count, 16, 12)).astype("u2")
    ds = dataset(pixels[0], positions[0], SAGITTAL, uid, sop_class="1.2.840.10008.5.1.4.1.1.2.1")
    ds.NumberOfFrames = count
    del ds.ImagePositionPatient, ds.ImageOrientationPatient, ds.PixelSpacing
    shared = Dataset()
    shared.PlaneOrientationSequence = [Dataset()]
    shared.PlaneOrientationSequence[0].ImageOrientationPatient = SAGITTAL
    shared.PixelMeasuresSequence = [Dataset()]
    shared.PixelMeasuresSequence[0].PixelSpacing = [0.6, 0.8]
    ds.SharedFunctionalGroupsSequence = [shared]
    groups = []
    for i in order:
        g = Dataset()
        g.PlanePositionSequence = [Dataset()]
        g.PlanePositionSequence[0].ImagePositionPatient = [float(v) for v in positions[i]]
        groups.append(g)
    ds.PerFrameFunctionalGroupsSequence = groups
    ds.PixelData = pixels[order].tobytes()
    ds.save_as(path, write_like_original=False)


def write(top):
    manifest = []

    def case(name, kind, paths=None):
        manifest.append("%s %s" % (name, kind))
        if paths:
            probes(paths, os.path.join(top, name + ".probes"))

    d = os.path.join(top, "axial")
    uid = series(d, 8, AXIAL, slope=1, intercept=-1024, bits_stored=12)
    series(d, 3, AXIAL, shape=(8, 8))  # a second, smaller series beside it
    case("axial", "i2", files(d, uid))
    d = os.path.join(top, "oblique")
    case("oblique", "u2", files(d, series(d, 6, oblique())))
    d = os.path.join(top, "sagittal")
    case("sagittal", "i2", files(d, series(d, 5, SAGITTAL, kind="i2", signed=True)))
    d = os.path.join(top, "rle")
    case("rle", "u2", files(d, series(d, 4, AXIAL, syntax=RLELossless)))
    d = os.path.join(top, "bigendian")
    case("bigendian", "i2", files(d, series(d, 4, AXIAL, kind="i2", signed=True, syntax=ExplicitVRBigEndian)))
    d = os.path.join(top, "implicit")
    case("implicit", "u1", files(d, series(d, 3, oblique(), kind="u1", syntax=ImplicitVRLittleEndian)))
    d = os.path.join(top, "scaled")
    case("scaled", "f4", files(d, series(d, 3, AXIAL, slope=0.25, intercept=-10)))
    d = os.path.join(top, "single")
    case("single", "u2", files(d, series(d, 1, SAGITTAL)))
    path = os.path.join(top, "multiframe.dcm")
    multiframe(path)
    case("multiframe.dcm", "u2", [path])
    # Refused, each for its reason.
    series(os.path.join(top, "tilt"), 4, AXIAL, placement={"tilt": 0.8})
    series(os.path.join(top, "uneven"), 4, AXIAL, placement={"steps": [2.0, 2.0, 3.0]})
    series(os.path.join(top, "stacked"), 4, AXIAL, placement={"steps": [2.0, 0.0, 2.0]})
    d = os.path.join(top, "mixed")
    uid = series(d, 3, AXIAL)
    extra = dataset(np.zeros((20, 24), "u2"), (0, 0, 50), oblique(), uid)
    extra.save_as(os.path.join(d, "tilted_one"), write_like_original=False)
    d = os.path.join(top, "sizes")
    uid = series(d, 3, AXIAL)
    dataset(np.zeros((10, 24), "u2"), (-20, 30, 30), AXIAL, uid).save_as(os.path.join(d, "small"),
                                                                         write_like_original=False)
    report = dataset(None, None, None, generate_uid(), sop_class="1.2.840.10008.5.1.4.1.1.88.11")
    report.save_as(os.path.join(top, "report.dcm"), write_like_original=False)
    whole = open(files(os.path.join(top, "oblique"))[0], "rb").read()
    open(os.path.join(top, "truncated.dcm"), "wb").write(whole[:len(whole) - 100])
    os.makedirs(os.path.join(top, "loop", "inner"), exist_ok=True)
    os.symlink("..", os.path.join(top, "loop", "inner", "back"))
    series(os.path.join(top, "loop"), 2, AXIAL)
    for name in ("tilt", "uneven", "stacked", "mixed", "sizes", "report.dcm", "truncated.dcm"):
        case(name, "refused")
    case("loop", "u2", files(os.path.join(top, "loop")))
    with open(os.path.join(top, "manifest.txt"), "w") as f:
        f.write("\n".join(manifest) + "\n")


def seeds(folder):
    os.makedirs(folder, exist_ok=True)
    uid = generate_uid()
    small = RNG.integers(0, 4000, size=(4, 5)).astype("u2")
    dataset(small, (1, 2, 3), oblique(), uid, slope=1, intercept=-1024).save_as(
        os.path.join(folder, "ct_rescaled.dcm"), write_like_original=False)
    dataset(small, (1, 2, 3), AXIAL, uid, syntax=RLELossless).save_as(os.path.join(folder, "rle.dcm"),
                                                                      write_like_original=False)
    dataset(small.astype("i2"), (1, 2, 3), AXIAL, uid, signed=True, syntax=ExplicitVRBigEndian).save_as(
        os.path.join(folder, "big_endian.dcm"), write_like_original=False)
    dataset(small.astype("u1"), (1, 2, 3), AXIAL, uid, syntax=ImplicitVRLittleEndian).save_as(
        os.path.join(folder, "implicit.dcm"), write_like_original=False)
    multiframe(os.path.join(folder, "multiframe.dcm"), 3)


def ct(folder):
    series(folder, 400, AXIAL, shape=(512, 512), slope=1, intercept=-1024, bits_stored=12)


def samples(top):
    folder = os.path.join(os.path.dirname(pydicom.__file__), "data", "test_files")
    manifest = []
    for name in sorted(n for n in os.listdir(folder) if n.endswith(".dcm")):
        try:
            ds = pydicom.dcmread(os.path.join(folder, name))
            values = pydicom.pixel_data_handlers.util.apply_modality_lut(ds.pixel_array, ds)
        except Exception:  # no pixels, or none pydicom decodes here
            manifest.append(name + " unread")
            continue
        values.astype("<f8").tofile(os.path.join(top, name + ".values"))
        manifest.append(name + " read")
    with open(os.path.join(top, "manifest.txt"), "w") as f:
        f.write("\n".join(manifest) + "\n")


if __name__ == "__main__":
    {"write": write, "seeds": seeds, "ct": ct, "samples": samples}[sys.argv[1]](sys.argv[2])
