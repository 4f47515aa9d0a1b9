"""The probe's journal switch: with it off, calls go unrecorded but still take
their injections; zsim_reset switches it back on; and it waits, off, until
the probe is first used."""

import json
import struct
import subprocess
import sys

import pytest

import velmo

J = (0.0, 0.5, 1.0, 0.0, 1.57, -0.25)
POSE = (1.5, -2.0, 0.25, 3.0, -0.5, 6.0)


def names(sim):
    return [entry["fn"] for entry in sim.journal()]


@pytest.mark.parametrize("value, records", [(0, False), (1, True), (2, True), (-1, True)])
def test_switch_values(sim, rc, value, records):
    rc.power_on()
    sim.lib.zsim_journal_enable(value)
    rc.servo_j(J, 0)
    rc.get_joint_position()
    expected = ["power_on", "servo_j", "get_joint_position"] if records else ["power_on"]
    assert names(sim) == expected and sim.count() == len(expected)


def test_off_keeps_the_journal_and_on_resumes_the_count(sim, rc):
    rc.power_on()
    sim.journal_enable(False)
    for _ in range(5):
        rc.servo_j(J, 0)
    sim.journal_enable(True)
    rc.power_off()
    assert sim.count() == 2
    assert sim.journal() == [{"fn": "power_on", "args": [rc.handle]},
                             {"fn": "power_off", "args": [rc.handle]}]


# each injects into the next get_joint_position and tells whether its answer shows it
def inject_code(sim):
    sim.inject("get_joint_position", 23)
    return lambda result, plain, handled: result == (23,)


def inject_out(sim):
    sim.inject_out("get_joint_position", 0, struct.pack("<6d", *POSE))
    return lambda result, plain, handled: result == (0, list(POSE))


def inject_callback(sim):
    sim.inject_callback("get_joint_position", 41)
    return lambda result, plain, handled: handled == [41] and result == plain


def inject_delay(sim):  # the delay itself: test_probe_lib.py
    sim.inject_delay("get_joint_position", 60)
    return lambda result, plain, handled: result == plain


@pytest.mark.parametrize("recording", [True, False], ids=["journal on", "journal off"])
@pytest.mark.parametrize("inject", [inject_code, inject_out, inject_callback, inject_delay])
def test_injections_apply_once_either_way(sim, rc, recording, inject):
    handled = []
    rc.set_error_handler(handled.append)
    sim.journal_enable(recording)
    plain = rc.get_joint_position()
    check = inject(sim)
    assert check(rc.get_joint_position(), plain, handled)
    assert rc.get_joint_position() == plain  # used up
    assert len(handled) <= 1
    assert sim.count() == (4 if recording else 1)  # set_error_handler was recorded before the switch


@pytest.mark.parametrize("recording", [True, False], ids=["journal on", "journal off"])
def test_using_up_one_injection_leaves_the_others_pending(sim, rc, recording):
    sim.journal_enable(recording)
    sim.inject("power_on", 31)
    sim.inject("power_off", 32)
    sim.inject("servo_j", 33)
    assert rc.power_on() == (31,)
    assert rc.power_on() != (31,)
    assert rc.servo_j(J, 0) == (33,)
    assert rc.power_off() == (32,)
    assert rc.power_off() != (32,)


def test_reset_switches_the_journal_on_and_drops_injections(sim):
    sim.journal_enable(False)
    sim.inject("power_on", 31)
    sim.reset()
    robot = velmo.RC("127.0.0.1")
    robot.login()
    assert robot.power_on() != (31,)
    assert names(sim) == ["create_handler", "power_on"]


# A fresh process (the journal starts once per process): calls before the
# probe's first use, that use, calls after; it prints what the journal then holds.
FIRST_USE = """
import ctypes, json, velmo, zandrel_sim
rc = velmo.RC("127.0.0.1")
assert rc.login() == (0,) and rc.power_on() == (0,)
lib = ctypes.CDLL(zandrel_sim.library_path())
{use}
rc.power_off()
sim = zandrel_sim.Probe()
print(json.dumps([entry["fn"] for entry in sim.journal()]))
"""


@pytest.mark.parametrize("use, journaled", [
    ("", []),  # nothing used the probe before it was read: nothing recorded
    ("zandrel_sim.Probe()", ["power_off"]),
    ("lib.zsim_set_time_scale(ctypes.c_double(1.0))", ["power_off"]),  # any probe function
    ("lib.zsim_inject(b'get_tool_id', 0)", ["power_off"]),
    ("lib.zsim_journal_enable(0)", []),  # a switch set at the first use stays
    ("lib.zsim_journal_enable(0); zandrel_sim.Probe()", []),  # and a later Probe leaves it
    ("lib.zsim_reset(); rc = velmo.RC('127.0.0.1'); rc.login(); lib.zsim_journal_enable(0); lib.zsim_reset()",
     ["power_off"]),
])
def test_the_journal_starts_at_the_probes_first_use(use, journaled):
    code = FIRST_USE.format(use=use)
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert json.loads(run.stdout) == journaled
