"""The server's messages of a zl.aio client as they arrive: `async for text
in client.messages()`.

The library's listener thread pulls the messages into the client's four
bounded queues (errors, warnings, information, debug; a full queue drops
and later reads give its drop notice, such as "More Warning messages were
dropped"). Each message it queues rings a doorbell that the loop watches;
the stream then takes what is queued, on the client's worker, in the order
getnextzlmessage gives it (errors first). So a stream that waits costs no
thread and no polling, and a stream that is slow to read leaves the
messages in the library's queues, which bound them.
"""
import collections
from typing import TYPE_CHECKING, AsyncIterator, Deque, List, Optional, Type
from types import TracebackType

import zl
from zl.aio.doorbell import Watch

if TYPE_CHECKING:
    from zl.aio.client import Client

TAKE_AT_ONCE = 100  # messages one job of the worker takes, so other calls go in between


class Messages:
    """The message stream of one client: made by Client.messages, one at a
    time per client. The loop's thread only.

    - `async with client.messages() as stream:` starts on entry (events on)
      and ends on exit; iterate `stream` inside (leaving a loop over it
      keeps the stream);
    - `async for text in client.messages():` starts when the loop starts and
      ends the stream when the loop is left.

    Starting turns the client's events on (enableevents(1)); ending turns
    them off again when the stream turned them on. Iteration ends when the
    stream or its client is closed.
    """

    def __init__(self, client: "Client", type: int) -> None:
        self._client = client
        self._type = type
        self._watch: Optional[Watch] = None
        self._texts: Deque[str] = collections.deque()  # taken, not yet handed out
        self._enabled_here = False  # this stream turned the events on
        self._closed = False

    @property
    def active(self) -> bool:
        """Started and not closed."""
        return self._watch is not None and not self._closed

    async def start(self) -> "Messages":
        """Turns events on and starts watching for messages. Raises zl.Error
        when events cannot be enabled (the client is not connected, or the
        server does not answer), RuntimeError when the client has another
        stream, zl.aio.ClientClosed after close."""
        if self._closed:
            raise RuntimeError("the message stream is closed")
        if self._watch is not None:
            return self
        self._client._adopt(self)
        self._watch = Watch(zl._Doorbell())
        try:
            status = await self._client._run(_start, self._watch.bell)
        except BaseException:
            await self.close()
            raise
        self._enabled_here = status == 0
        if status < 0:
            await self.close()
            error = zl.Error("messages: events cannot be enabled (the client is not connected, "
                             "or the server does not answer; see the log)")
            error.operation = "enableevents"
            raise error
        return self

    async def close(self) -> None:
        """Ends the stream: its iteration ends, the doorbell is no longer
        rung, and events are off again if the stream turned them on. Again,
        or after the client's close: does nothing."""
        if self._closed:
            return
        self._closed = True
        if self._watch is None:
            return
        self._watch.close()
        self._client._release(self)
        await self._client._run_if_open(_stop, self._enabled_here)

    def _end(self) -> None:
        """The client is closing: iteration ends; the client's close undoes
        the rest."""
        self._closed = True
        if self._watch is not None:
            self._watch.close()

    async def next(self) -> Optional[str]:
        """The next message, once there is one; None once the stream is
        closed."""
        while not self._texts:
            if self._closed or self._watch is None:
                return None
            # A ring from here on means a message the take below may miss:
            # the wait after it then ends at once.
            texts = await self._client._run_if_open(_take, self._type)
            if texts:
                self._texts.extend(texts)
            elif texts is None:
                return None
            elif not self._closed:
                await self._watch.wait()
        return self._texts.popleft()

    async def __aenter__(self) -> "Messages":
        return await self.start()

    async def __aexit__(self, exc_type: Optional[Type[BaseException]],
                        exc: Optional[BaseException], traceback: Optional[TracebackType]) -> None:
        await self.close()

    def __aiter__(self) -> AsyncIterator[str]:
        return self._stream()

    async def _stream(self) -> AsyncIterator[str]:
        owned = self._watch is None
        if owned:
            await self.start()
        try:
            while True:
                text = await self.next()
                if text is None:
                    return
                yield text
        finally:
            if owned:
                await self.close()


def _start(client: zl.Client, bell: "zl._Doorbell") -> int:
    client._ringonmessage(bell)
    return client.enableevents(1)


def _stop(client: zl.Client, enabled_here: bool) -> None:
    client._ringonmessage(None)
    if enabled_here:
        client.enableevents(0)


def _take(client: zl.Client, type: int) -> List[str]:
    texts: List[str] = []
    while len(texts) < TAKE_AT_ONCE:
        text = client.getnextzlmessage(type)
        if not text:
            break
        texts.append(text)
    return texts
