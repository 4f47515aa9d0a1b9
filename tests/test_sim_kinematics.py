"""The virtual arm's kinematics and orientation conventions, checked against
an independent model of the documented DH table and against SciPy."""

import math
import random

import pytest

from simkit import LOWER, UPPER, flange, pose_matrix, random_joints, rpy_matrix, same_pose, under_sanitizer

if under_sanitizer():
    pytest.skip("numpy and SciPy report their own import-time allocations as leaks under "
                "LeakSanitizer; the other test_sim files drive the same code without them",
                allow_module_level=True)

import numpy as np  # noqa: E402
from scipy.spatial.transform import Rotation  # noqa: E402


@pytest.mark.parametrize("seed", range(5))
def test_forward_matches_the_documented_geometry(rc, seed):
    rng = random.Random(seed)
    for _ in range(40):
        q = [rng.uniform(-6, 6) for _ in range(6)]  # any angles, limits play no part
        code, pose = rc.kine_forward(q)
        assert code == 0
        assert np.allclose(pose_matrix(pose), flange(q), atol=1e-9)


@pytest.mark.parametrize("seed", range(4))
def test_inverse_solves_the_pose_within_limits_and_keeps_a_reference_that_solves_it(rc, seed):
    """A pose made from q, solved with q as reference, gives q back: every
    configuration the arm can take is among the solutions. Any other
    reference gives some solution of the pose inside the limits."""
    rng = random.Random(100 + seed)
    for _ in range(60):
        q = random_joints(rng)
        _, pose = rc.kine_forward(q)
        code, solved = rc.kine_inverse(q, pose)
        assert code == 0 and solved == pytest.approx(q, abs=1e-7)
        code, solved = rc.kine_inverse(random_joints(rng, margin=0), pose)
        assert code == 0
        assert all(lo <= v <= hi for v, lo, hi in zip(solved, LOWER, UPPER))
        assert same_pose(rc.kine_forward(solved)[1], pose, mm=1e-6, rad=1e-8)


def inside_limits(q, ref):
    """q moved by whole turns to the value nearest ref, inside the limits (or None)."""
    out = []
    for v, r, lo, hi in zip(q, ref, LOWER, UPPER):
        v = v + 2 * math.pi * round((r - v) / (2 * math.pi))
        if v > hi:
            v -= 2 * math.pi
        if v < lo:
            v += 2 * math.pi
        if not lo <= v <= hi:
            return None
        out.append(v)
    return out


@pytest.mark.parametrize("seed", range(3))
def test_the_nearest_solution_is_chosen(rc, seed):
    """Over many references the library returns several distinct solutions;
    for each reference, none of them lies nearer than the one returned."""
    rng = random.Random(400 + seed)
    _, pose = rc.kine_forward(random_joints(rng, margin=0.4))
    refs = [random_joints(rng, margin=0) for _ in range(80)]
    answers = [rc.kine_inverse(ref, pose) for ref in refs]
    assert all(code == 0 for code, _ in answers)
    branches = []
    for _, q in answers:
        base = np.array([(v + math.pi) % (2 * math.pi) - math.pi for v in q])
        if all(np.abs(base - b).max() > 1e-6 for b in branches):
            branches.append(base)
    assert len(branches) >= 4
    for ref, (_, q) in zip(refs, answers):
        best = min(sum((a - r) ** 2 for a, r in zip(cand, ref))
                   for cand in (inside_limits(b, ref) for b in branches) if cand is not None)
        assert sum((a - r) ** 2 for a, r in zip(q, ref)) <= best + 1e-9


FRAMES = [
    ([0, 0, 0, 0, 0, 0], [0, 0, 0, 0, 0, 0]),
    ([10, -20, 150, 0, 0, 0], [0, 0, 0, 0, 0, 0]),
    ([0, 0, 0, 0, 0, 0], [400, 300, 50, 0, 0, math.pi / 6]),
    ([5, 0, 120, 0.3, -0.2, 1.0], [-100, 250, 20, 0.1, 0.05, -2.0]),
]


@pytest.mark.parametrize("tool, user", FRAMES)
def test_positions_are_in_the_current_tool_and_user_frame(rc, tool, user):
    assert rc.set_tool_data(3, tool, "n" * 32) == (0,)  # the longest name
    assert rc.set_user_frame_data(2, user, "table") == (0,)
    assert rc.set_tool_id(3) == (0,) and rc.set_user_frame_id(2) == (0,)
    q = [0.2, 1.2, -1.4, -1.2, -1.4, 0.4]
    expected = np.linalg.inv(pose_matrix(user)) @ flange(q) @ pose_matrix(tool)
    code, pose = rc.kine_forward(q)
    assert code == 0 and np.allclose(pose_matrix(pose), expected, atol=1e-9)
    code, solved = rc.kine_inverse(q, pose)
    assert code == 0 and solved == pytest.approx(q, abs=1e-7)
    assert rc.get_tool_data(3) == (0, 3, pytest.approx(tool)) and rc.get_tool_id() == (0, 3)
    assert rc.get_user_frame_data(2) == (0, 2, pytest.approx(user)) and rc.get_user_frame_id() == (0, 2)


# ---- orientation conventions against SciPy ---------------------------------------------------

ANGLES = [(0.1, -0.2, 3.0), (0.0, 0.0, 0.0), (-3.0, 1.2, -0.5), (2.5, -1.4, 1.0), (0.3, 0.2, -3.1)]


@pytest.mark.parametrize("rpy", ANGLES)
def test_rpy_is_rz_ry_rx_and_rows_are_rows(rc, rpy):
    code, rows = rc.rpy_to_rot_matrix(rpy)
    assert code == 0
    reference = Rotation.from_euler("ZYX", rpy[::-1]).as_matrix()  # intrinsic z-y'-x''
    assert np.allclose(np.array(rows), reference, atol=1e-12)
    assert np.allclose(np.array(rows), rpy_matrix(*rpy), atol=1e-12)


@pytest.mark.parametrize("seed", range(3))
def test_matrix_to_rpy_inverts_and_stays_in_range(rc, seed):
    for matrix in Rotation.random(30, random_state=seed).as_matrix():
        code, rpy = rc.rot_matrix_to_rpy(matrix.tolist())
        assert code == 0
        assert -math.pi / 2 <= rpy[1] <= math.pi / 2
        assert np.allclose(rpy_matrix(*rpy), matrix, atol=1e-12)
        zyx = Rotation.from_matrix(matrix).as_euler("ZYX")
        assert np.allclose(rpy, zyx[::-1], atol=1e-9)


@pytest.mark.parametrize("pitch", [math.pi / 2, -math.pi / 2])
def test_gimbal_lock_gives_roll_zero(rc, pitch):
    matrix = np.array(rpy_matrix(0.7, pitch, -0.4))
    code, rpy = rc.rot_matrix_to_rpy(matrix.tolist())
    assert code == 0 and rpy[0] == 0 and rpy[1] == pytest.approx(pitch)
    assert np.allclose(rpy_matrix(*rpy), matrix, atol=1e-9)


@pytest.mark.parametrize("seed", range(3))
def test_quaternions_are_scalar_first_unit_and_non_negative(rc, seed):
    for rotation in Rotation.random(30, random_state=10 + seed):
        code, quat = rc.rot_matrix_to_quaternion(rotation.as_matrix().tolist())
        assert code == 0
        x, y, z, w = rotation.as_quat()
        expected = np.array([w, x, y, z]) * (1 if w >= 0 else -1)
        assert quat[0] >= 0 and math.isclose(np.linalg.norm(quat), 1, abs_tol=1e-12)
        assert np.allclose(quat, expected, atol=1e-9)
        code, rows = rc.quaternion_to_rot_matrix([-v for v in quat])  # q and -q: one rotation
        assert code == 0 and np.allclose(np.array(rows), rotation.as_matrix(), atol=1e-12)


def test_a_quaternion_is_normalised_first(rc):
    code, rows = rc.quaternion_to_rot_matrix((2, 0, 0, 2))
    assert code == 0
    assert np.allclose(np.array(rows), Rotation.from_quat([0, 0, 1, 1]).as_matrix(), atol=1e-12)
