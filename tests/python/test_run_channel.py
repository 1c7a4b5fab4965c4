"""The local channel of `zl run` (zl.runs.channel), without a server: a
Publisher with callbacks of the test's own, read by the channel's client
the way `zl serve` reads it."""

import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time

import pytest

from zl.runs import channel as run_channel


@pytest.fixture
def runtime(monkeypatch):
    """A runtime folder of the test's own (short: socket paths are bounded)."""
    with tempfile.TemporaryDirectory(prefix="zl-xdg-", dir="/tmp") as folder:
        monkeypatch.setenv("XDG_RUNTIME_DIR", folder)
        yield folder


class FakeRun:
    """The callbacks of a run: a question that takes one answer."""

    def __init__(self):
        self.answers = []
        self.stops = 0
        self.broken = False
        self.on_state = lambda: None  # called at every read of the state

    def state(self):
        self.on_state()
        if self.broken:
            raise ZeroDivisionError("division by zero")
        return {"id": 1, "asked": None if self.answers else {"sid": 1, "number": 2}}

    def answer(self, sid, number, text):
        if (sid, number) != (1, 2) or self.answers:
            return 0
        self.answers.append(text)
        return 1

    def stop(self):
        self.stops += 1


@pytest.fixture
def published(runtime):
    run = FakeRun()
    publisher = run_channel.Publisher(run_channel.open_folder(create=True), run.state,
                                      run.answer, run.stop)
    yield run, publisher
    publisher.close()


def raw(path, data, shut=True):
    """Sends raw bytes to a socket; the reply as bytes."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.settimeout(10)
        s.connect(path)
        s.sendall(data)
        if shut:
            s.shutdown(socket.SHUT_WR)
        reply = b""
        while chunk := s.recv(4096):
            reply += chunk
    return reply


def test_state_answer_and_stop(published):
    run, publisher = published
    folder = os.environ["XDG_RUNTIME_DIR"] + "/zl/runs"
    assert os.stat(folder).st_mode & 0o777 == 0o700
    assert os.listdir(folder) == ["%d.sock" % os.getpid()]  # no temporary name left
    runs = run_channel.list_runs()
    assert runs == [{"id": 1, "asked": {"sid": 1, "number": 2}, "pid": os.getpid()}]
    # the first answer wins; a later one, or one to another question, is refused
    assert run_channel.ask(os.getpid(), {"op": "answer", "sid": 1, "number": 2,
                                         "answer": "Yes"}) == {"took": 1}
    assert run_channel.ask(os.getpid(), {"op": "answer", "sid": 1, "number": 2,
                                         "answer": "No"}) == {"took": 0}
    assert run.answers == ["Yes"]
    assert run_channel.list_runs()[0]["asked"] is None
    assert run_channel.ask(os.getpid(), {"op": "stop"}) == {"stopping": True}
    assert run.stops == 1
    publisher.close()
    assert not os.path.exists(publisher.path)
    assert run_channel.list_runs() == []
    assert run_channel.ask(os.getpid(), {"op": "state"}) == {"error": "the run has ended"}


BAD_REQUESTS = [
    # not JSON
    (b"hello\n", "not a JSON request"),
    # JSON but no object, or no known operation
    (b"[1, 2]\n", "unknown request"),
    (b'{"op": "format-disk"}\n', "unknown request"),
    # an answer without its fields, or with fields of the wrong type
    (b'{"op": "answer", "sid": 1}\n', "answer needs sid, number and answer"),
    (b'{"op": "answer", "sid": "1", "number": 2, "answer": "y"}\n',
     "answer needs sid, number and answer"),
    # longer than the bound, with and without a line end after it
    (b"x" * run_channel.MAX_REQUEST + b"\n", "request longer than"),
    (b"{" + b" " * (run_channel.MAX_REQUEST * 4), "request longer than"),
    # a line of exactly the bound is read
    (b'{"op": "nop"' + b" " * (run_channel.MAX_REQUEST - 14) + b"}\n", "unknown request"),
    # bytes that are no text
    (b"\xff\xfe\x00\n", "not a JSON request"),
    # nested deeper than the parser's recursion
    (b"[" * 4000 + b"\n", "not a JSON request"),
]


@pytest.mark.parametrize("data,error", BAD_REQUESTS, ids=lambda v: repr(v)[:24])
def test_bad_requests_get_an_error_and_the_run_goes_on(published, data, error):
    run, publisher = published
    reply = raw(publisher.path, data)
    assert reply.endswith(b"\n") and error in reply.decode(), reply
    assert run_channel.list_runs()[0]["id"] == 1
    assert run.answers == [] and run.stops == 0


def test_a_failing_callback_is_the_peers_error(published):
    run, _ = published
    run.broken = True
    assert run_channel.ask(os.getpid(), {"op": "state"}) == {
        "error": "ZeroDivisionError: division by zero"}
    run.broken = False
    assert run_channel.list_runs()[0]["id"] == 1


def test_a_silent_peer_does_not_hold_the_run(published):
    _, publisher = published
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as silent:
        silent.connect(publisher.path)  # sends nothing, keeps the connection
        # served after the silent one's time-out, without the test closing it
        assert run_channel.list_runs()[0]["id"] == 1


def connect_bounded(s, path, bound=10.0):
    """Connects the socket `s`, made non-blocking, to `path`, waiting
    while the listener's backlog is full (a Unix socket then refuses at
    once); BlockingIOError after `bound` seconds."""
    s.setblocking(False)
    end = time.monotonic() + bound
    while True:
        try:
            s.connect(path)
            return
        except BlockingIOError:
            if time.monotonic() > end:
                raise
            time.sleep(0.01)


@pytest.mark.parametrize("idle", [1, 6, run_channel.MAX_PEERS - 1])
def test_idle_peers_do_not_hold_the_run(published, monkeypatch, idle):
    # Peers that connect and send nothing, each given far longer than a
    # reader waits: a reader is answered beside them, while they wait on.
    monkeypatch.setattr(run_channel, "IO_TIMEOUT_S", 60.0)
    _, publisher = published
    silent = [socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) for _ in range(idle)]
    try:
        for s in silent:
            connect_bounded(s, publisher.path)
        assert [r["id"] for r in run_channel.list_runs()] == [1]
        assert run_channel.ask(os.getpid(), {"op": "stop"}) == {"stopping": True}
        for s in silent:  # still open: neither answered nor dropped
            with pytest.raises(BlockingIOError):
                s.recv(1)
    finally:
        for s in silent:
            s.close()


def test_a_run_that_does_not_answer_holds_no_other_run(published):
    # A published run that takes requests and never answers (a stopped
    # process), under a pid read before this process's run.
    folder = run_channel.open_folder(create=True)
    assert os.getpid() > 1
    ours_read = threading.Event()
    ended_first = []   # the reader gave the silent run up before it read ours
    run, _ = published
    run.on_state = ours_read.set
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as stuck:
        stuck.bind(run_channel.socket_path(folder, 1))
        stuck.listen(1)

        def hold():
            conn, _ = stuck.accept()
            with conn:
                conn.settimeout(0.05)
                while not ours_read.is_set():
                    try:
                        if conn.recv(4096) == b"":
                            ended_first.append(True)
                            return
                    except socket.timeout:
                        pass

        holder = threading.Thread(target=hold)
        holder.start()
        try:
            runs = run_channel.list_runs()
        finally:
            ours_read.set()
            holder.join(30)
    assert [r["pid"] for r in runs] == [os.getpid()]
    assert ended_first == []


def test_a_reader_waits_for_a_full_backlog(runtime):
    # A run whose thread has not taken its waiting peers yet: a Unix
    # socket then refuses a connection at once instead of waiting.
    folder = run_channel.open_folder(create=True)
    path = run_channel.socket_path(folder, os.getpid())
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as fake, \
            socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as waiting:
        fake.bind(path)
        fake.listen(0)
        connect_bounded(waiting, path)  # fills the backlog

        def serve_late():
            # The delay is the condition under test: the reader comes first.
            fake.accept()[0].close()  # the one that filled the backlog
            conn, _ = fake.accept()
            with conn:
                conn.recv(4096)
                conn.sendall(b'{"run": {"id": 7}}\n')

        server = threading.Timer(0.3, serve_late)
        server.daemon = True  # never holds the test's process at its end
        server.start()
        try:
            assert run_channel.request(path, {"op": "state"}) == {"run": {"id": 7}}
        finally:
            waiting.close()
            server.join(30)


@pytest.mark.parametrize("data,ended,want", [
    (b"", False, (False, None)),                           # nothing yet
    (b'{"op"', False, (False, None)),                      # part of a line
    (b'{"op"', True, (True, b'{"op"')),                    # the peer ended without an LF
    (b"a\nb", False, (True, b"a")),                        # the line; what follows is dropped
    (b"x" * (run_channel.MAX_REQUEST - 1) + b"\n", False,  # the bound with its LF
     (True, b"x" * (run_channel.MAX_REQUEST - 1))),
    (b"x" * run_channel.MAX_REQUEST, False, (True, None)),  # one byte more: too long
    (b"x" * (run_channel.MAX_REQUEST - 1), False, (False, None)),  # may still end in time
])
def test_request_line(data, ended, want):
    assert run_channel.request_line(data, ended) == want


@pytest.mark.parametrize("reply", [
    b"not json\n",                                # no JSON
    b"[1]\n",                                     # JSON but no object
    b"[" * 4000 + b"\n",                          # nested deeper than the parser's recursion
    b"{" * (run_channel.MAX_REPLY + 70000),       # beyond the bound, no line end
], ids=["garbage", "no-object", "deep", "endless"])
def test_a_run_that_answers_badly_is_left_out(runtime, reply):
    # What a broken (or hostile) process of the user puts in the folder
    # costs the reader that run only.
    folder = run_channel.open_folder(create=True)
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as fake:
        fake.bind(run_channel.socket_path(folder, os.getpid()))
        fake.listen(1)

        def answer():
            conn, _ = fake.accept()
            with conn:
                conn.recv(4096)
                try:
                    conn.sendall(reply)
                except OSError:
                    pass  # the reader stopped reading

        server = threading.Thread(target=answer)
        server.start()
        assert run_channel.list_runs() == []
        server.join(30)


def test_stale_sockets(runtime):
    folder = run_channel.open_folder(create=True)
    # A process that has ended, and one that lives but does not listen.
    dead = subprocess.run([sys.executable, "-c", "import os; print(os.getpid())"],
                          capture_output=True, text=True, check=True)
    alive = subprocess.Popen([sys.executable, "-c", "import sys; sys.stdin.read()"],
                             stdin=subprocess.PIPE)
    try:
        for pid in (int(dead.stdout), alive.pid):
            with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
                s.bind(run_channel.socket_path(folder, pid))  # bound, never listening
        open(os.path.join(folder, "notes.txt"), "w").close()  # not a run's name
        assert run_channel.list_runs() == []
        # the dead one's socket is removed, the living process's kept
        assert sorted(os.listdir(folder)) == ["%d.sock" % alive.pid, "notes.txt"]
    finally:
        alive.communicate(b"")


def unsafe_mode(folder):
    os.chmod(folder, 0o755)


def unsafe_owner(folder):
    os.chown(folder, 65534, 65534)


def unsafe_link(folder):
    real = folder + ".real"
    os.rename(folder, real)
    os.symlink(real, folder)


def unsafe_file(folder):
    os.rmdir(folder)
    open(folder, "w").close()


@pytest.mark.parametrize("spoil,reason", [
    (unsafe_mode, "may be used by other users (mode 755, needs 700)"),
    (unsafe_owner, "belongs to another user"),
    (unsafe_link, "is a symbolic link"),
    (unsafe_file, "is not a folder"),
])
def test_a_folder_others_may_use_is_refused(runtime, spoil, reason):
    if spoil is unsafe_owner and os.getuid() != 0:
        pytest.skip("giving a folder away needs root")
    folder = run_channel.open_folder(create=True)
    spoil(folder)
    for use in (lambda: run_channel.open_folder(create=True), run_channel.list_runs,
                lambda: run_channel.ask(1, {"op": "state"})):
        with pytest.raises(run_channel.Unsafe, match=re.escape(reason)):
            use()
