"""What the controller promises about its files, against the attacks that
broke the promises: saves killed with SIGKILL leave no temporary file for
long, folders it makes are 0700 whatever the umask, a relative home is an
error that says so, a file with another name (a hard link, maybe to a file
outside the home) is never read, and Windows device names are refused as
file names on every system."""

import os
import random
import stat
import subprocess
import sys
import time

import pytest

from simkit import BAD_FILE_NAME, NO_SAFE_FOLDER, write_program

POSIX = pytest.mark.skipif(sys.platform == "win32", reason="POSIX modes, umask and HOME")
TRAJECTORY = "zandrel-trajectory 1\nconfig 1 0.01 100 500\nframes 0 0\n" + " ".join(["0"] * 13) + "\n"


def run_child(code, env=None, timeout=120):
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=timeout,
                          env={**os.environ, **(env or {})})


# ---- names: Windows devices are refused everywhere ---------------------------------------------

DEVICES = ["CON", "con", "Con.txt", "PRN", "AUX", "aux.c", "NUL", "nul.tar.gz", "CONIN$", "conout$.log",
           "COM1", "com9.log", "COM0", "LPT1", "lpt9", "Lpt5.txt", "COM\u00b9", "lpt\u00b3.x", "NUL ",
           "CON .txt", "nul..txt"]
NOT_DEVICES = ["CONSOLE", "COM10", "LPT", "COM", "nullable", "auxiliary.txt", "xCON", "con_", "PRN1", "COMA"]


@pytest.mark.parametrize("name", DEVICES)
def test_windows_device_names_are_refused_by_every_call(rc, home, name):
    (home / "trajectories").mkdir(exist_ok=True)
    (home / "trajectories" / "kept").write_text(TRAJECTORY)
    assert rc.program_load(name) == (BAD_FILE_NAME,)
    assert rc.set_traj_sample_mode(1, name) == (BAD_FILE_NAME,)
    assert rc.rename_traj_file_name("kept", name) == (BAD_FILE_NAME,)
    assert rc.remove_traj_file(name) == (BAD_FILE_NAME,)
    assert rc.generate_traj_exe_file(name) == (BAD_FILE_NAME,)
    assert sorted(p.name for p in (home / "trajectories").iterdir()) == ["kept"]


@pytest.mark.parametrize("name", NOT_DEVICES)
def test_names_that_only_look_like_devices_are_plain_names(rc, home, name):
    (home / "trajectories").mkdir(exist_ok=True)
    (home / "trajectories" / "kept").write_text(TRAJECTORY)
    assert rc.rename_traj_file_name("kept", name) == (0,)
    assert rc.get_exist_traj_file_name() == (0, [name])


@POSIX
def test_a_device_name_planted_in_a_folder_is_not_listed(rc, home):
    (home / "trajectories").mkdir()
    for name in ("con.txt", "NUL", "plain"):
        (home / "trajectories" / name).write_text(TRAJECTORY)
    assert rc.get_exist_traj_file_name() == (0, ["plain"])


# ---- reads refuse a file with other names ----------------------------------------------------------

def hard_link(target, name):
    try:
        os.link(target, name)
    except OSError as e:  # a file system without hard links
        pytest.skip("no hard links here: %s" % e)


def test_a_hard_link_to_a_file_outside_the_home_is_never_read(rc, home, tmp_path):
    outside = tmp_path / "outside"
    outside.mkdir()
    (outside / "secret").write_text("movj 0 0 0 0 0 0 1\n")
    (outside / "trajectory").write_text(TRAJECTORY)
    (home / "trajectories").mkdir()
    hard_link(outside / "secret", home / "programs" / "linked")
    hard_link(outside / "trajectory", home / "trajectories" / "linked")
    assert rc.program_load("linked") == (BAD_FILE_NAME,)
    assert rc.get_loaded_program() == (0, "")
    assert rc.generate_traj_exe_file("linked") == (BAD_FILE_NAME,)
    assert rc.get_exist_traj_file_name() == (0, [])  # the listing shows the names the calls accept
    os.unlink(outside / "secret")  # its only other name gone, it is the controller's own file
    assert rc.program_load("linked") == (0,)


# ---- the home is an absolute path ---------------------------------------------------------------

RELATIVE = """
import velmo, zandrel_sim
rc = velmo.RC("127.0.0.1"); assert rc.login() == (0,)
try:
    print(zandrel_sim.Probe().files_folder())
except OSError as e:
    print(e)
rc.set_traj_sample_mode(1, "t")
print(rc.set_traj_sample_mode(0, "t")[0], rc.program_load("p")[0], rc.get_exist_traj_file_name()[0])
"""


def relative_home(tmp_path, env):
    cwd = tmp_path / "cwd"
    cwd.mkdir()
    clean = {k: v for k, v in os.environ.items() if k not in ("ZSIM_HOME", "XDG_DATA_HOME", "HOME", "LOCALAPPDATA")}
    child = subprocess.run([sys.executable, "-c", RELATIVE], capture_output=True, text=True, timeout=60,
                           env={**clean, **env}, cwd=cwd)
    assert child.returncode == 0, child.stderr
    assert list(cwd.iterdir()) == []  # nothing made where the process happens to be
    return child.stdout.splitlines()


def test_a_relative_zsim_home_is_an_error_that_says_so(tmp_path):
    why, codes = relative_home(tmp_path, {"ZSIM_HOME": "relative/home", "HOME": str(tmp_path)})
    assert "ZSIM_HOME (relative/home) is not an absolute path" in why
    assert codes.split() == [str(NO_SAFE_FOLDER)] * 3


@pytest.mark.parametrize("variable", ["HOME" if sys.platform != "win32" else "LOCALAPPDATA"])
def test_a_relative_default_home_is_an_error_that_says_so(tmp_path, variable):
    why, codes = relative_home(tmp_path, {variable: "somewhere"})
    assert "%s (somewhere) is not an absolute path" % variable in why
    assert codes.split() == [str(NO_SAFE_FOLDER)] * 3


# ---- folders are 0700 whatever the umask ----------------------------------------------------------------

UMASK = """
import os, sys, velmo
os.umask(int(sys.argv[1], 8))
rc = velmo.RC("127.0.0.1"); assert rc.login() == (0,)
rc.set_traj_sample_mode(1, "t")
print(rc.set_traj_sample_mode(0, "t")[0], rc.generate_traj_exe_file("t")[0])
"""


@POSIX
@pytest.mark.parametrize("umask", ["000", "022", "222", "077"])
@pytest.mark.parametrize("chosen", [True, False], ids=["ZSIM_HOME", "default"])
def test_folders_are_made_0700_whatever_the_umask(tmp_path, umask, chosen):
    if chosen:
        home, env = tmp_path / "a" / "b" / "home", {"ZSIM_HOME": str(tmp_path / "a" / "b" / "home")}
        made = [tmp_path / "a", tmp_path / "a" / "b", home]
    else:
        home = tmp_path / "user" / ".local" / "share" / "zandrel-sim"
        env = {"ZSIM_HOME": "", "XDG_DATA_HOME": "", "HOME": str(tmp_path / "user")}
        (tmp_path / "user").mkdir()
        made = [tmp_path / "user" / ".local", tmp_path / "user" / ".local" / "share", home]
    child = subprocess.run([sys.executable, "-c", UMASK, umask], capture_output=True, text=True, timeout=60,
                           env={**os.environ, **env})
    assert child.returncode == 0, child.stderr
    assert child.stdout.split() == ["0", "0"]
    for folder in made + [home / "programs", home / "trajectories"]:
        assert stat.S_IMODE(os.lstat(folder).st_mode) == 0o700, folder


# ---- temporaries of killed saves are cleaned ---------------------------------------------------------

def hidden(folder):
    return sorted(p.name for p in folder.iterdir() if p.name.startswith("."))


def test_a_save_removes_stale_temporaries_and_keeps_the_rest(rc, home):
    folder = home / "trajectories"
    folder.mkdir()
    stale, fresh = ".t.0123456789abcdef.part", ".t.fedcba9876543210.part"
    # not names a save makes (on Windows names differing in case only are one file: none here)
    others = [".u.0123456789ABCDEF.part", ".t.0123456789abcde.part", ".keep", ".t.0123456789abcdef.partial"]
    for name in [stale, fresh] + others:
        (folder / name).write_text("left by someone")
    hour_ago = time.time() - 3600
    for name in [stale] + others:
        os.utime(folder / name, (hour_ago, hour_ago))
    rc.set_traj_sample_mode(1, "saved")
    assert rc.set_traj_sample_mode(0, "saved") == (0,)
    assert hidden(folder) == sorted([fresh] + others)  # a fresh one may be a save under way


SAVING = """
import velmo, zandrel_sim
zandrel_sim.Probe().set_time_scale(0)
rc = velmo.RC("127.0.0.1"); assert rc.login() == (0,)
rc.power_on(); rc.enable_robot()
print("saving", flush=True)
while True:
    rc.set_traj_sample_mode(1, "t")
    rc.joint_move([0.01, 0, 0, 0, 0, 0], 1, True, 1.0)
    rc.set_traj_sample_mode(0, "t")
    rc.generate_traj_exe_file("t")
"""


def test_saves_killed_with_sigkill_leave_nothing_once_another_save_runs(rc, home):
    rng = random.Random(7)
    for _ in range(12):
        child = subprocess.Popen([sys.executable, "-c", SAVING], stdout=subprocess.PIPE, text=True,
                                 env={**os.environ, "ZSIM_HOME": str(home)})
        assert child.stdout.readline().strip() == "saving"
        time.sleep(rng.uniform(0.0, 0.05))
        child.kill()
        child.wait(timeout=60)
        child.stdout.close()
    long_ago = time.time() - 3600
    for folder in (home / "programs", home / "trajectories"):
        for name in hidden(folder):  # whatever the kills left, as if left long ago
            os.utime(folder / name, (long_ago, long_ago))
    write_program(home, "p", ["wait 0"])
    assert (home / "trajectories" / "t").exists()
    assert rc.generate_traj_exe_file("t") == (0,)  # saves into programs/
    rc.set_traj_sample_mode(1, "u")
    assert rc.set_traj_sample_mode(0, "u") == (0,)  # and into trajectories/
    assert hidden(home / "programs") == [] and hidden(home / "trajectories") == []
