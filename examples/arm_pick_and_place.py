"""Pick and place with velmo_arm: move, grip, lift, carry, release.

The same cell as io_program.py, written with the velmo_arm layer instead of
a controller program: connect() logs in and, on leaving the with block (also
by an error or Ctrl-C), stops what the script started and logs out; every
failure raises an ArmError that names the code. The gripper is cabinet
output 0; tool input 0 says a part is in it (the virtual controller's probe
sets it here, as the sensor would).

The virtual controller's time runs ZSIM_TIME_SCALE times as fast as real
time; at 0 each move ends inside its call.

    python examples/arm_pick_and_place.py [address]
"""

import math
import sys

import velmo_arm
import zandrel_sim
from velmo_arm import IOGroup

HOME = (0.0, math.pi / 2, -math.pi / 2, -math.pi / 2, -math.pi / 2, 0.0)
ABOVE_PICK = (0.3, 1.3, -1.2, -1.6, -1.5, 0.2)
ABOVE_PLACE = (-0.4, 1.3, -1.2, -1.6, -1.5, 0.2)
DEPTH = 80.0  # mm from above a spot down to it
GRIPPER, PART_PRESENT = 0, 0


def lowered(pose: velmo_arm.Pose, mm: float) -> velmo_arm.Pose:
    x, y, z, rx, ry, rz = pose
    return (x, y, z - mm, rx, ry, rz)


def visit(arm: velmo_arm.Arm, above: velmo_arm.Pose, grip: bool) -> None:
    """Down from `above` in a straight line, set the gripper, back up."""
    arm.move_linear(lowered(above, DEPTH), speed=100.0, acc=400.0)
    arm.set_digital_output(GRIPPER, grip)
    print(f"  gripper {'closed' if grip else 'open'} at z = {arm.tcp[2]:.1f} mm")
    arm.move_linear(above, speed=100.0, acc=400.0)


def main(address: str = "127.0.0.1") -> None:
    sim = zandrel_sim.Probe()
    with velmo_arm.connect(address, enable=True) as arm:
        print("powered:", arm.powered, "enabled:", arm.enabled)
        arm.move_joints(ABOVE_PICK, speed=1.0)
        print("above the pick spot")
        visit(arm, arm.tcp, grip=True)
        sim.set_digital_input(address, int(IOGroup.TOOL), PART_PRESENT, 1)
        if not arm.digital_input(PART_PRESENT, group=IOGroup.TOOL):
            raise SystemExit("no part in the gripper")
        print("part present:", arm.digital_input(PART_PRESENT, group=IOGroup.TOOL))
        arm.move_joints(ABOVE_PLACE, speed=1.0)
        print("above the place spot")
        visit(arm, arm.tcp, grip=False)
        sim.set_digital_input(address, int(IOGroup.TOOL), PART_PRESENT, 0)
        try:
            arm.move_joints((0.0, 0.0, 0.0, 0.0, 0.0, 7.0), speed=1.0)
        except velmo_arm.LimitError as e:
            print("refused as expected:", e)
        arm.move_joints(HOME, speed=1.0)
        status = arm.status()
        print(f"home: in position {status.in_position}, error {status.error_code}, "
              f"gripper {status.cabinet_digital_outputs[GRIPPER]}")
    print("logged out")


if __name__ == "__main__":
    main(*sys.argv[1:2])
