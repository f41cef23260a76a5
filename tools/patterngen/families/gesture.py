"""Family `gesture`: single-point keyframe gestures.

Abstract single-point gestures (reaches, taps, scoops, turns), most of them eased keyframe paths
that rest at every keyframe, the spiral reach winding in angle, radius and depth at once. Every
table is scaled so that its largest coordinate over the pips is the common peak.
"""

import math
from fractions import Fraction

from ..curves import TAU, eased_path, quintic
from ..toolkit import PEAK, pattern, scale_to

N = 512
DESCRIPTION = "An original single-point {} gesture. Abstract motion, not a full-body dance or biomechanical recording."

# (name, label, keyframe times as fractions of the period, unit keyframes), in order;
# None for the two designed members.
GESTURES = (
    ("side_reach", "side reach", "0 2/7 3/7 5/7 6/7", "0,0; 1,0; 1,-3/4; 0,0; -3/4,0"),
    ("cross_reach", "cross and reach", "0 1/3 1/2 5/6", "-1,2/7; 6/7,-5/7; -6/7,-5/7; 1,2/7"),
    ("low_scoop", "low scoop", "0 2/7 3/7 5/7 6/7", "-1,-2/7; -4/7,6/7; 4/7,6/7; 1,-2/7; 0,-5/7"),
    ("high_arc", "high arc", "0 2/7 3/7 5/7 6/7", "-1,0; -1/2,-3/4; 1/2,-3/4; 1,0; 0,1/4"),
    ("corner_taps", "corner taps", None, None),
    ("diagonal_touch", "diagonal touch", "0 2/7 3/7 5/7 6/7", "-1,5/7; 0,0; 1,-5/7; 0,0; 5/7,3/7"),
    ("box_return", "box and centre", "0 2/7 3/7 5/7 6/7", "-1,5/6; -1,-5/6; 1,-5/6; 1,5/6; 0,0"),
    ("zigzag_lift", "zigzag lift", "0 2/7 3/7 5/7 6/7", "-1,5/7; 4/7,1/7; -4/7,-2/7; 1,-6/7; 0,0"),
    ("duck_sway", "duck and sway", "0 2/9 1/3 5/9 2/3 7/9", "-1,0; -1/2,9/14; 0,11/14; 1,0; 1/2,-5/14; 0,-3/7"),
    ("push_pull", "push and pull", "0 1/3 1/2 5/6", "0,0,0; 3/8,-1/4,1; -3/8,1/4,-3/4; 5/8,1/8,0"),
    ("reach_depth", "reach through depth", "0 1/3 1/2 5/6", "-5/7,3/7,0; 0,-6/7,1; 5/7,3/7,0; 0,-3/7,-5/7"),
    ("bow_turn", "bow and turn", "0 1/3 1/2 5/6", "-1,0,0; 0,1,7/12; 1,0,0; 0,-5/12,-3/4"),
    ("heel_toe", "heel-toe abstract", "0 2/9 1/3 5/9 2/3 7/9", "0,0; -8/13,6/13; -1,-6/13; 0,0; 8/13,6/13; 1,-6/13"),
    ("hop_answer", "hop and answer", "0 2/9 1/3 5/9 2/3 7/9", "0,0; -6/7,-1; -6/7,0; 0,0; 6/7,-4/7; 6/7,0"),
    ("spiral_reach", "spiral reach", None, None),
    ("diamond_depth", "depth diamond", "0 1/3 1/2 5/6", "0,-1,0; 1,0,1; 0,1,0; -1,0,-1"),
)

CORNERS = ((-0.82, -0.586), (0.82, -0.586), (0.82, 0.586), (-0.82, 0.586))

SPIRAL_TIMES = (0, 113, 171, 284, 399)
SPIRAL_TURNS = (Fraction(0), Fraction(3, 4), Fraction(1), Fraction(7, 4), Fraction(5, 2))
SPIRAL_WRAP_TURNS = 3
SPIRAL_RADIUS = (0.30, 0.65, 0.55, 1.00, 0.70)
SPIRAL_DEPTH = (-0.50, 0.10, 0.35, 0.80, 0.20)


def keyframes(times: str, units: str):
    """(pip time, unit keyframe) pairs of a written gesture."""
    ts = [Fraction(t) * N for t in times.split()]
    keys = [tuple(float(Fraction(u)) for u in k.split(",")) for k in units.split(";")]
    return list(zip(ts, keys))


def corner_taps():
    keys = []
    for j, corner in enumerate(CORNERS):
        keys += [(128 * j, (0.0, 0.0)), (128 * j + 64, corner)]
    return eased_path(keys, N)


def eased_lane(times, values, end, t):
    """Quintic-eased value at pip t of a lane through (times, values), reaching end at N."""
    ts = list(times) + [N]
    vs = list(values) + [end]
    k = max(j for j in range(len(times)) if ts[j] <= t)
    u = (t - ts[k]) / (ts[k + 1] - ts[k])
    return vs[k] + (vs[k + 1] - vs[k]) * quintic(u)


def spiral_reach():
    rows = []
    for t in range(N):
        phi = eased_lane(SPIRAL_TIMES, [float(v) for v in SPIRAL_TURNS], SPIRAL_WRAP_TURNS, t)
        r = eased_lane(SPIRAL_TIMES, SPIRAL_RADIUS, SPIRAL_RADIUS[0], t)
        z = eased_lane(SPIRAL_TIMES, SPIRAL_DEPTH, SPIRAL_DEPTH[0], t)
        rows.append((r * math.cos(TAU * phi), r * math.sin(TAU * phi), z))
    return scale_to(rows)


def build(pack):
    out = []
    for name, label, times, units in GESTURES:
        if name == "corner_taps":
            rows = corner_taps()
        elif name == "spiral_reach":
            rows = spiral_reach()
        else:
            rows = scale_to(eased_path(keyframes(times, units), N), PEAK)
        out.append(pattern("gesture_" + name, DESCRIPTION.format(label), rows))
    return out
