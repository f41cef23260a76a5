"""The show editor: edits checked by the show reader, undo and redo, saving back to the file
byte for byte where nothing changed, and a show edited while it plays that plays as its file."""

import io
import json
import os
import pathlib
import tomllib

import pytest
from kinetra_live import commands, model, runner, showedit, showfile

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = sorted((ROOT / "examples").glob("*.toml"))
HEAD = "ofl:martin/mac-aura"


@pytest.fixture
def example(tmp_path):
    path = tmp_path / "show.toml"
    path.write_bytes((ROOT / "examples" / "four-heads.toml").read_bytes())
    return path


def edits(ed, *steps):
    for op, args in steps:
        ed.edit(op, args, ed.version)
    return ed


@pytest.mark.parametrize("path", EXAMPLES, ids=lambda p: p.name)
@pytest.mark.parametrize("newline,bom", [("\n", False), ("\r\n", False), ("\n", True)])
def test_an_example_loaded_edited_back_and_saved_is_byte_identical(tmp_path, path, newline, bom):
    raw = path.read_text().replace("\n", newline).encode()
    raw = ("\ufeff".encode() if bom else b"") + raw
    show = tmp_path / "show.toml"
    show.write_bytes(raw)
    ed = showedit.Editor(str(show))
    assert ed.doc.as_string() == ed.text and ed.save() == "no change to save"
    first = ed.show.fixtures[0]
    edits(ed, ("fixture", {"name": first.name, "set": {"pattern": "bounce"}}))
    assert ed.text != showfile.read_text(str(show))
    edits(ed, ("fixture", {"name": first.name, "set": {"pattern": first.look.pattern}}))
    ed.saved = None  # as if changed: the write goes through
    assert ed.save().startswith("saved") and show.read_bytes() == raw
    assert (tmp_path / "show.toml.bak").read_bytes() == raw
    assert sorted(os.listdir(tmp_path)) == ["show.toml", "show.toml.bak"]


def test_a_new_show_gets_two_heads_from_the_library_at_the_next_free_addresses(tmp_path):
    path = tmp_path / "new.toml"
    ed = showedit.Editor(str(path))
    assert ed.show.fixtures == () and not path.exists()
    edits(
        ed, ("patch", {"profile": HEAD, "mode": "std", "group": "heads"}), ("patch", {"profile": HEAD, "mode": "std"})
    )
    a, b = ed.show.fixtures
    assert (a.patch.address, b.patch.address, a.patch.footprint) == (1, 15, 14)
    assert ed.show.groups["heads"].members == ("mac-aura-1",) and a.patch.fixed == {1: 22, 2: 255}
    assert ed.save() == "saved new.toml" and not (tmp_path / "new.toml.bak").exists()
    assert showfile.load(str(path)).fixtures == ed.show.fixtures
    assert showedit.next_address(ed.show, "sacn", 1, 498) is None and showedit.next_address(ed.show, "sacn", 1, 4) == 29


@pytest.mark.parametrize(
    "op,args,words",
    [
        ("patch", {"profile": HEAD, "mode": "std", "address": 10}, "fixtures[5].address: channels 10 to 23"),
        ("patch", {"profile": HEAD, "mode": "huge"}, "no mode named 'huge'"),
        ("patch", {"profile": "../../etc/passwd"}, "must come from the bundled library"),
        ("look", {"target": "heads", "set": {"pattern": "no_such_pattern"}}, "cues[6].set.heads.pattern"),
        ("look", {"target": "nobody", "set": {"pattern": "circle"}}, "no group or fixture named 'nobody'"),
        ("cue", {"name": "drop", "set": {"next": "nowhere"}}, "cues[1].next: no cue named 'nowhere'"),
        ("cue", {"name": "drop", "set": {"set": {}}}, "is not a cue setting here"),
        ("cue", {"name": "drop", "set": {"quantize": 3}}, "cues[1].quantize: must be one of"),
        ("delete_cue", {"name": "loop b"}, "cues[4].next: no cue named 'loop b'"),
        ("unpatch", {"name": "head2"}, "groups.front.fixtures: no fixture named 'head2'"),
        ("store_cue", {"name": "x"}, "nothing is being programmed"),
        ("fixture", {"name": "head1", "set": {"path": "/etc/passwd"}}, "fixtures[0].path: unknown key"),
        ("fixture", {"name": "head1", "set": {"scale": [[[[[[[[1]]]]]]]]}}, "nested more than"),
        ("fixture", {"name": "head1", "set": {"name": "x" * 300}}, "longer than"),
        ("nuke", {}, "unknown edit 'nuke'"),
        ("patch", {"profile": HEAD, "extra": 1}, "unknown argument 'extra'"),
        ("move_cue", {"name": "drop", "to": True}, "to has the wrong type"),
        ("tempo", {"set": {"bpm": -1}}, "tempo.bpm: must be above 0"),
    ],
)
def test_refused_edits_say_what_the_reader_says_and_change_nothing(example, op, args, words):
    ed = showedit.Editor(str(example))
    before = (ed.text, ed.version, ed.programmer)
    with pytest.raises(showedit.EditError) as e:
        ed.edit(op, args, ed.version)
    assert words in str(e.value)
    assert (ed.text, ed.version, ed.programmer) == before and not ed.undos
    assert example.read_bytes() == (ROOT / "examples" / "four-heads.toml").read_bytes()


def test_a_stale_edit_is_refused(example):
    ed = edits(showedit.Editor(str(example)), ("cue", {"name": "drop", "set": {"key": "9"}}))
    with pytest.raises(showedit.StaleEdit):
        ed.edit("cue", {"name": "drop", "set": {"key": "8"}}, 0)
    with pytest.raises(showedit.StaleEdit):
        ed.undo(0)
    assert ed.show.cues["drop"].key == "9"


def test_cues_stored_edited_moved_chained_and_deleted(example):
    ed = showedit.Editor(str(example))
    change = ed.edit("look", {"target": "heads", "set": {"pattern": "sway", "speed": "1/2", "mirror": ["x"]}}, 0)
    assert change.live.targets[0].pattern == "sway" and change.live.quantize_beats is None
    edits(
        ed,
        ("store_cue", {"name": "swing", "key": "7", "quantize": "bar", "transition": 2}),
        ("cue", {"name": "swing", "set": {"next": "drop", "after": 2, "curve": "smooth"}}),
        ("move_cue", {"name": "swing", "to": 0}),
        ("look", {"target": "visual", "set": {"pattern": "bounce"}, "cue": "drop", "blind": True}),
        ("delete_cue", {"name": "half time"}),
    )
    cues = ed.show.cues
    assert list(cues)[:3] == ["swing", "intro", "drop"] and "half time" not in cues
    swing = cues["swing"]
    assert (swing.key, swing.quantize_beats, swing.next, swing.after_bars, swing.curve) == ("7", 4, "drop", 2, "smooth")
    assert swing.targets[0].mirror == (True, False, False) and cues["drop"].targets[1].pattern == "bounce"
    # the comments and everything not edited stay as written
    original = (ROOT / "examples" / "four-heads.toml").read_text()
    kept = [line for line in original.splitlines() if "#" in line and "half time" not in line]
    assert all(line in ed.text.splitlines() for line in kept)


def test_undo_and_redo_a_hundred_and_twenty_steps(example):
    ed = showedit.Editor(str(example))
    original = ed.text
    for i in range(60):
        ed.edit("look", {"target": "heads", "set": {"rotate": float(i)}}, ed.version)
        ed.edit("cue", {"name": "drop", "set": {"transition": 1 + i % 4}}, ed.version)
    for _ in range(120):
        ed.undo(ed.version)
    assert ed.text == original and ed.programmer == {}
    with pytest.raises(showedit.EditError, match="nothing to undo"):
        ed.undo(ed.version)
    change = ed.redo(ed.version)
    assert change.live.targets[0].rotate == 0.0 and ed.redos


def test_save_keeps_the_old_file_and_never_overwrites_one_changed_on_disk(example):
    ed = edits(showedit.Editor(str(example)), ("cue", {"name": "drop", "set": {"key": "9"}}))
    old = example.read_bytes()
    ed.save()
    assert (example.parent / "show.toml.bak").read_bytes() == old
    assert showfile.load(str(example)).cues["drop"].key == "9"
    example.write_text(example.read_text() + "\n# changed by hand\n")
    edits(ed, ("cue", {"name": "drop", "set": {"key": "8"}}))
    with pytest.raises(showedit.FileChanged, match="changed on disk"):
        ed.save()
    assert example.read_text().endswith("# changed by hand\n")
    assert ed.save_as() == "show-1.toml" and showfile.load(str(example.parent / "show-1.toml")).cues["drop"].key == "8"
    ed.reload(ed.version)
    assert ed.show.cues["drop"].key == "8" and not ed.dirty


class Socket:
    def __init__(self, settings=None):
        self.sent = []

    def sendto(self, data, addr):
        self.sent.append(bytes(data))

    def close(self):
        pass


def _play(show, edits_at, launch_at, until, log):
    """Frames at 40 per second on a virtual clock; (time, command) put in before each frame."""
    t = [1000.0]
    r = runner.Runner(show, now=lambda: t[0], open_socket=Socket, frame_log=log)
    due = sorted(edits_at + [(launch_at, commands.Command("cue", "A"))], key=lambda e: e[0])
    while t[0] < until:
        while due and due[0][0] <= t[0]:
            r.commands.put(due.pop(0)[1])
        r.frame(t[0])
        t[0] += 1 / 40
    r.close()
    return r


def test_a_show_edited_while_it_plays_plays_as_its_saved_file(tmp_path):
    path = tmp_path / "new.toml"
    ed = showedit.Editor(str(path))
    first = ed.show
    steps = [
        ("patch", {"profile": HEAD, "mode": "std", "group": "heads"}),
        ("patch", {"profile": HEAD, "mode": "std", "group": "heads"}),
        ("group", {"name": "heads", "set": {"spread_beats": 0.5}}),
        ("look", {"target": "heads", "set": {"pattern": "figure_eight", "speed": "2"}}),
        ("store_cue", {"name": "A", "quantize": "bar", "transition": 1}),
        ("look", {"target": "heads", "set": {"pattern": "sway"}}),
        ("store_cue", {"name": "B", "key": "b"}),
        ("clear", {}),
    ]
    changes = []
    for op, args in steps:
        changes.append((1000.0 + 0.1 * len(changes), commands.Command(commands.EDIT, ed.edit(op, args, ed.version))))
    ed.save()
    live = _play(first, changes, 1001.3, 1004.0, io.StringIO())
    assert live.landed == [] and live.engine.active[0].cue.name == "A"
    replay_log, live_log = io.StringIO(), io.StringIO()
    _play(first, changes, 1001.3, 1004.0, live_log)
    _play(showfile.load(str(path)), [], 1001.3, 1004.0, replay_log)

    def frames(log):
        lines = [json.loads(x) for x in log.getvalue().splitlines()]
        return [(e["t"], e["pip"], e["fixtures"], e.get("landed")) for e in lines if "frame" in e and e["t"] >= 1001.3]

    assert frames(live_log) == frames(replay_log) and len(frames(replay_log)) > 100
    landed = [f[3] for f in frames(replay_log) if f[3]]
    assert landed[0][0]["cue"] == "A" and landed[0][0]["boundary"] % (4 * 64) == 0


def test_a_patched_head_is_sent_on_the_next_frame_and_an_unpatched_one_ends_its_universe(tmp_path):
    path = tmp_path / "new.toml"
    ed = showedit.Editor(str(path))
    r = runner.Runner(ed.show, now=lambda: 5.0, open_socket=Socket)
    r.commands.put(commands.Command(commands.EDIT, ed.edit("patch", {"profile": HEAD, "mode": "std"}, 0)))
    r.frame(5.0)
    assert list(r.senders) == ["lights"] and r.senders["lights"].universes[1].last_sent[1] == 255
    r.commands.put(
        commands.Command(commands.EDIT, ed.edit("fixture", {"name": "mac-aura-1", "set": {"universe": 2}}, 1))
    )
    sock = r.senders["lights"].sock
    r.frame(5.025)
    terminated = [p for p in sock.sent if p[112] & 0x40]
    assert len(terminated) == 3 and list(r.senders["lights"].universes) == [2]
    r.commands.put(commands.Command(commands.EDIT, ed.edit("unpatch", {"name": "mac-aura-1"}, 2)))
    r.frame(5.05)
    assert r.senders == {} and model.Show is type(r.show) and r.show.fixtures == ()


BASE = """\
[tempo]
bpm = 120   # the tempo
[outputs.o]
type = "sacn"
destination = "127.0.0.1"
[[fixtures]]
name = "a"
output = "o"
pattern = "circle"   # keep this comment
universe = 1
address = 1
{extra}
[[cues]]
name = "c"
set.a = {{ pattern = "sway" }}   # and this one
"""


@pytest.mark.parametrize(
    "extra,op,args,check",
    [
        # a value replaced on its line, its comment kept
        ("channels = { pan = 1 }", "fixture", {"name": "a", "set": {"pattern": "bounce"}}, "bounce"),
        # a new key lands in the table's own lines, before its sub-table
        ("[fixtures.channels]\npan = 1", "fixture", {"name": "a", "set": {"offset_beats": 0.5}}, "offset"),
        # dotted keys and a multi-line value: tomlkit does it
        ("channels.pan = 1", "fixture", {"name": "a", "set": {"channels": {"tilt": 2}}}, "tilt"),
        (
            "channels = { pan = 1 }\nscale = [\n  1.0, 0.5, 1.0,\n]",
            "fixture",
            {"name": "a", "set": {"scale": 0.5}},
            "scale",
        ),
        # a new target of a cue as a dotted key, a removed one gone with its line
        ("channels = { pan = 1 }", "look", {"target": "a", "cue": "c", "set": {"speed": "2"}}, "speed"),
        ("channels = { pan = 1 }", "fixture", {"name": "a", "set": {"address": None}}, "address"),
    ],
)
def test_values_are_rewritten_where_they_are_and_nothing_else_moves(tmp_path, extra, op, args, check):
    path = tmp_path / "show.toml"
    path.write_text(BASE.format(extra=extra))
    ed = showedit.Editor(str(path))
    before = ed.text
    try:
        ed.edit(op, args, 0)
    except showedit.EditError as exc:
        assert check == "address" and "fixtures[0].address: missing" in str(exc)
        return
    doc = tomllib.loads(ed.text)
    fixture = doc["fixtures"][0]
    expect = {
        "bounce": lambda: fixture["pattern"] == "bounce",
        "offset": lambda: fixture["offset_beats"] == 0.5 and fixture["channels"] == {"pan": 1},
        "tilt": lambda: fixture["channels"] == {"tilt": 2},
        "scale": lambda: fixture["scale"] == 0.5,
        "speed": lambda: doc["cues"][0]["set"]["a"] == {"pattern": "sway", "speed": "2"},
    }[check]
    assert expect()
    assert "# keep this comment" in ed.text and "# the tempo" in ed.text and "# and this one" in ed.text
    changed = [line for line in ed.text.splitlines() if line not in before.splitlines()]
    assert len(changed) <= 3
