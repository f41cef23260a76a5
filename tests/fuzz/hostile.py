"""Hostile arguments for the Python surface, shared by the fuzz target python_surface.py and the
hardening tests (tests/python/test_hardening.py)."""


class Raises:
    """A number whose conversions fail."""

    def __index__(self):
        raise ZeroDivisionError("index")

    def __float__(self):
        raise ZeroDivisionError("float")


class Claims:
    """A sequence that reports a length it does not have: it holds two items."""

    def __init__(self, length, item):
        self.length, self.item = length, item

    def __len__(self):
        return self.length

    def __getitem__(self, i):
        if i >= 2:
            raise IndexError(i)
        return self.item


class BadIter:
    """A sequence of length 1 whose item cannot be read."""

    def __len__(self):
        return 1

    def __getitem__(self, i):
        raise ZeroDivisionError("item")
