"""Kill the player with SIGKILL at random moments and start it again, CYCLES times, while
OSC commands stream in; print what each state file held (as JSON on stdout).

    python kill_cycles.py SHOW STATE CYCLES SEED

Each player is a fork of this process after the show is loaded, so a cycle costs the
player's own start and its run, not an interpreter and its imports. The player (the real
Runner, its OSC input and its state writer) tells this process through a pipe when it
listens and what it resumed; the commands set the size master to a new value each time,
so the value in the state file says which was the last command it kept.
"""

import json
import os
import random
import select
import signal
import socket
import sys
import time

from kinetra_live import runner, showfile
from kinetra_live import state as saved

STEP_S = 0.02  # a command this often
MAX_RUN_S = 0.9  # the kill comes at a random moment up to this long after the fork


def child(show, path, w) -> None:
    try:
        r = runner.Runner(show, state_file=path)
        osc = next(p for p in r.inputs if hasattr(p, "port") and hasattr(p, "accepted"))
        os.write(w, (json.dumps({"port": osc.port, "size": r.engine.size_to, "warnings": r.warnings}) + "\n").encode())
        r.run(30.0)
    finally:
        os._exit(0)


def main() -> int:
    show_path, path, cycles, seed = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    rng = random.Random(seed)
    show = showfile.load(show_path)
    out = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    from pythonosc.osc_message_builder import OscMessageBuilder

    def size_message(value: float) -> bytes:
        b = OscMessageBuilder(address="/kinetra/size")
        b.add_arg(value, "f")
        return b.build().dgram

    results = []
    k = 0
    previous = None  # the size in the state file after the last kill
    for cycle in range(cycles):
        r, w = os.pipe()
        pid = os.fork()
        if pid == 0:
            os.close(r)
            child(show, path, w)
        os.close(w)
        start = time.monotonic()
        kill_at = start + rng.uniform(0.0, MAX_RUN_S)
        ready, sent, buf = None, [], b""
        while time.monotonic() < kill_at:
            wait = min(STEP_S, max(0.0, kill_at - time.monotonic()))
            if ready is None:
                if select.select([r], [], [], wait)[0]:
                    buf += os.read(r, 65536)
                    if b"\n" in buf:
                        ready = json.loads(buf.split(b"\n", 1)[0])
                continue
            k += 1
            value = (k % 1000) / 1000.0
            out.sendto(size_message(value), ("127.0.0.1", ready["port"]))
            sent.append((round(value * 1000), time.monotonic()))
            time.sleep(wait)
        os.kill(pid, signal.SIGKILL)
        killed = time.monotonic()
        os.waitpid(pid, 0)
        os.close(r)
        try:
            with open(path, encoding="utf-8") as fh:
                data = json.load(fh)
            readable = data["format"] == saved.FORMAT
            size = round(data["masters"]["size"] * 1000)
        except FileNotFoundError:
            readable, size = None, None
        except (OSError, ValueError, KeyError, TypeError):
            readable, size = False, None
        # how far before the kill the file's knowledge ends: the first command it does not hold
        kept = [i for i, (v, _) in enumerate(sent) if v == size]
        first_lost = kept[-1] + 1 if kept else 0
        lost_s = killed - sent[first_lost][1] if first_lost < len(sent) else 0.0
        results.append(
            {
                "cycle": cycle,
                "ran_s": killed - start,
                "ready": ready is not None,
                "resumed": None if ready is None else round(ready["size"] * 1000),
                "expected_resume": previous,
                "warnings": [] if ready is None else ready["warnings"],
                "sent": len(sent),
                "readable": readable,
                "lost_s": lost_s,
            }
        )
        if size is not None:
            previous = size
    leftovers = [f for f in os.listdir(os.path.dirname(path)) if f.endswith(".tmp")]
    print(json.dumps({"cycles": results, "leftovers": leftovers}))
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
