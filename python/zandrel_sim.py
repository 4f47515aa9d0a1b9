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
  "args": [...]}``, out-parameters as ``"out"``), ``calls(name)``,
  ``count()``, and ``entries()``: each call with its velmo method, its
  arguments by name and the controller's address, filtered by either;
- decide what the next calls of a function do: ``inject(name, code)`` (its
  result; ``times=`` and ``skip=`` reach later calls), ``inject_out(name,
  index, data)`` (bytes written into an out-parameter),
  ``inject_callback`` and ``inject_delay``. An injected failure is also the
  controller's last error, so ``get_last_error()`` reports it;
- exercise error handling: ``raise_error(code, mode)`` calls the script's
  error handler as the library would, ``trigger_fault(address, code)`` stops
  the arm in an error state and reports it from the library's event thread,
  now or, with ``after=`` seconds or ``cycles=``, at a fixed point of the
  arm's motion in simulated time;
- drive the simulation: ``set_time_scale`` (0 finishes every motion inside
  the call that starts it), ``advance_time`` (manual time, moved on by the
  test), ``time()`` (simulated seconds), ``set_digital_input``,
  ``set_analog_input``;
- see which calls wait for the library's lock: ``library_lock_held()`` holds
  it while its ``with`` body runs (a call refused for its own arguments
  returns at once);
- push and load the arm: ``apply_wrench(address, force, torque)`` (a
  wrench at the TCP until cleared), ``set_actual_payload(address, mass,
  centre)`` (what the arm really carries, whatever the script declared), and
  read what its joints feel: ``joint_torques(address)``; the arm model's
  ``inverse_dynamics(q, v, a, ...)`` for any state;
- build the arm's world: ``set_base(address, pose)`` places an arm,
  ``add_box``, ``add_cylinder``, ``add_sphere``, ``remove``, ``clear_scene``,
  ``set_scene``, ``load_scene`` and ``scene()`` edit and list the objects
  around it (the floor is one, ``"floor"``), ``contacts(address)`` says where
  an arm touches them;
- watch the arm: ``serve_view()`` serves a live 3D view of every controller
  in the browser (also ``ZSIM_VIEW=127.0.0.1:8765`` in the environment);
- look at what the controller keeps: ``files_folder()`` (the folder of its
  programs and trajectories, ``ZSIM_HOME``) and ``settings(address)`` (force
  control, payload, link settings, recorder, program, debug log).

Every ``name`` may be a library function (``create_handler``) or the velmo
method that calls it (``login``). Injections always win over the simulation:
an injected code or out bytes make the call return at once. ``reset()``
forgets everything. For pytest, velmo's plugin (``velmo_pytest``) hands
each test a fresh controller (the ``virtual_controller`` fixture,
docs/velmo_arm.md).
"""

import contextlib
import ctypes
import json
import math
import os
import sys
import warnings
from dataclasses import dataclass
from typing import Any, Callable, Dict, Iterator, List, Optional, Sequence, Tuple, Union

__all__ = ["Probe", "Call", "is_virtual_controller", "library_path", "function_of", "method_of", "parameters_of",
           "simulated_clock"]

# The velmo methods that call a library function of another name.
_FUNCTION_OF_METHOD = {"login": "create_handler", "logout": "destory_handler"}
_METHOD_OF_FUNCTION = {function: method for method, function in _FUNCTION_OF_METHOD.items()}

# Each library function's parameters, as include/zandrelAPI.h names them.
_PARAMETERS = {
    "create_handler": "ip handle",
    "destory_handler": "handle",
    "power_on": "handle",
    "power_off": "handle",
    "shut_down": "handle",
    "enable_robot": "handle",
    "disable_robot": "handle",
    "clear_error": "handle",
    "collision_recover": "handle",
    "motion_abort": "handle",
    "jog": "handle aj_num move_mode coord_type jog_vel pos_cmd",
    "jog_stop": "handle num",
    "joint_move": "handle joint_pos move_mode is_block speed",
    "joint_move_extend": "handle joint_pos move_mode is_block speed acc tol option",
    "linear_move": "handle end_pos move_mode is_block speed",
    "linear_move_extend": "handle end_pos move_mode is_block speed acc tol option",
    "circular_move": "handle end_pos mid_pos move_mode is_block speed acc tol option",
    "servo_move_enable": "handle enable",
    "servo_j": "handle joint_pos move_mode",
    "servo_j_extend": "handle joint_pos move_mode step_num",
    "servo_p": "handle cartesian_pose move_mode",
    "servo_p_extend": "handle end_pos move_mode step_num",
    "servo_move_use_none_filter": "handle",
    "servo_move_use_joint_LPF": "handle cutoffFreq",
    "servo_move_use_joint_NLF": "handle max_vr max_ar max_jr",
    "servo_move_use_carte_NLF": "handle max_vp max_ap max_jp max_vr max_ar max_jr",
    "servo_move_use_joint_MMF": "handle max_buf kp kv ka",
    "servo_speed_foresight": "handle max_buf kp",
    "set_digital_output": "handle iotype index value",
    "set_analog_output": "handle iotype index value",
    "get_digital_input": "handle iotype index result",
    "get_digital_output": "handle iotype index result",
    "get_analog_input": "handle iotype index result",
    "get_analog_output": "handle iotype index result",
    "is_extio_running": "handle is_running",
    "program_run": "handle",
    "program_pause": "handle",
    "program_resume": "handle",
    "program_abort": "handle",
    "program_load": "handle file",
    "get_loaded_program": "handle file",
    "get_current_line": "handle curr_line",
    "get_program_state": "handle status",
    "set_rapidrate": "handle rapid_rate",
    "get_rapidrate": "handle rapid_rate",
    "set_tool_data": "handle id tcp name",
    "set_tool_id": "handle id",
    "get_tool_id": "handle id",
    "get_tool_data": "handle id tcp",
    "set_user_frame_data": "handle id user_frame name",
    "set_user_frame_id": "handle id",
    "get_user_frame_id": "handle id",
    "get_user_frame_data": "handle id user_frame",
    "set_payload": "handle payload",
    "get_payload": "handle payload",
    "drag_mode_enable": "handle enable",
    "get_robot_state": "handle state",
    "get_tcp_position": "handle tcp_position",
    "get_joint_position": "handle joint_pos",
    "is_in_collision": "handle in_collision",
    "is_in_drag_mode": "handle in_drag",
    "is_on_limit": "handle on_limit",
    "is_in_pos": "handle in_pos",
    "get_robot_status": "handle status",
    "kine_inverse": "handle ref_pos cartesian_pose joint_pos",
    "kine_forward": "handle joint_pos cartesian_pose",
    "rpy_to_rot_matrix": "handle rpy rot_matrix",
    "rot_matrix_to_rpy": "handle rot_matrix rpy",
    "quaternion_to_rot_matrix": "handle quaternion rot_matrix",
    "rot_matrix_to_quaternion": "handle rot_matrix quaternion",
    "set_error_handler": "handle func",
    "get_sdk_version": "handle version",
    "set_collision_level": "handle level",
    "get_collision_level": "handle level",
    "set_debug_mode": "handle enable",
    "set_errorcode_file_path": "handle path",
    "get_last_error": "handle last_error",
    "get_controller_ip": "controller_name ip_list",
    "set_SDK_filepath": "handle filepath",
    "set_network_exception_handle": "handle millisecond mnt",
    "set_status_data_update_time_interval": "handle millisecond",
    "set_traj_config": "handle config",
    "get_traj_config": "handle config",
    "set_traj_sample_mode": "handle mode filename",
    "get_traj_sample_status": "handle sample_status",
    "get_exist_traj_file_name": "handle files",
    "rename_traj_file_name": "handle src dest",
    "remove_traj_file": "handle filename",
    "generate_traj_exe_file": "handle filename",
    "torque_control_enable": "handle enable",
    "torque_feedforward": "handle tor_val grv_flag",
    "set_torsenosr_brand": "handle sensor_brand",
    "get_torsenosr_brand": "handle sensor_brand",
    "set_torque_sensor_mode": "handle sensor_mode",
    "set_torque_sensor_comm": "handle type ip_addr port",
    "get_torque_sensor_comm": "handle type ip_addr port",
    "start_torq_sensor_payload_identify": "handle joint_pos",
    "get_torq_sensor_identify_staus": "handle identify_status",
    "get_torq_sensor_payload_identify_result": "handle payload",
    "set_torq_sensor_tool_payload": "handle payload",
    "get_torq_sensor_tool_payload": "handle payload",
    "set_admit_ctrl_config": "handle axis opt ftUser ftConstant ftNnormalTrack ftReboundFK",
    "get_admit_ctrl_config": "handle config",
    "enable_admittance_ctrl": "handle enable_flag",
    "set_compliant_type": "handle sensor_compensation compliance_type",
    "get_compliant_type": "handle sensor_compensation compliance_type",
    "disable_force_control": "handle",
    "set_vel_compliant_ctrl": "handle vel",
    "set_compliance_condition": "handle ft",
}


def function_of(name: str) -> str:
    """The library function that the velmo method `name` calls (``login``:
    ``create_handler``); a library function's name is returned unchanged."""
    return _FUNCTION_OF_METHOD.get(name, name)


def method_of(function: str) -> str:
    """The velmo method that calls library function `function` (``create_handler``: ``login``)."""
    return _METHOD_OF_FUNCTION.get(function, function)


def parameters_of(function: str) -> List[str]:
    """The names of a library function's parameters, in order (the handle first)."""
    return _PARAMETERS[function_of(function)].split()


@dataclass(frozen=True)
class Call:
    """One journal entry, read as velmo sees it."""

    function: str
    """The library function (``create_handler``)."""
    method: str
    """The velmo method that calls it (``login``)."""
    args: Dict[str, Any]
    """The arguments by the header's parameter names, without the handle;
    out-parameters read ``"out"``."""
    address: Optional[str]
    """The controller the call went to (None for a handle never given out,
    and for get_controller_ip)."""
    handle: Optional[int]


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


def simulated_clock() -> Callable[[], float]:
    """A function that reads the virtual controller's simulated time
    (seconds), for a recorder's timestamps; OSError when velmo drives
    another library."""
    loaded = _loaded_path() or library_path()
    try:
        function = ctypes.CDLL(loaded).zsim_time
    except AttributeError:
        raise OSError(f"{loaded} is not the virtual controller: it tells no simulated time") from None
    function.restype = ctypes.c_double
    function.argtypes = []

    def now() -> float:
        return float(function())
    return now


def _number(value: Any, field: str) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise ValueError(f"{field}: must be a number (got {value!r})")
    return float(value)


def _numbers(values: Any, count: int, field: str) -> List[float]:
    try:
        items = list(values)
    except TypeError:
        raise ValueError(f"{field}: must be {count} numbers (got {values!r})") from None
    if len(items) != count:
        raise ValueError(f"{field}: must be {count} numbers (got {len(items)})")
    return [_number(v, f"{field}[{i}]") for i, v in enumerate(items)]


def _finite(values: Any, count: int, field: str) -> List[float]:
    """`count` finite numbers, or ValueError naming `field`."""
    numbers = _numbers(values, count, field)
    if not all(math.isfinite(v) for v in numbers):
        raise ValueError(f"{field}: must be finite (got {values!r})")
    return numbers


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
        lib.zsim_hold_library_lock.argtypes = [ctypes.c_int]
        lib.zsim_set_digital_input.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_int]
        lib.zsim_set_analog_input.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_float]
        lib.zsim_trigger_fault.argtypes = [ctypes.c_char_p, ctypes.c_int]
        doubles = ctypes.POINTER(ctypes.c_double)
        lib.zsim_joint_torques.argtypes = [ctypes.c_char_p, doubles]
        lib.zsim_set_actual_payload.argtypes = [ctypes.c_char_p, doubles]
        lib.zsim_apply_wrench.argtypes = [ctypes.c_char_p, doubles, doubles]
        lib.zsim_inverse_dynamics.argtypes = [doubles, doubles, doubles, doubles, doubles, doubles, ctypes.c_int,
                                              doubles]
        lib.zsim_trigger_fault_after.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_double]
        lib.zsim_trigger_fault_after_cycles.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int]
        lib.zsim_time.restype = ctypes.c_double
        lib.zsim_time.argtypes = []
        lib.zsim_handle_address.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
        lib.zsim_home.argtypes = [ctypes.c_char_p, ctypes.c_int]
        lib.zsim_home_problem.argtypes = [ctypes.c_char_p, ctypes.c_int]
        lib.zsim_settings.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int]
        lib.zsim_serve_view.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
        lib.zsim_set_base.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_double), ctypes.c_char_p, ctypes.c_int]
        lib.zsim_set_body.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
        for changer in (lib.zsim_scene_add, lib.zsim_scene_remove, lib.zsim_scene_set, lib.zsim_scene_load):
            changer.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int]
        lib.zsim_scene_clear.restype = None
        lib.zsim_scene.argtypes = [ctypes.c_char_p, ctypes.c_int]
        lib.zsim_bases.argtypes = [ctypes.c_char_p, ctypes.c_int]
        lib.zsim_contacts.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int]
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

    def entries(self, method: Optional[str] = None, *, address: Optional[str] = None) -> List[Call]:
        """The kept calls as `Call`s (velmo method, arguments by name,
        controller address), oldest first; only those of `method` (a velmo
        method or a library function) and of the controller at `address`
        when given."""
        wanted = None if method is None else function_of(method)
        addresses: Dict[int, Optional[str]] = {}
        calls: List[Call] = []
        for entry in self.journal():
            function = str(entry["fn"])
            if wanted is not None and function != wanted:
                continue
            args: List[Any] = list(entry["args"])
            names = _PARAMETERS.get(function, "").split()
            handle: Optional[int] = None
            where: Optional[str] = None
            if function == "create_handler":
                where = args[0] if args else None
            elif names[:1] == ["handle"] and args and isinstance(args[0], int):
                handle = args[0]
                if handle not in addresses:
                    addresses[handle] = self.address_of(handle)
                where = addresses[handle]
            if address is not None and where != address:
                continue
            named = {n: v for n, v in zip(names, args) if n != "handle"}
            calls.append(Call(function, method_of(function), named, where, handle))
        return calls

    def address_of(self, handle: int) -> Optional[str]:
        """The address `handle` was given out for since the last reset (open
        or closed), or None."""
        size = int(self.lib.zsim_handle_address(handle, None, 0))
        if size < 0:
            return None
        buffer = ctypes.create_string_buffer(size + 1)
        self.lib.zsim_handle_address(handle, buffer, size + 1)
        return buffer.value.decode("utf-8", "surrogateescape")

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

    @contextlib.contextmanager
    def library_lock_held(self, timeout: float = 5.0) -> Iterator[None]:
        """Hold the library's lock from a thread of the library (for at most
        `timeout` seconds) while the body runs: a call that needs the lock
        waits until the body ends. Raises RuntimeError on leaving when the
        hold had ended by its time, which means that the body waited for the
        lock (or ran longer than `timeout`)."""
        if self.lib.zsim_hold_library_lock(max(1, int(timeout * 1000))) != 0:
            raise RuntimeError("the library lock is held by the probe already")
        try:
            yield
        finally:
            ended = self.lib.zsim_hold_library_lock(0)
        if ended != 0:
            raise RuntimeError(f"the library lock was let go after {timeout} s, before the body ended")

    def set_digital_input(self, address: str, iotype: int, index: int, value: int) -> None:
        """Set a digital input of the controller at `address` to 0 or 1."""
        self._refused(self.lib.zsim_set_digital_input(address.encode(), iotype, index, value),
                      f"digital input {iotype}/{index} of {address!r}")

    def set_analog_input(self, address: str, iotype: int, index: int, value: float) -> None:
        """Set an analog input of the controller at `address`."""
        self._refused(self.lib.zsim_set_analog_input(address.encode(), iotype, index, value),
                      f"analog input {iotype}/{index} of {address!r}")

    def trigger_fault(self, address: str, code: int, *, after: Optional[float] = None,
                      cycles: Optional[int] = None) -> None:
        """Stop the arm at `address` in an error state with `code`; its error
        handler receives `code` from the library's event thread.

        Now, or scheduled in simulated time: `after` seconds from now, or
        after `cycles` of the arm's 8 ms cycles of motion (with the arm at
        rest: cycle `cycles` of its next motion; 0 stops it before it
        moves). A scheduled fault falls at the same point of a motion on
        every run, in manual time or at any time scale (at scale 0 time
        stands still: use `cycles`); one due while the arm rests falls when
        a call next looks at it."""
        where = f"fault {code} on {address!r}"
        if after is not None and cycles is not None:
            raise ValueError("trigger_fault takes `after` or `cycles`, not both")
        if after is not None:
            self._refused(self.lib.zsim_trigger_fault_after(address.encode(), code, after), f"{where} after {after!r} s")
        elif cycles is not None:
            self._refused(self.lib.zsim_trigger_fault_after_cycles(address.encode(), code, cycles),
                          f"{where} after {cycles!r} cycles")
        else:
            self._refused(self.lib.zsim_trigger_fault(address.encode(), code), where)

    def time(self) -> float:
        """Simulated time now, seconds since the library was loaded: the
        clock the arms move on (see set_time_scale, advance_time)."""
        return float(self.lib.zsim_time())

    # ---- what the arm carries and what pushes on it --------------------------------

    def joint_torques(self, address: str) -> List[float]:
        """The six torques (N·m) the joints of the arm at `address` give now:
        the arm as it really is, with the payload it carries and every force
        on it (contacts, an applied wrench). At rest they are read now, while
        it moves at its latest cycle."""
        torques = (ctypes.c_double * 6)()
        self._refused(self.lib.zsim_joint_torques(address.encode(), torques), f"joint torques of {address!r}")
        return list(torques)

    def set_actual_payload(self, address: str, mass: Optional[float] = None,
                           centre: Sequence[float] = (0.0, 0.0, 0.0)) -> None:
        """The payload the arm at `address` really carries: `mass` in kg (0 to
        100) at `centre` (mm, flange frame), whatever set_payload declared; a
        difference shows in its joint torques and collision detection. With
        no mass the arm carries the declared payload again (the default)."""
        if mass is None:
            self._refused(self.lib.zsim_set_actual_payload(address.encode(), None), f"payload of {address!r}")
            return
        values = _finite(centre, 3, "centre")
        if not (isinstance(mass, (int, float)) and 0 <= mass <= 100):
            raise ValueError(f"mass: must be a number from 0 to 100 kg (got {mass!r})")
        payload = (ctypes.c_double * 4)(float(mass), *values)
        self._refused(self.lib.zsim_set_actual_payload(address.encode(), payload), f"payload of {address!r}")

    def apply_wrench(self, address: str, force: Sequence[float] = (0.0, 0.0, 0.0),
                     torque: Sequence[float] = (0.0, 0.0, 0.0)) -> None:
        """Push the arm at `address` at its TCP with `force` (N) and `torque`
        (N·m), both in the arm's base frame, until the next call;
        ``apply_wrench(address)`` clears it. A wrench the controller does not
        expect makes its protective stop beyond the collision level's
        threshold; in drag mode and under admittance control it moves the arm."""
        f = (ctypes.c_double * 3)(*_finite(force, 3, "force"))
        t = (ctypes.c_double * 3)(*_finite(torque, 3, "torque"))
        self._refused(self.lib.zsim_apply_wrench(address.encode(), f, t), f"wrench on {address!r}")

    def inverse_dynamics(self, q: Sequence[float], v: Sequence[float], a: Sequence[float],
                         payload: Sequence[float] = (0.0, 0.0, 0.0, 0.0),
                         gravity: Sequence[float] = (0.0, 0.0, -9.81),
                         forces: Sequence[Tuple[int, Sequence[float], Sequence[float]]] = ()) -> List[float]:
        """The torques (N·m) the virtual arm's model needs at joints `q`
        (rad), velocities `v` (rad/s) and accelerations `a` (rad/s²),
        carrying `payload` (mass kg, centre x, y, z mm in the flange frame),
        under `gravity` (m/s², base frame), pushed by `forces`: (body, point,
        force) with body 0..5 the link joint body+1 turns or 6 the tool, the
        point in mm and the force in N, both in the base frame."""
        flat: List[float] = []
        for n, (body, point, force) in enumerate(forces):
            if body not in range(7):
                raise ValueError(f"forces[{n}]: body must be 0 to 6, not {body!r}")
            flat += [float(body), *_finite(point, 3, f"forces[{n}] point"), *_finite(force, 3, f"forces[{n}] force")]
        arrays = [(ctypes.c_double * len(values))(*values) for values in (
            _finite(q, 6, "q"), _finite(v, 6, "v"), _finite(a, 6, "a"), _finite(payload, 4, "payload"),
            _finite(gravity, 3, "gravity"))]
        pushes = (ctypes.c_double * max(len(flat), 1))(*flat)
        torques = (ctypes.c_double * 6)()
        self._refused(self.lib.zsim_inverse_dynamics(*arrays, pushes, len(forces), torques), "the inverse dynamics")
        return list(torques)
    # ---- the world ------------------------------------------------------------------

    def set_base(self, address: str, pose: Sequence[float]) -> None:
        """Place the arm of the controller at `address` in the world (now, or
        once a script logs in to it): ``pose`` is x, y, z in mm and rx, ry, rz
        in rad, in the world frame. Arms placed this way touch each other;
        arms never placed all stand at the origin and only touch the scene.
        ValueError names what is wrong."""
        values = _numbers(pose, 6, "pose")
        self._change(self.lib.zsim_set_base, address.encode(), (ctypes.c_double * 6)(*values))

    def set_body(self, address: str, solid: bool) -> None:
        """With False the arm at `address` has no body: it moves through the
        floor, the scene, itself and other arms and never stops for them, as
        before the world existed (for tests of motion alone). True gives it
        its body back; reset() gives every arm its body."""
        self._change(self.lib.zsim_set_body, address.encode(), 1 if solid else 0)

    def add_box(self, name: str, pose: Sequence[float], size: Sequence[float]) -> None:
        """Add a box centred on `pose` (x, y, z mm, rx, ry, rz rad), its
        edges `size` (mm) along the pose's axes."""
        self.add({"name": name, "shape": "box", "pose": _numbers(pose, 6, "pose"),
                  "size": _numbers(size, 3, "size")})

    def add_cylinder(self, name: str, pose: Sequence[float], radius: float, length: float) -> None:
        """Add a cylinder centred on `pose`, its axis along the pose's z."""
        self.add({"name": name, "shape": "cylinder", "pose": _numbers(pose, 6, "pose"),
                  "radius": _number(radius, "radius"), "length": _number(length, "length")})

    def add_sphere(self, name: str, centre: Sequence[float], radius: float) -> None:
        """Add a sphere."""
        self.add({"name": name, "shape": "sphere", "centre": _numbers(centre, 3, "centre"),
                  "radius": _number(radius, "radius")})

    def add(self, obj: Dict[str, Any]) -> None:
        """Add an object in its plain form, as scene() lists them (a
        "plane" is the solid half-space below the xy plane of its pose)."""
        self._change(self.lib.zsim_scene_add, json.dumps(obj).encode())

    def remove(self, name: str) -> None:
        """Remove the object of that name (``remove("floor")``: no floor)."""
        self._change(self.lib.zsim_scene_remove, name.encode())

    def clear_scene(self) -> None:
        """Remove every object, the floor too."""
        self.lib.zsim_scene_clear()

    def scene(self) -> List[Dict[str, Any]]:
        """The objects of the scene, as plain dicts (the form add(),
        set_scene() and a ZSIM_SCENE file take)."""
        objects: List[Dict[str, Any]] = json.loads(self._text(self.lib.zsim_scene) or "[]")
        return objects

    def set_scene(self, objects: Sequence[Dict[str, Any]]) -> None:
        """Replace the whole scene (all or nothing)."""
        self._change(self.lib.zsim_scene_set,
                     json.dumps(objects if isinstance(objects, (list, dict)) else list(objects)).encode())

    def load_scene(self, path: Union[str, "os.PathLike[str]"]) -> None:
        """Replace the whole scene by the list in a JSON file, as
        ZSIM_SCENE=path does when the library starts. ValueError names the
        file and the line that is wrong."""
        self._change(self.lib.zsim_scene_load, os.fsdecode(path).encode("utf-8", "surrogateescape"))

    def bases(self) -> Dict[str, List[float]]:
        """The placed bases, {address: pose}."""
        bases: Dict[str, List[float]] = json.loads(self._text(self.lib.zsim_bases) or "{}")
        return bases

    def contacts(self, address: str) -> List[Dict[str, Any]]:
        """Where the arm at `address` touches something now: one dict per
        touching capsule of its body, with the part ("link": 0..5, 6 the
        tool), the penalty "force" (N) and the "point" it acts at, both in
        the arm's base frame, the "depth" (mm), the "world_point" and
        "normal" in the world frame, and what it touches ("with": "object"
        or "arm", "other": its name or address). After a self-collision
        stop, the two parts that came too near are listed too ("with":
        "self", no force)."""
        key = address.encode()
        size = int(self.lib.zsim_contacts(key, None, 0))
        if size < 0:
            raise ValueError(f"the virtual controller has no controller at {address!r}")
        buffer = ctypes.create_string_buffer(size + 1)
        self.lib.zsim_contacts(key, buffer, size + 1)
        contacts: List[Dict[str, Any]] = json.loads(buffer.value.decode("utf-8"))
        return contacts

    def _change(self, function: Any, *args: Any) -> None:
        """Call a probe function that returns 0, or -1 and why."""
        why = ctypes.create_string_buffer(1024)
        if int(function(*args, why, len(why))) != 0:
            raise ValueError(why.value.decode("utf-8", "replace") or "the virtual controller refused the change")

    # ---- files and settings -------------------------------------------------------

    def home(self) -> str:
        """Deprecated name of files_folder() (it returns a folder, not the arm's home pose)."""
        warnings.warn("Probe.home() is Probe.files_folder() now", DeprecationWarning, stacklevel=2)
        return self.files_folder()

    def files_folder(self) -> str:
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
