"""Family `mech`: toy mechanisms as kinematic-style position studies.

Period 512 pips, crank angle phi = 2*pi*i/512. The description is "<study label>; an
original kinematic-style position study, not an engineering simulation." Members, in
catalogue order, with their study labels and rules (dimensions 2 unless z is given):

- `mech_piston_short` "Short-rod piston": x = 0.82*(cos phi + sqrt(4 - sin^2 phi) - 2),
  y = 0.246*sin phi.
- `mech_piston_long` "Long-rod piston": x = 0.82*(cos phi + sqrt(16 - sin^2 phi) - 4),
  y = 0.205*sin 2phi.
- `mech_offset_crank` "Offset crank": slider of a crank of radius 1, rod 3 and offset 0.6,
  x = cos phi + sqrt(9 - (sin phi + 0.6)^2) - 2.8, y = 0.35*sin phi; scaled.
- `mech_scotch_yoke` "Yoke with rocking linkage": x = 0.82*cos phi,
  y = 0.82*(0.35*sin phi + 0.18*sin 3phi).
- `mech_whitworth` "Quick-return linkage study": x = sum b_k*sin k*phi, k = 1 ... 6, b =
  0.666264, 0.28266, 0.05032, 0.006213, 0.000557, 0.000041 (close to the series of the
  phase-warped crank 0.82*sin(phi + 0.72*sin phi), to 2e-5); y = 0.32801*cos phi.
- `mech_elliptic_cam` "Elliptic cam follower": x = 0.3*sin phi, y = rho - 0.65 with
  rho = 0.5/sqrt(0.25*cos^2 phi + sin^2 phi); scaled.
- `mech_two_lobe_cam` "Two-lobe cam follower": x = 0.4*sin phi,
  y = (4*cos phi + 11*cos 2phi)/15; scaled.
- `mech_three_lobe_cam` "Three-lobe cam follower": x = (5/24)*sin phi,
  y = (cos phi + 5*cos 3phi)/6; scaled.
- `mech_escapement` "Soft escapement study": x = sum b_k*sin k*phi over odd k = 1 ... 23,
  b = 0.99498, 0.23405, 0.08036, 0.02905, 0.01061 (the given head), then 0.00388, 0.00142,
  0.00052, 0.00019, 0.00007, 0.00003, 0.00001. The head is that of the soft square
  0.82*tanh(3*sin phi)/tanh 3 (to 3.5e-6) and the tail continues that series rounded to the
  head's five decimals: x is 0.82001 at pi/2 and stays within 0.0045 of it over pips
  88 ... 168. y = 0.08241*sin phi + 0.28843*cos 2phi.
- `mech_paddle` "Paddle-wheel tip": (cos phi + 0.23*cos 4phi, sin phi + 0.23*sin 4phi);
  scaled.
- `mech_wobble_plate` "Wobble-plate trace" (dimensions 3): x = 0.82*cos phi,
  y = 0.287*sin phi, z = 0.41*sin(2phi + 0.3).
- `mech_rocking_beam` "Rocking beam": x = 0.84991*sin phi + 0.03022*sin 3phi +
  0.00031*sin 5phi (0.82 at pi/2); y = 0.288244*sin^2 phi*(1 + sin 2phi): never below 0,
  0 at phi = 0 and pi (and at 3pi/4, 7pi/4), largest 0.42 at 3pi/8 and 11pi/8 (pips 96 and
  352).
- `mech_coupled_cranks` "Coupled cranks": (cos phi + 0.35*cos(3phi + 0.6),
  sin phi - 0.35*sin(3phi + 0.6)); scaled.
- `mech_crank_rocker` "Crank and rocker study" (dimensions 3): x = 0.82*cos phi; y = sum
  b_k*sin k*phi over odd k = 1 ... 19, b = 0.60815, 0.07743, 0.01775, 0.00484 (the given
  head), then 0.00144, 0.00045, 0.00015, 0.00005, 0.00002, 0.00001: the series of
  0.492*atan(2*sin phi) (the head agrees to 5e-6), +-0.54473 at pi/2 and 3pi/2;
  z = 0.123*cos 3phi.
- `mech_piston_balance` "Piston and balance mass" (dimensions 3): x = 0.82*cos phi,
  y = 0.41*sin 2phi, z = 0.205*sin phi.
- `mech_cam_return` "Cam rise and return": x = sum b_k*sin k*phi, k = 1 ... 5, b = 0.63179,
  0.31086, 0.06132, 0.00847, 0.00084 (the head of 0.82*sin(phi + 0.8*sin phi), to 8e-6);
  y = 0.0037 - 0.04883*cos phi + 0.32067*cos 2phi + 0.04865*cos 3phi + 0.0037*cos 4phi
  (the head of 0.328*cos(2phi + 0.3*sin phi), to 4e-5): 0.32789 at 0, -0.31327 at pi/2,
  lowest -0.32805 at pip 116 (phi = 0.45pi).
  Neither series ends in an open tail, and their next terms (7e-5 in x, 1.8e-4 in y) lie
  within the stated 3e-4, so both are used as written, like the whitworth series.

"Scaled" members are multiplied so their largest coordinate over the 512 pips is exactly
0.82; the others are stored with the amplitudes written.
"""

import math

from ..curves import closed_curve, crank_slider, scaled_on_pips
from ..toolkit import pattern

N = 512
DESCRIPTION = "{}; an original kinematic-style position study, not an engineering simulation."

sin = math.sin
cos = math.cos
sqrt = math.sqrt

WHITWORTH = (0.666264, 0.28266, 0.05032, 0.006213, 0.000557, 0.000041)
ESCAPEMENT = (0.99498, 0.23405, 0.08036, 0.02905, 0.01061,
              0.00388, 0.00142, 0.00052, 0.00019, 0.00007, 0.00003, 0.00001)
ROCKER = (0.60815, 0.07743, 0.01775, 0.00484,
          0.00144, 0.00045, 0.00015, 0.00005, 0.00002, 0.00001)
CAM_RETURN = (0.63179, 0.31086, 0.06132, 0.00847, 0.00084)


def sines(b, p, step=1):
    """sum of b[j]*sin(k*p) for k = 1, 1 + step, 1 + 2*step, ..."""
    return sum(c * sin((1 + step * j) * p) for j, c in enumerate(b))


def odd_sines(b, p):
    return sines(b, p, step=2)


def elliptic_cam(p):
    c, s = cos(p), sin(p)
    rho = 0.5 / sqrt(0.25 * (c * c) + s * s)
    return (0.3 * s, rho - 0.65)


# (name, study label, scaled, shape(phi)), in catalogue order.
MEMBERS = (
    ("mech_piston_short", "Short-rod piston", False,
     lambda p: (0.82 * (crank_slider(p, 2.0) - 2.0), 0.246 * sin(p))),
    ("mech_piston_long", "Long-rod piston", False,
     lambda p: (0.82 * (crank_slider(p, 4.0) - 4.0), 0.205 * sin(2.0 * p))),
    ("mech_offset_crank", "Offset crank", True,
     lambda p: (crank_slider(p, 3.0, 0.6) - 2.8, 0.35 * sin(p))),
    ("mech_scotch_yoke", "Yoke with rocking linkage", False,
     lambda p: (0.82 * cos(p), 0.82 * (0.35 * sin(p) + 0.18 * sin(3.0 * p)))),
    ("mech_whitworth", "Quick-return linkage study", False,
     lambda p: (sines(WHITWORTH, p), 0.32801 * cos(p))),
    ("mech_elliptic_cam", "Elliptic cam follower", True, elliptic_cam),
    ("mech_two_lobe_cam", "Two-lobe cam follower", True,
     lambda p: (0.4 * sin(p), (4.0 * cos(p) + 11.0 * cos(2.0 * p)) / 15.0)),
    ("mech_three_lobe_cam", "Three-lobe cam follower", True,
     lambda p: ((5.0 / 24.0) * sin(p), (cos(p) + 5.0 * cos(3.0 * p)) / 6.0)),
    ("mech_escapement", "Soft escapement study", False,
     lambda p: (odd_sines(ESCAPEMENT, p), 0.08241 * sin(p) + 0.28843 * cos(2.0 * p))),
    ("mech_paddle", "Paddle-wheel tip", True,
     lambda p: (cos(p) + 0.23 * cos(4.0 * p), sin(p) + 0.23 * sin(4.0 * p))),
    ("mech_wobble_plate", "Wobble-plate trace", False,
     lambda p: (0.82 * cos(p), 0.287 * sin(p), 0.41 * sin(2.0 * p + 0.3))),
    ("mech_rocking_beam", "Rocking beam", False,
     lambda p: (0.84991 * sin(p) + 0.03022 * sin(3.0 * p) + 0.00031 * sin(5.0 * p),
                0.288244 * (sin(p) * sin(p)) * (1.0 + sin(2.0 * p)))),
    ("mech_coupled_cranks", "Coupled cranks", True,
     lambda p: (cos(p) + 0.35 * cos(3.0 * p + 0.6), sin(p) - 0.35 * sin(3.0 * p + 0.6))),
    ("mech_crank_rocker", "Crank and rocker study", False,
     lambda p: (0.82 * cos(p), odd_sines(ROCKER, p), 0.123 * cos(3.0 * p))),
    ("mech_piston_balance", "Piston and balance mass", False,
     lambda p: (0.82 * cos(p), 0.41 * sin(2.0 * p), 0.205 * sin(p))),
    ("mech_cam_return", "Cam rise and return", False,
     lambda p: (sines(CAM_RETURN, p),
                0.0037 - 0.04883 * cos(p) + 0.32067 * cos(2.0 * p) + 0.04865 * cos(3.0 * p)
                + 0.0037 * cos(4.0 * p))),
)


def build(pack):
    return [pattern(name, DESCRIPTION.format(label),
                    (scaled_on_pips if scaled else closed_curve)(shape, N))
            for name, label, scaled, shape in MEMBERS]
