import pathlib
import sys

# The pattern generator is a build tool, not part of the installed package: make it importable.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tools"))
