"""Two minutes of the soak benchmark (bench/live/soak.py): the example show in real time with
a cue every beat, OSC input at 100 messages a second, three web clients (one stalled), a frame
log and the state file. Resources must hold still; the frame gaps are reported, not judged
(they are the shared machine's; the hour-long figures are in bench/RESULTS.md)."""

import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "bench" / "live"))


@pytest.mark.slow
def test_two_minutes_of_the_soak_hold_memory_descriptors_and_threads(capsys):
    import soak

    result = soak.soak(2.0, sample_s=20.0, say=lambda line: None)
    rows = result["rows"]
    assert result["returncode"] == 0, result["stderr"][-2000:]
    assert len(rows) == 6 and result["state_ok"] and not result["reader_errors"]
    v = soak.verdict(result)
    # a sample may catch the state writer with its temporary file and folder open: two at most
    assert v["fds"][-1] - v["fds"][0] <= 2 and len(v["threads"]) == 1, rows
    assert max(r["rss_mib"] for r in rows[1:]) - rows[1]["rss_mib"] < soak.RSS_GROWTH_MIB
    assert all(r["frames"] > 0.5 * 40 * 20 for r in rows)  # it played, minute after minute
    assert rows[-1]["web_states"] > rows[0]["web_states"] > 0 and rows[-1]["osc_sent"] > 100 * 100
    assert "Traceback" not in result["stderr"]
    with capsys.disabled():
        print("\n" + soak.report(result, 2.0))
