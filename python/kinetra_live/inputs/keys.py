"""Single key presses from the terminal, without echo, while the show runs."""

from __future__ import annotations

import os
import select

from ..commands import Command

# key -> (command, argument)
NUDGE_S = 0.010
TEMPO_STEP = 0.1
SIZE_STEP = 0.1
KEYS = {
    " ": ("tap", None),
    "\n": ("resync", None),
    "\r": ("resync", None),
    ",": ("nudge", -NUDGE_S),
    "<": ("nudge", -NUDGE_S),
    ".": ("nudge", NUDGE_S),
    ">": ("nudge", NUDGE_S),
    "-": ("tempo", -TEMPO_STEP),
    "_": ("tempo", -TEMPO_STEP),
    "+": ("tempo", TEMPO_STEP),
    "=": ("tempo", TEMPO_STEP),
    "*": ("double", None),
    "/": ("half", None),
    "$": ("lock", None),
    "!": ("hold", None),
    "@": ("home", None),
    "#": ("blackout", None),
    "[": ("size", -SIZE_STEP),
    "]": ("size", SIZE_STEP),
    "\x7f": ("release", None),
    "q": ("quit", None),
    "Q": ("quit", None),
}
HELP = (
    "space: tap  enter: resync  , .: nudge -/+10 ms  - +: tempo -/+0.1  * /: x2 /2  $: lock tempo  "
    "! hold  @ home  # blackout  [ ]: size  backspace: release  q: quit"
)


def commands_for(text: str, cue_keys: dict, size: float) -> list[Command]:
    """Commands for keys pressed; `size` is the size master now (the brackets step it)."""
    out = []
    for ch in text:
        if ch in cue_keys:
            out.append(Command("cue", cue_keys[ch], "keys"))
        elif ch in KEYS:
            name, arg = KEYS[ch]
            if name == "size":
                size = min(1.0, max(0.0, round(size + arg, 3)))
                arg = size
            out.append(Command(name, arg, "keys"))
    return out


class Keys:
    def __init__(self, stream):
        import termios
        import tty

        self.fd = stream.fileno()
        self.saved = termios.tcgetattr(self.fd)
        tty.setcbreak(self.fd)

    def wait(self, timeout: float) -> str:
        """Keys pressed within `timeout` seconds ("" when none)."""
        try:
            ready, _, _ = select.select([self.fd], [], [], max(0.0, timeout))
        except InterruptedError:
            return ""
        if not ready:
            return ""
        data = os.read(self.fd, 64)
        if not data:
            return "q"  # the terminal is gone
        return data.decode("utf-8", "replace")

    def close(self) -> None:
        import termios

        termios.tcsetattr(self.fd, termios.TCSADRAIN, self.saved)
