"""The complete catalogue: pack sizes, the family index, and the distributions of periods,
dimensions and descriptions over all 1716 baked patterns; the module's catalogue() lists them
after the 15 procedural patterns, in registry order."""

import collections

import pytest


# (pack, family, patterns, periods, dimensions) in registry order; a period range is (lo, hi).
FAMILY_INDEX = [
    ("initial", "lfo", 8, {256, 512}, {1, 2}),
    ("initial", "rhythm", 4, {256}, {2}),
    ("initial", "rudiment", 4, {256}, {2}),
    ("initial", "ease", 4, {256}, {1}),
    ("initial", "akwf", 4, {256}, {1}),
    ("initial", "groove", 4, {512}, {2}),
    ("expansion", "lfo", 8, {256, 512, 1024}, {1, 2}),
    ("expansion", "path", 8, {256, 512, 1024}, {2, 3}),
    ("expansion", "rhythm", 8, {256, 448, 512}, {2, 3}),
    ("atlas", "wave", 16, {512}, {1}),
    ("atlas", "env", 16, {512}, {2}),
    ("atlas", "seq", 16, {512}, {2}),
    ("atlas", "noise", 16, {1024}, {2, 3}),
    ("atlas", "orbit", 16, {512}, {2}),
    ("atlas", "weave", 16, {1024}, {2}),
    ("atlas", "polar", 16, {1024}, {2}),
    ("atlas", "spiro", 16, {1024}, {2}),
    ("atlas", "space", 16, {1024}, {3}),
    ("atlas", "mech", 16, {512}, {2, 3}),
    ("atlas", "euclid", 16, (160, 768), {2}),
    ("atlas", "poly", 16, {512}, {3}),
    ("atlas", "meter", 16, (160, 416), {3}),
    ("atlas", "swing", 16, {512}, {2, 3}),
    ("atlas", "stick", 16, {512}, {2}),
    ("atlas", "gesture", 16, {512}, {2, 3}),
    ("continuum", "ribbon", 16, {1024}, {3}),
    ("continuum", "contour", 16, {1024}, {2, 3}),
    ("continuum", "silhouette", 16, {1024}, {3}),
    ("continuum", "spline", 16, {512}, {2, 3}),
    ("continuum", "tour", 16, {1024}, {2, 3}),
    ("continuum", "scan", 16, {1024}, {2, 3}),
    ("continuum", "reach", 16, {1024}, {2, 3}),
    ("continuum", "surface", 16, {1024}, {3}),
    ("continuum", "braid", 16, {1024}, {3}),
    ("continuum", "arm", 16, {1024}, {2, 3}),
    ("continuum", "dwell", 16, {1024}, {3}),
    ("continuum", "packet", 16, {512}, {2, 3}),
    ("continuum", "canon", 16, {512}, {3}),
    ("continuum", "echo", 16, {512}, {3}),
    ("continuum", "ladder", 16, {512}, {3}),
    ("continuum", "necklace", 16, {512}, {3}),
    ("continuum", "accent", 16, {1024}, {3}),
    ("continuum", "triplet", 16, {512}, {3}),
    ("continuum", "dialogue", 16, (288, 512), {3}),
    ("continuum", "burst", 16, {512}, {3}),
    ("club", "beat", 144, {256, 512, 768, 1024}, {2, 3}),
    ("dancefloor", "beat", 944, {256, 512, 768, 1024}, {2, 3}),
]

PERIODS = {160: 3, 224: 5, 256: 41, 288: 5, 320: 4, 352: 6, 384: 4, 416: 6, 448: 6, 480: 5,
           512: 1304, 544: 1, 608: 1, 640: 1, 768: 17, 1024: 307}


@pytest.fixture(scope="module")
def entries(all_entries):
    return all_entries


def test_family_index(entries):
    runs = []  # (pack, family, members) of consecutive entries
    for e in entries:
        if runs and runs[-1][:2] == (e.pack, e.family):
            runs[-1][2].append(e.pattern)
        else:
            runs.append((e.pack, e.family, [e.pattern]))
    assert [r[:2] for r in runs] == [row[:2] for row in FAMILY_INDEX]
    for (pack, family, members), (_, _, count, periods, dims) in zip(runs, FAMILY_INDEX):
        seen = {p.period for p in members}
        if isinstance(periods, tuple):
            assert (min(seen), max(seen)) == periods, family
        else:
            assert seen == periods, family
        assert len(members) == count, family
        assert {p.dimensions for p in members} == dims, family


def test_pack_sizes(entries):
    sizes = collections.Counter(e.pack for e in entries)
    assert sizes == {"initial": 28, "expansion": 24, "atlas": 256, "continuum": 320,
                     "club": 144, "dancefloor": 944}
    assert sum(e.pattern.period for e in entries) == 1_022_912


def test_periods_and_dimensions(entries):
    patterns = [e.pattern for e in entries]
    assert collections.Counter(p.period for p in patterns) == PERIODS
    assert collections.Counter(p.dimensions for p in patterns) == {1: 29, 2: 321, 3: 1366}
    y_only = [p for p in patterns if p.dimensions == 2 and all(r[0] == 0.0 for r in p.rows)]
    assert len(y_only) == 18


def test_descriptions_and_dashes(entries):
    descriptions = [e.pattern.description for e in entries]
    assert sum("\u2014" in d for d in descriptions) == 1088
    assert sum("\u2013" in d for d in descriptions) == 4
    assert all(0 < len(d.encode()) <= 235 for d in descriptions)


def test_module_catalogue_lists_the_registry(entries):
    kinetra = pytest.importorskip("kinetra")
    rows = kinetra.catalogue()
    assert len(rows) == 1731
    assert rows[0]["name"] == "bounce" and rows[15]["name"] == "lfo_breathe"
    assert rows[-1]["name"] == "beat_dembow_push_ricochet"
    assert [(r["name"], r["description"], r["period_pips"], r["dimensions"]) for r in rows[15:]] == [
        (e.pattern.name, e.pattern.description, e.pattern.period, e.pattern.dimensions)
        for e in entries]
    last = entries[-1].pattern
    assert kinetra.sample(last.name, -1).as_tuple() == last.rows[-1]
