"""velmo_arm's servo stream: pacing on absolute deadlines (on a simulated
clock, so nothing depends on how busy the machine is), overruns, the filter
chosen, and the drain before servo mode is left."""

import asyncio
import inspect
import time as time_module

import pytest

import velmo_arm
from simkit import HOME, close, same_pose

ADDRESS = "127.0.0.1"


class SimulatedTime:
    """A clock and a sleep for the stream: sleeping advances the clock."""

    def __init__(self):
        self.now = 1000.0

    def clock(self):
        return self.now

    def sleep(self, seconds):
        assert seconds > 0
        self.now += seconds


def ramp(k, step=0.002):
    return [q + step * k for q in HOME]


# work between sends, in periods -> when each set-point goes out, in periods after the first; overruns
PACING = [
    ([0.3, 0.5, 0.9, 0.1, 0.99], [0, 1, 2, 3, 4, 5], 0),
    ([0.3, 2.5, 0.2, 0.2, 0.2], [0, 1, 3.5, 3.7, 4, 5], 2),  # late ones go at once, and catch up
    ([1.2, 1.7, 0.05], [0, 1.2, 2.9, 3], 2),
]


@pytest.mark.parametrize("work, sent_at, overruns", PACING)
def test_set_points_go_out_on_an_absolute_grid(sim, instant, work, sent_at, overruns):
    time = SimulatedTime()
    period = 1 / 125
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        with arm.servo(rate_hz=125, clock=time.clock, sleep=time.sleep) as stream:
            start = time.now
            times = []
            for k in range(len(work) + 1):
                stream.send(ramp(k))
                times.append((time.now - start) / period)
                if k < len(work):
                    time.now += work[k] * period
            assert times == pytest.approx(sent_at, abs=1e-9)
            assert (stream.sent, stream.overruns) == (len(sent_at), overruns)
        assert arm.joints == pytest.approx(ramp(len(work)), abs=1e-12)


def test_a_thousand_set_points_keep_the_rate_without_drift(sim, instant):
    time = SimulatedTime()
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        with arm.servo(rate_hz=125, clock=time.clock, sleep=time.sleep) as stream:
            start = time.now
            for k in range(1001):
                stream.send(ramp(k, 1e-5))
                time.now += 0.0061  # 6.1 ms of work each time: under the 8 ms period
        assert time.now - 0.0061 - start == pytest.approx(1000 / 125, abs=1e-9)
        assert stream.overruns == 0


@pytest.mark.parametrize("rate_hz, function, steps", [(125, "servo_j", None), (62.5, "servo_j_extend", 2),
                                                       (25, "servo_j_extend", 5), (None, "servo_j", None)])
def test_slower_streams_spread_each_set_point_over_the_cycles_of_a_period(sim, instant, rate_hz, function, steps):
    time = SimulatedTime()
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        with arm.servo(rate_hz=rate_hz, clock=time.clock, sleep=time.sleep) as stream:
            stream.send(ramp(1))
        calls = sim.calls(function)
        assert len(calls) == 1 and (steps is None or calls[0][-1] == steps)
        if rate_hz is None:
            assert time.now == 1000.0  # not paced: never slept


@pytest.mark.parametrize("servo_filter, function, args", [
    (None, "servo_move_use_none_filter", []),
    (velmo_arm.JointLowPass(20.0), "servo_move_use_joint_LPF", [20.0]),
    (velmo_arm.JointNonLinear(1.0, 2.0, 3.0), "servo_move_use_joint_NLF", [1.0, 2.0, 3.0]),
    (velmo_arm.CartesianNonLinear(1, 2, 3, 4, 5, 6), "servo_move_use_carte_NLF", [1, 2, 3, 4, 5, 6]),
    (velmo_arm.JointMovingMean(10, 1.0, 0.5, 0.25), "servo_move_use_joint_MMF", [10, 1.0, 0.5, 0.25]),
])
def test_the_filter_is_chosen_before_servo_mode_starts(sim, instant, servo_filter, function, args):
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        sim.clear()
        with arm.servo(rate_hz=None, filter=servo_filter):
            pass
        handle = arm.rc.handle
    fns = [e["fn"] for e in sim.journal()]
    assert fns.index(function) < fns.index("servo_move_enable")
    assert sim.calls(function) == [[handle] + args]


def test_leaving_waits_until_the_arm_has_taken_every_set_point(sim):
    sim.set_time_scale(10)  # 200 set-points of 8 ms: 160 ms of real time to drain
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        with arm.servo(rate_hz=None, filter=velmo_arm.JointLowPass(30.0)) as stream:
            for k in range(200):
                stream.send(ramp(k))  # unpaced: they queue up in the controller
        status = arm.status()
        assert not status.servo_mode and status.in_position
        assert close(status.joints, ramp(199), 1e-6)  # the last one was reached, none dropped


def test_wait_settled_and_its_timeout(sim):
    sim.set_time_scale(10)
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        with arm.servo(rate_hz=None, steps=100) as stream:  # each set-point reached 0.8 s after it is sent
            for k in range(100):
                stream.send(ramp(k))
            stream.wait_settled(timeout=30)
            assert arm.joints == pytest.approx(ramp(99), abs=1e-12)
            last = ramp(99)
            for k in range(1, 901):
                stream.send([q + 0.0005 * k for q in last])
            with pytest.raises(TimeoutError):
                stream.wait_settled(timeout=0.02)  # 0.2 s of the 0.8 s: stopped instead
        arm.wait(timeout=5)
        status = arm.status()
        assert not status.servo_mode and status.in_position
        assert status.joints[0] < last[0] + 0.0005 * 900 - 0.1


@pytest.mark.parametrize("interrupt", [KeyboardInterrupt, RuntimeError])
def test_an_exception_in_the_block_stops_the_arm(sim, interrupt):
    sim.set_time_scale(1)
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        with pytest.raises(interrupt):
            with arm.servo(rate_hz=None) as stream:
                for k in range(500):
                    stream.send(ramp(k))
                raise interrupt()
        arm.wait(timeout=5)
        status = arm.status()
        assert not status.servo_mode and status.in_position
        # most of the set-points dropped: the stop from the joint's maximum speed (a jerk-limited
        # 720 deg/s^2) covers about 0.52 rad, the set-points went on to ramp(499)
        assert status.joints[0] < ramp(499)[0] - 0.4
        assert "motion_abort" in [e["fn"] for e in sim.journal()]


def test_a_refused_set_point_raises_and_the_stream_still_closes(sim, instant):
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        with pytest.raises(velmo_arm.LimitError):
            with arm.servo(rate_hz=None) as stream:
                stream.send(ramp(1))
                stream.send((0, 0, 0, 0, 0, 7.0))  # beyond joint 6's limit
        assert not arm.status().servo_mode
        with pytest.raises(ValueError, match="not open"):
            stream.send(ramp(2))


def test_poses_stream_too(sim, instant):
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        start = arm.tcp
        with arm.servo(rate_hz=None) as stream:
            for k in range(1, 11):
                stream.send_pose((start[0] + k, *start[1:]))
            stream.send_pose((0, 5, 0, 0, 0, 0), relative=True)
        assert same_pose(arm.tcp, (start[0] + 10, start[1] + 5, *start[2:]), mm=1e-6, rad=1e-6)


class SimulatedAsyncTime(SimulatedTime):
    async def sleep_async(self, seconds):
        self.sleep(seconds)


@pytest.mark.parametrize("work, sent_at, overruns", PACING)
def test_the_asyncio_stream_paces_on_the_same_grid(sim, instant, work, sent_at, overruns):
    time = SimulatedAsyncTime()
    period = 1 / 125

    async def stream_all(arm):
        async with arm.servo_async(rate_hz=125, clock=time.clock, sleep=time.sleep_async) as stream:
            start = time.now
            times = []
            for k in range(len(work) + 1):
                await stream.send(ramp(k))
                times.append((time.now - start) / period)
                if k < len(work):
                    time.now += work[k] * period
        return stream, times

    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        stream, times = asyncio.run(stream_all(arm))
        assert times == pytest.approx(sent_at, abs=1e-9)
        assert (stream.sent, stream.overruns) == (len(sent_at), overruns)
        assert arm.joints == pytest.approx(ramp(len(work)), abs=1e-12)
        assert not arm.status().servo_mode


def test_one_event_loop_streams_to_two_arms(sim):
    sim.set_time_scale(1)
    left, right = velmo_arm.connect("127.0.0.1", enable=True), velmo_arm.connect("127.0.0.2", enable=True)

    async def stream(arm, sign):
        async with arm.servo_async(rate_hz=125) as s:
            for k in range(1, 26):
                await s.send([q + sign * 0.002 * k for q in HOME])
        return s

    async def both():
        return await asyncio.gather(stream(left, 1), stream(right, -1))

    try:
        streams = asyncio.run(both())
        assert [s.sent for s in streams] == [25, 25]
        assert left.joints == pytest.approx([q + 0.05 for q in HOME], abs=1e-9)
        assert right.joints == pytest.approx([q - 0.05 for q in HOME], abs=1e-9)
        order = [args[0] for args in sim.calls("servo_j")]
        first_right = order.index(right.rc.handle)
        assert first_right < len(order) - 1 - order[::-1].index(left.rc.handle)  # interleaved, not one after the other
    finally:
        left.close()
        right.close()


def test_an_exception_in_an_async_block_stops_the_arm(sim):
    sim.set_time_scale(1)

    async def failing(arm):
        async with arm.servo_async(rate_hz=None, steps=500) as s:
            await s.send([q + 0.5 for q in HOME])
            raise RuntimeError("the script failed")

    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        with pytest.raises(RuntimeError):
            asyncio.run(failing(arm))
        arm.wait(timeout=5)
        status = arm.status()
        assert not status.servo_mode and status.in_position and status.joints[0] < 0.4


def test_streams_pace_on_a_fine_clock_by_default():
    """time.monotonic ticks every 15.6 ms on Windows before Python 3.13: too coarse for 8 ms periods."""
    for method in (velmo_arm.Arm.servo, velmo_arm.Arm.servo_async):
        assert inspect.signature(method).parameters["clock"].default is time_module.perf_counter
