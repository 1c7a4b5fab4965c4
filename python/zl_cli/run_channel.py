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
import json
import os
import re
import select
import socket
import stat
import struct
import threading
import time
from typing import Any, Callable, Dict, List, Optional

Json = Dict[str, Any]

MAX_REQUEST = 4096     # bytes of one request, its LF included
MAX_REPLY = 1 << 20    # bytes of one reply a reader takes
IO_TIMEOUT_S = 1.0     # bound on the publisher's reads and writes of one request
REPLY_TIMEOUT_S = 5.0  # bound on a reader's wait: its request may wait behind another one
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
    block for long. Requests are served one at a time, reading each bounded
    by IO_TIMEOUT_S (and the reply's writing and the drain after it by as
    much again each), so a peer that sends nothing, or a byte at a time,
    delays the others by that at most. An exception of a callback is the
    peer's error reply, never the run's end.

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
            self._listener.listen(8)
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
        """Stops the thread (after the request it serves, if any) and removes
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
        while True:
            try:
                ready, _, _ = select.select([self._listener, self._wake_r], [], [])
            except (OSError, ValueError):
                return  # closed under a request that outlived close()'s wait
            if self._wake_r in ready:
                return
            try:
                conn, _ = self._listener.accept()
            except OSError:
                continue
            with conn:
                try:
                    self._one(conn)
                except OSError:
                    pass  # the peer went away or took too long

    def _one(self, conn: socket.socket) -> None:
        deadline = time.monotonic() + IO_TIMEOUT_S
        creds = conn.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, struct.calcsize("3i"))
        _pid, uid, _gid = struct.unpack("3i", creds)
        if uid != os.getuid():
            reply: Json = {"error": "not this run's user"}
        else:
            reply = self.reply(_read_line(conn, deadline))
        conn.settimeout(IO_TIMEOUT_S)
        conn.sendall(_encode(reply))
        # What the peer sent beyond the request is read and dropped (within
        # the bound): closed unread, it would reset the connection before
        # the peer read the reply.
        conn.shutdown(socket.SHUT_WR)
        deadline = time.monotonic() + IO_TIMEOUT_S
        while _recv(conn, deadline, MAX_REQUEST):
            pass

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


def _recv(conn: socket.socket, deadline: float, size: int) -> bytes:
    """Up to `size` bytes from the peer (b"" at its end); raises
    socket.timeout once the monotonic `deadline` has passed."""
    left = deadline - time.monotonic()
    if left <= 0:
        raise socket.timeout("the peer took too long")
    conn.settimeout(left)
    return conn.recv(size)


def _read_line(conn: socket.socket, deadline: float) -> Optional[bytes]:
    """One line from the peer before `deadline`, without its LF (what came
    before the end of the stream when no LF comes); None when it exceeds
    MAX_REQUEST. Raises OSError (socket.timeout among them)."""
    data = b""
    while b"\n" not in data:
        if len(data) >= MAX_REQUEST:
            return None
        chunk = _recv(conn, deadline, MAX_REQUEST - len(data))
        if not chunk:
            break
        data += chunk
    line, newline, _ = data.partition(b"\n")
    if len(line) + len(newline) > MAX_REQUEST:
        return None
    return line


def _encode(message: Json) -> bytes:
    return json.dumps(message, allow_nan=False, default=str).encode() + b"\n"


# --- the readers' side -------------------------------------------------------


class Gone(Exception):
    """The run is not there (any more): nothing listens on its socket."""


def request(path: str, message: Json) -> Json:
    """Sends one request to the socket at `path`; its reply. Raises Gone
    when nothing listens there, OSError or ValueError for a run that does
    not answer properly (within REPLY_TIMEOUT_S and MAX_REPLY bytes, one
    JSON object)."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as conn:
        conn.settimeout(REPLY_TIMEOUT_S)
        try:
            conn.connect(path)
        except (FileNotFoundError, ConnectionRefusedError) as e:
            raise Gone(str(e)) from None
        conn.sendall(_encode(message))
        data = b""
        while b"\n" not in data:
            if len(data) > MAX_REPLY:
                raise ValueError("reply longer than %d bytes" % MAX_REPLY)
            chunk = conn.recv(65536)
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
    "pid", in the order of their pids. A socket of a process that is gone is
    removed; one that does not answer is left out. Raises Unsafe when the
    folder may not be trusted; [] when there is none."""
    folder = runs_folder()
    if not os.path.lexists(folder):
        return []
    check_folder(folder)
    runs: List[Json] = []
    pids = sorted(int(m.group(1)) for m in map(_SOCKET_NAME.match, os.listdir(folder)) if m)
    for pid in pids:
        path = socket_path(folder, pid)
        try:
            run = request(path, {"op": "state"}).get("run")
        except Gone:
            if not _alive(pid):
                try:
                    os.unlink(path)
                except OSError:
                    pass
            continue
        except (OSError, ValueError):
            continue
        if isinstance(run, dict):
            runs.append({**run, "pid": pid})
    return runs


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
