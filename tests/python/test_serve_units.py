"""zl serve without a browser: the coalescing of tag changes, the access
checks, the folder the page may read, and the token of an opened server."""

import http.cookiejar
import os
import socket
import threading
import urllib.error
import urllib.request

import pytest

from serve_browser import ServeProcess
from zl_cli import cli, serve_access, serve_files
from zl_cli.serve_coalesce import Coalescer, merge
from zl_services import free_port


def test_coalescer_keeps_each_tags_latest_change_in_order_of_change():
    c = Coalescer()
    for tag, value in (("A", 1), ("B", 2), ("A", 3)):
        c.put(tag, value)
    assert list(c.take().items()) == [("B", 2), ("A", 3)]  # A changed last
    assert c.take() == {}                                   # taken once only
    assert c.received == 3


def test_merge_into_a_slow_pages_pending_batch():
    pending = {"A": 1, "B": 1}
    assert list(merge(pending, {"A": 2, "C": 1}).items()) == [("B", 1), ("A", 2), ("C", 1)]


def test_coalescer_loses_no_last_value_under_concurrent_puts():
    c = Coalescer()
    count, tags = 20000, ["T%d" % i for i in range(4)]

    def writer(tag):
        for i in range(count):
            c.put(tag, i)

    threads = [threading.Thread(target=writer, args=(t,)) for t in tags]
    for t in threads:
        t.start()
    seen = {}
    while any(t.is_alive() for t in threads):
        for tag, value in c.take().items():
            assert value >= seen.get(tag, -1)  # never an older value after a newer one
            seen[tag] = value
    for t in threads:
        t.join()
    seen.update(c.take())
    assert seen == {t: count - 1 for t in tags}
    assert c.received == count * len(tags)


@pytest.mark.parametrize("expected,query,cookie,ok", [
    (None, None, None, True),        # loopback only: no token needed
    ("abc", "abc", None, True),      # the printed URL
    ("abc", None, "abc", True),      # the page's own requests (cookie)
    ("abc", None, None, False),      # none given
    ("abc", "", "", False),          # empty is not a token
    ("abc", "ab", None, False),      # a prefix is not the token
    ("abc", "abcd", "x", False),     # neither matches
    ("abc", "ab\u00e9", None, False),  # text that is not ASCII: refused, never raises
])
def test_token_check(expected, query, cookie, ok):
    assert serve_access.token_ok(expected, query, cookie) is ok


@pytest.mark.parametrize("origin,ok", [
    (None, True),                          # not sent by a page of another site
    ("http://127.0.0.1:8750", True),       # the page itself
    ("http://127.0.0.1:8751", False),      # another port is another site
    ("http://evil.example", False),
    ("null", False),                       # a sandboxed or file page
])
def test_origin_check(origin, ok):
    assert serve_access.origin_ok(origin, "127.0.0.1:8750") is ok


@pytest.fixture
def folder(tmp_path):
    f = tmp_path / "logs"
    (f / "sub").mkdir(parents=True)
    (f / "a.tlg").write_text("x")
    (f / "sub" / "b.tlg").write_text("x")
    (tmp_path / "logs2").mkdir()
    (tmp_path / "logs2" / "c.tlg").write_text("x")
    (tmp_path / "outside.tlg").write_text("x")
    os.symlink(tmp_path / "outside.tlg", f / "link.tlg")
    return f


@pytest.mark.parametrize("name,ok", [
    ("a.tlg", True),
    ("sub/b.tlg", True),
    ("sub/../a.tlg", True),
    ("../outside.tlg", False),      # up and out
    ("../logs2/c.tlg", False),      # a sibling whose name starts like the folder's
    ("link.tlg", False),            # a link that leads out
    ("sub", False),                 # a folder is not a file
    ("missing.tlg", False),
    ("", False),
    ("a.tlg\0", False),
])
def test_names_resolve_inside_the_folder_only(folder, name, ok):
    if ok:
        assert serve_files.resolve(str(folder), name).startswith(os.path.realpath(folder))
    else:
        with pytest.raises(serve_files.Refused):
            serve_files.resolve(str(folder), name)
    with pytest.raises(serve_files.Refused):
        serve_files.resolve(str(folder), str(folder / "a.tlg"))  # absolute names never


@pytest.fixture
def busy_port():
    """A loopback port something else listens on."""
    with socket.create_server(("127.0.0.1", 0)) as s:
        yield s.getsockname()[1]


@pytest.mark.parametrize("argv,status,usage,message", [
    (["--folder", "{tmp}/missing"], 3, False, "no such folder: {tmp}/missing"),
    (["--port", "70000"], 2, True, "argument --port: not a port number (0 to 65535): '70000'"),
    (["--port", "{busy}"], 2, True, "cannot listen on 127.0.0.1:{busy}: Address already in use"),
])
def test_errors_before_serving(tmp_path, busy_port, capsys, argv, status, usage, message):
    def fill(text):
        return text.format(tmp=tmp_path, busy=busy_port)

    got = cli.main(["serve", "--folder", str(tmp_path)] + [fill(a) for a in argv])
    out, err = capsys.readouterr()
    lines = err.splitlines()
    assert got == status and out == "", err
    assert lines[-1] == "zl serve: " + fill(message)
    assert lines[0].startswith("usage: zl serve") if usage else len(lines) == 1


def test_opened_server_needs_its_token(tmp_path):
    # No naming service answers there: the page would show a disconnected server.
    serve = ServeProcess(free_port(), tmp_path, ["--host", "127.0.0.1"])
    try:
        base, _, token = serve.url.partition("?token=")
        assert len(token) >= 32
        with pytest.raises(urllib.error.HTTPError) as e:
            urllib.request.urlopen(base + "api/files")
        assert e.value.code == 403
        with pytest.raises(urllib.error.HTTPError):
            urllib.request.urlopen(base + "api/files?token=" + token[:-1])
        jar = http.cookiejar.CookieJar()
        opener = urllib.request.build_opener(urllib.request.HTTPCookieProcessor(jar))
        assert opener.open(serve.url).status == 200
        assert opener.open(base + "api/files").status == 200  # the cookie carries it
    finally:
        assert serve.interrupt() == 0


STARTED = "00:00:00.000\tStarting test 'a.scn' at Thu Dec 10 14:05:13 2026\n"
FAILED = "00:00:01.000\t**Verification <T> = 1.000000 FAILED Value is 0.000000\n"
CLOSED = "00:00:02.000\tClosing test log after 0 mins 2.000 secs\n"


@pytest.mark.parametrize("text,age,verdict", [
    (STARTED + FAILED, 1.0, "running"),            # written a moment ago: a run going on
    (STARTED + FAILED, 3600.0, "aborted"),         # left unfinished long ago
    (STARTED + FAILED + CLOSED, 1.0, "failed"),    # ended: the verdict rule's answer
    (STARTED + "00:00:00.500\t  Scenario was aborted by StopScenario()\n", 1.0, "aborted"),
    ("", 1.0, ""),                                 # no run at all
])
def test_last_run_of_a_test_log(tmp_path, text, age, verdict):
    path = tmp_path / "a.tlg"
    path.write_text(text)
    mtime = path.stat().st_mtime
    assert serve_files.last_run(str(path), mtime, now=mtime + age)["verdict"] == verdict
