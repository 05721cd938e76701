"""The Python package through the project's own CMake build: build_ext
configures the project with the module required and its tests off, builds
the module's target alone and copies the extension where setuptools packs
it, beside the package's Python files, stub and typing marker."""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


def version():
    header = (ROOT / "include" / "runlabel" / "runlabel.h").read_text()
    parts = dict(re.findall(r"#define RUNLABEL_VERSION_(MAJOR|MINOR|PATCH) (\d+)", header))
    return "{MAJOR}.{MINOR}.{PATCH}".format(**parts)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        configure = ["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                     "-DRUNLABEL_TESTS=OFF", "-DRUNLABEL_PYTHON=ON", "-DRUNLABEL_PYTHON_REQUIRED=ON",
                     # The interpreter pip runs, a virtual environment's too.
                     f"-DRUNLABEL_PYTHON_EXECUTABLE={sys.executable}"]
        if not (build / "CMakeCache.txt").exists() and shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        command = ["cmake", "--build", str(build), "--target", "runlabel_python"]
        if self.parallel:
            command += ["--parallel", str(self.parallel)]
        subprocess.run(command, check=True)
        built = build / "python" / "runlabel" / ("_runlabel" + sysconfig.get_config_var("EXT_SUFFIX"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    version=version(),
    packages=["runlabel"],
    package_dir={"runlabel": os.path.join("python", "runlabel")},
    package_data={"runlabel": ["__init__.pyi", "py.typed"]},
    ext_modules=[Extension("runlabel._runlabel", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
