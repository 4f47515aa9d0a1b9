"""Import-and-call check of an installed velmo, run by each interpreter that
the one cp38-abi3 wheel serves:  python .ci/smoke.py 3.10

Imports the module from the interpreter's own site-packages (not from the
source tree), makes one call of each calling kind against the virtual
controller and reads results of several shapes back.
"""

import os
import struct
import sys
import sysconfig

import velmo
import zandrel_sim

expected = sys.argv[1] if len(sys.argv) > 1 else None
running = "%d.%d" % sys.version_info[:2]
assert expected in (None, running), f"asked for {expected}, running {running}"
if sys.platform == "win32":  # the embeddable CPython under Wine: the folder .ci/wine.sh installed into
    site = os.path.realpath(os.path.join(os.path.dirname(sys.executable), "site-packages"))
    module = "velmo.pyd"
else:
    site = os.path.realpath(sysconfig.get_paths()["platlib"])
    module = "velmo.abi3.so"
assert os.path.realpath(os.path.dirname(velmo.__file__)) == site, velmo.__file__
assert os.path.basename(velmo.__file__) == module, velmo.__file__
assert zandrel_sim.is_virtual_controller()

sim = zandrel_sim.Probe()
sim.reset()
robot = velmo.RC("10.0.0.9")
assert robot.login() == (0,)
handle = robot.handle
assert handle > 0

assert robot.power_on() == (0,)                                            # no arguments
sim.inject("jog_stop", 5)
assert robot.jog_stop(2) == (5,)                                            # positional
assert robot.set_digital_output(iotype=0, index=3, value=1) == (0,)         # keywords
joints = [0.5, -1.0, 1.5, 0.0, 0.25, -0.125]
sim.inject_out("get_joint_position", 0, struct.pack("<6d", *joints))
assert robot.get_joint_position() == (0, joints)                            # list of floats
sim.inject("get_digital_output", 0)
assert robot.get_digital_output(0, 3) == (0, 0)
code, status = robot.get_robot_status()
assert code == 0 and len(status) == 20 and len(status[12]) == 65
assert sim.calls("jog_stop") == [[handle, 2]]
assert sim.calls("set_digital_output") == [[handle, 0, 3, 1]]

robot.handle = -1
try:
    robot.power_off()
except Exception as error:  # the module raises the base class itself
    assert type(error) is Exception and str(error) == "invalid robot control handle"
else:
    raise AssertionError("a negative handle reached the library")

print(f"smoke ok: CPython {sys.version.split()[0]} imported {velmo.__file__}")
