"""zl serve: a live view of one database in the browser.

Serves one page (and its assets, all from this package: no network needed)
that shows the server's state, a tag table with live values, trends, the
scenarios started from the page and the runs of `zl run` processes of the
same user (run_channel) with their operator questions, and the test logs and
log set files of a folder. Listens on 127.0.0.1 unless --host
names another address; then every request needs the access token printed
in the URL (serve_access). Ctrl-C (SIGINT) or SIGTERM stops it: exit 0.

Threads: the asyncio event loop serves HTTP and websockets; every call to
the server runs on the Plant's one worker thread; tag changes arrive on the
ORB's threads into a Coalescer, which the loop empties VALUE_RATE_HZ times
a second into each page's own pending batch (serve_coalesce.merge), so a
slow page skips values instead of falling behind. The runs of `zl run` are
read, answered and stopped through their sockets on the loop's default
executor, never on the plant's call thread.
"""
from __future__ import annotations

import argparse
import asyncio
import concurrent.futures
import functools
import io
import json
import os
import signal
import socket
import sys
import tempfile
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, Callable, Dict, List, Optional, ParamSpec, TypeVar

from zl_cli import connection, errors, run_channel, safe_text, serve_access, serve_files
from zl_cli.serve_coalesce import Coalescer, merge

if TYPE_CHECKING:
    from aiohttp import web
    from aiohttp.typedefs import Handler
    from zl_cli.serve_plant import Change, Json, Plant

P = ParamSpec("P")
T = TypeVar("T")

VALUE_RATE_HZ = 10      # value batches sent to a page per second, at most
STATE_PERIOD_S = 1.0    # how often the server's state is read
RUNS_PERIOD_S = 0.5     # how often the runs of zl run are read
STALL_S = 3.0           # a state read taking longer: the server does not answer
STOP_BOUND_S = 5.0      # bound on the disconnect at the end
SHUTDOWN_S = 1.0        # bound on the requests still going at the stop
STATIC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "serve_static")
SHARED = "zl_serve"     # the key of the Shared state in the web application


def port_number(text: str) -> int:
    """Checks a --port value as the parser reads it: 0 to 65535."""
    try:
        port = int(text)
    except ValueError:
        port = -1
    if not 0 <= port <= 65535:
        raise argparse.ArgumentTypeError("not a port number (0 to 65535): %r" % text)
    return port


def add_arguments(parser: argparse.ArgumentParser, command: str) -> None:
    parser.epilog = ("Exit status: 0 after Ctrl-C; 1 without aiohttp; 2 for usage errors and "
                     "a port that cannot be opened; 3 when the folder does not exist (a "
                     "server that cannot be reached shows as disconnected).")
    parser.add_argument("--host", metavar="ADDRESS",
                        help="listen on ADDRESS instead of 127.0.0.1; every request then "
                             "needs the access token of the printed URL")
    parser.add_argument("--port", type=port_number, default=8750,
                        help="the port to listen on (default 8750; 0: any free one)")
    parser.add_argument("--folder", default=".",
                        help="the folder of test logs, log sets and scenarios the page "
                             "shows (default: the current one)")
    connection.add_arguments(parser)


def main(args: argparse.Namespace) -> int:
    if not os.path.isdir(args.folder):
        errors.error("serve", "no such folder: %s" % safe_text.terminal(args.folder))
        return errors.FILE
    try:
        import aiohttp  # noqa: F401
    except ImportError:
        errors.error("serve", "needs aiohttp (Debian: python3-aiohttp)")
        return errors.NEGATIVE
    host = args.host or connection.LOOPBACK
    token = serve_access.new_token() if args.host else None
    try:
        sock = socket.create_server((host, args.port), reuse_port=False)
    except OSError as e:
        # The address or port given cannot be used: a usage error.
        parser: argparse.ArgumentParser = args.parser
        parser.error("cannot listen on %s:%d: %s" % (host, args.port, _reason(e)))
    if not args.verbose:
        connection.quiet_library_log()
    return asyncio.run(serve(args, sock, token))


def _reason(e: OSError) -> str:
    """Why a socket could not be opened, without the address that
    socket.create_server adds to the system's text (the line names it)."""
    return (e.strerror or str(e)).split(" (while attempting", 1)[0]


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


async def serve(args: argparse.Namespace, sock: socket.socket, token: Optional[str]) -> int:
    from aiohttp import web
    from zl_cli.serve_plant import Plant

    coalescer: Coalescer[Change] = Coalescer()
    loop = asyncio.get_running_loop()
    calls = concurrent.futures.ThreadPoolExecutor(1, thread_name_prefix="zl-serve")
    plant = await loop.run_in_executor(calls, Plant.open, connection.client_options(args),
                                       args.db, args.folder, coalescer, calls)
    connected = await loop.run_in_executor(calls, plant.connect)
    if not connected:
        errors.error("serve", "database %s not reachable yet; the page shows it as "
                     "disconnected and reconnects" % args.db)
    app = make_app(Shared(plant, coalescer), token)
    runner = web.AppRunner(app, handle_signals=False)
    await runner.setup()
    # Requests still waiting for the server at the stop get SHUTDOWN_S.
    site = web.SockSite(runner, sock, shutdown_timeout=SHUTDOWN_S)
    await site.start()
    host, port = sock.getsockname()[:2]
    url = "http://%s:%d/" % (host if ":" not in host else "[%s]" % host, port)
    print("zl serve: %s%s" % (url, "?token=" + token if token else ""), flush=True)

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
    again: meanwhile the pages are told the server does not answer."""
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
            s.state = reading.result()
            s.state["changes"] = s.coalescer.received
            await broadcast(app, {"type": "state", **s.state})
        except Exception as e:  # noqa: BLE001 (a poll that failed is tried again)
            errors.error("serve", "reading the server's state failed: %s" % e)
        reading = None
        await asyncio.sleep(STATE_PERIOD_S)


async def runs_loop(app: web.Application) -> None:
    """Reads the runs that `zl run` processes of this user publish
    (run_channel) every RUNS_PERIOD_S, and sends them to every page when
    they changed. A runs folder that may not be trusted is told once and
    shows no runs."""
    s = shared(app)
    loop = asyncio.get_running_loop()
    told = ""
    while True:
        try:
            runs = await loop.run_in_executor(None, run_channel.list_runs)
        except (run_channel.Unsafe, OSError) as e:  # OSError: the folder went meanwhile
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


def make_app(state: Shared, token: Optional[str]) -> web.Application:
    from aiohttp import web

    @web.middleware
    async def guard(request: web.Request, handler: Handler) -> web.StreamResponse:
        if not serve_access.origin_ok(request.headers.get("Origin"), request.host):
            return web.Response(status=403, text="cross-site request refused\n")
        query_token = request.query.get("token")
        if not serve_access.token_ok(token, query_token,
                                     request.cookies.get(serve_access.COOKIE)):
            return web.Response(status=403, text="access token missing or wrong\n")
        response = await handler(request)
        if token and query_token:
            response.set_cookie(serve_access.COOKIE, token, httponly=True, samesite="Strict")
        response.headers.setdefault("Content-Security-Policy",
                                    "default-src 'self'; connect-src 'self'; img-src 'self' data:; "
                                    "style-src 'self' 'unsafe-inline'")
        response.headers["Cache-Control"] = "no-store"
        return response

    app = web.Application(middlewares=[guard])
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
    return app


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


async def _body(request: web.Request) -> Dict[str, Any]:
    try:
        body = await request.json()
    except ValueError:
        body = None
    return body if isinstance(body, dict) else {}


async def api_tags(request: web.Request) -> web.StreamResponse:
    plant = shared(request.app).plant
    return _json(await call(request.app, plant.tags, request.query.get("pattern", "")))


async def api_sim(request: web.Request) -> web.StreamResponse:
    body = await _body(request)
    plant = shared(request.app).plant
    return _json({"running": await call(request.app, plant.set_running,
                                        bool(body.get("running")))})


async def api_connect(request: web.Request) -> web.StreamResponse:
    body = await _body(request)
    plant = shared(request.app).plant
    return _json({"connected": await call(request.app, plant.switch,
                                          str(body.get("database", "")))})


async def api_tag(request: web.Request) -> web.StreamResponse:
    from zl_cli.serve_plant import TAG_ACTIONS
    body = await _body(request)
    op = body.get("op")
    if op not in TAG_ACTIONS:
        return _json({"error": "unknown action"}, 400)
    try:
        value = float(body["value"]) if op == "set" else None
    except (KeyError, TypeError, ValueError):
        return _json({"error": "not a number"}, 400)
    plant = shared(request.app).plant
    return _json(await call(request.app, plant.tag_action, str(body.get("tag", "")), op,
                            value))


async def api_start(request: web.Request) -> web.StreamResponse:
    body = await _body(request)
    plant = shared(request.app).plant
    try:
        sid = await call(request.app, plant.start, str(body.get("file", "")),
                         str(body.get("arguments", "")))
    except serve_files.Refused as e:
        return _json({"error": str(e)}, 400)
    return _json({"id": sid}, 200 if sid > 0 else 400)


async def api_stop(request: web.Request) -> web.StreamResponse:
    body = await _body(request)
    try:
        sid = int(body["id"])
    except (KeyError, TypeError, ValueError):
        return _json({"error": "no scenario id"}, 400)
    if "run" in body:
        return await _to_run(body, {"op": "stop"})
    plant = shared(request.app).plant
    return _json({"result": await call(request.app, plant.stop, sid)})


async def api_answer(request: web.Request) -> web.StreamResponse:
    body = await _body(request)
    try:
        sid, number = int(body["sid"]), int(body["number"])
    except (KeyError, TypeError, ValueError):
        return _json({"error": "no question"}, 400)
    if "run" in body:
        return await _to_run(body, {"op": "answer", "sid": sid, "number": number,
                                    "answer": str(body.get("answer", ""))})
    plant = shared(request.app).plant
    took = await call(request.app, plant.answer, sid, number, str(body.get("answer", "")))
    return _json({"took": took})


async def api_runs(request: web.Request) -> web.StreamResponse:
    """The runs of `zl run` as last read (what the pages get as "runs")."""
    return _json({"runs": shared(request.app).runs})


async def _to_run(body: Dict[str, Any], message: Json) -> web.Response:
    """Sends `message` to the run of `zl run` whose process body["run"]
    names; its reply, {"error": ...} with 400 when it cannot be sent."""
    try:
        pid = int(body["run"])
    except (KeyError, TypeError, ValueError):
        return _json({"error": "no run"}, 400)
    try:
        reply = await asyncio.get_running_loop().run_in_executor(None, run_channel.ask,
                                                                 pid, message)
    except run_channel.Unsafe as e:
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
    from zl_cli import report
    try:
        path = _file(request)
        log, facts = report.read(path)
    except (serve_files.Refused, OSError) as e:
        return web.Response(status=404, text="%s\n" % e)
    with tempfile.TemporaryDirectory(prefix="zl-serve-") as tmp:
        out = os.path.join(tmp, "report.html")
        report.write_html(log, request.query.get("file", ""), out, facts)
        with open(out, encoding="utf-8") as f:
            text = f.read()
    response = web.Response(text=text, content_type="text/html")
    response.headers["Content-Security-Policy"] = ("sandbox; default-src 'none'; "
                                                   "style-src 'unsafe-inline'")
    return response


def _series(path: str) -> Json:
    from zl_cli import logset, logset_file
    with open(path, "rb") as f:
        reader = logset.Reader(f)
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
    from zl_cli import logset, logset_file
    out = io.StringIO()
    with open(path, "rb") as f:
        reader = logset.Reader(f)
        tags = reader.tags()
        logset.print_csv(tags, logset_file.rows(reader.records(), tags), out)
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
