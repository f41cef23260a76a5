"""Network namespaces that the tests make for themselves: loopback up, and a veth pair
holding an address of 127/8 that the namespace routes as local (for programs that skip
loopback interfaces, such as olad and Link's peer discovery)."""

import contextlib
import os
import shutil
import subprocess


def why_not() -> str | None:
    """Why no namespace can be made here, or None."""
    if os.geteuid() != 0:
        return "a network namespace needs root"
    if shutil.which("ip") is None or shutil.which("unshare") is None:
        return "ip or unshare not installed"
    probe = subprocess.run(["unshare", "--net", "true"], capture_output=True, text=True)
    if probe.returncode != 0:
        return f"network namespaces are not permitted here: {probe.stderr.strip()}"
    return None


@contextlib.contextmanager
def veth_namespace(prefix: str, address: str, more: tuple = ()):
    """A namespace named after `prefix` and this process, with `address`/24 (and the `more`
    addresses) on a veth interface kl0, its broadcast address set; deleted on the way out."""
    name = f"{prefix}-{os.getpid()}"
    subprocess.run(["ip", "netns", "add", name], check=True)
    try:

        def sh(*cmd):
            subprocess.run(["ip", "-n", name, *cmd], check=True)

        sh("link", "set", "lo", "up")
        sh("link", "add", "kl0", "type", "veth", "peer", "name", "kl1")
        for a in (address, *more):
            sh("addr", "add", f"{a}/24", "brd", "+", "dev", "kl0")
        sh("link", "set", "kl0", "up")
        sh("link", "set", "kl1", "up")
        # 127.x on a non-loopback interface: let the namespace route it (looped-back multicast included)
        subprocess.run(
            [
                "ip",
                "netns",
                "exec",
                name,
                "sysctl",
                "-q",
                "-w",
                "net.ipv4.conf.all.route_localnet=1",
                "net.ipv4.conf.kl0.route_localnet=1",
            ],
            check=True,
        )
        yield name
    finally:
        subprocess.run(["ip", "netns", "delete", name])
