"""zl serve without a browser: the coalescing of tag changes, the access
checks, the folder the page may read, and a `zl serve` process (without a
server: it shows the server as disconnected) as a client other than its
page sees it: its token, its host names, its headers, bad bodies."""

import http.client
import http.cookiejar
import json
import os
import socket
import threading
import urllib.error
import urllib.request

import pytest

from serve_browser import BOUND_S, ServeProcess
from zl import cli
from zl.serve import access as serve_access
from zl.serve import files as serve_files
from zl.serve.coalesce import Coalescer, merge
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


@pytest.mark.parametrize("query,cookie,ok", [
    ("abc", None, True),      # the printed URL
    (None, "abc", True),      # the page's own requests (cookie)
    (None, None, False),      # none given: on loopback too
    ("", "", False),          # empty is not a token
    ("ab", None, False),      # a prefix is not the token
    ("abcd", "x", False),     # neither matches
    ("ab\u00e9", None, False),  # text that is not ASCII: refused, never raises
])
def test_token_check(query, cookie, ok):
    assert serve_access.Access(["127.0.0.1"], 8750, "abc").token_ok(query, cookie) is ok


@pytest.mark.parametrize("addresses,host,ok", [
    (["127.0.0.1"], "127.0.0.1:8750", True),
    (["127.0.0.1"], "localhost:8750", True),
    (["127.0.0.1"], "LocalHost:8750", True),           # names are matched in any case
    (["127.0.0.1"], "[::1]:8750", True),
    (["127.0.0.1"], "rebind.example:8750", False),     # a site's name made to resolve here
    (["127.0.0.1"], "127.0.0.1:8751", False),          # another port
    (["127.0.0.1"], "127.0.0.1", False),               # no port: 80
    (["127.0.0.1"], "127.0.0.1:", False),
    (["127.0.0.1"], "127.0.0.1:87x0", False),
    (["127.0.0.1"], "10.1.2.3:8750", False),           # an address it does not listen on
    (["127.0.0.1"], "", False),
    (["127.0.0.1"], None, False),                      # no Host header at all
    (["zl.example", "192.0.2.7"], "zl.example:8750", True),  # the --host name
    (["zl.example", "192.0.2.7"], "192.0.2.7:8750", True),   # the address it resolved to
    (["zl.example", "192.0.2.7"], "rebind.example:8750", False),
    (["0.0.0.0", "0.0.0.0"], "192.0.2.7:8750", True),  # any address: all of the machine's
    (["0.0.0.0", "0.0.0.0"], "[2001:db8::1]:8750", True),
    (["0.0.0.0", "0.0.0.0"], socket.gethostname() + ":8750", True),
    (["0.0.0.0", "0.0.0.0"], "rebind.example:8750", False),
    (["::", "::"], "[::1]:8750", True),
])
def test_host_check(addresses, host, ok):
    assert serve_access.Access(addresses, 8750, "abc").host_ok(host) is ok


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


@pytest.fixture(scope="module")
def serve(tmp_path_factory):
    """A zl serve of a folder with a test log and a scenario; no naming
    service answers where it looks: the page would show a disconnected
    server."""
    folder = tmp_path_factory.mktemp("serve")
    (folder / "a.tlg").write_text("x")
    (folder / "a.scn").write_text("COMMENT a\n")
    s = ServeProcess(free_port(), folder)
    yield s
    assert s.interrupt() == 0


def fetch(serve, method, path, host=None, headers=(), body=None):
    """One request to `serve`, with Host `host` (its own address when
    None): (status, headers, body text)."""
    conn = http.client.HTTPConnection("127.0.0.1", serve.port, timeout=BOUND_S)
    try:
        conn.request(method, path, body=body,
                     headers={"Host": host or "127.0.0.1:%d" % serve.port, **dict(headers)})
        r = conn.getresponse()
        return r.status, r.headers, r.read().decode("utf-8", "replace")
    finally:
        conn.close()


@pytest.mark.parametrize("extra", [[], ["--host", "127.0.0.1"]], ids=["loopback", "host"])
def test_every_server_needs_its_token(tmp_path, extra):
    serve = ServeProcess(free_port(), tmp_path, extra)
    try:
        assert serve.url.startswith("http://127.0.0.1:%d/?token=" % serve.port)
        assert len(serve.token) >= 32
        for wrong in ("", "?token=" + serve.token[:-1]):
            with pytest.raises(urllib.error.HTTPError) as e:
                urllib.request.urlopen(serve.base + "api/files" + wrong)
            assert e.value.code == 403
        jar = http.cookiejar.CookieJar()
        opener = urllib.request.build_opener(urllib.request.HTTPCookieProcessor(jar))
        with opener.open(serve.url) as r:
            assert r.status == 200
            cookie = r.headers["Set-Cookie"]
        assert cookie.startswith("zl_serve_token_%d=%s;" % (serve.port, serve.token))
        assert "HttpOnly" in cookie and "SameSite=Strict" in cookie
        assert opener.open(serve.base + "api/files").status == 200  # the cookie carries it
    finally:
        assert serve.interrupt() == 0


def test_a_server_started_again_refuses_the_old_token_with_a_page_that_says_so(tmp_path):
    # Two servers on one machine (or one started again): each keeps its own
    # cookie, and the other's token opens nothing.
    first, second = ServeProcess(free_port(), tmp_path), ServeProcess(free_port(), tmp_path)
    try:
        assert first.token != second.token
        jar = http.cookiejar.CookieJar()
        opener = urllib.request.build_opener(urllib.request.HTTPCookieProcessor(jar))
        opener.open(first.url).close()
        opener.open(second.url).close()
        assert opener.open(first.base + "api/files").status == 200
        assert opener.open(second.base + "api/files").status == 200
        status, headers, text = fetch(second, "GET", "/?token=" + first.token)
        assert (status, headers["Content-Type"]) == (403, "text/html; charset=utf-8")
        assert ("<p>This page needs the access token of the URL that zl serve printed (zl serve: "
                "http://127.0.0.1:%d/?token=...): open that URL. A zl serve started again has "
                "a new token and prints a new URL.</p>" % second.port) in text
        status, _, text = fetch(second, "GET", "/api/files",
                                headers={"Cookie": "zl_serve_token_%d=%s" % (second.port,
                                                                             first.token)})
        assert status == 403 and "needs the access token" in json.loads(text)["error"]
    finally:
        assert first.interrupt() == 0
        assert second.interrupt() == 0


WS_UPGRADE = {"Upgrade": "websocket", "Connection": "Upgrade", "Sec-WebSocket-Version": "13",
              "Sec-WebSocket-Key": "dGhlIHNhbXBsZSBub25jZQ=="}
SET_TAG = ("POST", "/api/tag", {"Content-Type": "text/plain"},
           '{"tag": "SP", "op": "set", "value": 4.75}')


@pytest.mark.parametrize("host,status", [
    ("rebind.example:{port}", 421),   # DNS rebinding: a site's name resolving to 127.0.0.1
    ("127.0.0.1:1", 421),
    ("localhost:{port}", 200),
    ("[::1]:{port}", 200),
])
@pytest.mark.parametrize("method,path,headers,body", [
    ("GET", "/", {}, None),
    ("GET", "/static/app.js", {}, None),
    ("GET", "/api/files", {}, None),
    ("GET", "/ws", WS_UPGRADE, None),
    SET_TAG,
], ids=["page", "asset", "api", "websocket", "set-tag"])
def test_only_its_own_host_names(serve, host, status, method, path, headers, body):
    host = host.format(port=serve.port)
    headers = {**headers, "Origin": "http://" + host}  # as the rebound site's page sends it
    if path == "/ws" and status == 200:
        status = 101
    if path == "/api/tag" and status == 200:
        status = 415   # past the host check: a body that is not JSON
    got, _, text = fetch(serve, method, path + "?token=" + serve.token, host, headers, body)
    assert got == status, text
    if status == 421:
        assert ("answers only as 127.0.0.1:{0}, [::1]:{0}, localhost:{0}: open the URL it "
                "printed").format(serve.port) in text


@pytest.mark.parametrize("method,path,host,body", [
    ("GET", "/?token={token}", None, None),                  # the page
    ("GET", "/static/app.css?token={token}", None, None),    # an asset
    ("GET", "/static/missing.js?token={token}", None, None),  # 404
    ("GET", "/nowhere?token={token}", None, None),           # 404 of no route
    ("GET", "/api/files?token={token}", None, None),
    ("GET", "/api/report?file=a.tlg&token={token}", None, None),
    ("POST", "/api/sim?token={token}", None, "[" * 1000),    # 400
    ("GET", "/", None, None),                                # 403: no token
    ("GET", "/?token={token}", "evil.example", None),        # 421
], ids=lambda v: str(v)[:40])
def test_every_response_forbids_framing_and_sniffing(serve, method, path, host, body):
    headers = {"Content-Type": "application/json"} if body else {}
    status, got, _ = fetch(serve, method, path.format(token=serve.token), host, headers, body)
    assert status != 500
    assert "frame-ancestors 'none'" in got["Content-Security-Policy"], status
    assert (got["X-Frame-Options"], got["X-Content-Type-Options"]) == ("DENY", "nosniff"), status


@pytest.mark.parametrize("path,body,status,error", [
    ("/api/sim", "[" * 200000, 400, "the body is not JSON"),          # nested too deep
    ("/api/tag", "[" * 200000, 400, "the body is not JSON"),
    ("/api/scenario/start", "{", 400, "the body is not JSON"),
    ("/api/answer", "\udcff", 400, "the body is not JSON"),
    ("/api/sim", "[true]", 400, "the body is not a JSON object"),
    ("/api/sim", "{}", 400, "running: true or false"),       # never a pause by default
    ("/api/sim", '{"running": "no"}', 400, "running: true or false"),
    ("/api/tag", '{"op": "set", "tag": "SP", "value": 1e400}', 400, "not a number"),
    ("/api/tag", '{"op": "set", "tag": "SP", "value": NaN}', 400, "not a number"),
    ("/api/tag", '{"op": "set", "tag": "SP", "value": "1"}', 400, "not a number"),
    ("/api/tag", '{"op": "set", "tag": ["SP"], "value": 1}', 400, "tag: not a text"),
    ("/api/scenario/stop", '{"id": 1e300}', 400, "no scenario id"),
    ("/api/scenario/stop", '{"id": 99999999999999999999}', 400, "no scenario id"),
    ("/api/scenario/stop", '{"id": true}', 400, "no scenario id"),
    ("/api/scenario/stop", '{"id": 1, "run": -1}', 400, "no run"),
    ("/api/answer", '{"sid": 1, "number": 1.5}', 400, "no question"),
    ("/api/answer", '{"sid": 1, "number": 1, "answer": 7}', 400, "answer: not a text"),
    ("/api/connect", '{"database": null}', 400, "database: not a text"),
    ("/api/scenario/start", '{"file": "a.scn", "arguments": {}}', 400,
     "arguments: not a text"),
], ids=lambda v: str(v)[:40])
def test_bad_bodies_get_400_with_one_line(serve, path, body, status, error):
    got, headers, text = fetch(serve, "POST", path + "?token=" + serve.token,
                               headers={"Content-Type": "application/json"},
                               body=body.encode("utf-8", "surrogateescape"))
    assert (got, json.loads(text)) == (status, {"error": error})
    assert text.count("\n") == 0
    assert not [line for line in serve.errors if "Traceback" in line]


@pytest.mark.parametrize("content_type", ["text/plain", "application/x-www-form-urlencoded",
                                          None])
def test_a_post_that_is_no_json_is_refused(serve, content_type):
    # What a form of another site can send without asking first.
    headers = {"Content-Type": content_type} if content_type else {}
    got, _, text = fetch(serve, "POST", "/api/sim?token=" + serve.token, headers=headers,
                         body='{"running": false}')
    assert (got, json.loads(text)["error"]) == (
        415, "the body must be JSON (Content-Type: application/json)")


@pytest.mark.parametrize("name,ok", [
    ("a.scn", True),
    ("A.SCN", True),          # the extension in any case
    ("sub/b.scn", True),
    ("a.tlg", False),         # a test log is no scenario: its lines may hold anything
    ("notes.txt", False),
    ("scn", False),
    (".hidden/c.scn", False),  # the listing does not show it
    ("1/2/3/4/5/d.scn", False),  # deeper than the listing goes
    ("../a.scn", False),
])
def test_only_listed_scenarios_start(tmp_path, name, ok):
    for file in ("a.scn", "A.SCN", "sub/b.scn", "a.tlg", "notes.txt", "scn", ".hidden/c.scn",
                 "1/2/3/4/5/d.scn"):
        (tmp_path / "f" / file).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / "f" / file).write_text("x")
    (tmp_path / "a.scn").write_text("x")
    folder = str(tmp_path / "f")
    if ok:
        assert serve_files.scenario(folder, name) == os.path.realpath(os.path.join(folder, name))
    else:
        with pytest.raises(serve_files.Refused, match=r"^not a scenario of the folder"):
            serve_files.scenario(folder, name)


STARTED = "00:00:00.000\tStarting test 'a.scn' at Thu Dec 10 14:05:13 2026\n"
FAILED = "00:00:01.000\t**Verification <T> = 1.000000 FAILED Value is 0.000000\n"
CLOSED = "00:00:02.000\tClosing test log after 0 mins 2.000 secs\n"


ERROR = "00:00:01.500\t__Tag not found: NOPE\n"
NOT_ENDED_LINE = '00:00:01.500\t__Run did not end: no "Closing test log" line\n'


@pytest.mark.parametrize("text,age,want", [
    # written a moment ago: a run going on, no error for the end it has not reached
    (STARTED, 1.0, ("running", 0, 0, 0)),
    (STARTED + FAILED, 1.0, ("running", 1, 1, 0)),
    (STARTED + FAILED + ERROR, 1.0, ("running", 2, 1, 1)),
    (STARTED + NOT_ENDED_LINE, 1.0, ("running", 1, 0, 1)),  # such a line of its own counts
    # left unfinished long ago: the verdict rule's answer, the missing end an error
    (STARTED + FAILED, 3600.0, ("aborted", 2, 1, 1)),
    (STARTED + FAILED + CLOSED, 1.0, ("failed", 1, 1, 0)),  # ended: the verdict rule's answer
    (STARTED + "00:00:00.500\t  Scenario was aborted by StopScenario()\n", 1.0,
     ("aborted", 1, 0, 1)),
    ("", 1.0, ("",)),                                          # no run at all
], ids=lambda v: str(v)[-40:])
def test_last_run_of_a_test_log(tmp_path, text, age, want):
    path = tmp_path / "a.tlg"
    path.write_text(text)
    mtime = path.stat().st_mtime
    run = serve_files.last_run(str(path), mtime, now=mtime + age)
    assert tuple(run.get(k) for k in ("verdict", "checks", "failures", "errors")[:len(want)]) \
        == want
