import pathlib
import sys

import pytest

# The pattern generator is a build tool, not part of the installed package: make it importable.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tools"))


@pytest.fixture(scope="session")
def all_entries():
    """Every baked pattern in registry order, evaluated once for the whole test run (the
    entries are immutable)."""
    import baked

    return baked.entries()
