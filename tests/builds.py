"""What differs between the Linux and the Windows build of velmo, for the
tests that see it. Both come from the platform: `long` is 64 bits on Linux
and 32 bits on Windows, and the Windows module exports its entry point alone.

And how the module's sources are compiled, read from CMakeLists.txt, for the
tests that compile a piece of them."""

import os
import pathlib
import re
import shutil
import subprocess
import sys
import sysconfig

import pytest

WINDOWS = sys.platform == "win32"

# struct code of the C long: the code field of the last-error record
LONG = "i" if WINDOWS else "q"

linux_exports = pytest.mark.skipif(
    WINDOWS, reason="reads ipaddr, pythonCallBack or call_func, which only the Linux module exports")


# ---- compiling the module's sources -------------------------------------------------------

ROOT = pathlib.Path(__file__).resolve().parents[1]


def module_flags():
    """The compiler flags CMakeLists.txt gives the module's sources (language standard,
    warnings, definitions), with the include folders of the library's header, the
    sources and this interpreter."""
    cmake = (ROOT / "CMakeLists.txt").read_text()
    standard = re.search(r"set\(CMAKE_CXX_STANDARD (\d+)\)", cmake).group(1)
    options = re.search(r"target_compile_options\(velmo PRIVATE ([^)]*)\)", cmake).group(1).split()
    definitions = re.search(r"target_compile_definitions\(velmo PRIVATE ([^)]*)\)", cmake).group(1).split()
    return ([f"-std=c++{standard}"] + options + [f"-D{d}" for d in definitions if "$<" not in d]
            + [f"-I{ROOT / 'include'}", f"-I{ROOT / 'src'}", f"-I{sysconfig.get_paths()['include']}"])


def compiler():
    """A C++ compiler, when there is one and this interpreter's headers are installed."""
    found = os.environ.get("CXX") or shutil.which("c++") or shutil.which("g++") or shutil.which("clang++")
    headers = pathlib.Path(sysconfig.get_paths()["include"]) / "Python.h"
    return found if found and headers.is_file() and not WINDOWS else None


needs_compiler = pytest.mark.skipif(compiler() is None, reason="no C++ compiler or no Python headers")


def compile_source(source, tmp_path, *flags):
    """Compile `source` as one translation unit of the module (syntax and
    templates only, no object file); the compiler's run."""
    path = tmp_path / "unit.cpp"
    path.write_text(source)
    return subprocess.run([compiler(), "-fsyntax-only", *module_flags(), *flags, str(path)],
                          capture_output=True, text=True, timeout=300)
