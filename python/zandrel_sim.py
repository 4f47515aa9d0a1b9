"""Drive the virtual zandrel controller's probe from Python.

The virtual controller (``libzandrelAPI.so``, installed beside velmo) records
every library call in a journal once a probe is in use (from the moment a
``Probe`` is made; calls made before are not recorded, and a script that
never makes one pays nothing for the journal) and can be told what its next
calls return.
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

What a test can do with it:

- read what the script did: ``journal()`` (every call as ``{"fn": name,
  "args": [...]}``, out-parameters as ``"out"``), ``calls(name)``, ``count()``;
- decide what the next calls of a function do: ``inject(name, code)`` (its
  result; ``times=`` and ``skip=`` reach later calls), ``inject_out(name,
  index, data)`` (bytes written into an out-parameter),
  ``inject_callback`` and ``inject_delay``. An injected failure is also the
  controller's last error, so ``get_last_error()`` reports it;

Every ``name`` may be a library function (``create_handler``) or the velmo
method that calls it (``login``).
- exercise error handling: ``raise_error(code, mode)`` calls the script's
  error handler as the library would, ``trigger_fault(address, code)`` stops
  the arm in an error state and reports it from the library's event thread;
- drive the simulation: ``set_time_scale`` (0 finishes every motion inside
  the call that starts it), ``advance_time`` (manual time, moved on by the
  test), ``set_digital_input``, ``set_analog_input``;
- watch the arm: ``serve_view()`` serves a live 3D view of every controller
  in the browser (also ``ZSIM_VIEW=127.0.0.1:8765`` in the environment);
- look at what the controller keeps: ``home()`` (the folder of its programs
  and trajectories, ``ZSIM_HOME``) and ``settings(address)`` (force control,
  payload, link settings, recorder, program, debug log).

Injections always win over the simulation: an injected code or out bytes
make the call return at once. ``reset()`` forgets everything.
"""

import ctypes
import json
import os
import sys
from typing import Any, Dict, List, Optional

__all__ = ["Probe", "is_virtual_controller", "library_path", "function_of"]

# The velmo methods that call a library function of another name.
_FUNCTION_OF_METHOD = {"login": "create_handler", "logout": "destory_handler"}


def function_of(name: str) -> str:
    """The library function that the velmo method `name` calls (``login``:
    ``create_handler``); a library function's name is returned unchanged."""
    return _FUNCTION_OF_METHOD.get(name, name)


_NAME = "zandrelAPI.dll" if sys.platform == "win32" else "libzandrelAPI.so"


def _loaded_path() -> Optional[str]:
    """The zandrelAPI library this process has loaded, if the system says."""
    if sys.platform == "win32":
        kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
        kernel32.GetModuleHandleW.restype = ctypes.c_void_p
        kernel32.GetModuleHandleW.argtypes = [ctypes.c_wchar_p]
        kernel32.GetModuleFileNameW.argtypes = [ctypes.c_void_p, ctypes.c_wchar_p, ctypes.c_uint32]
        module = kernel32.GetModuleHandleW(_NAME)
        if not module:
            return None
        buffer = ctypes.create_unicode_buffer(32768)
        length = kernel32.GetModuleFileNameW(module, buffer, len(buffer))
        return buffer.value if length else None
    try:
        with open("/proc/self/maps", encoding="utf-8", errors="replace") as maps:
            for line in maps:
                path = line.split(None, 5)[-1].strip() if line.count(" ") >= 5 else ""
                if os.path.basename(path) == _NAME:
                    return path
    except OSError:
        pass
    return None


def library_path() -> str:
    """The zandrelAPI library that velmo uses: the one the process has loaded
    (importing velmo loads it), else the one installed next to the module."""
    import velmo

    loaded = _loaded_path()
    if loaded:
        return loaded
    folder = os.path.dirname(os.path.abspath(velmo.__file__))
    return os.path.join(folder, _NAME)


def is_virtual_controller() -> bool:
    """True when the zandrelAPI library that velmo drives in this process is
    velmo's virtual controller, False when it is another library of that name,
    such as the arm maker's. Imports velmo, which loads the library; a script
    that must move a real arm checks this first (library_path() says which
    file it is)::

        if zandrel_sim.is_virtual_controller():
            sys.exit("velmo drives the virtual controller, not the arm")
    """
    import velmo  # noqa: F401  (loads the library velmo is linked with)

    loaded = _loaded_path()
    if loaded is None:
        raise OSError(f"no {_NAME} is loaded in this process")
    # Opening the loaded file again gives the same library; only the virtual
    # controller has the probe.
    return hasattr(ctypes.CDLL(loaded), "zsim_reset")


class Probe:
    """The probe functions of the loaded virtual controller."""

    def __init__(self, path: Optional[str] = None) -> None:
        # Loading the same path again gives the instance velmo already uses.
        where = path or library_path()
        self.lib = ctypes.CDLL(where)
        lib = self.lib
        if not hasattr(lib, "zsim_reset"):
            raise OSError(f"{where} is not the virtual controller (it has no probe): "
                          "zandrel_sim works only with the library installed with velmo")
        lib.zsim_reset.restype = None
        lib.zsim_journal_clear.restype = None
        lib.zsim_journal_enable.argtypes = [ctypes.c_int]
        lib.zsim_journal_enable.restype = None
        lib.zsim_journal_count.restype = ctypes.c_int
        lib.zsim_journal_entry.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
        lib.zsim_inject.argtypes = [ctypes.c_char_p, ctypes.c_int]
        lib.zsim_inject_calls.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_int]
        lib.zsim_inject_out.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
        lib.zsim_raise_error.argtypes = [ctypes.c_int, ctypes.c_int]
        lib.zsim_inject_callback.argtypes = [ctypes.c_char_p, ctypes.c_int]
        lib.zsim_inject_delay.argtypes = [ctypes.c_char_p, ctypes.c_int]
        lib.zsim_set_time_scale.argtypes = [ctypes.c_double]
        lib.zsim_advance_time.argtypes = [ctypes.c_double]
        lib.zsim_set_digital_input.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_int]
        lib.zsim_set_analog_input.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_float]
        lib.zsim_trigger_fault.argtypes = [ctypes.c_char_p, ctypes.c_int]
        lib.zsim_home.argtypes = [ctypes.c_char_p, ctypes.c_int]
        lib.zsim_home_problem.argtypes = [ctypes.c_char_p, ctypes.c_int]
        lib.zsim_settings.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int]
        lib.zsim_serve_view.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
        # The library's journal starts at the first call of any probe function:
        # this one reads the count and changes nothing else (a journal switched
        # off by an earlier probe stays off).
        lib.zsim_journal_count()

    def reset(self) -> None:
        """Forget the journal, all injections and all controller state."""
        self.lib.zsim_reset()

    def clear(self) -> None:
        """Forget the journal only."""
        self.lib.zsim_journal_clear()

    def journal_enable(self, on: bool) -> None:
        """Record calls (True, the default once a probe is made, and after
        reset) or not (False).

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
        entries: List[Dict[str, Any]] = []
        index = 0
        while True:
            text = self.entry(index)
            if text is None:
                return entries
            entries.append(json.loads(text))
            index += 1

    def calls(self, function: str) -> List[List[Any]]:
        """The argument lists of the kept calls of one function (or of the
        library function a velmo method calls: ``calls("login")``)."""
        name = function_of(function)
        return [e["args"] for e in self.journal() if e["fn"] == name]

    def inject(self, function: str, code: int, *, times: int = 1, skip: int = 0) -> None:
        """The next call of `function` returns `code` and writes no outputs;
        with `times` the next `times` calls do, and `skip` lets that many calls
        pass first (``skip=2`` alone: only the third call from now). A
        non-zero code becomes the controller's last error too."""
        name = function_of(function).encode()
        if times == 1 and skip == 0:
            self._check(self.lib.zsim_inject(name, code), function)
        else:
            self._check(self.lib.zsim_inject_calls(name, code, skip, times), function)

    def inject_out(self, function: str, out_index: int, data: bytes) -> None:
        """The next call of `function` writes `data` into out-parameter
        `out_index` (its layout: docs/virtual-controller.md)."""
        buffer = ctypes.create_string_buffer(bytes(data), len(data))
        self._check(self.lib.zsim_inject_out(function_of(function).encode(), out_index, buffer, len(data)),
                    function)

    def raise_error(self, code: int, mode: int = 0) -> int:
        """Call the registered error callback: mode 0 here, 1 on a joined thread, 2 detached."""
        return int(self.lib.zsim_raise_error(code, mode))

    def inject_callback(self, function: str, code: int) -> None:
        """The next call of `function` calls the error callback with `code` during the call."""
        self._check(self.lib.zsim_inject_callback(function_of(function).encode(), code), function)

    def inject_delay(self, function: str, milliseconds: int) -> None:
        """The next call of `function` takes at least this long."""
        self._check(self.lib.zsim_inject_delay(function_of(function).encode(), milliseconds), function)

    # ---- the simulation ---------------------------------------------------------

    def set_time_scale(self, factor: float) -> None:
        """Run simulated time `factor` times as fast as real time; 0 completes
        every motion inside the call that starts it. reset() restores the
        default (ZSIM_TIME_SCALE from the environment, else 1)."""
        self._refused(self.lib.zsim_set_time_scale(factor), f"time scale {factor!r}")

    def advance_time(self, seconds: float) -> None:
        """Manual time: simulated time stands still except that each call
        moves it on by `seconds`; an arm runs the cycles that fell due when
        a call next looks at it. A blocking move waits until another thread
        moves the time far enough. set_time_scale() runs time again."""
        self._refused(self.lib.zsim_advance_time(seconds), f"advance of {seconds!r} s")

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

    # ---- files and settings -------------------------------------------------------

    def home(self) -> str:
        """The folder the virtual controller keeps its files in: programs/
        (what program_load reads) and trajectories/ (recorded trajectories).
        It is ZSIM_HOME from the environment when set, else a per-user
        folder; the controller reads ZSIM_HOME at each use. Raises OSError
        saying why when the controller has no safe folder (its file
        operations then give 23)."""
        home = self._text(self.lib.zsim_home)
        if home is None:
            problem = self._text(self.lib.zsim_home_problem)
            raise OSError(f"the virtual controller has no safe folder: {problem}" if problem
                          else "the virtual controller could not name its folder")
        return home

    @staticmethod
    def _text(function: Any) -> Optional[str]:
        """The text of a probe function that fills a buffer and returns its length (None for -1)."""
        size = int(function(None, 0))
        if size < 0:
            return None
        buffer = ctypes.create_string_buffer(size + 1)
        function(buffer, size + 1)
        return os.fsdecode(buffer.value)

    def settings(self, address: str) -> Dict[str, Any]:
        """What the controller at `address` keeps that no RC getter reports,
        as a dict: collision level, payload, link settings, torque control and
        feed-forward, the force sensor, admittance and compliance, the
        recorder, the program, and the library's debug log. The keys are
        listed in docs/virtual-controller-files.md."""
        key = address.encode()
        size = int(self.lib.zsim_settings(key, None, 0))
        if size < 0:
            raise ValueError(f"the virtual controller has no controller at {address!r}")
        buffer = ctypes.create_string_buffer(size + 1)
        self.lib.zsim_settings(key, buffer, size + 1)
        settings: Dict[str, Any] = json.loads(buffer.value.decode("utf-8", "surrogateescape"))
        return settings

    # ---- the live view ------------------------------------------------------------

    def serve_view(self, host: str = "127.0.0.1", port: int = 0, *, allow_remote: bool = False) -> str:
        """Serve the live view of every controller (the arm in 3D, its state
        and IO) at ``http://host:port/`` from the library's own threads, and
        return that URL; port 0 picks a free port. The view runs until the
        process ends; asking again for the same host (port 0 or the same
        port) returns its URL. An address other than loopback needs
        ``allow_remote=True`` (ValueError otherwise); OSError when it cannot
        listen there, or already serves another address."""
        buffer = ctypes.create_string_buffer(1024)
        result = int(self.lib.zsim_serve_view(host.encode(), port, 1 if allow_remote else 0, buffer, len(buffer)))
        text = buffer.value.decode("utf-8", "replace")
        if result == 0:
            return text
        if result == 1:
            raise ValueError(text)
        raise OSError(text or f"the virtual controller could not serve the view at {host}:{port}")

    @staticmethod
    def _refused(result: int, what: str) -> None:
        if result != 0:
            raise ValueError(f"the virtual controller refused {what}")

    @staticmethod
    def _check(result: int, function: str) -> None:
        if result != 0:
            raise ValueError(f"the virtual controller refused {function!r}")
