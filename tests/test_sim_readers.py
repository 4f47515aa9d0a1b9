"""What a reader sees is the arm at the present simulated time, however late
the motion thread is: between two reads a joint never appears to travel
further than its speed allows over the time between them. The check is one
sided (a busy host only lengthens the time between reads), so it holds under
any load; the pollers, the second arm and busy processes make the motion
thread late, which is when stale positions followed by a burst of cycles
used to show up."""

import subprocess
import sys
import threading
import time

import velmo

CYCLE = 0.008
JOG_SPEED = 0.8  # rad/s, joint 1


def busy_arm(stop):
    """A second arm moving back and forth, read without pause."""
    other = velmo.RC("127.0.0.2")
    assert other.login() == (0,)
    assert other.power_on() == (0,) and other.enable_robot() == (0,)
    assert other.jog(1, 2, 1, 0.5, 0.0) == (0,)
    while not stop.is_set():
        other.get_robot_status()
    other.jog_stop(-1)
    other.logout()


def poller(robot, stop):
    while not stop.is_set():
        robot.get_robot_status()


def test_reads_never_show_a_joint_faster_than_its_speed(arm, sim):
    sim.set_time_scale(1)
    stop = threading.Event()
    helpers = [threading.Thread(target=busy_arm, args=(stop,))]
    helpers += [threading.Thread(target=poller, args=(arm, stop)) for _ in range(2)]
    for thread in helpers:
        thread.start()
    # processes that keep both cores busy, so the motion thread wakes late
    hogs = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(2)]
    try:
        assert arm.jog(0, 2, 1, JOG_SPEED, 0.0) == (0,)
        reads = []  # (wall time before the read, after it, joint 1)
        deadline = time.monotonic() + 20  # a loaded host reads slowly: until the jog has gone 0.3 rad
        while time.monotonic() < deadline and (len(reads) < 2 or reads[-1][2] - reads[0][2] < 0.3):
            before = time.monotonic()
            code, q = arm.get_joint_position()
            reads.append((before, time.monotonic(), q[0]))
            assert code == 0
        assert arm.jog_stop(-1) == (0,)
    finally:
        stop.set()
        for hog in hogs:
            hog.kill()
            hog.wait()
        for thread in helpers:
            thread.join()
    assert reads[-1][2] - reads[0][2] >= 0.3  # the jog ran
    worst = 0.0
    for (start, _, a), (_, end, b) in zip(reads, reads[1:]):
        # at most the time between the first read's start and the second's
        # end, plus the cycle the second read may end inside of
        allowed = JOG_SPEED * (end - start + CYCLE) + 1e-9
        worst = max(worst, abs(b - a) / allowed)
    assert worst <= 1.0, f"a read showed {worst:.2f} times the jog speed"

