"""zl.aio.Client: a zl.Client whose every operation is awaited.

Each client has a worker (zl.aio.worker) that makes its calls one at a
time, in the order the coroutines made them; the workers of different
clients run side by side, so a script that watches eight servers needs
eight clients and no threads of its own. The zl.Client underneath is made
by the worker's first job and ends with close(); it is never used from the
loop's thread, which therefore never waits for a server.

Waits that are not calls (a scenario's end, the next server message, the
next tag changes) are woken by the event itself: a doorbell that the
library rings (zl.aio.doorbell) or a wake-up from the ORB's thread
(zl.aio.subscription); no thread blocks for them and nothing polls.
"""
from __future__ import annotations

import asyncio
import weakref
from types import TracebackType
from typing import (Any, Callable, Iterable, List, Literal, Optional, SupportsFloat, Tuple, Type,
                    TypeVar, Union)

import zl
from zl.aio.doorbell import Watch
from zl.aio.messages import Messages
from zl.aio.scenario_run import RunResult, run_scenario
from zl.aio.subscription import DEFAULT_MAXSIZE, Subscription
from zl.aio.worker import Stopped, Worker

T = TypeVar("T")
Stream = Union[Subscription, Messages]


class ClientClosed(RuntimeError):
    """An operation of a zl.aio.Client after its close()."""


class _Session:
    """The zl.Client of one zl.aio.Client and how to make it: used on the
    worker's thread only (the attributes are written there, and read by
    nobody else)."""

    def __init__(self, options: str, raise_errors: bool) -> None:
        self.options = options
        self.raise_errors = raise_errors
        self.client: Optional[zl.Client] = None

    def call(self, method: Callable[..., T], args: Any) -> T:
        if self.client is None:
            self.client = zl.Client(self.options, raise_errors=self.raise_errors)
        return method(self.client, *args)

    def end(self) -> None:
        """Stops the message doorbell, turns events off and disconnects
        (which ends the registration of the subscription's callback and
        stops the client's scenarios), then lets go of the zl.Client, which
        ends here, on the worker's thread."""
        client, self.client = self.client, None
        if client is None:
            return
        client._ringonmessage(None)
        client.enableevents(0)
        client.disconnect()
        del client


def _nothing(client: zl.Client) -> None:
    """A job that only makes the zl.Client."""


class Client:
    """A client of one Zelvik server whose operations are coroutines.

    `async with zl.aio.Client(options) as client:` makes the client (its
    errors raise there) and closes it at the end. Every method of zl.Client
    is here as a coroutine of the same name, arguments and result, raising
    as zl.Client raises (with raise_errors=True a failed call raises its
    zl.Error). The calls of one client are made one at a time in the order
    they were awaited; calls of different clients overlap. Cancelling a
    call that has not begun drops it; one already made runs to its end and
    its result is dropped.

    Beyond zl.Client: subscribe() (tag changes as an async iterator),
    messages() (server messages as they arrive), runscenario() (a whole run
    and its verdict), and waitscenario() woken by the scenario's end.

    Threads: every method belongs to the loop's thread. A closed client
    raises ClientClosed.
    """

    def __init__(self, options: str, *, raise_errors: bool = False) -> None:
        self._session = _Session(options, raise_errors)
        self._worker = Worker("zl-aio")
        self._closing: Optional["asyncio.Future[None]"] = None
        self._streams: List[Stream] = []  # those started and not closed
        # A client dropped without close(): its worker ends the zl.Client
        # and stops (not at interpreter exit: the module's exit hook does).
        self._finalizer = weakref.finalize(self, self._worker.stop, self._session.end)
        self._finalizer.atexit = False

    # --- lifetime ------------------------------------------------------------

    @property
    def closed(self) -> bool:
        return self._closing is not None

    async def __aenter__(self) -> "Client":
        await self._run(_nothing)
        return self

    async def __aexit__(self, exc_type: Optional[Type[BaseException]],
                        exc: Optional[BaseException],
                        traceback: Optional[TracebackType]) -> Literal[False]:
        await self.close()
        return False

    async def close(self) -> None:
        """Ends the client, after the calls awaited before: its subscription
        and message stream end (their iterations end), events go off, the
        client disconnects (which stops its running scenarios: their
        runscenario gives the stopped run) and the zl.Client goes. Every
        later operation raises ClientClosed. Again: waits for the first
        close. Cancelling the wait does not stop the close."""
        if self._closing is None:
            for stream in self._streams:
                stream._end()
            self._streams.clear()
            self._closing = self._worker.submit(self._session.end)
            self._worker.stop()
            self._finalizer.detach()
        await asyncio.shield(self._closing)

    # --- the worker ------------------------------------------------------------

    def _check_open(self) -> None:
        if self._closing is not None:
            raise ClientClosed("the zl.aio.Client is closed")

    async def _run(self, method: Callable[..., T], *args: Any) -> T:
        """method(zl_client, *args) on the worker, after every call awaited
        before. Raises ClientClosed after close()."""
        self._check_open()
        return await self._worker.submit(self._session.call, method, args)

    async def _run_if_open(self, method: Callable[..., T], *args: Any) -> Optional[T]:
        """As _run; None, without a call, once the client is closed."""
        try:
            return await self._run(method, *args)
        except (ClientClosed, Stopped):
            return None

    def _adopt(self, stream: Stream) -> None:
        """A stream starts: one of each kind per client."""
        self._check_open()
        if any(type(s) is type(stream) for s in self._streams):
            raise RuntimeError("the client has a %s already; close it first, or use another "
                               "client" % ("subscription" if isinstance(stream, Subscription)
                                           else "message stream"))
        self._streams.append(stream)

    def _release(self, stream: Stream) -> None:
        if stream in self._streams:
            self._streams.remove(stream)

    # --- beyond zl.Client ------------------------------------------------------

    def subscribe(self, tags: Optional[Iterable[str]] = None, *,
                  maxsize: int = DEFAULT_MAXSIZE) -> Subscription:
        """The changes of `tags` (names and patterns, as Callback.register
        takes them; None: every tag) as an async iterator of batches
        (zl.aio.Subscription). At most `maxsize` changes wait to be read;
        beyond that the oldest is dropped and counted in `dropped`."""
        self._check_open()
        return Subscription(self, tags, maxsize)

    def messages(self, type: int = zl.MsgType_AllMsgs) -> Messages:
        """The server's messages of `type` (a zl.MsgType_ constant; all by
        default) as an async iterator of texts (zl.aio.Messages)."""
        self._check_open()
        return Messages(self, type)

    async def runscenario(self, scenario: str, options: str = "", *,
                          timeout: Optional[float] = None) -> RunResult:
        """Runs the scenario file `scenario` with `options` ($1 .. $8,
        -skipuserq) to its end and gives the run (zl.aio.RunResult): its
        part of the test log, verdict, counts and failures with their
        scenario lines. After `timeout` seconds (None: no limit) the
        scenario is stopped (boundedly waited for) and the result says so.
        Cancelling the await stops the scenario the same way before the
        cancellation goes on."""
        self._check_open()
        return await run_scenario(self, scenario, options, timeout)

    async def waitscenario(self, id: int, timeout: Optional[float] = None) -> bool:
        """Waits for scenario `id` to end: True once it no longer runs (also
        at once for a scenario that ended earlier or an id that never ran),
        False when `timeout` seconds passed first. Woken by the end itself;
        other calls of the client go on meanwhile. Cancelling the wait
        leaves the scenario running."""
        loop = asyncio.get_running_loop()
        deadline = None if timeout is None else loop.time() + timeout
        watch = Watch(zl._Doorbell())
        try:
            await self._run(zl.Client._ringonend, id, watch.bell)
            left = None if deadline is None else max(0.0, deadline - loop.time())
            return await watch.wait(left)
        finally:
            watch.close()

    # --- the operations of zl.Client --------------------------------------------

    async def connect(self, name: str) -> int:
        """Connects to a Zelvik server registered on the network: 0, else a
        negative status."""
        return await self._run(zl.Client.connect, name)

    async def disconnect(self) -> int:
        """Disconnects from the server: 0 when one was connected, else -1.
        Also ends the client's subscription (its iteration ends)."""
        status = await self._run(zl.Client.disconnect)
        for stream in [s for s in self._streams if isinstance(s, Subscription)]:
            stream._end()
            self._release(stream)
        return status

    async def listzldatabases(self) -> str:
        return await self._run(zl.Client.listzldatabases)

    async def createserver(self, server: str, host: str) -> int:
        return await self._run(zl.Client.createserver, server, host)

    async def pve(self, tag: str) -> float:
        return await self._run(zl.Client.pve, tag)

    async def pv(self, tag: str) -> float:
        return await self._run(zl.Client.pv, tag)

    async def pvestr(self, tag: str) -> str:
        return await self._run(zl.Client.pvestr, tag)

    async def setpve(self, tag: str, value: float) -> int:
        return await self._run(zl.Client.setpve, tag, value)

    async def setpv(self, tag: str, value: float) -> int:
        return await self._run(zl.Client.setpv, tag, value)

    async def euhi(self, tag: str) -> float:
        return await self._run(zl.Client.euhi, tag)

    async def eulo(self, tag: str) -> float:
        return await self._run(zl.Client.eulo, tag)

    async def tagexists(self, tag: str) -> bool:
        return await self._run(zl.Client.tagexists, tag)

    async def tagmode(self, tag: str) -> str:
        return await self._run(zl.Client.tagmode, tag)

    async def tagtype(self, tag: str) -> str:
        return await self._run(zl.Client.tagtype, tag)

    async def setman(self, tag: str) -> bool:
        return await self._run(zl.Client.setman, tag)

    async def setauto(self, tag: str) -> bool:
        return await self._run(zl.Client.setauto, tag)

    async def setforce(self, tag: str, on: int) -> bool:
        return await self._run(zl.Client.setforce, tag, on)

    async def isforced(self, tag: str) -> bool:
        return await self._run(zl.Client.isforced, tag)

    async def initpv(self, tag: str) -> int:
        return await self._run(zl.Client.initpv, tag)

    async def deletetag(self, tag: str) -> bool:
        return await self._run(zl.Client.deletetag, tag)

    async def upload(self, tag: str) -> str:
        return await self._run(zl.Client.upload, tag)

    async def download(self, lines: str) -> int:
        return await self._run(zl.Client.download, lines)

    async def tagcount(self) -> int:
        return await self._run(zl.Client.tagcount)

    async def searchtags(self, pattern: str, field: str) -> str:
        return await self._run(zl.Client.searchtags, pattern, field)

    async def tagstats(self, selector: str) -> str:
        return await self._run(zl.Client.tagstats, selector)

    async def hellozl(self, selector: str) -> str:
        return await self._run(zl.Client.hellozl, selector)

    async def zlexpr(self, expression: str) -> float:
        return await self._run(zl.Client.zlexpr, expression)

    async def zlfind(self, text: str, pattern: str) -> int:
        return await self._run(zl.Client.zlfind, text, pattern)

    async def multipve(self, names: Iterable[str]) -> List[zl.TagStatus]:
        return await self._run(zl.Client.multipve, list(names))

    async def setmultipve(self, names: Iterable[str], values: Iterable[SupportsFloat]) -> int:
        # Taken now: the worker must not read what the caller changes later.
        return await self._run(zl.Client.setmultipve, list(names), list(values))

    # Query and set: without the argument a query; each gives the state
    # before any change.

    async def algsrunning(self, on: Optional[int] = None) -> bool:
        return await self._run(zl.Client.algsrunning, *_given(on))

    async def ioenabled(self, on: Optional[int] = None) -> bool:
        return await self._run(zl.Client.ioenabled, *_given(on))

    async def cycletime(self, seconds: Optional[float] = None) -> float:
        return await self._run(zl.Client.cycletime, *_given(seconds))

    async def warpfactor(self, factor: Optional[float] = None) -> float:
        return await self._run(zl.Client.warpfactor, *_given(factor))

    async def doasinglecalccycle(self, seconds: float) -> int:
        return await self._run(zl.Client.doasinglecalccycle, seconds)

    async def siminit(self, options: str) -> int:
        return await self._run(zl.Client.siminit, options)

    async def shutdown(self, how: int, delay: int) -> bool:
        return await self._run(zl.Client.shutdown, how, delay)

    async def savetags(self, path: str) -> int:
        return await self._run(zl.Client.savetags, path)

    async def readtags(self, path: str) -> int:
        return await self._run(zl.Client.readtags, path)

    async def enableevents(self, on: int) -> int:
        return await self._run(zl.Client.enableevents, on)

    async def msgsexist(self, type: int) -> bool:
        return await self._run(zl.Client.msgsexist, type)

    async def getnextzlmessage(self, type: int) -> str:
        return await self._run(zl.Client.getnextzlmessage, type)

    async def startscenario(self, file: str, options: str = "") -> int:
        return await self._run(zl.Client.startscenario, file, options)

    async def stopscenario(self, id: int) -> int:
        return await self._run(zl.Client.stopscenario, id)

    async def listscenarios(self) -> str:
        return await self._run(zl.Client.listscenarios)

    async def scenarioinfo(self, id: int) -> str:
        return await self._run(zl.Client.scenarioinfo, id)

    async def setquestionhandler(self, handler: Optional[zl.QuestionHandler]) -> None:
        """As zl.Client.setquestionhandler: the handler runs on the library's
        question thread, not in the loop (hand a question to the loop with
        loop.call_soon_threadsafe, and answer it with answerquestion)."""
        return await self._run(zl.Client.setquestionhandler, handler)

    async def answerquestion(self, id: int, number: int, answer: str) -> int:
        return await self._run(zl.Client.answerquestion, id, number, answer)


def _given(value: Optional[T]) -> Tuple[T, ...]:
    """The optional last argument of a query-and-set operation."""
    return () if value is None else (value,)
