# Operations that change their image in place still report a refusal: under
# a memory limit that leaves no room for the turned or padded copy, both the
# module and the tool give the library's reason instead of a result.
import os
import resource
import subprocess
import sys

import numpy as np
import pytest

SHAPE = (160, 320, 330)  # 17 MB of bytes; turned 17 MB more, padded 42 or 67 MB

MODULE = """
import resource, sys, numpy as np, kvel
kvel.set_threads(1)
volume = np.zeros(%r, np.uint8)
kvel.pad2d(np.zeros((3, 3), np.uint8))
used = int(open('/proc/self/statm').read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (used + (8 << 20), resource.RLIM_INFINITY))
try:
    getattr(kvel, sys.argv[1])(volume, *map(int, sys.argv[2:]))
except kvel.Error as error:
    print(error.reason)
""" % (SHAPE,)

CALLS = [("rotate", ["1"], "rotating"), ("pad2d", [], "padding"), ("pad3d", [], "padding")]

pytestmark = pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                                reason="the sanitizer reserves more address space than any limit allows")


def limited(limit):
    return lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, resource.RLIM_INFINITY))


@pytest.mark.parametrize("name, arguments, words", CALLS)
def test_the_module_raises_the_librarys_reason(name, arguments, words):
    result = subprocess.run([sys.executable, "-c", MODULE, name, *arguments], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert "out of memory while " + words in result.stdout


@pytest.mark.parametrize("name, arguments, words", CALLS)
def test_the_tool_names_the_file_and_the_librarys_reason(tmp_path, tool, name, arguments, words):
    program = os.environ["KVEL_TOOL"]
    (tmp_path / "v.raw").write_bytes(bytes(np.prod(SHAPE)))
    (tmp_path / "v.mhd").write_text("NDims = 3\nDimSize = %d %d %d\nElementType = MET_UCHAR\nElementDataFile = v.raw\n"
                                    % SHAPE[::-1])
    environment = dict(os.environ, KVEL_THREADS="1")

    def run(command, limit):
        return subprocess.run([program, *command], capture_output=True, text=True, env=environment,
                              preexec_fn=limited(limit), cwd=tmp_path)

    # The least address space in which the tool reads and writes the volume, to 1 MB.
    low, high = 1 << 20, 1 << 32
    while high - low > 1 << 20:
        middle = (low + high) // 2
        low, high = (low, middle) if run(["convert", "v.mhd", "c.mhd"], middle).returncode == 0 else (middle, high)
    result = run([name, *arguments, "v.mhd", "out.mhd"], high + (8 << 20))
    assert result.returncode == 1
    assert result.stderr.startswith("kvel: v.mhd: %s refused: out of memory while %s" % (name, words))
    assert not (tmp_path / "out.mhd").exists()
