"""Builds the engine with CMake and packs it into the vexlor package (see pyproject.toml).

VEXLOR_BUILD_DIR chooses the CMake build folder (default build/release); an existing build there is
reused, so `tools/demo` followed by `pip install --no-build-isolation --no-deps .` builds only what changed.
"""
import os
import shutil
import subprocess
import sys

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

ROOT = os.path.dirname(os.path.abspath(__file__))


class BuildWithEngine(build_py):
    def run(self):
        super().run()
        build = os.path.abspath(os.environ.get("VEXLOR_BUILD_DIR", os.path.join(ROOT, "build", "release")))
        subprocess.run(["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DVEXLOR_TESTS=OFF",
                        "-DVEXLOR_BENCH=OFF", f"-DVEXLOR_PYTHON={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", build, "-j", str(os.cpu_count() or 1), "--target", "vexlor",
                        "vexlor_module", "vexlor_python", "vexlor_python_files"], check=True)
        package = os.path.join(self.build_lib, "vexlor")
        built = os.path.join(build, "python", "vexlor")
        for name in os.listdir(built):
            if name.startswith("_vexlor") or name.endswith(".py"):
                shutil.copy2(os.path.join(built, name), package)
        # The program and the module with its resources, found by the package in its engine/ folder.
        engine = os.path.join(package, "engine")
        shutil.rmtree(engine, ignore_errors=True)
        os.makedirs(engine)
        for name in ("vexlor", "vexlor_module.so"):
            shutil.copy2(os.path.join(build, "bin", name), engine)
        shutil.copytree(os.path.join(build, "bin", "res"), os.path.join(engine, "res"))


class BinaryDistribution(Distribution):
    def has_ext_modules(self):
        return True  # the package holds a compiled extension: the wheel is for this platform


setup(packages=["vexlor"], package_dir={"vexlor": "python/vexlor"}, cmdclass={"build_py": BuildWithEngine},
      distclass=BinaryDistribution)
