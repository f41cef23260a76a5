"""Fixtures on a stage: the show file's places and head speeds, the angles decoded from the
values sent, the speed warning's figures, a head's own lag, and the page protocol's list."""

import io
import json
import pathlib
import re

import pytest
from kinetra_live import commands, model, runner, showfile, speed, stage
from kinetra_live.outputs import dmx
from test_live import make_show, write

# One head; its pattern's largest pip-to-pip step is 0.5 of x (row 0 to row 1), none of y.
STEP_PATTERN = "x,y,z\n0,0,0\n0.5,0,0\n0.25,0,0\n0,0,0\n"
ONE_HEAD = """\
[show]
name = "t"
[tempo]
bpm = 120
[patterns]
step = "step.csv"
[outputs.o]
type = "sacn"
destination = "127.0.0.1"
[[fixtures]]
name = "h"
output = "o"
pattern = "step"
universe = 1
address = 1
channels = { pan = 1, pan_fine = 2, tilt = 3, tilt_fine = 4 }
"""


def one_head(tmp_path, extra="", cues=""):
    (tmp_path / "step.csv").write_text(STEP_PATTERN)
    return showfile.load(write(tmp_path, ONE_HEAD + extra + cues))


@pytest.mark.parametrize(
    "extra, key, reason",
    [
        ("position = [1, 2]", "fixtures[0].position", "three numbers"),
        ('position = [1, "up", 0]', "fixtures[0].position", "three numbers"),
        ("position = [1, 2, 5000]", "fixtures[0].position", "within"),
        ('mount = "sideways"', "fixtures[0].mount", "hanging, standing"),
        ('mount = "standing"\nposition = [0, -1, 0]', "fixtures[0].position", "below the floor"),
        ("facing = 400", "fixtures[0].facing", "at most 360"),
        ("beam_deg = 0", "fixtures[0].beam_deg", "above 0"),
        ("pan_speed = -5", "fixtures[0].pan_speed", "above 0"),
        ("tilt_speed = true", "fixtures[0].tilt_speed", "must be a number"),
        ("acceleration = 0", "fixtures[0].acceleration", "above 0"),
        ("lag_ms = 5000", "fixtures[0].lag_ms", "at most 1000"),
        ("\n[stage]\nwidth = 0", "stage.width", "above 0"),
        ("\n[stage]\nhaze = 2", "stage.haze", "at most 1"),
        ("\n[stage]\nheight = 3", "stage.height", "unknown key"),
    ],
)
def test_bad_places_and_speeds_name_file_line_and_key(tmp_path, extra, key, reason):
    with pytest.raises(model.ShowError) as err:
        one_head(tmp_path, extra)
    text = str(err.value)
    first = extra.strip().splitlines()[-1].split(" =")[0]
    lines = (ONE_HEAD + extra).splitlines()
    line = next(k for k, x in enumerate(lines) if x.startswith(first))
    assert re.match(rf".*show\.toml:{line + 1}: {re.escape(key)}: .*{reason}", text), text


def test_unplaced_fixtures_spread_along_the_truss_in_file_order(tmp_path):
    text = make_show(heads=3, visual=False).replace('name = "head2"', 'name = "head2"\nposition = [1, 2, 3]')
    s = showfile.load(write(tmp_path, text + "\n[stage]\nwidth = 12\ntrim = 7\n"))
    assert [f.body.position for f in s.fixtures] == [(-3.0, 7.0, 0.0), (1.0, 2.0, 3.0), (3.0, 7.0, 0.0)]
    assert s.fixtures[0].body.beam_deg == model.DEFAULT_BEAM_DEG
    config = stage.view_config(s)
    assert [h["name"] for h in config["fixtures"]] == ["head1", "head2", "head3"] and config["trim"] == 7


@pytest.mark.parametrize(
    "patch_keys, x, pan",
    [
        ("", -1.0, -45.0),
        ("", 1.0, 45.0),
        ("", 0.0, 0.0),
        ("invert_pan = true", -1.0, 45.0),
        ("pan_range = 360\npan = [0, 360]", 0.5, 90.0),
        ("channels = { pan = 1, tilt = 3 }\npan = [225, 315]", 1.0, 45.0),
    ],
)
def test_angles_are_decoded_from_the_values_sent(tmp_path, patch_keys, x, pan):
    text = ONE_HEAD
    if patch_keys.startswith("channels"):
        text = text.replace("channels = { pan = 1, pan_fine = 2, tilt = 3, tilt_fine = 4 }\n", "")
    (tmp_path / "step.csv").write_text(STEP_PATTERN)
    s = showfile.load(write(tmp_path, text + patch_keys + "\n"))
    patch = s.fixtures[0].patch
    got_pan, got_tilt = dmx.angles(patch, dmx.values(patch, x, 0.0, 0.0))
    coarse = "pan_fine" not in patch.channels
    assert got_pan == pytest.approx(pan, abs=2.2 if coarse else 0.01)
    assert got_tilt == pytest.approx(0.0, abs=0.6 if coarse else 0.01)


def test_a_blacked_out_head_has_no_intensity(tmp_path):
    s = one_head(tmp_path, "blackout = { 4 = 0 }\n")
    sent = [dmx.values(s.fixtures[0].patch, 0.0, 0.0, 0.0, True)]
    assert stage.heads(s, sent, True)["h"][2] == 0.0
    assert stage.heads(s, sent, False)["h"][2] == 1.0


# the shared fixture definitions beside the repository, if they are there
OFL = next(
    (
        r.parent / "shared/data/ofl"
        for r in pathlib.Path(__file__).resolve().parents[2:]
        if (r.parent / "shared/data/ofl/fixtures").is_dir()
    ),
    None,
)
HAND = "channels = { pan = 1, pan_fine = 2, tilt = 3, tilt_fine = 4 }\n"


@pytest.mark.parametrize(
    "extra, z, black, level",
    [
        ("", 1.0, False, 1.0),  # no dimmer: full
        ("channels = { pan = 1, tilt = 3, z = 5 }\nz = [0.2, 1.0]", -1.0, False, 0.2),  # z on the dimmer
        ("channels = { pan = 1, tilt = 3, z = 5, z_fine = 6 }\nz = [0.2, 1.0]", 0.0, False, 0.6),
        ("channels = { pan = 1, tilt = 3, z = 5 }\nblackout = { 5 = 0 }", 1.0, True, 0.0),  # blacked out on it
        ("channels = { pan = 1, tilt = 3, z = 5 }\nblackout = { 5 = 0 }", 1.0, False, 1.0),
        # a profile's Intensity channel (offset 8), set by its name; z is not on it
        ('profile = "{ofl}/fixtures/stairville/mh-x25.json"\nmode = "12ch"\nset = {{ Dimmer = 51 }}', 1.0, False, 0.2),
    ],
)
def test_the_beam_is_dimmed_by_the_dimmer_values_sent(tmp_path, extra, z, black, level):
    if "{ofl}" in extra:
        if OFL is None:
            pytest.skip("the shared fixture definitions are not here")
        extra = extra.format(ofl=OFL)
    (tmp_path / "step.csv").write_text(STEP_PATTERN)
    text = ONE_HEAD.replace(HAND, "") if extra.startswith("channels") else ONE_HEAD
    s = showfile.load(write(tmp_path, text + extra + "\n"))
    sent = [dmx.values(s.fixtures[0].patch, 0.0, 0.0, z, black)]
    assert stage.heads(s, sent, black)["h"][2] == pytest.approx(level, abs=1e-3)


@pytest.mark.parametrize(
    "target, warning",
    [
        ("", "needs 2880 deg/s of pan; this head does 1000 deg/s: scale 0.3 or speed 1/3"),
        ("scale = 0.5", "needs 1440 deg/s of pan; this head does 1000 deg/s: scale 0.3 or speed 2/3"),
        ('speed = "1/4"', None),
        ('speed = "2"', "needs 5760 deg/s of pan; this head does 1000 deg/s: scale 0.1 or speed 1/3"),
        ("rotate = 90", None),  # the step goes to tilt, which has no limit
        ("mirror = ['x']", "needs 2880 deg/s of pan"),
    ],
)
def test_the_speed_warning_gives_exact_figures(tmp_path, target, warning):
    cue = f'\n[[cues]]\nname = "c"\nset.h = {{ pattern = "step"{", " + target if target else ""} }}\n'
    s = one_head(tmp_path, "pan_speed = 1000\n", cue)
    said = speed.show_warnings(s)
    base = "h: step at 120 BPM needs 2880 deg/s of pan; this head does 1000 deg/s: scale 0.3 or speed 1/3"
    assert said[0] == base
    cue_said = [w for w in said if w.startswith("cue 'c': ")]
    if warning is None:
        assert cue_said == []
    else:
        assert len(cue_said) == 1 and warning in cue_said[0]


def test_the_engine_warns_for_the_look_it_shows_and_the_tempo(tmp_path):
    from kinetra_live.engine import Engine

    cue = '\n[[cues]]\nname = "slow"\nquantize = "now"\nset.h = { speed = "1/4" }\n'
    s = one_head(tmp_path, "pan_speed = 1000\n", cue)
    e = Engine(s)
    assert len(e.speed_warnings(120.0)) == 1 and e.speed_warnings(40.0) == []
    e.launch("slow", 0)
    e.advance(0)
    assert e.speed_warnings(120.0) == []


@pytest.mark.parametrize("lag_ms, ahead", [(0, 0), (125, 16), (250, 32)])
def test_a_head_with_lag_is_sampled_ahead_by_its_own_time(tmp_path, lag_ms, ahead):
    text = make_show(heads=2, visual=False).replace('name = "head2"', f'name = "head2"\nlag_ms = {lag_ms}')
    log = io.StringIO()
    r = runner.Runner(showfile.load(write(tmp_path, text)), bpm=120, frame_log=log, now=lambda: 10.0)
    try:
        r.frame(10.0)
    finally:
        r.close()
    rec = json.loads(log.getvalue().splitlines()[0])["fixtures"]
    # at 120 BPM 125 ms is 16 pips; the group's spread puts head2 16 pips behind head1 besides
    assert rec["head2"]["pip"] - rec["head1"]["pip"] == ahead - 16


def test_the_protocol_file_lists_every_command_and_state_key(tmp_path):
    from kinetra_live.inputs import web, webedit

    text = (pathlib.Path(web.__file__).parent.parent / "web" / "PROTOCOL.md").read_text()
    page_part, _, state_part = text.partition("STATE has:")
    state_part, _, edit_part = state_part.partition("## The show editor")
    edits = set(re.findall(r"`(\w+)`", " ".join(re.findall(r"^\| ([^|]+) \|", edit_part, re.M)))) - {"edit"}
    assert edits == set(webedit.NEEDS_VERSION) | set(webedit.ACTIONS)
    assert set(re.findall(r"^\| `(\w+)` \|", page_part, re.M)) == set(commands.COMMANDS) - web.REFUSED
    assert f"Refused from the page: {', '.join(f'`{n}`' for n in sorted(web.REFUSED))}." in text
    documented = set(re.findall(r"`(\w+)`", " ".join(re.findall(r"^\| ([^|]+) \|", state_part, re.M))))
    states = []
    r = runner.Runner(showfile.load(write(tmp_path, make_show(heads=1))), bpm=120, now=lambda: 10.0)
    try:
        r.web = type("Web", (), {"frame_period": 0.0, "wanted": lambda self: True})()
        r.web.publish = lambda st, urgent=False: states.append(st)
        r.frame(10.0)
    finally:
        r.web = None
        r.close()
    assert set(states[0]) == documented
