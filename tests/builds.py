"""What differs between the Linux and the Windows build of velmo, for the
tests that see it. Both come from the platform: `long` is 64 bits on Linux
and 32 bits on Windows, and the Windows module exports its entry point alone."""

import sys

import pytest

WINDOWS = sys.platform == "win32"

# struct code of the C long: the code field of the last-error record
LONG = "i" if WINDOWS else "q"

linux_exports = pytest.mark.skipif(
    WINDOWS, reason="reads ipaddr, pythonCallBack or call_func, which only the Linux module exports")
