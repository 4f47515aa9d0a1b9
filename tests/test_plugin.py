"""velmo's pytest plugin (velmo_pytest) is installed with the package: a test
file uses its fixtures when pytest loads it from its entry point (the
default) and under `pytest -p velmo_pytest` with autoloading off; without it
the fixtures are missing; a test that neither uses its fixtures nor carries
its marker is left alone, and loading the plugin loads no library."""

import os
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.join(HERE, "test_plugin_fixtures.py")

UNTOUCHED = '''
import os, velmo, zandrel_sim

def test_one():
    sim = zandrel_sim.Probe()
    sim.reset()
    sim.set_time_scale(0)
    robot = velmo.RC("127.0.0.5")
    assert robot.login() == (0,)

def test_two():
    sim = zandrel_sim.Probe()
    assert sim.address_of(1) == "127.0.0.5"   # no reset between them
    assert os.environ.get("ZSIM_HOME") == os.environ["EXPECTED_HOME"]
'''


def pytest_run(args, tmp_path, autoload=True, extra_env=None):
    env = dict(os.environ, **(extra_env or {}))
    env.pop("PYTEST_ADDOPTS", None)
    if autoload:
        env.pop("PYTEST_DISABLE_PLUGIN_AUTOLOAD", None)
    else:
        env["PYTEST_DISABLE_PLUGIN_AUTOLOAD"] = "1"
    return subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", *args],
                          cwd=tmp_path, env=env, capture_output=True, text=True, timeout=300)


@pytest.mark.parametrize("autoload, plugin", [(True, []), (False, ["-p", "velmo_pytest"]),
                                               (True, ["-p", "velmo_pytest"])],
                         ids=["entry point", "-p without autoload", "-p and the entry point"])
def test_a_test_file_uses_the_fixtures(tmp_path, autoload, plugin):
    done = pytest_run([*plugin, "--rootdir", str(tmp_path), FIXTURES], tmp_path, autoload)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "4 passed" in done.stdout


def test_without_the_plugin_the_fixtures_are_missing(tmp_path):
    done = pytest_run(["--rootdir", str(tmp_path), FIXTURES], tmp_path, autoload=False)
    assert done.returncode != 0 and "fixture 'virtual_controller' not found" in done.stdout


def test_tests_that_do_not_use_it_are_left_alone(tmp_path):
    (tmp_path / "test_untouched.py").write_text(UNTOUCHED)
    home = str(tmp_path / "home")
    done = pytest_run(["test_untouched.py"], tmp_path, extra_env={"ZSIM_HOME": home, "EXPECTED_HOME": home})
    assert done.returncode == 0, done.stdout + done.stderr
    assert "2 passed" in done.stdout


def test_loading_the_plugin_loads_no_library():
    """pytest loads it in every session of the environment: velmo, and the
    controller library it links, wait until a fixture is used."""
    check = ("import sys, velmo_pytest, zandrel_sim; "
             "assert 'velmo' not in sys.modules and 'velmo_arm' not in sys.modules, sorted(sys.modules); "
             "assert zandrel_sim._loaded_path() is None")
    done = subprocess.run([sys.executable, "-c", check], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
