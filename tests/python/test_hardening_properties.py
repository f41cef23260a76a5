"""Properties of the user classes and the pattern file importer, over generated inputs."""

import math
import os
import struct
import tempfile

import kinetra
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from kinetra_common import patternfile

SETTINGS = settings(max_examples=150, deadline=None, database=None, suppress_health_check=[HealthCheck.too_slow])
BUILTIN = {row["name"] for row in kinetra.catalogue()}

identifiers = st.from_regex(r"[a-z][a-z0-9_]{0,127}", fullmatch=True)
values = st.floats(min_value=-1.0, max_value=1.0, allow_nan=False)
rows = st.lists(st.tuples(values, values, values), min_size=1, max_size=40)
bad_values = st.one_of(
    st.just(math.nan),
    st.just(math.inf),
    st.just(-math.inf),
    st.floats(min_value=1.0, exclude_min=True, allow_infinity=False),
    st.floats(max_value=-1.0, exclude_max=True, allow_infinity=False),
)
bad_names = st.one_of(
    st.just(""),
    st.text(min_size=129, max_size=140, alphabet="abc"),
    st.from_regex(r"[A-Z0-9_\-. ][a-z]{0,5}", fullmatch=True),
    st.from_regex(r"[a-z]{1,4}[A-Z\-. \u00e9][a-z]{0,3}", fullmatch=True),
)


def bits(v):
    return struct.pack("<d", v)


def expected_dimensions(samples):
    if any(z != 0.0 for _, _, z in samples):
        return 3
    return 2 if any(y != 0.0 for _, y, _ in samples) else 1


@SETTINGS
@given(identifiers, st.text(max_size=20), rows, st.integers(-(2**31), 2**31 - 1))
def test_valid_patterns_construct_and_round_trip_bit_for_bit(name, description, samples, pip):
    p = kinetra.SampledPattern(name, description, samples)
    assert (p.name, p.description, p.period_pips) == (name, description, len(samples))
    for i, row in enumerate(samples):
        assert list(map(bits, p.sample(i).as_tuple())) == list(map(bits, row))
    wrapped = samples[pip % len(samples)]
    assert list(map(bits, p.sample(pip).as_tuple())) == list(map(bits, wrapped))


@SETTINGS
@given(bad_names, rows)
def test_a_bad_name_gives_its_message(name, samples):
    try:
        kinetra.SampledPattern(name, "", samples)
    except ValueError as e:
        assert str(e) == "Invalid pattern name"
    else:
        raise AssertionError("accepted " + repr(name))


@SETTINGS
@given(identifiers, rows, st.data())
def test_a_bad_value_gives_its_message(name, samples, data):
    at = data.draw(st.integers(0, len(samples) - 1))
    axis = data.draw(st.integers(0, 2))
    row = list(samples[at])
    row[axis] = data.draw(bad_values)
    samples[at] = tuple(row)
    try:
        kinetra.SampledPattern(name, "", samples)
    except ValueError as e:
        assert str(e) == "Pattern samples must be finite and within [-1, 1]"
    else:
        raise AssertionError("accepted")


@SETTINGS
@given(
    st.lists(st.tuples(identifiers.filter(lambda n: n not in BUILTIN), rows), max_size=6, unique_by=lambda t: t[0]),
    st.integers(-(2**31), 2**31 - 1),
)
def test_a_library_answers_its_own_patterns_first(specs, pip):
    patterns = [kinetra.SampledPattern(n, "d", r) for n, r in specs]
    library = kinetra.PatternLibrary(patterns)
    catalogue = library.catalogue()
    assert [row["name"] for row in catalogue[len(catalogue) - len(specs) :]] == [n for n, _ in specs]
    for (name, samples), row in zip(specs, catalogue[len(catalogue) - len(specs) :]):
        assert row["dimensions"] == expected_dimensions(samples)
        assert library.sample(name, pip).as_tuple() == kinetra.SampledPattern(name, "", samples).sample(pip).as_tuple()
    assert library.sample("bounce", pip).as_tuple() == kinetra.bounce(pip).as_tuple()


@SETTINGS
@given(
    identifiers,
    st.lists(identifiers, min_size=1, max_size=4, unique=True),
    st.data(),
    st.floats(min_value=1e-300, max_value=1e300),
    st.integers(-(2**31), 2**31 - 100),
)
def test_valid_recordings_round_trip_bit_for_bit(name, axes, data, bpm, start):
    samples = data.draw(st.lists(st.lists(values, min_size=len(axes), max_size=len(axes)), min_size=1, max_size=20))
    r = kinetra.SampledRecording(name, axes, samples, bpm, -12.5, start)
    assert (r.name, r.dimensions, r.sample_count, r.start_pip) == (name, axes, len(samples), start)
    for i, row in enumerate(samples):
        assert list(map(bits, r.sample(start + i))) == list(map(bits, row))


@SETTINGS
@given(st.lists(identifiers, min_size=1, max_size=4, unique=True), st.data())
def test_each_broken_recording_rule_gives_its_message(axes, data):
    samples = [[0.0] * len(axes) for _ in range(3)]
    rule = data.draw(st.sampled_from(["name", "bpm", "empty", "duplicate", "ragged", "value"]))
    args = dict(name="walk", dimensions=list(axes), samples=samples, bpm=120)
    if rule == "name":
        args["name"] = data.draw(bad_names)
        message = "Invalid identifier"
    elif rule == "bpm":
        args["bpm"] = data.draw(st.sampled_from([0, -1.0, math.nan, math.inf, 1e-307]))
        message = "A finite positive BPM and beat origin are required"
    elif rule == "empty":
        args["samples"] = []
        message = "Empty recording or recording resource limit exceeded"
    elif rule == "duplicate":
        args["dimensions"] = list(axes) + [axes[0]]
        args["samples"] = [[0.0] * (len(axes) + 1)]
        message = "Duplicate axis"
    elif rule == "ragged":
        samples[1] = samples[1] + [0.0]
        message = "Ragged recording"
    else:
        samples[2][0] = data.draw(bad_values)
        message = "Invalid sample"
    try:
        kinetra.SampledRecording(**args)
    except ValueError as e:
        assert str(e) == message
    else:
        raise AssertionError("accepted")


@SETTINGS
@given(rows, st.booleans(), st.sampled_from(["\n", "\r\n"]))
def test_the_pattern_file_reader_reads_back_what_it_writes(samples, header, newline):
    lines = (["x,y,z"] if header else []) + [",".join(repr(v) for v in row) for row in samples]
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "walk.csv")
        with open(path, "w", encoding="utf-8", newline="") as fh:
            fh.write(newline.join(lines) + newline)
        pattern = patternfile.load_pattern(path)
    assert pattern.period_pips == len(samples)
    for i, row in enumerate(samples):
        assert list(map(bits, pattern.sample(i).as_tuple())) == list(map(bits, row))
