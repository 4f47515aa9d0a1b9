"""The live view around a short script (sim/view/session.h): ZSIM_VIEW_WAIT
holds the first motion until a page watches, ZSIM_VIEW_HOLD serves on after
the script with the state marked "script ended" until the last page closes.
Each test runs a script in a child process and watches it as a page would,
through the event stream (.ci/view_browser.py does the same with a real
browser)."""

import os
import re
import subprocess
import sys
import time

import pytest

from viewkit import HERE, Stream, run_child

MOVE = (0.5, 1.2, -1.3, -1.2, -1.5, 0.2)
SCRIPT = f"""
import sys, time
sys.path.insert(0, {str(HERE)!r})
import velmo
robot = velmo.RC("127.0.0.1")
assert robot.login() == (0,) and robot.power_on() == (0,) and robot.enable_robot() == (0,)
start = time.monotonic()
assert robot.joint_move({MOVE!r}, 0, True, 1.0) == (0,)
print("first motion after %.3f s" % (time.monotonic() - start), flush=True)
assert robot.joint_move((0, 1.2, -1.3, -1.2, -1.5, 0.2), 0, True, 1.0) == (0,)
print("second motion done", flush=True)
"""


class Script:
    """SCRIPT in a child process with the view on; `url` once it serves."""

    def __init__(self, **settings):
        env = dict(os.environ, ZSIM_VIEW="127.0.0.1:0", ZSIM_TIME_SCALE="0")  # every move done at once
        for name in ("ZSIM_VIEW_WAIT", "ZSIM_VIEW_HOLD"):
            env.pop(name, None)
        env.update(settings)
        self.started = time.monotonic()
        self.process = subprocess.Popen([sys.executable, "-c", SCRIPT], env=env, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True)
        self.lines = []
        self.url = re.search(r"http://\S+", self.line("zsim view: http")).group(0)

    def line(self, starting):
        """The next line of standard error that starts with `starting`."""
        while True:
            line = self.process.stderr.readline()
            assert line, "the script ended before it said %r: %s" % (starting, self.lines)
            self.lines.append(line)
            if line.startswith(starting):
                return line

    def finish(self, timeout=15):
        """(exit code, standard output, the rest of standard error), and when it exited."""
        out, err = self.process.communicate(timeout=timeout)
        return self.process.returncode, out, "".join(self.lines) + err, time.monotonic()

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.communicate()


@pytest.fixture
def script():
    made = []

    def start(**settings):
        made.append(Script(**settings))
        return made[-1]
    yield start
    for s in made:
        s.kill()


def samples_until(stream, predicate, timeout=10):
    end = time.monotonic() + timeout
    seen = []
    while time.monotonic() < end:
        seen.append(stream.sample())
        if predicate(seen[-1]):
            return seen
    raise AssertionError("never came: %s" % seen[-1:])


def test_the_first_motion_waits_for_a_page_and_the_page_sees_it_start(script):
    child = script(ZSIM_VIEW_WAIT="20", ZSIM_TIME_SCALE="1")  # moves of about half a second
    child.line("zsim view: the first motion waits for a page at " + child.url + ", at most 20 s")
    time.sleep(1.0)  # a person copying the URL
    assert child.process.poll() is None
    page = Stream(child.url)
    first = page.sample()["controllers"][0]
    assert first["joints"][0] == 0 and first["target"] is None  # the arm as it stood before the motion
    seen = samples_until(page, lambda s: s["controllers"][0]["joints"][0] > MOVE[0] / 2)  # on its way
    code, out, err, _ = child.finish()
    page.close()
    assert code == 0, err
    waited = float(re.search(r"first motion after ([0-9.]+) s", out).group(1))
    assert 0.9 <= waited < 10
    assert "zsim view: a page watches; the motion starts" in err
    assert err.count("waits for a page") == 1  # the second motion does not wait
    assert all(s["script"] == "running" for s in seen)


def test_with_no_page_the_first_motion_starts_after_the_wait(script):
    child = script(ZSIM_VIEW_WAIT="1.5")
    code, out, err, _ = child.finish()
    assert code == 0, err
    waited = float(re.search(r"first motion after ([0-9.]+) s", out).group(1))
    assert 1.4 <= waited < 5
    assert "zsim view: no page came; the motion starts" in err and "second motion done" in out


def test_the_view_serves_on_after_the_script_until_its_last_page_closes(script):
    child = script(ZSIM_VIEW_WAIT="20", ZSIM_VIEW_HOLD="30")
    pages = [Stream(child.url), Stream(child.url)]
    ended = [samples_until(p, lambda s: s["script"] == "ended")[-1] for p in pages]
    assert ended[0]["controllers"][0]["joints"][0] == 0  # the second move's end, shown greyed on the page
    child.line("zsim view: the script has ended; %s serves on until its last page closes, at most 30 s" % child.url)
    time.sleep(1.5)
    assert child.process.poll() is None  # still serving: a page watches
    pages[0].close()
    time.sleep(1.5)
    assert child.process.poll() is None  # one page still watches
    closed = time.monotonic()
    pages[1].close()
    code, _, err, exited = child.finish()
    assert code == 0, err
    assert exited - closed < 3  # noticed at the stream's next keep-alive (a second)


def test_with_no_page_the_view_serves_on_for_its_seconds_then_the_process_exits(script):
    child = script(ZSIM_VIEW_HOLD="2")
    child.line("zsim view: the script has ended")
    ended = time.monotonic()
    code, _, err, exited = child.finish()
    assert code == 0, err
    assert 1.9 <= exited - ended < 4


def test_a_page_that_comes_after_the_script_sees_it_ended_and_closing_it_ends_the_process(script):
    child = script(ZSIM_VIEW_HOLD="30")
    child.line("zsim view: the script has ended")
    page = Stream(child.url)
    assert page.sample()["script"] == "ended"
    closed = time.monotonic()
    page.close()
    code, _, err, exited = child.finish()
    assert code == 0, err
    assert exited - closed < 3


@pytest.mark.parametrize("name", ["ZSIM_VIEW_WAIT", "ZSIM_VIEW_HOLD"])
@pytest.mark.parametrize("setting", ["soon", "-1", "nan", "inf", "1e9", "2s"])
def test_a_setting_that_is_not_seconds_is_reported_and_ignored(name, setting):
    start = time.monotonic()
    child = run_child(SCRIPT, ZSIM_VIEW="127.0.0.1:0", ZSIM_TIME_SCALE="0", **{name: setting})
    assert child.returncode == 0, child.stderr
    assert f"zsim view: {name}={setting} ignored: expected seconds from 0 to 3600" in child.stderr
    assert "waits for a page" not in child.stderr and "serves on" not in child.stderr
    assert time.monotonic() - start < 8


def test_without_the_view_neither_setting_does_anything():
    child = run_child(SCRIPT, ZSIM_TIME_SCALE="0", ZSIM_VIEW_WAIT="30", ZSIM_VIEW_HOLD="30", timeout=20)
    assert child.returncode == 0 and "zsim view" not in child.stderr, child.stderr
