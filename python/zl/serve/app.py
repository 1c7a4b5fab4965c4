"""zl serve's web server: the page, its assets and its API, and the loops
that feed the pages (the command line is zl.serve).

Threads: the asyncio event loop serves HTTP and websockets; every call to
the server runs on the Plant's one worker thread; tag changes arrive on the
ORB's threads into a Coalescer, which the loop empties VALUE_RATE_HZ times
a second into each page's own pending batch (coalesce.merge), so a slow
page skips values instead of falling behind. The runs of `zl run` are read,
answered and stopped through their sockets (zl.runs.channel) on the loop's
default executor, never on the plant's call thread.
"""
from __future__ import annotations

import argparse
import asyncio
import concurrent.futures
import functools
import html
import io
import json
import math
import os
import signal
import socket
import sys
import tempfile
from dataclasses import dataclass, field
from typing import (TYPE_CHECKING, Any, Callable, Dict, List, Optional, ParamSpec, Tuple,
                    TypeVar)

from zl import authoring, reports, safe_text
from zl.cli import connection, errors
from zl.readers import logset_file
from zl.runs import channel
from zl.serve import access as serve_access
from zl.serve import editor
from zl.serve import files as serve_files
from zl.serve.coalesce import Coalescer, merge
from zl.serve.plant import TAG_ACTIONS, Change, Json, NotListed, Plant

if TYPE_CHECKING:
    from aiohttp import web
    from aiohttp.typedefs import Handler

P = ParamSpec("P")
T = TypeVar("T")

VALUE_RATE_HZ = 10      # value batches sent to a page per second, at most
STATE_PERIOD_S = 1.0    # how often the server's state is read
RUNS_PERIOD_S = 0.5     # how often the runs of zl run are read
STALL_S = 3.0           # a state read taking longer: the server does not answer
STOP_BOUND_S = 5.0      # bound on the disconnect at the end
SHUTDOWN_S = 1.0        # bound on the requests still going at the stop
STATIC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "static")
SHARED = "zl_serve"     # the key of the Shared state in the web application


@dataclass
class Page:
    """One open page: the changes not sent to it yet, and the event that
    wakes its sender."""
    pending: Dict[str, Change] = field(default_factory=dict)
    ready: asyncio.Event = field(default_factory=asyncio.Event)


@dataclass
class Shared:
    """What every request handler of the application uses. The event loop's
    thread only."""
    plant: Plant
    coalescer: Coalescer[Change]
    pages: Dict[web.WebSocketResponse, Page] = field(default_factory=dict)
    state: Json = field(default_factory=lambda: {"connected": False})  # the last one read
    runs: List[Json] = field(default_factory=list)  # the runs of zl run, as last read


def shared(app: web.Application) -> Shared:
    """The Shared state of the application (whose own mapping is untyped)."""
    found: Shared = app[SHARED]
    return found


async def serve(args: argparse.Namespace, sock: socket.socket, host: str) -> int:
    from aiohttp import web

    coalescer: Coalescer[Change] = Coalescer()
    loop = asyncio.get_running_loop()
    calls = concurrent.futures.ThreadPoolExecutor(1, thread_name_prefix="zl-serve")
    plant = await loop.run_in_executor(calls, Plant.open, connection.client_options(args),
                                       args.db, args.folder, coalescer, calls)
    connected = await loop.run_in_executor(calls, plant.connect)
    if not connected:
        errors.error("serve", "database %s not reachable yet; the page shows it as "
                     "disconnected and reconnects" % args.db)
    bound, port = sock.getsockname()[:2]
    access = serve_access.Access((host, bound), port, serve_access.new_token())
    app = make_app(Shared(plant, coalescer), access)
    runner = web.AppRunner(app, handle_signals=False)
    await runner.setup()
    # Requests still waiting for the server at the stop get SHUTDOWN_S.
    site = web.SockSite(runner, sock, shutdown_timeout=SHUTDOWN_S)
    await site.start()
    print("zl serve: http://%s:%d/?token=%s" % (serve_access.url_host(bound), port,
                                                 access.token), flush=True)

    stop = asyncio.Event()
    for sig in (signal.SIGINT, signal.SIGTERM):
        loop.add_signal_handler(sig, stop.set)
    tasks = [asyncio.create_task(state_loop(app)), asyncio.create_task(value_loop(app)),
             asyncio.create_task(runs_loop(app))]
    await stop.wait()
    for task in tasks:
        task.cancel()
    for ws in list(shared(app).pages):
        await ws.close()
    await runner.cleanup()
    try:
        await asyncio.wait_for(loop.run_in_executor(calls, plant.close), STOP_BOUND_S)
    except asyncio.TimeoutError:
        # A server that never answers holds the call thread until the
        # client's call time-out, and the interpreter would wait for that
        # thread at exit: nothing is left to save, so end at once.
        print("zl serve: stopped (the server does not answer)", flush=True)
        sys.stderr.flush()
        os._exit(errors.OK)
    calls.shutdown(wait=False)
    print("zl serve: stopped", flush=True)
    return errors.OK


async def call(app: web.Application, fn: Callable[P, T], *args: P.args,
               **kwargs: P.kwargs) -> T:
    """fn(*args, **kwargs) on the plant's call thread, awaited."""
    return await asyncio.get_running_loop().run_in_executor(
        shared(app).plant.calls, functools.partial(fn, *args, **kwargs))


async def state_loop(app: web.Application) -> None:
    """Reads the server's state every STATE_PERIOD_S and sends it to every
    page. A read that takes longer than STALL_S (a server that accepts calls
    and never answers, until the client's call time-out) is not queued
    again: meanwhile the pages are told the server does not answer. A new
    attachment to a server (its "session") drops the changes not sent to a
    page yet: they are the server's before, and the page reads afresh."""
    s = shared(app)
    loop = asyncio.get_running_loop()
    reading: Optional[asyncio.Future[Json]] = None
    while True:
        if reading is None:
            reading = loop.run_in_executor(s.plant.calls, s.plant.state)
        done, _ = await asyncio.wait({reading}, timeout=STALL_S)
        if not done:
            s.state = {**s.state, "connected": False, "stalled": True}
            await broadcast(app, {"type": "state", **s.state})
            continue
        try:
            state = reading.result()
            if state.get("session") != s.state.get("session"):
                for page in s.pages.values():
                    page.pending.clear()
            s.state = state
            s.state["changes"] = s.coalescer.received
            await broadcast(app, {"type": "state", **s.state})
        except Exception as e:  # noqa: BLE001 (a poll that failed is tried again)
            errors.error("serve", "reading the server's state failed: %s" % e)
        reading = None
        await asyncio.sleep(STATE_PERIOD_S)


async def runs_loop(app: web.Application) -> None:
    """Reads the runs that `zl run` processes of this user publish
    (zl.runs.channel) every RUNS_PERIOD_S, and sends them to every page when
    they changed. A runs folder that may not be trusted is told once and
    shows no runs."""
    s = shared(app)
    loop = asyncio.get_running_loop()
    told = ""
    while True:
        try:
            runs = await loop.run_in_executor(None, channel.list_runs)
        except (channel.Unsafe, OSError) as e:  # OSError: the folder went meanwhile
            runs = []
            if str(e) != told:
                told = str(e)
                errors.error("serve", "runs of zl run not shown: %s" % e)
        if runs != s.runs:
            s.runs = runs
            await broadcast(app, {"type": "runs", "runs": runs})
        await asyncio.sleep(RUNS_PERIOD_S)


async def value_loop(app: web.Application) -> None:
    s = shared(app)
    while True:
        await asyncio.sleep(1.0 / VALUE_RATE_HZ)
        batch = s.coalescer.take()
        if not batch:
            continue
        for page in s.pages.values():
            merge(page.pending, batch)
            page.ready.set()


async def broadcast(app: web.Application, message: Json) -> None:
    for ws in list(shared(app).pages):
        try:
            await ws.send_json(message)
        except (ConnectionError, RuntimeError):
            pass  # the page went away; its handler removes it


WRONG_HOST = "this zl serve answers only as %s: open the URL it printed"
NO_TOKEN = ("this page needs the access token of the URL that zl serve printed "
            "(zl serve: http://%s/?token=...): open that URL. A zl serve started again "
            "has a new token and prints a new URL")
CROSS_SITE = "cross-site request refused"


def make_app(state: Shared, access: serve_access.Access) -> web.Application:
    """The application: every request passes the checks of `access` first
    (serve_access), and every response gets its security headers."""
    from aiohttp import web

    @web.middleware
    async def guard(request: web.Request, handler: Handler) -> web.StreamResponse:
        if not access.host_ok(request.headers.get("Host")):
            names = ", ".join("%s:%d" % (n, access.port) for n in sorted(access.names))
            return refusal(request, 421, WRONG_HOST % names)
        if not serve_access.origin_ok(request.headers.get("Origin"), request.host):
            return refusal(request, 403, CROSS_SITE)
        query_token = request.query.get("token")
        if not access.token_ok(query_token, request.cookies.get(access.cookie)):
            return refusal(request, 403, NO_TOKEN % request.host)
        response = await handler(request)
        if query_token and not response.prepared:
            response.set_cookie(access.cookie, access.token, httponly=True, samesite="Strict")
        return response

    async def secure(request: web.Request, response: web.StreamResponse) -> None:
        response.headers.setdefault("Content-Security-Policy", serve_access.PAGE_POLICY)
        response.headers.update(serve_access.SECURITY_HEADERS)

    app = web.Application(middlewares=[guard])
    app.on_response_prepare.append(secure)
    app[SHARED] = state
    app.router.add_get("/", index)
    app.router.add_static("/static/", STATIC)
    app.router.add_get("/ws", websocket)
    app.router.add_get("/api/tags", api_tags)
    app.router.add_post("/api/sim", api_sim)
    app.router.add_post("/api/connect", api_connect)
    app.router.add_post("/api/tag", api_tag)
    app.router.add_post("/api/scenario/start", api_start)
    app.router.add_post("/api/scenario/stop", api_stop)
    app.router.add_post("/api/answer", api_answer)
    app.router.add_get("/api/runs", api_runs)
    app.router.add_get("/api/files", api_files)
    app.router.add_get("/api/report", api_report)
    app.router.add_get("/api/logset", api_logset)
    app.router.add_get("/api/logset.csv", api_logset_csv)
    app.router.add_get("/api/editor/keywords", api_editor_keywords)
    app.router.add_get("/api/editor/file", api_editor_file)
    app.router.add_post("/api/editor/check", api_editor_check)
    app.router.add_post("/api/editor/complete", api_editor_complete)
    app.router.add_post("/api/editor/hover", api_editor_hover)
    app.router.add_post("/api/editor/save", api_editor_save)
    return app


def refusal(request: web.Request, status: int, text: str) -> web.Response:
    """A refused request's answer: {"error": text} to the page's own API
    requests, a short page saying why to a person's browser."""
    from aiohttp import web
    if request.path.startswith("/api/"):
        return _json({"error": text}, status)
    return web.Response(status=status, content_type="text/html", text=(
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<title>zl serve: %d</title></head>\n<body><h1>zl serve</h1>\n<p>%s.</p></body></html>\n"
        % (status, html.escape(text[0].upper() + text[1:]))))


async def index(request: web.Request) -> web.StreamResponse:
    from aiohttp import web
    return web.FileResponse(os.path.join(STATIC, "index.html"))


async def websocket(request: web.Request) -> web.StreamResponse:
    from aiohttp import web
    ws = web.WebSocketResponse(heartbeat=10, timeout=2.0)  # timeout: of the close handshake
    await ws.prepare(request)
    page = Page()
    s = shared(request.app)
    s.pages[ws] = page
    sender = asyncio.create_task(send_values(ws, page))
    try:
        await ws.send_json({"type": "state", **s.state})
        await ws.send_json({"type": "runs", "runs": s.runs})
        async for _ in ws:
            pass  # the page sends nothing; actions are POSTs
    finally:
        sender.cancel()
        s.pages.pop(ws, None)
    return ws


async def send_values(ws: web.WebSocketResponse, page: Page) -> None:
    """Sends a page what changed since its last batch, as fast as it takes it."""
    while not ws.closed:
        await page.ready.wait()
        page.ready.clear()
        values, page.pending = page.pending, {}
        try:
            await ws.send_json({"type": "values", "values": values})
        except (ConnectionError, RuntimeError):
            return


def _json(data: Any, status: int = 200) -> web.Response:
    from aiohttp import web
    return web.json_response(data, status=status,
                             dumps=lambda d: json.dumps(d, allow_nan=False, default=str))


INT_MAX = 2**31 - 1     # ids, numbers and processes are C ints of the library


def _bad(text: str, status: int = 400) -> web.HTTPException:
    """A refused body's answer (raise it): {"error": text} with `status`
    (400, or 415 for a body that is not JSON at all)."""
    from aiohttp import web
    kind = web.HTTPUnsupportedMediaType if status == 415 else web.HTTPBadRequest
    return kind(text=json.dumps({"error": text}), content_type="application/json")


async def _body(request: web.Request) -> Dict[str, Any]:
    """The JSON object a POST sends; raises a 400 (415 for a body that is
    not JSON at all) for anything else: text that is no JSON, JSON nested
    too deep for the parser, JSON that is no object."""
    if request.content_type != "application/json":
        raise _bad("the body must be JSON (Content-Type: application/json)", 415)
    try:
        body = json.loads(await request.text())
    except (ValueError, RecursionError):  # RecursionError: nested too deep
        raise _bad("the body is not JSON") from None
    if not isinstance(body, dict):
        raise _bad("the body is not a JSON object")
    return body


def _int(body: Dict[str, Any], key: str, missing: str, low: int = 0) -> int:
    """body[key] as an int of the library (low to INT_MAX); raises a 400
    saying `missing` for anything else (a text, a fraction, true)."""
    value = body.get(key)
    if type(value) is not int or not low <= value <= INT_MAX:
        raise _bad(missing)
    return value


def _text(body: Dict[str, Any], key: str) -> str:
    """body[key] as text ("" when absent); raises a 400 for anything else."""
    value = body.get(key, "")
    if not isinstance(value, str):
        raise _bad("%s: not a text" % key)
    return value


async def api_tags(request: web.Request) -> web.StreamResponse:
    plant = shared(request.app).plant
    return _json(await call(request.app, plant.tags, request.query.get("pattern", "")))


async def api_sim(request: web.Request) -> web.StreamResponse:
    running = (await _body(request)).get("running")
    if not isinstance(running, bool):
        raise _bad("running: true or false")
    plant = shared(request.app).plant
    return _json({"running": await call(request.app, plant.set_running, running)})


async def api_connect(request: web.Request) -> web.StreamResponse:
    database = _text(await _body(request), "database")
    plant = shared(request.app).plant
    try:
        return _json({"connected": await call(request.app, plant.switch, database)})
    except NotListed as e:
        return _json({"error": str(e)}, 400)


async def api_tag(request: web.Request) -> web.StreamResponse:
    body = await _body(request)
    op = body.get("op")
    if op not in TAG_ACTIONS:
        return _json({"error": "unknown action"}, 400)
    value = body.get("value")
    if op == "set" and (not isinstance(value, (int, float)) or isinstance(value, bool)
                        or not math.isfinite(value)):
        return _json({"error": "not a number"}, 400)
    plant = shared(request.app).plant
    return _json(await call(request.app, plant.tag_action, _text(body, "tag"), op,
                            float(value) if op == "set" and isinstance(value, (int, float))
                            else None))


async def api_start(request: web.Request) -> web.StreamResponse:
    body = await _body(request)
    plant = shared(request.app).plant
    try:
        sid = await call(request.app, plant.start, _text(body, "file"),
                         _text(body, "arguments"))
    except serve_files.Refused as e:
        return _json({"error": str(e)}, 400)
    return _json({"id": sid}, 200 if sid > 0 else 400)


async def api_stop(request: web.Request) -> web.StreamResponse:
    body = await _body(request)
    sid = _int(body, "id", "no scenario id")
    if "run" in body:
        return await _to_run(body, {"op": "stop"})
    plant = shared(request.app).plant
    return _json({"result": await call(request.app, plant.stop, sid)})


async def api_answer(request: web.Request) -> web.StreamResponse:
    body = await _body(request)
    sid, number = _int(body, "sid", "no question"), _int(body, "number", "no question")
    answer = _text(body, "answer")
    if "run" in body:
        return await _to_run(body, {"op": "answer", "sid": sid, "number": number,
                                    "answer": answer})
    plant = shared(request.app).plant
    took = await call(request.app, plant.answer, sid, number, answer)
    return _json({"took": took})


async def api_runs(request: web.Request) -> web.StreamResponse:
    """The runs of `zl run` as last read (what the pages get as "runs")."""
    return _json({"runs": shared(request.app).runs})


async def _to_run(body: Dict[str, Any], message: Json) -> web.Response:
    """Sends `message` to the run of `zl run` whose process body["run"]
    names; its reply, {"error": ...} with 400 when it cannot be sent."""
    pid = _int(body, "run", "no run", low=1)
    try:
        reply = await asyncio.get_running_loop().run_in_executor(None, channel.ask,
                                                                 pid, message)
    except channel.Unsafe as e:
        return _json({"error": str(e)}, 400)
    return _json(reply, 400 if "error" in reply else 200)


def _file(request: web.Request) -> str:
    """The real path of the ?file= of a request; Refused when it may not be read."""
    return serve_files.resolve(shared(request.app).plant.folder, request.query.get("file", ""))


async def api_files(request: web.Request) -> web.StreamResponse:
    folder = shared(request.app).plant.folder
    entries = await asyncio.get_running_loop().run_in_executor(None, serve_files.listing,
                                                               folder)
    return _json({"folder": os.path.abspath(folder), "files": entries})


async def api_report(request: web.Request) -> web.StreamResponse:
    from aiohttp import web
    try:
        path = _file(request)
        log, facts = reports.read(path)
    except (serve_files.Refused, OSError) as e:
        return web.Response(status=404, text="%s\n" % e)
    with tempfile.TemporaryDirectory(prefix="zl-serve-") as tmp:
        out = os.path.join(tmp, "report.html")
        reports.write_html(log, request.query.get("file", ""), out, facts)
        with open(out, encoding="utf-8") as f:
            text = f.read()
    response = web.Response(text=text, content_type="text/html")
    response.headers["Content-Security-Policy"] = ("sandbox; default-src 'none'; "
                                                   "style-src 'unsafe-inline'; "
                                                   "frame-ancestors 'none'")
    return response


def _series(path: str) -> Json:
    with open(path, "rb") as f:
        reader = logset_file.Reader(f)
        tags = reader.tags()
        s = logset_file.series(reader.records(), tags)
        error = reader.error
    number = safe_text.json_number
    return {"tags": s.tags, "time": s.times,
            "values": {t: [number(v) for v in s.values[t]] for t in s.tags},
            "error": None if error is None else "%s at offset %d" % (error.reason,
                                                                     error.offset)}


async def api_logset(request: web.Request) -> web.StreamResponse:
    try:
        path = _file(request)
    except serve_files.Refused as e:
        return _json({"error": str(e)}, 404)
    return _json(await asyncio.get_running_loop().run_in_executor(None, _series, path))


def _csv(path: str) -> str:
    out = io.StringIO()
    with open(path, "rb") as f:
        reader = logset_file.Reader(f)
        tags = reader.tags()
        logset_file.write_csv(tags, logset_file.rows(reader.records(), tags), out)
    return out.getvalue()


async def api_logset_csv(request: web.Request) -> web.StreamResponse:
    from aiohttp import web
    try:
        path = _file(request)
    except serve_files.Refused as e:
        return web.Response(status=404, text="%s\n" % e)
    text = await asyncio.get_running_loop().run_in_executor(None, _csv, path)
    name = os.path.splitext(os.path.basename(path))[0] + ".csv"
    return web.Response(text=text, content_type="text/csv", headers={
        "Content-Disposition": "attachment; filename=\"%s\"" % name.replace("\"", "_")})


# --- the scenario editor (editor.py; answers of zl.authoring) -------------

async def in_background(fn: Callable[P, T], *args: P.args, **kwargs: P.kwargs) -> T:
    """fn(*args, **kwargs) on the loop's default executor (file work and
    the check: never on the plant's call thread, which may wait for a
    server that does not answer)."""
    return await asyncio.get_running_loop().run_in_executor(
        None, functools.partial(fn, *args, **kwargs))


async def api_editor_keywords(request: web.Request) -> web.StreamResponse:
    """Every statement keyword with its form, help, operand shape and
    whether it matches as a prefix: what the page highlights and explains,
    so that the page holds no part of the language."""
    return _json({"keywords": [{"name": k.name, "form": k.form, "help": k.help,
                                "prefix": k.prefix, "operands": list(k.operands)}
                               for k in authoring.keywords()]})


async def api_editor_file(request: web.Request) -> web.StreamResponse:
    folder = shared(request.app).plant.folder
    try:
        return _json(await in_background(editor.open_text, folder,
                                         request.query.get("file", "")))
    except serve_files.Refused as e:
        return _json({"error": str(e)}, 400)
    except OSError as e:
        return _json({"error": "cannot read it: %s" % (e.strerror or e)}, 400)


def _position(body: Dict[str, Any]) -> Tuple[str, int, int]:
    """The unsaved text and the cursor (line, character from 0) of an
    editor's request; raises a 400 for anything else."""
    text = _text(body, "text")
    try:
        editor.valid_text(text)
    except serve_files.Refused as e:
        raise _bad(str(e)) from None
    return text, _int(body, "line", "no line"), _int(body, "character", "no character")


async def api_editor_check(request: web.Request) -> web.StreamResponse:
    """The findings on the unsaved text of a scenario of the folder, with
    the tags of the database attached now (none while it is not) and the
    run's arguments when some are given."""
    body = await _body(request)
    plant = shared(request.app).plant
    arguments = _text(body, "arguments")
    try:
        found = await in_background(editor.check, plant.folder, _text(body, "file"),
                                    _text(body, "text"), plant.tag_names or None,
                                    arguments or None)
    except serve_files.Refused as e:
        return _json({"error": str(e)}, 400)
    return _json({"diagnostics": found})


async def api_editor_complete(request: web.Request) -> web.StreamResponse:
    text, line, character = _position(await _body(request))
    tags = shared(request.app).plant.tag_names
    return _json(await in_background(authoring.completions, text, line, character, tags))


async def api_editor_hover(request: web.Request) -> web.StreamResponse:
    text, line, character = _position(await _body(request))
    return _json({"hover": authoring.hover(text, line, character)})


async def api_editor_save(request: web.Request) -> web.StreamResponse:
    """Saves the editor's text over a scenario of the folder (editor.save):
    409 with "signed" for a signed file whose re-signing the page did not
    confirm, 409 for a file changed on disk since it was opened."""
    body = await _body(request)
    sign = body.get("sign", False)
    if not isinstance(sign, bool):
        raise _bad("sign: true or false")
    version = body.get("version")
    if version is not None and not isinstance(version, str):
        raise _bad("version: not a text")
    folder = shared(request.app).plant.folder
    try:
        return _json(await in_background(editor.save, folder, _text(body, "file"),
                                         _text(body, "text"), sign, version))
    except editor.Signed as e:
        return _json({"error": str(e), "signed": True}, 409)
    except editor.Changed as e:
        return _json({"error": str(e)}, 409)
    except serve_files.Refused as e:
        return _json({"error": str(e)}, 400)
    except OSError as e:
        return _json({"error": "not saved: %s" % (e.strerror or e)}, 400)
