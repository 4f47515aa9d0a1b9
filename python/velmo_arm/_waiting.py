"""One way to wait, two ways to sleep (the httpx Client/AsyncClient model).

Each wait of the layer is written once, as a generator that checks the arm
and yields how long to sleep before it looks again; it returns when done
and raises when the arm fails or time runs out. `run` sleeps with
time.sleep, `run_async` with asyncio.sleep, so other threads or tasks run
meanwhile. Whatever interrupts the wait (KeyboardInterrupt, a timeout, a
cancelled task, an error) calls `on_interrupt` (the arm's stop) before it
propagates.
"""

import asyncio
import time
from typing import Callable, Generator, TypeVar

T = TypeVar("T")
Steps = Generator[float, None, T]
"""Yields seconds to sleep; returns the result."""


def run(steps: "Steps[T]", on_interrupt: Callable[[], None]) -> T:
    try:
        while True:
            try:
                delay = next(steps)
            except StopIteration as done:
                result: T = done.value
                return result
            time.sleep(delay)
    except BaseException:
        on_interrupt()
        raise


async def run_async(steps: "Steps[T]", on_interrupt: Callable[[], None]) -> T:
    try:
        while True:
            try:
                delay = next(steps)
            except StopIteration as done:
                result: T = done.value
                return result
            await asyncio.sleep(delay)
    except BaseException:
        on_interrupt()
        raise
