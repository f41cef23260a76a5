"""Turns the results of one benchmark run into the markdown report.

Inputs: the JSON output of kinetra_bench (Google Benchmark, with repetitions) and JSON lists of
rows written by bench_python.py and library_figures.py. A row is a dict with the keys group,
figure, value, unit, baseline, baseline_value, target ({"ratio": r}: value / baseline_value at
most r; {"max": m}: value below m; {"equal": e}: value exactly e), note, and optionally sd and
baseline_sd (standard deviations, shown next to the figures and carried into the ratio).
"""

import argparse
import datetime
import json
import math
import os
import pathlib
import platform
import re
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tools"))

from patterngen import registry  # noqa: E402

# C++ benchmarks: run name -> (figure, target). A benchmark named "<run>/baseline_<what>" is a
# baseline of <run>.
CPP_FIGURES = {
    "pack_sampler/lfo_breathe": "pack sampler kinetra_initial::sample_lfo_breathe(pip)",
    "lookup/sample_by_name": "kinetra::sample(name, pip), random mix of all catalogue names",
    "catalogue/warm": "kinetra::catalogue(), warm",
    "catalogue/first_build": "kinetra::catalogue(), first call in a fresh process",
    "user/sampled_pattern": "SampledPattern::sample(pip), 512 rows",
    "user/pattern_library": "PatternLibrary::sample(name, pip), own names of 64 patterns",
    "user/sampled_recording": "SampledRecording::sample(pip), 3 axes",
}
CPP_TARGETS = {
    ("pack_sampler/lfo_breathe", "raw_index"): {"ratio": 1.2},
    ("lookup/sample_by_name", "unordered_map"): {"ratio": 1.5},
}
CPP_BASELINES = {
    "raw_index": "raw index of a table of the same rows, fold pip & (period - 1) inline",
    "raw_index_wrap_pip": "raw index of the same table, fold by kinetra::wrap_pip",
    "unordered_map": "std::unordered_map<std::string_view, sampler> of the same names",
    "local_static": "a function-local static in the calling executable",
    "row_copy": "copy of the built rows, same fresh process",
    "flat_copy": "bounds check and copy of the row out of a flat block into a new vector",
}
SUFFIXES = re.compile(r"(/iterations:\d+)?(/manual_time)?$")
# Report order (the benchmarks themselves run in random interleaved order).
MOVES = registry.PROCEDURAL_NAMES
ORDER = ["move/" + m for m in MOVES] + list(CPP_FIGURES)


def order_of(name):
    return (ORDER.index(name) if name in ORDER else len(ORDER), name)


def cpp_rows(path):
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    per_call = {}
    counters = {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name = SUFFIXES.sub("", b.get("run_name", b["name"]))
        per_call[name] = 1e9 / b["items_per_second"]
        counters[name] = b
    rows = []
    for name, ns in sorted(per_call.items(), key=lambda item: order_of(item[0])):
        if "/baseline_" in name:
            continue
        if name.startswith("move/"):
            figure = "procedural move kinetra::%s(pip)" % name[len("move/") :]
        else:
            figure = CPP_FIGURES.get(name, name)
        if "names" in counters[name]:
            figure += " (%d)" % counters[name]["names"]
        baselines = sorted(k for k in per_call if k.startswith(name + "/baseline_"))
        for base in baselines or [None]:
            what = base.split("/baseline_", 1)[1] if base else None
            rows.append(
                {
                    "group": "C++",
                    "figure": figure,
                    "value": ns,
                    "unit": "ns",
                    "baseline": CPP_BASELINES.get(what, what),
                    "baseline_value": per_call[base] if base else None,
                    "target": CPP_TARGETS.get((name, what)),
                    "note": "",
                }
            )
    return rows, data.get("context", {})


def fmt(value, unit):
    if value is None:
        return "-"
    if isinstance(value, int):
        return "%d %s" % (value, unit)
    if unit == "ns" and value >= 10000:
        return "%.1f us" % (value / 1000.0)
    digits = 2 if abs(value) < 10 else 1 if abs(value) < 1000 else 0
    return "%.*f %s" % (digits, value, unit)


def fmt_spread(value, sd, unit):
    if value is None or sd is None:
        return fmt(value, unit)
    text = fmt(value, unit)
    number, _, suffix = text.partition(" ")
    scale = 1000.0 if suffix == "us" and unit == "ns" else 1.0
    digits = len(number.partition(".")[2])
    return "%s ± %.*f %s" % (number, digits, sd / scale, suffix)


def ratio_spread(row):
    """value / baseline_value and its standard deviation from the two spreads (first order)."""
    value, base = row["value"], row["baseline_value"]
    if value is None or not base:
        return None, None
    ratio = value / base
    sd, base_sd = row.get("sd"), row.get("baseline_sd")
    if sd is None or base_sd is None or not value:
        return ratio, None
    return ratio, ratio * math.hypot(sd / value, base_sd / base)


def judge(row):
    """(ratio text, target text, met text)."""
    value, target = row["value"], row["target"]
    ratio, spread = ratio_spread(row)
    ratio_text = "%.2fx" % ratio if ratio is not None else "-"
    if spread is not None:
        ratio_text += " ± %.2f" % spread
    if not target:
        return ratio_text, "-", "-"
    if "ratio" in target:
        text = "<= %.1fx" % target["ratio"]
        met = ratio is not None and ratio <= target["ratio"]
    elif "equal" in target:
        text = "= %s" % fmt(target["equal"], row["unit"])
        met = value == target["equal"]
    else:
        text = "< %s" % fmt(target["max"], row["unit"])
        met = value is not None and value < target["max"]
    if value is None:
        return ratio_text, text, "not measured"
    return ratio_text, text, "met" if met else "**not met**"


def command_line(args):
    try:
        return subprocess.run(args, capture_output=True, text=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return ""


def machine():
    cpu = "unknown CPU"
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            lines = [l.split(":", 1) for l in f if ":" in l]
        fields = [(k.strip(), v.strip()) for k, v in lines]
        first = {}
        for k, v in fields:
            first.setdefault(k, v)
        count = sum(k == "processor" for k, _ in fields)
        cpu = "%s (family %s, model %s), %d logical CPUs at %.0f MHz, %s cache per core%s" % (
            first["model name"],
            first.get("cpu family", "?"),
            first.get("model", "?"),
            count,
            float(first.get("cpu MHz", "0")),
            first.get("cache size", "?"),
            ", virtual machine" if " hypervisor" in " " + first.get("flags", "") else "",
        )
    except (OSError, KeyError, ValueError):
        pass
    memory = ""
    try:
        with open("/proc/meminfo", encoding="utf-8") as f:
            kib = int(next(l for l in f if l.startswith("MemTotal")).split()[1])
        memory = ", %.0f GiB memory" % (kib / 1024.0 / 1024.0)
    except (OSError, StopIteration):
        pass
    system = platform.platform()
    try:
        with open("/etc/os-release", encoding="utf-8") as f:
            fields = dict(l.rstrip("\n").split("=", 1) for l in f if "=" in l)
        system = "%s, Linux %s" % (fields.get("PRETTY_NAME", "").strip('"'), platform.release())
    except OSError:
        pass
    compiler = command_line(["c++", "--version"]).splitlines()[:1]
    load = " ".join("%.2f" % x for x in os.getloadavg())
    return [
        "CPU: %s%s" % (cpu, memory),
        "System: %s" % system,
        "Compiler: %s; Python %s" % (compiler[0] if compiler else "unknown", platform.python_version()),
        "Load average when the report was written: %s" % load,
    ]


def render(rows, context, lines, catalogue=None):
    out = [
        "# Benchmark results",
        "",
        "Written by `scripts/bench.sh` on %s."
        % datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
        "",
    ]
    out += ["- " + l for l in machine()]
    out.append(
        "- kinetra built as Release (-O3; the pack units -O1), with -j2; the C++ "
        "benchmarks link its objects statically, the Python ones import the extension "
        "module of the same build"
    )
    if catalogue:
        out.append("- Catalogue: " + catalogue)
    out += [
        "",
        "Times are per call; a ratio is measured / baseline, both from this run. "
        "C++ figures are medians of repetitions; Python figures are pyperf means over "
        "several worker processes net of the loop around the calls, ± one standard "
        "deviation (a ratio's spread combines both sides').",
        "",
    ]
    out.append("| Group | Figure | Measured | Baseline | Baseline measured | Ratio | Target | Met |")
    out.append("|---|---|---|---|---|---|---|---|")
    notes = []
    for r in rows:
        ratio, target, met = judge(r)
        figure = r["figure"]
        if r.get("note"):
            notes.append(r["note"])
            figure += " [%d]" % len(notes)
        out.append(
            "| %s | %s | %s | %s | %s | %s | %s | %s |"
            % (
                r["group"],
                figure,
                fmt_spread(r["value"], r.get("sd"), r["unit"]),
                r["baseline"] or "-",
                fmt_spread(r["baseline_value"], r.get("baseline_sd"), r["unit"]),
                ratio,
                target,
                met,
            )
        )
    if notes:
        out.append("")
        out += ["%d. %s" % (i + 1, n) for i, n in enumerate(notes)]
    out += [""] + lines
    return "\n".join(out).rstrip("\n") + "\n"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cpp", required=True)
    parser.add_argument("--rows", nargs="*", default=[])
    parser.add_argument("--notes", help="markdown file appended to the report")
    parser.add_argument("--catalogue", help="what the measured build's catalogue holds")
    parser.add_argument("--out", required=True)
    args = parser.parse_args(argv)
    rows, context = cpp_rows(args.cpp)
    for path in args.rows:
        with open(path, encoding="utf-8") as f:
            rows += json.load(f)
    lines = []
    if args.notes and os.path.exists(args.notes):
        with open(args.notes, encoding="utf-8") as f:
            lines = f.read().splitlines()
    text = render(rows, context, lines, args.catalogue)
    with open(args.out, "w", encoding="utf-8") as f:
        f.write(text)
    sys.stdout.write(text)
    unmet = sum(judge(r)[2] == "**not met**" for r in rows)
    print("\n%d of %d targets not met" % (unmet, sum(bool(r["target"]) for r in rows)), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
