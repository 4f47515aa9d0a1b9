"""Error events: the library's one handler, shared by every Arm.

velmo keeps one error handler for the whole process, and the library calls
it with a code alone, not saying which controller it came from. So the layer
registers one dispatcher and hands each code to the callbacks of every Arm
that asked for them. A raw `velmo.RC.set_error_handler` call elsewhere in the
process replaces the dispatcher for everyone.
"""

import logging
import threading
from typing import Callable, List

from .errors import as_code

Callback = Callable[[int], object]
"""Called with the code, on a thread of the library: keep it short."""

_log = logging.getLogger("velmo_arm")


class Dispatcher:
    """The callbacks of every Arm, called in registration order."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._callbacks: List[Callback] = []

    def add(self, callback: Callback) -> None:
        with self._lock:
            self._callbacks.append(callback)

    def remove(self, callback: Callback) -> None:
        with self._lock:
            if callback in self._callbacks:
                self._callbacks.remove(callback)

    def __call__(self, code: int) -> None:
        with self._lock:
            callbacks = list(self._callbacks)
        known = as_code(code)
        for callback in callbacks:
            try:
                callback(known)
            except Exception:  # one failing callback must not starve the others
                _log.exception("velmo_arm error callback %r failed on code %d", callback, code)


dispatcher = Dispatcher()  # the one per process: the library has one handler slot
