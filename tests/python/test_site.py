"""A site of several hosts (network namespaces, site_support.py): a host of
the Naming Service and the Event Service, two server hosts and two client
hosts. Whatever a client's set-up, a tag change either arrives or the
client says that it cannot, where a script looks: register's result and an
error record at connect.

  names    omniNames (2809) and omniEvents (2810)
  server1  zelvik-sim PLANT1, registered in the Naming Service of names
  server2  zelvik-sim PLANT2, registered in the Naming Service of client2
  client1  clients that reach the Naming Service of names
  client2  a Naming Service of its own (2809, every interface), which its
           clients name as 127.0.0.1

And the services launcher, run on a host, takes connections from that
host's loopback only, though the host has another address.

Skipped where network namespaces cannot be made (not root, no iproute2).
"""
import json
import os
import queue
import subprocess
import threading
from pathlib import Path

import pytest

from site_support import Site

REPO = Path(__file__).resolve().parents[2]
PLANT_TAGS = REPO / "examples" / "plant.tags"
SIM = os.environ.get("ZL_SIM") or str(REPO / "build" / "sim" / "zelvik-sim")
CLIENT = Path(__file__).resolve().parent / "site_client.py"
NAMING_PORT, EVENT_PORT = 2809, 2810
READY_BOUND_S = 60.0
CLIENT_BOUND_S = 90.0
# The error record at connect, and the one of each refused registration.
AT_CONNECT = ("#error: no tag change can arrive: this client listens on 127.0.0.1 only, "
              "which the server at %s (another host) cannot reach: set Zelvik_Interface")
AT_REGISTER = "#error: tag changes not set up: this client listens on 127.0.0.1 only"

_unavailable = Site.unavailable()
pytestmark = [
    pytest.mark.skipif(_unavailable is not None, reason=str(_unavailable)),
    pytest.mark.skipif("LD_PRELOAD" in os.environ,
                       reason="the namespaces' processes run without the sanitizer's run-time"),
]


def service_env():
    """The environment of every process of the site: no ORB settings of
    the caller's, no Zelvik_Interface."""
    env = {k: v for k, v in os.environ.items()
           if not k.startswith("ORB") and k not in ("Zelvik_Interface", "ZL_ORB_OPTIONS")}
    env["OMNIORB_CONFIG"] = "/dev/null"
    return env


def corbaloc(address, port, key):
    return "corbaloc::%s:%d/%s" % (address, port, key)


def start_sim(site, host, database, naming, events, directory):
    """Starts zelvik-sim on `host` and waits for its ready line."""
    p = site.start(host, [
        SIM, "--db", database, "--host", host, "--tags", PLANT_TAGS,
        "--event-service", events, "--ior-dir", directory,
        "-ORBInitRef", "NameService=" + naming,
        "-ORBendPoint", "giop:tcp:%s:" % site.address(host)],
        env=service_env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
    lines = queue.Queue()

    def drain():  # the ready line, then everything, so the pipe never fills
        for raw in p.stdout:
            lines.put(raw)
    threading.Thread(target=drain, daemon=True).start()
    try:
        line = lines.get(timeout=READY_BOUND_S)
    except queue.Empty:
        pytest.fail("zelvik-sim on %s printed no ready line" % host)
    assert line.startswith(b"zelvik-sim ready "), line


@pytest.fixture(scope="module")
def site(tmp_path_factory):
    work = tmp_path_factory.mktemp("site")
    with Site(["names", "server1", "server2", "client1", "client2"]) as s:
        names = s.address("names")
        for host, endpoint in (("names", "giop:tcp:%s:%d" % (names, NAMING_PORT)),
                               ("client2", "giop:tcp::%d" % NAMING_PORT)):
            data = work / ("names-" + host)
            data.mkdir()
            s.start(host, ["omniNames", "-start", NAMING_PORT, "-always", "-datadir", data,
                           "-nohostname", "-errlog", data / "errors.log",
                           "-ORBendPoint", endpoint],
                    env=service_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL)
            s.await_port(host, s.address(host), NAMING_PORT)
        events = work / "events"
        events.mkdir()
        s.start("names", ["omniEvents", "-f", "-p", EVENT_PORT, "-l", events,
                          "-t", events / "trace.log",
                          "-ORBendPointPublish", "giop:tcp:%s:" % names],
                env=service_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
        s.await_port("names", names, EVENT_PORT)
        factory = corbaloc(names, EVENT_PORT, "omniEvents")
        start_sim(s, "server1", "PLANT1", corbaloc(names, NAMING_PORT, "NameService"),
                  factory, work)
        start_sim(s, "server2", "PLANT2",
                  corbaloc(s.address("client2"), NAMING_PORT, "NameService"), factory, work)
        yield s


def address(site, name):
    """The address of the host `name` of the site; an address as it is."""
    return name if name is None or name[0].isdigit() else site.address(name)


def run_client(site, host, how, naming, interface, database):
    env = service_env()
    build_python = Path(os.environ.get("ZL_BUILD_DIR", REPO / "build")) / "python"
    env["PYTHONPATH"] = str(build_python)
    if interface:
        env["Zelvik_Interface"] = interface
    options = "-ORBInitRef NameService=" + corbaloc(naming, NAMING_PORT, "NameService")
    done = site.run(host, ["/usr/bin/python3", CLIENT, how, options, database],
                    timeout=CLIENT_BOUND_S, env=env, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.strip().splitlines()[-1])


# (host, how the client connects, its Naming Service host, Zelvik_Interface,
# database, register's result, whether the change arrives, whether connect
# logs that it cannot). Hosts are names of the site; "127.0.0.1" is itself.
CASES = [
    # the library's own choice: the address toward the Naming Service host
    pytest.param("client1", "library", "names", None, "PLANT1", 0, True, False,
                 id="library-default"),
    # the zl command's connections used to pin the client to 127.0.0.1: the
    # first values showed, and no change ever arrived
    pytest.param("client1", "zl-connect", "names", None, "PLANT1", 0, True, False,
                 id="zl-run-connection"),
    pytest.param("client1", "zl-serve", "names", None, "PLANT1", 0, True, False,
                 id="zl-serve-plant"),
    # a Naming Service named as 127.0.0.1, the server on another host:
    # register used to give 0 and nothing ever arrived
    pytest.param("client2", "library", "127.0.0.1", None, "PLANT2", -1, False, True,
                 id="loopback-naming-remote-server"),
    # the remedy the error names
    pytest.param("client2", "library", "127.0.0.1", "client2", "PLANT2", 0, True, False,
                 id="interface-toward-the-server"),
    # loopback by choice, and a server on another host
    pytest.param("client1", "library", "names", "127.0.0.1", "PLANT1", -1, False, True,
                 id="loopback-interface-remote-server"),
    # a server on this host reaches 127.0.0.1 whatever address it publishes
    pytest.param("server1", "library", "names", "127.0.0.1", "PLANT1", 0, True, False,
                 id="loopback-interface-server-on-this-host"),
]


@pytest.mark.parametrize("host,how,naming,interface,database,registered,changed,warned", CASES)
def test_tag_changes_arrive_or_the_client_says_why(site, host, how, naming, interface,
                                                    database, registered, changed, warned):
    seen = run_client(site, host, how, address(site, naming), address(site, interface),
                      database)
    assert seen["connect"] == 0, seen
    assert seen["register"] == registered, seen
    assert seen["changed"] is changed, seen
    server = site.address("server2" if database == "PLANT2" else "server1")
    at_connect = [e for e in seen["errors"] if e.startswith(AT_CONNECT % server)]
    at_register = [e for e in seen["errors"] if e.startswith(AT_REGISTER)]
    assert len(at_connect) == (1 if warned else 0), seen
    assert bool(at_register) is warned, seen
    # Server messages are pulled from the Event Service by the client: they
    # arrive whatever the client's endpoint, and enableevents says so.
    assert seen["enableevents"] == 0 and seen["message"] is True, seen


# Asks ADDRESS:PORT whether object KEY is there (one GIOP 1.0 LocateRequest);
# prints "refused" (no connection), "answered" (OBJECT_HERE) or "closed".
LOCATE = """
import socket, struct, sys
address, port, key = sys.argv[1], int(sys.argv[2]), sys.argv[3].encode()
body = struct.pack("<II", 1, len(key)) + key
try:
    s = socket.create_connection((address, port), timeout=5)
except OSError:
    print("refused"); sys.exit()
try:
    s.sendall(b"GIOP\\x01\\x00\\x01\\x03" + struct.pack("<I", len(body)) + body)
    reply = s.recv(64)
except OSError:
    reply = b""
print("answered" if len(reply) >= 20 and reply[7] == 4 and
      struct.unpack("<I", reply[16:20])[0] == 1 else "closed")
"""


def test_launcher_takes_loopback_only(site):
    launcher = site.start("client1", ["/usr/bin/python3", REPO / "tools" / "zl_services.py",
                                      "--serve"],
                          env=dict(service_env(), ZL_SIM=SIM), stdin=subprocess.PIPE,
                          stdout=subprocess.PIPE, text=True)
    variables = {}
    for line in launcher.stdout:   # the launcher bounds its own start
        if line.strip() == "READY" or line.startswith("ERR"):
            break
        name, _, value = line.strip().partition("=")
        variables[name] = value
    assert "ZL_EVENT_PORT" in variables, variables

    def locate(address, port, key):
        done = site.run("client1", ["/usr/bin/python3", "-c", LOCATE, address, port, key],
                        capture_output=True, text=True)
        return done.stdout.strip()

    other = site.address("client1")
    for port, key in ((variables["ZL_NAMING_PORT"], "NameService"),
                      (variables["ZL_EVENT_PORT"], "omniEvents")):
        assert locate("127.0.0.1", port, key) == "answered", key
        # omniEvents listens on every interface: it must close the connection
        assert locate(other, port, key) in ("refused", "closed"), key
    assert locate(other, variables["ZL_CONTROL_PORT"], "x") == "refused"
    launcher.stdin.close()
    assert launcher.wait(60) == 0
