"""The pip difference of two players in one Link session, and a tempo change by a third peer.
The audio tempo source has its own benchmark (bench/live/audio_model_bench.py, its own section).
Nothing here is a test.

    python bench/live/audio_tempo_bench.py [--report bench/RESULTS.md]
"""

from __future__ import annotations

import argparse
import pathlib
import statistics
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parents[1]
sys.path.insert(0, str(ROOT / "tests" / "python"))
sys.path.insert(0, str(HERE))

import sections  # noqa: E402

TITLE = "Audio tempo source and Link"
POINTER = 'The audio tempo source\'s figures are in the section "Audio tempo model on unseen music" below.'


def link_figures():
    import test_link_e2e as le

    why = le._why_not()
    if why:
        return None, why
    with tempfile.TemporaryDirectory() as tmp, le.namespace() as ns:
        a, b, changed, _, _ = le.run_session(ns, pathlib.Path(tmp))
    t_from = max(a[0]["t"], b[0]["t"]) + le.SETTLE_S - 0.7
    diffs = le.pip_differences(a, b, t_from, t_from + le.WINDOW_S)
    fine = []
    j = 0
    for fa in a:  # the same at sub-pip resolution: both clocks' positions
        t = fa["t"]
        if not t_from <= t <= t_from + le.WINDOW_S:
            continue
        while j + 1 < len(b) and abs(b[j + 1]["t"] - t) <= abs(b[j]["t"] - t):
            j += 1
        fine.append(abs(le.position(fa, t) - le.position(b[j], t)))
    arrivals = []
    for frames in (a, b):
        first = next(f["t"] for f in frames if f["t"] >= changed - 0.5 and abs(f["bpm"] - le.NEW_BPM) < 0.01)
        arrivals.append(first - changed)
    return dict(
        n=len(diffs),
        median=statistics.median(abs(d) for d in diffs),
        largest=max(abs(d) for d in diffs),
        fine_median=statistics.median(fine),
        fine_largest=max(fine),
        arrivals=arrivals,
    ), None


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--report", default=str(ROOT / "bench" / "RESULTS.md"))
    args = p.parse_args(argv)
    t_start = time.time()
    link, link_why = link_figures()
    lines = [POINTER, ""]
    if link is not None:
        lines.append(
            f"Link: two `kinetra-live` players and a plain aalink peer in a network namespace, 128 BPM: "
            f"pip difference at the same moment over 20 s ({link['n']} frames): median "
            f"{link['median']} pip, largest {link['largest']} pip (positions before rounding: median "
            f"{link['fine_median']:.3f}, largest {link['fine_largest']:.3f} pip). A tempo change to 140 BPM "
            f"by the third peer reached the players after {1000 * link['arrivals'][0]:.0f} ms and "
            f"{1000 * link['arrivals'][1]:.0f} ms (target: within one beat, 469 ms)."
        )
    else:
        lines.append(f"Link: not measured ({link_why}).")
    lines.append("")
    lines.append(f"The whole run took {time.time() - t_start:.0f} s.")
    text = "\n".join(lines)
    print(text)
    sections.replace(args.report, TITLE, text)


if __name__ == "__main__":
    main()
