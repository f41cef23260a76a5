"""Prints where a few patterns put the point over one beat, at a given tempo."""

import argparse

import kinetra

PATTERNS = ("bounce", "circle", "single_paradiddle", "lfo_breathe")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bpm", type=float, default=120.0, help="tempo in beats per minute")
    parser.add_argument("--steps", type=int, default=8, help="positions printed per beat")
    args = parser.parse_args()

    seconds_per_pip = 60.0 / args.bpm / kinetra.PIPS_PER_BEAT
    stride = kinetra.PIPS_PER_BEAT // args.steps
    print(f"One beat at {args.bpm:g} BPM ({kinetra.PIPS_PER_BEAT} pips, {seconds_per_pip * 1000:.3f} ms per pip)")
    for name in PATTERNS:
        print(f"\n{name}")
        print("   pip    time s        x        y        z")
        for pip in range(0, kinetra.PIPS_PER_BEAT + 1, stride):
            x, y, z = kinetra.sample(name, pip).as_tuple()
            print(f"  {pip:4d}  {pip * seconds_per_pip:8.4f}  {x:+.4f}  {y:+.4f}  {z:+.4f}")


if __name__ == "__main__":
    main()
