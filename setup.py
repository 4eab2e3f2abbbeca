"""pip install --no-build-isolation . : builds the Python package btcfit with
the project's CMake build (target btcfit_python) and installs it.

BTCFIT_CMAKE_BUILD_DIR names a CMake build folder that is already configured
(for example build): the package is then built there, which reuses what is
already compiled. Otherwise a fresh folder under setuptools' build_temp is
configured without tests and benchmarks.
"""
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


class CMakeBuild(build_ext):
    def run(self):
        build = os.environ.get("BTCFIT_CMAKE_BUILD_DIR")
        if not build:
            build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
            generator = ["-G", "Ninja"] if shutil.which("ninja") else []
            subprocess.check_call(
                ["cmake", "-S", ROOT, "-B", build, *generator, "-DCMAKE_BUILD_TYPE=Release",
                 "-DBUILD_TESTING=OFF", "-DBTCFIT_BENCH=OFF",
                 f"-DPython3_EXECUTABLE={sys.executable}"])
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.check_call(["cmake", "--build", build, "--target", "btcfit_python",
                               "-j", jobs])
        for ext in self.extensions:
            built = os.path.join(build, "python", "btcfit",
                                 os.path.basename(self.get_ext_filename(ext.name)))
            target = self.get_ext_fullpath(ext.name)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copyfile(built, target)


setup(
    packages=["btcfit"],
    package_dir={"btcfit": "python/btcfit"},
    package_data={"btcfit": ["__init__.pyi", "py.typed"]},
    ext_modules=[Extension("btcfit._btcfit", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
