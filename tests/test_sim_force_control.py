"""Force control that acts: drag mode moves the arm by the hand's wrench,
admittance control yields along its axes with the documented first-order
dynamics (D dx/dt + K x = f + ftConstant) and presses with a constant
force, and the payload identification finds what the arm really carries.
Joint torques and Jacobians come from Pinocchio (dynkit.py)."""

import math

import pytest

from simkit import (ADDRESS, BUSY, COLLISION, CYCLE, HOME, LOWER, MAX_SPEED, UPPER, flange, joints,
                    pose_matrix, tcp, value)

np = pytest.importorskip("numpy")
pytest.importorskip("pinocchio")

from dynkit import at_rest, wrench_torques  # noqa: E402

DRAG_DAMPING = np.array([30.0, 30.0, 15.0, 3.0, 3.0, 3.0])  # N m per rad/s
ADMITTANCE_SPEED = 100.0                                   # mm/s that ftUser drives an axis at
TOOL = [0.0, 0.0, 120.0, 0.0, 0.0, 0.0]


@pytest.fixture
def tooled(arm, sim):
    """An enabled arm with a 120 mm tool, its force sensor on, in manual time."""
    assert arm.set_tool_data(1, TOOL, "probe") == (0,) and arm.set_tool_id(1) == (0,)
    assert arm.set_torsenosr_brand(3) == (0,) and arm.set_torque_sensor_mode(1) == (0,)
    sim.advance_time(0)
    return arm


def tcp_matrix(q):
    return np.array(flange(q)) @ np.array(pose_matrix(TOOL))


# ---- drag mode --------------------------------------------------------------------------------

def test_drag_mode_moves_each_joint_by_the_hands_torque_over_its_damping(tooled, sim):
    arm = tooled
    assert arm.drag_mode_enable(1) == (0,)
    sim.advance_time(0.1)
    assert arm.is_in_pos() == (0, 1) and joints(arm) == HOME  # nobody pushes: it rests
    force, torque = np.array([25.0, -15.0, 10.0]), np.array([0.0, 0.5, 0.0])
    sim.apply_wrench(ADDRESS, force, torque)
    q = np.array(HOME)
    for _ in range(40):  # each cycle from what the joints felt at the one before
        speed = np.clip(wrench_torques(q, TOOL, force, torque) / DRAG_DAMPING, -0.5 * np.array(MAX_SPEED),
                        0.5 * np.array(MAX_SPEED))
        q = np.clip(q + speed * CYCLE, LOWER, UPPER)
        sim.advance_time(CYCLE)
        assert joints(arm) == pytest.approx(q, abs=1e-9)
    assert arm.is_in_pos() == (0, 0) and arm.joint_move(HOME, 0, False, 0.5) == (BUSY,)
    sim.apply_wrench(ADDRESS)  # let go: one more cycle on the last reading, then at rest
    sim.advance_time(3 * CYCLE)
    held = joints(arm)
    sim.advance_time(1.0)
    assert joints(arm) == held and arm.is_in_pos() == (0, 1)


def test_drag_mode_keeps_collision_detection_on_but_not_for_the_hand(tooled, sim):
    arm = tooled
    assert arm.set_collision_level(1) == (0,)
    assert arm.drag_mode_enable(1) == (0,)
    sim.apply_wrench(ADDRESS, (0, 300, 0))  # far beyond the threshold, but it is the hand: joint 1 turns
    sim.advance_time(0.3)
    assert arm.is_in_collision() == (0, 0) and joints(arm) != HOME
    sim.apply_wrench(ADDRESS)
    sim.set_actual_payload(ADDRESS, 12.0, (0, 0, 60))  # a weight nobody declared
    sim.advance_time(2 * CYCLE)
    assert arm.is_in_collision() == (0, 1) and arm.get_robot_status()[1][0] == COLLISION


@pytest.mark.parametrize("push, code", [
    ((10, 0, 0), 0),           # still pushing lightly: under level 3's threshold
    ((60, 0, 0), COLLISION),   # still pushing hard: no longer the hand of drag mode, a collision
])
def test_leaving_drag_mode_rests_the_arm(tooled, sim, push, code):
    arm = tooled
    assert arm.drag_mode_enable(1) == (0,)
    sim.apply_wrench(ADDRESS, push)
    sim.advance_time(0.2)
    assert arm.is_in_pos() == (0, 0)
    assert arm.drag_mode_enable(0) == (0,)
    held = joints(arm)
    assert arm.is_in_pos() == (0, 1) and arm.is_in_collision() == (0, int(code == COLLISION))
    sim.advance_time(0.5)
    assert joints(arm) == held
    assert arm.joint_move(HOME, 0, False, 1.0) == (code,)


# ---- admittance control -------------------------------------------------------------------------

def admit(arm, axis, ft_user, ft_constant=0.0, rebound=0.0):
    assert arm.set_admit_ctrl_config(axis, 1, ft_user, ft_constant, 0, rebound) == (0,)


@pytest.mark.parametrize("axis, ft_user, rebound, push", [
    (2, 50.0, 1.0, 20.0),    # along the tool's z: 20 mm at rest, time constant 0.5 s
    (0, 80.0, 2.0, -30.0),   # along x: -15 mm, 0.4 s
    (1, 20.0, 0.5, 6.0),     # along y: 12 mm, 0.4 s
])
def test_admittance_yields_like_a_damped_spring(tooled, sim, axis, ft_user, rebound, push):
    """A force along a compliant axis moves the TCP by x(t) = f/K (1 - exp(-t K/D)),
    D = ftUser / 100 mm/s; the other axes and the orientation hold."""
    arm = tooled
    admit(arm, axis, ft_user, rebound=rebound)
    assert arm.enable_admittance_ctrl(1) == (0,)
    start = tcp_matrix(HOME)
    direction = start[:3, axis]  # the anchor's axis, in the base frame
    sim.apply_wrench(ADDRESS, push * direction)
    rest, tau = push / rebound, (ft_user / ADMITTANCE_SPEED) / rebound
    for n in range(1, 250):
        sim.advance_time(CYCLE)
        now = tcp_matrix(joints(arm))
        moved = now[:3, 3] - start[:3, 3]
        along = moved @ direction
        assert along == pytest.approx(rest * (1 - math.exp(-n * CYCLE / tau)), abs=0.015 * abs(rest))
        assert np.linalg.norm(moved - along * direction) < 1e-6
        assert np.abs(now[:3, :3] - start[:3, :3]).max() < 1e-9
    sim.advance_time(10 * tau)
    along = (tcp_matrix(joints(arm))[:3, 3] - start[:3, 3]) @ direction
    assert along == pytest.approx(rest, rel=1e-4) and arm.is_in_pos() == (0, 1)
    sim.apply_wrench(ADDRESS)  # let go: it springs back to where it was switched on
    sim.advance_time(10.0)
    assert np.linalg.norm(tcp_matrix(joints(arm))[:3, 3] - start[:3, 3]) < 1e-3
    assert arm.is_in_pos() == (0, 1)


@pytest.mark.parametrize("ft_user, ft_constant, speed", [
    (40.0, 10.0, 25.0),     # 100 mm/s * 10 / 40
    (10.0, 30.0, 100.0),    # held to full speed
    (40.0, -20.0, -50.0),
])
def test_a_constant_force_in_free_space_drives_the_tcp_along_its_axis(tooled, sim, ft_user, ft_constant, speed):
    arm = tooled
    admit(arm, 2, ft_user, ft_constant)
    assert arm.enable_admittance_ctrl(1) == (0,)
    start = tcp_matrix(HOME)
    sim.advance_time(60 * CYCLE)
    moved = tcp_matrix(joints(arm))[:3, 3] - start[:3, 3]
    assert moved == pytest.approx(start[:3, 2] * speed * 60 * CYCLE, abs=1e-6)


def test_admittance_owns_the_arm_until_it_is_switched_off(tooled, sim):
    arm = tooled
    admit(arm, 2, 40.0, 10.0)
    assert arm.enable_admittance_ctrl(1) == (0,)
    sim.advance_time(0.2)
    for move in (lambda: arm.joint_move(HOME, 0, False, 1.0), lambda: arm.servo_move_enable(1),
                 lambda: arm.drag_mode_enable(1)):
        assert move() == (BUSY,)
    assert arm.disable_force_control() == (0,)
    held = joints(arm)
    sim.advance_time(0.5)
    assert joints(arm) == held and arm.is_in_pos() == (0, 1)
    assert arm.joint_move(HOME, 0, False, 1.0) == (0,)
    assert arm.enable_admittance_ctrl(1) == (BUSY,)  # switched on at rest only


def test_admittance_stops_where_the_tcp_cannot_go_on(tooled, sim):
    arm = tooled
    admit(arm, 2, 10.0, -50.0)  # up, at full speed, until out of reach
    assert arm.enable_admittance_ctrl(1) == (0,)
    sim.advance_time(20.0)
    code = arm.get_robot_status()[1][0]
    assert code in (6, 7, 15) and arm.is_in_pos() == (0, 1)
    assert arm.get_last_error()[1][0] == code


# ---- payload identification -------------------------------------------------------------------

@pytest.mark.parametrize("declared, actual", [
    ((0.0, (0, 0, 0)), (3.2, (12.0, -25.0, 70.0))),
    ((5.0, (0, 0, 50)), (5.0, (0, 0, 50))),
    ((2.0, (0, 0, 0)), (9.5, (-80.0, 40.0, 150.0))),
    ((1.0, (0, 0, 40)), (0.0, (0, 0, 0))),
])
def test_identification_finds_the_payload_the_arm_really_carries(tooled, sim, declared, actual):
    arm = tooled
    sim.set_time_scale(0)
    assert arm.set_collision_level(0) == (0,)  # a wrong declaration would stop the arm on the way
    assert arm.set_payload(*declared) == (0,)
    sim.set_actual_payload(ADDRESS, actual[0], actual[1])
    assert arm.start_torq_sensor_payload_identify([0.2, 1.2, -1.1, -1.5, -1.4, 0.3]) == (0,)
    assert arm.get_torq_sensor_identify_staus() == (0, 2)
    mass, *centre = value(arm.get_torq_sensor_payload_identify_result())
    assert mass == pytest.approx(actual[0], rel=0.02, abs=1e-9)
    if actual[0]:
        assert np.linalg.norm(np.array(centre) - actual[1]) < 5.0


@pytest.mark.parametrize("ft_user, ft_constant", [(20.0, 20.0), (50.0, 20.0), (5.0, 40.0), (100.0, 60.0)])
def test_a_constant_force_presses_onto_a_surface_and_settles_at_that_force(tooled, sim, ft_user, ft_constant):
    """Down the tool's z onto a box 170 mm below the TCP: the TCP approaches,
    touches, and comes to rest pressing with ftConstant (the contact's force,
    and what the joints give by Pinocchio), within 5%, never pressing harder
    than 5% over it on the way."""
    arm = tooled
    start = value(arm.get_tcp_position())
    top = start[2] - 170
    sim.add_box("box", [start[0], start[1], top / 2, 0, 0, 0], [300, 300, top])
    admit(arm, 2, ft_user, ft_constant)
    assert arm.enable_admittance_ctrl(1) == (0,)
    hardest = 0.0
    for _ in range(1500):
        sim.advance_time(CYCLE)
        pressing = sum(c["force"][2] for c in sim.contacts(ADDRESS))  # the surface pushes the arm up
        hardest = max(hardest, pressing)
        if arm.is_in_pos() == (0, 1):
            break
    assert arm.is_in_pos() == (0, 1) and arm.get_robot_status()[1][0] == 0
    assert pressing == pytest.approx(ft_constant, rel=0.05) and hardest <= 1.05 * ft_constant
    q = joints(arm)
    held = at_rest(q) - np.array(sim.joint_torques(ADDRESS))  # what the surface does for the joints
    assert held == pytest.approx(wrench_torques(q, TOOL, (0, 0, ft_constant)), rel=0.05, abs=0.05)
    sim.advance_time(1.0)
    assert joints(arm) == q  # at rest: it costs nothing until something changes
