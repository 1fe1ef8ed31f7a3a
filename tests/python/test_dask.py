# kvel.dask against the in-memory operations: equal bits for any chunking, on
# threads and on a two-process cluster; files mapped, read slab by slab and
# written chunk by chunk.
import os
import sys

import dask
import dask.array as da
import nibabel
import numpy as np
import pydicom
import pytest
import tifffile
from distributed import Client, LocalCluster

import kvel
import kvel.dask as kd
from conftest import ELEMENT_TYPES, sample, same_bits

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "bench"))
import dask_larger_than_memory  # noqa: E402

KERNEL5 = np.random.default_rng(3).standard_normal((5, 5)).astype(np.float32)

# name: (blockwise, in memory), each called with the array.
OPERATIONS = {
    "filter3": (lambda a: kd.filter(a, np.ones((3, 3)) / 9), lambda a: kvel.filter(a, np.ones((3, 3)) / 9)),
    "filter5": (lambda a: kd.filter(a, KERNEL5), lambda a: kvel.filter(a, KERNEL5)),
    "gradient": (kd.gradient, kvel.gradient),
    "hessian": (kd.hessian, kvel.hessian),
    "downsample": (lambda a: kd.downsample(a, 2, 3, *([2] if a.ndim == 3 else [])),
                   lambda a: kvel.downsample(a, 2, 3, *([2] if a.ndim == 3 else []))),
    "window": (lambda a: kd.window(a, -20, 90), lambda a: kvel.window(a, -20, 90)),
    "invert": (kd.invert, kvel.invert),
    "to_bytes": (kd.to_bytes, kvel.to_bytes),
}


def with_specials(values, rng):
    """Floats get not-a-number, infinities and both zeros, sometimes first of all."""
    if values.dtype.kind == "f":
        flat = values.reshape(-1)
        spots = rng.integers(0, flat.size, 6)
        flat[spots] = [np.nan, np.inf, -np.inf, 0.0, -0.0, np.nan]
        flat[0] = rng.choice([flat[0], np.nan, -0.0, 0.0])
    return values


def cases(count, seed):
    """Random shapes (2-D and 3-D), element types, chunkings (blocks down to one voxel) and operations."""
    rng = np.random.default_rng(seed)
    for _ in range(count):
        shape = tuple(int(n) for n in rng.integers(6, 40, rng.choice([2, 3])))
        if len(shape) == 3:
            shape = (int(rng.integers(2, 9)),) + shape[1:]
        dtype = ELEMENT_TYPES[rng.integers(len(ELEMENT_TYPES))]
        name = str(list(OPERATIONS)[rng.integers(len(OPERATIONS))])
        values = with_specials(sample(shape, dtype, seed=int(rng.integers(1 << 30))), rng)
        if name in ("invert", "to_bytes") and values.dtype.kind == "f" and rng.random() < 0.5:
            values[...] = rng.choice([0.0, -0.0], size=shape)  # only zeros: which one is the range?
        chunks = tuple(tuple(int(c) for c in np.diff(np.unique(np.r_[0, rng.integers(1, n, rng.integers(0, 5)), n])))
                       for n in shape)
        yield name, values, chunks


def assert_equal_to_memory(cases_, compute):
    for name, values, chunks in cases_:
        blockwise, memory = OPERATIONS[name]
        try:
            expected = memory(values).array
        except kvel.Error:
            continue  # the library refuses it (unsigned hessian of a type it cannot copy); nothing to equal
        got = compute(blockwise(da.from_array(values, chunks=chunks)))
        assert got.size == expected.size, (name, values.dtype, values.shape, chunks)
        assert same_bits(got, expected.reshape(got.shape)), (name, values.dtype, values.shape, chunks)


def test_equal_to_memory_for_random_chunkings_on_threads():
    with dask.config.set(scheduler="threads"):
        assert_equal_to_memory(cases(160, seed=11), lambda result: result.compute())


@pytest.fixture(scope="module")
def cluster():
    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                           dashboard_address=None, memory_limit="1GiB")
    client = Client(cluster, timeout=60)
    yield client
    client.close()
    cluster.close(timeout=30)


def test_equal_to_memory_on_two_worker_processes(cluster):
    # Blocks, operations and images travel between processes by pickle.
    assert_equal_to_memory(cases(24, seed=12), lambda result: cluster.compute(result).result(timeout=120))
    image = kvel.Image.from_array(np.arange(30, dtype=np.int16).reshape(5, 6), spacing=(0.5, 2))
    back = cluster.submit(lambda i: i, image).result(timeout=60)
    assert same_bits(back.array, image.array) and back.spacing == image.spacing


def test_no_overlap_rule_refuses_what_cannot_run_blockwise():
    with pytest.raises(ValueError):
        kd.filter(da.zeros((4, 8, 8, 3), np.float32), np.ones((3, 3)))  # channels: not per-plane data
    with pytest.raises(ValueError):
        kd.downsample(da.zeros((4, 8), np.uint8), 3, 5)  # fy beyond the extent, as kvel.downsample refuses
    assert not hasattr(kd, "edges")


def dicom_fixtures():
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "imagelib"))
    import dicom_fixtures
    return dicom_fixtures


def nrrd_header(values, endian, extra=""):
    return (f"NRRD0004\ntype: {values.dtype.name}\ndimension: 3\nsizes: {' '.join(map(str, values.shape[::-1]))}\n"
            f"endian: {endian}\nencoding: raw\nspace: left-posterior-superior\nspace origin: (1,2,3)\n{extra}")


def stack_files(folder, values):
    """One volume in every format from_file reads, written by the library or as other programs
    write them; for each, whether read_header names its elements for mapping."""
    kvel.write(folder / "v.mhd", values, spacing=(0.5, 0.25, 2), position=(1, 2, 3))
    kvel.write(folder / "v.nii", values)
    kvel.write(folder / "v.nii.gz", values)
    kvel.write(folder / "gzip.nrrd", values)
    (folder / "raw.nrrd").write_bytes(nrrd_header(values, "little").encode() + b"\n" + values.astype("<i2").tobytes())
    (folder / "d.raw").write_bytes(b"skip" + values.astype(">i2").tobytes())
    (folder / "d.nhdr").write_text(nrrd_header(values, "big", "byte skip: 4\ndata file: d.raw\n"))
    (folder / "lines.raw").write_bytes(b"a line\n" + values.astype("<i2").tobytes())
    (folder / "lines.nhdr").write_text(nrrd_header(values, "little", "line skip: 1\ndata file: lines.raw\n"))
    tifffile.imwrite(folder / "strips.tif", values, photometric="minisblack", rowsperstrip=3)
    tifffile.imwrite(folder / "tiles.tif", values, photometric="minisblack", tile=(16, 16), compression="zlib")
    dicom = dicom_fixtures()
    dicom.series(str(folder / "series"), 7, dicom.AXIAL, slope=1, intercept=-1024, bits_stored=12)
    dicom.series(str(folder / "oblique"), 5, dicom.oblique(), kind="u1")
    return {"v.mhd": True, "v.nii": True, "v.nii.gz": False, "gzip.nrrd": False, "raw.nrrd": True, "d.nhdr": True,
            "lines.nhdr": False, "strips.tif": False, "tiles.tif": False, "series": False, "oblique": False}


def test_every_format_reads_chunk_by_chunk_as_kvel_reads_it_whole(tmp_path):
    values = sample((7, 9, 11), np.int16, seed=4)
    rng = np.random.default_rng(8)
    for name, mapped in stack_files(tmp_path, values).items():
        path = tmp_path / name
        whole = kvel.read(path)
        header = kvel.read_header(path)
        assert (header["data_file"] is not None) == mapped, name
        assert header["shape"] == whole.array.shape and header["dtype"] == whole.array.dtype, name
        assert header["spacing"] == whole.spacing and header["position"] == whole.position, name
        for _ in range(3):
            chunks = tuple(int(rng.integers(1, n + 1)) for n in whole.array.shape)
            array = kd.from_file(path, chunks=chunks)
            assert array.chunks[0][0] == chunks[0] and array.header == header
            assert same_bits(array.compute(), whole.array), (name, chunks)
    assert same_bits(kvel.read(tmp_path / "strips.tif").array, values)
    assert kvel.read_header(tmp_path / "v.mhd")["spacing"] == (0.5, 0.25, 2.0)
    assert kvel.read_header(tmp_path / "d.nhdr")["offset"] == 4
    # Elements the file cannot hold are refused before anything maps them.
    (tmp_path / "short.nrrd").write_bytes((tmp_path / "raw.nrrd").read_bytes()[:-2])
    with pytest.raises(kvel.Error, match="cannot hold"):
        kvel.read_header(tmp_path / "short.nrrd")
    # Big-endian elements, as another writer may leave them.
    values.astype(">i2").tofile(tmp_path / "b.raw")
    (tmp_path / "b.mhd").write_text("NDims = 3\nDimSize = 11 9 7\nBinaryDataByteOrderMSB = True\n"
                                    "ElementType = MET_SHORT\nElementDataFile = b.raw\n")
    assert kvel.read_header(tmp_path / "b.mhd")["byte_order"] == ">"
    assert same_bits(kd.from_file(tmp_path / "b.mhd", chunks=3).compute(), values)


def test_a_chunk_of_slices_reads_only_its_own_pages_and_files(tmp_path):
    values = sample((5, 16, 16), np.uint16, seed=6)
    tifffile.imwrite(tmp_path / "s.tif", values, photometric="minisblack", compression="zlib")
    with tifffile.TiffFile(tmp_path / "s.tif") as tif:
        offset, count = tif.pages[-1].dataoffsets[0], tif.pages[-1].databytecounts[0]
    with open(tmp_path / "s.tif", "r+b") as f:  # the last page's deflated strip, damaged
        f.seek(offset)
        f.write(b"\xff" * count)
    array = kd.from_file(tmp_path / "s.tif", chunks=(2, 8, 16))
    assert same_bits(array[:4].compute(), values[:4])
    with pytest.raises(kvel.Error, match="page 4"):
        array[4:].compute()
    dicom = dicom_fixtures()
    dicom.series(str(tmp_path / "series"), 4, dicom.AXIAL)
    array = kd.from_file(tmp_path / "series", chunks=(1, 20, 24))
    expected = kvel.read(tmp_path / "series").array
    files = sorted((tmp_path / "series").iterdir(), key=lambda p: pydicom.dcmread(p).ImagePositionPatient[2])
    files[-1].write_bytes(files[-1].read_bytes()[:-100])  # the last slice's file, cut short
    assert same_bits(array[:3].compute(), expected[:3])
    with pytest.raises(kvel.Error):
        array[3:].compute()


def test_slices_name_a_range_of_the_stack_and_nothing_else(tmp_path):
    dicom = dicom_fixtures()
    dicom.series(str(tmp_path), 6, dicom.oblique(), slope=0.5, intercept=3)
    whole = kvel.read(tmp_path).array
    assert same_bits(kvel.read(tmp_path, slices=slice(4, None)).array, whole[4:])
    assert same_bits(kvel.read(tmp_path, slices=slice(None, 2)).array, whole[:2])
    with pytest.raises(kvel.Error, match="not among them"):
        kvel.read(tmp_path, slices=slice(3, 9))
    for wrong in (slice(-2, None), slice(0, 4, 2), slice(3, 3)):
        with pytest.raises(ValueError):
            kvel.read(tmp_path, slices=wrong)


def test_header_of_a_volume_larger_than_an_image_holds(tmp_path):
    # 2**31 elements: no image can hold them, yet the header is read and the elements mapped.
    with open(tmp_path / "big.raw", "wb") as f:
        f.truncate(2 ** 31)
    (tmp_path / "big.mhd").write_text("NDims = 3\nDimSize = 65536 32768 1\nElementType = MET_UCHAR\n"
                                      "ElementDataFile = big.raw\n")
    header = kvel.read_header(tmp_path / "big.mhd")
    assert header["shape"] == (32768, 65536) and header["offset"] == 0
    assert int(kd.from_file(tmp_path / "big.mhd", chunks=(4096, 65536))[-1, -8:].sum().compute()) == 0
    with pytest.raises(kvel.Error):
        kvel.read(tmp_path / "big.mhd")


def test_to_file_writes_what_the_library_and_nibabel_read(tmp_path, cluster):
    values = sample((6, 10, 12), np.float32, seed=5)
    array = da.from_array(values, chunks=(4, 3, 5))
    kd.to_file(array, tmp_path / "o.mhd", spacing=(0.5, 1, 2), position=(3, 4, 5))
    image = kvel.read(tmp_path / "o.mhd")
    assert same_bits(image.array, values) and image.spacing == (0.5, 1.0, 2.0) and image.position == (3.0, 4.0, 5.0)
    # Written by the worker processes, through their own maps of the file.
    with dask.config.set(scheduler=cluster.get):
        kd.to_file(array, tmp_path / "o.nii", spacing=(0.5, 1, 2), position=(3, 4, 5))
    nifti = nibabel.load(tmp_path / "o.nii")
    assert same_bits(np.asarray(nifti.dataobj).T, values)
    # Our LPS placement is RAS to nibabel: x and y change sign.
    assert np.allclose(nifti.affine, [[-0.5, 0, 0, -3], [0, -1, 0, -4], [0, 0, 2, 5], [0, 0, 0, 1]])
    assert same_bits(kvel.read(tmp_path / "o.nii").array, values)
    # A single slice as a volume: the header names the axes the library names.
    kd.to_file(array[:1], tmp_path / "s.mhd")
    assert same_bits(kvel.read(tmp_path / "s.mhd").array, values[0])


def test_a_failed_write_leaves_the_previous_file(tmp_path):
    kvel.write(tmp_path / "p.mhd", np.ones((4, 5), np.uint8))
    before = {p.name: p.read_bytes() for p in tmp_path.iterdir()}

    def fails(block, block_info=None):
        if block_info[0]["chunk-location"] == (1, 1):
            raise RuntimeError("a chunk fails")
        return block

    broken = da.zeros((4, 5), np.uint8, chunks=2).map_blocks(fails, dtype=np.uint8)
    with dask.config.set(scheduler="threads"), pytest.raises(RuntimeError):
        kd.to_file(broken, tmp_path / "p.mhd")
    assert {p.name: p.read_bytes() for p in tmp_path.iterdir()} == before


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="the sanitizer's shadow memory counts against the workers' memory limit")
def test_a_volume_beyond_the_workers_memory_limit_filters_file_to_file(tmp_path):
    # The documented benchmark at a size the suite can spare: the same checks, slab by slab.
    limit = 256 << 20
    seconds, slabs, peaks, shape = dask_larger_than_memory.run(limit, str(tmp_path), shape=(48, 1024, 1024))
    assert slabs == 6
    assert all(peak < limit for peak in peaks), peaks
