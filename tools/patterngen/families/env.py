"""Family `env`: breakpoint envelopes on the vertical axis.

Only y moves. Breakpoints lie on the half-beat grid; y eases from each breakpoint to the next and
the last joins the first at the loop, so the point rests at every breakpoint.
"""

from ..curves import breakpoints
from ..toolkit import pattern

N = 512

# fmt: off
MEMBERS = (
    ("env_lift_hold_drop", "Lift, hold, settle",
     ((0, 0.0), (64, -0.8), (192, -0.8), (256, 0.2), (320, 0.0))),
    ("env_inhale_exhale", "Long inhale, short exhale",
     ((0, 0.0), (320, -0.8), (384, 0.1), (448, 0.0))),
    ("env_triple_swell", "Three unequal swells",
     ((0, 0.0), (64, -0.8), (128, 0.0), (192, -0.5), (256, 0.0), (384, -0.3))),
    ("env_rising_echo", "Rising echo ladder",
     ((0, 0.0), (64, -0.25), (128, 0.0), (192, -0.5), (256, 0.0), (320, -0.8), (384, 0.0))),
    ("env_falling_echo", "Falling echo ladder",
     ((0, 0.0), (64, -0.8), (128, 0.0), (192, -0.45), (256, 0.0), (320, -0.15))),
    ("env_anticipation", "Backward anticipation",
     ((0, 0.0), (64, 0.35), (128, 0.0), (192, -0.82), (256, -0.82), (384, 0.12))),
    ("env_plateau_scoop", "Plateau then scoop",
     ((0, 0.0), (64, -0.7), (256, -0.7), (320, -0.3), (384, 0.4))),
    ("env_hesitant", "Hesitant reach",
     ((0, 0.0), (64, -0.3), (128, -0.2), (192, -0.5), (256, -0.4), (320, -0.8))),
    ("env_double_hold", "Two-height hold",
     ((0, 0.0), (64, -0.4), (192, -0.4), (256, -0.8), (384, -0.8))),
    ("env_swell_recoil", "Deep swell and recoil",
     ((0, 0.0), (192, -0.8), (256, 0.5), (320, -0.2), (384, 0.08))),
    ("env_late_release", "Late release",
     ((0, 0.0), (256, -0.8), (384, -0.8), (448, 0.25))),
    ("env_split_attack", "Split attack",
     ((0, 0.0), (32, -0.6), (64, -0.2), (128, -0.8), (320, -0.2))),
    ("env_suspended", "Suspended answer",
     ((0, 0.0), (64, -0.75), (128, 0.0), (256, 0.0), (384, -0.55), (448, -0.55))),
    ("env_valley_peaks", "Valley between peaks",
     ((0, 0.0), (64, -0.7), (192, -0.3), (256, -0.82), (384, 0.2))),
    ("env_four_breaths", "Four breathing accents",
     ((0, 0.0), (64, -0.7), (128, 0.0), (192, -0.5), (256, 0.0), (320, -0.8), (384, 0.0),
      (448, -0.3))),
    ("env_return_stair", "Stepped soft recovery",
     ((0, 0.0), (128, -0.8), (192, -0.8), (256, -0.5), (320, -0.5), (384, -0.2), (448, -0.2))),
)
# fmt: on


def build(pack):
    return [
        pattern(
            name,
            label + " over an eight-beat phrase; smooth, resting joins.",
            [(0.0, y) for y in breakpoints(points, N)],
        )
        for name, label, points in MEMBERS
    ]
