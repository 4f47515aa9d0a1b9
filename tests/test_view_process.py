"""The live view in a process of its own: ZSIM_VIEW starts it from the
library (and says where, once, on standard error), it costs nothing while no
one watches, and the motion it watches is the motion it would have been.
Each test runs a child interpreter, since a process has one view for life."""

import json
import re
import sys

import pytest

from viewkit import run_child


def test_zsim_view_serves_from_the_first_login_and_says_where_once():
    child = run_child("""
        import velmo
        robots = [velmo.RC(a) for a in ("127.0.0.1", "127.0.0.1", "cell-2")]
        assert [r.login() for r in robots] == [(0,)] * 3
    """, ZSIM_VIEW="127.0.0.1:0")
    assert child.returncode == 0, child.stderr
    lines = [line for line in child.stderr.splitlines() if line.startswith("zsim view")]
    assert len(lines) == 1 and re.fullmatch(r"zsim view: http://127\.0\.0\.1:\d+/", lines[0]), child.stderr


def test_the_view_of_zsim_view_shows_what_the_script_does():
    child = run_child("""
        import json
        import velmo, zandrel_sim
        from viewkit import controller
        robot = velmo.RC("127.0.0.1")
        assert robot.login() == (0,)
        url = zandrel_sim.Probe().serve_view()  # the one ZSIM_VIEW started: same host, any port
        assert robot.power_on() == (0,) and robot.enable_robot() == (0,)
        zandrel_sim.Probe().set_time_scale(0)
        assert robot.joint_move((0.1, 1.2, -1.3, -1.2, -1.5, 0.2), 0, True, 1.0) == (0,)
        seen = controller(url, "127.0.0.1")
        print(json.dumps({"url": url, "joints": seen["joints"], "library": list(robot.get_joint_position()[1])}))
    """, ZSIM_VIEW="127.0.0.1:0")
    assert child.returncode == 0, child.stderr
    result = json.loads(child.stdout)
    assert f"zsim view: {result['url']}" in child.stderr
    assert result["joints"] == pytest.approx(result["library"], abs=1e-12)


@pytest.mark.parametrize("setting, reason", [
    ("nonsense", "expected host:port"),
    ("127.0.0.1:99999", "expected host:port"),
    ("192.0.2.1:0", "loopback"),
    ("0.0.0.0:0", "loopback"),
    ("[::1:0", "expected host:port"),
])
def test_a_zsim_view_it_cannot_serve_is_reported_and_the_library_works_on(setting, reason):
    child = run_child("""
        import velmo
        robot = velmo.RC("127.0.0.1")
        assert robot.login() == (0,) and robot.power_on() == (0,)
        print("ok")
    """, ZSIM_VIEW=setting)
    assert child.returncode == 0 and child.stdout.strip() == "ok", child.stderr
    assert f"zsim view: not served (ZSIM_VIEW={setting}): " in child.stderr and reason in child.stderr


def test_a_port_in_use_is_reported():
    child = run_child("""
        import socket, velmo, zandrel_sim
        taken = socket.socket()
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        port = taken.getsockname()[1]
        try:
            zandrel_sim.Probe().serve_view("127.0.0.1", port)
        except OSError as e:
            print("refused:", e)
    """)
    assert child.returncode == 0, child.stderr
    assert child.stdout.startswith("refused: cannot listen on http://127.0.0.1:")


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")
def test_no_viewer_costs_no_wake_up():
    """With no viewer the view's threads sleep: over two seconds none of the
    process's threads but the main one is woken (counted by the kernel, so
    the figure does not depend on the machine's load), and the CPU time stays
    far below a core's hundredth (loosely: bench/bench_view.py holds the
    strict figure). Checked before any viewer came, and after one left."""
    child = run_child("""
        import json, os, time, velmo, zandrel_sim
        from viewkit import Stream

        def switches():
            total = 0
            for task in os.listdir("/proc/self/task"):
                if int(task) == os.getpid():
                    continue
                with open(f"/proc/self/task/{task}/status") as f:
                    for line in f:
                        if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                            total += int(line.split()[1])
            return total

        def idle(seconds=2.0):
            wakeups, cpu = switches(), time.process_time()
            time.sleep(seconds)
            return switches() - wakeups, (time.process_time() - cpu) / seconds

        robot = velmo.RC("127.0.0.1")
        assert robot.login() == (0,) and robot.power_on() == (0,)
        url = zandrel_sim.Probe().serve_view()
        time.sleep(0.5)  # the threads settle into their waits
        before = idle()
        viewer = Stream(url)
        viewer.sample()
        time.sleep(0.2)  # the sampler runs meanwhile
        viewer.close()
        time.sleep(3.0)  # the stream notices (keep-alive), the sampler stops
        after = idle()
        print(json.dumps({"before": before, "after": after}))
    """)
    assert child.returncode == 0, child.stderr
    figures = json.loads(child.stdout)
    for wakeups, cpu_share in figures.values():
        assert wakeups <= 4, figures
        assert cpu_share < 0.05, figures


RECORDING = """
    import json, os, sys, time, velmo, zandrel_sim
    from viewkit import Stream
    sim = zandrel_sim.Probe()
    sim.set_time_scale(4)
    robot = velmo.RC("127.0.0.1")
    assert robot.login() == (0,) and robot.power_on() == (0,) and robot.enable_robot() == (0,)
    viewers = []
    if os.environ.get("WATCH"):
        url = sim.serve_view()
        viewers = [Stream(url) for _ in range(3)]
        [v.sample() for v in viewers]
    assert robot.set_traj_config((2.0, 0.02, 100, 500)) == (0,)
    assert robot.set_traj_sample_mode(1, "watched") == (0,)
    assert robot.joint_move((0.3, 1.3, -1.2, -1.6, -1.5, 0.2), 0, True, 1.0) == (0,)
    pose = list(robot.get_tcp_position()[1])
    pose[2] -= 60
    assert robot.linear_move(pose, 0, True, 150) == (0,)
    assert robot.set_traj_sample_mode(0, "watched") == (0,)
    with open(os.path.join(sim.files_folder(), "trajectories", "watched")) as f:
        print(f.read())
"""


def test_the_recorders_samples_are_the_same_with_the_view_watching(tmp_path):
    runs = []
    for watch in ("", "1"):
        home = tmp_path / f"home{watch or 0}"
        child = run_child(RECORDING, ZSIM_HOME=str(home), WATCH=watch)
        assert child.returncode == 0, child.stderr
        runs.append(child.stdout)
    assert runs[0].count("\n") > 20 and runs[0] == runs[1]
