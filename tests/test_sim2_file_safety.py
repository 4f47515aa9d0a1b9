"""The controller's files against a hostile neighbour and a busy machine:
links planted in its folders are never written through and never read out of
the folder, saves by two processes never lose the file, a rename never
replaces one, the default folder is never one that others may write to, and
the listing shows exactly the names the calls accept."""

import ctypes
import os
import pathlib
import platform
import stat
import subprocess
import sys
import tempfile
import threading

import pytest

from simkit import BAD_FILE_NAME, FILE_ACCESS, FILE_EXISTS, FILE_NOT_FOUND, NO_SAFE_FOLDER, write_program

pytestmark = pytest.mark.skipif(sys.platform == "win32", reason="POSIX links, modes and owners")
pwd = pytest.importorskip("pwd", reason="POSIX accounts")

SECRET = b"the neighbour's file, never to be touched\n"


def trajectory(samples=3):
    """A trajectory file's text with `samples` samples."""
    lines = ["zandrel-trajectory 1", "config 1 0.01 100 500", "frames 0 0"]
    lines += [f"{i * 0.008:g} {400 + i * 0.01:g} 0 300 3.1 0 0 0 1.5 -1.5 -1.5 -1.5 {i * 1e-5:g}"
              for i in range(samples)]
    return "\n".join(lines) + "\n"


@pytest.fixture
def home(home):
    (home / "trajectories").mkdir()
    return home


@pytest.fixture
def outside(tmp_path):
    """A folder beside the controller's, with a file the controller must never touch."""
    folder = tmp_path / "neighbour"
    folder.mkdir()
    (folder / "secret").write_bytes(SECRET)
    (folder / "trajectory").write_text(trajectory())
    return folder


def entries(folder):
    return sorted(p.name for p in folder.iterdir())


def run_child(code, *args, env=None):
    return subprocess.run([sys.executable, "-c", code, *map(str, args)], capture_output=True, text=True,
                          timeout=120, env={**os.environ, **(env or {})})


# ---- saving never follows a link ----------------------------------------------------------------

SAVES = {  # a call that saves <folder>/t4, and the folder
    "generate_traj_exe_file": (lambda rc: rc.generate_traj_exe_file("t4"), "programs"),
    "set_traj_sample_mode": (lambda rc: rc.set_traj_sample_mode(0, "t4"), "trajectories"),
}


@pytest.mark.parametrize("save", sorted(SAVES))
def test_a_save_never_writes_through_a_planted_link(rc, home, outside, save):
    call, folder = SAVES[save]
    (home / "trajectories" / "t4").write_text(trajectory())
    rc.set_traj_sample_mode(1, "t4")
    target = home / folder
    victims = []
    for n in range(1, 9):  # every name the old temporary files took, and the saved name itself
        victim = outside / f"victim{n}"
        victim.write_bytes(SECRET)
        victims.append(victim)
        os.symlink(victim, target / f".t4.part{n}")
    if folder == "programs":
        os.symlink(outside / "secret", target / "t4")
    assert call(rc) == (0,)
    assert all(v.read_bytes() == SECRET for v in victims + [outside / "secret"])
    saved = target / "t4"
    assert saved.is_file() and not saved.is_symlink()
    first = saved.read_text().splitlines()[0]
    assert first.startswith("# replays trajectory t4" if folder == "programs" else "zandrel-trajectory 1")
    assert entries(target) == sorted([f".t4.part{n}" for n in range(1, 9)] + ["t4"])  # no file left behind


@pytest.mark.parametrize("inside", [[], ["kept"]], ids=["an empty folder", "a folder with a file"])
def test_a_save_never_removes_what_it_cannot_replace(rc, home, inside):
    (home / "trajectories" / "t4").write_text(trajectory())
    target = home / "programs" / "t4"
    target.mkdir()
    for name in inside:
        (target / name).write_text(name)
    assert rc.generate_traj_exe_file("t4") == (FILE_ACCESS,)
    assert target.is_dir() and entries(target) == inside
    assert entries(home / "programs") == ["t4"]  # no file left behind


# ---- reads stay inside the folder ------------------------------------------------------------------

def plant(home, outside, folder, name, where):
    """A link <folder>/<name> to a file in the neighbour's folder or in the controller's own."""
    targets = {"out": outside / ("secret" if folder == "programs" else "trajectory"),
               "out, relative": pathlib.Path("..", "..", "neighbour", "secret" if folder == "programs"
                                             else "trajectory"),
               "in": home / folder / "real",
               "in, relative": pathlib.Path("..", folder, "real"),
               "nowhere": home / folder / "missing"}
    os.symlink(targets[where], home / folder / name)


@pytest.mark.parametrize("where, code", [("out", BAD_FILE_NAME), ("out, relative", BAD_FILE_NAME),
                                         ("in", 0), ("in, relative", 0), ("nowhere", FILE_NOT_FOUND)])
def test_program_load_follows_a_link_only_inside_the_folder(rc, home, outside, where, code):
    assert rc.program_load("x") == (FILE_NOT_FOUND,)
    write_program(home, "real", ["dout 0 1 1"])
    write_program(home, "before", ["wait 0"])
    (outside / "secret").write_text("wait 0\n")  # a valid program, so only the link decides
    plant(home, outside, "programs", "link", where)
    assert rc.program_load("before") == (0,)
    assert rc.program_load("link") == (code,)
    assert rc.get_loaded_program() == (0, "link" if code == 0 else "before")


@pytest.mark.parametrize("where, code, listed", [
    ("out", BAD_FILE_NAME, False), ("out, relative", BAD_FILE_NAME, False),
    ("in", 0, True), ("in, relative", 0, True), ("nowhere", FILE_NOT_FOUND, False)])
def test_trajectory_calls_and_the_listing_agree_about_links(rc, home, outside, where, code, listed):
    (home / "trajectories" / "real").write_text(trajectory())
    plant(home, outside, "trajectories", "link", where)
    assert rc.get_exist_traj_file_name() == (0, ["link", "real"] if listed else ["real"])
    assert rc.generate_traj_exe_file("link") == (code,)
    assert (home / "programs" / "link").is_file() == (code == 0)
    assert rc.rename_traj_file_name("link", "moved") == (code,)
    name = "moved" if code == 0 else "link"
    assert rc.remove_traj_file(name) == (code,)
    assert os.path.lexists(home / "trajectories" / name) == (code != 0)  # a link goes, not what it leads to
    assert (home / "trajectories" / "real").read_text() == trajectory()
    assert (outside / "secret").read_bytes() == SECRET and (outside / "trajectory").read_text() == trajectory()


@pytest.mark.parametrize("folder", ["programs", "trajectories"])
def test_a_folder_that_is_a_link_out_of_the_home_is_not_used(rc, home, outside, folder):
    (home / folder).rmdir()
    os.symlink(outside, home / folder)
    if folder == "programs":
        (outside / "p").write_text("wait 0\n")
        assert rc.program_load("p") == (BAD_FILE_NAME,)
        (home / "trajectories" / "trajectory").write_text(trajectory())
    else:
        assert rc.get_exist_traj_file_name() == (0, [])
        assert rc.remove_traj_file("secret") == (BAD_FILE_NAME,)
    assert rc.generate_traj_exe_file("trajectory") == (BAD_FILE_NAME,)
    assert entries(outside) == sorted(["secret", "trajectory"] + (["p"] if folder == "programs" else []))
    assert (outside / "secret").read_bytes() == SECRET


def test_a_fifo_is_not_a_program_and_does_not_hang_the_call(rc, home):
    os.mkfifo(home / "programs" / "pipe")
    os.mkfifo(home / "trajectories" / "pipe")
    assert rc.program_load("pipe") == (FILE_NOT_FOUND,)
    assert rc.generate_traj_exe_file("pipe") == (FILE_NOT_FOUND,)
    assert rc.get_exist_traj_file_name() == (0, [])


# ---- the listing shows exactly the names the calls accept ------------------------------------------

FOLDER_NAMES = [b"fine", b"\xc3\xbcml\xc3\xa4ut", b".hidden", b" lead", b"trail.", b"x" * 100, b"x" * 99,
                b"a:b", b"bad \xff byte", b"cut \xc3", b"surrogate \xed\xa0\x80", b"overlong \xc0\xaf",
                b"tab\tname"]


def test_the_listing_shows_exactly_the_names_the_calls_accept(rc, sim, home):
    folder = os.fsencode(home / "trajectories")
    for name in FOLDER_NAMES:
        with open(os.path.join(folder, name), "w") as f:
            f.write(trajectory())
    listed = rc.get_exist_traj_file_name()  # one stray name hides nothing
    assert listed == (0, sorted(n.decode() for n in [b"fine", b"\xc3\xbcml\xc3\xa4ut", b"x" * 99]))
    handle = ctypes.byref(ctypes.c_int32(rc.handle))
    for name in FOLDER_NAMES:
        accepted = sim.lib.generate_traj_exe_file(handle, name) == 0
        assert accepted == (name.decode("utf-8", "replace") in listed[1]), name
        assert (sim.lib.remove_traj_file(handle, name) != BAD_FILE_NAME) == accepted, name


@pytest.mark.parametrize("name", [b"bad \xff", b"cut \xc3", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xe0\x80\xaf"],
                         ids=repr)
def test_names_that_are_not_utf8_are_refused_by_every_call(rc, sim, home, name):
    (home / "trajectories" / "fine").write_text(trajectory())
    handle = ctypes.byref(ctypes.c_int32(rc.handle))
    calls = [lambda: sim.lib.program_load(handle, name), lambda: sim.lib.set_traj_sample_mode(handle, 1, name),
             lambda: sim.lib.rename_traj_file_name(handle, b"fine", name),
             lambda: sim.lib.remove_traj_file(handle, name), lambda: sim.lib.generate_traj_exe_file(handle, name)]
    assert [call() for call in calls] == [BAD_FILE_NAME] * len(calls)
    assert rc.get_loaded_program() == (0, "")  # so no call ever hands back a name the module cannot decode
    assert entries(home / "trajectories") == ["fine"] and entries(home / "programs") == []


# ---- two processes ------------------------------------------------------------------------------------

SAVER = """
import sys, velmo
rc = velmo.RC("127.0.0.1"); assert rc.login() == (0,)
for _ in sys.stdin:  # a round: both savers are told to go at once
    print(rc.generate_traj_exe_file("big")[0], flush=True)
"""


def test_two_processes_saving_one_name_never_lose_it(rc, home):
    (home / "trajectories" / "big").write_text(trajectory(4000))
    assert rc.generate_traj_exe_file("big") == (0,)
    program = home / "programs" / "big"
    expected = program.read_bytes()
    savers = [subprocess.Popen([sys.executable, "-c", SAVER], env={**os.environ, "ZSIM_HOME": str(home)},
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True) for _ in range(2)]
    done, seen = threading.Event(), []

    def read():  # meanwhile a reader sees the old file or a new one, whole
        while not done.is_set():
            try:
                seen.append(program.read_bytes() == expected)
            except FileNotFoundError:
                seen.append(False)

    reader = threading.Thread(target=read)
    reader.start()
    codes = []
    try:
        for _ in range(150):
            for saver in savers:
                saver.stdin.write("go\n")
                saver.stdin.flush()
            codes += [saver.stdout.readline().strip() for saver in savers]
    finally:
        done.set()
        reader.join()
        for saver in savers:
            saver.stdin.close()
            saver.wait(timeout=60)
    assert set(codes) == {"0"}
    assert seen and all(seen)
    assert program.read_bytes() == expected
    assert entries(home / "programs") == ["big"]


RENAMER = """
import os, sys, velmo
rc = velmo.RC("127.0.0.1"); assert rc.login() == (0,)
folder, rounds = sys.argv[1], int(sys.argv[2])
moved = 0
for n in range(rounds):
    with open(os.path.join(folder, "src"), "w") as f:
        f.write("renamed %d" % n)
    if rc.rename_traj_file_name("src", "dest") == (0,):
        moved += 1
        rc.remove_traj_file("dest")  # the name is ours until we remove it
print(moved)
"""

CREATOR = """
import os, sys
folder, stop = sys.argv[1], sys.argv[2]
made = replaced = 0
while not os.path.exists(stop):
    try:
        fd = os.open(os.path.join(folder, "dest"), os.O_WRONLY | os.O_CREAT | os.O_EXCL)
    except FileExistsError:
        continue
    os.write(fd, b"created")
    os.close(fd)
    made += 1
    try:
        with open(os.path.join(folder, "dest"), "rb") as f:
            replaced += f.read() != b"created"
    except FileNotFoundError:
        replaced += 1
        continue
    try:
        os.unlink(os.path.join(folder, "dest"))  # ours, or the renamer's that replaced ours
    except FileNotFoundError:
        pass
print(made, replaced)
"""


def test_a_rename_racing_another_process_never_replaces_its_file(home, tmp_path):
    folder, stop = home / "trajectories", tmp_path / "stop"
    creator = subprocess.Popen([sys.executable, "-c", CREATOR, str(folder), str(stop)], stdout=subprocess.PIPE,
                               text=True)
    renamer = run_child(RENAMER, folder, 2000, env={"ZSIM_HOME": str(home)})
    stop.touch()
    made, replaced = map(int, creator.communicate(timeout=120)[0].split())
    assert renamer.returncode == 0, renamer.stderr
    assert int(renamer.stdout) > 0 and made > 0  # both got their turns
    assert replaced == 0


# ---- the no-replace rename, and its fallbacks ----------------------------------------------------------

DEST_KINDS = {
    "a file": lambda p, other: p.write_text("theirs"),
    "a link to a file": lambda p, other: os.symlink(other, p),
    "a dangling link": lambda p, other: os.symlink(p.parent / "missing", p),
    "a folder": lambda p, other: p.mkdir(),
}


@pytest.mark.parametrize("kind", sorted(DEST_KINDS))
def test_a_rename_never_replaces_what_holds_the_new_name(rc, home, kind):
    folder = home / "trajectories"
    (folder / "src").write_text(trajectory())
    (folder / "other").write_text("other")
    DEST_KINDS[kind](folder / "dest", folder / "other")
    before = os.lstat(folder / "dest")
    assert rc.rename_traj_file_name("src", "dest") == (FILE_EXISTS,)
    after = os.lstat(folder / "dest")
    assert (after.st_ino, after.st_mode) == (before.st_ino, before.st_mode)
    assert (folder / "src").read_text() == trajectory()


# A seccomp filter (x86-64 Linux) that makes the listed system calls fail with an errno, as on a
# system or file system without them. Installed in a child before it loads the library.
SECCOMP = """
import ctypes, struct
libc = ctypes.CDLL(None, use_errno=True)
def refuse(calls):
    ALLOW, ERRNO = 0x7fff0000, 0x00050000
    program = [(0x20, 0, 0, 4), (0x15, 1, 0, 0xc000003e), (0x06, 0, 0, ALLOW), (0x20, 0, 0, 0)]
    for number, errno in calls:
        program += [(0x15, 0, 1, number), (0x06, 0, 0, ERRNO | errno)]
    program.append((0x06, 0, 0, ALLOW))
    code = b"".join(struct.pack("HBBI", *row) for row in program)
    buffer = ctypes.create_string_buffer(code, len(code))
    fprog = struct.pack("HxxxxxxP", len(program), ctypes.addressof(buffer))
    if libc.prctl(38, 1, 0, 0, 0) != 0 or libc.prctl(22, 2, ctypes.c_char_p(fprog), 0, 0) != 0:
        print("no seccomp"); raise SystemExit(0)
"""

RENAME_CHECK = """
import os, sys, velmo
refuse({calls})
folder = sys.argv[1]
rc = velmo.RC("127.0.0.1"); assert rc.login() == (0,)
def put(name, text):
    with open(os.path.join(folder, name), "w") as f:
        f.write(text)
put("src", "mine"); put("dest", "theirs")
os.symlink(os.path.join(folder, "missing"), os.path.join(folder, "dangling"))
results = [rc.rename_traj_file_name("src", "dest"), rc.rename_traj_file_name("src", "dangling"),
           rc.rename_traj_file_name("src", "new"), rc.rename_traj_file_name("gone", "other")]
print(results, sorted(os.listdir(folder)), open(os.path.join(folder, "dest")).read(),
      open(os.path.join(folder, "new")).read())
"""

RENAMEAT2, LINKAT = 316, 265
ENOSYS, EINVAL, EPERM = 38, 22, 1


@pytest.mark.skipif(not sys.platform.startswith("linux") or platform.machine() != "x86_64",
                    reason="the filter is written for x86-64 Linux")
@pytest.mark.parametrize("calls", [[], [(RENAMEAT2, ENOSYS)], [(RENAMEAT2, EINVAL)],
                                   [(RENAMEAT2, ENOSYS), (LINKAT, EPERM)]],
                         ids=["renameat2", "no renameat2: link, unlink", "a file system without it",
                              "no hard links either: check, rename"])
def test_the_no_replace_rename_and_its_fallbacks(home, calls):
    folder = home / "trajectories"
    child = run_child(SECCOMP + RENAME_CHECK.format(calls=calls), folder, env={"ZSIM_HOME": str(home)})
    if child.stdout.strip() == "no seccomp":
        pytest.skip("seccomp filters are not available here")
    assert child.returncode == 0, child.stderr
    expected = [[(FILE_EXISTS,), (FILE_EXISTS,), (0,), (FILE_NOT_FOUND,)], ["dangling", "dest", "new"], "theirs",
                "mine"]
    assert child.stdout.strip() == " ".join(map(str, expected))


# ---- the default folder --------------------------------------------------------------------------------

def default_env(monkeypatch, user):
    for name in ("ZSIM_HOME", "XDG_DATA_HOME"):
        monkeypatch.delenv(name, raising=False)
    monkeypatch.setenv("HOME", str(user))
    return user / ".local" / "share" / "zandrel-sim"


def test_without_home_the_default_is_the_accounts_own_folder_never_a_shared_one(sim, monkeypatch):
    for name in ("ZSIM_HOME", "XDG_DATA_HOME", "HOME"):
        monkeypatch.delenv(name, raising=False)
    account = pwd.getpwuid(os.geteuid()).pw_dir
    assert sim.files_folder() == os.path.join(account, ".local", "share", "zandrel-sim")
    assert not sim.files_folder().startswith(tempfile.gettempdir())


def test_the_default_folder_is_made_private(rc, monkeypatch, tmp_path):
    folder = default_env(monkeypatch, tmp_path / "user")
    rc.set_traj_sample_mode(1, "made")
    assert rc.set_traj_sample_mode(0, "made") == (0,)
    assert rc.generate_traj_exe_file("made") == (0,)
    for made in (folder, folder / "trajectories", folder / "programs"):
        assert stat.S_IMODE(os.lstat(made).st_mode) == 0o700, made


def other_owner(path):
    if os.geteuid() != 0:
        pytest.skip("only root can give a folder to another user")
    os.chown(path, 65534, 65534)


UNSAFE = {  # how the default folder is unsafe, and what home() says
    "writable by all": (lambda p, tmp: (p.mkdir(parents=True), p.chmod(0o777)), "may be written by other users"),
    "writable by the group": (lambda p, tmp: (p.mkdir(parents=True), p.chmod(0o770)), "(mode 0770)"),
    "a link": (lambda p, tmp: (p.parent.mkdir(parents=True), (tmp / "elsewhere").mkdir(),
                               os.symlink(tmp / "elsewhere", p)), "is a link"),
    "another user's": (lambda p, tmp: (p.mkdir(parents=True), other_owner(p)), "belongs to user 65534"),
    "a file": (lambda p, tmp: (p.parent.mkdir(parents=True), p.write_text("")), "is not a folder"),
}


@pytest.mark.parametrize("kind", sorted(UNSAFE))
def test_an_unsafe_default_folder_is_never_used(rc, sim, monkeypatch, tmp_path, kind):
    folder = default_env(monkeypatch, tmp_path / "user")
    make, says = UNSAFE[kind]
    make(folder, tmp_path)
    before = sorted(str(p) for p in tmp_path.rglob("*"))
    with pytest.raises(OSError, match="no safe folder") as refused:
        sim.files_folder()
    assert says in str(refused.value) and str(folder) in str(refused.value)
    rc.set_traj_sample_mode(1, "t")
    assert [rc.set_traj_sample_mode(0, "t"), rc.program_load("p"), rc.get_exist_traj_file_name(),
            rc.generate_traj_exe_file("t"), rc.rename_traj_file_name("t", "u"),
            rc.remove_traj_file("t")] == [(NO_SAFE_FOLDER,)] * 6
    assert rc.get_last_error()[1] == (NO_SAFE_FOLDER, "the controller has no safe folder for its files")
    assert sorted(str(p) for p in tmp_path.rglob("*")) == before


NO_ACCOUNT = """
import os, velmo, zandrel_sim
os.setgid(54321); os.setuid(54321)   # a user with no account: no HOME, no home directory
rc = velmo.RC("127.0.0.1"); assert rc.login() == (0,)
try:
    zandrel_sim.Probe().files_folder()
except OSError as e:
    print(e)
print(rc.program_load("p"), rc.get_exist_traj_file_name())
"""


def test_without_any_safe_place_home_says_why(tmp_path):
    if os.geteuid() != 0:
        pytest.skip("needs root to run a child as a user without an account")
    try:
        pwd.getpwuid(54321)
        pytest.skip("uid 54321 has an account here")
    except KeyError:
        pass
    env = {k: v for k, v in os.environ.items() if k not in ("HOME", "ZSIM_HOME", "XDG_DATA_HOME")}
    child = subprocess.run([sys.executable, "-c", NO_ACCOUNT], capture_output=True, text=True, timeout=60,
                           env=env, cwd=tmp_path)
    assert child.returncode == 0, child.stderr
    why, codes = child.stdout.splitlines()
    assert "no safe folder" in why and "HOME is not set" in why and "ZSIM_HOME" in why
    assert codes == f"({NO_SAFE_FOLDER},) ({NO_SAFE_FOLDER},)"
