"""Live output of kinetra patterns: a show file of fixtures, a tempo, and the
frames sent as E1.31 (sACN) to moving lights and as OSC to visuals, in time
with the music. Run `python -m kinetra_live --help`."""

__version__ = "0.1.0"
