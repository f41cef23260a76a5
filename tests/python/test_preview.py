"""Unit tests of the pattern preview: projection, decimation, table codec,
page model, text and SVG views, and the pattern-file path."""

import json
import math
import os
import re
import xml.etree.ElementTree as ET

import kinetra
import pytest
from kinetra_common import patternfile
from kinetra_preview import cli, codec, decimate, model, page, projection, render_svg, textview
from patterngen import manifest, registry

VALUES_MESSAGE = "Pattern samples must be finite and within [-1, 1]"


# ---- projection -------------------------------------------------------------


@pytest.mark.parametrize("x,y", [(0.0, 0.0), (0.5, -1.0), (-1.0, 1.0), (0.25, -0.75)])
def test_projection_keeps_x_and_y_on_the_depth_plane(x, y):
    # y maps straight to the screen's downward axis: negative y is drawn up.
    assert projection.project(x, y, 0.0) == (x, y)


def test_projection_moves_nearer_points_down_left_along_the_diagonal():
    nx, ny = projection.project(0.0, 0.0, 1.0)
    fx, fy = projection.project(0.0, 0.0, -1.0)
    assert nx < 0 < ny and fx > 0 > fy
    assert math.isclose(-nx, ny) and math.isclose(math.hypot(nx, ny), projection.DEPTH_SCALE)
    assert (fx, fy) == (-nx, -ny)


def test_projected_cube_stays_within_the_limit():
    corners = [(x, y, z) for x in (-1, 1) for y in (-1, 1) for z in (-1, 1)]
    for sx, sy in projection.project_all(corners):
        assert abs(sx) <= projection.PROJECTED_LIMIT and abs(sy) <= projection.PROJECTED_LIMIT


@pytest.mark.parametrize(
    "z,expected", [(-1.0, 0.25), (0.0, 0.625), (1.0, 1.0), (-5.0, 0.25), (7.0, 1.0), (float("nan"), 0.625)]
)
def test_depth_strength_is_stronger_when_nearer_and_always_usable(z, expected):
    assert projection.depth_strength(z) == expected


# ---- decimation -------------------------------------------------------------


def _max_dropped_distance(points, kept, closed):
    ring = kept + [kept[0]] if closed else kept
    worst = 0.0
    for a, b in zip(ring, ring[1:]):
        end = b if b > a else len(points)
        for i in range(a + 1, end):
            (px, py), (ax, ay) = points[i], points[a]
            bx, by = points[b]
            worst = max(worst, math.sqrt(decimate._segment_distance_sq(px, py, ax, ay, bx, by)))
    return worst


def test_simplify_open_drops_collinear_points_and_keeps_a_one_pip_spike():
    line = [(float(i), 0.0) for i in range(50)]
    assert decimate.simplify_open(line, 0.01) == [0, 49]
    spiky = [(float(i), 5.0 if i == 20 else 0.0) for i in range(50)]
    assert decimate.simplify_open(spiky, 0.5) == [0, 19, 20, 21, 49]


@pytest.mark.parametrize("tolerance", [0.5, 2.0, 8.0])
def test_simplified_loop_stays_within_tolerance_including_the_closing_segment(tolerance):
    pts = [
        (100 * math.cos(t) + 30 * math.cos(5 * t), 100 * math.sin(2 * t))
        for t in (2 * math.pi * i / 1024 for i in range(1024))
    ]
    kept = decimate.simplify_closed(pts, tolerance)
    assert kept[0] == 0 and kept == sorted(set(kept))
    assert len(kept) < len(pts)
    assert _max_dropped_distance(pts, kept, closed=True) <= tolerance + 1e-9


def test_decimate_meets_the_point_budget_and_handles_long_paths():
    pts = [(float(i), float((i * 7919) % 13)) for i in range(20000)]  # noisy, no recursion limit
    kept = decimate.decimate_closed(pts, 0.1, 64)
    assert 2 <= len(kept) <= 64 and kept[0] == 0


def test_thumbnail_of_a_still_pattern_is_one_point_and_tiny_motion_stays_small():
    assert decimate.thumbnail([(0.3, -0.2)] * 64) == [(decimate.THUMB_GRID // 2,) * 2]
    tiny = decimate.thumbnail([(0.01 * math.cos(2 * math.pi * i / 64), 0.0) for i in range(64)])
    xs = [p[0] for p in tiny]
    assert max(xs) - min(xs) < decimate.THUMB_GRID * 0.15


def test_thumbnail_starts_at_pip_zero_fits_the_grid_and_round_trips():
    pts = [(math.cos(2 * math.pi * i / 256), math.sin(2 * math.pi * i / 256) * 0.5) for i in range(256)]
    thumb = decimate.thumbnail(pts, max_points=40)
    assert len(thumb) <= 40
    assert all(0 <= c <= decimate.THUMB_GRID for p in thumb for c in p)
    assert thumb[0][0] == decimate.THUMB_GRID - decimate.THUMB_MARGIN  # pip 0 is the rightmost point
    assert all(a != b for a, b in zip(thumb, thumb[1:]))
    assert decimate.decode_thumbnail(decimate.encode_thumbnail(thumb)) == thumb
    with pytest.raises(ValueError):
        decimate.encode_thumbnail([(256, 0)])


# ---- table codec ------------------------------------------------------------


@pytest.mark.parametrize(
    "table",
    [
        [(1.0, -1.0, 0.0)],
        [(-0.0, 0.0, -0.0)] * 5,
        [(0.82 * math.sin(i / 9), 0.0, 0.0) for i in range(512)],
        [(1.0 if i < 80 else -1.0, -1.0 if i % 3 else 1.0, 0.123456789) for i in range(160)],
        [(math.cos(i / 40), math.sin(i / 40), 0.5 * math.sin(i / 20)) for i in range(1024)],
    ],
)
def test_codec_round_trip_is_within_half_a_step(table):
    text = codec.encode_table(table)
    assert re.fullmatch(r"[A-Za-z0-9+/=]*", text)
    decoded = codec.decode_table(text, len(table))
    assert len(decoded) == len(table)
    for got, want in zip(decoded, table):
        for g, w in zip(got, want):
            assert abs(g - w) <= codec.HALF_STEP


def test_codec_leaves_out_still_axes_and_checks_the_period():
    packed = codec.pack_table([(0.5, 0.0, 0.0), (0.25, 0.0, 0.0)])
    assert packed[0] == 0b001
    with pytest.raises((ValueError, IndexError)):
        codec.decode_table(codec.encode_table([(0.5, 0.1, 0.0)] * 4), 5)
    with pytest.raises(ValueError):
        codec.encode_table([(float("nan"), 0.0, 0.0)])


# ---- page model -------------------------------------------------------------


@pytest.mark.parametrize(
    "name,user,family",
    [
        ("circle", False, "dance"),
        ("clay_background", False, "dance"),
        ("flam", False, "rudiment"),
        ("single_paradiddle", False, "rudiment"),
        ("beat_four_floor_surge", False, "beat"),
        ("lfo_breathe", False, "lfo"),
        ("rudiment_flam_tap", False, "rudiment"),
        ("walk", True, "user"),
        ("lfo_mine", True, "user"),
    ],
)
def test_family_of(name, user, family):
    assert model.family_of(name, user) == family


class FakeOffset:
    def __init__(self, v):
        self.v = v

    def as_tuple(self):
        return self.v


def fake_source(rows):
    """Catalogue dicts and a sampler for synthetic tables {name: [(x, y, z), ...]}."""
    cat = [dict(name=n, description=f"about {n}", period_pips=len(t), dimensions=d) for n, (t, d) in rows.items()]
    return cat, lambda name, pip: FakeOffset(rows[name][0][pip % len(rows[name][0])])


def test_page_model_columns_and_tables_match_the_sampler():
    circle = [(math.cos(i / 64 * 2 * math.pi), math.sin(i / 64 * 2 * math.pi), 0.0) for i in range(64)]
    line = [(i / 160 - 0.5, 0.0, 0.0) for i in range(160)]
    cat, sample = fake_source({"circle": (circle, 2), "lfo_ramp": (line, 1), "walk": (line, 1)})
    rows = model.rows_from_catalogue(cat, builtin_count=2)
    pm = model.build_page_model(rows, sample, bpm=90)
    data = json.loads(pm.to_json())
    assert data["names"] == ["circle", "lfo_ramp", "walk"]
    assert data["periods"] == [64, 160, 160] and data["dimensions"] == [2, 1, 1]
    assert [data["families"][f] for f in data["family"]] == ["dance", "lfo", "user"]
    assert data["user"] == [2] and data["bpm"] == 90
    assert sorted(data["traces"]) == ["1", "2"] and data["traces"]["1"][0] == "x"
    assert data["projection"]["dx"] == projection.DEPTH_DX
    for i, table in enumerate((circle, line, line)):
        decoded = codec.decode_table(data["tables"][i], data["periods"][i])
        assert max(abs(a - b) for r, s in zip(decoded, table) for a, b in zip(r, s)) <= codec.HALF_STEP
    assert model.families(rows) == [("dance", 1), ("lfo", 1), ("user", 1)]


@pytest.mark.parametrize(
    "table,axis",
    [
        ([(math.sin(i / 10), 0.0, 0.0) for i in range(64)], 0),
        ([(0.0, -abs(math.sin(i / 10)), 0.0) for i in range(64)], 1),
        ([(0.3, 0.0, math.sin(i / 10)) for i in range(64)], None),  # depth alone still draws a diagonal
        ([(math.cos(i / 10), math.sin(i / 10), 0.0) for i in range(64)], None),
        ([(0.5, 0.5, 0.0)] * 8, None),
    ],
)
def test_straight_line_paths_get_a_curve_over_time(table, axis):
    assert model.line_axis(table) == axis
    if axis is not None:
        curve = decimate.decode_thumbnail(model.trace_of(table, axis))
        assert curve[0][0] == decimate.THUMB_MARGIN and curve[-1][0] == decimate.THUMB_GRID - decimate.THUMB_MARGIN
        assert [p[0] for p in curve] == sorted(p[0] for p in curve)


def test_trace_draws_x_positive_up_and_y_negative_up():
    up_x = decimate.trace([1.0, 1.0], axis_up=True)
    up_y = decimate.trace([-1.0, -1.0], axis_up=False)
    assert up_x[0][1] == up_y[0][1] == decimate.THUMB_MARGIN


def test_page_data_cannot_close_its_script_element():
    cat, sample = fake_source({"x": ([(0.0, 0.0, 0.0)], 1)})
    cat[0]["description"] = "evil </script><!-- {{JS}} \u2014 \u2028"
    pm = model.build_page_model(model.rows_from_catalogue(cat), sample)
    text = pm.to_json()
    assert "</" not in text and "<!--" not in text
    assert json.loads(text)["descriptions"][0] == cat[0]["description"]
    html = page.render_page(pm)
    assert html.count('<script type="application/json" id="kp-data">') == 1
    assert html.count("</script>") == 2
    assert "{{" not in html.replace("{{JS}}", "")  # only the description's own text remains


@pytest.mark.parametrize("kwargs", [dict(mode="poster"), dict(bpm=0), dict(bpm=float("nan")), dict(bpm=1e6)])
def test_page_model_refuses_bad_settings(kwargs):
    with pytest.raises(ValueError):
        model.build_page_model([], lambda n, p: None, **kwargs)


def test_seam_step_tells_a_closed_loop_from_a_jump():
    circle = [(math.cos(i / 32 * math.pi), math.sin(i / 32 * math.pi), 0.0) for i in range(64)]
    seam, inner = model.seam_step(circle)
    assert seam <= inner
    ramp = [(i / 64, 0.0, 0.0) for i in range(64)]
    seam, inner = model.seam_step(ramp)
    assert seam > inner and math.isclose(seam, 63 / 64)


def test_page_size_for_a_catalogue_of_full_size():
    # As many patterns as the catalogue, with its periods, each a smooth closed path in
    # three dimensions: the page must stay small enough to open fast.
    baked = manifest.COMMITTED.read_text(encoding="utf-8").splitlines()[1:]
    periods = [period for _, _, _, period, _ in registry.PROCEDURAL] + [int(line.split("\t")[1]) for line in baked]
    tables = {}
    for k, n in enumerate(periods):
        a, b, c = 1 + k % 3, 2 + k % 5, 1 + k % 4
        turn = 2 * math.pi / n
        rows = [
            (0.82 * math.sin(turn * a * i), 0.82 * math.sin(turn * b * i + k), 0.5 * math.sin(turn * c * i))
            for i in range(n)
        ]
        tables[f"beat_s{k}"] = (rows, 3)
    cat, sample = fake_source(tables)
    html = page.render_page(model.build_page_model(model.rows_from_catalogue(cat), sample))
    size = len(html.encode("utf-8"))
    print(f"synthetic full-size page: {size} bytes")
    assert size < 4_000_000, size


# ---- text and SVG views -----------------------------------------------------


def _row(name):
    cat = {r["name"]: r for r in kinetra.catalogue()}[name]
    return model.rows_from_catalogue([cat])[0], model.sample_table(kinetra.sample, name, cat["period_pips"])


def test_text_view_lists_every_sixteenth_of_one_period():
    row, table = _row("helix")
    text = textview.render_text(row, table, bpm=120)
    lines = text.splitlines()
    beat_lines = [ln for ln in lines if re.match(r"\s+\d+\s+\d+ \|", ln)]
    assert len(beat_lines) == 4  # 256 pips, one line per beat
    cells = beat_lines[1].split("|")[1:]
    assert len(cells) == 4
    x, y, z = (float(v) for v in cells[2].split())  # pip 64 + 32
    assert (x, y, z) == tuple(round(v, 2) + 0.0 for v in kinetra.sample("helix", 96).as_tuple())
    assert "one period lasts 2.000 s" in text and lines[-1].endswith("the loop closes smoothly")


def test_text_view_shows_only_the_axes_that_move_and_flags_a_jump():
    ramp = [(i / 100, 0.0, 0.0) for i in range(100)]
    row = model.PatternRow("ramp", "", 100, 1, "user", True)
    text = textview.render_text(row, ramp, bpm=60)
    header = next(ln for ln in text.splitlines() if ln.startswith("beat  pip"))
    assert header == "beat  pip |     x |     x |     x |     x"
    assert "jump at the loop boundary" in text
    assert "1.562 beats" in text or "1.5625 beats" in text


def test_svg_view_is_valid_and_animates_one_step_per_pip_at_the_bpm():
    row, table = _row("circle")
    svg = render_svg.render_svg(row, table, bpm=100)
    root = ET.fromstring(svg)
    ns = {"s": "http://www.w3.org/2000/svg"}
    beats = root.findall(".//s:circle[@class='beat']", ns)
    assert len(beats) == 1  # 64 pips
    point = root.find(".//s:circle[@class='point']", ns)
    anim = point.find("s:animate[@attributeName='cx']", ns)
    assert anim.get("dur") == "0.6s"
    values = anim.get("values").split(";")
    assert len(values) == 64
    for pip in (0, 16, 40):
        x, _ = render_svg.to_plot(*kinetra.sample("circle", pip).as_tuple())
        assert math.isclose(float(values[pip]), x, abs_tol=0.051)
    assert root.find(".//s:line[@class='seam']", ns) is not None


# ---- pattern files ----------------------------------------------------------


def _write(tmp_path, name, text):
    p = tmp_path / name
    p.write_text(text, encoding="utf-8")
    return str(p)


@pytest.mark.parametrize(
    "text",
    [
        "x,y,z\n0.5,-0.25,0\n-1,1,0.125\n",
        "0.5, -0.25, 0\r\n\r\n-1, 1, 0.125\r\n\r\n",
        "\ufeffX , Y , Z\n0.5,-0.25,0e0\n-1.0,+1,1.25e-1\n",
    ],
)
def test_good_pattern_file(tmp_path, text):
    path = _write(tmp_path, "Side-Step.csv", text)
    pat = patternfile.load_pattern(path)
    assert pat.name == "side_step" and pat.period_pips == 2
    assert pat.description == "User pattern from Side-Step.csv"
    assert pat.sample(0).as_tuple() == (0.5, -0.25, 0.0)
    assert pat.sample(3).as_tuple() == (-1.0, 1.0, 0.125)


@pytest.mark.parametrize(
    "text,line,message",
    [
        ("x,y,z\n0,0,0\n0.1,0.2\n", 3, "expected 3 values (x,y,z), found 2"),
        ("0,0,0\n0,0,0,0\n", 2, "expected 3 values (x,y,z), found 4"),
        ("0,0,0\n0,abc,0\n", 2, "y value 'abc' is not a number"),
        ("x,y\n0,0,0\n", 1, "expected a header of 3 columns (x,y,z), found 2"),
        ("x,y,z\n0,0,0\n\n0.5,1.5,0\n", 4, VALUES_MESSAGE),
        ("0,0,0\n0,0,nan\n", 2, VALUES_MESSAGE),
        ("0,0,0\n0.2,0,0\n-inf,0,0\n", 3, VALUES_MESSAGE),
        ("0,0,-1.0000001\n", 1, VALUES_MESSAGE),
        ("x,y,z\n", None, "A pattern requires 1..65535 samples (one per pip)"),
    ],
)
def test_bad_pattern_file_names_file_line_and_reason(tmp_path, text, line, message):
    path = _write(tmp_path, "walk.csv", text)
    with pytest.raises(patternfile.PatternFileError) as info:
        patternfile.load_pattern(path)
    where = f"{path}:{line}" if line else path
    assert str(info.value) == f"{where}: {message}"


@pytest.mark.parametrize("filename,name", [("2step.csv", None), ("walk.csv", "Walk Home"), ("walk.csv", "")])
def test_bad_pattern_name_keeps_the_library_message(tmp_path, filename, name):
    path = _write(tmp_path, filename, "0,0,0\n")
    with pytest.raises(patternfile.PatternFileError) as info:
        patternfile.load_pattern(path, name)
    assert str(info.value).startswith(f"{path}: Invalid pattern name (")


def test_library_failures_name_the_file_concerned(tmp_path):
    a = _write(tmp_path, "walk.csv", "0,0,0\n")
    b = tmp_path / "b"
    b.mkdir()
    b = _write(b, "walk.csv", "0.5,0,0\n")
    with pytest.raises(patternfile.PatternFileError) as info:
        patternfile.load_library([a, b])
    assert str(info.value) == f"{b}: Duplicate pattern name: walk"
    c = _write(tmp_path, "circle.csv", "0,0,0\n")
    with pytest.raises(patternfile.PatternFileError) as info:
        patternfile.load_library([c])
    assert str(info.value) == f"{c}: Cannot override default pattern: circle"
    lib, builtin = patternfile.load_library([a], name="my_walk")
    assert builtin == len(kinetra.catalogue())
    assert lib.catalogue()[-1] == {
        "name": "my_walk",
        "description": "User pattern from walk.csv",
        "period_pips": 1,
        "dimensions": 1,
    }


# ---- command line -----------------------------------------------------------


def test_show_prints_the_text_view_of_a_user_pattern(tmp_path, capsys):
    path = _write(tmp_path, "walk.csv", "x,y,z\n" + "".join(f"{i / 64:.4f},-0.5,0.25\n" for i in range(64)))
    assert cli.main(["show", "walk", "--pattern-file", path, "--bpm", "90"]) == 0
    out = capsys.readouterr().out
    assert out.startswith("walk  [user, 1 beat = 64 pips, 3-D]")
    assert "+0.25 -0.50 +0.25" in out  # pip 16


@pytest.mark.parametrize("argv", [["gallery"], ["show", "circle"]])
def test_a_bad_file_writes_nothing(tmp_path, capsys, argv):
    bad = _write(tmp_path, "walk.csv", "0,0,0\n2,0,0\n")
    out = tmp_path / ("out.html" if argv[0] == "gallery" else "out.svg")
    assert cli.main(argv + ["--out", str(out), "--pattern-file", bad]) == 1
    assert capsys.readouterr().err.strip() == f"kinetra_preview: error: {bad}:2: {VALUES_MESSAGE}"
    assert not out.exists() and os.listdir(tmp_path) == ["walk.csv"]


def test_an_existing_output_survives_a_failed_write(tmp_path, monkeypatch):
    target = tmp_path / "view.svg"
    target.write_text("old")

    def boom(src, dst):
        raise OSError("disk full")

    monkeypatch.setattr(os, "replace", boom)
    with pytest.raises(OSError):
        page.write_atomic(str(target), "new")
    assert target.read_text() == "old" and os.listdir(tmp_path) == ["view.svg"]


def test_show_writes_svg_and_html_and_refuses_unknown_names(tmp_path, capsys):
    svg, html = tmp_path / "c.svg", tmp_path / "c.html"
    assert cli.main(["show", "figure_eight", "--out", str(svg), "--bpm", "133"]) == 0
    assert cli.main(["show", "figure_eight", "--out", str(html)]) == 0
    ET.fromstring(svg.read_text())
    assert 'id="kp-data"' in html.read_text() and '"mode":"single"' in html.read_text()
    assert cli.main(["show", "no_such_move"]) == 1
    assert capsys.readouterr().err.strip().endswith("error: Unknown dance rudiment: no_such_move")
