"""Family `beat`: drum-groove styles by motions, beat_<style>_<motion>.

The drum scores of data/beat_scores.py become pulse signals and a rhythm-weighted clock per
style; each motion turns them into a path (bounce, step, orbit, glide and the further motions).
Pack "club" holds the club styles with the basic motions; "dancefloor" the club styles' further
motions and then the dancefloor styles with every motion. The lane weights keep every table
within HEADROOM; the build fails otherwise.
"""

import math
from fractions import Fraction

from ..data.beat_scores import BACKBEAT, CLUB_STYLES, EXTRA, LANES, STYLES, lane_events
from ..rhythm import RaisedCosine, beats, pulse_lane, weighted_clock
from ..toolkit import pattern

PIPS_PER_BAR = 256
HEADROOM = 0.92
PACK_LABEL = "Kinetra Floor"

# Attack and release in beats. kick/clap/snare/ohat/chat as the basic motions use them;
# rim, shaker, tom, bell, perc and bass are this family's choice (short clicks for rim and
# shaker, a long tom and bass body, a ringing bell).
LANE_PULSES = {
    "kick": ("0.10", "0.46"),
    "clap": ("0.10", "0.36"),
    "snare": ("0.09", "0.32"),
    "rim": ("0.08", "0.22"),
    "ohat": ("0.09", "0.28"),
    "chat": ("0.075", "0.14"),
    "shaker": ("0.06", "0.12"),
    "tom": ("0.09", "0.40"),
    "bell": ("0.07", "0.30"),
    "perc": ("0.08", "0.24"),
    "bass": ("0.12", "0.40"),
}
KICK_FURTHER = ("0.11", "0.48")

# Clock density per lane at velocity 1 (added to 0.3 + K, or to 1 + 3.05*K).
# fmt: off
CLOCK_BASIC = {"back": 0.6, "ohat": 0.12, "chat": 0.08, "shaker": 0.05, "tom": 0.4,
               "bell": 0.2, "perc": 0.25, "bass": 0.3}
# fmt: on
# fmt: off
CLOCK_FURTHER = {"back": 1.8, "ohat": 0.35, "chat": 0.25, "shaker": 0.15, "tom": 1.2,
                 "bell": 0.6, "perc": 0.75, "bass": 0.5}
# fmt: on

# Lane terms: motion -> key -> ((lane, sign, weight), ...). Keys are the axes "x", "y", "z"
# (added to the motion's coordinate) or a named inner quantity (radius "r", "rx", "ry",
# pendulum amplitude "a" and angle "phi", recoil push "push"). "kick" terms appear only in
# the pure pulse motions; the path motions carry their kick terms in their expressions.
# fmt: off
LANE_TERMS = {
    "bounce": {
        "x": (("back", "±", 0.243),),
        "y": (("kick", "+", 0.55), ("back", "+", -0.198), ("ohat", "+", -0.0223),
              ("chat", "+", -0.0144)),
        "z": (("bass", "±", 0.038), ("tom", "±", 0.034), ("bell", "+", 0.022),
              ("perc", "±", 0.026), ("shaker", "+", 0.012)),
    },
    "step": {
        "x": (("kick", "±", 0.42), ("back", "∓", 0.288), ("chat", "±", 0.0256)),
        "y": (("kick", "+", -0.22), ("back", "+", -0.126), ("ohat", "+", 0.0446),
              ("chat", "+", 0.0288)),
        "z": (("bass", "∓", 0.036), ("tom", "∓", 0.03), ("bell", "+", -0.02),
              ("perc", "∓", 0.024), ("shaker", "+", -0.012)),
    },
    "orbit": {
        "r": (("back", "+", -0.063), ("ohat", "+", 0.03), ("chat", "+", 0.02),
              ("shaker", "+", 0.01), ("tom", "+", 0.06), ("bell", "+", 0.03),
              ("perc", "+", 0.04), ("bass", "+", 0.05)),
        "z": (("back", "±", 0.144), ("ohat", "+", 0.0223), ("chat", "+", 0.0144),
              ("shaker", "+", 0.012), ("tom", "±", 0.05), ("bell", "+", 0.03),
              ("perc", "±", 0.04), ("bass", "+", 0.06)),
    },
    "glide": {
        "x": (("bass", "±", 0.12), ("tom", "±", 0.05)),
        "y": (("back", "+", -0.08), ("ohat", "+", -0.02), ("perc", "+", -0.03)),
        "z": (("bass", "+", 0.18), ("tom", "+", 0.05), ("perc", "±", 0.04)),
    },
    "surge": {
        "x": (("chat", "±", 0.03), ("ohat", "±", 0.04), ("shaker", "±", 0.02),
              ("tom", "±", 0.08), ("perc", "±", 0.04)),
        "y": (("back", "+", -0.2), ("chat", "+", -0.02), ("ohat", "+", -0.03),
              ("bell", "+", -0.04)),
        "z": (("bass", "+", 0.26),),
    },
    "recoil": {
        "push": (("back", "±", 0.16),),
        "y": (("back", "+", -0.05), ("tom", "+", 0.06), ("bass", "+", 0.08)),
        "z": (("back", "+", 0.09), ("ohat", "+", -0.03), ("perc", "±", 0.04),
              ("bell", "+", 0.03)),
    },
    "flutter": {
        "x": (("back", "∓", 0.09), ("chat", "±", 0.045), ("ohat", "±", 0.05),
              ("shaker", "±", 0.04)),
        "y": (("back", "+", -0.16), ("chat", "+", -0.035), ("ohat", "+", -0.04),
              ("shaker", "+", -0.03)),
        "z": (("chat", "∓", 0.02), ("shaker", "∓", 0.02), ("bell", "±", 0.04),
              ("perc", "±", 0.03), ("tom", "+", 0.04), ("bass", "+", 0.05)),
    },
    "dive": {
        "x": (("back", "∓", 0.18), ("tom", "∓", 0.1), ("perc", "∓", 0.04)),
        "y": (("back", "+", 0.08), ("bass", "+", -0.06)),
        "z": (("bass", "+", 0.32), ("tom", "+", 0.1), ("perc", "+", 0.04)),
    },
    "pendulum": {
        "a": (("back", "+", 0.08), ("tom", "+", 0.06), ("bass", "+", 0.05)),
        "phi": (("back", "±", 0.07), ("perc", "±", 0.03)),
        "y": (("chat", "+", -0.015), ("ohat", "+", -0.02), ("shaker", "+", -0.015)),
        "z": (("back", "±", 0.07), ("bass", "+", 0.08), ("perc", "±", 0.03),
              ("tom", "±", 0.04)),
    },
    "figure8": {
        "y": (("back", "+", -0.14), ("ohat", "+", -0.03)),
        "z": (("back", "±", 0.1), ("bass", "+", 0.12), ("tom", "±", 0.06),
              ("perc", "±", 0.03)),
    },
    "box": {
        "rx": (("back", "+", 0.04), ("tom", "+", 0.04), ("bass", "+", 0.03)),
        "ry": (("back", "+", 0.04), ("perc", "+", 0.03), ("bell", "+", 0.03)),
        "z": (("back", "±", 0.08), ("chat", "+", 0.02), ("bass", "+", 0.1),
              ("tom", "±", 0.04)),
    },
    "corkscrew": {
        "r": (("back", "+", 0.05), ("chat", "+", 0.02), ("ohat", "+", 0.03),
              ("shaker", "+", 0.02), ("tom", "+", 0.07), ("bell", "+", 0.05),
              ("perc", "+", 0.06)),
        "z": (("back", "±", 0.06), ("bass", "+", 0.08)),
    },
    "spiral": {
        "r": (("back", "+", -0.05), ("perc", "+", 0.03), ("tom", "+", 0.03),
              ("bell", "+", 0.03)),
        "z": (("back", "∓", 0.06), ("bass", "+", 0.08)),
    },
    "slalom": {
        "x": (("back", "∓", 0.12), ("tom", "∓", 0.05)),
        "y": (("back", "+", 0.06), ("chat", "+", -0.02)),
        "z": (("back", "±", 0.08), ("bass", "+", -0.08), ("perc", "±", 0.03)),
    },
    "spring": {},
    "ricochet": {
        "y": (("ohat", "+", -0.04), ("chat", "+", -0.03), ("bass", "+", 0.08)),
        "z": (("perc", "±", 0.05), ("tom", "±", 0.05), ("bell", "+", 0.03)),
    },
}
# fmt: on

ECHO_DELAY = 26
ECHO_GAIN = -0.65

SPRING_TAU = 8.8
SPRING_PERIOD = 29.0
SPRING_RISE = 2.5
SPRING_TAPER = (40.0, 56.0)
SPRING_PEAK = 0.32
SPRING_Y_OF_Z = 0.19
# Per-event ringing (x, y, z) at velocity 1, relative to the kick's 0.32 peak, by event
# index within the lane (cycled). Kicks: z+, x+, z-, x- (y added as 0.19 of z).
SPRING_KICK = ((0.0, 0.0, 1.0), (1.0, 0.0, 0.0), (0.0, 0.0, -1.0), (-1.0, 0.0, 0.0))
SPRING_LANES = {
    "back": ((-0.6, -0.3, 0.0), (0.6, -0.3, 0.0)),
    "ohat": ((0.0, -0.12, 0.0),),
    "chat": ((0.0, -0.08, 0.0),),
    "shaker": ((0.0, -0.06, 0.0),),
    "tom": ((0.0, 0.0, 0.5), (0.0, 0.0, -0.5)),
    "bell": ((0.25, 0.0, 0.0), (-0.25, 0.0, 0.0)),
    "perc": ((0.25, 0.0, 0.0), (-0.25, 0.0, 0.0)),
    "bass": ((0.0, 0.1, 0.45),),
}

RICOCHET_TARGETS = ((0.54, -0.12, 0.126), (0.0, 0.34, -0.03), (-0.54, -0.12, 0.126), (0.0, -0.58, -0.03))
RICOCHET_BACK_SCALE = 0.8

BASIC = ("bounce", "step", "orbit", "glide")
# fmt: off
FURTHER = ("surge", "recoil", "flutter", "dive", "pendulum", "figure8", "box", "corkscrew",
           "spiral", "slalom", "spring", "ricochet")
# fmt: on

LABELS = {
    "bounce": "Kick-led bounce",
    "step": "Snare side-step",
    "orbit": "Percussion orbit",
    "surge": "Forward surge",
    "recoil": "Backbeat recoil",
    "flutter": "Upper-percussion flutter",
    "dive": "Bass-led dive",
    "pendulum": "Weighted pendulum",
    "figure8": "Woven figure eight",
    "box": "Rounded corner tour",
    "corkscrew": "Closed corkscrew",
    "spiral": "Breathing spiral",
    "slalom": "Drum slalom",
    "spring": "Causal spring",
    "ricochet": "Directional ricochet",
}
GLIDE_LABEL = {"club": "Bass-and-phrase glide", "dancefloor": "Bass / phrase glide"}

SENTENCES = {
    "bounce": "Original %s kick-led downstroke and side accents." % PACK_LABEL,
    "step": "Original %s alternating lateral kick and snare gestures." % PACK_LABEL,
    "orbit": "Original %s event-weighted orbital speed, radius and depth." % PACK_LABEL,
    "glide": "Original %s continuous phrase path with bass excursions." % PACK_LABEL,
    "surge": "Kick thrust through depth with contrasting snare lift and hat detail.",
    "recoil": "Snare pushes sideways; kick counters downward; delayed echo draws back.",
    "flutter": "Hat and shaker tremors over a wider kick/snare arc.",
    "dive": "Bass drives a broad depth plunge with alternating drum counterweight.",
    "pendulum": "A hanging arc whose amplitude and angular speed respond to the score.",
    "figure8": "Two crossing lobes expand at kicks with a lifted snare crossing.",
    "box": "Rhythm-weighted phase travels around four softened corners.",
    "corkscrew": "Two orbital turns ride a depth wave with percussion-driven radius.",
    "spiral": "A contracting and expanding double-turn path with a continuous seam.",
    "slalom": "S-shaped travel with kick lift, snare cutbacks and depth counter-motion.",
    "spring": "An event starts at rest, then drives a damped ringing excursion.",
    "ricochet": "Successive onsets send smooth excursions toward a cyclic series of targets.",
}


# --- scores -------------------------------------------------------------------------------------


def _pulse(name):
    a, r = name
    return RaisedCosine(beats(a), beats(r))


PULSES = {lane: _pulse(LANE_PULSES[lane]) for lane in LANES}
KICK_PULSES = {"basic": PULSES["kick"], "further": _pulse(KICK_FURTHER)}


def _group(lane_or_group):
    return BACKBEAT if lane_or_group == "back" else (lane_or_group,)


class Score:
    """One style's events and the signals all its motions share."""

    def __init__(self, style):
        self.style = style
        self.n = n = PIPS_PER_BAR * style["bars"]
        self.events = {lane: lane_events(steps, v) for lane, (v, steps) in style["lanes"].items()}
        if set(self.events) - set(LANES):
            raise ValueError("%s: unknown lane" % style["stem"])
        if any(not 0 <= t < n for ev in self.events.values() for t, _ in ev):
            raise ValueError("%s: an onset outside the period" % style["stem"])
        self.plain, self.alt = {}, {}
        for lane, ev in self.events.items():
            if lane == "kick":
                continue
            self.plain[lane] = pulse_lane(n, ev, PULSES[lane])
            self.alt[lane] = pulse_lane(n, _alternated(ev), PULSES[lane])
        kicks = self.events.get("kick", [])
        self.kick = {s: pulse_lane(n, kicks, p) for s, p in KICK_PULSES.items()}
        self.kick_alt = {s: pulse_lane(n, _alternated(kicks), p) for s, p in KICK_PULSES.items()}
        self.clock = {
            "basic": weighted_clock(self.combine("basic", [("kick", "+", 1.0)] + _clock_terms(CLOCK_BASIC), base=0.3)),
            "further": weighted_clock(
                self.combine("further", [("kick", "+", 3.05)] + _clock_terms(CLOCK_FURTHER), base=1.0)
            ),
        }

    @property
    def extra(self):
        return any(lane in self.events for lane in EXTRA)

    def signals(self, group, sign, kick_set):
        """(list, factor) per lane of the group present in the score."""
        factor = -1.0 if sign == "∓" else 1.0
        out = []
        for lane in _group(group):
            if lane == "kick":
                table = self.kick_alt if sign != "+" else self.kick
                out.append((table[kick_set], factor))
            elif lane in self.plain:
                out.append(((self.alt if sign != "+" else self.plain)[lane], factor))
        return out

    def combine(self, kick_set, terms, base=None, start=None):
        """start (a list) or the constant base, then + weight * pulses for each term."""
        if start is not None:
            acc = list(start)
        else:
            acc = [float(base or 0.0)] * self.n
        for group, sign, w in terms:
            for values, factor in self.signals(group, sign, kick_set):
                wf = w * factor
                acc = [a + wf * b for a, b in zip(acc, values)]
        return acc


def _alternated(events):
    return [(t, v if k % 2 == 0 else -v) for k, (t, v) in enumerate(events)]


def _clock_terms(weights):
    return [(lane, "+", w) for lane, w in weights.items()]


# --- motions ------------------------------------------------------------------------------------


def _terms(motion, key):
    return LANE_TERMS[motion].get(key, ())


def _pure(s, motion):
    return tuple(s.combine("basic", _terms(motion, axis)) for axis in "xyz")


def _add(s, kick_set, motion, axis, values):
    return s.combine(kick_set, _terms(motion, axis), start=values)


def bounce(s):
    return _pure(s, "bounce")


def step(s):
    return _pure(s, "step")


def _circle(r, u, turns):
    """x = r*cos(turns*U), y = r*sin(turns*U): a circle of varying radius on the clock."""
    return ([rp * math.cos(turns * up) for rp, up in zip(r, u)], [rp * math.sin(turns * up) for rp, up in zip(r, u)])


def orbit(s):
    k, u = s.kick["basic"], s.clock["basic"]
    r = _add(s, "basic", "orbit", "r", [0.43 + 0.15 * kp for kp in k])
    x, y = _circle(r, u, 1.0)
    return x, y, s.combine("basic", _terms("orbit", "z"))


def glide(s):
    k, ka, u = s.kick["basic"], s.kick_alt["basic"], s.clock["basic"]
    x = [0.13 * a + 0.40 * math.sin(up) for a, up in zip(ka, u)]
    y = [0.26 * math.sin(2.0 * up) for up in u]
    z = [-0.13 * kp + 0.27 * math.cos(up) for kp, up in zip(k, u)]
    return tuple(_add(s, "basic", "glide", axis, v) for axis, v in zip("xyz", (x, y, z)))


def _further(s):
    return s.kick["further"], s.kick_alt["further"], s.clock["further"]


def _finish(s, motion, x, y, z):
    return tuple(_add(s, "further", motion, axis, v) for axis, v in zip("xyz", (x, y, z)))


def surge(s):
    k, ka, _ = _further(s)
    return _finish(s, "surge", [0.153 * a for a in ka], [-0.1535 * kp for kp in k], [0.506 * kp for kp in k])


def recoil(s):
    k, ka, _ = _further(s)
    push = _add(s, "further", "recoil", "push", [0.143 * a for a in ka])
    n = s.n
    x = [push[p] + ECHO_GAIN * push[(p - ECHO_DELAY) % n] for p in range(n)]
    return _finish(s, "recoil", x, [0.257 * kp for kp in k], [-0.072 * kp for kp in k])


def flutter(s):
    k, ka, u = _further(s)
    x = [0.099 * a + 0.26 * math.sin(up) for a, up in zip(ka, u)]
    y = [0.203 * kp for kp in k]
    z = [0.054 * kp + 0.17 * math.sin(2.0 * up) for kp, up in zip(k, u)]
    return _finish(s, "flutter", x, y, z)


def dive(s):
    k, ka, u = _further(s)
    z = [0.13 * kp + 0.11 * math.cos(up) for kp, up in zip(k, u)]
    return _finish(s, "dive", [0.341 * a for a in ka], [-0.126 * kp for kp in k], z)


def pendulum(s):
    k, ka, u = _further(s)
    bars = s.style["bars"]
    amp = _add(s, "further", "pendulum", "a", [0.56 + 0.157 * kp for kp in k])
    phi = [ap * math.sin(bars * up) + 0.1064 * a for ap, up, a in zip(amp, u, ka)]
    phi = _add(s, "further", "pendulum", "phi", phi)
    x = [0.75 * math.sin(f) for f in phi]
    y = [0.05 - 0.75 * (1.0 - math.cos(f)) for f in phi]
    z = [0.066 * kp + 0.126 * a for kp, a in zip(k, ka)]
    return _finish(s, "pendulum", x, y, z)


def figure8(s):
    k, ka, u = _further(s)
    x = [(0.55 + 0.08 * kp) * math.sin(up) for kp, up in zip(k, u)]
    y = [(0.38 + 0.042 * kp) * math.sin(2.0 * up) for kp, up in zip(k, u)]
    z = [-0.048 * kp + 0.112 * a for kp, a in zip(k, ka)]
    return _finish(s, "figure8", x, y, z)


def box(s):
    k, ka, u = _further(s)
    rx = _add(s, "further", "box", "rx", [0.50] * s.n)
    ry = _add(s, "further", "box", "ry", [0.48] * s.n)
    x, y = [], []
    for a, b, up in zip(rx, ry, u):
        t = up + math.pi / 4.0
        c, sn = math.cos(t), math.sin(t)
        rho = (c**4 + sn**4) ** -0.25
        x.append(a * rho * c)
        y.append(b * rho * sn)
    z = [0.102 * kp + 0.036 * a for kp, a in zip(k, ka)]
    return _finish(s, "box", x, y, z)


def corkscrew(s):
    k, ka, u = _further(s)
    r = _add(s, "further", "corkscrew", "r", [0.43 + 0.10 * kp for kp in k])
    x, y = _circle(r, u, 2.0)
    z = [0.016 * kp + 0.42 * math.sin(up) for kp, up in zip(k, u)]
    return _finish(s, "corkscrew", x, y, z)


def spiral(s):
    k, ka, u = _further(s)
    r = _add(s, "further", "spiral", "r", [0.42 + 0.08 * kp + 0.17 * math.sin(up) for kp, up in zip(k, u)])
    x, y = _circle(r, u, 2.0)
    z = [0.105 * a + 0.19 * math.cos(up) for a, up in zip(ka, u)]
    return _finish(s, "spiral", x, y, z)


def slalom(s):
    k, ka, u = _further(s)
    x = [0.056 * a + 0.58 * math.sin(up) for a, up in zip(ka, u)]
    y = [-0.114 * kp + 0.26 * math.sin(3.0 * up) for kp, up in zip(k, u)]
    z = [0.066 * a + 0.28 * math.cos(2.0 * up) for a, up in zip(ka, u)]
    return _finish(s, "slalom", x, y, z)


class SpringResponse:
    """The causal ringing response h(d) of one event, 0 before the onset and from 56 pips
    after it; attack/release make it usable wherever a pulse is (reach [0, 56] pips)."""

    attack = Fraction(0)
    release = Fraction(int(SPRING_TAPER[1]))

    def __hash__(self):
        return hash("spring")

    def __eq__(self, other):
        return isinstance(other, SpringResponse)

    @staticmethod
    def shape(t):
        if t <= 0.0 or t >= SPRING_TAPER[1]:
            return 0.0
        v = math.exp(-t / SPRING_TAU) * math.sin(2.0 * math.pi * t / SPRING_PERIOD) * (1.0 - math.exp(-t / SPRING_RISE))
        lo, hi = SPRING_TAPER
        if t > lo:
            v *= (1.0 + math.cos(math.pi * (t - lo) / (hi - lo))) / 2.0
        return v

    def __call__(self, d):
        return SPRING_GAIN * self.shape(float(d))


SPRING_GAIN = SPRING_PEAK / SpringResponse.shape(6.0)
SPRING = SpringResponse()


def _cycled(events, cycle, scale=1.0):
    """Per axis, the (time, weight) events: velocity * scale * cycle[index % len]."""
    return [[(t, v * scale * cycle[j % len(cycle)][axis]) for j, (t, v) in enumerate(events)] for axis in range(3)]


def spring(s):
    n = s.n
    kick = [(x, SPRING_Y_OF_Z * z, z) for x, _, z in SPRING_KICK]
    axes = _cycled(s.events.get("kick", []), kick)
    for group, cycle in SPRING_LANES.items():
        for lane in _group(group):
            for axis, ev in enumerate(_cycled(s.events.get(lane, []), cycle)):
                axes[axis].extend(ev)
    return tuple(pulse_lane(n, [(t, w) for t, w in ev if w], SPRING) for ev in axes)


def ricochet(s):
    n = s.n
    merged = [(t, v, PULSES[lane], RICOCHET_BACK_SCALE) for lane in BACKBEAT for t, v in s.events.get(lane, [])]
    merged += [(t, v, KICK_PULSES["further"], 1.0) for t, v in s.events.get("kick", [])]
    merged.sort(key=lambda e: e[0])  # stable: a kick and a backbeat at one time keep lane order
    axes = [[0.0] * n for _ in range(3)]
    by_pulse = {}
    for j, (t, v, pulse, scale) in enumerate(merged):
        target = RICOCHET_TARGETS[j % len(RICOCHET_TARGETS)]
        by_pulse.setdefault(pulse, []).append((t, v * scale, target))
    for pulse in sorted(by_pulse, key=lambda p: (p.attack, p.release)):
        for axis in range(3):
            lane = pulse_lane(n, [(t, w * tg[axis]) for t, w, tg in by_pulse[pulse]], pulse)
            axes[axis] = [a + b for a, b in zip(axes[axis], lane)]
    return _finish(s, "ricochet", *axes)


# fmt: off
MOTIONS = {
    "bounce": bounce, "step": step, "orbit": orbit, "glide": glide, "surge": surge,
    "recoil": recoil, "flutter": flutter, "dive": dive, "pendulum": pendulum,
    "figure8": figure8, "box": box, "corkscrew": corkscrew, "spiral": spiral,
    "slalom": slalom, "spring": spring, "ricochet": ricochet,
}
# fmt: on


# --- members ------------------------------------------------------------------------------------


def within_headroom(name, rows):
    """The rows, checked against HEADROOM: the weights are designed to stay inside it."""
    m = max(abs(v) for r in rows for v in r)
    if m > HEADROOM:
        raise ValueError("%s reaches %.6f, beyond %.2f" % (name, m, HEADROOM))
    return rows


def description(style, motion, club):
    label = GLIDE_LABEL["club" if club else "dancefloor"] if motion == "glide" else LABELS[motion]
    note = style["note"] if club and motion in BASIC else SENTENCES[motion]
    return "%s \u2014 %s. %s" % (style["label"], label, note)


_SCORES = {}


def score(stem):
    """The Score of a style (built once per process)."""
    if stem not in _SCORES:
        _SCORES[stem] = Score(next(st for st in STYLES if st["stem"] == stem))
    return _SCORES[stem]


def member(style, motion, club):
    s = score(style["stem"])
    name = "beat_%s_%s" % (style["stem"], motion)
    rows = within_headroom(name, list(zip(*MOTIONS[motion](s))))
    return pattern(name, description(style, motion, club), rows)


def members(pack):
    """(style, motion, club) in registry order for the pack."""
    club, dance = STYLES[:CLUB_STYLES], STYLES[CLUB_STYLES:]
    if pack == "club":
        return [(st, m, True) for st in club for m in BASIC]
    if pack == "dancefloor":
        return [(st, m, True) for st in club for m in FURTHER] + [
            (st, m, False) for st in dance for m in BASIC + FURTHER
        ]
    raise ValueError("the beat family ships in packs club and dancefloor, not %r" % pack)


def build(pack):
    return [member(st, m, club) for st, m, club in members(pack)]
