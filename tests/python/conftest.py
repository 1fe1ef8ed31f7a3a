# The kvel module under test comes from the build (PYTHONPATH); the kvel tool
# beside it (KVEL_TOOL) stands for the C++ library the results must equal.
import os
import subprocess

import numpy as np
import pytest

import kvel

# Element types an image can hold, as numpy names them.
ELEMENT_TYPES = [np.uint8, np.int8, np.uint16, np.int16, np.uint32, np.int32, np.float32, np.float64]


def sample(shape, dtype, seed=0):
    """Values spread over most of the type's range (floats: both signs)."""
    rng = np.random.default_rng(seed)
    if np.issubdtype(dtype, np.integer):
        info = np.iinfo(dtype)
        return rng.integers(info.min, info.max, size=shape, dtype=dtype, endpoint=True)
    return (rng.standard_normal(shape) * 1000).astype(dtype)


def picture(height, width, dtype=np.float32, seed=1):
    """A smooth picture with edges: rings, a ramp and a little noise, 0..255."""
    y, x = np.mgrid[0:height, 0:width].astype(np.float32)
    r = np.hypot(x / width - 0.5, y / height - 0.45)
    values = 128 + 60 * np.sin(40 * r) + 30 * (x / width) + np.random.default_rng(seed).uniform(-4, 4, (height, width))
    return np.clip(values, 0, 255).astype(dtype)


def same_bits(a, b):
    """Equal shape, element type and every byte (so -0.0 and NaN payloads count too)."""
    a, b = np.asarray(a), np.asarray(b)
    return a.shape == b.shape and a.dtype == b.dtype and a.tobytes() == b.tobytes()


@pytest.fixture
def tool():
    """Runs the kvel tool: tool("filter", "k.txt", IN, OUT)."""
    program = os.environ.get("KVEL_TOOL")
    if not program:
        pytest.skip("KVEL_TOOL is not set (ctest sets it)")

    def run(*args):
        result = subprocess.run([program, *map(str, args)], capture_output=True, text=True)
        assert result.returncode == 0, result.stderr
        return result

    return run


@pytest.fixture(autouse=True)
def default_threads():
    yield
    kvel.set_threads(0)
