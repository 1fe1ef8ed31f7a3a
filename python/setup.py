# pip install of the kvel module: the repository's own CMake build makes it,
# so the module is compiled exactly as `cmake --build` compiles it. Offline,
# with Debian's build tools:
#   python3 -m venv --system-site-packages env
#   env/bin/pip install --no-build-isolation ./python
import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

REPOSITORY = Path(__file__).resolve().parent.parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        subprocess.run(["cmake", "-S", str(REPOSITORY), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        "-DVALLEY_TESTS=OFF", "-DVALLEY_BENCH=OFF", "-DVALLEY_PYTHON=ON",
                        f"-DPython3_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "kvel_python",
                        "--parallel", str(os.cpu_count() or 1)], check=True)
        built = next((build / "python" / "kvel").glob("_kvel*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    name="kvel",
    version="1.0.0",
    description="KVEL images as numpy arrays: files, resampling, filters, edges, rigid transforms",
    install_requires=["numpy"],
    extras_require={"dask": ["dask", "distributed"]},
    packages=["kvel"],
    ext_modules=[Extension("kvel._kvel", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
