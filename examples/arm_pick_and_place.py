"""Pick and place with velmo_arm: blended paths, a part sensor, a gripper.

The same cell as io_program.py, written with the velmo_arm layer instead of
a controller program: connect() logs in and, on leaving the with block (also
by an error or Ctrl-C), stops the arm and logs out; every failure raises an
ArmError that names the code. The gripper is cabinet output 0; tool input 0
says a part is in it (the virtual controller's probe sets it here, as the
sensor would).

The carry from the pick spot to the place spot is one blended path: up,
across and down, passing each corner within 30 mm instead of stopping on it.
Each move waits until the arm stands at its target; a move stopped from
elsewhere (another client's abort, a disable) raises instead.

The virtual controller's time runs ZSIM_TIME_SCALE times as fast as real
time; at 0 each move ends inside its call (and paths do not blend).

    python examples/arm_pick_and_place.py [address]
"""

import math
import sys

import velmo_arm
import zandrel_sim
from velmo_arm import IOGroup, JointTo, LineTo

HOME = (0.0, math.pi / 2, -math.pi / 2, -math.pi / 2, -math.pi / 2, 0.0)
ABOVE_PICK = (0.3, 1.3, -1.2, -1.6, -1.5, 0.2)
ABOVE_PLACE = (-0.4, 1.3, -1.2, -1.6, -1.5, 0.2)
DEPTH = 80.0  # mm from above a spot down to it
BLEND = 30.0  # mm: how close to a corner of the carry the arm passes
GRIPPER, PART_PRESENT = 0, 0


def lowered(pose: velmo_arm.Pose, mm: float) -> velmo_arm.Pose:
    x, y, z, rx, ry, rz = pose
    return (x, y, z - mm, rx, ry, rz)


def main(address: str = "127.0.0.1") -> None:
    sim = zandrel_sim.Probe()
    with velmo_arm.connect(address, enable=True, timeout=120) as arm:
        print("powered:", arm.powered, "enabled:", arm.enabled)
        arm.move_joints(ABOVE_PICK, speed=1.0)
        above_pick, above_place = arm.tcp, arm.forward(ABOVE_PLACE)
        print("above the pick spot")

        arm.move_linear(lowered(above_pick, DEPTH), speed=100.0, acc=400.0)
        arm.set_digital_output(GRIPPER, True)
        print(f"  gripper closed at z = {arm.tcp[2]:.1f} mm")
        sim.set_digital_input(address, int(IOGroup.TOOL), PART_PRESENT, 1)  # the sensor sees the part
        arm.wait_for_input(PART_PRESENT, group=IOGroup.TOOL, timeout=2.0)
        print("part present:", arm.digital_input(PART_PRESENT, group=IOGroup.TOOL))

        # up, across and down in one motion: no stop over either spot
        arm.move_path([
            LineTo(above_pick, speed=200.0, acc=800.0, blend=BLEND),
            LineTo(above_place, speed=200.0, acc=800.0, blend=BLEND),
            LineTo(lowered(above_place, DEPTH), speed=100.0, acc=400.0),
        ])
        arm.set_digital_output(GRIPPER, False)
        sim.set_digital_input(address, int(IOGroup.TOOL), PART_PRESENT, 0)
        print(f"  gripper open at z = {arm.tcp[2]:.1f} mm")

        try:
            arm.move_joints((0.0, 0.0, 0.0, 0.0, 0.0, 7.0), speed=1.0)
        except velmo_arm.LimitError as e:
            print("refused as expected:", e)
        arm.move_linear(above_place, speed=200.0, acc=800.0)
        arm.move_path([JointTo(ABOVE_PICK, 1.0, blend=0.1), JointTo(HOME, 1.0)])  # home by way of the pick spot
        status = arm.status()
        print(f"home: in position {status.in_position}, error {status.error_code}, "
              f"gripper {status.cabinet_digital_outputs[GRIPPER]}")
    print("logged out")


if __name__ == "__main__":
    main(*sys.argv[1:2])
