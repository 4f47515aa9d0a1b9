"""Shared by the tests of the virtual controller's files, programs,
recording, force control and settings: their codes, a private controller
folder, and small helpers."""

import queue

import pytest

BAD_FILE_NAME, FILE_EXISTS, PROGRAM_LINE, WRONG_STATE, FILE_ACCESS = 18, 19, 20, 21, 22
IDLE, RUNNING, PAUSED, STOPPED_BY_ERROR = 0, 1, 2, 3


@pytest.fixture
def home(monkeypatch, tmp_path):
    """A fresh controller folder (ZSIM_HOME), with programs/ made."""
    folder = tmp_path / "zsim-home"
    (folder / "programs").mkdir(parents=True)
    monkeypatch.setenv("ZSIM_HOME", str(folder))
    return folder


def write_program(home, name, lines):
    (home / "programs" / name).write_text("\n".join(lines) + "\n")


def value(result):
    """The value of a call that must succeed: (0, v) -> v."""
    assert result[0] == 0, result
    return result[1]


class Events:
    """An error handler that hands the codes to the test."""

    def __init__(self, robot):
        self.codes = queue.Queue()
        robot.set_error_handler(self.codes.put)

    def next(self, timeout=10.0):
        return self.codes.get(timeout=timeout)

    def none_pending(self):
        return self.codes.empty()
