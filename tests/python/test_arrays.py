# Images as numpy arrays: shapes, element types, the shared buffer, geometry.
import numpy as np
import pytest

import kvel
from conftest import ELEMENT_TYPES, sample, same_bits

# numpy shape -> channels, for every layout an image can have.
SHAPES = {
    (5, 7): 1,
    (5, 7, 3): 3,
    (5, 7, 2): 2,
    (4, 5, 7): 1,          # last axis above 4: a volume
    (3, 5, 6, 4): 4,
    (2, 3, 5, 6, 2): 2,
    (1, 1): 1,
}


@pytest.mark.parametrize("dtype", ELEMENT_TYPES)
@pytest.mark.parametrize("shape", list(SHAPES))
@pytest.mark.parametrize("suffix", [".mha", ".mhd"])
def test_from_array_write_read_round_trips(tmp_path, dtype, shape, suffix):
    values = sample(shape, dtype)
    # Small spacings need every digit a float has, in both header forms.
    spacing = (0.0001234567, 2.0, 3.0, 4.0)[: max(2, len(shape) - (SHAPES[shape] > 1))]
    spacing = tuple(float(np.float32(s)) for s in spacing)
    image = kvel.Image.from_array(values, spacing=spacing, position=(1.5, -2.0, 7.0)[: min(3, len(spacing))])
    assert image.channels == SHAPES[shape]
    assert same_bits(image.array, values)
    kvel.write(tmp_path / ("image" + suffix), image)
    back = kvel.read(tmp_path / ("image" + suffix))
    assert same_bits(back.array, values)
    assert back.spacing == image.spacing == spacing
    assert back.position == image.position


def test_array_is_a_view_of_the_image(tmp_path):
    image = kvel.Image.from_array(np.zeros((4, 6), np.int16))
    view = image.array
    assert not view.flags.owndata and view.base is not None
    assert image.array.__array_interface__["data"][0] == view.__array_interface__["data"][0]
    view[1, 2] = 1234
    # The library sees the write: in its operations and in the file it writes.
    assert kvel.rotate(image, 2).array[3, 1] == 1234
    kvel.write(tmp_path / "a.mha", image)
    assert kvel.read(tmp_path / "a.mha").array[1, 2] == 1234
    # The view keeps the image alive.
    del image
    view[0, 0] = 7
    assert view[0, 0] == 7 and view[1, 2] == 1234


def test_from_array_copies_and_takes_any_layout():
    values = sample((6, 8), np.float32)
    image = kvel.Image.from_array(values)
    values[0, 0] = 99
    assert image.array[0, 0] != 99
    assert same_bits(kvel.Image.from_array(np.asfortranarray(values)).array, values)
    assert same_bits(kvel.Image.from_array(values[::2, 1::3]).array, values[::2, 1::3])


def test_channels_argument_overrides_the_last_axis_rule():
    volume = sample((3, 5, 4), np.uint8)
    assert kvel.Image.from_array(volume).array.shape == (3, 5, 4)
    assert kvel.Image.from_array(volume).channels == 4
    flat = kvel.Image.from_array(volume, channels=1)
    assert flat.channels == 1 and flat.array.shape == (3, 5, 4) and flat.spacing == (1.0, 1.0, 1.0)
    assert kvel.Image.from_array(sample((5, 6, 7), np.uint8), channels=7).channels == 7
    for wrong in (3, 0, -1):
        with pytest.raises(ValueError):
            kvel.Image.from_array(volume, channels=wrong)


@pytest.mark.parametrize("values", [
    np.zeros((3, 3), np.int64), np.zeros((3, 3), np.float16), np.zeros((3, 3), bool),
    np.zeros((3, 3), np.complex64), [[1, 2], [3, 4]],
])
def test_other_element_types_are_a_type_error(values):
    with pytest.raises(TypeError, match="uint8"):
        kvel.Image.from_array(values)
    with pytest.raises(TypeError):
        kvel.invert(values)


@pytest.mark.parametrize("shape", [(5,), (0, 4), (1, 2, 3, 4, 5, 6), (2, 2, 2, 2, 2, 2)])
def test_shapes_no_image_has_are_a_value_error(shape):
    with pytest.raises(ValueError):
        kvel.Image.from_array(np.zeros(shape, np.uint8))


def test_direction_reaches_nibabel_in_its_own_space(tmp_path):
    nib = pytest.importorskip("nibabel")
    c, s = np.cos(0.3), np.sin(0.3)
    direction = np.array([[c, 0, s], [0, -1, 0], [s, 0, -c]])  # turned, and left-handed
    image = kvel.Image.from_array(sample((4, 5, 6), "int16"), spacing=(0.5, 2, 3), position=(10, -20, 30),
                                  direction=direction)
    assert np.array_equal(image.direction, direction)
    kvel.write(tmp_path / "x.nii.gz", image)
    affine = nib.load(tmp_path / "x.nii.gz").affine
    to_ras = np.diag([-1, -1, 1])
    assert np.allclose(affine[:3, :3], to_ras @ direction @ np.diag([0.5, 2, 3]), atol=1e-6)
    assert np.allclose(affine[:3, 3], to_ras @ [10, -20, 30])
    assert np.allclose(kvel.read(tmp_path / "x.nii.gz").direction, direction, atol=1e-6)
    for bad in (np.eye(2), [[1, 0, 0], [0, 1, 0], [0, 0.5, 1]]):
        with pytest.raises(ValueError):
            kvel.Image.from_array(np.zeros((2, 2), np.uint8), direction=bad)


@pytest.mark.parametrize("spacing, position", [
    ((1,), None), ((1, 2, 3, 4, 5), None), ((0, 1), None), ((1, -1), None), ((1, float("nan")), None),
    (None, (1,)), (None, (1, 2, 3, 4)), (None, (float("inf"), 0)),
])
def test_bad_geometry_is_a_value_error(spacing, position):
    with pytest.raises(ValueError):
        kvel.Image.from_array(np.zeros((2, 2), np.uint8), spacing=spacing, position=position)


def test_geometry_must_be_numbers():
    with pytest.raises(TypeError):
        kvel.Image.from_array(np.zeros((2, 2), np.uint8), spacing="12")
    with pytest.raises(TypeError):
        kvel.Image.from_array(np.zeros((2, 2), np.uint8), position=(1, "a"))


def test_volume_geometry_needs_its_z(tmp_path):
    with pytest.raises(ValueError):
        kvel.Image.from_array(np.zeros((3, 2, 2), np.float32), spacing=(1, 2), channels=1)
    image = kvel.Image.from_array(np.zeros((2, 3, 2, 2), np.float32), spacing=(1, 2, 3, 4), position=(5, 6, 7),
                                  channels=1)
    assert image.spacing == (1, 2, 3, 4) and image.position == (5, 6, 7)
    # write's geometry replaces the image's in the file, not in the image.
    kvel.write(tmp_path / "v.mha", image, spacing=(9, 8, 7, 6), position=(0, 0, 1))
    assert kvel.read(tmp_path / "v.mha").spacing == (9, 8, 7, 6)
    assert kvel.read(tmp_path / "v.mha").position == (0, 0, 1)
    assert image.spacing == (1, 2, 3, 4)


def test_unaligned_arrays_are_read_correctly():
    buffer = np.zeros(16 * 9 + 1, np.uint8)
    values = buffer[1:].reshape(9, 16)
    values[:] = sample((9, 16), np.uint8)
    assert values.__array_interface__["data"][0] % 16 != 0
    assert same_bits(kvel.rotate(values, 2).array, kvel.rotate(kvel.Image.from_array(values), 2).array)
