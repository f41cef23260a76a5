"""What the show editor costs: the bundled fixture index loaded, a cue stored from the page
and in the file, an edit's effect on the lights, and a large show saved.

    python bench/live/edit_bench.py [--report bench/RESULTS.md] [--repeats 20]

Needs the installed project with the web extra. The player runs in this process on
127.0.0.1 (sACN to a socket of its own); the page is played by a WebSocket client, as
the headless page would send the same messages.
"""

import argparse
import asyncio
import json
import os
import pathlib
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import sections  # noqa: E402
from kinetra_live import showedit  # noqa: E402

FIXTURE = """
[[fixtures]]
name = "head{k}"
output = "stage"
group = "heads"
pattern = "circle"
profile = "ofl:martin/mac-aura"
mode = "std"
universe = {u}
address = {a}
set = {{ "Beam dimmer" = 255, Shutter = 22 }}
"""
CUE = """
[[cues]]
name = "cue {k}"
quantize = "bar"
set.heads = {{ pattern = "sway", speed = "1/2", spread_beats = 0.25 }}
"""


READING = """\
Every edit is checked by the show reader on the whole new text before anything plays or is
written: on 64 heads that is about 45 ms of the figures above (the store also checks the look
being programmed, the save checks the text again before it replaces the file, and each write
is synced to the disk with the `.bak` before it). An edit reaches the lights at the first frame
after that check, so "within one frame" holds for the frame loop (the edit is taken at the start
of the next frame) but not from the message, which waits for the reader first.
"""


def show_text(fixtures: int, cues: int, port: int = 5568) -> str:
    head = (
        f'# a show of {fixtures} heads\n[show]\nname = "bench"\nfps = 40\n\n[tempo]\nbpm = 120\n\n'
        f'[outputs.stage]\ntype = "sacn"\ndestination = "127.0.0.1"\nport = {port}\n\n[groups.heads]\n'
    )
    body = "".join(FIXTURE.format(k=k, u=k // 36 + 1, a=(k % 36) * 14 + 1) for k in range(fixtures))
    return head + body + "".join(CUE.format(k=k) for k in range(cues))


def index_load(repeats: int) -> list[float]:
    code = (
        "import time; from kinetra_live import fixturelib; t = time.perf_counter(); "
        "fixturelib.index(); print(time.perf_counter() - t)"
    )
    return [float(subprocess.check_output([sys.executable, "-c", code], text=True)) for _ in range(repeats)]


def save_large(folder: str, repeats: int) -> tuple[list[float], list[float]]:
    path = os.path.join(folder, "large.toml")
    pathlib.Path(path).write_text(show_text(500, 200))
    ed = showedit.Editor(path)
    edits, saves = [], []
    for i in range(repeats):
        t = time.perf_counter()
        ed.edit("cue", {"name": "cue 0", "set": {"transition": 1 + i % 4}}, ed.version)
        edits.append(time.perf_counter() - t)
        t = time.perf_counter()
        ed.save()
        saves.append(time.perf_counter() - t)
    return edits, saves


class Player:
    """`kinetra-live` on a 64-head show in real time, with the web remote and the editor."""

    def __init__(self, folder: str):
        self.rx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.rx.bind(("127.0.0.1", 0))
        self.rx.settimeout(2.0)
        self.path = os.path.join(folder, "show.toml")
        pathlib.Path(self.path).write_text(show_text(64, 8, self.rx.getsockname()[1]))
        self.fps = 40
        self.proc = subprocess.Popen(
            [sys.executable, "-m", "kinetra_live", self.path, "--web", "127.0.0.1:0", "--duration", "600"],
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
            text=True,
        )
        line = self.proc.stderr.readline()  # "kinetra-live: web remote at URL"
        self.url = line.split(" at ", 1)[1].strip()

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)
        self.rx.close()


async def click_to_file(player: Player, repeats: int) -> tuple[list[float], list[float]]:
    """(store cue and save: from the first message to the cue in the file; an edit to the
    first sACN packet that carries it, less that packet's frame period)."""
    from websockets.asyncio.client import connect

    u = urllib.parse.urlsplit(player.url)
    stored, lights = [], []
    async with connect(f"ws://{u.netloc}/ws?{u.query}", origin=f"http://{u.netloc}", max_size=None) as ws:

        async def wait(kind):
            while True:
                m = json.loads(await ws.recv())
                if m["type"] == "error":
                    raise RuntimeError(m["message"])
                if m["type"] == kind:
                    return m

        version = (await wait("show"))["show"]["version"]
        await ws.send(json.dumps({"edit": "look", "args": {"target": "heads", "set": {"scale": 0.5}}, "version": 0}))
        version = (await wait("edited"))["version"]
        for i in range(repeats):
            name = f"stored {i}"
            t = time.perf_counter()
            await ws.send(json.dumps({"edit": "store_cue", "args": {"name": name}, "version": version}))
            version = (await wait("edited"))["version"]
            await ws.send(json.dumps({"edit": "save"}))
            await wait("edited")
            while f'"{name}"' not in pathlib.Path(player.path).read_text():
                await asyncio.sleep(0.001)
            stored.append(time.perf_counter() - t)
            await asyncio.sleep(0.3)  # a person's pace, within the page's edit rate
        period = 1 / player.fps
        for i in range(repeats):
            value = 100 + i
            while True:  # empty the receive queue
                player.rx.setblocking(False)
                try:
                    player.rx.recv(2048)
                except BlockingIOError:
                    break
            player.rx.setblocking(True)
            t = time.perf_counter()
            args = {"name": "head0", "set": {"set": {"Beam dimmer": value, "Shutter": 22}}}
            await ws.send(json.dumps({"edit": "fixture", "args": args, "version": version}))
            version = (await wait("edited"))["version"]
            while True:
                data = await asyncio.to_thread(player.rx.recv, 2048)
                # E1.31: the universe at bytes 113-114, slot 1 at byte 126
                if int.from_bytes(data[113:115], "big") == 1 and len(data) > 127 and data[127] == value:
                    break
            lights.append(max(0.0, time.perf_counter() - t - period))
            await asyncio.sleep(0.15)
    return stored, lights


def ms(values) -> str:
    return f"median {1000 * statistics.median(values):.1f} ms, largest {1000 * max(values):.1f} ms"


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--report", default=None)
    ap.add_argument("--repeats", type=int, default=20)
    args = ap.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        loads = index_load(min(args.repeats, 10))
        edits, saves = save_large(folder, min(args.repeats, 10))
        player = Player(folder)
        try:
            stored, lights = asyncio.run(click_to_file(player, args.repeats))
        finally:
            player.stop()
    rows = [
        (
            "bundled fixture index loaded (decompressed and parsed, cold process)",
            ms(loads),
            "< 100 ms",
            max(loads) < 0.1,
        ),
        (
            "store cue and save from the page, 64 heads: message to the cue in the file",
            ms(stored),
            "< 200 ms",
            max(stored) < 0.2,
        ),  # fmt: skip
        (
            "an edit's effect on the lights, 64 heads: message to the sACN packet, less one frame",
            ms(lights),
            "within one frame",
            max(lights) < 0.025,
        ),  # fmt: skip
        (
            "saving a 500-fixture, 200-cue show (checked by the reader, .bak, atomic write)",
            ms(saves),
            "< 1 s",
            max(saves) < 1.0,
        ),  # fmt: skip
        ("one edit checked on the same show (the reader runs on the whole text)", ms(edits), "-", None),
    ]
    table = "| Figure | Measured | Target | Met |\n|---|---|---|---|\n" + "".join(
        f"| {a} | {b} | {c} | {'-' if d is None else 'met' if d else 'not met'} |\n" for a, b, c, d in rows
    )
    body = (
        f"Measured by `bench/live/edit_bench.py` on {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}: "
        f"{args.repeats} repeats a figure; `kinetra-live` at 40 fps with the editor on, a WebSocket client "
        f"sending the page's messages, sACN to a socket of the benchmark. Load average before: "
        f"{os.getloadavg()[0]:.2f}.\n\n" + table + "\n" + READING
    )
    if args.report:
        sections.replace(args.report, "Show editor", body)
    print(body)


if __name__ == "__main__":
    main()
