"""The live view served by the virtual controller (sim/view/): what
/state.json reports against what the library answers, the page's files, the
Host check and the read-only rule, and how the server stands up to many
viewers, viewers that vanish and malformed requests. One view per process:
the tests share the one zandrel_sim.Probe().serve_view() starts; what needs a
fresh process (ZSIM_VIEW, the cost with no viewer, the recorder's samples)
runs in a child interpreter."""

import math
import pathlib
import socket
import threading

import pytest

import velmo
from simkit import COLLISION, Q1, joints, tcp, value, wait_until, write_program
from viewkit import Stream, controller, raw, request, state

ROOT = pathlib.Path(__file__).resolve().parent.parent


@pytest.fixture(scope="module")
def url(probe):
    return probe.serve_view()


@pytest.fixture
def port(url):
    return int(url.rstrip("/").rsplit(":", 1)[1])


def login(address):
    robot = velmo.RC(address)
    assert robot.login() == (0,)
    return robot


# ---- what it reports ---------------------------------------------------------------------

def test_state_reports_each_controller_as_the_library_does(url, arm, instant, sim, home):
    other = login("cell-2")
    assert arm.joint_move(Q1, 0, True, 1.0) == (0,)
    assert arm.set_tool_data(1, (10, 20, 130, 0, 0.3, 0), "gripper") == (0,)
    assert arm.set_tool_id(1) == (0,)
    assert arm.set_digital_output(0, 3, 1) == (0,) and arm.set_digital_output(2, 7, 1) == (0,)
    sim.set_digital_input("127.0.0.1", 1, 1, 1)
    write_program(home, "square", ["movj 0 1.5 -1.5 -1.5 -1.5 0 1", "wait 0.1"])
    assert arm.program_load("square") == (0,)
    sim.trigger_fault("cell-2", COLLISION)

    seen = state(url)
    assert [c["address"] for c in seen["controllers"]] == ["127.0.0.1", "cell-2"]
    assert seen["time_scale"] == 0
    mine = controller(url, "127.0.0.1")
    assert mine["joints"] == pytest.approx(joints(arm), abs=1e-12)
    assert mine["tcp"] == pytest.approx(tcp(arm), abs=1e-9)
    assert mine["tool_id"] == 1 and mine["tool"] == pytest.approx([10, 20, 130, 0, 0.3, 0])
    assert (mine["powered"], mine["enabled"], mine["in_position"], mine["target"]) == (True, True, True, None)
    assert mine["error"] == {"code": 0, "message": ""}
    assert mine["program"] == {"name": "square", "line": 0, "state": 0}
    io = mine["io"]
    assert [len(io[t][k]) for t in ("cabinet", "tool", "extension") for k in ("in", "out")] == [16, 16, 2, 2, 8, 8]
    assert [n for n, v in enumerate(io["cabinet"]["out"]) if v] == [3]
    assert [n for n, v in enumerate(io["extension"]["out"]) if v] == [7]
    assert [n for n, v in enumerate(io["tool"]["in"]) if v] == [1]

    stopped = controller(url, "cell-2")
    code, message = value(other.get_last_error())
    assert stopped["error"] == {"code": COLLISION, "message": message} and code == COLLISION
    assert stopped["collision"] is True and stopped["powered"] is False


def test_the_target_is_where_the_current_move_ends(url, arm, sim):
    sim.set_time_scale(0.05)  # slow: the move is still under way when the view is asked
    assert arm.joint_move(Q1, 0, False, 0.5) == (0,)
    during = controller(url, "127.0.0.1")
    assert during["target"] == pytest.approx(Q1, abs=1e-12)
    assert during["in_position"] is False and during["queued"] == 1
    assert arm.motion_abort() == (0,)
    assert controller(url, "127.0.0.1")["target"] is None
    assert arm.jog(0, 2, 1, 0.1, 0) == (0,)  # a continuous jog has no end
    assert controller(url, "127.0.0.1")["target"] is None
    assert arm.motion_abort() == (0,)


def test_the_arm_geometry_is_the_documented_one(url):
    import json

    from simkit import DH, HOME, LOWER, MAX_SPEED, UPPER
    status, headers, body = request(url, "/arm.json")
    arm = json.loads(body)
    assert status == 200 and headers["content-type"] == "application/json"
    assert [v for row in arm["dh"] for v in row] == pytest.approx([v for row in DH for v in row])
    assert (arm["lower_limit"], arm["upper_limit"], arm["home"]) == (pytest.approx(LOWER), pytest.approx(UPPER),
                                                                      pytest.approx(HOME))
    assert arm["max_speed"] == pytest.approx(MAX_SPEED)
    assert arm["io"] == {"cabinet": [16, 16], "tool": [2, 2], "extension": [8, 8]}


# ---- the page's files -------------------------------------------------------------------

@pytest.mark.parametrize("path, source, kind", [
    ("/", "sim/view/page/index.html", "text/html"),
    ("/view.js", "sim/view/page/view.js", "text/javascript"),
    ("/cell.js", "sim/view/page/cell.js", "text/javascript"),
    ("/arm.js", "sim/view/page/arm.js", "text/javascript"),
    ("/scene.js", "sim/view/page/scene.js", "text/javascript"),
    ("/plots.js", "sim/view/page/plots.js", "text/javascript"),
    ("/view.css", "sim/view/page/view.css", "text/css"),
    ("/three.min.js", "third_party/three.js/three.min.js", "text/javascript"),
    ("/OrbitControls.js", "third_party/three.js/OrbitControls.js", "text/javascript"),
    ("/licenses/three.js.txt", "third_party/three.js/LICENSE", "text/plain"),
    ("/licenses/cpp-httplib.txt", "third_party/cpp-httplib/LICENSE", "text/plain"),
])
def test_every_file_of_the_page_is_served_from_the_library_as_built(url, path, source, kind):
    status, headers, body = request(url, path)
    assert status == 200 and headers["content-type"].split(";")[0] == kind
    assert headers["x-content-type-options"] == "nosniff"
    if (ROOT / source).exists():  # the source tree is there to compare with
        assert body == (ROOT / source).read_bytes()


def test_the_page_loads_only_what_the_library_serves(url):
    import re
    page = request(url, "/")[2].decode()
    referenced = [r for r in re.findall(r'(?:src|href)="([^"]+)"', page) if not r.startswith("data:")]
    assert referenced and not [r for r in referenced if "//" in r]  # nothing from another host
    for name in referenced:
        assert request(url, "/" + name)[0] == 200, name
    assert "default-src 'self'" in request(url, "/")[1]["content-security-policy"]


@pytest.mark.parametrize("path", ["/nothing", "/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/state.json/x",
                                  "/" + "a" * 3000])
def test_unknown_paths_are_not_found(url, path):
    assert request(url, path)[0] in (400, 404, 414)


# ---- who may ask, and what ------------------------------------------------------------

@pytest.mark.parametrize("host, answered", [
    ("127.0.0.1:{port}", True),
    ("localhost:{port}", True),
    ("LocalHost:{port}", True),
    ("[::1]:{port}", True),
    ("attacker.example:{port}", False),       # a rebound name
    ("localhost.attacker.example:{port}", False),
    ("127.0.0.1.nip.example:{port}", False),
    ("127.0.0.1:{other}", False),             # another port
    ("127.0.0.1", False),                     # port 80
    ("127.0.0.1:{port}x", False),
    ("127.0.0.1:{port}@attacker.example", False),
    ("", False),
])
@pytest.mark.parametrize("path", ["/", "/state.json", "/events"])
def test_only_requests_for_the_address_served_are_answered(url, port, host, answered, path):
    status, _, body = request(url, path if path != "/events" else "/state.json",
                              host=host.format(port=port, other=port + 1))
    assert (status == 200) == answered
    if not answered:
        assert status == 403 and b"controllers" not in body


@pytest.mark.parametrize("method", ["POST", "PUT", "DELETE", "PATCH", "OPTIONS", "CONNECT", "TRACE"])
def test_nothing_on_the_view_changes_anything(url, arm, sim, method):
    sim.clear()
    before = controller(url, "127.0.0.1")
    for path in ("/", "/state.json", "/events", "/power_off"):
        status, headers, _ = request(url, path, method=method)
        assert status in (400, 405), (path, status)
    assert sim.count() == 0  # the view never calls the library
    assert controller(url, "127.0.0.1") == before


@pytest.mark.parametrize("host", ["0.0.0.0", "192.0.2.1", "::", "attacker.example", "127.0.0.1.example"])
def test_other_addresses_than_loopback_are_refused_unless_allowed(probe, url, host):
    """Refused before anything is bound (allow_remote=True would bind them:
    not in a hermetic test)."""
    with pytest.raises(ValueError, match="loopback"):
        probe.serve_view(host, 0)


def test_one_view_per_process(probe, url, port):
    assert probe.serve_view() == url
    assert probe.serve_view("127.0.0.1", port) == url
    for other in (("127.0.0.1", port + 1), ("localhost", 0)):
        with pytest.raises(OSError, match="already serves"):
            probe.serve_view(*other)


# ---- standing up to clients -----------------------------------------------------------

@pytest.mark.parametrize("data", [
    b"\x00\xff\x13garbage\r\n\r\n",
    b"GET / HTTP/1.1\r\n",                                   # never finished
    b"GET / HTTP/9.9\r\nHost: x\r\n\r\n",
    b"GET\r\n\r\n",
    b"\r\n\r\n",
    b"GET /" + b"x" * 20000 + b" HTTP/1.1\r\n\r\n",          # a request line too long
    b"GET / HTTP/1.1\r\nHost: h\r\nX: " + b"y" * 20000 + b"\r\n\r\n",
    b"GET / HTTP/1.1\r\n" + b"".join(b"H%d: v\r\n" % n for n in range(500)) + b"\r\n",
    b"POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 99999999\r\n\r\nabc",
    b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
    b"GET / HTTP/1.0\r\n\r\n",                               # no Host at all
])
def test_malformed_requests_get_an_error_and_the_view_goes_on(url, data):
    answer = raw(url, data, timeout=8)
    if answer:
        assert answer.startswith(b"HTTP/1.1 4") or answer.startswith(b"HTTP/1.1 5"), answer[:80]
    assert "controllers" in state(url)


def test_fifty_viewers_at_once_each_get_samples_and_leave_no_trace(url, rc):
    for _ in range(2):  # twice: a viewer that left must not count against the limit
        streams = [Stream(url) for _ in range(50)]
        try:
            samples = [s.sample() for s in streams]
            assert all("127.0.0.1" in [c["address"] for c in f["controllers"]] for f in samples)
            assert state(url)["viewers"] == 50
        finally:
            for s in streams:
                s.close()
        # noticed at the next sample or keep-alive (a second)
        assert wait_until(lambda: state(url)["viewers"] == 0, timeout=5, period=0.05)


def test_viewers_that_vanish_mid_stream_leave_the_view_serving(url, arm, sim):
    sim.set_time_scale(0.2)
    assert arm.joint_move(Q1, 0, False, 0.3) == (0,)  # samples keep coming while the arm moves
    for n in range(20):
        s = Stream(url)
        s.sample()
        if n % 2:
            s.socket.recv(17)  # stop mid-sample
        s.close(abrupt=n % 3 == 0)
    survivor = Stream(url)
    first, second = survivor.sample(), survivor.sample()
    assert first != second  # still streaming the motion
    survivor.close()
    assert arm.motion_abort() == (0,)


def test_samples_follow_a_blocking_move_that_holds_the_interpreter(url, arm, sim):
    """A Python-side server would freeze here: the move keeps the interpreter
    lock for its whole length. The reader runs on a plain thread, which cannot
    run either until the move returns, so it only collects what the library
    sent meanwhile from its own threads."""
    sim.set_time_scale(1)
    stream = Stream(url)
    stream.sample()
    received = []
    reader = threading.Thread(target=lambda: received.extend(read_samples(stream, 1.5)))
    target = [q + 0.25 for q in joints(arm)]
    reader.start()
    assert arm.joint_move(target, 0, True, 0.5) == (0,)  # about 1 s, interpreter lock held
    reader.join()
    stream.close()
    first_joint = sorted({round(f["joints"][0], 9) for f in received})
    assert len(first_joint) >= 15  # many distinct positions, sent while the interpreter was held
    assert first_joint[-1] == pytest.approx(target[0], abs=1e-9)


def read_samples(stream, seconds):
    import time
    samples, end = [], time.monotonic() + seconds
    stream.socket.settimeout(0.5)
    while time.monotonic() < end:
        try:
            sample = stream.sample()
        except socket.timeout:
            continue
        for c in sample["controllers"]:
            if c["address"] == "127.0.0.1":
                samples.append(c)
    return samples


def test_a_move_streams_at_the_view_rate_not_once_at_the_end(url, arm, sim):
    sim.set_time_scale(1)
    stream = Stream(url)
    stream.sample()
    assert arm.joint_move([q - 0.2 for q in joints(arm)], 0, False, 0.4) == (0,)
    seen = read_samples(stream, 0.6)
    stream.close()
    assert arm.motion_abort() == (0,)
    assert len({round(f["joints"][0], 9) for f in seen}) >= 10
    assert not math.isclose(seen[0]["joints"][0], seen[-1]["joints"][0])
    assert wait_until(lambda: controller(url, "127.0.0.1")["in_position"], period=0.05)


@pytest.mark.parametrize("joint, end", [(0, "upper"), (2, "lower"), (5, "upper"), (None, None)])
def test_the_joints_at_a_limit_are_those_the_controller_reports(url, arm, instant, joint, end):
    from simkit import LOWER, UPPER
    q = [0.1, 1.2, -1.3, -1.2, -1.5, 0.2]
    if joint is not None:
        q[joint] = (UPPER if end == "upper" else LOWER)[joint]
    assert arm.joint_move(q, 0, True, 1.0) == (0,)
    shown = controller(url, "127.0.0.1")["at_limit"]
    assert shown == [j == joint for j in range(6)]
    assert value(arm.is_on_limit()) == (joint is not None)


def test_the_joints_time_gives_the_speed_the_move_was_asked_for(url, arm, sim):
    """Two samples' joints over their joints_time: the speed of the joint, as
    the page plots it. While the move cruises that is the speed asked for,
    exactly, however late or irregular the samples (the time is the arm's
    own cycle, not when the sample was taken)."""
    sim.set_time_scale(1)
    start = joints(arm)
    stream = Stream(url)
    assert stream.sample()["script"] == "running"
    assert arm.joint_move([start[0] + 0.8] + start[1:], 0, False, 0.6) == (0,)
    seen = []
    while len(seen) < 2 or not seen[-1]["in_position"]:
        mine = [c for c in stream.sample()["controllers"] if c["address"] == "127.0.0.1"]
        seen += [c for c in mine if seen or not c["in_position"]]  # from the move's start to its end
    stream.close()
    speeds = [(b["joints"][0] - a["joints"][0]) / (b["joints_time"] - a["joints_time"])
              for a, b in zip(seen, seen[1:]) if b["joints_time"] > a["joints_time"]]
    assert len(speeds) >= 20
    cruising = [v for v in speeds if v > 0.6 - 1e-6]
    assert len(cruising) >= len(speeds) // 2 and max(speeds) == pytest.approx(0.6, abs=1e-9)
