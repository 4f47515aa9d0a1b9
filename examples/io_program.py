"""IO and a controller program.

Sets and reads outputs, reads an input that the virtual controller's probe
sets (as a sensor would), then writes a small program into the controller's
programs/ folder, loads it and runs it: it moves, closes the gripper on
cabinet output 0, waits, moves down in a straight line, opens the gripper
and returns. The script follows the program's line and state until it ends.

The program format (one command a line: movj, movl, dout, wait) is the
virtual controller's own; see docs/virtual-controller-files.md. Its time
runs ZSIM_TIME_SCALE times as fast as real time; at 0 the whole program has
run when program_run returns.

    python examples/io_program.py [address]
"""

import math
import os
import sys
import time
from typing import List, Tuple, TypeVar, Union

import velmo
import zandrel_sim

Value = TypeVar("Value")

PROGRAM = "io_demo.prg"
STATES = {0: "idle", 1: "running", 2: "paused", 3: "stopped by an error"}
HOME = [0.0, math.pi / 2, -math.pi / 2, -math.pi / 2, -math.pi / 2, 0.0]
ABOVE = [0.3, 1.3, -1.2, -1.6, -1.5, 0.2]
CABINET, TOOL = 0, 1


def check(what: str, result: Tuple[object, ...]) -> None:
    if result[0] != 0:
        raise SystemExit(f"{what} failed with controller code {result[0]}")


def value(what: str, result: Union[Tuple[int], Tuple[int, Value]]) -> Value:
    check(what, result)
    if len(result) != 2:
        raise SystemExit(f"{what} returned no value")
    return result[1]


def numbers(values: List[float]) -> str:
    return " ".join(repr(float(v)) for v in values)


def write_program(robot: velmo.RC, folder: str) -> str:
    """The program, with its straight-line move 80 mm below ABOVE's TCP."""
    pose = list(value("kine_forward", robot.kine_forward(ABOVE)))
    pose[2] -= 80.0
    lines = [
        "# io_demo: grip, lower, release",
        f"movj {numbers(ABOVE)} 1.0",
        "dout 0 0 1          # close the gripper",
        "wait 0.5",
        f"movl {numbers(pose)} 100 400",
        "dout 0 0 0          # open it",
        "dout 0 5 1          # part placed",
        f"movj {numbers(HOME)} 1.0",
    ]
    os.makedirs(os.path.join(folder, "programs"), exist_ok=True)
    path = os.path.join(folder, "programs", PROGRAM)
    with open(path, "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")
    return path


def follow(robot: velmo.RC, timeout: float) -> Tuple[int, int]:
    """Polls the program until it is no longer running; prints each new line."""
    deadline = time.monotonic() + timeout
    seen = -1
    while True:
        state = value("get_program_state", robot.get_program_state())
        line = value("get_current_line", robot.get_current_line())
        if line != seen and line > 0 and state == 1:
            print(f"  running line {line}")
            seen = line
        if state != 1:
            return state, line
        if time.monotonic() > deadline:
            raise SystemExit("the program did not finish in time")
        time.sleep(0.005)


def main(address: str = "127.0.0.1") -> None:
    sim = zandrel_sim.Probe()  # the virtual controller: its folder and its inputs
    robot = velmo.RC(address)
    check("login", robot.login())
    try:
        check("power_on", robot.power_on())
        check("enable_robot", robot.enable_robot())

        check("set_digital_output", robot.set_digital_output(CABINET, 3, 1))
        check("set_analog_output", robot.set_analog_output(CABINET, 1, 2.5))
        print("cabinet output 3:", value("get_digital_output", robot.get_digital_output(CABINET, 3)))
        print("cabinet analog output 1:", value("get_analog_output", robot.get_analog_output(CABINET, 1)))
        sim.set_digital_input(address, TOOL, 0, 1)  # a part in the gripper's sensor
        print("tool input 0 (part present):", value("get_digital_input", robot.get_digital_input(TOOL, 0)))

        path = write_program(robot, sim.files_folder())
        print("program written to", path)
        check("program_load", robot.program_load(PROGRAM))
        print("loaded:", value("get_loaded_program", robot.get_loaded_program()))
        check("program_run", robot.program_run())
        state, line = follow(robot, timeout=120.0)
        print(f"program ended: state {state} ({STATES.get(state, '?')}), last line {line}")
        if state != 0:
            raise SystemExit(f"the program stopped: {robot.get_last_error()}")
        print("cabinet output 0 (gripper):", value("get_digital_output", robot.get_digital_output(CABINET, 0)))
        print("cabinet output 5 (placed):", value("get_digital_output", robot.get_digital_output(CABINET, 5)))
        check("disable_robot", robot.disable_robot())
        check("power_off", robot.power_off())
    finally:
        check("logout", robot.logout())


if __name__ == "__main__":
    main(*sys.argv[1:2])
