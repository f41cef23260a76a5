"""Hostile and careless calls: each runs in a fresh interpreter, so that a crash fails the test
instead of ending the run, and a refusal's memory is measured on its own."""

import importlib.util
import json
import pathlib
import subprocess
import sys
import textwrap

import pytest

CLASSES = ["Offset3", "SampledPattern", "PatternLibrary", "SampledRecording"]

# One instance of each class, made in the child interpreter.
MAKE = {
    "Offset3": "kinetra.bounce(3)",
    "SampledPattern": "kinetra.SampledPattern('hop', '', [(0.0, 0.5, 0.0)])",
    "PatternLibrary": "kinetra.PatternLibrary([])",
    "SampledRecording": "kinetra.SampledRecording('walk', ['x'], [[0.5]], 120)",
}

PATTERN_COUNT = "A pattern requires 1..65535 samples (one per pip)"
RECORDING_SIZE = "Empty recording or recording resource limit exceeded"


def run(code, timeout=60):
    """Runs code after `import kinetra` in a new interpreter; returns what it printed as JSON."""
    script = "import json, kinetra\n" + textwrap.dedent(code)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=timeout, env=None)
    assert done.returncode == 0, f"exit {done.returncode}\n{done.stderr[-2000:]}"
    return json.loads(done.stdout.strip().splitlines()[-1])


OUTCOME = """
def outcome(call):
    try:
        call()
    except BaseException as e:
        cause = type(e.__cause__).__name__ if e.__cause__ is not None else None
        return [type(e).__name__, str(e), cause]
    return ["ok", "", None]
"""


@pytest.mark.parametrize("cls", CLASSES)
@pytest.mark.parametrize("how", ["pickle0", "pickle1", "pickle2", "pickle5", "copy", "deepcopy"])
def test_pickling_and_copying_refuse_cleanly(cls, how):
    call = {
        "pickle0": "pickle.dumps(obj, 0)",
        "pickle1": "pickle.dumps(obj, 1)",
        "pickle2": "pickle.dumps(obj, 2)",
        "pickle5": "pickle.dumps(obj, 5)",
        "copy": "copy.copy(obj)",
        "deepcopy": "copy.deepcopy(obj)",
    }[how]
    result = run(
        OUTCOME
        + f"""
import copy, pickle
obj = {MAKE[cls]}
print(json.dumps(outcome(lambda: {call})))
"""
    )
    assert result[0] == "TypeError"


@pytest.mark.parametrize("cls", CLASSES)
@pytest.mark.parametrize(
    "call",
    [
        "cls.__base__()",
        "cls.__base__.__new__(cls)",
        "object.__new__(cls)",
        "cls.__new__(cls)",
        "Sub.__new__(Sub)",
        "cls.__base__.__new__(Sub)",
    ],
)
def test_no_instance_without_its_constructor(cls, call):
    result = run(
        OUTCOME
        + f"""
cls = kinetra.{cls}
class Sub(cls):
    pass
print(json.dumps(outcome(lambda: {call})))
"""
    )
    assert result[0] == "TypeError"


def test_subclasses_construct_and_work():
    result = run("""
class Hop(kinetra.SampledPattern):
    __slots__ = ()
    def doubled(self):
        return 2 * self.period_pips
class Walk(kinetra.SampledRecording):
    pass
class Lib(kinetra.PatternLibrary):
    pass
class Half(kinetra.SampledPattern):
    def __init__(self):
        pass
hop = Hop("hop", "", [(0.0, 0.5, 0.0), (0.0, -0.5, 0.0)])
lib = Lib([hop, kinetra.SampledPattern("dot", "", [(0.25, 0.0, 0.0)])])
walk = Walk("walk", ["x", "y"], [[0.0, 0.5]], 120, start_pip=4)
try:
    Half()
    half = "built"
except TypeError:
    half = "refused"
print(json.dumps([hop.sample(3).as_tuple(), hop.doubled(), lib.sample("hop", 1).as_tuple(),
                  lib.catalogue()[-2]["name"], walk.sample(4), isinstance(walk, kinetra.SampledRecording),
                  half]))
""")
    assert result == [[0.0, -0.5, 0.0], 4, [0.0, -0.5, 0.0], "hop", [0.0, 0.5], True, "refused"]


# Each refusal: the class, its arguments (built before the measurement), its message, and the
# most memory it may add (MiB). The inputs are a few MiB, their expansion up to gigabytes.
REFUSALS = [
    ("PatternLibrary", "[p] * 60000,", "Too many patterns", 16),
    ("PatternLibrary", "[p] * 2**22,", "Too many patterns", 16),
    ("PatternLibrary", "[big] * 1024,", "Duplicate pattern name: big", 64),
    ("SampledPattern", "'a', '', [(0.0, 0.0, 0.0)] * 2**22", PATTERN_COUNT, 16),
    ("SampledPattern", "'A', '', [(0.0, 0.0, 0.0)] * 70000", "Invalid pattern name", 16),
    ("SampledRecording", "'a', ['x'], [row] * 4096, 120", "Ragged recording", 96),
    ("SampledRecording", "'a', ['x'], [[0.0]] * (2**23 + 1), 120", RECORDING_SIZE, 16),
    ("SampledRecording", "'a', ['x'] * (2**23 + 1), [[0.0]], 120", RECORDING_SIZE, 16),
    ("SampledRecording", "'a', ['x', 'x'] * 2**22, [row], 120", "Duplicate axis", 16),
    ("SampledRecording", "'a', ['x' * 200] * 2**22, [[0.0] * 2**22], 120", "Invalid identifier", 80),
    ("SampledRecording", "'a', ['x', 'y'], [[0.0]] * 2**22, 120", "Ragged recording", 160),
    ("SampledRecording", "'a', ['x'], [row * 200] + [[0.0]] * (2**23 - 10), 120", "Ragged recording", 160),
    ("SampledRecording", "'a', ['x'], [row * 200] + [[0.0]] * 2**23, 120", RECORDING_SIZE, 16),
    ("SampledRecording", "'a', ['x'], [[2.0]] + [row] * 4096, 120", "Invalid sample", 96),
    ("SampledRecording", "'a', ['x'], [[0.0]] * 2**22, 0", "A finite positive BPM and beat origin are required", 160),
]


@pytest.mark.parametrize("cls, args, message, most", REFUSALS, ids=[r[2][:20] for r in REFUSALS])
def test_refusals_cost_little_more_than_their_input(cls, args, message, most):
    result = run(
        OUTCOME
        + f"""
import resource
p = kinetra.SampledPattern('p', '', [(0.0, 0.0, 0.0)] * 1000)
big = kinetra.SampledPattern('big', '', [(0.0, 0.0, 0.0)] * 65535)
row = [0.0] * 65536
args = ({args})
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
got = outcome(lambda: kinetra.{cls}(*args))
after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(json.dumps(got + [(after - before) / 1024]))
"""
    )
    assert result[:2] == ["ValueError", message]
    assert result[3] < most, f"{result[3]:.0f} MiB"


# The hostile argument classes, importable in the child interpreter.
HOSTILE = f"""
import sys
sys.path.insert(0, {str(pathlib.Path(__file__).resolve().parents[1] / "fuzz")!r})
from hostile import BadIter, Claims, Raises
"""


# Conversions that fail in the caller's own objects: TypeError, with that failure as its cause.
CAUSES = [
    ("kinetra.SampledRecording('a', ['x'], [[0.0]], 120, 0, Raises())", "ZeroDivisionError"),
    ("kinetra.SampledRecording('a', ['x'], [[Raises()]], 120)", "ZeroDivisionError"),
    ("kinetra.SampledPattern('a', '', [(Raises(), 0, 0)])", "ZeroDivisionError"),
    ("kinetra.SampledPattern('a\\udc80', '', [(0, 0, 0)])", "UnicodeEncodeError"),
    ("kinetra.SampledRecording('a', ['x\\ud800'], [[0.0]], 120)", "UnicodeEncodeError"),
    ("kinetra.SampledRecording('a', ['x'], [[0.0]], 10**400)", "OverflowError"),
    ("kinetra.SampledRecording('a', ['x'], [[0.0]], 120, 0, 10**400)", "OverflowError"),
    ("kinetra.SampledRecording('a', ['x'], [[0.0]], 120, 0, 2**31)", "OverflowError"),
    ("kinetra.SampledPattern('a', '', [(0, 0, 0)]).sample(Raises())", "ZeroDivisionError"),
    ("kinetra.PatternLibrary(BadIter())", "ZeroDivisionError"),
]


@pytest.mark.parametrize("expression, cause", CAUSES)
def test_conversion_errors_keep_their_cause(expression, cause):
    result = run(OUTCOME + HOSTILE + f"print(json.dumps(outcome(lambda: {expression})))")
    assert result[0] == "TypeError" and result[2] == cause


@pytest.mark.parametrize(
    "expression, message",
    [
        ("kinetra.SampledPattern('a', '', Claims(2**62, (0, 0, 0)))", PATTERN_COUNT),
        ("kinetra.PatternLibrary(Claims(2**62, None))", "Too many patterns"),
        ("kinetra.SampledRecording('a', Claims(2**62, 'x'), [[0.0]], 120)", RECORDING_SIZE),
        ("kinetra.SampledRecording('a', ['x'], Claims(2**62, [0.0]), 120)", RECORDING_SIZE),
    ],
)
def test_a_huge_reported_length_is_a_size_refusal(expression, message):
    result = run(OUTCOME + HOSTILE + f"print(json.dumps(outcome(lambda: {expression})))")
    assert result[:2] == ["ValueError", message]


def test_wrong_types_are_still_type_errors_in_bounded_inputs():
    result = run(
        OUTCOME
        + """
p = kinetra.SampledPattern('p', '', [(0.0, 0.0, 0.0)])
print(json.dumps([outcome(lambda: kinetra.PatternLibrary([p] * 1000 + ["x"]))[0],
                  outcome(lambda: kinetra.SampledPattern("A", "", [(0, 0, 0)] * 100 + [("0", 0, 0)]))[0],
                  outcome(lambda: kinetra.SampledRecording("a", ["x"], [[0.0]] * 100 + [["0"]], 0))[0],
                  outcome(lambda: kinetra.SampledRecording("a", "xy", [[0.0]], 120))[0]]))
"""
    )
    assert result == ["TypeError"] * 4


@pytest.mark.parametrize("target", ["python_surface", "show_file"])
def test_python_fuzz_corpus_replays_cleanly(target):
    if importlib.util.find_spec("atheris") is None:
        pytest.skip("atheris is not installed")
    root = pathlib.Path(__file__).resolve().parents[2] / "tests" / "fuzz"
    inputs = sorted(str(p) for p in (root / "corpus" / target).iterdir())
    assert inputs, "the corpus is empty"  # with no inputs the target would fuzz instead
    done = subprocess.run(
        [sys.executable, str(root / f"{target}.py"), *inputs], capture_output=True, text=True, timeout=300
    )
    assert done.returncode == 0, done.stderr[-3000:]
