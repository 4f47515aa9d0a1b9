"""Converting a trajectory file into a program (generate_traj_exe_file):
every number is range-checked before anything is converted, and a program
that program_load would refuse (too large, too many commands) is refused by
the conversion itself, which then writes nothing."""

import pytest

from simkit import FILE_ACCESS, FILE_TOO_LARGE, write_program

MiB = 1 << 20
SAMPLE = " ".join(["0"] * 13)


def trajectory(config="1 0.01 100 500", frames="0 0", samples=(SAMPLE,)):
    return "zandrel-trajectory 1\nconfig %s\nframes %s\n%s\n" % (config, frames, "\n".join(samples))


def convert(robot, home, name, content):
    folder = home / "trajectories"
    folder.mkdir(exist_ok=True)
    (folder / name).write_bytes(content if isinstance(content, bytes) else content.encode())
    return robot.generate_traj_exe_file(name)[0]


@pytest.mark.parametrize("frames", ["1e300 0", "0 1e300", "-1 0", "0 -1", "16 0", "0 16", "1.5 0", "0 2.5",
                                    "-0.5 0", "2147483648 0", "0", "0 0 0"])
def test_frame_ids_are_whole_slots(rc, home, frames):
    write_program(home, "kept", ["wait 0"])
    assert convert(rc, home, "kept", trajectory(frames=frames)) == FILE_ACCESS
    assert (home / "programs" / "kept").read_text() == "wait 0\n"  # nothing written


@pytest.mark.parametrize("config", ["0 0.01 100 500", "1 -0.01 100 500", "1 0.01 0.5 500", "1 0.01 100 0.99",
                                    "1 0.01 1e400 500", "1 0.01 100 nan", "1 0.01 100"])
def test_the_configuration_is_one_set_traj_config_takes(rc, home, config):
    assert convert(rc, home, "bad config", trajectory(config=config)) == FILE_ACCESS
    assert not (home / "programs" / "bad config").exists()


def test_frames_and_configuration_at_their_limits_convert(rc, home):
    content = trajectory(config="1e-300 5e-324 1 1", frames="15 15", samples=[SAMPLE, "1" + SAMPLE[1:]])
    assert convert(rc, home, "edges", content) == 0
    program = (home / "programs" / "edges").read_text().splitlines()
    assert program[1].startswith("# recorded with tool 15 and user frame 15")
    assert program[3:] == ["movl 0 0 0 0 0 0 1 1"]


def test_a_program_of_more_commands_than_program_load_takes_is_refused(rc, home):
    # one command a sample: a movj to the first, a movl to each later one
    assert convert(rc, home, "limit", trajectory(samples=[SAMPLE] * 1_000_000)) == 0
    assert rc.program_load("limit") == (0,)
    write_program(home, "over", ["wait 0"])
    assert convert(rc, home, "over", trajectory(samples=[SAMPLE] * 1_000_001)) == FILE_TOO_LARGE
    assert (home / "programs" / "over").read_text() == "wait 0\n"


def test_a_program_larger_than_program_load_takes_is_refused(rc, home):
    # Short samples, long speeds: each movl line is longer than its sample line, so a
    # file within 64 MiB would give a program beyond it.
    long_pose = " ".join(["-1.2345678901234567e-100"] * 6)
    sample = "0 %s 0 0 0 0 0 0" % long_pose
    speed = "100.00000000000001"
    content = trajectory(config="1 0.01 %s %s" % (speed, speed), samples=[sample] * (60 * MiB // (len(sample) + 1)))
    assert len(content) < 64 * MiB
    movl = len("movl %s %s %s\n" % (long_pose, speed, speed))
    assert movl * (content.count("\n") - 3) > 64 * MiB  # what the program would take
    assert convert(rc, home, "grown", content) == FILE_TOO_LARGE
    assert not (home / "programs" / "grown").exists()


def test_samples_convert_to_the_documented_program(rc, home):
    samples = ["0 400 -10 300 3.1 0.2 -1.5 0.3 1.3 -1.2 -1.6 -1.5 0.2",
               "0.5 401.25 -10 299 3.1 0.2 -1.5 0.31 1.3 -1.2 -1.6 -1.5 0.2",
               "",  # empty lines are skipped
               "1 402.5 -10.5 298 3.125 0.2 -1.5 0.32 1.3 -1.2 -1.6 -1.5 0.2"]
    assert convert(rc, home, "three", trajectory(config="1 0.01 250 800", frames="3 4", samples=samples)) == 0
    lines = (home / "programs" / "three").read_text().splitlines()
    assert lines == ["# replays trajectory three (3 samples)",
                     "# recorded with tool 3 and user frame 4: select them before running",
                     "movj 0.3 1.3 -1.2 -1.6 -1.5 0.2 1",
                     "movl 401.25 -10 299 3.1 0.2 -1.5 250 800",
                     "movl 402.5 -10.5 298 3.125 0.2 -1.5 250 800"]
