"""Regenerate docs/web-remote-phone.png (the web remote of the example show on a phone-sized
viewport, a cue queued for the next bar), docs/stage-desktop.png (the stage view at 1280x800)
and docs/stage-phone.png (the stage view on the phone).

    python docs/make_web_screenshots.py [--chromium /usr/bin/chromium]

Needs the installed project with the web extra, Playwright and Debian's chromium. The MIDI
input of the example is off on a machine without a MIDI system, which changes nothing here.
"""

import argparse
import pathlib
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

from playwright.sync_api import sync_playwright

HERE = pathlib.Path(__file__).resolve().parent
SHOW = HERE.parent / "examples" / "four-heads.toml"
# WebGL2 in software where the machine has no GPU
CHROMIUM_ARGS = ["--no-sandbox", "--use-gl=angle", "--use-angle=swiftshader", "--enable-unsafe-swiftshader"]


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--chromium", default=shutil.which("chromium") or "/usr/bin/chromium")
    args = ap.parse_args()
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    # the example's OSC input on a free port, so that a running show elsewhere does not matter
    tmp = tempfile.TemporaryDirectory()
    show = pathlib.Path(tmp.name) / "four-heads.toml"
    show.write_text(SHOW.read_text(encoding="utf-8").replace("port = 9001", "port = 0"), encoding="utf-8")
    proc = subprocess.Popen(
        [sys.executable, "-m", "kinetra_live", str(show), "--web", f"127.0.0.1:{port}", "--duration", "60"],
        stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
        text=True,
    )
    try:
        url = next(line for line in proc.stderr if "web remote at" in line).split(" at ", 1)[1].strip()
        with sync_playwright() as pw:
            browser = pw.chromium.launch(executable_path=args.chromium, args=CHROMIUM_ARGS)
            phone = browser.new_context(
                viewport={"width": 390, "height": 844}, device_scale_factor=2, is_mobile=True, has_touch=True
            )
            pg = phone.new_page()
            pg.goto(url)
            time.sleep(2.5)
            pg.locator('button.cue[data-cue="intro"]').click()
            time.sleep(2.5)  # lands on its bar
            pg.evaluate("""() => new Promise((done) => {
              const b = document.querySelector('button.cue[data-cue="half time"]');
              b.click();
              const poll = () => b.dataset.state === "queued" && !b.classList.contains("blink")
                ? done() : requestAnimationFrame(poll);
              poll();
            })""")
            pg.screenshot(path=str(HERE / "web-remote-phone.png"))
            stage_url = url.replace("/?", "/stage?") if "?" in url else url + "stage"
            desk = browser.new_page(viewport={"width": 1280, "height": 800})
            desk.goto(stage_url)
            time.sleep(2.0)
            desk.evaluate("() => { const c = window.stageView.camera; c.yaw = 0.55; c.pitch = 0.3; c.dist *= 0.85; }")
            time.sleep(1.0)
            desk.screenshot(path=str(HERE / "stage-desktop.png"))
            small = phone.new_page()
            small.goto(stage_url)
            time.sleep(3.0)
            small.screenshot(path=str(HERE / "stage-phone.png"))
            browser.close()
    finally:
        proc.send_signal(signal.SIGINT)
        proc.communicate(timeout=20)
        tmp.cleanup()
    for name in ("web-remote-phone.png", "stage-desktop.png", "stage-phone.png"):
        print(f"{HERE / name}: {(HERE / name).stat().st_size} bytes")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
