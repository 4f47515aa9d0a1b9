"""An error handler receiving a fault from the motion thread.

The handler registered with set_error_handler is called from the library's
own threads. Here it only hands the code to the main thread through a queue;
the main thread then reads the message, clears the error and carries on.

The fault: a continuous jog of joint 1 that runs into the joint's limit. The
motion thread stops the arm there and puts the controller in its error
state; the library's event thread calls the handler with the code.

The virtual controller's time runs ZSIM_TIME_SCALE times as fast as real
time; at 0 the jog reaches the limit inside its call.

    python examples/error_handler.py [address]
"""

import math
import queue
import sys
import threading
from typing import Tuple, TypeVar, Union

import velmo

Value = TypeVar("Value")

HOME = [0.0, math.pi / 2, -math.pi / 2, -math.pi / 2, -math.pi / 2, 0.0]


def check(what: str, result: Tuple[object, ...]) -> None:
    if result[0] != 0:
        raise SystemExit(f"{what} failed with controller code {result[0]}")


def value(what: str, result: Union[Tuple[int], Tuple[int, Value]]) -> Value:
    check(what, result)
    if len(result) != 2:
        raise SystemExit(f"{what} returned no value")
    return result[1]


def main(address: str = "127.0.0.1") -> None:
    codes: "queue.Queue[Tuple[int, str]]" = queue.Queue()

    def on_error(code: int) -> None:  # runs on a library thread: keep it short
        codes.put((code, threading.current_thread().name))

    robot = velmo.RC(address)
    check("login", robot.login())
    try:
        robot.set_error_handler(on_error)
        check("power_on", robot.power_on())
        check("enable_robot", robot.enable_robot())
        print("jogging joint 1 towards its limit")
        check("jog", robot.jog(0, 2, 1, math.pi, 0.0))  # continuous, joint space, 180 deg/s
        try:
            code, thread = codes.get(timeout=120.0)
        except queue.Empty:
            raise SystemExit("no error event arrived") from None
        _, message = value("get_last_error", robot.get_last_error())
        print(f"error handler received code {code} ({message}) on thread {thread!r}")
        status = value("get_robot_status", robot.get_robot_status())
        print(f"error state: {status[0]}, joint 1 at {math.degrees(status[18][0]):.1f} deg")
        print("a move now gives code", robot.joint_move(HOME, 0, True, 1.0)[0])
        check("clear_error", robot.clear_error())
        check("joint_move home", robot.joint_move(HOME, 0, True, 1.0))
        print("cleared and back home:", value("get_robot_status", robot.get_robot_status())[0] == 0)
        check("disable_robot", robot.disable_robot())
        check("power_off", robot.power_off())
    finally:
        check("logout", robot.logout())


if __name__ == "__main__":
    main(*sys.argv[1:2])
