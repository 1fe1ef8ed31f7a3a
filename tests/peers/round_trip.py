"""Converts real volumes among NIfTI, MetaImage and NRRD with the kvel tool and
checks that every probe voxel keeps its value at its physical point: as nibabel
places the voxels of NIfTI files, as ITK (itk_probe) places those of MetaImage
and NRRD files. DICOM series pydicom writes are converted too, their voxels
placed as ITK's series reader has them; dcm2niix's NIfTI of each series (when
Debian's dcm2niix is installed) must hold the same values at the same points.

usage: /usr/bin/python3 round_trip.py KVEL_TOOL ITK_PROBE
Prints one line per conversion that moved a voxel and exits 1 if any did
(77, skipped, without nibabel)."""
import os
import gzip
import shutil
import subprocess
import sys
import tempfile

try:
    import nibabel as nib
    import numpy as np
except ImportError:
    print("needs Debian's python3-nibabel and python3-numpy")
    sys.exit(77)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "imagelib"))
try:
    import dicom_fixtures as dicom
except ImportError:
    dicom = None  # no pydicom: the DICOM series are left out

KVEL, PROBE = sys.argv[1:3]
DCM2NIIX = shutil.which("dcm2niix")
SCRATCH = None
TEMPLATES = "/usr/share/mricron/templates"
NIBABEL_DATA = os.path.join(os.path.dirname(nib.__file__), "tests", "data")


def lps(ras):
    return np.array([-ras[0], -ras[1], ras[2]])


def rotation(axis, angle):
    c, s = np.cos(angle), np.sin(angle)
    m = np.eye(3)
    a, b = [i for i in range(3) if i != axis]
    m[a, a], m[a, b], m[b, a], m[b, b] = c, -s, s, c
    return m


def written_inputs():
    """Files nibabel writes: the placements real scanners and tools leave."""
    rng = np.random.default_rng(7)
    volume = rng.integers(-500, 3000, (23, 19, 11)).astype(np.int16)
    oblique = np.eye(4)
    oblique[:3, :3] = rotation(0, 0.4) @ rotation(2, -0.25) @ np.diag([1.1, 0.9, 2.5])
    oblique[:3, 3] = [-40.5, 12.25, 60]
    flipped = np.diag([-1.5, 1.25, 2, 1.0])
    flipped[:3, 3] = [30, -50, -20]
    files = {}

    def save(name, image):
        files[name] = os.path.join(SCRATCH, name)
        nib.save(image, files[name])

    save("las.nii.gz", nib.Nifti1Image(volume, flipped))
    sform_only = nib.Nifti1Image(volume, oblique)
    sform_only.set_qform(None, code=0)
    save("sform_only.nii", sform_only)
    # The sform wins where both are set (nibabel's and the standard's order).
    disagree = nib.Nifti1Image(volume, oblique)
    disagree.set_qform(flipped, code=1)
    save("forms_disagree.nii.gz", disagree)
    left_handed = oblique.copy()
    left_handed[:3, 2] *= -1
    save("oblique_qfac.nii", nib.Nifti1Image(volume.astype(np.float32), left_handed))
    vectors = rng.normal(size=(9, 8, 7, 1, 3)).astype(np.float32)
    field = nib.Nifti1Image(vectors, oblique)
    field.header.set_intent("vector")
    save("vectors.nii.gz", field)
    return files


def nrrd_spellings(files):
    """The same voxels and placement as NIfTI inputs, in NRRD as other writers spell it:
    other spaces, detached data, big-endian, a vector axis. Returns (spelling, original) pairs."""
    pairs = []

    def write(name, original, space, flips, fields, data, gzipped=False, detached=False):
        image = nib.load(files[original])
        affine = image.affine.copy()
        affine[:3] *= np.array(flips)[:, None]  # RAS to the named space
        axes = data.ndim - 3
        directions = ["none"] * axes + ["(%r,%r,%r)" % tuple(affine[:3, i]) for i in range(3)]
        sizes = " ".join(str(n) for n in data.shape[::-1])
        header = ["NRRD0005", "# written by hand", "dimension: %d" % data.ndim, "sizes: " + sizes,
                  "space: " + space, "space directions: " + " ".join(directions),
                  "space origin: (%r,%r,%r)" % tuple(affine[:3, 3]), "encoding: " + ("gzip" if gzipped else "raw")]
        body = gzip.compress(data.tobytes()) if gzipped else data.tobytes()
        path = os.path.join(SCRATCH, name)
        if detached:
            header.append("data file: " + name + ".data")
            with open(path + ".data", "wb") as f:
                f.write(body)
            body = b""
        with open(path, "wb") as f:
            f.write(("\n".join(header + fields) + "\n\n").encode() + body)
        pairs.append((path, files[original]))

    # NRRD's fastest axis comes first, as in NIfTI; numpy's C order is the reverse.
    volume = np.asanyarray(nib.load(files["las.nii.gz"]).dataobj).transpose()
    write("ras.nhdr", "las.nii.gz", "right-anterior-superior", (1, 1, 1),
          ["type: signed short int", "endian: big", "units: mm mm mm"], volume.astype(">i2"), detached=True)
    volume = np.asanyarray(nib.load(files["forms_disagree.nii.gz"]).dataobj).transpose()
    write("lps.nrrd", "forms_disagree.nii.gz", "LPS", (-1, -1, 1), ["type: short", "endian: little", "key:=value"],
          volume.astype("<i2"), gzipped=True)
    field = np.asanyarray(nib.load(files["vectors.nii.gz"]).dataobj)[:, :, :, 0, :]
    write("vectors.nrrd", "vectors.nii.gz", "left-anterior-superior", (-1, 1, 1),
          ["type: float", "endian: little", "kinds: vector domain domain domain"],
          np.moveaxis(field, -1, 0).transpose().astype("<f4"), gzipped=True)
    return pairs


def real_inputs():
    names = [os.path.join(TEMPLATES, n) for n in ("ch2.nii.gz", "jhu189.nii.gz", "natbrainlab.nii.gz")]
    names += [os.path.join(NIBABEL_DATA, n) for n in ("example4d.nii.gz", "anatomical.nii", "example_nifti2.nii.gz")]
    return {os.path.basename(n): n for n in names if os.path.exists(n)}


def is_nifti(path):
    return path.endswith((".nii", ".nii.gz"))


def nifti_voxels(path):
    """The first volume's voxels (x, y, z[, component]) and their LPS points, as nibabel has them."""
    image = nib.load(path)
    data = np.asanyarray(image.dataobj)
    data = data.reshape(data.shape[:3] + (-1,))[..., 0] if data.ndim == 4 else data
    if data.ndim == 5:
        data = data[:, :, :, 0, :]
    return image.affine, data


def probe_voxels(shape, count=40):
    rng = np.random.default_rng(sum(shape))
    corners = [[(s - 1) * bit for s, bit in zip(shape[:3], (i & 1, i >> 1 & 1, i >> 2 & 1))] for i in range(8)]
    inside = rng.integers(0, shape[:3], (count, 3)).tolist()
    return corners + inside


def probe(path, points=(), series=None):
    """itk_probe's output: the grid's lines (origin, spacing, direction, size) and one line per point."""
    args = [PROBE] + (["--series", series] if series else []) + [path] + ["%.17g" % v for p in points for v in p]
    lines = subprocess.run(args, check=True, capture_output=True, text=True).stdout.splitlines()
    return lines[:4], lines[4:]


def values_at(path, points, series=None):
    """The values each format's judge finds at LPS points (None: outside the grid)."""
    if is_nifti(path):
        affine, data = nifti_voxels(path)
        inverse = np.linalg.inv(affine)
        found = []
        for p in points:
            ijk = inverse[:3, :3] @ lps(p) + inverse[:3, 3]
            index = np.round(ijk).astype(int)
            inside = np.all(np.abs(ijk - index) < 1e-3) and np.all(index >= 0) and np.all(index < data.shape[:3])
            found.append(np.atleast_1d(data[tuple(index)]).astype(float) if inside else None)
        return found
    lines = probe(path, points, series)[1]
    return [None if line == "outside" else np.array(line.split(), dtype=float) for line in lines]


def nifti_reference(path):
    """Probe voxels of a NIfTI file: (voxels, their LPS points, their values), as nibabel has them."""
    affine, data = nifti_voxels(path)
    voxels = probe_voxels(data.shape)
    points = [lps(affine[:3, :3] @ v + affine[:3, 3]) for v in voxels]
    return voxels, points, [np.atleast_1d(data[tuple(v)]).astype(float) for v in voxels]


def series_reference(folder, series):
    """Probe voxels of a DICOM series as ITK's series reader places them."""
    grid = [np.array(line.split()[1:], dtype=float) for line in probe(folder, series=series)[0]]
    origin, spacing, direction, size = grid[0], grid[1], grid[2].reshape(3, 3), grid[3].astype(int)
    voxels = probe_voxels(tuple(size))
    points = [origin + direction @ (spacing * v) for v in voxels]
    return voxels, points, values_at(folder, points, series)


def moved(reference, output):
    """The first probe voxel of the reference that the output does not hold at its point, or None."""
    voxels, points, wanted = reference
    for voxel, want, got in zip(voxels, wanted, values_at(output, points)):
        if got is None or got.shape != want.shape or not np.allclose(got, want, rtol=1e-6, atol=1e-6):
            return "voxel %s holds %s there, not %s" % (voxel, got, want)
    return None


# Each conversion: (from, to) as endings; "" is the original NIfTI file.
CONVERSIONS = [("", ".mha"), ("", ".mhd"), ("", ".nrrd"), ("", ".nii.gz"),
               (".mha", ".mha.nii"), (".mhd", ".mhd.nii"), (".nrrd", ".nrrd.nii"), (".nii.gz", ".nii.gz.nii")]


# What each DICOM series goes through: conversions, and an operation that
# keeps every voxel where it is (blocks of one voxel).
SERIES_COMMANDS = [(("convert",), ".nii.gz"), (("convert",), ".mha"), (("convert",), ".nrrd"),
                   (("downsample", "1", "1", "1", "1"), ".nii.gz")]


def dicom_series():
    """Folders of series pydicom writes, file names unrelated to position: (name, folder, UID to pick or None)."""
    if dicom is None:
        return []
    cases = [("axial", 8, dicom.AXIAL, {"slope": 1, "intercept": -1024, "bits_stored": 12}),
             ("oblique", 6, dicom.oblique(), {"kind": "i2", "signed": True, "slope": 0.5, "intercept": 3}),
             ("sagittal", 5, dicom.SAGITTAL, {"kind": "i2", "signed": True}),
             ("rle", 4, dicom.AXIAL, {"syntax": dicom.RLELossless})]
    found = []
    for name, count, orientation, options in cases:
        folder = os.path.join(SCRATCH, "dicom_" + name)
        dicom.series(folder, count, orientation, **options)
        found.append((name, folder, None))
    # A second, smaller series beside the axial one, read when picked. Its
    # instances are numbered in position order: dcm2niix cannot reorder three.
    smaller = dicom.series(os.path.join(SCRATCH, "dicom_axial"), 3, dicom.SAGITTAL, shape=(8, 6), shuffle=False)
    found.append(("axial_picked", os.path.join(SCRATCH, "dicom_axial"), smaller))
    return found


def dcm2niix_output(folder, series, name):
    """The NIfTI file dcm2niix writes for that series (the largest when None), or None without dcm2niix."""
    if not DCM2NIIX:
        return None
    out = os.path.join(SCRATCH, "dcm2niix_" + name)
    os.makedirs(out)
    subprocess.run([DCM2NIIX, "-b", "n", "-z", "n", "-f", "%j", "-o", out, folder], check=True, capture_output=True)
    written = {f[:-len(".nii")]: os.path.join(out, f) for f in os.listdir(out) if f.endswith(".nii")}
    if series is None:
        series = max(written, key=lambda uid: nib.load(written[uid]).shape[2])
    return written[series]


def main():
    inputs = written_inputs()
    inputs.update(real_inputs())
    problems = []

    def check(reference, source, target):
        why = moved(reference, target)
        if why:
            problems.append("%s -> %s: %s" % (os.path.basename(source), os.path.basename(target), why))

    def convert(source, target, series=None, command=("convert",)):
        subprocess.run([KVEL] + list(command) + (["--series", series] if series else []) + [source, target],
                       check=True, capture_output=True)

    for name, original in sorted(inputs.items()):
        reference = nifti_reference(original)
        stem = os.path.join(SCRATCH, "out_" + name.split(".")[0])
        for source, target in CONVERSIONS:
            source, target = stem + source if source else original, stem + target
            convert(source, target)
            check(reference, source, target)
    spellings = nrrd_spellings(inputs)
    for spelling, original in spellings:
        target = spelling + ".nii.gz"
        convert(spelling, target)
        check(nifti_reference(original), spelling, target)
    count = len(CONVERSIONS) * len(inputs) + len(spellings)
    series = dicom_series()
    for name, folder, uid in series:
        reference = series_reference(folder, uid)
        for command, ending in SERIES_COMMANDS:
            target = os.path.join(SCRATCH, "series_%s_%s%s" % (name, command[0], ending))
            convert(folder, target, uid, command)
            check(reference, folder, target)
            count += 1
        theirs = dcm2niix_output(folder, uid, name)
        if theirs:
            check(reference, folder + " (dcm2niix)", theirs)
            count += 1
    print("\n".join(problems + ["%d conversions of %d files and %d DICOM series%s" % (
        count, len(inputs) + len(spellings), len(series), "" if DCM2NIIX else " (no dcm2niix)")]))
    return 1 if problems else 0


if __name__ == "__main__":
    with tempfile.TemporaryDirectory() as folder:
        SCRATCH = folder
        sys.exit(main())
