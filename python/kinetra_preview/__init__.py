"""Preview of kinetra patterns: a self-contained HTML gallery of the whole
catalogue, a large animated view of any pattern, and a text view for
terminals. Run `python -m kinetra_preview --help`."""

__version__ = "0.1.0"
