"""Settings and diagnostics: what set calls keep and get calls read back,
link settings, version, controller addresses, the debug log, and the
documented keys and messages."""

import json
import pathlib
import re
import time
from importlib import metadata

import pytest

import velmo
from methods_table import f32
from simkit import ADDRESS, FILE_ACCESS, FILE_NOT_FOUND, INVALID_ARGUMENT


# getter, its value after login, setter and its arguments, the getter's value after the set
KEPT = [
    ("get_collision_level", (3,), "set_collision_level", (0,), (0,)),
    ("get_collision_level", (3,), "set_collision_level", (5,), (5,)),
    ("get_payload", ((0.0, (0.0, 0.0, 0.0)),), "set_payload", (2.5, (10, -5, 40)), ((2.5, (10.0, -5.0, 40.0)),)),
    ("get_payload", ((0.0, (0.0, 0.0, 0.0)),), "set_payload", (10.0, (0, 0, 0)), ((10.0, (0.0, 0.0, 0.0)),)),
    ("get_torq_sensor_tool_payload", ((0.0,) * 4,), "set_torq_sensor_tool_payload", (1.25, (0, 0, 50)),
     ((1.25, 0.0, 0.0, 50.0),)),
    ("get_traj_config", ((1.0, 0.01, 100.0, 500.0),), "set_traj_config", ((2.5, 0.125, 50, 250),),
     ((2.5, 0.125, 50.0, 250.0),)),
    ("get_compliant_type", (0, 0), "set_compliant_type", (1, 0), (1, 0)),
    # axis 2 reads back as (opt, ftUser, ftConstant, ftReboundFK, ftNnormalTrack)
    ("get_admit_ctrl_config", (((0.0,) * 5,) * 6,), "set_admit_ctrl_config", (2, 1, 20.0, -5.0, 1, 0.5),
     (((0.0,) * 5,) * 2 + ((1.0, 20.0, -5.0, 0.5, 1.0),) + ((0.0,) * 5,) * 3,)),
]
AT_LOGIN = {getter: value for getter, value, *_ in KEPT}


@pytest.mark.parametrize("getter, at_login, setter, args, after", KEPT, ids=[row[2] for row in KEPT])
def test_a_setting_is_kept_and_read_back_and_touches_no_other(rc, getter, at_login, setter, args, after):
    assert getattr(rc, getter)() == (0, *at_login)
    assert getattr(rc, setter)(*args) == (0,)
    assert getattr(rc, getter)() == (0, *after)
    assert {name: getattr(rc, name)() for name in AT_LOGIN if name != getter} == {
        name: (0, *value) for name, value in AT_LOGIN.items() if name != getter}


@pytest.mark.parametrize("call, args, key, kept", [
    ("set_network_exception_handle", (250.5, 1), "network_exception", {"milliseconds": 250.5, "reaction": 1}),
    ("set_network_exception_handle", (60000, 0), "network_exception", {"milliseconds": 60000, "reaction": 0}),
    ("set_network_exception_handle", (100.1, 2), "network_exception", {"milliseconds": f32(100.1), "reaction": 2}),
    ("set_status_data_update_time_interval", (8,), "status_interval_ms", 8),
    ("set_status_data_update_time_interval", (1000,), "status_interval_ms", 1000),
    ("set_status_data_update_time_interval", (8.5,), "status_interval_ms", 8.5),
    ("set_vel_compliant_ctrl", (2, 1.0, 0.75, 0.5, 0.25), "compliance.velocity", [2, 1.0, 0.75, 0.5, 0.25]),
    ("set_compliance_condition", (20, 20, 30, 1.5, 1.5, 2), "compliance.condition", [20, 20, 30, 1.5, 1.5, 2]),
])
def test_settings_without_a_getter_are_kept(rc, sim, call, args, key, kept):
    assert getattr(rc, call)(*args) == (0,)
    found = sim.settings(ADDRESS)
    for part in key.split("."):
        found = found[part]
    assert found == kept


def test_link_settings_start_at_their_defaults(rc, sim):
    kept = sim.settings(ADDRESS)
    assert kept["network_exception"] == {"milliseconds": 1000, "reaction": 0}
    assert kept["status_interval_ms"] == 8


def test_version_names_the_package():
    robot = velmo.RC("127.0.0.1")
    robot.login()
    assert robot.get_sdk_version() == (0, "velmo virtual controller " + metadata.version("velmo"))


def test_controller_addresses(sim):
    robot = velmo.RC("127.0.0.1")
    assert robot.login() == (0,)
    assert robot.get_controller_ip() == (0, "127.0.0.1")
    for address in ["10.0.0.9", "10.0.0.10", "10.0.0.9", "cell-a"]:
        velmo.RC(address).login()
    assert robot.get_controller_ip() == (0, "10.0.0.10;10.0.0.9;127.0.0.1;cell-a")
    assert robot.shut_down() == (0,)  # a controller that is off is still known
    assert robot.get_controller_ip() == (0, "10.0.0.10;10.0.0.9;127.0.0.1;cell-a")
    sim.reset()
    assert robot.get_controller_ip() == (0, "")


def test_addresses_are_cut_after_the_last_whole_one_that_fits(sim):
    addresses = [f"host-{n:03d}.cell.example" for n in range(200)]  # 22 bytes each
    for address in addresses:
        velmo.RC(address).login()
    code, text = velmo.RC(addresses[0]).get_controller_ip()
    assert code == 0 and len(text) <= 2999
    kept = text.split(";")
    assert kept == addresses[:len(kept)] and len(text) + 1 + 22 > 2999


# ---- the debug log -------------------------------------------------------------------------

def log_entries(path):
    return [json.loads(line) for line in path.read_text().splitlines()]


def test_debug_mode_logs_every_call_to_the_chosen_file(rc, sim, tmp_path):
    log = tmp_path / "calls.log"
    assert rc.set_SDK_filepath(str(log)) == (0,)
    assert not log.exists()  # made when there is something to log
    before = time.time()
    assert rc.set_debug_mode(1) == (0,)
    rc.power_on()
    sim.journal_enable(False)
    rc.get_rapidrate()                    # logged: the probe's journal switch is not the log's
    sim.journal_enable(True)
    rc.get_joint_position()
    velmo.RC("10.4.0.1").login()          # any controller's calls: the log is the library's
    assert rc.set_debug_mode(0) == (0,)
    rc.power_off()
    after = time.time()
    entries = log_entries(log)
    journal = sim.journal()  # set_SDK_filepath, set_debug_mode(1), ..., set_debug_mode(0), power_off
    assert [j["fn"] for j in journal[2:]] == ["power_on", "get_joint_position", "create_handler",
                                              "set_debug_mode", "power_off"]
    logged = journal[2:3] + [{"fn": "get_rapidrate", "args": [rc.handle, "out"]}] + journal[3:-1]
    assert [{"fn": e["fn"], "args": e["args"]} for e in entries] == logged
    stamps = [e["t"] for e in entries]
    assert before - 1 <= stamps[0] and stamps == sorted(stamps) and stamps[-1] <= after + 1
    assert sim.settings(ADDRESS)["debug"] == {"on": 0, "file": str(log)}


def test_the_log_is_appended_to_the_file_named_last(rc, tmp_path, home):
    first, second = tmp_path / "one.log", tmp_path / "two.log"
    first.write_text('{"t": 0, "fn": "earlier", "args": []}\n')
    assert rc.set_debug_mode(1) == (0,)
    rc.get_collision_level()  # no file named yet: logged nowhere
    assert [p.name for p in home.rglob("*")] == ["programs"]
    rc.set_SDK_filepath(str(first))
    rc.get_rapidrate()
    rc.set_SDK_filepath(str(second))
    rc.get_tool_id()
    rc.set_debug_mode(0)
    assert [e["fn"] for e in log_entries(first)] == ["earlier", "get_rapidrate", "set_SDK_filepath"]
    assert [e["fn"] for e in log_entries(second)] == ["get_tool_id", "set_debug_mode"]


@pytest.mark.parametrize("where, code", [("missing/dir/x.log", FILE_NOT_FOUND), (".", FILE_ACCESS),
                                         ("", INVALID_ARGUMENT)])
def test_bad_log_files_are_refused(rc, sim, tmp_path, where, code):
    rc.set_SDK_filepath(str(tmp_path / "good.log"))
    path = str(tmp_path / where) if where else ""
    assert rc.set_SDK_filepath(path) == (code,)
    assert sim.settings(ADDRESS)["debug"]["file"] == str(tmp_path / "good.log")


# ---- the documentation matches -------------------------------------------------------------

DOC = (pathlib.Path(__file__).resolve().parents[1] / "docs" / "virtual-controller-files.md").read_text()


def doc_table(heading_text, first_column):
    """The rows of the tables from `heading_text` to the next section whose
    first cell matches."""
    start = DOC.index(heading_text)
    end = DOC.find("\n## ", start + 1)
    section = DOC[start:end if end > 0 else None]
    return re.findall(r"^\| (" + first_column + r") \| (.*?) \|", section, re.M)


def test_documented_keys_are_the_settings(rc, sim):
    keys = [key for key, _ in doc_table("The settings are one JSON object", r"`\w+`")]
    assert sorted(k.strip("`") for k in keys) == sorted(sim.settings(ADDRESS))


def test_documented_messages_are_the_controllers(rc, sim, tmp_path, monkeypatch):
    sim.set_time_scale(0)
    home = tmp_path / "home"
    (home / "programs").mkdir(parents=True)
    (home / "programs" / "bad").write_text("jump\n")
    (home / "trajectories").mkdir()
    for name in ("a", "b"):
        (home / "trajectories" / name).write_text("not a trajectory\n")
    monkeypatch.setenv("ZSIM_HOME", str(home))
    rc.power_on()
    rc.enable_robot()
    handler = []
    rc.set_error_handler(handler.append)
    with open(home / "programs" / "huge", "wb") as f:
        f.truncate((64 << 20) + 1)

    def without_a_safe_folder():  # the default folder, open to every user (and no LOCALAPPDATA)
        with monkeypatch.context() as m:
            for name in ("ZSIM_HOME", "XDG_DATA_HOME", "LOCALAPPDATA"):
                m.delenv(name, raising=False)
            m.setenv("HOME", str(tmp_path / "user"))
            shared = tmp_path / "user" / ".local" / "share" / "zandrel-sim"
            shared.mkdir(parents=True)
            shared.chmod(0o777)
            rc.program_load("bad")

    provoke = {
        18: lambda: rc.program_load("../bad"),
        19: lambda: rc.rename_traj_file_name("a", "b"),
        20: lambda: (rc.program_load("bad"), rc.program_run()),
        21: lambda: rc.torque_feedforward([0] * 6, 0),
        22: lambda: rc.generate_traj_exe_file("a"),
        23: without_a_safe_folder,
        24: lambda: rc.program_load("huge"),
    }
    documented = {int(code): message for code, message in doc_table("## Error codes", r"\d+")}
    assert sorted(documented) == sorted(provoke)
    for code, cause in provoke.items():
        rc.clear_error()
        cause()
        assert rc.get_last_error() == (0, (code, documented[code]))
