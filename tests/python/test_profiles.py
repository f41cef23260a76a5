"""Fixture profiles: the shared real definitions validate against the format's schema and
every mode of each reads; what a position motion cannot use is refused naming file and key."""

import copy
import json
import pathlib

import pytest
from kinetra_live import profiles


def _shared_ofl() -> pathlib.Path:
    """../shared/data/ofl beside the repository (or beside a tree that holds this checkout,
    as for the unpacked source distribution under build/)."""
    for root in pathlib.Path(__file__).resolve().parents[2:]:
        if (root.parent / "shared" / "data" / "ofl" / "fixtures").is_dir():
            return root.parent / "shared" / "data" / "ofl"
    pytest.skip("the shared fixture definitions (../shared/data/ofl) are not here", allow_module_level=True)


OFL = _shared_ofl()
DEFINITIONS = sorted(p for p in (OFL / "fixtures").glob("*/*.json"))
MODES = [(p, name) for p in DEFINITIONS for name, _ in profiles.mode_names(json.loads(p.read_text()))]
PERCENT_ONLY = {"elation/platinum-seven.json", "futurelight/dj-scan-250.json"}


def rel(path):
    return f"{path.parent.name}/{path.name}"


def test_the_shared_set_is_complete():
    assert len(DEFINITIONS) == 12 and len(MODES) >= 30


@pytest.fixture(scope="module")
def validator():
    jsonschema = pytest.importorskip("jsonschema")
    referencing = pytest.importorskip("referencing")
    resources = []
    for p in (OFL / "schemas").glob("*.json"):
        schema = json.loads(p.read_text())
        if "$id" in schema:
            resources.append((schema["$id"], referencing.Resource.from_contents(schema)))
    registry = referencing.Registry().with_resources(resources)
    root = json.loads((OFL / "schemas" / "fixture.json").read_text())
    return jsonschema.Draft202012Validator(root, registry=registry)


@pytest.mark.parametrize("path", DEFINITIONS, ids=rel)
def test_definition_is_valid_against_the_schema(validator, path):
    errors = [
        f"{'/'.join(map(str, e.absolute_path))}: {e.message}"
        for e in validator.iter_errors(json.loads(path.read_text()))
    ]
    assert errors == []


@pytest.mark.parametrize("path,mode", MODES, ids=[f"{rel(p)}:{m}" for p, m in MODES])
def test_every_mode_reads(path, mode):
    degrees = 540.0 if rel(path) in PERCENT_ONLY else None
    lay = profiles.read(str(path), mode, pan_degrees=degrees, tilt_degrees=degrees)
    doc = json.loads(path.read_text())
    entries = next(m for m in doc["modes"] if m["name"] == mode)["channels"]
    plain = [e for e in entries if not isinstance(e, dict)]
    # every named slot is where the mode lists it, and nothing overlaps
    for off, name in enumerate(entries, 1):
        if isinstance(name, dict):
            break
        assert name is None or lay.channels[name] == off
    assert len(set(lay.channels.values())) == len(lay.channels)
    assert lay.footprint >= len(plain) and max(lay.channels.values()) <= lay.footprint
    for axis, word in ((lay.pan, "Pan"), (lay.tilt, "Tilt")):
        assert axis is not None
        assert entries[axis.coarse - 1] == word
        for i, off in enumerate(axis.fine):
            assert entries[off - 1] == f"{word} fine" + ("^2" if i else "")
        assert axis.degrees > 0 and 0 <= axis.window[0] < axis.window[1] <= 1


@pytest.mark.parametrize(
    "file,mode,expect",
    [
        # 8, 16 and 24 bit; two channel orders of the same fixture
        ("generic/pan-tilt.json", "8bit", ((1, ()), (2, ()), 2)),
        ("generic/pan-tilt.json", "16 bit (alternate)", ((1, (3,)), (2, (4,)), 4)),
        ("generic/pan-tilt.json", "24bit", ((1, (2, 3)), (4, (5, 6)), 6)),
        ("generic/pan-tilt.json", "24bit-alt", ((1, (3, 5)), (2, (4, 6)), 6)),
        ("stairville/mh-x25.json", "12ch", ((1, (3,)), (2, (4,)), 12)),
        ("martin/mac-aura.json", "Standard", ((4, (5,)), (6, (7,)), 14)),
        ("robe/robin-600e-spot.json", "23-channel", ((1, ()), (2, ()), 23)),
        # matrix insert blocks counted: 5x5 pixels x 4 colours after 16 channels; 3 groups x 7 colours
        ("eurolite/led-tmh-x25.json", "Map", ((1, (2,)), (3, (4,)), 16 + 100)),
        ("elation/platinum-seven.json", "Extended", ((1, (2,)), (3, (4,)), 40)),
    ],
)
def test_offsets_and_footprint(file, mode, expect):
    lay = profiles.read(str(OFL / "fixtures" / file), mode, pan_degrees=540, tilt_degrees=270)
    (pc, pf), (tc, tf), footprint = expect
    assert (lay.pan.coarse, lay.pan.fine, lay.tilt.coarse, lay.tilt.fine, lay.footprint) == (pc, pf, tc, tf, footprint)
    assert lay.pan.bits == 8 * (1 + len(pf))


@pytest.mark.parametrize(
    "file,mode,pan,tilt",
    [
        ("stairville/mh-x25.json", "6ch", (540, False), (270, False)),
        ("jb-lighting/jbled-a7.json", "S16", (430, True), (300, False)),  # pan written 430deg to 0deg
        ("american-dj/vizi-q-wash7.json", "17ch", (630, False), (320, False)),  # -160deg..160deg
    ],
)
def test_ranges_in_degrees(file, mode, pan, tilt):
    lay = profiles.read(str(OFL / "fixtures" / file), mode)
    assert (lay.pan.degrees, lay.pan.inverted) == pan
    assert (lay.tilt.degrees, lay.tilt.inverted) == tilt


@pytest.mark.parametrize("file", sorted(PERCENT_ONLY))
def test_percent_only_range_needs_degrees_from_the_show(file):
    path = str(OFL / "fixtures" / file)
    with pytest.raises(profiles.ProfileError) as e:
        profiles.read(path, profiles.mode_names(json.loads(pathlib.Path(path).read_text()))[0][0])
    assert e.value.key == "availableChannels.Pan.capability.angleStart"
    assert "only in percent" in e.value.message and "pan_range" in e.value.message
    assert str(e.value).startswith(path + ": availableChannels.Pan")


def test_names_cover_plain_fine_and_resolved_template_channels():
    lay = profiles.read(str(OFL / "fixtures" / "american-dj/vizi-q-wash7.json"), "23ch")
    assert lay.channels["Shutter / Strobe"] == 14 and lay.channels["Dimmer fine"] == 16
    assert lay.channels["Red Center"] == 5 and lay.channels["White Outer"] == 12
    lay = profiles.read(
        str(OFL / "fixtures" / "elation/platinum-seven.json"), "Extended", pan_degrees=540, tilt_degrees=270
    )
    assert lay.channels["Red Center"] == 5 and lay.channels["UV Outer"] == 25 and lay.channels["Shutter"] == 29
    # a switching channel's alias is named where the mode lists it
    lay = profiles.read(str(OFL / "fixtures" / "martin/mac-aura.json"), "ext")
    assert lay.channels["FX1 adjust"] == 16


# ---- refusals, on copies of a real definition ------------------------------------------------

BASE = json.loads((OFL / "fixtures" / "generic/pan-tilt.json").read_text())


def edited(change):
    doc = copy.deepcopy(BASE)
    change(doc)
    return doc


def _set(path, value):
    def change(doc):
        node = doc
        for k in path[:-1]:
            node = node[k]
        node[path[-1]] = value

    return change


def _pan_endless(doc):
    doc["availableChannels"]["Pan"] = {
        "capability": {"type": "PanContinuous", "speedStart": "slow CW", "speedEnd": "fast CW"}
    }
    doc["modes"][0]["channels"] = ["Pan", "Tilt"]


def _two_pans(doc):
    doc["availableChannels"]["Pan 2"] = copy.deepcopy(doc["availableChannels"]["Pan"])
    doc["availableChannels"]["Pan 2"].pop("fineChannelAliases")
    doc["modes"][0]["channels"] = ["Pan", "Tilt", "Pan 2"]


def _split_pan(doc):
    doc["availableChannels"]["Pan"] = {
        "capabilities": [
            {"dmxRange": [0, 99], "type": "Pan", "angleStart": "0deg", "angleEnd": "200deg"},
            {"dmxRange": [120, 255], "type": "Pan", "angleStart": "200deg", "angleEnd": "540deg"},
        ]
    }


def _dimmer_only(doc):
    doc["availableChannels"]["Dimmer"] = {"capability": {"type": "Intensity"}}
    doc["modes"][0]["channels"] = ["Dimmer"]


def _insert_unknown_template(doc):
    doc["matrix"] = {"pixelCount": [4, 1, 1]}
    doc["templateChannels"] = {"Red $pixelKey": {"capability": {"type": "ColorIntensity", "color": "Red"}}}
    doc["modes"][0]["channels"] = [
        "Pan",
        "Tilt",
        {
            "insert": "matrixChannels",
            "repeatFor": "eachPixelABC",
            "channelOrder": "perPixel",
            "templateChannels": ["Blue $pixelKey"],
        },
    ]


@pytest.mark.parametrize(
    "change,mode,key,words",
    [
        (_set(("$schema",), "https://example.invalid/schemas/fixture.json"), "8bit", "$schema", "fixture schema"),
        (
            _set(("$schema",), BASE["$schema"].replace("fixture.json", "fixture-redirect.json")),
            "8bit",
            "$schema",
            "redirects",
        ),
        (lambda d: d.pop("$schema"), "8bit", "$schema", "missing"),
        (lambda d: None, "9bit", "modes", "no mode named '9bit'"),
        (lambda d: None, None, "modes", "name one"),
        (
            _set(("modes", 0, "channels"), ["Pan", "Tilt", "Strobe"]),
            "8bit",
            "modes[0].channels[2]",
            "'Strobe' is not defined",
        ),
        (_set(("modes", 0, "channels"), ["Pan", "Tilt", "Pan"]), "8bit", "modes[0].channels[2]", "used twice"),
        (
            _set(("modes", 0, "channels"), ["Pan", "Pan fine^2", "Tilt"]),
            "8bit",
            "availableChannels.Pan.fineChannelAliases[1]",
            "not 'Pan fine'",
        ),
        (_dimmer_only, "8bit", "modes[0]", "no Pan or Tilt"),
        (_pan_endless, "8bit", "availableChannels.Pan", "PanContinuous turns the head without end"),
        (_two_pans, "8bit", "modes[0].channels", "2 pan channels"),
        (_split_pan, "8bit", "availableChannels.Pan.capabilities[1]", "do not join"),
        (
            _set(("availableChannels", "Tilt", "capability", "angleEnd"), "0deg"),
            "8bit",
            "availableChannels.Tilt.capability",
            "no extent",
        ),
        (
            _set(("availableChannels", "Tilt", "capability", "angleEnd"), "50%"),
            "8bit",
            "availableChannels.Tilt.capability",
            "mixes degrees and percent",
        ),
        (
            _set(("availableChannels", "Tilt", "capability", "angleEnd"), "wide"),
            "8bit",
            "availableChannels.Tilt.capability.angleEnd",
            "must be an angle",
        ),
        (_set(("modes", 0, "channels"), ["Pan", "Tilt"] + [None] * 511), "8bit", "modes[0].channels", "more than 512"),
        (_set(("modes",), {"8bit": ["Pan"]}), "8bit", "modes", "must be an array"),
        (
            _set(("availableChannels", "Pan", "capability", "type"), ["Pan"]),
            "8bit",
            "availableChannels.Pan.capability.type",
            "must name a capability type",
        ),
        (_insert_unknown_template, "8bit", "modes[0].channels[2].templateChannels[0]", "not defined"),
    ],
)
def test_refusals_name_the_key(tmp_path, change, mode, key, words):
    doc = edited(change)
    path = tmp_path / "fixture.json"
    path.write_text(json.dumps(doc))
    with pytest.raises(profiles.ProfileError) as e:
        profiles.read(str(path), mode)
    assert (e.value.path, e.value.key) == (str(path), key)
    assert words in e.value.message
    assert str(e.value) == f"{path}: {key}: {e.value.message}"


@pytest.mark.parametrize(
    "content,words",
    [
        (b" " * profiles.MAX_FILE_BYTES + b"{}", "larger than 1024 KiB"),
        (b'{"$schema": ', "not valid JSON: line 1"),
        (b"[" * 100000 + b"]" * 100000, "not valid JSON"),
        (b'{"a": NaN}', "not valid JSON"),
        (b"\xff\xfe{}", "not a UTF-8"),
        (b"[1, 2]", "top level must be an object"),
    ],
)
def test_unreadable_files(tmp_path, content, words):
    path = tmp_path / "big.json"
    path.write_bytes(content)
    with pytest.raises(profiles.ProfileError) as e:
        profiles.read(str(path), "8bit")
    assert e.value.key is None and words in e.value.message and str(e.value).startswith(str(path))


def test_nulls_are_unused_slots_and_a_pan_range_part_of_the_channel(tmp_path):
    def change(doc):
        doc["availableChannels"]["Pan"]["capabilities"] = [
            {"dmxRange": [0, 32767], "type": "NoFunction"},
            {"dmxRange": [32768, 65535], "type": "Pan", "angleStart": "0deg", "angleEnd": "270deg"},
        ]
        doc["availableChannels"]["Pan"]["fineChannelAliases"] = ["Pan fine"]
        del doc["availableChannels"]["Pan"]["capability"]
        doc["modes"][0]["channels"] = [None, "Pan", None, "Tilt", "Pan fine"]

    path = tmp_path / "f.json"
    path.write_text(json.dumps(edited(change)))
    lay = profiles.read(str(path), "8 bit")
    assert (lay.pan.coarse, lay.pan.fine, lay.tilt.coarse, lay.footprint) == (2, (5,), 4, 5)
    assert lay.pan.window == (32768 / 65535, 1.0)
    assert None not in lay.channels and set(lay.channels.values()) == {2, 4, 5}


def test_degrees_from_the_caller_replace_the_file():
    lay = profiles.read(str(OFL / "fixtures" / "jb-lighting/jbled-a7.json"), "C8", pan_degrees=360)
    assert (lay.pan.degrees, lay.pan.inverted, lay.tilt.degrees) == (360, True, 300)
