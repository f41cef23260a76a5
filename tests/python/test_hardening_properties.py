"""Properties of the user classes and the pattern file importer, over generated inputs."""

import json
import math
import os
import re
import socket
import struct
import tempfile
import time
import tracemalloc
from unittest import mock

import kinetra
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from kinetra_common import patternfile
from kinetra_live import showfile
from kinetra_live.model import ShowError
from kinetra_live.outputs import dmx, osc
from test_live import make_show

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


# ---- hostile files: any bytes give a result or one clear error, quickly and in bounded memory ---

CONTROL = re.compile(r"[\x00-\x1f\x7f-\x9f]")
MAX_SECONDS = 2.0
MAX_BYTES = 100 * 1024 * 1024
GOOD_SHOW = make_show()
GOOD_CSV = "x,y,z\n0,0.5,-1\n1,0,0\n"
SHOW_KEYS = sorted(
    showfile.TOP_KEYS
    | showfile.SHOW_KEYS
    | showfile.TEMPO_KEYS
    | showfile.FIXTURE_KEYS
    | {
        "type",
        "destination",
        "host",
        "port",
        "universe",
        "address",
        "channels",
        "set",
        "pan",
        "multicast",
        "interface",
        "source_name",
        "priority",
        "keepalive_ms",
        "fixtures",
        "spread_pips",
        "spread_beats",
        "footprint",
        "blackout",
        "remap",
    }
)


def no_lookups(host, *args, **kwargs):
    """Name lookups stay on this machine: only "localhost" resolves."""
    if host == "localhost":
        return [(socket.AF_INET, socket.SOCK_DGRAM, 17, "", ("127.0.0.1", 0))]
    raise socket.gaierror(socket.EAI_NONAME, "Name or service not known")


def bounded(call, path, error_type):
    """`call(path)` returns, or raises one error of `error_type` whose text is
    "path:line: ..." or "path: ...", on one line with no control characters; within
    MAX_SECONDS and MAX_BYTES."""
    tracemalloc.start()
    start = time.monotonic()
    try:
        call(path)
    except error_type as exc:
        text = str(exc)
        assert re.match(re.escape(path) + r"(:[0-9]+)?: [^ ]", text), text
        assert not CONTROL.search(text), text
    finally:
        elapsed = time.monotonic() - start
        peak = tracemalloc.get_traced_memory()[1]
        tracemalloc.stop()
    assert elapsed < MAX_SECONDS and peak < MAX_BYTES, (elapsed, peak)


def load_show_bytes(data: bytes):
    with tempfile.TemporaryDirectory() as folder, mock.patch.object(showfile.socket, "getaddrinfo", no_lookups):
        path = os.path.join(folder, "show.toml")
        with open(path, "wb") as fh:
            fh.write(data)
        bounded(showfile.load, path, ShowError)


def toml_string(text):
    return json.dumps(text, ensure_ascii=False)


scalars = st.one_of(
    st.integers().map(str),
    st.integers(min_value=2**63 - 2, max_value=2**70).map(str),
    st.sampled_from(
        [
            "1" + "0" * 400,
            "-1" + "0" * 400,
            "nan",
            "inf",
            "-inf",
            "1e400",
            "0x7fffffffffffffff",
            "true",
            "false",
            '""',
            '"::1"',
            '"localhost"',
            '"127.0.0.1"',
            '"/kinetra/x"',
            '"circle"',
            "1979-05-27T07:32:00Z",
            "'''\n[[fixtures]]\n'''",
        ]
    ),
    st.floats().map(repr),
    st.text(max_size=12).map(toml_string),
    st.integers(30, 3000).flatmap(lambda n: st.sampled_from(["[" * n + "]" * n, "{a=" * n + "1" + "}" * n])),
)
toml_keys = st.one_of(
    st.sampled_from(SHOW_KEYS),
    st.from_regex(r"[0-9]{1,4}", fullmatch=True),
    st.sampled_from(['"\u00b2"', '"\u0661"', '"\\u001b[2J"']),
    st.text(max_size=6).map(toml_string),
)
toml_values = st.recursive(
    scalars,
    lambda inner: st.one_of(
        st.lists(inner, max_size=4).map(lambda v: "[" + ", ".join(v) + "]"),
        st.lists(st.tuples(toml_keys, inner), max_size=3, unique_by=lambda kv: kv[0]).map(
            lambda kvs: "{" + ", ".join(f"{k} = {v}" for k, v in kvs) + "}"
        ),
    ),
    max_leaves=10,
)


numbers = st.one_of(
    st.integers().map(str),
    st.floats().map(repr),
    st.sampled_from(
        [
            "1" + "0" * 400,
            "-1" + "0" * 400,
            "1" * 5000,
            str(2**63),
            str(-(2**63) - 1),
            "1e400",
            "nan",
            "-inf",
            "0",
            "-0.0",
        ]
    ),
)
channel_tables = st.lists(
    st.tuples(
        st.sampled_from(["1", "512", "513", "0", '"01"', '"\u00b2"', '"\u0661"', '"\u00b2"', '"1 "', "pan"]), numbers
    ),
    max_size=3,
    unique_by=lambda kv: kv[0],
).map(lambda kvs: "{" + ", ".join(f"{k} = {v}" for k, v in kvs) + "}")
FIXTURE_EXTRAS = sorted(showfile.FIXTURE_KEYS | dmx.FIXTURE_KEYS | osc.FIXTURE_KEYS)
# fixture keys with the values most likely to find a fault in them
TYPED_KEYS = [
    ("set", channel_tables),
    ("blackout", channel_tables),
    ("pan_range", numbers),
    ("tilt_range", numbers),
    ("offset_beats", numbers),
    ("scale", numbers),
    ("pan", st.lists(numbers, min_size=2, max_size=2).map(lambda v: "[" + ", ".join(v) + "]")),
]


@st.composite
def changed_shows(draw):
    """The good show with a few lines changed: a value replaced (by any value or by a number),
    a key added to a fixture, a key or table added anywhere, a line dropped, or text put in."""
    lines = GOOD_SHOW.split("\n")
    for _ in range(draw(st.sampled_from([1, 1, 1, 2, 3]))):
        i = draw(st.integers(0, len(lines) - 1))
        kind = draw(st.sampled_from(["value", "number", "fixture", "fixture", "key", "table", "drop", "text"]))
        if kind == "number":
            i = draw(st.sampled_from([k for k, line in enumerate(lines) if re.fullmatch(r"\w+ = [0-9]+", line)]))
        if kind in ("value", "number") and " = " in lines[i]:
            lines[i] = lines[i].split(" = ")[0] + " = " + draw(toml_values if kind == "value" else numbers)
        elif kind == "fixture":
            at = draw(st.sampled_from([k for k, line in enumerate(lines) if line == "[[fixtures]]"]))
            end = next((k for k in range(at + 1, len(lines)) if " = " not in lines[k]), len(lines))
            present = {line.split(" = ")[0] for line in lines[at + 1 : end]}
            if draw(st.booleans()):
                key, strategy = draw(st.sampled_from([kv for kv in TYPED_KEYS if kv[0] not in present]))
            else:
                key = draw(st.sampled_from([k for k in FIXTURE_EXTRAS if k not in present] or ["x"]))
                strategy = toml_values
            lines.insert(at + 1, f"{key} = {draw(strategy)}")
        elif kind == "key":
            lines.insert(i, f"{draw(toml_keys)} = {draw(toml_values)}")
        elif kind == "table":
            lines.insert(
                i,
                draw(st.sampled_from(["[", "[["]))
                + draw(st.sampled_from(["fixtures", "outputs.x", "groups.g", "patterns", "tempo", "show", "cues"]))
                + draw(st.sampled_from(["]", "]]", ""])),
            )
        elif kind == "drop":
            del lines[i]
        else:
            at = draw(st.integers(0, len(lines[i])))
            lines[i] = lines[i][:at] + draw(st.text(max_size=8)) + lines[i][at:]
    return "\n".join(lines).encode("utf-8", "surrogatepass")


@SETTINGS
@given(st.one_of(st.binary(max_size=800), st.binary(max_size=40).map(lambda b: GOOD_SHOW.encode()[:300] + b)))
def test_any_bytes_as_a_show_file_give_a_show_or_one_clear_error(data):
    load_show_bytes(data)


@settings(max_examples=300, deadline=None, database=None, suppress_health_check=[HealthCheck.too_slow])
@given(changed_shows())
def test_any_changed_show_gives_a_show_or_one_clear_error(data):
    load_show_bytes(data)


# Where a number goes in the good show: (line to find, the line with the number in it)
NUMBER_SLOTS = [
    ("bpm = 120", "bpm = {}"),
    ("bpm = 120", "bpm = 120\nlatency_ms = {}"),
    ("bpm = 120", "bpm = 120\nbpm_range = [{}, 200]"),
    ("spread_pips = 16", "spread_beats = {}"),
    ("port = 9000", "port = {}"),
] + [
    ("address = 1\n", "address = 1\n" + line + "\n")
    for line in (
        "pan_range = {}",
        "tilt_range = {}",
        "offset_beats = {}",
        "offset_pips = {}",
        "scale = {}",
        "scale = [1, {}, 1]",
        "pan = [0, {}]",
        "z = [{}, 1]",
        "footprint = {}",
        "set = {{ 1 = {} }}",
    )
]


@SETTINGS
@given(st.sampled_from(NUMBER_SLOTS), numbers)
def test_any_number_in_any_number_key_gives_a_show_or_one_clear_error(slot, number):
    find, line = slot
    load_show_bytes(GOOD_SHOW.replace(find, line.format(number), 1).encode())


@SETTINGS
@given(
    st.one_of(
        st.text(
            st.one_of(st.characters(categories=("Nd", "No", "Nl")), st.sampled_from("0123456789 +-_")),
            min_size=1,
            max_size=4,
        ),
        st.integers(1, 6000).map(lambda n: "1" * n),
    ),
    numbers,
)
def test_any_channel_key_gives_a_show_or_one_clear_error(key, number):
    load_show_bytes(GOOD_SHOW.replace("z = 5 }", f"z = 5 }}\nset = {{ {toml_string(key)} = {number} }}", 1).encode())


def load_csv_bytes(data: bytes):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "walk.csv")
        with open(path, "wb") as fh:
            fh.write(data)
        bounded(patternfile.load_pattern, path, patternfile.PatternFileError)


csv_fields = st.one_of(
    st.sampled_from(
        [
            "0",
            "1",
            "-1",
            "0.5",
            "+.5",
            "1e-3",
            "nan",
            "inf",
            "1e999",
            "2",
            "x",
            "",
            " 1 ",
            '"0"',
            '"',
            '"a,b"',
            "0_5",
            "\u0661",
            "\x00",
        ]
    ),
    st.floats().map(repr),
    st.text(max_size=5),
)
csv_texts = st.tuples(
    st.lists(st.lists(csv_fields, min_size=0, max_size=4).map(",".join), max_size=12),
    st.sampled_from(["\n", "\r\n", "\r"]),
    st.booleans(),
).map(lambda t: (("\ufeff" if t[2] else "") + t[1].join(t[0])).encode("utf-8", "surrogatepass"))


@SETTINGS
@given(st.one_of(st.binary(max_size=600), csv_texts, st.binary(max_size=30).map(lambda b: GOOD_CSV.encode() + b)))
def test_any_bytes_as_a_pattern_file_give_a_pattern_or_one_clear_error(data):
    load_csv_bytes(data)


# ---- fixture profiles ---------------------------------------------------------------------------


def load_profile_bytes(data: bytes, mode: str):
    from kinetra_live import profiles

    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "head.json")
        with open(path, "wb") as fh:
            fh.write(data)
        bounded(lambda p: profiles.read(p, mode), path, profiles.ProfileError)


def _json_values(leaves):
    return st.recursive(
        leaves,
        lambda inner: st.one_of(st.lists(inner, max_size=4), st.dictionaries(st.text(max_size=6), inner, max_size=4)),
        max_leaves=12,
    )


@st.composite
def changed_profiles(draw):
    """The generic pan/tilt definition with one value somewhere in it replaced."""
    import json

    from test_profiles import OFL

    doc = json.loads((OFL / "fixtures" / "generic" / "pan-tilt.json").read_text(encoding="utf-8"))
    leaves = st.one_of(st.none(), st.booleans(), st.integers(-(2**70), 2**70), st.floats(), st.text(max_size=12))
    node, path = doc, []
    while isinstance(node, (dict, list)) and node and draw(st.booleans()):
        key = draw(st.sampled_from(sorted(node) if isinstance(node, dict) else list(range(len(node)))))
        path.append(key)
        node = node[key]
    if not path:
        return json.dumps(draw(_json_values(leaves))).encode()
    parent = doc
    for key in path[:-1]:
        parent = parent[key]
    parent[path[-1]] = draw(_json_values(leaves))
    return json.dumps(doc).encode()


@SETTINGS
@given(st.one_of(st.binary(max_size=400), changed_profiles()), st.sampled_from(["8 bit", "16 bit", "24 bit"]))
def test_any_profile_file_gives_a_layout_or_one_clear_error(data, mode):
    load_profile_bytes(data, mode)


def test_a_control_character_in_a_profile_key_is_shown_escaped(tmp_path):
    from kinetra_live import profiles

    path = tmp_path / "head.json"
    path.write_text(
        '{"$schema": "%s", "availableChannels": {"\\u007f\\u001b[2J": null}, '
        '"modes": [{"name": "8 bit", "channels": ["\\u007f\\u001b[2J"]}]}' % profiles.SCHEMA_URL
    )
    with pytest.raises(profiles.ProfileError) as info:
        profiles.read(str(path), "8 bit")
    assert "\\x7f" in str(info.value) and not CONTROL.search(str(info.value))
