"""Tag changes of a zl.aio client as batches: `async for changes in
client.subscribe(["T*"])`.

The library hands each change to a zl.Callback on one of the ORB's threads
(filtered there by the subscription's tags). Its `tagschanged` here only
appends the change to a bounded buffer and, when the loop waits for
changes, schedules one wake-up with loop.call_soon_threadsafe: the ORB's
thread never waits for the loop, and the loop wakes once per batch, not
once per change. When the buffer is full the OLDEST change is dropped (a
watcher wants the latest values) and counted in `dropped`.
"""
import asyncio
import collections
import threading
from typing import (TYPE_CHECKING, Any, AsyncIterator, Deque, Iterable, List, Optional,
                    Type)
from types import TracebackType

import zl

if TYPE_CHECKING:
    from zl.aio.client import Client

DEFAULT_MAXSIZE = 10000  # changes a subscription holds before it drops the oldest


def _wake(waiter: "asyncio.Future[None]") -> None:
    if not waiter.done():
        waiter.set_result(None)


class _Feed(zl.Callback):
    """The callback of one subscription and its buffer. `tagschanged` runs
    on the ORB's threads; `take` and `end` in the loop's thread. `_mu`
    guards `_changes`, `_dropped`, `_ended` and `_waiter`; it is never held
    while waiting for anything."""

    def __init__(self, loop: asyncio.AbstractEventLoop, maxsize: int) -> None:
        super().__init__()
        self._loop = loop
        self._maxsize = maxsize
        self._mu = threading.Lock()
        self._changes: Deque[zl.ZLTagChanges] = collections.deque()
        self._dropped = 0
        self._ended = False
        self._waiter: Optional["asyncio.Future[None]"] = None  # the loop waits for changes

    @property
    def dropped(self) -> int:
        return self._dropped

    @property
    def pending(self) -> int:
        return len(self._changes)

    def tagschanged(self, change: zl.ZLTagChanges) -> int:
        with self._mu:
            if self._ended:
                return 0
            if len(self._changes) >= self._maxsize:
                self._changes.popleft()
                self._dropped += 1
            self._changes.append(change)
            waiter, self._waiter = self._waiter, None
        if waiter is not None:
            try:
                self._loop.call_soon_threadsafe(_wake, waiter)
            except RuntimeError:
                pass  # the loop is closed: nobody waits any more
        return 0

    async def take(self) -> List[zl.ZLTagChanges]:
        """Every change buffered, in arrival order, once there is one; []
        once the feed has ended."""
        while True:
            with self._mu:
                if self._changes:
                    batch = list(self._changes)
                    self._changes.clear()
                    return batch
                if self._ended:
                    return []
                waiter = self._waiter = self._loop.create_future()
            try:
                await waiter
            finally:
                with self._mu:
                    if self._waiter is waiter:
                        self._waiter = None

    def end(self) -> None:
        """No change is buffered from now on; a take in progress gives what
        is buffered, then []."""
        with self._mu:
            self._ended = True
            waiter, self._waiter = self._waiter, None
        if waiter is not None:
            _wake(waiter)


class Subscription:
    """The tag changes of one client: made by Client.subscribe, one at a
    time per client. The loop's thread only.

    - `async with client.subscribe(tags) as changes:` registers on entry
      and ends the subscription on exit; iterate `changes` inside (leaving
      a loop over it keeps the subscription);
    - `async for batch in client.subscribe(tags):` registers when the loop
      starts and ends the subscription when the loop is left (break, an
      exception, the task's cancellation).

    Each batch is a non-empty list of zl.ZLTagChanges, every change that
    arrived since the last batch, in the server's order. Iteration ends when
    the subscription or its client is closed, or the client disconnects.
    """

    def __init__(self, client: "Client", tags: Optional[Iterable[str]], maxsize: int) -> None:
        if maxsize < 1:
            raise ValueError("maxsize must be 1 or more")
        # Checked now, as register would: a lone str is no list of tags.
        if isinstance(tags, (str, bytes)):
            raise TypeError("tags must be an iterable of tag names or patterns, not %s"
                            % type(tags).__name__)
        self._client = client
        self._tags = None if tags is None else list(tags)
        self._maxsize = maxsize
        self._feed: Optional[_Feed] = None
        self._closed = False

    @property
    def dropped(self) -> int:
        """Changes dropped because the buffer was full (the oldest go first)."""
        return self._feed.dropped if self._feed is not None else 0

    @property
    def pending(self) -> int:
        """Changes buffered, waiting to be read."""
        return self._feed.pending if self._feed is not None else 0

    @property
    def active(self) -> bool:
        """Started and not closed: changes are being buffered."""
        return self._feed is not None and not self._closed

    async def start(self) -> "Subscription":
        """Registers for the changes of the tags: from now on they are
        buffered. Raises zl.Error when the library cannot deliver them (the
        client is not connected, or the server cannot call it back; the
        reason is logged), RuntimeError when the client has another
        subscription, zl.aio.ClientClosed after close."""
        if self._closed:
            raise RuntimeError("the subscription is closed")
        if self._feed is not None:
            return self
        self._client._adopt(self)
        feed = self._feed = _Feed(asyncio.get_running_loop(), self._maxsize)
        try:
            status = await self._client._run(_register, feed, self._tags)
        except BaseException:
            await self.close()
            raise
        if status != 0:
            await self.close()
            error = zl.Error("subscribe: tag changes cannot be delivered (the client is not "
                             "connected, or the server cannot call it back; see the log)")
            error.operation = "subscribe"
            raise error
        return self

    async def close(self) -> None:
        """Ends the subscription: its iteration ends, and the library stops
        delivering. Again, or after the client's close: does nothing."""
        if self._closed:
            return
        self._closed = True
        feed = self._feed
        if feed is None:
            return
        feed.end()
        self._client._release(self)
        await self._client._run_if_open(_unregister, feed)

    def _end(self) -> None:
        """The client ended the registration (close, disconnect): iteration
        ends; nothing is left to unregister."""
        self._closed = True
        if self._feed is not None:
            self._feed.end()

    async def __aenter__(self) -> "Subscription":
        return await self.start()

    async def __aexit__(self, exc_type: Optional[Type[BaseException]],
                        exc: Optional[BaseException], traceback: Optional[TracebackType]) -> None:
        await self.close()

    def __aiter__(self) -> AsyncIterator[List[zl.ZLTagChanges]]:
        return self._batches()

    async def _batches(self) -> AsyncIterator[List[zl.ZLTagChanges]]:
        owned = self._feed is None
        if owned:
            await self.start()
        feed = self._feed
        try:
            while feed is not None:
                batch = await feed.take()
                if not batch:
                    return
                yield batch
        finally:
            if owned:
                await self.close()


def _register(client: zl.Client, feed: _Feed, tags: Optional[List[str]]) -> int:
    return feed.register(client, tags=tags)


def _unregister(client: zl.Client, feed: _Feed) -> Any:
    return feed.unregister()
