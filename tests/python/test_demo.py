"""The README's main command from a fresh clone: scripts/demo.sh --duration 20 installs the
package with the web extra, writes the gallery, plays the example show, and its stage page
answers while it runs.

The clone is fresh each time (a local `git clone` of this checkout's commit, into
build/demo-clone); its environment and build tree (build/demo-venv, build/demo-wheel) are
kept between runs, so only the first run builds the extension from nothing."""

import os
import pathlib
import queue
import shutil
import socket
import subprocess
import threading
import urllib.request

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
# the example show's remote and OSC input
PORTS = ((socket.SOCK_STREAM, 8080), (socket.SOCK_DGRAM, 9001))
FIRST_BUILD_S = 1800


def _free(kind, port):
    with socket.socket(socket.AF_INET, kind) as s:
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            return False
    return True


@pytest.mark.slow
def test_a_fresh_clone_plays_the_example_show_and_serves_the_stage_view():
    if shutil.which("git") is None or not (ROOT / ".git").exists():
        pytest.skip("needs a git checkout")
    taken = [port for kind, port in PORTS if not _free(kind, port)]
    if taken:
        pytest.skip(f"the example show's ports are taken: {taken}")
    clone = ROOT / "build" / "demo-clone"
    shutil.rmtree(clone, ignore_errors=True)
    subprocess.run(["git", "clone", "--quiet", str(ROOT), str(clone)], check=True)
    env = {
        **os.environ,
        "KINETRA_VENV": str(ROOT / "build" / "demo-venv"),
        "KINETRA_BUILD_DIR": str(ROOT / "build" / "demo-wheel"),
    }
    env.pop("PYTHONPATH", None)
    proc = subprocess.Popen(
        [str(clone / "scripts" / "demo.sh"), "--duration", "20"],
        cwd=clone,
        env=env,
        stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
        text=True,
    )
    lines: queue.Queue = queue.Queue()

    def read():
        for x in proc.stderr:
            lines.put(x)
        lines.put(None)  # the script ended

    threading.Thread(target=read, daemon=True).start()
    said = []
    try:
        while True:
            line = lines.get(timeout=FIRST_BUILD_S)
            assert line is not None, "demo.sh ended without serving the stage view:\n" + "".join(said)
            said.append(line)
            if "stage view at " in line:
                stage_url = line.split(" at ", 1)[1].strip()
                break
        page = urllib.request.urlopen(stage_url, timeout=10).read().decode()
        assert '<canvas id="stage"' in page and 'data-view="stage"' in page
        module = urllib.request.urlopen(stage_url.split("/stage")[0] + "/static/stage.js", timeout=10)
        assert b"webgl2" in module.read()
        assert proc.wait(timeout=120) == 0, "".join(said)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    assert (clone / "kinetra-gallery.html").is_file()
    assert any("web remote at http://127.0.0.1:8080/" in x for x in said), "".join(said)
    shutil.rmtree(clone, ignore_errors=True)
