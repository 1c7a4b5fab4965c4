"""A site of several hosts on one machine, for the tests of what crosses
hosts: each "host" is a network namespace of its own with one interface
(eth0) on a bridge that sits in a further namespace, addresses of
192.0.2.0/24 (TEST-NET-1). Nothing of the machine's own namespace is
touched: every link is made inside the namespaces, and every process runs
there (`ip netns exec`).

    with Site(["names", "server", "client"]) as site:
        site.address("names")                  # 192.0.2.11
        site.start("names", ["omniNames", ...])
        site.run("client", [python, "-c", ...])

Needs root and iproute2; Site.unavailable() says why a site cannot be made
here (the tests skip with that reason). Everything is removed on leaving
the block, also after a failure: the processes started in the namespaces
(SIGTERM, a bounded wait, SIGKILL), then the namespaces. Namespaces that a
killed test process left behind are removed by the next Site.
"""

import os
import re
import shutil
import signal
import subprocess
import time

SUBNET = "192.0.2."
FIRST_HOST = 11          # the first host's address is 192.0.2.11
STOP_BOUND_S = 10.0
COMMAND_BOUND_S = 30.0
NAME_PREFIX = "zlsite"   # zlsite<pid>-<host>


def _ip(*args, check=True):
    done = subprocess.run(["ip", *args], capture_output=True, text=True,
                          timeout=COMMAND_BOUND_S)
    if check and done.returncode != 0:
        raise RuntimeError("ip %s: %s" % (" ".join(args), done.stderr.strip()))
    return done


def _alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def _kill_namespace_processes(namespace):
    """SIGKILL to every process left in `namespace` (all of them were
    started there by a Site)."""
    done = _ip("netns", "pids", namespace, check=False)
    for word in done.stdout.split():
        try:
            os.kill(int(word), signal.SIGKILL)
        except (ValueError, ProcessLookupError):
            pass


def remove_abandoned():
    """Removes the namespaces of Site owners that are gone."""
    done = _ip("netns", "list", check=False)
    for line in done.stdout.splitlines():
        match = re.match(r"(%s(\d+)-\S+)" % NAME_PREFIX, line)
        if match and not _alive(int(match.group(2))):
            _kill_namespace_processes(match.group(1))
            _ip("netns", "del", match.group(1), check=False)


class Site:
    """Hosts (network namespaces) on one bridge; a context manager."""

    @staticmethod
    def unavailable():
        """Why no site can be made here, or None when one can."""
        if shutil.which("ip") is None:
            return "no ip command (iproute2)"
        if os.geteuid() != 0:
            return "network namespaces need root"
        probe = "%s%d-probe" % (NAME_PREFIX, os.getpid())
        done = _ip("netns", "add", probe, check=False)
        if done.returncode != 0:
            return "ip netns add failed: %s" % done.stderr.strip()
        _ip("netns", "del", probe, check=False)
        return None

    def __init__(self, hosts):
        self.hosts = list(hosts)
        self._prefix = "%s%d-" % (NAME_PREFIX, os.getpid())
        self._bridge = self._prefix + "bridge"
        self._made = []       # namespaces, in the order made
        self._processes = []  # Popen objects, in the order started

    def namespace(self, host):
        return self._prefix + host

    def address(self, host):
        return SUBNET + str(FIRST_HOST + self.hosts.index(host))

    def __enter__(self):
        remove_abandoned()
        try:
            self._make()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def _add_namespace(self, name):
        _ip("netns", "add", name)
        self._made.append(name)
        _ip("-n", name, "link", "set", "lo", "up")

    def _make(self):
        self._add_namespace(self._bridge)
        _ip("-n", self._bridge, "link", "add", "br0", "type", "bridge")
        _ip("-n", self._bridge, "link", "set", "br0", "up")
        for i, host in enumerate(self.hosts):
            ns = self.namespace(host)
            self._add_namespace(ns)
            port = "p%d" % i
            # Made inside the bridge's namespace, one end moved to the host's.
            _ip("-n", self._bridge, "link", "add", port, "type", "veth",
                "peer", "name", "eth0", "netns", ns)
            _ip("-n", self._bridge, "link", "set", port, "master", "br0")
            _ip("-n", self._bridge, "link", "set", port, "up")
            _ip("-n", ns, "addr", "add", self.address(host) + "/24", "dev", "eth0")
            _ip("-n", ns, "link", "set", "eth0", "up")

    def _argv(self, host, argv):
        return ["ip", "netns", "exec", self.namespace(host), *map(str, argv)]

    def start(self, host, argv, **popen):
        """Starts `argv` on `host`; the Popen is stopped when the site goes."""
        p = subprocess.Popen(self._argv(host, argv), **popen)
        self._processes.append(p)
        return p

    def run(self, host, argv, timeout=COMMAND_BOUND_S, **kwargs):
        """Runs `argv` on `host` to its end (bounded); the CompletedProcess."""
        return subprocess.run(self._argv(host, argv), timeout=timeout, **kwargs)

    def await_port(self, host, address, port, timeout=COMMAND_BOUND_S):
        """Polls, on `host`, until something accepts connections at
        address:port; raises RuntimeError when nothing does in time."""
        probe = ("import socket, sys, time\n"
                 "deadline = time.monotonic() + %r\n"
                 "while time.monotonic() < deadline:\n"
                 "    try:\n"
                 "        socket.create_connection((%r, %d), timeout=1).close()\n"
                 "        sys.exit(0)\n"
                 "    except OSError:\n"
                 "        time.sleep(0.05)\n"
                 "sys.exit(1)\n") % (timeout, address, port)
        done = self.run(host, ["/usr/bin/python3", "-c", probe], timeout=timeout + 10)
        if done.returncode != 0:
            raise RuntimeError("nothing accepts at %s:%d on %s" % (address, port, host))

    def close(self):
        """Stops the processes, then removes the namespaces. Never raises."""
        for p in reversed(self._processes):
            if p.poll() is None:
                p.terminate()
        deadline = time.monotonic() + STOP_BOUND_S
        for p in reversed(self._processes):
            try:
                p.wait(max(0.1, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        self._processes = []
        for name in reversed(self._made):
            _kill_namespace_processes(name)
            _ip("netns", "del", name, check=False)
        self._made = []
