"""Quick start: connect, power up, move, read back, disconnect.

Runs against the virtual controller installed with velmo, or against the
maker's library on a real arm (pass its address as the first argument).
Every method returns a tuple whose first element is the controller's code:
0 means success, anything else is the controller's error code.

The virtual controller runs in real time (about 6 s here); set
ZSIM_TIME_SCALE=10 in the environment to run it ten times faster. To watch
the arm in a browser, set ZSIM_VIEW=127.0.0.1:8765 (and ZSIM_TIME_SCALE=0.5
to watch at leisure) and open the address printed on standard error.
"""

import math
import sys
from typing import List, Sequence, Tuple, TypeVar, Union

import velmo

Value = TypeVar("Value")


def check(what: str, result: Tuple[object, ...]) -> None:
    code = result[0]
    shown = repr(result if len(result) > 1 else code)
    print(f"{what:<28} -> {shown if len(shown) < 90 else shown[:86] + ' ...'}")
    if code != 0:
        raise SystemExit(f"{what} failed with controller code {code}")


def value(what: str, result: Union[Tuple[int], Tuple[int, Value]]) -> Value:
    """The value of a call that succeeded: (0, value) -> value."""
    check(what, result)
    if len(result) != 2:
        raise SystemExit(f"{what} returned no value")
    return result[1]


def show(label: str, numbers: Sequence[float]) -> None:
    print(f"    {label:<24} {', '.join(f'{v:9.3f}' for v in numbers)}")


def main(address: str = "127.0.0.1") -> None:
    robot = velmo.RC(address)
    check("login", robot.login())
    try:
        check("power_on", robot.power_on())
        check("enable_robot", robot.enable_robot())

        # A working pose: the upper arm leaning forward, the tool pointing down.
        ready = (0.0, 1.2, -1.5, -1.2708, -math.pi / 2, 0.0)
        check("joint_move (blocking)", robot.joint_move(ready, 0, True, 0.8))
        joints: List[float] = value("get_joint_position", robot.get_joint_position())
        tcp: List[float] = value("get_tcp_position", robot.get_tcp_position())
        show("joints (rad)", joints)
        show("TCP (mm, rad)", tcp)

        target = list(tcp)
        target[2] -= 50.0  # 50 mm straight down, same orientation
        check("linear_move (blocking)", robot.linear_move(end_pos=target, move_mode=0, is_block=True, speed=100))
        show("TCP after the line", value("get_tcp_position", robot.get_tcp_position()))

        # Half a circle of radius 30 mm in the horizontal plane, through `mid`.
        mid = list(target)
        mid[0] += 30.0
        mid[1] += 30.0
        end = list(target)
        end[1] += 60.0
        check("circular_move (blocking)", robot.circular_move(end, mid, 0, True, 50, 200, 0))
        show("TCP after the arc", value("get_tcp_position", robot.get_tcp_position()))

        status = value("get_robot_status", robot.get_robot_status())
        print(f"    error {status[0]}, in position {status[1]}, powered {status[2]}, "
              f"enabled {status[3]}, rapid rate {status[4]}")
        show("status joints", status[18])

        check("disable_robot", robot.disable_robot())
        check("power_off", robot.power_off())
    finally:
        check("logout", robot.logout())


if __name__ == "__main__":
    main(*sys.argv[1:2])
