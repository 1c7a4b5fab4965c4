"""The local channel between a `zl run` and the `zl serve` of the same user.

Scenarios run in the process of the client that starts them, so a page of
`zl serve` cannot see a `zl run` of another process through the server. Each
`zl run` therefore publishes its run: a Unix stream socket `<pid>.sock` in a
folder of the user's own (runs_folder), served by a thread of the run
(Publisher). `zl serve` lists the sockets, reads each run's state and answers
its waiting question through it (list_runs, ask).

The protocol: one request per connection, one line of JSON (at most
MAX_REQUEST bytes with its LF), one line of JSON in reply:

    {"op": "state"}                                   -> {"run": {...}}
    {"op": "answer", "sid": 1, "number": 1, "answer": "Yes"} -> {"took": 1}
    {"op": "stop"}                                    -> {"stopping": true}

Anything else gets {"error": "..."}; the run goes on. Who may connect: the
folder is the user's own with no access for others (0700, checked, never a
link), and the publisher also refuses a peer of another user id.
"""
import concurrent.futures
import json
import os
import re
import selectors
import socket
import stat
import struct
import threading
import time
from typing import Any, Callable, Dict, List, Optional, Tuple

Json = Dict[str, Any]

MAX_REQUEST = 4096     # bytes of one request, its LF included
MAX_PEERS = 32         # connections a publisher serves at once
MAX_REPLY = 1 << 20    # bytes of one reply a reader takes
IO_TIMEOUT_S = 1.0     # bound on the publisher's reads and writes of one request
REPLY_TIMEOUT_S = 5.0  # bound on a reader's wait for an answer or a stop
STATE_TIMEOUT_S = 1.0  # bound on a reader's wait for a run's state (list_runs)
MAX_READERS = 16       # runs list_runs reads at once
_SOCKET_NAME = re.compile(r"^([1-9][0-9]*)\.sock$")


class Unsafe(Exception):
    """The runs folder cannot be used; the text says why."""


def runs_folder() -> str:
    """Where runs are published: $XDG_RUNTIME_DIR/zl/runs, else
    /tmp/zl-runs-<uid>."""
    runtime = os.environ.get("XDG_RUNTIME_DIR")
    if runtime:
        return os.path.join(runtime, "zl", "runs")
    return "/tmp/zl-runs-%d" % os.getuid()


def check_folder(path: str) -> None:
    """Raises Unsafe unless `path` is a real folder (no link) of this user
    that no other user may read, write or enter."""
    try:
        info = os.lstat(path)
    except OSError as e:
        raise Unsafe("%s: %s" % (path, e.strerror or e)) from None
    if stat.S_ISLNK(info.st_mode):
        raise Unsafe("%s is a symbolic link" % path)
    if not stat.S_ISDIR(info.st_mode):
        raise Unsafe("%s is not a folder" % path)
    if info.st_uid != os.getuid():
        raise Unsafe("%s belongs to another user" % path)
    if info.st_mode & 0o077:
        raise Unsafe("%s may be used by other users (mode %03o, needs 700)"
                     % (path, stat.S_IMODE(info.st_mode)))


def open_folder(create: bool) -> str:
    """The runs folder, checked (check_folder); with `create`, made first
    (mode 0700, with a missing `zl` folder above it) when missing. Raises
    Unsafe."""
    path = runs_folder()
    if create:
        for folder in (os.path.dirname(path), path):
            try:
                os.mkdir(folder, 0o700)
            except FileExistsError:
                pass
            except OSError as e:
                raise Unsafe("cannot create %s: %s" % (folder, e.strerror or e)) from None
    check_folder(path)
    return path


def socket_path(folder: str, pid: int) -> str:
    return os.path.join(folder, "%d.sock" % pid)


# --- the run's side ----------------------------------------------------------


class Publisher:
    """Serves one run's socket on a daemon thread until close().

    `state()` gives the run's state, `answer(sid, number, text)` answers its
    question (answerquestion's result) and `stop()` asks the run to stop its
    scenario; all three are called on the publisher's thread and must not
    block for long. Peers are served side by side (up to MAX_PEERS at once;
    more wait in the listen backlog until one is done) on the one thread,
    without blocking on any of them: a peer that sends nothing, or a byte
    at a time, holds its own connection only, for IO_TIMEOUT_S of reading
    at most (and as much again each for the reply's writing and the drain
    after it). An exception of a callback is the peer's error reply, never
    the run's end.

    The socket is bound under a temporary name and renamed into place once
    it listens, so a reader never finds `<pid>.sock` refusing connections
    while the run is alive. close() removes it; a run killed without its
    close leaves a socket that readers remove (list_runs).
    """

    def __init__(self, folder: str, state: Callable[[], Json],
                 answer: Callable[[int, int, str], int], stop: Callable[[], None]) -> None:
        # Constant after construction:
        self.path = socket_path(folder, os.getpid())
        self._state = state
        self._answer = answer
        self._stop = stop
        self._wake_r, self._wake_w = os.pipe()
        self._listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        temporary = os.path.join(folder, ".%d.tmp" % os.getpid())
        try:
            for stale in (temporary, self.path):  # ours by pid: left by a dead process
                try:
                    os.unlink(stale)
                except FileNotFoundError:
                    pass
            self._listener.bind(temporary)
            os.chmod(temporary, 0o600)
            self._listener.listen(MAX_PEERS)
            self._listener.setblocking(False)
            os.rename(temporary, self.path)
        except OSError:
            self._listener.close()
            os.close(self._wake_r)
            os.close(self._wake_w)
            try:
                os.unlink(temporary)
            except OSError:
                pass
            raise
        self._thread = threading.Thread(target=self._serve, name="zl-run-channel",
                                        daemon=True)
        self._thread.start()
        self._closed = False  # the caller's thread only

    def close(self) -> None:
        """Stops the thread (after the callback it runs, if any) and removes
        the socket; again, does nothing."""
        if self._closed:
            return
        self._closed = True
        os.write(self._wake_w, b"x")
        self._thread.join(timeout=3 * IO_TIMEOUT_S + 1.0)
        try:
            os.unlink(self.path)
        except OSError:
            pass
        self._listener.close()
        os.close(self._wake_r)
        os.close(self._wake_w)

    def _serve(self) -> None:
        """The thread: accepts peers and moves each one on as its socket
        allows, until close() writes to the wake pipe. Every peer is
        closed on the way out."""
        peers: Dict[socket.socket, _Peer] = {}
        with selectors.DefaultSelector() as selector:
            selector.register(self._wake_r, selectors.EVENT_READ)
            selector.register(self._listener, selectors.EVENT_READ)
            accepting = True
            try:
                while True:
                    now = time.monotonic()
                    wait = min((p.deadline for p in peers.values()), default=now + 3600) - now
                    try:
                        ready = selector.select(max(0.0, wait))
                    except (OSError, ValueError):
                        return  # closed under a callback that outlived close()'s wait
                    for key, _ in ready:
                        if key.fileobj == self._wake_r:
                            return
                        if key.data is None:  # the listener
                            self._accept(selector, peers)
                        else:
                            self._step(selector, peers, key.data)
                    now = time.monotonic()
                    for peer in [p for p in peers.values() if p.deadline <= now]:
                        _drop(selector, peers, peer)  # took too long
                    if accepting != (len(peers) < MAX_PEERS):
                        accepting = not accepting
                        if accepting:
                            selector.register(self._listener, selectors.EVENT_READ)
                        else:
                            selector.unregister(self._listener)
            finally:
                for peer in list(peers.values()):
                    _drop(selector, peers, peer)

    def _accept(self, selector: selectors.BaseSelector,
                peers: Dict[socket.socket, "_Peer"]) -> None:
        """Takes one new peer; a peer of another user gets its error reply
        without being read."""
        try:
            conn, _ = self._listener.accept()
        except OSError:
            return  # gone before it was taken
        conn.setblocking(False)
        peer = _Peer(conn)
        peers[conn] = peer
        creds = conn.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, struct.calcsize("3i"))
        _pid, uid, _gid = struct.unpack("3i", creds)
        if uid != os.getuid():
            peer.start_reply({"error": "not this run's user"})
            selector.register(conn, selectors.EVENT_WRITE, peer)
        else:
            selector.register(conn, selectors.EVENT_READ, peer)

    def _step(self, selector: selectors.BaseSelector, peers: Dict[socket.socket, "_Peer"],
              peer: "_Peer") -> None:
        """Moves one peer on: reads its request (and replies once it is
        whole), writes its reply, or drains and drops it."""
        try:
            if peer.writing:
                peer.out = peer.out[peer.conn.send(peer.out):]
                if not peer.out:
                    # What the peer sent beyond the request is read and
                    # dropped (within the bound): closed unread, it would
                    # reset the connection before the peer read the reply.
                    peer.conn.shutdown(socket.SHUT_WR)
                    peer.writing = False
                    peer.draining = True
                    peer.deadline = time.monotonic() + IO_TIMEOUT_S
                    selector.modify(peer.conn, selectors.EVENT_READ, peer)
                return
            chunk = peer.conn.recv(MAX_REQUEST if peer.draining else MAX_REQUEST - len(peer.data))
            if peer.draining:
                if not chunk:
                    _drop(selector, peers, peer)
                return
            peer.data += chunk
            whole, line = request_line(peer.data, ended=not chunk)
            if whole:
                peer.start_reply(self.reply(line))
                selector.modify(peer.conn, selectors.EVENT_WRITE, peer)
        except (BlockingIOError, InterruptedError):
            pass  # woken without data: the next select tells
        except OSError:
            _drop(selector, peers, peer)  # the peer went away

    def reply(self, line: Optional[bytes]) -> Json:
        """The reply to one request line (None: longer than MAX_REQUEST)."""
        if line is None:
            return {"error": "request longer than %d bytes" % MAX_REQUEST}
        try:
            request = json.loads(line)
        except (ValueError, RecursionError):  # RecursionError: nested too deep
            return {"error": "not a JSON request"}
        op = request.get("op") if isinstance(request, dict) else None
        try:
            if op == "state":
                return {"run": self._state()}
            if op == "answer":
                sid, number = request.get("sid"), request.get("number")
                text = request.get("answer")
                if not (isinstance(sid, int) and isinstance(number, int)
                        and isinstance(text, str)):
                    return {"error": "answer needs sid, number and answer"}
                return {"took": self._answer(sid, number, text)}
            if op == "stop":
                self._stop()
                return {"stopping": True}
        except Exception as e:  # noqa: BLE001 (the peer's error, never the run's end)
            return {"error": "%s: %s" % (type(e).__name__, e)}
        return {"error": "unknown request"}


class _Peer:
    """One connection the publisher serves: its request as read so far,
    then its reply as left to write, then the drain. The publisher's
    thread only."""

    def __init__(self, conn: socket.socket) -> None:
        self.conn = conn
        self.data = b""        # the request read so far (at most MAX_REQUEST bytes)
        self.out = b""         # the reply not written yet
        self.writing = False   # the reply is being written
        self.draining = False  # the reply is written: what comes is dropped
        self.deadline = time.monotonic() + IO_TIMEOUT_S

    def start_reply(self, message: Json) -> None:
        """Starts writing `message`, with a new deadline."""
        self.out = _encode(message)
        self.writing = True
        self.deadline = time.monotonic() + IO_TIMEOUT_S


def _drop(selector: selectors.BaseSelector, peers: Dict[socket.socket, _Peer],
          peer: _Peer) -> None:
    selector.unregister(peer.conn)
    del peers[peer.conn]
    peer.conn.close()


def request_line(data: bytes, ended: bool) -> Tuple[bool, Optional[bytes]]:
    """Whether the first bytes `data` of a peer (at most MAX_REQUEST of
    them) hold its request, and the request line without its LF: (False,
    None) while more may come; what came when the peer `ended` its stream
    without an LF; None when the line exceeds MAX_REQUEST with its LF."""
    line, newline, _ = data.partition(b"\n")
    if newline:
        return True, line if len(line) + 1 <= MAX_REQUEST else None
    if len(data) >= MAX_REQUEST:
        return True, None
    return ended, line if ended else None


def _encode(message: Json) -> bytes:
    return json.dumps(message, allow_nan=False, default=str).encode() + b"\n"


# --- the readers' side -------------------------------------------------------


def _recv(conn: socket.socket, deadline: float, size: int) -> bytes:
    """Up to `size` bytes from the peer (b"" at its end); raises
    socket.timeout once the monotonic `deadline` has passed."""
    left = deadline - time.monotonic()
    if left <= 0:
        raise socket.timeout("the run took too long")
    conn.settimeout(left)
    return conn.recv(size)


class Gone(Exception):
    """The run is not there (any more): nothing listens on its socket."""


def request(path: str, message: Json, timeout: float = REPLY_TIMEOUT_S) -> Json:
    """Sends one request to the socket at `path`; its reply. Raises Gone
    when nothing listens there, OSError or ValueError for a run that does
    not answer properly (within `timeout` seconds in all and MAX_REPLY
    bytes, one JSON object)."""
    deadline = time.monotonic() + timeout
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as conn:
        conn.settimeout(timeout)
        _connect(conn, path, deadline)
        conn.sendall(_encode(message))
        data = b""
        while b"\n" not in data:
            if len(data) > MAX_REPLY:
                raise ValueError("reply longer than %d bytes" % MAX_REPLY)
            chunk = _recv(conn, deadline, 65536)
            if not chunk:
                break
            data += chunk
    try:
        reply = json.loads(data.partition(b"\n")[0])
    except RecursionError:
        raise ValueError("reply nested too deep") from None
    if not isinstance(reply, dict):
        raise ValueError("not a reply: %r" % data[:80])
    return reply


def _connect(conn: socket.socket, path: str, deadline: float) -> None:
    """Connects `conn` to the socket at `path` before `deadline`. A Unix
    socket whose backlog is full refuses at once (EAGAIN) rather than
    waiting: that is tried again until the deadline (socket.timeout then).
    Raises Gone when nothing listens there."""
    while True:
        try:
            conn.connect(path)
            return
        except (FileNotFoundError, ConnectionRefusedError) as e:
            raise Gone(str(e)) from None
        except BlockingIOError:
            if time.monotonic() >= deadline:
                raise socket.timeout("the run takes no connection") from None
            time.sleep(0.01)


def _alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def list_runs() -> List[Json]:
    """The state of every run published in the runs folder, each with its
    "pid", in the order of their pids. The runs are read side by side (up
    to MAX_READERS at once), each within STATE_TIMEOUT_S, so that a run
    that does not answer (a stopped process) neither delays the reading of
    the others nor the next reading much: every run is read again before
    its WATCHED window (zl run) ends. A socket of a process that is gone is
    removed; a run that does not answer is left out. Raises Unsafe when the
    folder may not be trusted; [] when there is none."""
    folder = runs_folder()
    if not os.path.lexists(folder):
        return []
    check_folder(folder)
    pids = sorted(int(m.group(1)) for m in map(_SOCKET_NAME.match, os.listdir(folder)) if m)
    if not pids:
        return []
    with concurrent.futures.ThreadPoolExecutor(min(MAX_READERS, len(pids)),
                                               thread_name_prefix="zl-runs") as pool:
        found = list(pool.map(lambda pid: _read_run(folder, pid), pids))
    return [run for run in found if run is not None]


def _read_run(folder: str, pid: int) -> Optional[Json]:
    """The state of the run of process `pid` with its "pid"; None when it
    does not answer (its socket removed when its process is gone)."""
    path = socket_path(folder, pid)
    try:
        run = request(path, {"op": "state"}, STATE_TIMEOUT_S).get("run")
    except Gone:
        if not _alive(pid):
            try:
                os.unlink(path)
            except OSError:
                pass
        return None
    except (OSError, ValueError):
        return None
    return {**run, "pid": pid} if isinstance(run, dict) else None


def ask(pid: int, message: Json) -> Json:
    """One request to the run of process `pid` (an answer, a stop); its
    reply, or {"error": ...} when the run is gone or does not answer.
    Raises Unsafe when the folder may not be trusted."""
    folder = runs_folder()
    check_folder(folder)
    try:
        return request(socket_path(folder, pid), message)
    except Gone:
        return {"error": "the run has ended"}
    except (OSError, ValueError) as e:
        return {"error": "the run does not answer: %s" % e}
