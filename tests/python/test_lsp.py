"""zl lsp driven as an editor drives it: a child process spoken to over its
pipes with the protocol's framing. Diagnostics at the right UTF-16
positions, cleared when fixed or closed, those of a subtest on its own
file; completion of keywords, labels and tags (of a tag file and of a live
database); hover; the lifecycle and its exit statuses; broken messages
that must not end the server; nothing on standard output but frames."""

import json
import os
import queue
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

from cli_support import zl

REPO = Path(__file__).resolve().parents[2]
PLANT_TAGS = REPO / "examples" / "plant.tags"
BOUND_S = 30.0


def command():
    launcher = os.environ.get("ZL_CLI")
    return [launcher] if launcher else [sys.executable, "-m", "zl.cli"]


def frame(message):
    body = json.dumps(message).encode("utf-8")
    return b"Content-Length: %d\r\n\r\n%s" % (len(body), body)


class Client:
    """A minimal language-server client of `zl lsp ARGV` in `folder`. A
    thread reads the server's output as strict frames: whatever else
    appears there is kept in `garbage`."""

    def __init__(self, folder, argv, env=None, launcher=None):
        self.stderr_path = folder / "lsp.stderr"
        with open(self.stderr_path, "wb") as stderr:
            self.process = subprocess.Popen((launcher or command() + ["lsp"]) +
                                            [str(a) for a in argv],
                                            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                            stderr=stderr, cwd=folder, env=env)
        self.garbage = []
        self._incoming = queue.Queue()
        self._backlog = []
        self._next_id = 0
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        out = self.process.stdout
        while True:
            line = out.readline()
            if not line:
                self._incoming.put(None)
                return
            if not line.startswith(b"Content-Length: "):
                self.garbage.append(line)
                continue
            length = int(line.split(b":")[1])
            while line not in (b"\r\n", b""):
                line = out.readline()
                if line not in (b"\r\n", b"") and not line.startswith(b"Content-Type: "):
                    self.garbage.append(line)
            self._incoming.put(json.loads(out.read(length)))

    def send_raw(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def notify(self, method, params=None):
        self.send_raw(frame({"jsonrpc": "2.0", "method": method, "params": params or {}}))

    def request(self, method, params=None):
        """Sends a request and gives its response (result or error)."""
        self._next_id += 1
        number = self._next_id
        self.send_raw(frame({"jsonrpc": "2.0", "id": number, "method": method,
                             "params": params or {}}))
        return self.wait_for(lambda m: m.get("id") == number and "method" not in m)

    def wait_for(self, matches):
        """The first message, of those not yet taken, that `matches`."""
        deadline = time.monotonic() + BOUND_S
        while True:
            for message in self._backlog:
                if matches(message):
                    self._backlog.remove(message)
                    return message
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError("no such message within %s s; seen: %r"
                                     % (BOUND_S, self._backlog))
            try:
                message = self._incoming.get(timeout=remaining)
            except queue.Empty:
                continue
            if message is None:
                raise AssertionError("the server's output ended; stderr: %s" % self.stderr())
            self._backlog.append(message)

    def diagnostics(self, uri):
        """The next diagnostics published for `uri`."""
        return self.wait_for(lambda m: m.get("method") == "textDocument/publishDiagnostics"
                             and m["params"]["uri"] == uri)["params"]["diagnostics"]

    def initialize(self):
        answer = self.request("initialize", {"processId": None, "rootUri": None,
                                             "capabilities": {}})
        self.notify("initialized")
        return answer

    def open(self, path, text):
        uri = path.as_uri()
        self.notify("textDocument/didOpen", {"textDocument": {
            "uri": uri, "languageId": "scenario", "version": 1, "text": text}})
        return uri

    def status(self):
        """The exit status, once the server ends (within the bound)."""
        self.process.stdin.close()
        return self.process.wait(timeout=BOUND_S)

    def stderr(self):
        return self.stderr_path.read_text(errors="replace")


@pytest.fixture
def lsp(tmp_path):
    """Starts `zl lsp ARGV` in tmp_path, initialized unless told; at the end
    the child is killed if still running, and its output must have been
    frames only and its log free of tracebacks."""
    started = []

    def start(*argv, initialize=True, env=None, launcher=None):
        client = Client(tmp_path, argv, env, launcher)
        started.append(client)
        if initialize:
            assert "capabilities" in client.initialize()["result"]
        return client

    yield start
    for client in started:
        if client.process.poll() is None:
            client.process.kill()
            client.process.wait(timeout=BOUND_S)
        assert client.garbage == []
        assert "Traceback" not in client.stderr()


def test_initialize_declares_what_is_served(lsp):
    client = lsp(initialize=False)
    capabilities = client.initialize()["result"]["capabilities"]
    assert capabilities["positionEncoding"] == "utf-16"
    assert capabilities["textDocumentSync"]["change"] == 1
    assert capabilities["hoverProvider"] is True
    assert "completionProvider" in capabilities


# zl lsp whose check also writes to standard output, as a stray print or a
# library's line would.
NOISY = """
import os, sys
from zl import authoring
from zl.cli import main
real = authoring.diagnostics
def noisy(*args, **kwargs):
    print("stray print", flush=True)
    os.write(1, b"stray write\\n")
    return real(*args, **kwargs)
authoring.diagnostics = noisy
sys.exit(main(["lsp"] + sys.argv[1:]))
"""


def test_what_else_writes_to_standard_output_goes_to_standard_error(lsp, tmp_path):
    client = lsp(launcher=[sys.executable, "-c", NOISY])
    uri = client.open(tmp_path / "a.scn", "VERFY TEMP_SP 60\n")
    assert [d["code"] for d in client.diagnostics(uri)] == ["unknown-keyword"]
    client.request("shutdown")
    client.notify("exit")
    assert client.status() == 0
    assert "stray print\nstray write\n" in client.stderr()  # and nothing in the frames


# (text, expected diagnostics as (line, start, end, severity, code))
DIAGNOSTICS = {
    # a typo on the second line: marked there, on the word
    "typo": ("COMMENT fill the tank\nVERFY TEMP_SP 60\n",
             [(1, 0, 5, 1, "unknown-keyword")]),
    # a warning after a character outside the BMP: UTF-16 units (2 for it),
    # neither bytes (4) nor code points (1)
    "utf-16": ("VERIFY T\U0001F600 60 1.5\n",
               [(0, 14, 17, 2, "extra-operand")]),
    "clean": ("VERIFY TEMP_SP 60\n", []),
}


@pytest.mark.parametrize("case", DIAGNOSTICS)
def test_diagnostics_of_an_opened_file(lsp, tmp_path, case):
    text, expected = DIAGNOSTICS[case]
    client = lsp()
    found = client.diagnostics(client.open(tmp_path / "a.scn", text))
    assert [(d["range"]["start"]["line"], d["range"]["start"]["character"],
             d["range"]["end"]["character"], d["severity"], d["code"]) for d in found] == expected
    assert all(d["source"] == "zl check" and d["message"] for d in found)


def test_a_fix_clears_the_mark_and_a_new_mistake_brings_one(lsp, tmp_path):
    client = lsp()
    uri = client.open(tmp_path / "a.scn", "VERFY TEMP_SP 60\n")
    assert [d["code"] for d in client.diagnostics(uri)] == ["unknown-keyword"]
    for version, text, codes in ((2, "VERIFY TEMP_SP 60\n", []),
                                 (3, "VERIFY TEMP_SP 60\nFOO\n", ["unknown-keyword"])):
        client.notify("textDocument/didChange", {
            "textDocument": {"uri": uri, "version": version},
            "contentChanges": [{"text": text}]})
        assert [d["code"] for d in client.diagnostics(uri)] == codes


def test_findings_of_a_subtest_are_on_its_file_until_the_caller_closes(lsp, tmp_path):
    (tmp_path / "sub.scn").write_text("COMMENT sub\nFOO\n")
    client = lsp()
    caller = client.open(tmp_path / "a.scn", "COMMENT x\n@SUB.SCN\n")
    sub = (tmp_path / "sub.scn").as_uri()
    assert client.diagnostics(caller) == []
    [found] = client.diagnostics(sub)
    assert found["range"]["start"] == {"line": 1, "character": 0}
    assert "as a.scn calls it" in found["message"]
    # the caller's line that calls the subtest
    assert found["relatedInformation"][0]["location"] == {"uri": caller, "range": {
        "start": {"line": 1, "character": 0}, "end": {"line": 1, "character": 0}}}
    client.notify("textDocument/didClose", {"textDocument": {"uri": caller}})
    assert client.diagnostics(caller) == []
    assert client.diagnostics(sub) == []


# (arguments, text, position, a label expected, its kind, its detail)
COMPLETIONS = {
    "keyword": ([], "VE", (0, 2), "VERIFY", 14, "VERIFY taglist value"),
    "keyword-lower-case": ([], "COMMENT x\nde", (1, 2), "DELAY", 14,
                           "DELAY delay [condition]"),
    "label": ([], ":START\nGOTO :ST", (1, 8), ":START", 18, "label"),
    "tag": (["--tags", PLANT_TAGS], "VERIFY TANK_L", (0, 13), "TANK_LEVEL", 6, "tag"),
}


@pytest.mark.parametrize("case", COMPLETIONS)
def test_completion(lsp, tmp_path, case):
    argv, text, (line, character), label, kind, detail = COMPLETIONS[case]
    client = lsp(*argv)
    uri = client.open(tmp_path / "a.scn", text)
    result = client.request("textDocument/completion", {
        "textDocument": {"uri": uri}, "position": {"line": line, "character": character}})
    items = {item["label"]: item for item in result["result"]["items"]}
    assert label in items, sorted(items)
    item = items[label]
    assert (item["kind"], item["detail"]) == (kind, detail)
    word = text.split("\n")[line].split(" ")[-1]
    assert item["textEdit"]["range"] == {
        "start": {"line": line, "character": character - len(word)},
        "end": {"line": line, "character": character}}


def test_no_tag_is_offered_without_tags(lsp, tmp_path):
    client = lsp()
    uri = client.open(tmp_path / "a.scn", "VERIFY TANK_L")
    result = client.request("textDocument/completion", {
        "textDocument": {"uri": uri}, "position": {"line": 0, "character": 13}})
    assert result["result"]["items"] == []


def test_unknown_tags_are_diagnosed_with_tags(lsp, tmp_path):
    client = lsp("--tags", PLANT_TAGS)
    uri = client.open(tmp_path / "a.scn", "VERIFY TANK_LEVEL 2\nVERIFY TANK_LEVL 2\n")
    assert [(d["range"]["start"]["line"], d["code"]) for d in client.diagnostics(uri)] == [
        (1, "unknown-tag")]


def test_tags_of_a_live_database(lsp, tmp_path, plant):
    client = lsp("--db", "SIM", env=dict(os.environ, ZL_ORB_OPTIONS=plant.orb_options))
    uri = client.open(tmp_path / "a.scn", "SETPV FEED_P")
    result = client.request("textDocument/completion", {
        "textDocument": {"uri": uri}, "position": {"line": 0, "character": 12}})
    assert "FEED_PUMP_CMD" in [item["label"] for item in result["result"]["items"]]


@pytest.mark.parametrize("line, character, expected", [
    (0, 3, ("VERIFY taglist value", 0, 6)),     # inside the keyword
    (0, 6, ("VERIFY taglist value", 0, 6)),     # just after it
    (0, 9, None),                               # on an operand
    (1, 2, None),                               # on a comment
])
def test_hover(lsp, tmp_path, line, character, expected):
    client = lsp()
    uri = client.open(tmp_path / "a.scn", "VERIFY TEMP_SP 60\n# VERIFY\n")
    result = client.request("textDocument/hover", {
        "textDocument": {"uri": uri}, "position": {"line": line, "character": character}})
    if expected is None:
        assert result["result"] is None
        return
    form, start, end = expected
    hover = result["result"]
    assert hover["contents"]["kind"] == "markdown"
    assert hover["contents"]["value"].startswith("```\n%s\n```\n" % form)
    assert hover["range"]["start"]["character"] == start
    assert hover["range"]["end"]["character"] == end


def test_a_document_that_is_no_file_gets_completion_and_no_diagnostics(lsp):
    client = lsp()
    client.notify("textDocument/didOpen", {"textDocument": {
        "uri": "untitled:Untitled-1", "languageId": "scenario", "version": 1, "text": "FOO\nVE"}})
    result = client.request("textDocument/completion", {
        "textDocument": {"uri": "untitled:Untitled-1"},
        "position": {"line": 1, "character": 2}})
    assert "VERIFY" in [item["label"] for item in result["result"]["items"]]
    assert not any(m.get("method") == "textDocument/publishDiagnostics"
                   for m in client._backlog)


# Broken input, each followed by a request that must still be answered;
# (raw bytes, the error code of the answer to the broken message, or None
# where it has no id to answer)
BROKEN = {
    "not-json": (b"Content-Length: 5\r\n\r\n{oops", None),
    "not-utf-8": (b"Content-Length: 2\r\n\r\n\xff\xfe", None),
    "no-length": (b"Content-Type: x\r\n\r\n", None),
    "length-no-number": (b"Content-Length: many\r\n\r\n", None),
    "array": (frame([1, 2]), None),
    "no-method-no-id": (frame({"jsonrpc": "2.0"}), None),
    "params-a-list": (frame({"jsonrpc": "2.0", "id": "x", "method": "textDocument/hover",
                             "params": [1]}), -32600),
    "unknown-method": (frame({"jsonrpc": "2.0", "id": "x", "method": "zl/nothing"}), -32601),
    "hover-of-a-closed-document": (frame({
        "jsonrpc": "2.0", "id": "x", "method": "textDocument/hover",
        "params": {"textDocument": {"uri": "file:///nowhere.scn"},
                   "position": {"line": 0, "character": 0}}}), -32602),
    "position-a-string": (frame({
        "jsonrpc": "2.0", "id": "x", "method": "textDocument/completion",
        "params": {"textDocument": {"uri": "file:///nowhere.scn"}, "position": "top"}}),
        -32602),
    "cancel-without-id": (frame({"jsonrpc": "2.0", "method": "$/cancelRequest",
                                 "params": {}}), None),
}


@pytest.mark.parametrize("case", BROKEN)
def test_a_broken_message_does_not_end_the_server(lsp, tmp_path, case):
    data, code = BROKEN[case]
    client = lsp()
    uri = client.open(tmp_path / "a.scn", "VERIFY TEMP_SP 60\n")
    client.diagnostics(uri)
    client.send_raw(data)
    if code is not None:
        assert client.wait_for(lambda m: m.get("id") == "x")["error"]["code"] == code
    result = client.request("textDocument/hover", {
        "textDocument": {"uri": uri}, "position": {"line": 0, "character": 1}})
    assert result["result"]["contents"]["value"].startswith("```\nVERIFY")
    assert client.request("shutdown")["result"] is None
    client.notify("exit")
    assert client.status() == 0


def test_requests_before_initialize_are_refused(lsp):
    client = lsp(initialize=False)
    answer = client.request("textDocument/hover", {
        "textDocument": {"uri": "file:///a.scn"}, "position": {"line": 0, "character": 0}})
    assert answer["error"]["code"] == -32002
    assert "capabilities" in client.initialize()["result"]


@pytest.mark.parametrize("steps, status", [
    (["initialize", "shutdown", "exit"], 0),   # the orderly end
    (["initialize", "exit"], 1),               # exit without shutdown
    (["initialize"], 1),                       # the editor went away (input ended)
    ([], 1),                                   # the input ended at once
    (["shutdown", "exit"], 1),                 # never initialized: shutdown is refused
])
def test_exit_status(lsp, steps, status):
    client = lsp(initialize=False)
    for step in steps:
        if step == "initialize":
            client.initialize()
        elif step == "shutdown":
            client.request("shutdown")
        else:
            client.notify(step)
    assert client.status() == status


def test_requests_after_shutdown_are_refused(lsp):
    client = lsp()
    client.request("shutdown")
    answer = client.request("textDocument/hover", {
        "textDocument": {"uri": "file:///a.scn"}, "position": {"line": 0, "character": 0}})
    assert answer["error"]["code"] == -32600
    client.notify("exit")
    assert client.status() == 0


def test_a_subtest_open_beside_its_caller_keeps_its_own_findings(lsp, tmp_path):
    (tmp_path / "sub.scn").write_text("FOO\n")
    client = lsp()
    sub = client.open(tmp_path / "sub.scn", "FOO\n")
    assert [d["message"] for d in client.diagnostics(sub)] == [
        "Unknown scenario keyword, 'FOO'"]
    caller = client.open(tmp_path / "a.scn", "@SUB.SCN\n")
    assert [d["message"] for d in client.diagnostics(sub)] == [
        "Unknown scenario keyword, 'FOO'", "Unknown scenario keyword, 'FOO' (as a.scn calls it)"]
    client.notify("textDocument/didClose", {"textDocument": {"uri": caller}})
    assert [d["message"] for d in client.diagnostics(sub)] == [
        "Unknown scenario keyword, 'FOO'"]


# What a user gets wrong before the server starts: (files, arguments, exit
# status, the last line on standard error)
STARTS = {
    "tags-missing": ({}, ["--tags", "plant.tag"], 3,
                     "zl lsp: cannot read plant.tag: No such file or directory"),
    "tags-not-tags": ({"t.tags": "just words\n"}, ["--tags", "t.tags"], 3,
                      "zl lsp: --tags t.tags: not a tag definition file or a saved tag file "
                      "(line 1: fewer than the 4 fields of a tag definition (name, driver, "
                      "point address, type, separated by TABs))"),
    "tags-and-db": ({}, ["--tags", "t", "--db", "SIM"], 2,
                    "zl lsp: argument -d/--db/--database: not allowed with argument --tags"),
    "a-file-argument": ({}, ["a.scn"], 2, "zl: unrecognized arguments: a.scn"),
}


@pytest.mark.parametrize("case", STARTS)
def test_what_stops_it_before_it_serves(tmp_path, monkeypatch, case):
    texts, argv, status, err = STARTS[case]
    for name, text in texts.items():
        (tmp_path / name).write_text(text)
    monkeypatch.chdir(tmp_path)
    done, out, errors = zl("lsp", *argv)
    assert (done, out, errors.splitlines()[-1]) == (status, "", err)


def test_without_the_json_rpc_package(monkeypatch):
    import zl as package
    for name in [m for m in sys.modules if m == "zl.lsp" or m.startswith("zl.lsp.")]:
        monkeypatch.delitem(sys.modules, name)
    monkeypatch.delattr(package, "lsp", raising=False)  # imported by an earlier test
    monkeypatch.setitem(sys.modules, "pylsp_jsonrpc", None)  # as if not installed
    status, out, err = zl("lsp")
    assert (status, out) == (1, "")
    assert err == ("zl lsp: needs the Python package pylsp_jsonrpc (Debian: "
                   "python3-pylsp-jsonrpc; pip: python-lsp-jsonrpc)\n")
