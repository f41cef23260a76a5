"""Drum scores of the two funk excerpts of the `groove` family (original scores written for
that family).

Each excerpt is two bars of 4/4 (32 sixteenths, 512 pips). A hit is
(sixteenth, played offset in pips, velocity): the grid time is 16 * sixteenth, the played
time adds the performed offset (microtiming at pip resolution, negative = ahead of the grid,
positive = behind it); velocity is the stroke strength in [0, 1]. GAINS maps each lane to its
(x, y) weight at velocity 1 (x positive = right, y positive = down).
"""

# Excerpt A: a laid-back backbeat (snares 3-5 pips behind), hats a little ahead and softened
# under the backbeats, kick syncopations on the "a" of beats.
A = {
    "gains": {"kick": (0.0, 0.46), "snare": (0.674, -0.22), "hat": (-0.1, -0.06)},
    "kick": ((0, -1, 1.0), (6, -2, 0.8), (10, -1, 0.9),
             (16, -1, 1.0), (19, -2, 0.7), (26, -1, 0.85), (30, 0, 0.6)),
    "snare": ((4, 4, 1.0), (7, 2, 0.3), (12, 5, 0.95), (15, 1, 0.25),
              (20, 4, 0.97), (23, 2, 0.3), (25, 3, 0.35), (28, 4, 1.0)),
    "hat": ((0, -2, 0.7), (2, -1, 0.5), (4, -3, 0.25), (6, -1, 0.55),
            (8, -2, 0.7), (10, 0, 0.5), (12, -3, 0.3), (14, -1, 0.55),
            (16, -2, 0.7), (18, -1, 0.5), (20, -3, 0.25), (22, 0, 0.55),
            (24, -2, 0.7), (26, -1, 0.5), (28, -3, 0.25), (30, -1, 0.6)),
}

# Excerpt B: a busier two-bar figure with upbeat hats, a loud rim-shot backbeat on beat 4 of
# each bar, ghost notes between, the kick pushing ahead of the grid.
B = {
    "gains": {"kick": (0.0, 0.47), "snare": (1.0, -0.3), "hat": (-0.12, -0.05)},
    "kick": ((0, -2, 1.0), (3, -1, 0.75), (8, -2, 0.9), (11, -1, 0.6),
             (16, -2, 1.0), (22, -1, 0.8), (24, -2, 0.85), (27, -1, 0.55)),
    "snare": ((4, 3, 0.8), (6, 1, 0.22), (9, 2, 0.2), (12, 3, 1.0), (14, 1, 0.25),
              (20, 3, 0.82), (23, 1, 0.2), (25, 2, 0.22), (28, 3, 1.0), (31, 1, 0.3)),
    "hat": ((2, -1, 0.6), (6, -2, 0.65), (10, -1, 0.6), (14, -2, 0.7),
            (18, -1, 0.6), (22, -2, 0.65), (26, -1, 0.6), (30, -2, 0.7)),
}
