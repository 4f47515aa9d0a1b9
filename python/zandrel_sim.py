"""Drive the virtual zandrel controller's probe from Python.

The virtual controller (``libzandrelAPI.so``, installed beside velmo) records
every library call in a journal and can be told what its next calls return.
It also drives the simulation: how fast simulated time runs, the inputs the
controller reads, and faults. Use it to unit-test robot scripts, including
their error handling::

    import velmo, zandrel_sim

    sim = zandrel_sim.Probe()
    sim.reset()
    rc = velmo.RC("127.0.0.1"); rc.login()
    sim.inject("power_on", 17)          # the next power_on fails with code 17
    assert rc.power_on() == (17,)
    assert sim.journal()[-1] == {"fn": "power_on", "args": [1]}
"""

import ctypes
import json
import os
import sys
from typing import Any, Dict, List, Optional

__all__ = ["Probe", "library_path"]


def library_path() -> str:
    """The virtual controller that velmo loads: the one next to the module."""
    import velmo

    folder = os.path.dirname(os.path.abspath(velmo.__file__))
    name = "zandrelAPI.dll" if sys.platform == "win32" else "libzandrelAPI.so"
    return os.path.join(folder, name)


class Probe:
    """The probe functions of the loaded virtual controller."""

    def __init__(self, path: Optional[str] = None) -> None:
        # Loading the same path again gives the instance velmo already uses.
        self.lib = ctypes.CDLL(path or library_path())
        lib = self.lib
        lib.zsim_reset.restype = None
        lib.zsim_journal_clear.restype = None
        lib.zsim_journal_enable.argtypes = [ctypes.c_int]
        lib.zsim_journal_enable.restype = None
        lib.zsim_journal_count.restype = ctypes.c_int
        lib.zsim_journal_entry.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
        lib.zsim_inject.argtypes = [ctypes.c_char_p, ctypes.c_int]
        lib.zsim_inject_out.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
        lib.zsim_raise_error.argtypes = [ctypes.c_int, ctypes.c_int]
        lib.zsim_inject_callback.argtypes = [ctypes.c_char_p, ctypes.c_int]
        lib.zsim_inject_delay.argtypes = [ctypes.c_char_p, ctypes.c_int]
        lib.zsim_set_time_scale.argtypes = [ctypes.c_double]
        lib.zsim_set_digital_input.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_int]
        lib.zsim_set_analog_input.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_float]
        lib.zsim_trigger_fault.argtypes = [ctypes.c_char_p, ctypes.c_int]

    def reset(self) -> None:
        """Forget the journal, all injections and all controller state."""
        self.lib.zsim_reset()

    def clear(self) -> None:
        """Forget the journal only."""
        self.lib.zsim_journal_clear()

    def journal_enable(self, on: bool) -> None:
        """Record calls (True, the default and after reset) or not (False).

        Off, the controller skips encoding and recording, so a benchmark times
        the library call alone; injections still apply.
        """
        self.lib.zsim_journal_enable(1 if on else 0)

    def count(self) -> int:
        """Library calls recorded since the last reset or clear."""
        return int(self.lib.zsim_journal_count())

    def entry(self, index: int) -> Optional[str]:
        """Journal entry `index` (0 = oldest kept) as its JSON text, or None."""
        size = self.lib.zsim_journal_entry(index, None, 0)
        if size < 0:
            return None
        buffer = ctypes.create_string_buffer(size + 1)
        self.lib.zsim_journal_entry(index, buffer, size + 1)
        return buffer.value.decode("utf-8", "surrogateescape")

    def journal(self) -> List[Dict[str, Any]]:
        """Every kept entry, oldest first, as {"fn": name, "args": [...]}."""
        entries = []
        index = 0
        while True:
            text = self.entry(index)
            if text is None:
                return entries
            entries.append(json.loads(text))
            index += 1

    def calls(self, function: str) -> List[List[Any]]:
        """The argument lists of the kept calls of one function."""
        return [e["args"] for e in self.journal() if e["fn"] == function]

    def inject(self, function: str, code: int) -> None:
        """The next call of `function` returns `code` and writes no outputs."""
        self._check(self.lib.zsim_inject(function.encode(), code), function)

    def inject_out(self, function: str, out_index: int, data: bytes) -> None:
        """The next call of `function` writes `data` into out-parameter `out_index`."""
        buffer = ctypes.create_string_buffer(bytes(data), len(data))
        self._check(self.lib.zsim_inject_out(function.encode(), out_index, buffer, len(data)), function)

    def raise_error(self, code: int, mode: int = 0) -> int:
        """Call the registered error callback: mode 0 here, 1 on a joined thread, 2 detached."""
        return int(self.lib.zsim_raise_error(code, mode))

    def inject_callback(self, function: str, code: int) -> None:
        """The next call of `function` calls the error callback with `code` during the call."""
        self._check(self.lib.zsim_inject_callback(function.encode(), code), function)

    def inject_delay(self, function: str, milliseconds: int) -> None:
        """The next call of `function` takes at least this long."""
        self._check(self.lib.zsim_inject_delay(function.encode(), milliseconds), function)

    # ---- the simulation ---------------------------------------------------------

    def set_time_scale(self, factor: float) -> None:
        """Run simulated time `factor` times as fast as real time; 0 completes
        every motion inside the call that starts it. reset() restores the
        default (ZSIM_TIME_SCALE from the environment, else 1)."""
        self._refused(self.lib.zsim_set_time_scale(factor), f"time scale {factor!r}")

    def set_digital_input(self, address: str, iotype: int, index: int, value: int) -> None:
        """Set a digital input of the controller at `address` to 0 or 1."""
        self._refused(self.lib.zsim_set_digital_input(address.encode(), iotype, index, value),
                      f"digital input {iotype}/{index} of {address!r}")

    def set_analog_input(self, address: str, iotype: int, index: int, value: float) -> None:
        """Set an analog input of the controller at `address`."""
        self._refused(self.lib.zsim_set_analog_input(address.encode(), iotype, index, value),
                      f"analog input {iotype}/{index} of {address!r}")

    def trigger_fault(self, address: str, code: int) -> None:
        """Stop the arm at `address` in an error state with `code`; its error
        handler receives `code` from the library's event thread."""
        self._refused(self.lib.zsim_trigger_fault(address.encode(), code), f"fault {code} on {address!r}")

    @staticmethod
    def _refused(result: int, what: str) -> None:
        if result != 0:
            raise ValueError(f"the virtual controller refused {what}")

    @staticmethod
    def _check(result: int, function: str) -> None:
        if result != 0:
            raise ValueError(f"the virtual controller refused {function!r}")
