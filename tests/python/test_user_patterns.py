import math

import kinetra
import pytest
from kinetra import PatternLibrary, SampledPattern

BAD_VALUE = "Pattern samples must be finite and within [-1, 1]"


def pattern(name="hop", description="up and down", samples=((0.0, 0.5, 0.0), (0.0, -0.5, 0.0))):
    return SampledPattern(name, description, samples)


def test_single_row_pattern():
    p = SampledPattern(name="dot", description="", samples=[[0.0, 0.5, 0.0]])
    assert (p.name, p.description, p.period_pips) == ("dot", "", 1)
    assert p.sample(pip_count=12345).as_tuple() == (0.0, 0.5, 0.0)


@pytest.mark.parametrize(
    "samples",
    [
        [(1, -1, 0), [0.5, 0, 0]],
        ((1.0, -1.0, 0.0), (0.5, 0.0, 0.0)),
        (row for row in [(1, -1, 0), (0.5, 0, 0)]),
        map(tuple, [[1, -1, 0], [0.5, 0, 0]]),
        zip([1, 0.5], [-1, 0], [0, 0]),
        [(v for v in (1, -1, 0)), {"x": 0.5, "y": 0, "z": 0}.values()],
    ],
    ids=["lists", "tuples", "generator", "map", "zip", "inner-iterables"],
)
def test_rows_accept_any_collection_of_three_numbers(samples):
    p = pattern(samples=samples)
    assert p.sample(0).as_tuple() == (1.0, -1.0, 0.0)
    assert p.period_pips == 2


@pytest.mark.parametrize(
    "samples",
    ["abc", [(0.0, 0.0)], [(0.0, 0.0, 0.0, 0.0)], [("0", 0.0, 0.0)], [0.0, 0.0, 0.0], None],
)
def test_unconvertible_samples_raise_type_error(samples):
    with pytest.raises(TypeError):
        pattern(samples=samples)


@pytest.mark.parametrize(
    "args, message",
    [
        (("Hop", "", [(0, 0, 0)]), "Invalid pattern name"),
        (("hop", "", []), "A pattern requires 1..65535 samples (one per pip)"),
        (("hop", "", [(0, 1.5, 0)]), BAD_VALUE),
        (("hop", "", [(0, 0, math.nan)]), BAD_VALUE),
        (("", "", []), "Invalid pattern name"),
    ],
)
def test_validation_failures_raise_value_error(args, message):
    with pytest.raises(ValueError) as info:
        SampledPattern(*args)
    assert str(info.value) == message


def test_pip_count_is_not_converted():
    p = pattern()
    for call in (lambda: p.sample(2.0), lambda: p.sample(pip=2), lambda: p.sample(2**31)):
        with pytest.raises(TypeError):
            call()
    assert p.sample(True).as_tuple() == (0.0, -0.5, 0.0)
    assert p.sample(-(2**31)).as_tuple() == (0.0, 0.5, 0.0)


def test_pattern_is_read_only():
    p = pattern()
    for attribute in ("name", "description", "period_pips", "extra"):
        with pytest.raises(AttributeError):
            setattr(p, attribute, "x")
    assert not hasattr(p, "__dict__")
    assert not hasattr(p, "dimensions") and not hasattr(p, "samples")


def test_description_bytes_decode_strictly_on_read():
    p = SampledPattern(b"hop", bytearray("caf\u00e9".encode()), [(0, 0, 0)])
    assert (p.name, p.description) == ("hop", "caf\u00e9")
    raw = SampledPattern("hop", b"\xff\xfe", [(0, 0, 0)])
    with pytest.raises(UnicodeDecodeError):
        raw.description
    with pytest.raises(UnicodeDecodeError):
        PatternLibrary([raw]).catalogue()


def test_library_copies_its_patterns():
    p = pattern()
    first = PatternLibrary([p])
    second = PatternLibrary((p,))
    assert p.sample(1).as_tuple() == (0.0, -0.5, 0.0)
    for library in (first, second):
        assert library.sample("hop", 3).as_tuple() == p.sample(3).as_tuple()
    with pytest.raises(ValueError) as info:
        PatternLibrary([p, p])
    assert str(info.value) == "Duplicate pattern name: hop"


@pytest.mark.parametrize("patterns", [["hop"], [None], "hop", None])
def test_library_takes_only_patterns(patterns):
    with pytest.raises(TypeError):
        PatternLibrary(patterns)


def test_empty_library_answers_like_the_module():
    library = PatternLibrary(patterns=[])
    assert library.catalogue() == kinetra.catalogue()
    for name, pip in (("bounce", 130), ("lfo_breathe", -1), ("circle", 16)):
        assert library.sample(name, pip).as_tuple() == kinetra.sample(name, pip).as_tuple()
    assert library.sample(name=b"sway", pip_count=5).as_tuple() == kinetra.sway(5).as_tuple()
    with pytest.raises(ValueError) as info:
        library.sample("nope", 0)
    assert str(info.value) == "Unknown dance rudiment: nope"
    with pytest.raises(TypeError):
        library.sample("bounce", 1.0)


def test_catalogue_lists_own_rows_last():
    deep = SampledPattern("deep", "goes in", [(0, 0, 0), (0, 0.25, 0), (0, 0, -0.5)])
    rows = PatternLibrary([pattern(), deep]).catalogue()
    assert rows[: len(rows) - 2] == kinetra.catalogue()
    assert rows[-2:] == [
        {"name": "hop", "description": "up and down", "period_pips": 2, "dimensions": 2},
        {"name": "deep", "description": "goes in", "period_pips": 3, "dimensions": 3},
    ]


def test_builtin_copy_is_accepted_but_not_listed_twice():
    row = next(r for r in kinetra.catalogue() if r["name"] == "lfo_breathe")
    rows = [kinetra.sample("lfo_breathe", i).as_tuple() for i in range(row["period_pips"])]
    copy = SampledPattern("lfo_breathe", row["description"], rows)
    names = [r["name"] for r in PatternLibrary([copy]).catalogue()]
    assert names.count("lfo_breathe") == 1
    changed = SampledPattern("lfo_breathe", row["description"] + " ", rows)
    with pytest.raises(ValueError) as info:
        PatternLibrary([changed])
    assert str(info.value) == "Cannot override default pattern: lfo_breathe"


def test_library_is_read_only():
    library = PatternLibrary([])
    with pytest.raises(AttributeError):
        library.extra = 1
