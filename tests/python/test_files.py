# Files other programs wrote, files for other programs, and every way reading
# or writing fails.
import errno
import os

import numpy as np
import pytest
from PIL import Image as PILImage

import kvel
from conftest import ELEMENT_TYPES, picture, sample, same_bits


@pytest.mark.parametrize("mode, shape", [("L", (37, 53)), ("RGB", (37, 53, 3)), ("RGBA", (20, 17, 4))])
def test_pictures_pil_wrote_read_back_equal_and_pil_reads_ours(tmp_path, mode, shape):
    values = sample(shape, np.uint8, seed=len(shape))
    PILImage.fromarray(values, mode).save(tmp_path / "pil.bmp")
    image = kvel.read(tmp_path / "pil.bmp")
    assert same_bits(image.array, values)
    kvel.write(tmp_path / "ours.bmp", image)
    with PILImage.open(tmp_path / "ours.bmp") as ours:
        # PIL reads a 32-bit BMP without its fourth byte.
        assert same_bits(np.asarray(ours.convert(mode[:3])), values[..., :3] if mode == "RGBA" else values)


@pytest.mark.parametrize("dtype", ELEMENT_TYPES)
def test_raw_data_numpy_wrote_reads_back_equal(tmp_path, dtype):
    values = sample((3, 4, 5, 2), dtype)
    values.tofile(tmp_path / "v.raw")
    names = {np.dtype(t): n for t, n in zip(ELEMENT_TYPES, [
        "MET_UCHAR", "MET_CHAR", "MET_USHORT", "MET_SHORT", "MET_UINT", "MET_INT", "MET_FLOAT", "MET_DOUBLE"])}
    (tmp_path / "v.mhd").write_text(
        "ObjectType = Image\nNDims = 3\nDimSize = 5 4 3\nElementNumberOfChannels = 2\n"
        f"ElementSpacing = 0.5 0.25 2\nElementType = {names[np.dtype(dtype)]}\nElementDataFile = v.raw\n")
    image = kvel.read(tmp_path / "v.mhd")
    assert same_bits(image.array, values)
    assert image.spacing == (0.5, 0.25, 2.0)


def test_what_we_write_numpy_reads(tmp_path):
    values = sample((6, 7), np.int16)
    kvel.write(tmp_path / "a.mhd", values)
    header = (tmp_path / "a.mhd").read_text()
    assert "DimSize = 7 6" in header and "MET_SHORT" in header
    data = header.split("ElementDataFile = ")[1].strip()
    assert same_bits(np.fromfile(tmp_path / data, np.int16).reshape(6, 7), values)


def test_paths_may_be_str_bytes_or_pathlike(tmp_path):
    values = picture(8, 8, np.uint8)
    for path in (tmp_path / "a.mha", str(tmp_path / "b.mha"), os.fsencode(tmp_path / "c.mha")):
        kvel.write(path, values)
        assert same_bits(kvel.read(path).array, values)


@pytest.mark.parametrize("setup, error", [
    (lambda d: d / "missing.mha", errno.ENOENT),
    (lambda d: d / "no" / "such.mha", errno.ENOENT),
])
def test_unopenable_files_raise_file_error(tmp_path, setup, error):
    path = setup(tmp_path)
    with pytest.raises(kvel.FileError) as caught:
        kvel.read(path)
    assert isinstance(caught.value, OSError) and isinstance(caught.value, kvel.Error)
    assert isinstance(caught.value, RuntimeError)
    assert caught.value.errno == error and caught.value.filename == str(path)


@pytest.mark.skipif(os.geteuid() == 0, reason="root may read and write anything")
def test_unreadable_and_unwritable_files_raise_file_error(tmp_path):
    kvel.write(tmp_path / "a.mha", np.zeros((2, 2), np.uint8))
    os.chmod(tmp_path / "a.mha", 0)
    with pytest.raises(kvel.FileError) as caught:
        kvel.read(tmp_path / "a.mha")
    assert caught.value.errno == errno.EACCES
    (tmp_path / "locked").mkdir(mode=0o500)
    with pytest.raises(kvel.FileError) as caught:
        kvel.write(tmp_path / "locked" / "b.mha", np.zeros((2, 2), np.uint8))
    assert caught.value.errno == errno.EACCES


def test_unwritable_places_raise_file_error(tmp_path):
    with pytest.raises(kvel.FileError) as caught:
        kvel.write(tmp_path / "no" / "such.mha", np.zeros((2, 2), np.uint8))
    assert caught.value.errno == errno.ENOENT
    (tmp_path / "folder.mha").mkdir()
    with pytest.raises(kvel.FileError) as caught:
        kvel.write(tmp_path / "folder.mha", np.zeros((2, 2), np.uint8))
    assert caught.value.errno == errno.EISDIR


@pytest.mark.parametrize("content, words", [
    (b"hello, not a picture", "not an image file"),
    (b"BM" + bytes(60), "BMP"),
    (b"ObjectType = Image\nNDims = 2\nDimSize = 4 4\nElementType = MET_FLOAT\nElementDataFile = gone.raw\n",
     "gone.raw"),
])
def test_files_the_library_refuses_raise_error_with_its_reason(tmp_path, capfd, content, words):
    (tmp_path / "bad.mhd").write_bytes(content)
    with pytest.raises(kvel.Error) as caught:
        kvel.read(tmp_path / "bad.mhd")
    assert not isinstance(caught.value, OSError)
    assert words in caught.value.reason and "bad.mhd" in str(caught.value)
    assert capfd.readouterr() == ("", "")


def test_images_a_format_cannot_hold_are_refused_with_the_reason(tmp_path, capfd):
    with pytest.raises(kvel.Error) as caught:
        kvel.write(tmp_path / "f.bmp", np.zeros((4, 4), np.float32))
    assert "BMP" in caught.value.reason and "f.bmp" in str(caught.value)
    assert not (tmp_path / "f.bmp").exists()
    assert capfd.readouterr() == ("", "")


@pytest.mark.parametrize("suffix", [".bmp", ".mha", ".mhd"])
def test_reading_and_writing_print_nothing(tmp_path, capfd, suffix):
    kvel.write(tmp_path / ("a" + suffix), picture(9, 7, np.uint8))
    kvel.read(tmp_path / ("a" + suffix))
    assert capfd.readouterr() == ("", "")


def test_names_of_no_format_are_a_value_error(tmp_path):
    with pytest.raises(ValueError, match="format"):
        kvel.write(tmp_path / "a.xyz", np.zeros((2, 2), np.uint8))
    assert list(tmp_path.iterdir()) == []


def test_a_folder_is_read_as_dicom_series_and_series_picks_one(tmp_path):
    fixtures = os.path.join(os.path.dirname(__file__), "..", "imagelib", "dicom_fixtures.py")
    pydicom = pytest.importorskip("pydicom")
    found = __import__("importlib.util").util.spec_from_file_location("dicom_fixtures", fixtures)
    dicom = __import__("importlib.util").util.module_from_spec(found)
    found.loader.exec_module(dicom)
    with pytest.raises(kvel.Error, match="holds no DICOM images"):
        kvel.read(tmp_path)
    large = dicom.series(str(tmp_path), 4, dicom.AXIAL)
    small = dicom.series(str(tmp_path), 2, dicom.SAGITTAL, shape=(6, 5))
    assert kvel.read(tmp_path).array.shape == (4, 20, 24)
    picked = kvel.read(tmp_path, series=small)
    assert picked.array.shape == (2, 6, 5)
    normal = np.cross(dicom.SAGITTAL[:3], dicom.SAGITTAL[3:])
    first = min(dicom.files(str(tmp_path), small), key=lambda p: np.dot(pydicom.dcmread(p).ImagePositionPatient, normal))
    assert same_bits(picked.array[0], pydicom.dcmread(first).pixel_array)
    assert large != small
