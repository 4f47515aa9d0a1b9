"""The library's debug log opens only regular files, and never waits: a
named pipe (with or without a reader), a device or a folder is refused at
once with 22. Each case runs in a child with a time limit, so that a log
that blocked would fail the test instead of hanging the suite."""

import os
import subprocess
import sys
import textwrap

import pytest

from simkit import ADDRESS, FILE_ACCESS

DEBUG_LOG = textwrap.dedent("""
    import sys, velmo
    r = velmo.RC("{address}"); r.login()
    if sys.argv[2] == "mode first":
        print(r.set_debug_mode(1)[0], r.set_SDK_filepath(sys.argv[1])[0])
    else:
        print(r.set_SDK_filepath(sys.argv[1])[0], r.set_debug_mode(1)[0])
    print(r.power_on()[0])  # a call the log would write
""")


def log_to(path, order):
    child = subprocess.run([sys.executable, "-c", DEBUG_LOG.format(address=ADDRESS), str(path), order],
                           capture_output=True, text=True, timeout=60)
    assert child.returncode == 0, child.stderr
    return [int(w) for w in child.stdout.split()]


@pytest.mark.skipif(sys.platform == "win32", reason="named pipes in the file system and /dev are POSIX's")
@pytest.mark.parametrize("order", ["mode first", "file first"])
@pytest.mark.parametrize("target", ["fifo", "fifo with a reader", "/dev/null", "folder"])
def test_the_debug_log_opens_only_regular_files_and_never_waits(tmp_path, order, target):
    path = tmp_path / "log"
    reader = None
    if target.startswith("fifo"):
        os.mkfifo(path)
        if target == "fifo with a reader":
            reader = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
    elif target == "folder":
        path.mkdir()
    else:
        path = target
    try:
        codes = log_to(path, order)
    finally:
        if reader is not None:
            os.close(reader)
    if order == "file first" and target == "folder":
        assert codes == [FILE_ACCESS, 0, 0]  # refused when named; debug mode then has no file
    else:
        assert codes == [0, FILE_ACCESS, 0]  # refused when it is opened, at once


@pytest.mark.skipif(sys.platform != "win32", reason="Windows devices")
@pytest.mark.parametrize("device", ["NUL", "CON"])
def test_the_debug_log_refuses_a_device_on_windows(device):
    assert log_to(device, "mode first") == [0, FILE_ACCESS, 0]


def test_the_debug_log_still_appends_to_a_regular_file(tmp_path):
    path = tmp_path / "calls.log"
    assert log_to(path, "file first") == [0, 0, 0]
    assert '"fn": "power_on"' in path.read_text()
