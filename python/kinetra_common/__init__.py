"""Code the companions share: the pattern-file reader and the units of musical time."""
