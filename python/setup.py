"""Builds the extension module with the project's CMake build, for pip.

The module, libwks.so.1 and libwks-export.so.1 (where it is built) go into
the package side by side and find each other from their own place
($ORIGIN), so the installed package needs nothing else of the project.
"""
import glob
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        # Prefix /usr: the library directory is the system's, so every
        # binary's search path is just $ORIGIN, the package's directory.
        subprocess.run(["cmake", "-S", SOURCE, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DWKS_TESTS=OFF",
                        "-DCMAKE_INSTALL_PREFIX=/usr", "-DCMAKE_BUILD_WITH_INSTALL_RPATH=ON",
                        "-DCMAKE_INSTALL_RPATH=$ORIGIN", "-DPython_EXECUTABLE=" + sys.executable], check=True)
        subprocess.run(["cmake", "--build", build, "--target", "wks_python", "-j", str(os.cpu_count() or 1)],
                       check=True)
        target = os.path.dirname(os.path.abspath(self.get_ext_fullpath(ext.name)))
        os.makedirs(target, exist_ok=True)
        shutil.copy(glob.glob(os.path.join(build, "python", "wks", "_wks*.so"))[0], self.get_ext_fullpath(ext.name))
        for library in ("libwks.so.1", "libwks-export.so.1"):
            if os.path.exists(os.path.join(build, library)):
                shutil.copy(os.path.join(build, library), os.path.join(target, library))


setup(ext_modules=[Extension("wks._wks", sources=[])], cmdclass={"build_ext": CMakeBuild})
