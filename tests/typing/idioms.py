"""Type-checked by .ci/arm.sh under mypy --strict and pyright strict, never run:
the documented idioms of velmo (through its stubs) and of velmo_arm must be
accepted, and the misuses marked `type: ignore` must be rejected (both
checkers report an ignore that is not needed)."""

import math
from typing import List, Tuple

import numpy as np
from typing_extensions import assert_type

import velmo
import velmo_arm

Six = Tuple[float, float, float, float, float, float]

robot = velmo.RC("127.0.0.1")
(code,) = robot.login()
code, joints = robot.get_joint_position()
assert_type(joints, List[float])
code, pose = robot.get_tcp_position()
code, (estop, powered, enabled) = robot.get_robot_state()
code, status = robot.get_robot_status()
assert_type(status[18], Tuple[float, ...])
code, (last_code, message) = robot.get_last_error()
code, solution = robot.kine_inverse(joints, pose)
assert_type(solution, Six)
if robot.is_in_pos()[0] == 0 and robot.is_in_pos()[1]:
    pass

robot.servo_j(np.zeros(6), 0)
robot.servo_j([0, 0.5, 1, 0, 1.57, 0], 0)
robot.joint_move(np.array([0, 0.5, 1.0, 0, 1.57, 0]), 0, True, 0.5)
robot.rot_matrix_to_rpy(np.eye(3))
robot.rot_matrix_to_rpy([[1.0, 0, 0], [0, 1, 0], [0, 0, 1]])
robot.servo_j("abcdef", 0)  # type: ignore[arg-type]
robot.servo_j(0.5, 0)  # type: ignore[arg-type]
robot.rot_matrix_to_rpy([1.0, 0.0, 0.0])  # type: ignore[list-item]

with velmo_arm.connect("127.0.0.1", enable=True) as arm:
    arm.move_joints(np.zeros(6), 1.0, timeout=5.0)
    arm.move_linear((300, 0, 400, 3.14, 0, 0), 100.0, relative=False)
    assert_type(arm.joints, Six)
    assert_type(arm.status(), velmo_arm.Status)
    assert_type(arm.digital_input(0, group=velmo_arm.IOGroup.TOOL), bool)
    with arm.servo(rate_hz=125, filter=velmo_arm.JointLowPass(20.0)) as stream:
        stream.send(np.zeros(6))
        stream.wait_settled(1.0)
    arm.on_error(print)
    arm.move_joints("abcdef", 1.0)  # type: ignore[arg-type]
    arm.move_joints(np.zeros(6), 1.0, 2.0, False)  # type: ignore[call-arg]
    try:
        arm.power_on()
    except velmo_arm.NotReadyError as e:
        assert_type(e.code, int)
        assert_type(e.message, str)


    arm.move_circular(via=(300, 50, 400, 3.14, 0, 0), end=(300, 100, 400, 3.14, 0, 0), speed=50.0)
    arm.move_circular((300, 50, 400, 3.14, 0, 0), (300, 100, 400, 3.14, 0, 0), 50.0)  # type: ignore[call-arg]
    arm.move_path([velmo_arm.LineTo(np.zeros(6), 100.0, blend=5.0), velmo_arm.JointTo(np.zeros(6), 1.0)])
    arm.move_path([(0.0,) * 6])  # type: ignore[list-item]
    arm.jog(2, 0.5, space=velmo_arm.JogSpace.JOINT, by=-0.1)
    arm.wait_for_input(0, group=velmo_arm.IOGroup.TOOL, timeout=2.0)
    with arm.record(rate_hz=125) as rec:
        arm.move_joints(np.zeros(6), 1.0, timeout=math.inf)
    assert_type(rec.samples[0], velmo_arm.Sample)
    assert_type(rec.samples[0].status.joints, Six)
    rec.to_csv("motion.csv")
    robot.jog(2, velmo_arm.JogMode.BY, velmo_arm.JogSpace.JOINT, 0.5, -0.1)
    robot.joint_move(np.zeros(6), velmo_arm.MoveMode.RELATIVE, False, 0.5)
    trajectory = velmo_arm.read_trajectory("square")
    assert_type(trajectory.samples[0].pose, velmo_arm.Pose)


async def two_arms(left: velmo_arm.Arm, right: velmo_arm.Arm) -> None:
    await left.move_joints_async(np.zeros(6), 1.0)
    await right.wait_async(timeout=2.0)
    async with left.servo_async(rate_hz=125) as stream:
        await stream.send(np.zeros(6))
    await left.move_path_async([velmo_arm.JointTo(np.zeros(6), 1.0)])
    await right.wait_for_input_async(3, value=False)
