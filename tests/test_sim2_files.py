"""The controller's folder: where it is, and file names that can never
leave it."""

import os
import pathlib
import sys

import pytest

from simkit import BAD_FILE_NAME, FILE_NOT_FOUND, write_program


REPO = pathlib.Path(__file__).resolve().parents[1]

BAD_NAMES = ["", "../x", "..", ".", "a/b", "a\\b", "/etc/passwd", "C:x", ".hidden", "x" * 100,
             "tab\tname", "new\nline", " lead", "trail ", "dot.", "what?", "star*", "<a>", 'q"uote', "a|b"]
GOOD_NAMES = ["x" * 99, "pick and place.jks", "a.b.c", "-dash", "UPPER",
              "ünïcode"]

# each call that takes a file name, with the name in place of {}
NAMED = {
    "program_load": lambda r, n: r.program_load(n),
    "set_traj_sample_mode": lambda r, n: r.set_traj_sample_mode(1, n),
    "rename_traj_file_name (from)": lambda r, n: r.rename_traj_file_name(n, "fine"),
    "rename_traj_file_name (to)": lambda r, n: r.rename_traj_file_name("fine", n),
    "remove_traj_file": lambda r, n: r.remove_traj_file(n),
    "generate_traj_exe_file": lambda r, n: r.generate_traj_exe_file(n),
}


def everything_in(folder):
    return sorted(str(p.relative_to(folder)) for p in folder.rglob("*"))


@pytest.mark.parametrize("call", sorted(NAMED))
@pytest.mark.parametrize("name", BAD_NAMES, ids=repr)
def test_names_that_are_not_plain_are_refused(rc, tmp_path, monkeypatch, call, name):
    home = tmp_path / "inner" / "home"
    for folder in ("programs", "trajectories"):
        (home / folder).mkdir(parents=True)
    (home / "trajectories" / "fine").write_text("")
    monkeypatch.setenv("ZSIM_HOME", str(home))
    before = everything_in(tmp_path)
    assert NAMED[call](rc, name) == (BAD_FILE_NAME,)
    assert rc.get_traj_sample_status() == (0, 0)
    assert everything_in(tmp_path) == before
    assert rc.get_last_error()[1] == (BAD_FILE_NAME, "bad file name")


@pytest.mark.parametrize("name", GOOD_NAMES, ids=repr)
def test_plain_names_work_in_every_call(rc, home, name):
    assert rc.set_traj_sample_mode(1, name) == (0,)
    assert rc.set_traj_sample_mode(0, name) == (0,)
    assert rc.get_exist_traj_file_name() == (0, [name])
    assert rc.generate_traj_exe_file(name) == (0,)
    assert rc.program_load(name) == (0,) and rc.get_loaded_program() == (0, name)
    assert rc.rename_traj_file_name(name, "other") == (0,)
    assert rc.rename_traj_file_name("other", name) == (0,)
    assert rc.remove_traj_file(name) == (0,)
    assert everything_in(home) == sorted(["programs", "trajectories", os.path.join("programs", name)])


def test_the_folder_is_read_at_each_use(rc, sim, tmp_path, monkeypatch):
    first, second = tmp_path / "first", tmp_path / "second"
    for folder in (first, second):
        (folder / "programs").mkdir(parents=True)
    write_program(first, "only-first", ["dout 0 1 1"])
    monkeypatch.setenv("ZSIM_HOME", str(first))
    assert sim.files_folder() == str(first)
    with pytest.deprecated_call():  # the old name, which read as the arm's home pose
        assert sim.home() == str(first)
    assert rc.program_load("only-first") == (0,)
    monkeypatch.setenv("ZSIM_HOME", str(second))
    assert sim.files_folder() == str(second)
    assert rc.program_load("only-first") == (FILE_NOT_FOUND,)
    rc.set_traj_sample_mode(1, "here")
    rc.set_traj_sample_mode(0, "here")
    assert (second / "trajectories" / "here").is_file()
    assert not (first / "trajectories").exists()


@pytest.mark.skipif(sys.platform == "win32", reason="the Windows default is under LOCALAPPDATA")
@pytest.mark.parametrize("env, expected", [
    ({"XDG_DATA_HOME": "{tmp}/data", "HOME": "{tmp}/user"}, "{tmp}/data/zandrel-sim"),
    ({"XDG_DATA_HOME": "relative", "HOME": "{tmp}/user"}, "{tmp}/user/.local/share/zandrel-sim"),
    ({"HOME": "{tmp}/user"}, "{tmp}/user/.local/share/zandrel-sim"),
    ({"ZSIM_HOME": "", "HOME": "{tmp}/user"}, "{tmp}/user/.local/share/zandrel-sim"),
])
def test_the_default_folder_is_per_user(sim, tmp_path, monkeypatch, env, expected):
    for name in ("ZSIM_HOME", "XDG_DATA_HOME", "HOME"):
        monkeypatch.delenv(name, raising=False)
    for name, text in env.items():
        monkeypatch.setenv(name, text.format(tmp=tmp_path))
    assert sim.files_folder() == expected.format(tmp=tmp_path)


def test_reading_makes_no_folder(rc, tmp_path, monkeypatch, home):
    (home / "programs" / "p").mkdir()  # a folder is not a program
    for folder in (tmp_path / "none", home):  # no folder at all; one without trajectories/
        monkeypatch.setenv("ZSIM_HOME", str(folder))
        before = everything_in(tmp_path)
        assert rc.program_load("p") == (FILE_NOT_FOUND,)
        assert rc.get_exist_traj_file_name() == (0, [])
        assert rc.remove_traj_file("p") == (FILE_NOT_FOUND,)
        assert rc.generate_traj_exe_file("p") == (FILE_NOT_FOUND,)
        assert everything_in(tmp_path) == before
