"""pytest plugin for the sanitizer run.

Child interpreters keep AddressSanitizer and UndefinedBehaviorSanitizer but
skip the leak check at their exit: several tests start a child interpreter
that exits while library threads are still delivering events; CPython ends
those threads where they stand, so what they hold is never freed, and
short-lived interpreters built without frame pointers leave leak reports whose
stacks stop at the allocator. The test process itself keeps the full leak
check.

numpy (and so SciPy, matplotlib and the reference libraries built on it)
reports its own import-time allocations as leaks, so this run does without
it: their tests skip here, and run in the plain suite. Everything that
exercises the library and the binding still runs.
"""

import os
import sys

WITHOUT = ("numpy", "scipy", "matplotlib", "pinocchio", "coal", "toppra", "roboticstoolbox")


class _Without:
    """A finder that refuses the packages of WITHOUT as if not installed
    (a None in sys.modules would trip code that looks for numpy there)."""

    @staticmethod
    def find_spec(name, path=None, target=None):
        if name.partition(".")[0] in WITHOUT:
            raise ModuleNotFoundError("not in the sanitizer run: " + name, name=name)
        return None


def pytest_configure(config):
    options = os.environ.get("ASAN_OPTIONS", "")
    os.environ["ASAN_OPTIONS"] = (options + ":" if options else "") + "detect_leaks=0"
    sys.meta_path.insert(0, _Without())
