"""Error events: the library's one handler, shared by every Arm.

velmo keeps one error handler for the whole process, and the library calls
it with a code alone, not saying which controller it came from. So the layer
registers one dispatcher, through every open Arm's handle once any Arm has a
callback (each controller reports to the handler registered through one of
its handles), and hands each code to the callbacks of every Arm. A raw
`velmo.RC.set_error_handler` call elsewhere in the process replaces the
dispatcher for everyone (until the next `Arm.on_error`).
"""

import logging
import threading
from typing import Callable, List, Optional

import velmo

from .errors import as_code

Callback = Callable[[int], object]
"""Called with the code, on a thread of the library: keep it short."""

_log = logging.getLogger("velmo_arm")


class Dispatcher:
    """The callbacks of every Arm, called in registration order."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._callbacks: List[Callback] = []
        self._arms: List[velmo.RC] = []  # the RC of every open Arm

    def join(self, rc: velmo.RC) -> None:
        """An Arm logged in: its controller reports here too once anyone listens."""
        with self._lock:
            self._arms.append(rc)
            listening = bool(self._callbacks)
        if listening:
            rc.set_error_handler(self)

    def leave(self, rc: velmo.RC) -> None:
        with self._lock:
            if rc in self._arms:
                self._arms.remove(rc)

    def add(self, callback: Callback) -> None:
        with self._lock:
            self._callbacks.append(callback)
            arms = list(self._arms)
        for rc in arms:  # every controller of the process reports to every callback
            rc.set_error_handler(self)

    def remove(self, callback: Callback) -> None:
        with self._lock:
            if callback in self._callbacks:
                self._callbacks.remove(callback)

    def __call__(self, code: int) -> None:
        with self._lock:
            callbacks = list(self._callbacks)
        known = as_code(code)
        interrupt: Optional[BaseException] = None
        for callback in callbacks:  # one failing callback must not starve the others
            try:
                callback(known)
            except Exception:
                _log.exception("velmo_arm error callback %r failed on code %d", callback, code)
            except BaseException as e:  # KeyboardInterrupt, SystemExit: passed on once every callback ran
                _log.warning("velmo_arm error callback %r raised %r on code %d", callback, e, code)
                if interrupt is None:
                    interrupt = e
        if interrupt is not None:
            raise interrupt


dispatcher = Dispatcher()  # the one per process: the library has one handler slot
