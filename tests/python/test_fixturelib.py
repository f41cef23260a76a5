"""The fixture library in the box: the shipped index is current, gives every mode exactly the
layout its definition file gives, and patches a show from `profile = "ofl:MAKER/MODEL"`."""

import dataclasses
import gzip
import json
import pathlib
import re
import subprocess
import sys

import pytest
from kinetra_live import fixturelib, model, profiles, showfile

ROOT = pathlib.Path(__file__).resolve().parents[2]


def _library() -> pathlib.Path | None:
    for root in pathlib.Path(__file__).resolve().parents[2:]:
        if (root.parent / "shared" / "data" / "ofl-library" / "fixtures").is_dir():
            return root.parent / "shared" / "data" / "ofl-library"
    return None


LIBRARY = _library()
needs_library = pytest.mark.skipif(LIBRARY is None, reason="the library copy (../shared/data/ofl-library) is not here")


@needs_library
def test_the_shipped_index_is_current_and_rebuilds_byte_for_byte():
    built = fixturelib.build(str(LIBRARY))
    assert built == fixturelib.build(str(LIBRARY))
    assert json.loads(gzip.decompress(built)) == fixturelib.index(), "run tools/fixtureindex/build.py"
    shipped = fixturelib.index_bytes()
    assert gzip.decompress(shipped) == gzip.decompress(built)


def test_the_package_carries_the_index_and_the_licence():
    from importlib import resources

    folder = resources.files("kinetra_live").joinpath("fixtures")
    assert "MIT License" in folder.joinpath(fixturelib.LICENSE_FILE).read_text()
    lib = fixturelib.index()
    assert len(lib["fixtures"]) >= 150 and lib["source"]
    assert all(e["modes"] for e in lib["fixtures"].values())


def _modes():
    return [(ref, m["name"]) for ref, e in fixturelib.index()["fixtures"].items() for m in e["modes"]]


@needs_library
@pytest.mark.parametrize("ref,mode", _modes(), ids=[f"{r}:{m}" for r, m in _modes()])
def test_every_mode_is_what_the_definition_file_gives(ref, mode):
    path = str(LIBRARY / "fixtures" / f"{ref}.json")
    args = {}
    for attempt in range(3):
        try:
            want = profiles.read(path, mode, **args)
            break
        except profiles.ProfileError as exc:
            with pytest.raises(profiles.ProfileError) as got:
                fixturelib.layout(ref, mode, **args)
            if "only in percent" in exc.message:
                assert got.value.key == exc.key and "only in percent" in got.value.message
                args[re.search(r"the (pan|tilt) range", exc.message).group(1) + "_degrees"] = 400.0
                continue
            assert (got.value.key, got.value.message) == (exc.key, exc.message)
            return
    assert dataclasses.replace(fixturelib.layout(ref, mode, **args), path=path) == want


def test_search_ranks_whole_words_and_every_word_must_match():
    found = [ref for ref, _ in fixturelib.search("stairville mh x25")]
    assert found[0] == "stairville/mh-x25"
    assert fixturelib.search("no such maker anywhere") == []
    assert len(fixturelib.search("")) == min(fixturelib.MAX_MATCHES, len(fixturelib.index()["fixtures"]))


SHOW = """\
[tempo]
bpm = 120
[outputs.stage]
type = "sacn"
destination = "127.0.0.1"
[[fixtures]]
name = "a"
output = "stage"
pattern = "circle"
universe = 1
address = 1
profile = "{profile}"
{extra}
"""


@pytest.mark.parametrize(
    "profile,extra,check",
    [
        ("ofl:martin/mac-aura", 'mode = "std"', lambda p: (p.channels["pan"], p.channels["pan_fine"], p.footprint)),
        ("ofl:stairville/mh-x25", 'mode = "6-channel"', lambda p: (p.channels["pan"], p.footprint)),
        ("ofl:lixada/mini-moving-head-rgbw", 'mode = "9ch"', lambda p: p.channels["pan"]),  # a renamed fixture
        ("ofl:martin/mac-aura", 'mode = "Standard"\nset = { "Beam dimmer" = 255 }', lambda p: p.fixed),
    ],
)
def test_a_show_patches_from_the_bundled_library(tmp_path, profile, extra, check):
    path = tmp_path / "show.toml"
    path.write_text(SHOW.format(profile=profile, extra=extra))
    patch = showfile.load(str(path)).fixtures[0].patch
    expected = {
        "ofl:martin/mac-aura": {"std": (4, 5, 14), "Standard": {2: 255}},
        "ofl:stairville/mh-x25": (1, 6),
        "ofl:lixada/mini-moving-head-rgbw": 1,
    }[profile]
    if isinstance(expected, dict) and "mac-aura" in profile:
        expected = expected[extra.split('"')[1]]
    assert check(patch) == expected


@pytest.mark.parametrize(
    "profile,extra,line,key,words",
    [
        ("ofl:nobody/nothing", "", 12, "fixtures[0].profile", "no fixture 'nobody/nothing'"),
        ("ofl:martin/mac-aura", "", 12, "fixtures[0].profile", "has 2 modes; name one"),
        ("ofl:martin/mac-aura", 'mode = "huge"', 13, "fixtures[0].mode", "no mode named 'huge'"),
        ("ofl:elation/platinum-seven", 'mode = "Standard"', 12, "fixtures[0].profile", "only in percent"),
        ("ofl:american-dj/crazy-pocket-8", 'mode = "9-channel"', 12, "fixtures[0].profile", "2 tilt channels"),
    ],
)
def test_library_refusals_name_file_line_and_key(tmp_path, profile, extra, line, key, words):
    path = tmp_path / "show.toml"
    path.write_text(SHOW.format(profile=profile, extra=extra))
    with pytest.raises(model.ShowError) as e:
        showfile.load(str(path))
    assert str(e.value).startswith(f"{path}:{line}: {key}: {profile}")
    assert words in str(e.value)


def test_percent_only_fixture_takes_the_show_range(tmp_path):
    path = tmp_path / "show.toml"
    path.write_text(SHOW.format(profile="ofl:elation/platinum-seven", extra='mode = "Standard"\npan_range = 540'))
    with pytest.raises(model.ShowError, match="tilt range is given only in percent"):
        showfile.load(str(path))


@pytest.mark.parametrize("words,code,expect", [("mac aura", 0, "ofl:martin/mac-aura"), ("zzz qqq", 1, "0 fixture")])
def test_the_fixtures_option_lists_matches(words, code, expect):
    env = {"PYTHONPATH": str(ROOT / "python")}
    r = subprocess.run(
        [sys.executable, "-m", "kinetra_live", "--fixtures", words], capture_output=True, text=True, env=env, timeout=60
    )
    assert r.returncode == code and expect in r.stdout + r.stderr
