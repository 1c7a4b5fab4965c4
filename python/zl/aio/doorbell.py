"""Waiting in the event loop for a doorbell that the library's threads ring
(zl._zl._Doorbell: an eventfd). The loop watches the doorbell's descriptor,
so a wait wakes on the ring itself: no thread blocks for it and nothing
polls. A ring that comes before anyone waits is kept (the descriptor stays
readable) and ends the next wait at once.
"""
import asyncio
from typing import Optional

import zl


class Watch:
    """Watches one doorbell in the running loop until close(). The loop's
    thread only. Owns the doorbell: close() closes it."""

    def __init__(self, bell: "zl._Doorbell") -> None:
        self._loop = asyncio.get_running_loop()
        self._bell: Optional["zl._Doorbell"] = bell
        self._fd = bell.fileno()
        self._rung = False  # a ring not yet taken by a wait
        self._waiter: Optional["asyncio.Future[None]"] = None
        self._loop.add_reader(self._fd, self._on_ring)

    @property
    def bell(self) -> "zl._Doorbell":
        assert self._bell is not None, "the watch is closed"
        return self._bell

    def _on_ring(self) -> None:
        if self._bell is None:
            return
        self._bell.clear()
        self._rung = True
        self._wake()

    def _wake(self) -> None:
        if self._waiter is not None and not self._waiter.done():
            self._waiter.set_result(None)

    async def wait(self, timeout: Optional[float] = None) -> bool:
        """Waits for a ring and takes it: True; False when `timeout` seconds
        (None: no limit) passed first, or the watch was closed meanwhile."""
        if not self._rung and self._bell is not None:
            self._waiter = self._loop.create_future()
            try:
                await asyncio.wait((self._waiter,), timeout=timeout)
            finally:
                self._waiter = None
        rung, self._rung = self._rung, False
        return rung

    def close(self) -> None:
        """Stops watching, ends a wait in progress (it gives False unless a
        ring came) and lets go of the doorbell; hooks of the library that
        still hold it keep its descriptor open until they go. Again: does
        nothing."""
        if self._bell is None:
            return
        if not self._loop.is_closed():
            self._loop.remove_reader(self._fd)
        self._bell.close()
        self._bell = None
        self._wake()
