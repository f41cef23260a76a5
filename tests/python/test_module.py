"""The module surface: constant, docstring, registration order, Offset3 and argument rules."""

import math
import pathlib
import re

import kinetra
import pytest
from kinetra_preview import model
from patterngen import registry

PROCEDURAL = list(registry.PROCEDURAL_NAMES)
STUBS = pathlib.Path(__file__).resolve().parents[2] / "python" / "kinetra-stubs" / "__init__.pyi"
REGISTRATION_ORDER = [
    "PIPS_PER_BEAT",
    "SampledRecording",
    "Offset3",
    "SampledPattern",
    "PatternLibrary",
    "sample",
    "catalogue",
    *PROCEDURAL,
]


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class IntOnly:
    """Convertible through int() but without __index__."""

    def __int__(self):
        return 3


def test_stubs_and_preview_follow_the_registry_procedural_names():
    declared = re.findall(r"^def (\w+)\(pip: _Int, /\) -> Offset3: \.\.\.$", STUBS.read_text(), re.M)
    assert declared == PROCEDURAL
    groups = {}
    for group, name, *_ in registry.PROCEDURAL:
        groups[group] = groups.get(group, ()) + (name,)
    assert groups == {"dance": model.DANCE_MOVES, "rudiment": model.DRUM_RUDIMENTS}


def test_module_constant_and_docstring():
    assert kinetra.__doc__ == "Integer-pip rhythmic position functions"
    assert type(kinetra.PIPS_PER_BEAT) is int and kinetra.PIPS_PER_BEAT == 64


def test_registered_names_keep_their_relative_order():
    names = [n for n in vars(kinetra) if n in REGISTRATION_ORDER]
    built = [n for n in REGISTRATION_ORDER if hasattr(kinetra, n)]
    assert names == built
    assert set(PROCEDURAL + ["Offset3", "sample", "catalogue"]) <= set(built)


@pytest.mark.parametrize("name", PROCEDURAL)
def test_procedural_functions_take_one_positional_pip(name):
    move = getattr(kinetra, name)
    assert move(130).as_tuple() == move(130 + 64 * 128).as_tuple()
    with pytest.raises(TypeError):
        move(pip=0)
    with pytest.raises(TypeError):
        move()
    with pytest.raises(TypeError):
        move(0, 1)


@pytest.mark.parametrize(
    "argument, pip",
    [(True, 1), (False, 0), (Index(5), 5), (IntOnly(), 3), (-(2**31), -(2**31)), (2**31 - 1, 2**31 - 1)],
)
def test_integer_arguments_that_are_accepted(argument, pip):
    assert kinetra.bounce(argument).as_tuple() == kinetra.bounce(pip).as_tuple()


@pytest.mark.parametrize("argument", [3.0, 2**31, -(2**31) - 1, Index(2**31), "3", None, 1j])
def test_integer_arguments_that_are_refused(argument):
    with pytest.raises(TypeError):
        kinetra.bounce(argument)


def test_results_match_the_library_values():
    assert kinetra.circle(16).as_tuple() == (1.0, 0.0, 0.0)
    assert kinetra.bounce(-1).as_tuple() == (-0.9375, 0.0, 0.0)
    assert kinetra.bounce(130).as_tuple() == kinetra.bounce(2).as_tuple()
    assert kinetra.flam(7).as_tuple() == (-0.053103299880171206, -0.2822129843092639, 0.0)
    assert math.copysign(1.0, kinetra.step_touch(0).y) == -1.0


def test_offset3_is_a_read_only_result_type():
    o = kinetra.helix(64)
    assert o.as_tuple() == (o.x, o.y, o.z) == (-1.0, 1.2246467991473532e-16, 1.0)
    assert all(type(v) is float for v in o.as_tuple())
    with pytest.raises(TypeError, match="No constructor defined!"):
        kinetra.Offset3()
    for attribute in ("x", "y", "z", "w", "__dict__"):
        with pytest.raises(AttributeError):
            setattr(o, attribute, 0.5)
    assert not hasattr(o, "__dict__")
    assert kinetra.bounce(0) != kinetra.bounce(0)
    assert kinetra.bounce(0).as_tuple() == kinetra.bounce(0).as_tuple()
    public = {n for n in vars(kinetra.Offset3) if not n.startswith("_")}
    assert public == {"x", "y", "z", "as_tuple"}


def test_sample_by_name_and_keyword():
    assert kinetra.sample(name="circle", pip_count=16).as_tuple() == (1.0, 0.0, 0.0)
    assert kinetra.sample("bounce", 130).as_tuple() == kinetra.bounce(130).as_tuple()
    for raw in (b"bounce", bytearray(b"bounce")):
        assert kinetra.sample(raw, 5).as_tuple() == kinetra.sample("bounce", 5).as_tuple()
    assert kinetra.sample("lfo_breathe", 64).as_tuple() == (0.8, 0.0, 0.0)


@pytest.mark.parametrize(
    "call",
    [
        lambda: kinetra.sample("circle", pip=16),
        lambda: kinetra.sample("bounce", 2.0),
        lambda: kinetra.sample(3, 0),
        lambda: kinetra.sample("bounce", 2**31),
    ],
)
def test_sample_refuses_bad_arguments(call):
    with pytest.raises(TypeError):
        call()


@pytest.mark.parametrize("name", ["Bounce", "", "lfo_breath", "lfo_breathe ", "h\u00e9lix"])
def test_sample_unknown_name_raises_value_error(name):
    with pytest.raises(ValueError) as raised:
        kinetra.sample(name, 0)
    assert str(raised.value) == "Unknown dance rudiment: " + name


def test_catalogue_rows():
    rows = kinetra.catalogue()
    assert list(rows[0]) == ["name", "description", "period_pips", "dimensions"]
    assert rows[0] == {"name": "bounce", "description": "One-beat vertical bounce", "period_pips": 64, "dimensions": 1}
    assert [tuple(r.values()) for r in rows[:15]] == [record[1:] for record in registry.PROCEDURAL]
    assert rows[15]["name"] == "lfo_breathe"
    again = kinetra.catalogue()
    assert again == rows and again is not rows and again[0] is not rows[0]
    assert len({r["name"] for r in rows}) == len(rows)
    for row in rows:
        pip = row["period_pips"] + 7
        assert kinetra.sample(row["name"], pip).as_tuple() == kinetra.sample(row["name"], 7).as_tuple()


@pytest.mark.parametrize("cls", ["Offset3", "SampledPattern", "PatternLibrary", "SampledRecording"])
def test_bare_new_is_refused_instead_of_handing_out_an_unbuilt_object(cls):
    cls = getattr(kinetra, cls)
    with pytest.raises(TypeError):
        cls.__new__(cls)


# Raw bytes that are not UTF-8 are shown with backslash escapes; a zero byte does not cut the
# name short.
@pytest.mark.parametrize("raw", [b"\xff", b"bounce\xfe", bytearray(b"\xc3"), b"circle\0tail", "a\0b"])
def test_unknown_name_with_odd_bytes_is_still_a_value_error(raw):
    expected = "Unknown dance rudiment: " + (
        raw if isinstance(raw, str) else bytes(raw).decode("utf-8", "backslashreplace")
    )
    with pytest.raises(ValueError, match="^Unknown dance rudiment: ") as raised:
        kinetra.sample(raw, 0)
    assert str(raised.value) == expected
    with pytest.raises(ValueError) as raised:
        kinetra.PatternLibrary([]).sample(raw, 0)
    assert str(raised.value) == expected
