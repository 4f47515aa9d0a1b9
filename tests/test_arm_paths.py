"""velmo_arm's blended paths: each corner passed within its blend and never
further from the polyline, fed when longer than the controller's queue, and
stopped, like every motion of the arm, when the Arm's block ends by an
exception (also what was queued through arm.rc)."""

import threading

import pytest

import velmo_arm
from velmo_arm import JointTo, LineTo
from simkit import HOME, Q1, close, dot, norm, sub

ADDRESS = "127.0.0.1"
HOME = tuple(HOME)
FAR = (2.5, 1.57, -1.57, -1.57, -1.57, 0.0)


def distance_to_segment(p, a, b):
    ab, ap = sub(b, a), sub(p, a)
    t = max(0.0, min(1.0, dot(ap, ab) / dot(ab, ab)))
    return norm(sub(p, [a[i] + t * ab[i] for i in range(3)]))


def run_sampled(sim, arm, start, limit=20000):
    """Steps manual time one 8 ms cycle at a time after `start()` (a
    non-blocking path) and returns the TCP's positions until the arm rests."""
    start()
    positions = []
    for _ in range(limit):
        sim.advance_time(0.008)
        status = arm.status()
        positions.append(status.tcp[:3])
        if status.in_position:
            return positions
    raise AssertionError("the path did not end")


def corners(arm):
    """A zigzag in a horizontal plane below the TCP: four waypoints, three corners."""
    x, y, z, rx, ry, rz = arm.forward(Q1)
    return [(x + dx, y + dy, z - 40, rx, ry, rz) for dx, dy in [(0, 0), (80, 0), (80, 80), (0, 80)]]


@pytest.mark.parametrize("blend", [5.0, 20.0])
def test_a_blended_path_passes_each_corner_within_its_blend(sim, blend):
    sim.set_time_scale(0)
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        arm.move_joints(Q1, 1.0)
        points = corners(arm)
        arm.move_linear(points[0], 100.0)
        sim.advance_time(0.0)  # manual time from here: one cycle per look

        def path(blend_mm):
            return [LineTo(p, speed=100.0, blend=blend_mm) for p in points[1:]]

        blended = run_sampled(sim, arm, lambda: arm.move_path(path(blend), wait=False))
        arm.wait()  # the path is done, and at its end
        assert close(arm.tcp[:3], points[-1][:3], 1e-6)
        arm.move_linear(points[0], 100.0, wait=False)
        sim.advance_time(30.0)
        arm.wait()
        sharp = run_sampled(sim, arm, lambda: arm.move_path(path(0.0), wait=False))

    polyline = [p[:3] for p in points]
    for sample in blended:  # never further from the polyline than the blend
        assert min(distance_to_segment(sample, a, b) for a, b in zip(polyline, polyline[1:])) <= blend + 1e-6
    for corner in polyline[1:-1]:
        nearest = min(norm(sub(sample, corner)) for sample in blended)
        assert 0.2 < nearest <= blend + 1e-6  # it cut the corner, within the blend
        assert min(norm(sub(sample, corner)) for sample in sharp) < 1e-6  # without a blend it stops there
    assert len(blended) < len(sharp)  # and never stopping makes it quicker


def test_a_blended_joint_path_cuts_its_corners_and_ends_at_its_target(sim):
    sim.set_time_scale(0)
    a = (0.3, 1.4, -1.4, -1.6, -1.5, 0.2)
    b = (0.6, 1.2, -1.1, -1.6, -1.5, 0.2)
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        arm.move_joints(HOME, 1.0)
        sim.advance_time(0.0)
        arm.move_path([JointTo(a, 0.5, blend=0.05), JointTo(b, 0.5)], wait=False)
        nearest = 10.0
        while True:
            sim.advance_time(0.008)
            status = arm.status()
            nearest = min(nearest, max(abs(q - c) for q, c in zip(status.joints, a)))
            if status.in_position:
                break
        arm.wait()
        assert close(arm.joints, b, 1e-9)
        assert 1e-4 < nearest <= 0.05 + 1e-9  # passed the corner within 0.05 rad, without stopping on it


def test_a_path_longer_than_the_queue_is_fed_while_it_runs(sim):
    sim.advance_time(0.0)
    steps = [tuple(q + 0.02 * (k % 2) for q in HOME) for k in range(1, 101)]  # 100 moves: 64 queue at most
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        most = []
        done = threading.Event()

        def advance():
            while not done.wait(0.001):
                sim.advance_time(0.02)
                most.append(arm.rc.get_robot_status()[1][9])

        mover = threading.Thread(target=advance)
        mover.start()
        try:
            arm.move_path([JointTo(q, 1.0, blend=0.005) for q in steps], timeout=120)
        finally:
            done.set()
            mover.join()
        assert arm.joints == pytest.approx(steps[-1], abs=1e-9)
        assert max(most) <= 64
    queued = [c for c in sim.entries() if c.function in ("joint_move", "joint_move_extend")]
    assert len(queued) == 100 and all(close(c.args["joint_pos"], q, 1e-15) for c, q in zip(queued, steps))
    assert [c.args.get("tol") for c in queued] == [0.005] * 99 + [None]  # the last one stops at its target


STARTS = {
    "a path": lambda arm: arm.move_path([JointTo(FAR, 0.2)], wait=False),
    "a move through arm.rc": lambda arm: arm.rc.joint_move_extend(FAR, 0, False, 0.2, 1.0, 0.0),
    "a program of moves through arm.rc": lambda arm: [arm.rc.joint_move(q, 0, False, 0.2) for q in (FAR, HOME)],
}


@pytest.mark.parametrize("start", list(STARTS))
def test_leaving_by_an_exception_stops_every_motion_of_the_arm(sim, start):
    sim.advance_time(0.0)
    with pytest.raises(RuntimeError, match="the script failed"):
        with velmo_arm.connect(ADDRESS, enable=True) as arm:
            STARTS[start](arm)
            sim.advance_time(0.5)
            assert not arm.status().in_position
            raise RuntimeError("the script failed")
    sim.advance_time(30.0)  # far longer than the moves would have taken
    robot = velmo_arm.connect(ADDRESS)
    try:
        status = robot.status()
        assert status.in_position and status.motions_queued == 0
        assert 0 < status.joints[0] < 0.5  # stopped about where it was
    finally:
        robot.close()


def test_a_normal_exit_leaves_moves_queued_through_rc_alone(sim):
    """Only an exception stops what the Arm did not start; a normal exit
    stops what it started (see the docs)."""
    sim.advance_time(0.0)
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        arm.rc.joint_move(Q1, 0, False, 1.0)
    sim.advance_time(30.0)
    robot = velmo_arm.connect(ADDRESS)
    try:
        assert close(robot.joints, Q1, 1e-9)
    finally:
        robot.close()
