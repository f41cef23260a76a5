"""The companions under hostile input: every show file or pattern file a hostile user can
write gets one clear error (for a show: file:line: key: reason), never a traceback, a hang or
unbounded memory; text that reaches a terminal or the wire is checked first; Ctrl-C while
loading or building ends quietly."""

import os
import re
import signal
import subprocess
import sys
import time

import pytest
from kinetra_common import patternfile
from kinetra_live import cli, showfile, tomlpos
from test_live import HEAD_FIXTURE, make_show, write

CONTROL = re.compile(r"[\x00-\x1f\x7f-\x9f]")
BIG = "1" + "0" * 400


def check(tmp_path, capsys, text=None, name="show.toml", path=None):
    """--check on the text (or the file at `path`): (exit status, stdout, stderr, path)."""
    path = path or write(tmp_path, text, name)
    status = cli.main([path, "--check"])
    out, err = capsys.readouterr()
    return status, out, err, path


def assert_one_error(err, path, line, key, message):
    where = f"{path}:{line}" if line else path
    assert err.startswith(f"kinetra-live: error: {where}: " + (f"{key}: " if key else "")), err
    assert message in err and err.count("\n") == 1, err
    assert not CONTROL.search(err[:-1]), err


HOSTILE = [
    # (id, change to the good show, line, key, message)
    (
        "superscript-channel",
        lambda t: t.replace("z = 5 }", 'z = 5 }\nset = { "\u00b2" = 1 }', 1),
        28,
        "fixtures[0].set.\u00b2",
        "keys are channel numbers",
    ),
    (
        "arabic-digit-channel",
        lambda t: t.replace("z = 5 }", 'z = 5 }\nblackout = { "\u0661" = 0 }', 1),
        28,
        "fixtures[0].blackout.\u0661",
        "keys are channel numbers",
    ),
    ("huge-bpm", lambda t: t.replace("bpm = 120", f"bpm = {BIG}"), 5, "tempo.bpm", "64-bit"),
    (
        "huge-negative-latency",
        lambda t: t.replace("bpm = 120", f"bpm = 120\nlatency_ms = -{BIG}"),
        6,
        "tempo.latency_ms",
        "64-bit",
    ),
    ("2**63-port", lambda t: t.replace("port = 9000", f"port = {2**63}"), 15, "outputs.visual.port", "64-bit"),
    (
        "huge-universe",
        lambda t: t.replace("universe = 1", f"universe = {BIG}", 1),
        25,
        "fixtures[0].universe",
        "64-bit",
    ),
    ("huge-address", lambda t: t.replace("address = 9", f"address = {BIG}"), 35, "fixtures[1].address", "64-bit"),
    ("huge-channel", lambda t: t.replace("pan = 1,", f"pan = {BIG},", 1), 27, "fixtures[0].channels.pan", "64-bit"),
    ("huge-fps", lambda t: t.replace('name = "test"', f'name = "test"\nfps = {BIG}'), 3, "show.fps", "64-bit"),
    (
        "huge-offset",
        lambda t: t.replace("address = 9", f"address = 9\noffset_pips = {BIG}"),
        36,
        "fixtures[1].offset_pips",
        "64-bit",
    ),
    (
        "huge-spread",
        lambda t: t.replace("spread_pips = 16", f"spread_pips = {BIG}"),
        18,
        "groups.heads.spread_pips",
        "64-bit",
    ),
    (
        "arrays-2000-deep",
        lambda t: t.replace("[tempo]", "[tempo]\nx = " + "[" * 2000 + "]" * 2000),
        None,
        None,
        "nested too deeply",
    ),
    (
        "tables-2000-deep",
        lambda t: t.replace("[tempo]", "[tempo]\nx = " + "{a=" * 2000 + "1" + "}" * 2000),
        None,
        None,
        "nested too deeply",
    ),
    (
        "arrays-100-deep",
        lambda t: t.replace("bpm = 120", "bpm = 120\nx = " + "[" * 100 + "]" * 100),
        6,
        "tempo.x" + "[0]" * 31,
        "nested more than 32 deep",
    ),
    (
        "nul-in-host",
        lambda t: t.replace('host = "127.0.0.1"', 'host = "127.0.0.1\\u0000.example.net"'),
        14,
        "outputs.visual.host",
        "control characters",
    ),
    (
        "nul-in-destination",
        lambda t: t.replace('destination = "127.0.0.1"', 'destination = ["127.0.0.1\\u0000"]'),
        9,
        "outputs.stage.destination",
        "control characters",
    ),
    (
        "nul-in-osc-address",
        lambda t: t.replace('"/kinetra/visual"', '"/kinetra\\u0000/visual"'),
        42,
        "fixtures[2].address",
        "must be an OSC address",
    ),
    (
        "escape-in-fixture-name",
        lambda t: t.replace('name = "head1"', 'name = "head\\u001b[2J"'),
        21,
        "fixtures[0].name",
        "control characters",
    ),
    (
        "escape-in-show-name",
        lambda t: t.replace('name = "test"', 'name = "\\u009b2J"'),
        2,
        "show.name",
        "control characters",
    ),
    (
        "escape-in-group-name",
        lambda t: t.replace("[groups.heads]", '[groups."h\\u001b[2J"]'),
        17,
        "groups.h\\x1b[2J",
        "control characters",
    ),
    (
        "escape-in-output-name",
        lambda t: t.replace("[outputs.visual]", '[outputs."v\\u0007"]'),
        12,
        "outputs.v\\x07",
        "control characters",
    ),
    (
        "escape-in-unknown-key",
        lambda t: t.replace("bpm = 120", 'bpm = 120\n"x\\u001b[2J" = 1'),
        6,
        "tempo.x\\x1b[2J",
        "unknown key",
    ),
    (
        "escape-in-unknown-output",
        lambda t: t.replace('output = "stage"', 'output = "s\\u001b[2J"', 1),
        22,
        "fixtures[0].output",
        "no output named 's\\x1b[2J'",
    ),
    (
        "ipv6-destination",
        lambda t: t.replace('destination = "127.0.0.1"', 'destination = "::1"'),
        9,
        "outputs.stage.destination",
        "IPv6 is not supported",
    ),
    (
        "ipv6-host",
        lambda t: t.replace('host = "127.0.0.1"', 'host = "fe80::1%lo"'),
        14,
        "outputs.visual.host",
        "IPv6 is not supported",
    ),
    (
        "5000-digit-integer",
        lambda t: t.replace("bpm = 120", "bpm = " + "1" * 5000),
        5,
        None,
        "not valid TOML: integer out of the 64-bit range",
    ),
]


@pytest.mark.parametrize("change,line,key,message", [h[1:] for h in HOSTILE], ids=[h[0] for h in HOSTILE])
def test_hostile_values_get_one_clear_error(tmp_path, capsys, change, line, key, message):
    status, out, err, path = check(tmp_path, capsys, change(make_show()))
    assert status == 1 and out == ""
    assert_one_error(err, path, line, key, message)


CUE = '\n[[cues]]\nname = "c"\nset = {{ heads = {{ speed = "{}" }} }}\n'


@pytest.mark.parametrize(
    "change,line,start,message",
    [
        (
            lambda t: t.replace("z = 5 }", "z = 5 }\nset = { " + "1" * 5000 + " = 1 }", 1),
            28,
            "fixtures[0].set.111",
            "keys are channel numbers",
        ),
        (lambda t: t + CUE.format("1" * 5000), 46, "cues[0].set.heads.speed", "must be a ratio of whole numbers"),
        (
            lambda t: t + CUE.format("1/" + "2" * 5000),
            46,
            "cues[0].set.heads.speed",
            "must be a ratio of whole numbers",
        ),
        (lambda t: t.replace("bpm = 120", "bpm = [" + "1, " * 100_000 + "]"), 5, "tempo.bpm", "must be a number"),
    ],
    ids=["5000-digit-channel", "5000-digit-speed", "5000-digit-divisor", "100000-numbers-for-one"],
)
def test_long_keys_and_values_get_a_short_error(tmp_path, capsys, change, line, start, message):
    status, _, err, path = check(tmp_path, capsys, change(make_show()))
    assert status == 1 and err.startswith(f"kinetra-live: error: {path}:{line}: {start}"), err[:500]
    assert message in err and len(err) < 2 * showfile.MAX_MESSAGE + len(path) + 40, err[:500]


def test_a_byte_order_mark_is_accepted(tmp_path, capsys):
    path = tmp_path / "show.toml"
    path.write_bytes(b"\xef\xbb\xbf" + make_show().encode())
    status, out, err, _ = check(tmp_path, capsys, path=str(path))
    assert (status, err) == (0, "") and out.startswith("test: 3 fixtures")


def test_check_never_prints_control_characters(tmp_path, capsys, monkeypatch):
    # names are refused; what still reaches the patch listing is printed escaped
    assert showfile.printable("head\x1b[2J\x00\x9b") == "head\\x1b[2J\\x00\\x9b"
    status, out, _, _ = check(
        tmp_path,
        capsys,
        make_show().replace("[groups.heads]", '[groups."h\\u00e9"]').replace('group = "heads"', 'group = "h\\u00e9"'),
    )
    assert status == 0 and not CONTROL.search(out.replace("\n", "")) and "h\u00e9" not in out


def special_file(tmp_path, kind):
    path = str(tmp_path / "show.toml")
    if kind == "fifo":
        os.mkfifo(path)
    elif kind == "directory":
        os.mkdir(path)
    elif kind == "device":
        return "/dev/zero"
    else:
        with open(path, "wb") as fh:  # sparse: no 16 MiB written
            fh.truncate(showfile.MAX_SHOW_BYTES + 1)
    return path


@pytest.mark.parametrize(
    "kind,message",
    [
        ("fifo", "not a regular file"),
        ("device", "not a regular file"),
        ("directory", "not a regular file"),
        ("oversize", f"larger than {showfile.MAX_SHOW_BYTES // 2**20} MiB"),
    ],
)
def test_only_regular_files_of_bounded_size_are_read(tmp_path, capsys, kind, message):
    start = time.monotonic()
    status, _, err, path = check(tmp_path, capsys, path=special_file(tmp_path, kind))
    assert status == 1 and time.monotonic() - start < 5
    assert_one_error(err, path, None, None, message)


# ---- where a key is written -----------------------------------------------------------------

STRING_HEADERS = '''[show]
name = "test"
notes = """
[[fixtures]]
name = "fake"
[tempo]
bpm = 1
"""
other = \'\'\'
[[fixtures]]\'\'\'
[tempo]
bpm = 120
[[fixtures]]
name = "real"
'''


ARRAY_LINES = """[tempo]
x = [
  [1],
  ["fixtures"], { a = 1 },
  [[2]] ]
bpm = 120
[[fixtures]]
name = "a"
"""


TEXTS = {"strings": STRING_HEADERS, "arrays": ARRAY_LINES}


@pytest.mark.parametrize(
    "text,path,line",
    [
        ("strings", ("tempo", "bpm"), 12),
        ("strings", ("fixtures", 0, "name"), 14),
        ("strings", ("fixtures", 0), 13),
        ("strings", ("show", "notes"), 3),
        ("strings", ("show", "other"), 9),
        ("strings", ("fixtures", 1), None),
        ("arrays", ("tempo", "bpm"), 6),
        ("arrays", ("tempo", "x", 2), 2),
        ("arrays", ("fixtures", 0, "name"), 8),
    ],
)
def test_keys_are_located_outside_strings_and_arrays(text, path, line):
    assert tomlpos.line_of(TEXTS[text], path) == line


@pytest.mark.parametrize(
    "filler", ["[" + " " * 6000, " " * 6000 + "[", "[" * 3000, "a = [" + " " * 6000, '"' * 2 + " " * 6000]
)
def test_locating_a_key_takes_linear_time(filler):
    text = f'[show]\nnotes = """\n{filler}\n"""\n' + f"a{' ' * 6000}= 1\n" * 3 + "[tempo]\nbpm = 0\n"
    start = time.monotonic()
    assert tomlpos.line_of(text, ("tempo", "bpm")) == 9
    assert time.monotonic() - start < 1.0  # the old scan took minutes on this


def test_line_information_is_only_built_for_the_key_that_failed(tmp_path, monkeypatch, capsys):
    calls = []
    real = tomlpos.line_of
    monkeypatch.setattr(tomlpos, "line_of", lambda text, path: calls.append(path) or real(text, path))
    text = make_show(heads=0, visual=False) + "".join(
        HEAD_FIXTURE.format(name=f"h{k}", pattern="circle", universe=1 + k // 64, address=1 + 8 * (k % 64))
        for k in range(300)
    )
    assert check(tmp_path, capsys, text)[0] == 0 and calls == []
    status, _, err, path = check(tmp_path, capsys, text + '\n[[fixtures]]\nname = "h7"\n', "bad.toml")
    assert status == 1 and calls == [("fixtures", 300, "name")]
    assert_one_error(err, path, text.count("\n") + 3, "fixtures[300].name", "already used by fixtures[7]")


# ---- command line ---------------------------------------------------------------------------


@pytest.mark.parametrize(
    "value,message",
    [("1e308", "at most 1e+09"), ("0", "above 0"), ("nan", "above 0"), ("-inf", "above 0"), ("2e9", "at most 1e+09")],
)
def test_duration_limits_are_stated(tmp_path, capsys, value, message):
    with pytest.raises(SystemExit):
        cli.main([write(tmp_path, make_show()), f"--duration={value}"])
    assert message in capsys.readouterr().err


def test_an_invalid_pattern_name_is_advised_in_the_show_file_terms(tmp_path, capsys):
    (tmp_path / "walk.csv").write_text("0,0,0\n")
    text = make_show().replace("[groups.heads]", '[patterns]\n"Side-Step" = "walk.csv"\n\n[groups.heads]')
    status, _, err, path = check(tmp_path, capsys, text)
    assert status == 1 and "rename the key in [patterns]" in err and "--name" not in err
    assert_one_error(err, path, 18, "patterns.Side-Step", "Invalid pattern name")


def rss_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as fh:
            return next(int(line.split()[1]) for line in fh if line.startswith("VmRSS:"))
    except (OSError, StopIteration):
        return 0


def interrupt_while(args, busy_kib, tmp_path):
    """Starts a companion (SIGINT at its default), sends SIGINT once it holds `busy_kib` of
    memory (past its imports, in the middle of its work), returns (status, stderr)."""
    launcher = (
        "import os, signal, sys; signal.signal(signal.SIGINT, signal.SIG_DFL); "
        "os.execv(sys.executable, [sys.executable, *sys.argv[1:]])"
    )
    proc = subprocess.Popen(
        [sys.executable, "-c", launcher, *args],
        stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        cwd=tmp_path,
    )
    deadline = time.monotonic() + 60
    while proc.poll() is None and rss_kib(proc.pid) < busy_kib and time.monotonic() < deadline:
        time.sleep(0.005)
    proc.send_signal(signal.SIGINT)
    _, err = proc.communicate(timeout=30)
    return proc.returncode, err


def test_ctrl_c_while_a_large_show_loads_exits_quietly(tmp_path):
    text = make_show(heads=0, visual=False) + "".join(
        f'[[fixtures]]\nname = "h{k}"\noutput = "stage"\npattern = "circle"\nuniverse = {1 + k // 64}\n'
        f"address = {1 + 8 * (k % 64)}\nchannels = {{ pan = 1 }}\n"
        for k in range(60_000)
    )
    path = write(tmp_path, text)
    status, err = interrupt_while(["-m", "kinetra_live", path, "--check"], 60_000 + len(text) // 1024, tmp_path)
    assert (status, err) == (130, "")


def test_ctrl_c_while_the_gallery_is_built_exits_quietly(tmp_path):
    status, err = interrupt_while(["-m", "kinetra_preview", "gallery", "--out", "g.html"], 50_000, tmp_path)
    assert (status, err) == (130, "")
    assert os.listdir(tmp_path) == []  # no page, no temporary file left


# ---- pattern files --------------------------------------------------------------------------


@pytest.mark.parametrize("rows,header,line", [(65536, True, 65537), (65536, False, 65536), (1_398_000, True, 65537)])
def test_a_pattern_file_is_read_no_further_than_the_most_rows_a_pattern_may_have(tmp_path, rows, header, line):
    path = tmp_path / "long.csv"
    path.write_text(("x,y,z\n" if header else "") + "0,0,0\n" * rows)
    start = time.monotonic()
    with pytest.raises(patternfile.PatternFileError) as info:
        patternfile.load_pattern(str(path))
    assert str(info.value) == f"{path}:{line}: A pattern requires 1..65535 samples (one per pip)"
    assert time.monotonic() - start < 5


def test_a_pattern_of_the_most_rows_is_read_whole(tmp_path):
    limit, _ = patternfile.row_limit()
    path = tmp_path / "long.csv"
    path.write_text("x,y,z\n" + "0,0.5,0\n" * limit + "\n\n")
    assert patternfile.load_pattern(str(path)).period_pips == limit == 65535


class CountingFixtures(tuple):
    """The fixtures, counting how often they are gone over."""

    passes = 0

    def __iter__(self):
        CountingFixtures.passes += 1
        return super().__iter__()


@pytest.mark.parametrize("groups", [1, 50, 400])
def test_groups_are_read_in_one_pass_over_the_fixtures(tmp_path, groups):
    text = (
        make_show(heads=0, visual=False).replace("[groups.heads]\nspread_pips = 16\n", "")
        + "".join(f"[groups.g{k}]\nspread_pips = 1\n" for k in range(groups))
        + "".join(
            f'[[fixtures]]\nname = "h{k}"\noutput = "stage"\ngroup = "g{k % groups}"\npattern = "circle"\n'
            f"universe = {1 + k // 64}\naddress = {1 + 8 * (k % 64)}\nchannels = {{ pan = 1 }}\n"
            for k in range(800)
        )
    )
    path = write(tmp_path, text)
    r = showfile.Reader(path, text)
    doc = showfile.parse(path, text)
    s = showfile.load(path)
    CountingFixtures.passes = 0
    found = showfile._groups(r, doc, CountingFixtures(s.fixtures))
    assert CountingFixtures.passes <= 3 and len(found) == groups
    # the k-th member of a group runs k spreads behind the first
    assert [f.look.lag_pips for f in s.fixtures[: 2 * groups]] == [0] * groups + [1] * groups
