"""Regenerate docs/web-remote-phone.png: the web remote of the example show on a phone-sized
viewport, a cue queued for the next bar.

    python docs/make_web_screenshot.py [--chromium /usr/bin/chromium]

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
import time

from playwright.sync_api import sync_playwright

HERE = pathlib.Path(__file__).resolve().parent
SHOW = HERE.parent / "examples" / "four-heads.toml"


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--chromium", default=shutil.which("chromium") or "/usr/bin/chromium")
    args = ap.parse_args()
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    proc = subprocess.Popen(
        [sys.executable, "-m", "kinetra_live", str(SHOW), "--web", f"127.0.0.1:{port}", "--duration", "60"],
        stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
        text=True,
    )
    try:
        url = next(line for line in proc.stderr if "web remote at" in line).split(" at ", 1)[1].strip()
        with sync_playwright() as pw:
            browser = pw.chromium.launch(executable_path=args.chromium, args=["--no-sandbox"])
            pg = browser.new_context(
                viewport={"width": 390, "height": 844}, device_scale_factor=2, is_mobile=True, has_touch=True
            ).new_page()
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
            browser.close()
    finally:
        proc.send_signal(signal.SIGINT)
        proc.communicate(timeout=20)
    print(f"{HERE / 'web-remote-phone.png'}: {(HERE / 'web-remote-phone.png').stat().st_size} bytes")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
