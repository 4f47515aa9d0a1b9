"""A pick-and-place cell: a table, a crate on it, and one place point taught wrong.

The virtual controller's world holds the cell (the floor is there from the
start): a table in front of the arm and a crate on the table. The arm picks
three parts from the table and sets each on the crate. The third place point
was taught 50 mm too low, inside the crate: the move down to it runs into
the crate's top, and the controller's collision detection catches it from
the joint torques (a protective stop, code 8) a few millimetres in. The
script recovers, lifts the gripper out and puts the part where it belongs.

The payload is declared while a part is held, as it must be: a payload
declared wrong is the other classic cause of protective stops.

The virtual controller's time runs ZSIM_TIME_SCALE times as fast as real
time; at 0 each move ends inside its call.

    python examples/pick_and_place_cell.py [address]
"""

import math
import sys
from typing import List, Tuple

import velmo
import zandrel_sim

GRIPPER_TOOL = [0.0, 0.0, 150.0, 0.0, 0.0, 0.0]  # the TCP 150 mm out along the flange's z
GRIPPER_MASS, PART_MASS = 0.8, 0.5              # kg; their centres on the tool's axis
GRIPPER_OUTPUT = 0                              # cabinet digital output 0 closes the gripper
TABLE_TOP, CRATE_TOP = 100.0, 250.0             # mm above the floor
PART_HALF_HEIGHT = 20.0
PICKS = [(450.0, -300.0), (450.0, -200.0), (450.0, -100.0)]
PLACES = [(400.0, 260.0), (500.0, 260.0), (450.0, 340.0)]
TAUGHT_WRONG = 2                                # the third place point is 50 mm too low
CLEARANCE = 150.0                               # mm above a spot to travel at
FAST, SLOW = 400.0, 50.0                        # mm/s: travel, and the last stretch down


def check(what: str, result: Tuple[object, ...]) -> None:
    if result[0] != 0:
        raise SystemExit(f"{what} failed with controller code {result[0]}")


def pose(x: float, y: float, z: float) -> List[float]:
    """The TCP at x, y, z with the gripper pointing straight down."""
    return [x, y, z, math.pi, 0.0, 0.0]


def build_cell(sim: zandrel_sim.Probe) -> None:
    sim.clear_scene()
    sim.add({"name": "floor", "shape": "plane", "pose": [0, 0, 0, 0, 0, 0]})
    sim.add_box("table", [450, 0, TABLE_TOP / 2, 0, 0, 0], [500, 900, TABLE_TOP])
    crate_height = CRATE_TOP - TABLE_TOP
    sim.add_box("crate", [450, 300, TABLE_TOP + crate_height / 2, 0, 0, 0], [200, 200, crate_height])
    print("cell:", ", ".join(o["name"] for o in sim.scene()))


def declare(robot: velmo.RC, holding: bool) -> None:
    mass = GRIPPER_MASS + (PART_MASS if holding else 0.0)
    check("set_payload", robot.set_payload(mass, (0.0, 0.0, 100.0)))


def down_and_up(robot: velmo.RC, x: float, y: float, z: float) -> int:
    """Over (x, y), down to z, back up: the code of the move down."""
    check("linear_move", robot.linear_move(pose(x, y, z + CLEARANCE), 0, True, FAST))
    code = robot.linear_move(pose(x, y, z), 0, True, SLOW)[0]
    return code


def main(address: str = "127.0.0.1") -> None:
    sim = zandrel_sim.Probe()
    build_cell(sim)
    robot = velmo.RC(address)
    check("login", robot.login())
    stops = 0
    try:
        check("power_on", robot.power_on())
        check("enable_robot", robot.enable_robot())
        check("set_collision_level", robot.set_collision_level(2))  # people work beside this cell
        check("set_tool_data", robot.set_tool_data(1, GRIPPER_TOOL, "gripper"))
        check("set_tool_id", robot.set_tool_id(1))
        declare(robot, holding=False)
        for n, ((px, py), (qx, qy)) in enumerate(zip(PICKS, PLACES), 1):
            check("pick", (down_and_up(robot, px, py, TABLE_TOP + PART_HALF_HEIGHT),))
            check("set_digital_output", robot.set_digital_output(0, GRIPPER_OUTPUT, 1))
            declare(robot, holding=True)
            check("linear_move", robot.linear_move(pose(px, py, TABLE_TOP + CLEARANCE), 0, True, FAST))
            place_z = CRATE_TOP + PART_HALF_HEIGHT - (50.0 if n - 1 == TAUGHT_WRONG else 0.0)
            code = down_and_up(robot, qx, qy, place_z)
            if code == 8:
                stops += 1
                _, (last, message) = robot.get_last_error()
                depth = CRATE_TOP - robot.get_tcp_position()[1][2]
                print(f"part {n}: the move down to z = {place_z:.0f} mm stopped: code {last} ({message}), "
                      f"the gripper {depth:.1f} mm into the crate")
                check("collision_recover", robot.collision_recover())
                place_z = CRATE_TOP + PART_HALF_HEIGHT
                print(f"part {n}: recovered; out of the crate and down to z = {place_z:.0f} mm instead")
                check("linear_move", robot.linear_move(pose(qx, qy, CRATE_TOP + CLEARANCE), 0, True, SLOW))
                code = down_and_up(robot, qx, qy, place_z)
            check("place", (code,))
            check("set_digital_output", robot.set_digital_output(0, GRIPPER_OUTPUT, 0))
            declare(robot, holding=False)
            check("linear_move", robot.linear_move(pose(qx, qy, CRATE_TOP + CLEARANCE), 0, True, FAST))
            print(f"part {n}: picked at ({px:.0f}, {py:.0f}), placed on the crate at ({qx:.0f}, {qy:.0f})")
        _, in_collision = robot.is_in_collision()
        print(f"done: {len(PICKS)} parts placed, {stops} protective stop, in collision now: {bool(in_collision)}")
    finally:
        robot.logout()


if __name__ == "__main__":
    main(*sys.argv[1:2])
