"""pytest plugin for the sanitizer run: child interpreters keep AddressSanitizer
and UndefinedBehaviorSanitizer but skip the leak check at their exit.

Several tests start a child interpreter that exits while library threads are
still delivering events; CPython ends those threads where they stand, so what
they hold is never freed, and short-lived interpreters built without frame
pointers leave leak reports whose stacks stop at the allocator. The test
process itself keeps the full leak check.
"""

import os


def pytest_configure(config):
    options = os.environ.get("ASAN_OPTIONS", "")
    os.environ["ASAN_OPTIONS"] = (options + ":" if options else "") + "detect_leaks=0"
