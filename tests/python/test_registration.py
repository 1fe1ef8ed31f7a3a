# kvel.register against the kvel tool on the same files, its progress hook,
# and transforms through files.
import numpy as np
import pytest

import kvel
from conftest import same_bits


def blobs(shift=(0.0, 0.0, 0.0)):
    z, y, x = np.mgrid[0:30, 0:34, 0:38].astype(np.float32)
    x, y, z = x + shift[0], y + shift[1], z + shift[2]
    return (100 * np.exp(-((x - 16) ** 2 + (y - 15) ** 2 + (z - 14) ** 2) / 50)
            + 60 * np.exp(-((x - 25) ** 2 + (y - 22) ** 2 + (z - 10) ** 2) / 25)).astype(np.float32)


@pytest.fixture
def pair(tmp_path):
    fixed = kvel.Image.from_array(blobs(), spacing=(1, 1, 1.2))
    moving = kvel.Image.from_array(blobs((1.5, -1.0, 0.7)), spacing=(1, 1, 1.2))
    kvel.write(tmp_path / "fixed.mha", fixed)
    kvel.write(tmp_path / "moving.mha", moving)
    return fixed, moving


@pytest.mark.parametrize("metric", ["ms", "ncc", "mi"])
def test_python_and_the_tool_find_the_same_transform(tmp_path, tool, pair, metric):
    fixed, moving = pair
    found = kvel.register(fixed, moving, metric=metric)
    tool("register", tmp_path / "fixed.mha", tmp_path / "moving.mha", tmp_path / "out.mha",
         "--metric", metric, "--transform", tmp_path / "t.tfm")
    # The file keeps 17 digits of Euler angles, so the matrices agree to rounding.
    assert np.allclose(kvel.read_transform(str(tmp_path / "t.tfm")).matrix, found.matrix, rtol=0, atol=1e-12)
    # The moving image laid on the fixed grid is the tool's output, bit for bit.
    assert same_bits(kvel.resample(moving, fixed, found).array, kvel.read(tmp_path / "out.mha").array)
    # moving(T(p)) = fixed(p): T moves points by minus the shift.
    assert np.allclose(found.apply([[3.0, 4.0, 6.0]]), [[1.5, 5.0, 6.0 - 0.7 * 1.2]], atol=0.05)


def test_progress_is_called_and_can_stop_the_run(pair):
    fixed, moving = pair
    calls = []
    kvel.register(fixed, moving, progress=lambda *at: calls.append(at))
    assert [c[0] for c in calls] == sorted(c[0] for c in calls) and calls[-1][1] == 4
    with pytest.raises(kvel.Error, match="stopped by the progress callback"):
        kvel.register(fixed, moving, progress=lambda *at: False)
    with pytest.raises(ZeroDivisionError):
        kvel.register(fixed, moving, progress=lambda *at: 1 / 0)


def test_failures_raise_and_files_round_trip(tmp_path, pair):
    fixed, moving = pair
    with pytest.raises(kvel.Error, match="one constant value"):
        kvel.register(fixed, np.full((20, 20, 20), 3, np.float32))
    with pytest.raises(ValueError):
        kvel.register(fixed, moving, metric="cc")
    affine = kvel.register(fixed, moving, metric="ms", affine=True)
    assert affine.parameters is None
    affine.write(str(tmp_path / "a.tfm"))
    points = np.array([[0, 0, 0], [10, -5, 30.0]])
    assert np.allclose(kvel.read_transform(str(tmp_path / "a.tfm")).apply(points), affine.apply(points), atol=1e-9)


def test_the_check_picture_shows_the_images_aligned_after(tmp_path, tool, pair):
    fixed, _ = pair
    tool("register", tmp_path / "fixed.mha", tmp_path / "moving.mha", tmp_path / "out.mha",
         "--metric", "ms", "--check", tmp_path / "check.png")
    check = kvel.read(tmp_path / "check.png").array.astype(np.int32)
    alone = kvel.preview(fixed, str(tmp_path / "fixed.png")).array.astype(np.int32)
    before, after = check[:alone.shape[0]], check[alone.shape[0]:]
    assert before.shape == after.shape == alone.shape
    # Aligned, the moved squares continue the fixed ones: the checkerboard all but vanishes.
    assert np.abs(after - alone).mean() < np.abs(before - alone).mean() / 3
