"""The launcher of the stand-in server and its services (the command
`zl sim`), for scenario development, tests, the demo and the benchmarks.

Starts omniNames (Naming Service), omniEvents (Event Service) and the
stand-in server zelvik-sim on free loopback ports in a new temporary
directory, waits until each of them answers, and stops all of them again
(SIGTERM, a bounded wait, SIGKILL; the directory is removed) on every way
out: a normal end, a failure, an exception, SIGTERM/SIGINT, or the death of
the process that started them.

Three ways to use it (`zl sim` installed; tools/zl_services.py in the
sources, with the same command line):

  Python:   from zl.services import Services
            with Services(tags=["examples/plant.tags"]) as s:
                client(s.orb_options); s.control("stop")

  Command:  zl sim [--tags FILE]... [--db NAME]... [--legacy]
                [--naming ADDRESS] [--sim PATH] [--sim-arg ARG]... [--verbose] -- COMMAND...
            runs COMMAND with the services up and the variables below in its
            environment; gives COMMAND's exit status (128+N after signal N;
            125 when the services do not come up).

  Serve:    zl sim [options] --serve
            for other languages: prints the variables as NAME=VALUE lines and
            then one line "READY" (or "ERR reason" and exits 125), stays up
            until its standard input closes or it gets SIGTERM, then stops
            everything. While up it reads one command per input line and
            answers with the variables and one line "OK" or "ERR reason":
              stop-sim     SIGTERM to the server, bounded wait, SIGKILL
              kill-sim     SIGKILL to the server
              start-sim    start a stopped server again
              restart-sim  stop-sim, then start-sim
              pause-sim    SIGSTOP to the server (it accepts, never answers)
              resume-sim   SIGCONT to the server

Variables (environment of COMMAND, lines of --serve, Services.environment()):
  ZL_ORB_OPTIONS    -ORBInitRef NameService=corbaloc::127.0.0.1:PORT/NameService
  ZL_NAMING_PORT    the Naming Service's port
  ZL_EVENT_FACTORY  corbaloc::127.0.0.1:PORT/omniEvents (the channel factory)
  ZL_EVENT_PORT     the Event Service's port
  ZL_CONTROL_PORT   the server's control endpoint on 127.0.0.1 (0: stopped)
  ZL_IOR_DIR        where the server writes NAME.txt per database
  ZL_HOST           the host name the factory is bound under
  ZL_DATABASES      the databases, separated by commas
  ZL_SIM_PID        the server's process id (0: stopped)
  ZL_SERVICES_DIR   the temporary directory (data, logs)

The server binary is --sim PATH, else $ZL_SIM, else the zelvik-sim installed
with this package (zl/bin/), else the build tree's (<build>/sim/, beside
<build>/python/zl, or build/sim/ of the sources). Every process runs
with OMNIORB_CONFIG=/dev/null and takes connections on 127.0.0.1 only:
omniNames and zelvik-sim listen there; omniEvents always listens on every
interface of its port (it adds that endpoint itself), so it is told to
refuse every connection that does not come from 127.0.0.0/8
(-ORBserverTransportRule). Logs go to files in the temporary directory (--verbose or
ZL_SERVICES_VERBOSE=1: to standard error); when a service fails, the end of
its log is printed. A launcher killed outright (SIGKILL) takes its services
with it; the next launcher removes the directory it left behind.

Uses only the Python standard library, so that tools/zl_services.py runs
this file by itself from the sources.
"""

import argparse
import ctypes
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import weakref
from pathlib import Path
from types import FrameType
from typing import IO, Callable, Dict, List, NoReturn, Optional, Sequence

PACKAGE_DIR = Path(__file__).resolve().parent
# Where a zelvik-sim is looked for, in order: installed with the package,
# then the build tree (<build>/python/zl is a copy of this package) and
# the build/ tree of the sources (python/zl is this package).
SIM_PLACES = (PACKAGE_DIR / "bin" / "zelvik-sim",
              PACKAGE_DIR.parents[1] / "sim" / "zelvik-sim",
              PACKAGE_DIR.parents[1] / "build" / "sim" / "zelvik-sim")
LOOPBACK = "127.0.0.1"
# omniEvents listens on every interface: these rules make it close every
# connection that does not come from a loopback address.
EVENTS_LOOPBACK_ONLY = ("-ORBserverTransportRule", "127.0.0.0/255.0.0.0 tcp",
                        "-ORBserverTransportRule", "* none")
READY_PREFIX = "zelvik-sim ready "
DIR_PREFIX = "zl-services-"

START_TIMEOUT_S = 60.0  # bound on the start of one service
STOP_TIMEOUT_S = 10.0   # bound on a clean stop before SIGKILL
POLL_S = 0.02           # slice of every readiness poll
PORT_ATTEMPTS = 3       # a free port may be taken by someone else meanwhile

EXIT_START_FAILED = 125
PROGRAM = "zl sim"      # the prefix of the launcher's lines on standard error


class ServicesError(RuntimeError):
    """A service did not come up (the message says which and why)."""


class _Terminated(BaseException):
    """Raised in the main thread by SIGTERM/SIGINT so that cleanup runs."""

    def __init__(self, signum: int) -> None:
        super().__init__(signum)
        self.signum = signum


def _log(text: str) -> None:
    print(PROGRAM + ": " + text, file=sys.stderr, flush=True)


def default_sim() -> Path:
    """The first zelvik-sim of SIM_PLACES that can be run; the first place
    when none can (the error names it)."""
    for place in SIM_PLACES:
        if place.is_file() and os.access(place, os.X_OK):
            return place
    return SIM_PLACES[0]


def free_port() -> int:
    """A TCP port on 127.0.0.1 that was free a moment ago."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind((LOOPBACK, 0))
        return s.getsockname()[1]


def giop_locate(port: int, key: str, timeout: float = 1.0) -> bool:
    """Asks the ORB at 127.0.0.1:port whether the object `key` is there.

    Sends one GIOP 1.0 LocateRequest; gives True when the answer is
    OBJECT_HERE, False on any other answer or any connection failure.
    """
    k = key.encode("ascii")
    body = struct.pack("<II", 1, len(k)) + k
    message = b"GIOP\x01\x00\x01\x03" + struct.pack("<I", len(body)) + body
    try:
        with socket.create_connection((LOOPBACK, port), timeout=timeout) as s:
            s.sendall(message)
            reply = b""
            while len(reply) < 12 or len(reply) < 12 + _giop_size(reply):
                chunk = s.recv(4096)
                if not chunk:
                    return False
                reply += chunk
    except OSError:
        return False
    if reply[:4] != b"GIOP" or reply[7] != 4:  # 4: LocateReply
        return False
    order = "<" if reply[6] & 1 else ">"
    _, status = struct.unpack(order + "II", reply[12:20])
    return status == 1  # OBJECT_HERE


def _giop_size(header: bytes) -> int:
    order = "<" if header[6] & 1 else ">"
    size: int = struct.unpack(order + "I", header[8:12])[0]
    return size


def control(port: int, line: str, timeout: float = 10.0) -> str:
    """One round trip on a server's control endpoint: sends `line`, gives the
    reply line without its line end. Raises OSError on connection failures
    and TimeoutError when no whole line arrives within `timeout`."""
    deadline = time.monotonic() + timeout
    with socket.create_connection((LOOPBACK, port), timeout=timeout) as s:
        s.sendall(line.encode("utf-8") + b"\n")
        reply = b""
        while b"\n" not in reply:
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError("no reply to %r within %.1f s" % (line, timeout))
            s.settimeout(left)
            chunk = s.recv(4096)
            if not chunk:
                raise ConnectionError("connection closed before a reply to %r" % line)
            reply += chunk
    return reply.split(b"\n", 1)[0].decode("utf-8", "replace").rstrip("\r")


def _tail(path: str, lines: int = 20) -> str:
    try:
        with open(path, "r", errors="replace") as f:
            text = f.read().splitlines()
    except OSError:
        return "(no log)"
    return "\n".join("    " + l for l in text[-lines:]) or "    (empty log)"


def _remove_abandoned_directories() -> None:
    """Removes the directories of launchers that were killed outright (their
    services died with them, but nothing removed their directory)."""
    for d in Path(tempfile.gettempdir()).glob(DIR_PREFIX + "*"):
        try:
            owner = int((d / "owner.pid").read_text())
            os.kill(owner, 0)
        except ProcessLookupError:
            shutil.rmtree(d, ignore_errors=True)
        except (OSError, ValueError):
            pass  # no owner file yet, or not ours to judge


def _pdeathsig_prefix(sig: str) -> List[str]:
    """A command prefix that makes the child get `sig` when we die, if the
    system has setpriv (util-linux); else nothing."""
    setpriv = shutil.which("setpriv")
    return [setpriv, "--pdeathsig", sig, "--"] if setpriv else []


def _service_env() -> Dict[str, str]:
    env = dict(os.environ)
    env["OMNIORB_CONFIG"] = "/dev/null"
    # omniORB reads ORB<param> variables: none of the caller's may leak in.
    for name in list(env):
        if name.startswith("ORB"):
            del env[name]
    # A sanitizer run preloads its run-time into the interpreter; the daemons
    # are not built with it, and zelvik-sim of such a build links it itself.
    env.pop("LD_PRELOAD", None)
    return env


class _Process:
    """One running service: its Popen, its name and log, and its stop."""

    def __init__(self, name: str, argv: List[str], cwd: str, log_path: str, verbose: bool,
                 stdout: Optional[int] = None) -> None:
        self.name = name
        self.log_path = log_path
        self.stopping = False
        err: Optional[IO[bytes]] = None if verbose else open(log_path, "ab")
        try:
            self.popen = subprocess.Popen(
                _pdeathsig_prefix("KILL") + argv, cwd=cwd, env=_service_env(),
                stdin=subprocess.DEVNULL, stdout=stdout if stdout else err,
                stderr=err, start_new_session=True)
        finally:
            if err:
                err.close()

    @property
    def pid(self) -> int:
        return self.popen.pid

    def alive(self) -> bool:
        return self.popen.poll() is None

    def failure(self, what: str) -> str:
        status = self.popen.poll()
        how = "exited with status %s" % status if status is not None else "is running"
        return "%s %s (%s); its log ends:\n%s" % (
            self.name, what, how, _tail(self.log_path))

    def signal(self, sig: int) -> None:
        if self.alive():
            try:
                self.popen.send_signal(sig)
            except ProcessLookupError:
                pass

    def stop(self, timeout: float = STOP_TIMEOUT_S, kill: bool = False) -> Optional[int]:
        """SIGTERM (SIGKILL if `kill`), a bounded wait, then SIGKILL. Gives
        the exit status. Reports an exit that happened before the stop."""
        if not self.alive():
            if not self.stopping and self.popen.returncode not in (0, None):
                _log(self.failure("had ended before the stop"))
            self.stopping = True
            return self.popen.returncode
        self.stopping = True
        self.signal(signal.SIGKILL if kill else signal.SIGTERM)
        self.signal(signal.SIGCONT)  # a paused process must see the SIGTERM
        try:
            return self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            _log("%s did not stop within %.0f s: killed" % (self.name, timeout))
            self.popen.kill()
            return self.popen.wait()


class _State:
    """Everything that must be released: the processes and the directory.
    Kept apart from Services so that a finalizer can stop them."""

    def __init__(self) -> None:
        self.directory: Optional[str] = None
        self.processes: List[_Process] = []  # in start order; stopped in reverse

    def stop(self) -> None:
        for p in reversed(self.processes):
            try:
                p.stop()
            except Exception as e:  # go on with the others whatever happens
                _log("stopping %s: %s" % (p.name, e))
        self.processes = []
        if self.directory:
            shutil.rmtree(self.directory, ignore_errors=True)
            self.directory = None


class Services:
    """omniNames, omniEvents and zelvik-sim for the lifetime of the object
    (a context manager; stop() is idempotent and also runs at interpreter
    exit). Relative tag file paths are taken from the current directory.
    With `naming` (an address) the server joins that Naming Service instead
    of one of its own, so that several servers share one directory.

    Not thread-safe: one thread at a time. Start it from a thread that lives
    as long as the services: their processes die with the starting thread.
    """

    def __init__(self, tags: Sequence[str] = (), databases: Sequence[str] = (),
                 legacy: bool = False, sim: Optional[str] = None, sim_args: Sequence[str] = (),
                 verbose: Optional[bool] = None, start_timeout: float = START_TIMEOUT_S,
                 naming: Optional[str] = None) -> None:
        self.tags = [str(Path(t).resolve()) for t in tags]
        self.databases_requested = list(databases)
        self.legacy = legacy
        self.sim = str(Path(sim or os.environ.get("ZL_SIM") or default_sim()).resolve())
        self.sim_args = list(sim_args)
        if verbose is None:
            verbose = os.environ.get("ZL_SERVICES_VERBOSE", "") not in ("", "0")
        self.verbose = verbose
        self.start_timeout = start_timeout
        # The address of a Naming Service to join (corbaloc::HOST:PORT/
        # NameService): then no omniNames of its own is started, and the
        # server registers its databases there beside other servers'.
        self.naming = naming
        self._state = _State()
        self._finalizer = weakref.finalize(self, self._state.stop)
        self._sim: Optional[_Process] = None
        self._sim_starts = 0
        self.naming_port = 0
        self.event_port = 0
        self.control_port = 0
        self.host = ""
        self.databases: List[str] = []
        self.ior_dir = ""

    # --- lifetime -------------------------------------------------------

    def __enter__(self) -> "Services":
        self.start()
        return self

    def __exit__(self, *exc: object) -> None:
        self.stop()

    def start(self) -> "Services":
        """Starts all services; raises ServicesError (after stopping what
        did start) when one does not come up."""
        if not os.path.isfile(self.sim) or not os.access(self.sim, os.X_OK):
            raise ServicesError("zelvik-sim not found at %s (install zl with it, build it, "
                                "or give --sim PATH or ZL_SIM)" % self.sim)
        _remove_abandoned_directories()
        try:
            self._state.directory = tempfile.mkdtemp(prefix=DIR_PREFIX)
            with open(os.path.join(self._state.directory, "owner.pid"), "w") as f:
                f.write("%d\n" % os.getpid())
            self.ior_dir = os.path.join(self._state.directory, "ior")
            os.mkdir(self.ior_dir)
            if not self.naming:
                self._start_naming()
            self._start_events()
            self.start_sim()
        except BaseException:
            self.stop()
            raise
        return self

    def stop(self) -> None:
        """Stops every service and removes the directory. Never raises."""
        self._sim = None
        self._state.stop()

    @property
    def directory(self) -> Optional[str]:
        return self._state.directory

    @property
    def naming_address(self) -> str:
        """The Naming Service's address: the joined one, or our own."""
        if self.naming:
            return self.naming
        return "corbaloc::%s:%d/NameService" % (LOOPBACK, self.naming_port)

    @property
    def orb_options(self) -> str:
        return "-ORBInitRef NameService=" + self.naming_address

    @property
    def event_factory(self) -> str:
        return "corbaloc::%s:%d/omniEvents" % (LOOPBACK, self.event_port)

    @property
    def sim_pid(self) -> int:
        return self._sim.pid if self._sim and self._sim.alive() else 0

    def environment(self) -> Dict[str, str]:
        """The variables, as a dict of strings."""
        return {
            "ZL_ORB_OPTIONS": self.orb_options,
            "ZL_NAMING_PORT": str(self.naming_port),
            "ZL_EVENT_FACTORY": self.event_factory,
            "ZL_EVENT_PORT": str(self.event_port),
            "ZL_CONTROL_PORT": str(self.control_port if self.sim_pid else 0),
            "ZL_IOR_DIR": self.ior_dir,
            "ZL_HOST": self.host,
            "ZL_DATABASES": ",".join(self.databases),
            "ZL_SIM_PID": str(self.sim_pid),
            "ZL_SERVICES_DIR": self.directory or "",
        }

    def control(self, line: str, timeout: float = 10.0) -> str:
        """One round trip on the server's control endpoint (see control())."""
        return control(self.control_port, line, timeout)

    # --- the services ---------------------------------------------------

    def _spawn(self, name: str, argv: List[str], stdout: Optional[int] = None) -> _Process:
        directory = self._state.directory
        assert directory is not None
        log = os.path.join(directory, name + ".log")
        p = _Process(name, argv, directory, log, self.verbose, stdout)
        self._state.processes.append(p)
        return p

    def _forget(self, p: _Process) -> None:
        if p in self._state.processes:
            self._state.processes.remove(p)

    def _await_locate(self, p: _Process, port: int, key: str) -> bool:
        """Polls until the ORB at `port` has `key`. Gives True when it does,
        False when the process ended (e.g. its port was taken)."""
        deadline = time.monotonic() + self.start_timeout
        while time.monotonic() < deadline:
            if not p.alive():
                return False
            if giop_locate(port, key, timeout=POLL_S * 10):
                # Alive and answering: the port is ours (a process that lost
                # the port to another one ends at once).
                return p.alive()
            time.sleep(POLL_S)
        p.stop()
        raise ServicesError(p.failure("did not answer within %.0f s" % self.start_timeout))

    def _start_naming(self) -> None:
        assert self.directory is not None
        for attempt in range(PORT_ATTEMPTS):
            port = free_port()
            data = os.path.join(self.directory, "names-%d" % attempt)
            os.mkdir(data)
            p = self._spawn("omniNames", [
                "omniNames", "-start", str(port), "-always", "-datadir", data,
                "-nohostname", "-errlog", os.path.join(data, "errors.log"),
                "-ORBendPoint", "giop:tcp:%s:%d" % (LOOPBACK, port)])
            if self._await_locate(p, port, "NameService"):
                self.naming_port = port
                return
            self._forget(p)
            p.stop()
            if attempt == PORT_ATTEMPTS - 1:
                raise ServicesError(p.failure("did not start"))

    def _start_events(self) -> None:
        assert self.directory is not None
        for attempt in range(PORT_ATTEMPTS):
            port = free_port()
            # A new data directory each time: it remembers its port.
            data = os.path.join(self.directory, "events-%d" % attempt)
            os.mkdir(data)
            p = self._spawn("omniEvents", [
                "omniEvents", "-f", "-p", str(port), "-l", data,
                "-t", os.path.join(data, "trace.log"),
                "-ORBendPointPublish", "giop:tcp:%s:" % LOOPBACK, *EVENTS_LOOPBACK_ONLY])
            if self._await_locate(p, port, "omniEvents"):
                self.event_port = port
                return
            self._forget(p)
            p.stop()
            if attempt == PORT_ATTEMPTS - 1:
                raise ServicesError(p.failure("did not start"))

    def _sim_argv(self) -> List[str]:
        argv = [self.sim, "--ior-dir", self.ior_dir,
                "--event-service", self.event_factory, "--control", "0"]
        for db in self.databases_requested:
            argv += ["--db", db]
        for t in self.tags:
            argv += ["--tags", t]
        if self.legacy:
            argv.append("--legacy")
        argv += self.sim_args
        argv += ["-ORBInitRef", "NameService=" + self.naming_address,
                 "-ORBendPoint", "giop:tcp:%s:" % LOOPBACK]
        return argv

    # --- the server and its fault helpers -------------------------------

    def start_sim(self) -> None:
        """Starts the server (again) and waits for its ready line."""
        if self._sim and self._sim.alive():
            raise ServicesError("zelvik-sim is already running")
        self._sim_starts += 1
        name = "zelvik-sim" if self._sim_starts == 1 else "zelvik-sim-%d" % self._sim_starts
        p = self._spawn(name, self._sim_argv(), stdout=subprocess.PIPE)
        ready = threading.Event()
        found: Dict[str, str] = {}
        assert p.popen.stdout is not None
        stdout: IO[bytes] = p.popen.stdout

        def read_stdout() -> None:
            # Finds the ready line, then keeps the pipe drained into the log
            # so that the server never blocks on a full pipe.
            with open(p.log_path, "ab") as log:
                for raw in stdout:
                    line = raw.decode("utf-8", "replace").rstrip("\n")
                    if not ready.is_set() and line.startswith(READY_PREFIX):
                        for word in line[len(READY_PREFIX):].split():
                            key, equals, value = word.partition("=")
                            if equals:
                                found[key] = value
                        ready.set()
                    elif self.verbose:
                        print(line, file=sys.stderr, flush=True)
                    else:
                        log.write(raw)
                        log.flush()
            stdout.close()

        threading.Thread(target=read_stdout, name=name + "-stdout", daemon=True).start()
        deadline = time.monotonic() + self.start_timeout
        while not ready.wait(POLL_S):
            if not p.alive() and not ready.is_set():
                ready.wait(0.2)  # the reader may still hold the last line
                if ready.is_set():
                    break
                self._forget(p)
                raise ServicesError(p.failure("ended before it was ready"))
            if time.monotonic() > deadline:
                self._forget(p)
                p.stop()
                raise ServicesError(p.failure("was not ready within %.0f s" % self.start_timeout))
        try:
            self.control_port = int(found["control"].rsplit(":", 1)[1])
            self.databases = found.get("databases", "").split(",")
            self.host = found.get("host", "")
        except (KeyError, ValueError, IndexError):
            self._forget(p)
            p.stop()
            raise ServicesError("zelvik-sim printed a ready line without control=HOST:PORT")
        self._sim = p

    def stop_sim(self, kill: bool = False) -> Optional[int]:
        """Stops the server (SIGTERM, bounded wait, SIGKILL; or SIGKILL at
        once). Gives its exit status, None when it was not running."""
        p, self._sim = self._sim, None
        if not p:
            return None
        self._forget(p)
        return p.stop(kill=kill)

    def kill_sim(self) -> Optional[int]:
        return self.stop_sim(kill=True)

    def restart_sim(self) -> None:
        self.stop_sim()
        self.start_sim()

    def pause_sim(self) -> None:
        """SIGSTOP: the server's sockets accept, but nothing answers."""
        if self._sim:
            self._sim.signal(signal.SIGSTOP)

    def resume_sim(self) -> None:
        if self._sim:
            self._sim.signal(signal.SIGCONT)


# --- command line ---------------------------------------------------------

def add_arguments(parser: argparse.ArgumentParser, command: str) -> None:
    """The arguments of `zl sim` (and of tools/zl_services.py)."""
    parser.epilog = ("Give either --serve or -- COMMAND. The variables, the --serve "
                     "protocol and the server's control commands: docs/zelvik-sim.md.")
    parser.add_argument("--tags", action="append", default=[], metavar="FILE",
                        help="tag definition file loaded at start (repeatable)")
    parser.add_argument("--db", action="append", default=[], metavar="NAME",
                        help="database to create (repeatable; default: the server's)")
    parser.add_argument("--naming", metavar="ADDRESS",
                        help="join this Naming Service (corbaloc::HOST:PORT/NameService) "
                             "instead of starting one")
    parser.add_argument("--legacy", action="store_true",
                        help="serve only ZelvikDatabase (legacy notifier binding)")
    parser.add_argument("--sim", metavar="PATH",
                        help="the zelvik-sim binary (default: $ZL_SIM, else the one "
                             "installed with zl, else the build tree's)")
    parser.add_argument("--sim-arg", action="append", default=[], metavar="ARG",
                        help="extra argument for zelvik-sim (repeatable)")
    parser.add_argument("--verbose", action="store_true", default=None,
                        help="services' output to standard error, not to log files")
    parser.add_argument("--timeout", type=float, default=START_TIMEOUT_S, metavar="S",
                        help="bound on the start of each service (seconds)")
    parser.add_argument("--serve", action="store_true",
                        help="print the variables and READY, take commands on standard "
                             "input, stay up until it closes")
    parser.add_argument("command", nargs=argparse.REMAINDER, metavar="-- COMMAND",
                        help="the command to run with the services up, and its arguments")


def _checked(args: argparse.Namespace, parser: argparse.ArgumentParser) -> argparse.Namespace:
    if args.command and args.command[0] == "--":
        args.command = args.command[1:]
    if args.serve == bool(args.command):
        parser.error("give either --serve or -- COMMAND")
    if args.timeout <= 0:
        parser.error("--timeout must be above 0")
    return args


def _on_signal(signum: int, frame: Optional[FrameType]) -> NoReturn:
    raise _Terminated(signum)


def _die_with_parent() -> None:
    """SIGTERM when the parent process ends (Linux), so that cleanup runs."""
    parent = os.getppid()
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(1, signal.SIGTERM, 0, 0, 0)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        return
    if os.getppid() != parent:  # it ended before prctl took effect
        raise _Terminated(signal.SIGTERM)


def _serve(services: Services) -> int:
    out = sys.stdout

    def answer(last: str) -> None:
        for k, v in services.environment().items():
            out.write("%s=%s\n" % (k, v))
        out.write(last + "\n")
        out.flush()

    answer("READY")
    commands: Dict[str, Callable[[], object]] = {
        "stop-sim": services.stop_sim,
        "kill-sim": services.kill_sim,
        "start-sim": services.start_sim,
        "restart-sim": services.restart_sim,
        "pause-sim": services.pause_sim,
        "resume-sim": services.resume_sim,
    }
    for line in sys.stdin:
        command = line.strip()
        if command not in commands:
            answer("ERR unknown command: %s" % command)
            continue
        try:
            commands[command]()
        except ServicesError as e:
            _log(str(e))
            answer("ERR " + str(e).splitlines()[0])
            continue
        answer("OK")
    return 0


def _run(services: Services, command: List[str]) -> int:
    env = dict(os.environ)
    env.update(services.environment())
    try:
        child = subprocess.Popen(_pdeathsig_prefix("TERM") + command, env=env)
    except OSError as e:
        _log("cannot run %s: %s" % (command[0], e))
        return 127
    try:
        status = child.wait()
    except _Terminated:
        child.terminate()
        try:
            child.wait(STOP_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            child.kill()
            child.wait()
        raise
    return 128 - status if status < 0 else status


def main(args: argparse.Namespace) -> int:
    """`zl sim`: the parsed arguments (args.parser for usage errors); gives
    the exit status."""
    args = _checked(args, args.parser)
    signal.signal(signal.SIGTERM, _on_signal)
    signal.signal(signal.SIGINT, _on_signal)
    signal.signal(signal.SIGHUP, _on_signal)
    services = Services(tags=args.tags, databases=args.db, legacy=args.legacy,
                        sim=args.sim, sim_args=args.sim_arg, verbose=args.verbose,
                        start_timeout=args.timeout, naming=args.naming)
    try:
        if not args.serve:
            _die_with_parent()  # --serve watches its standard input instead
        try:
            services.start()
        except ServicesError as e:
            _log(str(e))
            if args.serve:
                print("ERR " + str(e).splitlines()[0], flush=True)
            return EXIT_START_FAILED
        return _serve(services) if args.serve else _run(services, args.command)
    except _Terminated as t:
        return 128 + t.signum
    except BrokenPipeError:
        return 0  # the reader of --serve went away: just stop
    finally:
        # No signal may cut the stop short.
        for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            signal.signal(s, signal.SIG_IGN)
        services.stop()


def launch(argv: Optional[List[str]] = None, prog: Optional[str] = None) -> int:
    """The launcher as a program of its own (tools/zl_services.py): parses
    `argv` (default: the process's arguments) and runs it as main does."""
    parser = argparse.ArgumentParser(
        prog=prog or os.path.basename(sys.argv[0]),
        description="Run a command (or serve) with omniNames, omniEvents and "
                    "zelvik-sim up on free loopback ports.")
    add_arguments(parser, "sim")
    args = parser.parse_args(sys.argv[1:] if argv is None else argv)
    args.parser = parser
    return main(args)
