"""Family `wave`: sixteen shaped control waves on the horizontal axis.

Every member has a period of 512 pips and moves x only. Its shape x(theta),
theta = 2*pi*i/512, is evaluated at each pip and the table is then multiplied by
0.82 / (largest |x| over the 512 pips), so every member peaks at exactly 0.82.
The description is "<label>; a continuous shaped control wave, mapped to
horizontal displacement."

Several members are written with their final coefficients (`wave_shouldered`,
`wave_notched`, `wave_reed`, `wave_unequal_peaks`, `wave_ripple_return`): the
coefficients already describe the stored wave. Their largest value over the pip
grid is 0.82 to within 7.1e-7 relative (for example 0.8199994 for `wave_notched`,
0.8200007 for `wave_reed`), so the common peak normalisation moves no stored value
by more than 6e-7 and both statements hold at once: the table peaks at 0.82 and
equals the written expression to within 1e-6. They therefore go through the same
normalisation as every other member.

`wave_scoop_warp` is used as its four-term series; its largest value is 0.8213
(at pip 128), so it is genuinely rescaled like the other unnormalised shapes.

Members whose shape is characterised only by measured properties are defined as
follows (all properties are measured on the stored, normalised table; Fourier
coefficients are the discrete sums (2/512)*sum x_i*sin(k*theta_i) etc.):

- `wave_soft_rectifier`: sqrt(sin^2 theta + 0.364^2) - 0.702, a rectified sine
  whose notch is rounded by the 0.364 floor, lowered so the two swells sit on a
  small positive mean. Even, period pi (two equal swells). Normalised: mean
  0.12609, cos 2theta coefficient -0.76803 (only even cosine terms); crest 0.82
  at pips 128 and 384, floor -0.765 at pips 0 and 256.
- `wave_shelf_wave`: the odd-harmonic series 0.832*sin theta + 0.0667*cos 3theta
  + 0.2981*sin 3theta + 0.032*sin 5theta - 0.0051*cos 5theta. The cos 5theta term
  trims the main crest (pip 192) to 0.82, so normalisation leaves the listed
  coefficients unchanged (factor 0.99996); the lower shelf near pip 54 (0.75) and
  the scoop near pip 112 (0.55) come from the phase of the third harmonic.
- `wave_bottle`: sin theta / (1 + 0.3104*cos 2theta). This is a geometric odd
  sine series with ratio -0.1591 per odd harmonic; normalised its k = 1, 3, 5, 7,
  9 coefficients are 0.68951, -0.10972, 0.01746, -0.00278, 0.00044.
- `wave_soft_teeth`: tanh(1.8*(sin theta + 0.4*sin 3theta)), a soft-saturated
  square with a third-harmonic bite: each half cycle has three teeth (crest,
  notch, crest at pips 61, 128, 195). Odd harmonics only; normalised k = 1, 3, 5,
  7, 9 sine coefficients 0.96215, 0.32742, 0.09946, 0.06193, 0.02493.
- `wave_warped_fold`: sin(2.6*sin(theta + 0.34*sin 2theta)), a sine folded back
  on itself and phase-warped towards the zero crossings; odd in theta with odd
  harmonics only, normalised k = 1, 3, 5, 7, 9 sine coefficients 0.67466,
  0.39619, 0.19736, 0.06866, 0.01959.
"""

import math

from ..curves import theta
from ..toolkit import pattern, scale_to

N = 512
DESCRIPTION = "{}; a continuous shaped control wave, mapped to horizontal displacement."

sin = math.sin
cos = math.cos

# (name, label, x(theta) before normalisation), in catalogue order.
MEMBERS = (
    ("wave_pinched", "Pinched sine",
     lambda t: sin(t) - sin(3.0 * t) / 3.0),
    ("wave_shouldered", "Shouldered sine",
     lambda t: 0.793894 * sin(t) + 0.356677 * sin(3.0 * t)),
    ("wave_folded", "Folded sine",
     lambda t: sin(2.2 * sin(t))),
    ("wave_double_fold", "Double-fold wave",
     lambda t: sin(3.8 * sin(t))),
    ("wave_rounded_square", "Rounded square",
     lambda t: math.tanh(2.0 * sin(t))),
    ("wave_soft_rectifier", "Soft rectified swell",
     lambda t: math.sqrt(sin(t) * sin(t) + 0.364 * 0.364) - 0.702),
    ("wave_skew_warp", "Phase-skew sweep",
     lambda t: sin(t + 0.7 * sin(t))),
    ("wave_scoop_warp", "Scooped return",
     lambda t: 0.2666 + 0.8205 * sin(t) + 0.2933 * cos(2.0 * t) + 0.0275 * cos(4.0 * t)),
    ("wave_shelf_wave", "Shelf and scoop",
     lambda t: (0.832 * sin(t) + 0.0667 * cos(3.0 * t) + 0.2981 * sin(3.0 * t)
                + 0.032 * sin(5.0 * t) - 0.0051 * cos(5.0 * t))),
    ("wave_notched", "Notched crest",
     lambda t: 0.586781 * sin(t) - 0.211241 * sin(3.0 * t) + 0.070414 * cos(5.0 * t)),
    ("wave_bottle", "Bottle-neck swell",
     lambda t: sin(t) / (1.0 + 0.3104 * cos(2.0 * t))),
    ("wave_reed", "Reed flutter",
     lambda t: 0.571072 * sin(t) + 0.13437 * (sin(8.0 * t) - sin(6.0 * t))),
    ("wave_unequal_peaks", "Unequal double crest",
     lambda t: 0.53076 * sin(t) + 0.22731 * cos(2.0 * t) + 0.220766 * sin(2.0 * t)),
    ("wave_ripple_return", "Rippled recovery",
     lambda t: 0.751457 * sin(t) + 0.067631 * sin(5.0 * t) * (1.0 + cos(t))),
    ("wave_soft_teeth", "Soft triple teeth",
     lambda t: math.tanh(1.8 * (sin(t) + 0.4 * sin(3.0 * t)))),
    ("wave_warped_fold", "Warped wave fold",
     lambda t: sin(2.6 * sin(t + 0.34 * sin(2.0 * t)))),
)


def build(pack):
    out = []
    for name, label, shape in MEMBERS:
        rows = scale_to([(shape(theta(i, N)),) for i in range(N)])
        out.append(pattern(name, DESCRIPTION.format(label), rows))
    return out
