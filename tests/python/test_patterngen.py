"""The pattern generator: family contents, invariants and the emitted C++ sources."""

import math
import os
import pathlib
import re

import pytest
from patterngen import emit, model, registry
from patterngen.families import akwf, ease, env, lfo, seq
from patterngen.toolkit import pattern

OWN_FAMILIES = (
    ("initial", "lfo"),
    ("initial", "ease"),
    ("initial", "akwf"),
    ("expansion", "lfo"),
    ("atlas", "env"),
    ("atlas", "seq"),
)


@pytest.fixture(scope="module")
def patterns(all_entries):
    return {e.pattern.name: e.pattern for e in all_entries if (e.pack, e.family) in OWN_FAMILIES}


@pytest.fixture(scope="module")
def generated(tmp_path_factory, all_entries):
    out = tmp_path_factory.mktemp("gen")
    summary = emit.generate(out, entries=all_entries)
    return out, summary


def lane(p, axis):
    return [r["xyz".index(axis)] for r in p.rows]


def lobes(values):
    """(pip, value) of the largest magnitude between consecutive sign changes."""
    out = []
    for i, v in enumerate(values):
        if v == 0.0:
            continue
        if out and (v > 0) == (out[-1][1] > 0):
            if abs(v) > abs(out[-1][1]):
                out[-1] = (i, v)
        else:
            out.append((i, v))
    return out


# --- family tables ---------------------------------------------------------------------------


def test_registry_family_index():
    """Packs in order, each pack's families contiguous, and every module of families/ listed
    and of the one shape, build(pack)."""
    packs = [pack for pack, _ in registry.FAMILIES]
    assert sorted(set(packs), key=packs.index) == list(registry.PACKS)
    assert packs == sorted(packs, key=registry.PACKS.index)
    modules = {f.stem for f in pathlib.Path(registry.__file__).with_name("families").glob("*.py")}
    assert modules - {"__init__"} == {name for _, name in registry.FAMILIES}
    assert all(registry.family(name).name == name for name in modules - {"__init__"})


def test_family_contract_is_checked(monkeypatch):
    from patterngen.families import ease as module

    monkeypatch.setattr(module, "build", lambda: [])
    with pytest.raises(TypeError, match=r"patterngen\.families\.ease must define build\(pack\)"):
        registry.family("ease")
    with pytest.raises(emit.GenerationError, match="family module patterngen.families.nowhere is missing"):
        emit.collect((("initial", "nowhere"),))


def test_registry_order_of_named_members():
    assert [p.name for p in lfo.build("initial")] == [
        "lfo_breathe",
        "lfo_surge",
        "lfo_soft_gate",
        "lfo_double_pump",
        "lfo_ratchet",
        "lfo_glide_stair",
        "lfo_morph",
        "lfo_flower",
    ]
    assert [p.name for p in ease.build("initial")] == [
        "ease_rebound",
        "ease_anticipate",
        "ease_overshoot",
        "ease_elastic",
    ]
    assert [p.name for p in seq.build("atlas")][:4] == [
        "seq_up_down_even",
        "seq_up_down_lilt",
        "seq_pendulum_even",
        "seq_pendulum_lilt",
    ]


@pytest.mark.parametrize(
    "name, description",
    [
        (
            "lfo_seeded_drift",
            "Two independently seeded smooth random lanes; irregular-looking but exactly periodic and seekable.",
        ),
        ("ease_elastic", "Original windowed, decaying oscillation; not a copied D3 curve. Peak scaled to .8."),
        ("akwf_quick_return", "AKWF_R_asym_saw_15_256.h: an actual CC0 waveform slowed to a four-beat position loop."),
        ("env_return_stair", "Stepped soft recovery over an eight-beat phrase; smooth, resting joins."),
        ("seq_stairs_lilt", "A programmed position sequence with lilt segment durations and softened transitions."),
    ],
)
def test_description_templates(patterns, name, description):
    assert patterns[name].description == description


# --- measured facts --------------------------------------------------------------------------


@pytest.mark.parametrize(
    "name, pip, expected",
    [
        ("lfo_breathe", 64, (0.8, 0.0, 0.0)),
        ("lfo_breathe", 1, (0.019632982818, 0.0, 0.0)),
        ("lfo_breathe", 255, (-0.019632982818, 0.0, 0.0)),
        ("env_lift_hold_drop", 16, (0.0, -0.0828125, 0.0)),  # quintic, not cubic (-0.125)
        ("lfo_glide_stair", 224, (0.0, 0.0, 0.0)),
        ("ease_elastic", 128, (0.0, 0.0, 0.0)),
    ],
)
def test_exact_rows(patterns, name, pip, expected):
    assert patterns[name].rows[pip] == expected


@pytest.mark.parametrize(
    "name, extreme, value",
    [
        ("ease_overshoot", max, 0.78),
        ("ease_anticipate", min, -0.78),
        ("ease_rebound", max, 0.65),
        ("ease_rebound", min, -0.65),
    ],
)
def test_ease_extremes(patterns, name, extreme, value):
    x = lane(patterns[name], "x")
    assert extreme(x[:129]) == pytest.approx(value, abs=1e-4)
    assert -0.78 - 1e-4 <= min(x) and max(x) <= 0.78 + 1e-4


def test_ease_elastic_swings(patterns):
    x = lane(patterns["ease_elastic"], "x")
    assert x[0] == 0.0 and abs(x[-1]) < 1e-4
    assert max(abs(v) for v in x) == 0.8
    swings = [(i, v) for i, v in lobes(x) if abs(v) > 0.01]
    assert [round(v, 2) for _, v in swings] == [-0.60, 0.80, -0.57, 0.23]
    assert abs(swings[0][0] - 64) <= 4 and abs(swings[1][0] - 104) <= 4
    assert swings[1][0] < 128 < swings[2][0]


@pytest.mark.parametrize("axis, lo, hi", [("x", -0.71, 0.79), ("y", -0.61, 0.40)])
def test_seeded_drift_lanes(patterns, axis, lo, hi):
    v = lane(patterns["lfo_seeded_drift"], axis)
    assert (min(v), max(v)) == (lo, hi)
    assert max(abs(b - a) for a, b in zip(v, v[1:] + v[:1])) < 0.03  # smooth, also across the wrap
    turns = sum((b - a) * (c - b) < 0 for a, b, c in zip(v, v[1:] + v[:1], v[2:] + v[:2]))
    assert turns >= 6  # irregular, not a plain sinusoid


def test_morph_blends_sine_into_skewed_triangle(patterns):
    p = patterns["lfo_morph"]
    x = lane(p, "x")
    assert max(abs(v) for v in x) == 0.8
    assert lane(p, "y") == [round(0.2 * math.sin(2 * math.pi * i / 512), 12) + 0.0 for i in range(512)]

    def rising(cycle):
        seg = x[128 * cycle : 128 * cycle + 129]
        return sum(b > a for a, b in zip(seg, seg[1:]))

    # near the loop point mostly sine (rises about half the cycle); mid-phrase the skewed
    # triangle dominates (rises 0.7 of the cycle)
    assert rising(0) <= 70 and rising(3) <= 70
    assert abs(rising(1) - 0.7 * 128) <= 3 and abs(rising(2) - 0.7 * 128) <= 3


def test_seq_lilt_rests_at_keyframes(patterns):
    p = patterns["seq_up_down_lilt"]
    for j, pips in ((1, (113, 114)), (2, (170, 171))):
        key = (0.1025 * (-8, -3, 2)[j], 0.287 * math.sin(2 * math.pi * j / 6))
        assert min(max(abs(p.rows[i][0] - key[0]), abs(p.rows[i][1] - key[1])) for i in pips) < 1e-5


@pytest.mark.parametrize("shape", ["pendulum", "octave", "ratchet", "stairs"])
def test_seq_lilt_visits_even_keyframes(patterns, shape):
    even, lilt = patterns["seq_%s_even" % shape], patterns["seq_%s_lilt" % shape]
    # eight keyframes: lilt reaches keyframe 2k at pip 128k, where even has it too
    for pip in (0, 128, 256, 384):
        assert lilt.rows[pip] == even.rows[pip]


def test_env_moves_only_y(patterns):
    for p in env.build("atlas"):
        assert set(lane(p, "x")) == {0.0} and set(lane(p, "z")) == {0.0}


@pytest.mark.parametrize("name", [m for m, _ in akwf.MEMBERS])
def test_akwf_scaled_to_085(patterns, name):
    assert max(abs(v) for v in lane(patterns[name], "x")) == 0.85


def test_akwf_quick_return_wrap_figures(patterns):
    x = lane(patterns["akwf_quick_return"], "x")
    wrap = abs(x[0] - x[-1])
    inner = max(abs(b - a) for a, b in zip(x, x[1:]))
    assert wrap == pytest.approx(0.194, abs=5e-4)
    assert inner == pytest.approx(0.302, abs=5e-4)


def test_akwf_reads_packaged_data():
    assert akwf.DATA.parent.name == "data" and akwf.DATA.parent.parent.name == "patterngen"
    assert (akwf.DATA / "SOURCE.md").is_file()


# --- invariants ------------------------------------------------------------------------------


def test_own_families_satisfy_invariants():
    emit.check(emit.collect(OWN_FAMILIES))  # names, periods, ranges, closed loops


def _bad(name="lfo_bad_example", rows=None, description="d", family="lfo"):
    rows = rows if rows is not None else [(math.sin(2 * math.pi * i / 256),) for i in range(256)]
    return emit.Entry("initial", family, pattern(name, description, rows))


def test_every_baked_table_keeps_the_invariants(all_entries):
    emit.check(all_entries)


@pytest.mark.parametrize(
    "entries, message",
    [
        ([_bad(name="lfo_ab")], "8 to 32"),
        ([_bad(name="lfo_Upper_case")], "8 to 32"),
        ([_bad(family="ease")], "family prefix"),
        ([_bad(), _bad()], "duplicate"),
        ([_bad(rows=[(0.0,)] * 100)], "period 100"),
        ([_bad(rows=[(1.5 if i == 64 else 0.0,) for i in range(256)])], "row 64"),
        ([_bad(rows=[(math.nan if i == 9 else 0.0,) for i in range(256)])], "row 9"),
        ([_bad(rows=[(i / 256.0,) for i in range(256)])], "x wraps"),
        ([_bad(description="")], "description"),
        ([emit.Entry("initial", "lfo", model.Pattern("lfo_neg_zero", "d", ((-0.0, 0.0, 0.0),) * 256))], "row 0"),
    ],
)
def test_check_rejects(entries, message):
    with pytest.raises(emit.GenerationError, match=message):
        emit.check(entries)


# --- emitted sources -------------------------------------------------------------------------


def test_c_string_escapes():
    assert emit.c_string('a"b\\c') == '"a\\"b\\\\c"'
    # em dash, then a digit that a greedy hex escape would swallow
    assert emit.c_string("x\u2014" + "1") == '"x\\342\\200\\2241"'


ROW = re.compile(r"    \{(-?\d\.\d{12}), (-?\d\.\d{12}), (-?\d\.\d{12})\},\n")


def test_pack_headers_literal_form(generated, all_entries):
    out, summary = generated
    entries = all_entries
    rows = 0
    for pack in registry.PACKS:
        text = (out / ("include/kinetra/packs/%s.hpp" % pack)).read_text()
        lines = text.splitlines(keepends=True)
        assert lines[0].startswith("// Generated by `python3 -m patterngen`")
        assert lines[1:4] == ["#pragma once\n", '#include "kinetra/core.hpp"\n', "namespace kinetra_%s {\n" % pack]
        assert lines[-1] == "}  // namespace kinetra_%s\n" % pack
        pos = 4
        for e in (e for e in entries if e.pack == pack):
            p = e.pattern
            assert lines[pos] == (
                "KINETRA_API inline constexpr kinetra::Offset3 table_%s[%d] = {\n" % (p.name, p.period)
            )
            parsed = [tuple(float(v) for v in ROW.fullmatch(l).groups()) for l in lines[pos + 1 : pos + 1 + p.period]]
            assert parsed == list(p.rows)
            pos += 1 + p.period
            assert lines[pos] == "};\n"
            assert lines[pos + 1] == (
                "KINETRA_API inline kinetra::Offset3 sample_%s(int pip) noexcept "
                "{ return table_%s[kinetra::wrap_pip(pip, %d)]; }\n" % (p.name, p.name, p.period)
            )
            pos += 2
            rows += p.period
        assert pos == len(lines) - 1
    assert rows == summary.rows and summary.patterns == len(entries)


def test_registry_source(generated, all_entries):
    out, summary = generated
    text = (out / "src/catalogue/registry_data.cpp").read_text(encoding="ascii")  # pure ASCII
    records = re.findall(
        r'    \{"([a-z0-9_]+)", "((?:[^"\\]|\\.)*)", (\d+), (\d), '
        r"&kinetra_(\w+)::sample_(\w+)\},\n",
        text,
    )
    entries = all_entries
    assert [(r[0], int(r[2]), int(r[3]), r[4]) for r in records] == [
        (e.pattern.name, e.pattern.period, e.pattern.dimensions, e.pack) for e in entries
    ]
    assert all(r[0] == r[5] for r in records)
    assert "const std::size_t registry_size = %d;\n" % len(entries) in text
    index_text = text.split("registry_name_index[] = {", 1)[1].split("};", 1)[0]
    index = [int(v) for v in re.findall(r"\d+", index_text)]
    assert sorted(index) == list(range(len(entries)))
    names = [entries[i].pattern.name.encode() for i in index]
    assert all(a < b for a, b in zip(names, names[1:]))


def test_registry_name_keys(generated, all_entries):
    """The fixed-width keys the lookup compares and the samplers it calls: one of each per
    index position, in index order; a key is the zero-padded name as big-endian words, so the
    order of the keys is the byte-wise order of the names."""
    out, _ = generated
    text = (out / "src/catalogue/registry_data.cpp").read_text(encoding="ascii")
    index_text = text.split("registry_name_index[] = {", 1)[1].split("};", 1)[0]
    index = [int(v) for v in re.findall(r"\d+", index_text)]
    keys_text = text.split("registry_name_keys[] = {", 1)[1].split("};", 1)[0]
    keys = [
        tuple(int(w, 16) for w in m)
        for m in re.findall(
            r"    \{\{0x([0-9a-f]{16})u, 0x([0-9a-f]{16})u, 0x([0-9a-f]{16})u, 0x([0-9a-f]{16})u\}\},\n", keys_text
        )
    ]
    entries = all_entries
    names = [e.pattern.name for e in entries]
    assert len(keys) == len(index) == len(names)
    decoded = [b"".join(w.to_bytes(8, "big") for w in k).rstrip(b"\0").decode() for k in keys]
    assert decoded == [names[i] for i in index]
    assert all(a < b for a, b in zip(keys, keys[1:]))
    samplers_text = text.split("registry_name_samplers[] = {", 1)[1].split("};", 1)[0]
    samplers = re.findall(r"    &kinetra_(\w+)::sample_(\w+),\n", samplers_text)
    assert samplers == [(entries[i].pack, names[i]) for i in index]


def test_pack_units_and_registry_split(generated, all_entries):
    """Only a pack's own unit includes its header, and it takes the address of every sampler
    of the pack (which compiles them and their tables into the library); the registry
    declares the samplers instead of including any pack, and all of its data is constinit."""
    out, _ = generated
    entries = all_entries
    for pack in registry.PACKS:
        text = (out / ("src/catalogue/pack_%s.cpp" % pack)).read_text(encoding="ascii")
        assert re.findall(r'#include "(.*)"', text) == ["kinetra/packs/%s.hpp" % pack]
        assert re.findall(r"    &kinetra_(\w+)::sample_(\w+),\n", text) == [
            (pack, e.pattern.name) for e in entries if e.pack == pack
        ]
    text = (out / "src/catalogue/registry_data.cpp").read_text(encoding="ascii")
    assert re.findall(r'#include "(.*)"', text) == ["registry.hpp"]
    declared = re.findall(r"namespace kinetra_(\w+) \{\n((?:KINETRA_API .*\n)*)\}", text)
    assert [
        (pack, name)
        for pack, block in declared
        for name in re.findall(r"KINETRA_API kinetra::Offset3 sample_(\w+)\(int pip\) noexcept;", block)
    ] == [(e.pack, e.pattern.name) for e in entries]
    definitions = re.findall(r"^(\S.*?) = ", text, re.M)
    assert len(definitions) == 5
    assert all(d.startswith("constinit const ") for d in definitions)


@pytest.mark.parametrize(
    "a, b",
    [
        ("lfo_breathe", "lfo_breathes"),
        ("lfo_breath", "lfo_breathe"),
        ("beat_a", "beat_b"),
        ("beat_techno_polymeter_bounce", "beat_techno_polymeter_box"),
        ("a" * 31 + "b", "a" * 32),
        ("a" * 8, "a" * 32),
        ("z", "a" * 32),
        ("wave_9", "wave_10"),
        ("abc_defgh_7", "abc_defgh_7"),
    ],
)
def test_name_keys_order_like_bytes(a, b):
    ka, kb = emit.name_key(a), emit.name_key(b)
    assert (ka < kb) == (a.encode() < b.encode())
    assert (ka == kb) == (a == b)
    assert (ka > kb) == (a.encode() > b.encode())


@pytest.mark.parametrize("name", ["a" * 33, "lfo\0breathe"])
def test_name_keys_refuse_names_they_cannot_order(name):
    with pytest.raises(emit.GenerationError):
        emit.name_key(name)


def test_output_is_deterministic(generated, tmp_path):
    out, _ = generated
    emit.generate(tmp_path)
    files = sorted(p.relative_to(out) for p in out.rglob("*") if p.is_file())
    assert files == sorted(p.relative_to(tmp_path) for p in tmp_path.rglob("*") if p.is_file())
    # pack headers and units, the registry, the procedural records, lookup and binding list
    assert len(files) == 2 * len(registry.PACKS) + 4
    for rel in files:
        assert (out / rel).read_bytes() == (tmp_path / rel).read_bytes(), rel


def test_unchanged_files_keep_their_mtime(tmp_path):
    order = (("initial", "ease"),)
    first = emit.generate(tmp_path, order)
    assert first.written == first.files
    files = sorted(p for p in tmp_path.rglob("*") if p.is_file())
    for f in files:
        os.utime(f, ns=(10**18, 10**18))
    assert emit.generate(tmp_path, order).written == 0
    assert all(f.stat().st_mtime_ns == 10**18 for f in files)
    # a changed pack is rewritten (its header and unit, and the registry that lists its new
    # members), the others stay untouched
    assert emit.generate(tmp_path, order + (("initial", "akwf"),)).written == 3
    for rel in ("include/kinetra/packs/atlas.hpp", "src/catalogue/pack_atlas.cpp"):
        assert (tmp_path / rel).stat().st_mtime_ns == 10**18
