"""Where the fixtures are: the show file's [stage] table and each fixture's place, mount,
facing, beam and head speed, read into `model.Stage` and `model.Body`.

Fixtures without a position are spread along one truss across the stage at trim
height, in file order, so that every show draws sensibly.
"""

from __future__ import annotations

import dataclasses

from . import model
from .outputs import dmx

STAGE_KEYS = {"width", "depth", "trim", "haze"}
FIXTURE_KEYS = {"position", "mount", "facing", "beam_deg", "pan_speed", "tilt_speed", "acceleration", "lag_ms"}
# The largest room drawn, in metres.
MAX_METRES = 1000.0
MAX_SPEED = 100_000.0  # degrees per second
MAX_LAG_MS = 1000.0


def read_stage(r, doc: dict) -> model.Stage:
    key = ("stage",)
    t = r.table(doc, (), "stage")
    r.known(t, key, STAGE_KEYS)
    d = model.Stage()
    return model.Stage(
        width=r.number(t, key, "width", d.width, 0.0, MAX_METRES, lo_open=True),
        depth=r.number(t, key, "depth", d.depth, 0.0, MAX_METRES, lo_open=True),
        trim=r.number(t, key, "trim", d.trim, 0.0, MAX_METRES, lo_open=True),
        haze=r.number(t, key, "haze", d.haze, 0.0, 1.0),
    )


def _position(r, f: dict, key: tuple):
    v = f["position"]
    if (
        not isinstance(v, list)
        or len(v) != 3
        or any(isinstance(e, bool) or not isinstance(e, (int, float)) for e in v)
        or any(not -MAX_METRES <= e <= MAX_METRES for e in v)
    ):
        r.fail(
            key + ("position",), f"must be three numbers [x, y, z] in metres, each within ±{MAX_METRES:g}, found {v!r}"
        )
    return tuple(float(e) for e in v)


def read_body(r, f: dict, key: tuple, beam_deg: float | None) -> model.Body:
    """A fixture's body; `beam_deg` is its profile's beam angle (None: no profile or none given)."""
    d = model.Body()
    mount = r.string(f, key, "mount", d.mount, model.MOUNTS)
    position = _position(r, f, key) if "position" in f else d.position
    if mount == "standing" and "position" in f and position[1] < 0:
        r.fail(key + ("position",), f"a standing fixture must not be below the floor, found y = {position[1]:g}")
    speeds = {
        name: r.number(f, key, name, None, 0.0, MAX_SPEED, lo_open=True) if name in f else None
        for name in ("pan_speed", "tilt_speed", "acceleration")
    }
    return model.Body(
        position=position,
        mount=mount,
        facing=r.number(f, key, "facing", 0.0, -360.0, 360.0),
        beam_deg=r.number(f, key, "beam_deg", beam_deg or model.DEFAULT_BEAM_DEG, 0.0, 179.0, lo_open=True),
        lag_ms=r.number(f, key, "lag_ms", 0.0, 0.0, MAX_LAG_MS),
        placed="position" in f,
        **speeds,
    )


def laid_out(fixtures: tuple, stage: model.Stage) -> tuple:
    """The fixtures with those the show did not place spread along the truss, in file order."""
    loose = [i for i, f in enumerate(fixtures) if not f.body.placed]
    if not loose:
        return fixtures
    out = list(fixtures)
    step = stage.width / len(loose)
    for k, i in enumerate(loose):
        f = out[i]
        y = stage.trim if f.body.mount == "hanging" else 0.0
        body = dataclasses.replace(f.body, position=(-stage.width / 2 + (k + 0.5) * step, y, 0.0))
        out[i] = dataclasses.replace(f, body=body)
    return tuple(out)


def view_config(show: model.Show) -> dict:
    """What the stage view needs of the show (no file names, no patch): the room and, per
    fixture in show order, where it is and how its head moves."""
    st = show.stage
    heads = []
    for f in show.fixtures:
        b = f.body
        dmx = isinstance(f.patch, model.DmxPatch)
        heads.append(
            {
                "name": f.name,
                "kind": "head" if dmx else "point",
                "position": list(b.position),
                "mount": b.mount,
                "facing": b.facing,
                "beam_deg": b.beam_deg,
                "pan_speed": b.pan_speed,
                "tilt_speed": b.tilt_speed,
                "acceleration": b.acceleration,
            }
        )
    return {"width": st.width, "depth": st.depth, "trim": st.trim, "haze": st.haze, "fixtures": heads}


def heads(show: model.Show, sent, blackout: bool) -> dict:
    """Per DMX fixture: [pan, tilt, intensity] as the values last sent say (degrees from home;
    intensity: its dimmer's level, 0 while its blackout values are out)."""
    out = {}
    for f, values in zip(show.fixtures, sent):
        p = f.patch
        if isinstance(p, model.DmxPatch) and values:
            pan, tilt = dmx.angles(p, values)
            level = 0.0 if blackout and p.blackout else dmx.intensity(p, values)
            out[f.name] = [round(pan, 3), round(tilt, 3), round(level, 3)]
    return out
