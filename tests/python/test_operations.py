# Every operation against the C++ library as the kvel tool calls it: the
# same input file, the same arguments, bit for bit the same result.
import numpy as np
import pytest

import kvel
from conftest import picture, same_bits

FLAT = picture(33, 45)
BYTES = picture(40, 29, np.uint8)
VOLUME = np.stack([picture(12, 10, seed=s) * (1 + s / 7) for s in range(7)])
COLOUR = np.stack([picture(21, 26, np.uint8, seed=s) for s in range(3)], axis=-1)
FIELD = np.stack([FLAT, FLAT[::-1] - 100], axis=-1)
SMOOTH3 = np.full((3, 3), 1 / 9, np.float32)
SHARPEN5 = np.arange(-12, 13, dtype=np.float32).reshape(5, 5) / 7

# (name, tool arguments, module call, input)
CASES = [
    ("downsample", [2, 3, 1, 1], lambda im: kvel.downsample(im, 2, 3, 1, 1), FLAT),
    ("downsample", [2, 2, 3, 1], lambda im: kvel.downsample(im, 2, 2, 3), VOLUME),
    ("downsample", [3, 2, 1, 1], lambda im: kvel.downsample(im, 3, 2), COLOUR),
    ("resample2d", [22, 17], lambda im: kvel.resample2d(im, 22, 17), FLAT),
    ("resample2d", [50, 71], lambda im: kvel.resample2d(im, 50, 71), BYTES),
    ("resample2d", [6, 9], lambda im: kvel.resample2d(im, 6, 9), VOLUME),
    ("rotate", [0], lambda im: kvel.rotate(im, 0), VOLUME),
    ("rotate", [1], lambda im: kvel.rotate(im, 1), VOLUME),
    ("rotate", [2], lambda im: kvel.rotate(im, 2), COLOUR),
    ("pad2d", [], kvel.pad2d, COLOUR),
    ("pad3d", [], kvel.pad3d, VOLUME),
    ("invert", [], kvel.invert, BYTES),
    ("invert", [], kvel.invert, VOLUME),
    ("window", [50, 180.5], lambda im: kvel.window(im, 50, 180.5), FLAT),
    ("window", [20, 90], lambda im: kvel.window(im, 20, 90), COLOUR),
    ("filter", [SMOOTH3], lambda im: kvel.filter(im, SMOOTH3), BYTES),
    ("filter", [SHARPEN5], lambda im: kvel.filter(im, SHARPEN5), VOLUME),
    ("gradient", [], kvel.gradient, FLAT),
    ("gradient", [], kvel.gradient, VOLUME),
    ("hessian", [], kvel.hessian, BYTES),
    ("hessian", [], kvel.hessian, FLAT),
    ("edges", [5], lambda im: kvel.edges(im, 5), FLAT),
    ("edges", [3], lambda im: kvel.edges(im, 3), VOLUME),
    ("rigid", [1.5, -2, 0.5, 0.1, 0.2, 0.3], lambda im: kvel.rigid(im, 1.5, -2, 0.5, 0.1, 0.2, 0.3), VOLUME),
    ("rigid", [1.5, -2, 0.5, 0.1, 0.2, 0.3, "--nearest"],
     lambda im: kvel.rigid(im, 1.5, -2, 0.5, 0.1, 0.2, 0.3, nearest=True), VOLUME),
    ("colourmap", [], kvel.colourmap, FLAT),
    ("colourmap", [], kvel.colourmap, FIELD),
    ("colourmap", [], kvel.colourmap, COLOUR),
]


def tool_arguments(arguments, folder):
    """Kernels go to the tool as text files of numbers that parse to the same floats."""
    out = []
    for i, argument in enumerate(arguments):
        if isinstance(argument, np.ndarray):
            path = folder / f"kernel{i}.txt"
            path.write_text("\n".join(" ".join(f"{v:.9g}" for v in row) for row in argument))
            argument = path
        out.append(argument)
    return out


@pytest.mark.parametrize("name, arguments, call, values", CASES,
                         ids=[f"{c[0]}-{c[3].dtype}-{c[3].shape}" for c in CASES])
def test_operation_equals_the_library_bit_for_bit(tmp_path, tool, name, arguments, call, values):
    channels = {FIELD.shape: 2}.get(values.shape)
    source = kvel.Image.from_array(values, spacing=(0.5, 2, 3)[: values.ndim - (values.shape[-1] <= 4)],
                                   channels=channels)
    kvel.write(tmp_path / "in.mha", source)
    tool(name, *tool_arguments(arguments, tmp_path), tmp_path / "in.mha", tmp_path / "out.mha")
    expected = kvel.read(tmp_path / "out.mha")

    result = call(source)
    assert same_bits(result.array, expected.array)
    assert result.spacing == expected.spacing
    # The source is left as it was, and an array gives what its Image gives.
    assert same_bits(source.array, values)
    assert same_bits(call(values).array, call(kvel.Image.from_array(values)).array)


@pytest.mark.parametrize("call", [kvel.pad2d, kvel.pad3d, lambda im: kvel.rotate(im, 2), kvel.invert,
                                  lambda im: kvel.downsample(im, 1, 1), lambda im: kvel.window(im, 0, 300)])
@pytest.mark.parametrize("shape", [(16, 32), (13, 7)])
def test_results_never_share_the_callers_elements(call, shape):
    values = picture(*shape)
    image = kvel.Image.from_array(values)
    for source, elements in ((values, values), (image, image.array)):
        result = call(source)
        assert not np.shares_memory(result.array, elements)
        result.array[...] = -1
        assert same_bits(elements, values)


@pytest.mark.parametrize("values", [VOLUME, BYTES], ids=["volume", "picture"])
def test_preview_writes_the_picture_it_returns_as_the_tool_does(tmp_path, tool, values):
    source = kvel.Image.from_array(values, spacing=(0.5, 2, 3)[: values.ndim])
    kvel.write(tmp_path / "in.mha", source)
    tool("preview", tmp_path / "in.mha", tmp_path / "tool.png")
    picture = kvel.preview(source, tmp_path / "module.png")
    for name in ("tool.png", "module.png"):
        assert same_bits(kvel.read(tmp_path / name).array, picture.array)


def test_to_bytes_equals_what_the_tool_writes_for_a_picture(tmp_path, tool):
    values = picture(32, 64) * 3 - 100
    kvel.write(tmp_path / "in.mha", values)
    # pad2d leaves a power-of-two picture as it is; a float picture goes to BMP through toBytes.
    tool("pad2d", tmp_path / "in.mha", tmp_path / "out.bmp")
    assert same_bits(kvel.to_bytes(values).array, kvel.read(tmp_path / "out.bmp").array)


def test_to_bytes_maps_the_range_onto_every_byte_and_keeps_channels():
    values = np.linspace(-5, 250, 4 * 5 * 6 * 2, dtype=np.float32).reshape(4, 5, 6, 2)
    result = kvel.to_bytes(kvel.Image.from_array(values, spacing=(1, 2, 3)))
    assert result.array.dtype == np.uint8 and result.array.shape == values.shape
    assert result.array.min() == 0 and result.array.max() == 255
    assert np.all(np.diff(result.array.reshape(-1).astype(int)) >= 0)
    assert result.spacing == (1, 2, 3)


def test_to_bytes_and_invert_follow_writes_through_the_view():
    image = kvel.Image.from_array(np.zeros((4, 4), np.float32))
    image.array[0, 0] = 10
    assert kvel.to_bytes(image).array[0, 0] == 255
    assert kvel.invert(image).array[0, 0] == 0 and kvel.invert(image).array[1, 1] == 10


def test_only_the_first_frame_becomes_bytes():
    values = np.stack([np.full((2, 3, 5), v, np.int16) for v in (0, 100)])
    values[0, 0, 0, 0] = 100
    first = kvel.to_bytes(values).array
    assert first.shape == (2, 3, 5)
    assert first[0, 0, 0] == 255 and np.count_nonzero(first) == 1


@pytest.mark.parametrize("call, error", [
    (lambda im: kvel.downsample(im, 0, 1), ValueError),
    (lambda im: kvel.downsample(im, 1, 99), ValueError),
    (lambda im: kvel.downsample(im, 1.5, 1), TypeError),
    (lambda im: kvel.resample2d(im, 1, 5), ValueError),
    (lambda im: kvel.resample2d(im, 5, 65537), ValueError),
    (lambda im: kvel.rotate(im, 3), ValueError),
    (lambda im: kvel.rotate(im, -1), ValueError),
    (lambda im: kvel.window(im, 5, 5), ValueError),
    (lambda im: kvel.window(im, float("nan"), 5), ValueError),
    (lambda im: kvel.filter(im, np.ones((4, 4))), ValueError),
    (lambda im: kvel.filter(im, np.ones((3, 5))), ValueError),
    (lambda im: kvel.filter(im, np.ones(9)), ValueError),
    (lambda im: kvel.filter(im, np.ones((101, 101))), ValueError),
    (lambda im: kvel.filter(im, [[1, 2, 3]] * 2 + [[1, 2, float("inf")]]), ValueError),
    (lambda im: kvel.filter(im, "abc"), TypeError),
    (lambda im: kvel.edges(im, float("inf")), ValueError),
    (lambda im: kvel.rigid(im, 0, 0, 0, 0, float("nan"), 0), ValueError),
    (lambda im: kvel.gradient("picture.png"), TypeError),
    (lambda im: kvel.gradient(None), TypeError),
    (lambda im: kvel.set_threads(-1), ValueError),
])
def test_bad_arguments_raise_before_the_library_runs(capfd, call, error):
    with pytest.raises(error):
        call(FLAT)
    assert capfd.readouterr() == ("", "")


@pytest.mark.parametrize("call, words", [
    (lambda: kvel.resample2d(COLOUR, 5, 5), "multiple channels"),
    (lambda: kvel.resample2d(FLAT[:1], 5, 5), "at least 2"),
    (lambda: kvel.edges(VOLUME[:2], 1), "3x3x3"),
    (lambda: kvel.edges(np.zeros((4, 5, 5, 2), np.float32), 1), "one-channel"),
])
def test_images_the_library_refuses_raise_error_with_its_reason(capfd, call, words):
    with pytest.raises(kvel.Error) as caught:
        call()
    assert words in caught.value.reason and caught.value.reason in str(caught.value)
    assert capfd.readouterr() == ("", "")


def test_images_are_made_by_the_module_only():
    with pytest.raises(TypeError):
        kvel.Image()
