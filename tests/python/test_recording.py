import math

import kinetra
import pytest
from kinetra import SampledRecording

OUTSIDE = "Pip outside non-looping recording"


def walk(**overrides):
    args = dict(name="walk", dimensions=["x", "y"], samples=[[0.0, 0.5], [1.0, -1.0]], bpm=120)
    args.update(overrides)
    return SampledRecording(**args)


def test_recording_answers_each_pip_of_its_run():
    r = walk()
    assert (r.name, r.sample_count, r.start_pip, r.beat_zero_seconds) == ("walk", 2, 0, 0.0)
    assert r.bpm == 120.0 and type(r.bpm) is float
    assert r.sample(0) == [0.0, 0.5]
    assert r.sample(1) == [1.0, -1.0]
    for pip in (2, -1):
        with pytest.raises(IndexError, match=f"^{OUTSIDE}$"):
            r.sample(pip)


def test_positional_arguments_and_keyword_start():
    r = SampledRecording("walk", ("x", "y"), ((0.0, 0.5), (1.0, -1.0)), 120.0, -12.5, -64)
    assert (r.beat_zero_seconds, r.start_pip) == (-12.5, -64)
    shifted = walk(start_pip=-64)
    assert shifted.sample(-64) == [0.0, 0.5]
    with pytest.raises(IndexError, match=OUTSIDE):
        shifted.sample(0)


@pytest.mark.parametrize(
    "dimensions",
    [
        ("x", "y"),
        (d for d in ("x", "y")),
        dict.fromkeys(["x", "y"]).keys(),
        {"a": "x", "b": "y"}.values(),
        map(str, "xy"),
    ],
    ids=["tuple", "generator", "keys", "values", "map"],
)
def test_dimension_collections(dimensions):
    r = walk(dimensions=dimensions, samples=zip([0.0, 1.0], [0.5, -1.0]))
    assert r.dimensions == ["x", "y"]
    assert r.sample(1) == [1.0, -1.0]


def test_set_and_bytes_names_are_accepted():
    r = SampledRecording(b"walk", {"x"}, [[0.25]], 60)
    assert (r.name, r.dimensions) == ("walk", ["x"])
    rows = ((v for v in row) for row in [[0.25]])
    r = SampledRecording(bytearray(b"walk"), [b"x"], rows, 60)
    assert r.sample(0) == [0.25]


@pytest.mark.parametrize(
    "overrides",
    [
        dict(dimensions="xy"),
        dict(dimensions=b"xy"),
        dict(bpm="120"),
        dict(start_pip=1.0),
        dict(start_pip=2**31),
        dict(samples=[["0.0", 0.5]]),
        dict(samples=[[0.0, None]]),
        dict(name=None),
    ],
)
def test_unconvertible_arguments_raise_type_error(overrides):
    with pytest.raises(TypeError):
        walk(**overrides)


@pytest.mark.parametrize(
    "overrides, message",
    [
        (dict(name="Walk"), "Invalid identifier"),
        (dict(dimensions=["x", "X"]), "Invalid identifier"),
        (dict(bpm=0), "A finite positive BPM and beat origin are required"),
        (dict(bpm=1e-307), "A finite positive BPM and beat origin are required"),
        (dict(beat_zero_seconds=math.inf), "A finite positive BPM and beat origin are required"),
        (dict(samples=[]), "Empty recording or recording resource limit exceeded"),
        (dict(start_pip=2**31 - 2), "Empty recording or recording resource limit exceeded"),
        (dict(dimensions=["x", "x"]), "Duplicate axis"),
        (dict(samples=[[0.0, 0.5], [1.0]]), "Ragged recording"),
        (dict(samples=[[0.0, math.nan], [1.0, 0.0]]), "Invalid sample"),
    ],
)
def test_validation_failures_raise_value_error(overrides, message):
    with pytest.raises(ValueError) as info:
        walk(**overrides)
    assert str(info.value) == message


def test_sample_pip_is_not_converted():
    r = walk()
    with pytest.raises(TypeError):
        r.sample(1.0)
    with pytest.raises(TypeError):
        r.sample(2**31)
    assert r.sample(True) == [1.0, -1.0]
    assert r.sample(pip=0) == [0.0, 0.5]


def test_properties_are_read_only_copies():
    r = walk()
    first, second = r.dimensions, r.dimensions
    assert first == second and first is not second
    first.append("z")
    assert r.dimensions == ["x", "y"]
    for attribute in ("name", "dimensions", "sample_count", "bpm", "beat_zero_seconds", "start_pip"):
        with pytest.raises(AttributeError):
            setattr(r, attribute, 0)
    with pytest.raises(AttributeError):
        r.extra = 1
    assert not hasattr(r, "__dict__")


def test_negative_zero_survives_the_round_trip():
    value = walk(samples=[[-0.0, 0.0]]).sample(0)
    assert [math.copysign(1.0, v) for v in value] == [-1.0, 1.0]


def test_class_is_registered_first():
    names = [n for n in vars(kinetra) if not n.startswith("__")]
    assert names[:3] == ["PIPS_PER_BEAT", "SampledRecording", "Offset3"]
