"""The bridge from native code into Python: the error handler and call_func."""

import ctypes
import math
import subprocess
import sys
import threading

import pytest

import velmo
from builds import WINDOWS, linux_exports
from simkit import Handler, under_sanitizer

if not WINDOWS:  # the Windows module exports neither function
    NATIVE = ctypes.CDLL(velmo.__file__)  # CDLL releases the GIL around each call
    NATIVE.call_func.argtypes = [ctypes.py_object, ctypes.c_double]
    NATIVE.call_func.restype = ctypes.c_double
    NATIVE.pythonCallBack.argtypes = [ctypes.c_int]
    NATIVE.pythonCallBack.restype = None


def run_child(code):
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)


# ---- set_error_handler and pythonCallBack -------------------------------------------

def test_handler_receives_codes_on_every_thread_kind(rc, sim):
    recorder = Handler()
    sim.inject("set_error_handler", 9)  # velmo keeps the handler even when the library refuses it
    assert rc.set_error_handler(recorder) is None
    assert sim.calls("set_error_handler") == [[rc.handle, "callback"]]
    assert sim.raise_error(11, 0) == 0  # on this thread
    assert sim.raise_error(12, 1) == 0  # on a thread the library joins before returning
    assert recorder.codes == [11, 12]
    assert sim.raise_error(13, 2) == 0  # on a detached thread
    assert [recorder.next() for _ in range(3)] == [11, 12, 13]
    here = threading.get_ident()
    assert recorder.threads[0] == here and here not in recorder.threads[1:]


def test_latest_registration_wins_for_every_object(sim):
    first, second = velmo.RC("10.0.0.1"), velmo.RC("10.0.0.2")
    first.login()
    second.login()
    a, b = Handler(), Handler()
    first.set_error_handler(a)
    second.set_error_handler(b)
    sim.raise_error(5, 0)
    assert a.codes == [] and b.codes == [5]


@pytest.mark.parametrize("handle, args, error, message", [
    (None, (42,), TypeError, "parameter must be callable"),
    (None, (), TypeError, "set_callback"),
    (None, (1, 2), TypeError, "set_callback"),
    (-1, (42,), Exception, "invalid robot control handle"),  # checked first
])
def test_a_refused_registration_keeps_the_old_handler(rc, sim, handle, args, error, message):
    recorder = Handler(rc)
    sim.clear()
    if handle is not None:
        rc.handle = handle
    with pytest.raises(error, match=message):
        rc.set_error_handler(*args)
    assert sim.journal() == []
    sim.raise_error(3, 0)
    assert recorder.codes == [3]


def test_raising_handler_goes_to_the_unraisable_hook_and_the_call_goes_on(rc, sim, monkeypatch):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", lambda info: seen.append(info.exc_value))
    problem = ValueError("handler broke")

    def handler(code):
        raise problem

    rc.set_error_handler(handler)
    sim.inject_callback("power_on", 77)
    sim.inject("power_on", 0)
    assert rc.power_on() == (0,)  # no exception leaks into the method
    assert seen == [problem]
    assert sim.raise_error(1, 1) == 0
    assert len(seen) == 2


@pytest.mark.parametrize("code, stderr", [
    pytest.param("import ctypes\nctypes.CDLL(velmo.__file__).pythonCallBack(5)\n", "",  # no handler registered
                 marks=linux_exports),
    ("rc.set_error_handler(lambda code: sys.exit(3))\nsim.raise_error(1, 0)\n", "SystemExit"),
], ids=["without a handler", "SystemExit in the handler"])
def test_a_callback_never_ends_the_process(code, stderr):
    child = run_child(
        "import sys, velmo, zandrel_sim\n"
        "sim = zandrel_sim.Probe(); sim.reset()\n"
        "rc = velmo.RC('1.2.3.4'); rc.login()\n" + code + "print('alive')\n")
    assert child.returncode == 0, child.stderr
    assert child.stdout == "alive\n" and (stderr in child.stderr if stderr else child.stderr == "")


STORMS = {
    "detached threads": "for code in range(200):\n    sim.raise_error(code, 2)\n",
    "event thread": "rc.power_on(); rc.enable_robot(); rc.jog(0, 2, 1, 0.1, 0)\n"
                    "for code in range(1, 200):\n    sim.trigger_fault('1.2.3.4', code)\n",
}


@pytest.mark.parametrize("storm", ["detached threads", pytest.param("event thread", marks=pytest.mark.skipif(
    under_sanitizer(), reason="CPython ends a thread that asks for the interpreter lock during finalization with "
    "pthread_exit; AddressSanitizer then reports the stack it unwound without unpoisoning"))])
def test_an_event_storm_at_exit_ends_quietly(storm):
    # Where the storm stands when the interpreter ends differs from run to run.
    for _ in range(5):
        child = run_child(
            "import velmo, zandrel_sim\n"
            "sim = zandrel_sim.Probe(); sim.reset()\n"
            "rc = velmo.RC('1.2.3.4'); rc.login()\n"
            "rc.set_error_handler(lambda code: None)\n" + STORMS[storm] + "print('done')\n")
        assert child.returncode == 0, child.stderr
        assert child.stdout == "done\n"


# ---- call_func, the method -------------------------------------------------------------

def test_call_func_returns_the_callables_float_object(sim):
    class Meters(float):
        pass

    robot = velmo.RC("10.0.0.1")
    robot.handle = -1  # no handle check, no library
    produced = []

    def add(x, y):
        produced.append(Meters(x + y))  # a float subclass is taken as it is
        return produced[-1]

    result = robot.call_func(add, 1, 2)
    assert result == 3.0 and result is produced[0]
    assert sim.journal() == []


def raise_key_error(x, y):
    raise KeyError("nope")


@pytest.mark.parametrize("args, error, message, printed", [
    ((abs,), TypeError, "set_callback", ""),
    ((abs, "1", 2), TypeError, "real number", ""),
    ((5, 1, 2), TypeError, "parameter must be callable", ""),
    ((lambda x, y: 3, 1, 2), TypeError, None, "call_func: callable didn't return a float\n"),
    ((raise_key_error, 1, 2), KeyError, "nope", "KeyError: 'nope'\n"),  # printed with its traceback
])
def test_call_func_failures_raise_and_print_what_went_wrong(capfd, args, error, message, printed):
    with pytest.raises(error, match=message):
        velmo.RC("x").call_func(*args)
    err = capfd.readouterr().err
    assert err.endswith(printed) if printed else err == ""


# ---- call_func, the native entry point ---------------------------------------------------

@linux_exports
def test_native_call_func_from_other_threads():
    results = []
    workers = [threading.Thread(target=lambda v=v: results.append(NATIVE.call_func(lambda x: x * 2, v)))
               for v in range(8)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join(10)
    assert sorted(results) == [2.0 * v for v in range(8)]


def broken(x):
    raise RuntimeError("native caller sees nan")


@pytest.mark.parametrize("callable_, message", [
    (42, "call_func: expected a callable\n"),
    (lambda x: "text", "call_func: callable didn't return a float\n"),
    (broken, "RuntimeError: native caller sees nan\n"),
])
@linux_exports
def test_native_call_func_failures_print_and_return_nan(capfd, callable_, message):
    assert math.isnan(NATIVE.call_func(callable_, 1.0))
    assert capfd.readouterr().err.endswith(message)
    assert NATIVE.call_func(lambda x: x + 0.5, 1.0) == 1.5  # no exception left pending
