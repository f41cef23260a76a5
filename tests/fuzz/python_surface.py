"""Fuzz target over the Python surface of kinetra (atheris).

Constructor and call arguments are built from the fuzz data: well-formed values, values of the
wrong type, objects whose conversions raise, huge ints, lone surrogates, generators. Only the
specified exception types may escape, with one of the specified messages for ValueError and
IndexError, and nothing may crash.

    python tests/fuzz/python_surface.py CORPUS_DIR -max_total_time=60   # fuzz
    python tests/fuzz/python_surface.py FILE...                          # replay inputs
"""

import sys

import atheris
import kinetra
from hostile import Claims, Raises

VALUE_MESSAGES = {
    "Invalid pattern name",
    "A pattern requires 1..65535 samples (one per pip)",
    "Pattern samples must be finite and within [-1, 1]",
    "Too many patterns",
    "Empty/moved-from pattern",
    "Pattern pack is too large",
    "Invalid identifier",
    "A finite positive BPM and beat origin are required",
    "Empty recording or recording resource limit exceeded",
    "Duplicate axis",
    "Ragged recording",
    "Invalid sample",
}
VALUE_PREFIXES = ("Duplicate pattern name: ", "Cannot override default pattern: ", "Unknown dance rudiment: ")
INDEX_MESSAGES = {"Pip outside non-looping recording"}


def number(fdp):
    kind = fdp.ConsumeIntInRange(0, 11)
    if kind == 0:
        return fdp.ConsumeInt(4)
    if kind == 1:
        return 10 ** fdp.ConsumeIntInRange(0, 400)
    if kind == 2:
        return fdp.ConsumeUnicodeNoSurrogates(3)
    if kind == 3:
        return None
    if kind == 4:
        return Raises()
    if kind == 5:
        return fdp.ConsumeBool()
    if kind == 6:
        return fdp.PickValueInList([float("nan"), float("inf"), -float("inf"), -0.0, 1.0, -1.0])
    if kind == 7:
        return fdp.ConsumeFloat()
    return fdp.ConsumeFloatInRange(-1.0, 1.0)


def text(fdp):
    kind = fdp.ConsumeIntInRange(0, 5)
    if kind == 0:
        return fdp.ConsumeUnicode(8)  # may hold lone surrogates
    if kind == 1:
        return fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 8))
    if kind == 2:
        return bytearray(fdp.ConsumeBytes(4))
    if kind == 3:
        return fdp.PickValueInList(["x", "y", "hop", "bounce", "lfo_breathe", "a" * 128, "a" * 129, 3])
    return fdp.PickValueInList(["walk", "x", "z", "X"]) + fdp.ConsumeUnicodeNoSurrogates(2)


def collection(fdp, item, most=6):
    items = [item(fdp) for _ in range(fdp.ConsumeIntInRange(0, most))]
    kind = fdp.ConsumeIntInRange(0, 7)
    if kind == 0:
        return tuple(items)
    if kind == 1:
        return (i for i in items)
    if kind == 2:
        return Claims(fdp.PickValueInList([2, 3, 2**31, 2**62]), items[0] if items else 0)
    if kind == 3:
        return "xyz"
    if kind == 4:
        return map(lambda v: v, items)
    return items


def pip(fdp):
    return fdp.PickValueInList([0, 1, -1, 2**31 - 1, -(2**31), 2**31, True, 2.0, None, Raises(), fdp.ConsumeInt(4)])


def pattern(fdp):
    rows = collection(fdp, lambda f: collection(f, number, 4), 8)
    return kinetra.SampledPattern(text(fdp), text(fdp), rows)


def check(fdp):
    op = fdp.ConsumeIntInRange(0, 5)
    if op == 0:
        p = pattern(fdp)
        p.sample(pip(fdp))
        p.name, p.description, p.period_pips
    elif op == 1:
        valid = [
            kinetra.SampledPattern(fdp.PickValueInList(["hop", "sway", "x"]), "", [(0.0, 0.5, 0.0)])
            for _ in range(fdp.ConsumeIntInRange(0, 3))
        ]
        patterns = valid + [fdp.PickValueInList([None, "hop", 1]) for _ in range(fdp.ConsumeIntInRange(0, 1))]
        library = kinetra.PatternLibrary(patterns if fdp.ConsumeBool() else tuple(patterns))
        library.sample(text(fdp), pip(fdp))
        library.catalogue()
    elif op == 2:
        args = [
            text(fdp),
            collection(fdp, text, 4),
            collection(fdp, lambda f: collection(f, number, 4), 6),
            number(fdp),
        ]
        if fdp.ConsumeBool():
            args += [number(fdp), pip(fdp)]
        recording = kinetra.SampledRecording(*args)
        recording.sample(pip(fdp))
        recording.dimensions, recording.sample_count, recording.bpm
    elif op == 3:
        kinetra.sample(text(fdp), pip(fdp))
    elif op == 4:
        getattr(kinetra, fdp.PickValueInList(["bounce", "helix", "flam", "clay_background"]))(pip(fdp))
    else:
        cls = fdp.PickValueInList(
            [kinetra.Offset3, kinetra.SampledPattern, kinetra.PatternLibrary, kinetra.SampledRecording]
        )
        fdp.PickValueInList(
            [
                lambda: cls.__new__(cls),
                lambda: cls.__base__(),
                lambda: cls.__base__.__new__(cls),
                lambda: object.__new__(cls),
            ]
        )()


def TestOneInput(data):
    fdp = atheris.FuzzedDataProvider(data)
    try:
        check(fdp)
    except (TypeError, UnicodeDecodeError):
        pass
    except ValueError as e:
        message = str(e)
        if message not in VALUE_MESSAGES and not message.startswith(VALUE_PREFIXES):
            raise
    except IndexError as e:
        if str(e) not in INDEX_MESSAGES:
            raise


if __name__ == "__main__":
    # The module is native code; coverage comes from the branches of the builders above.
    for function in (number, text, collection, pip, pattern, check, TestOneInput):
        atheris.instrument_func(function)
    atheris.Setup(sys.argv, TestOneInput)
    atheris.Fuzz()
