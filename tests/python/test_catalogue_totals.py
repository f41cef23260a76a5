"""The complete catalogue: pack sizes, the family index, and the distributions of periods,
dimensions and descriptions over all 1716 baked patterns; the module's catalogue() lists them
after the 15 procedural patterns, in registry order."""

import collections
import itertools

import pytest
from patterngen import registry

PERIODS = {
    160: 3,
    224: 5,
    256: 41,
    288: 5,
    320: 4,
    352: 6,
    384: 4,
    416: 6,
    448: 6,
    480: 5,
    512: 1304,
    544: 1,
    608: 1,
    640: 1,
    768: 17,
    1024: 307,
}


@pytest.fixture(scope="module")
def entries(all_entries):
    return all_entries


def test_families_follow_the_registry(entries):
    """Each (pack, family) of the registry is one run of entries, in registry order; what each
    family holds (names, periods, dimensions) is pinned by the manifest."""
    runs = [key for key, _ in itertools.groupby((e.pack, e.family) for e in entries)]
    assert runs == list(registry.FAMILIES)


def test_pack_sizes(entries):
    sizes = collections.Counter(e.pack for e in entries)
    assert sizes == {"initial": 28, "expansion": 24, "atlas": 256, "continuum": 320, "club": 144, "dancefloor": 944}
    assert len(entries) == 1716
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
        (e.pattern.name, e.pattern.description, e.pattern.period, e.pattern.dimensions) for e in entries
    ]
    last = entries[-1].pattern
    assert kinetra.sample(last.name, -1).as_tuple() == last.rows[-1]
