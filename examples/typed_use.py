"""Typed use of kinetra: checked by mypy and pyright in the test suite, and runnable as is.

python examples/typed_use.py
"""

import kinetra


def positions(name: str, beats: int) -> list[tuple[float, float, float]]:
    """The point at every sixteenth of the first `beats` beats of a pattern."""
    step = kinetra.PIPS_PER_BEAT // 4
    return [kinetra.sample(name, pip).as_tuple() for pip in range(0, beats * kinetra.PIPS_PER_BEAT, step)]


def longest_builtin() -> tuple[str, int]:
    rows = kinetra.catalogue()
    row = max(rows, key=lambda r: r["period_pips"])
    return row["name"], row["period_pips"]


def walk_library() -> kinetra.PatternLibrary:
    rows = [(i / 64.0, 0.0, 0.0) for i in range(64)]
    walk = kinetra.SampledPattern("walk", "A one-beat lateral walk", rows)
    return kinetra.PatternLibrary([walk])


def main() -> None:
    offset: kinetra.Offset3 = kinetra.circle(16)
    x: float = offset.x
    print("circle(16).x =", x)
    print("figure_eight over one beat:", positions("figure_eight", 1))
    print("longest built-in:", longest_builtin())
    library = walk_library()
    print("walk at pip 32:", library.sample("walk", 32).as_tuple())
    recording = kinetra.SampledRecording("take", ["x", "y"], [[0.0, 0.5], [1.0, -1.0]], 120)
    values: list[float] = recording.sample(1)
    print("recording row 1:", values, "of", recording.sample_count)


if __name__ == "__main__":
    main()
