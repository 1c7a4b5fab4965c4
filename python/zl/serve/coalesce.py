"""Coalescing of tag changes between the library's callback thread and the
web server's event loop.

The server may push many thousand changes a second; a page only needs each
tag's latest value a few times a second. `Coalescer.put` keeps the latest
change per tag (a later change of a tag replaces the earlier one), and
`take` hands out everything gathered since the last `take` and starts
afresh. The loop takes at a bounded rate, so what is sent per second is
bounded by the rate times the number of tags that changed, whatever the
server's rate.

Threads: `put` runs on the ORB's threads (the callback), `take` on the
event loop; both take `_lock` for a dictionary swap or store only.
"""
import threading
from typing import Dict, Generic, TypeVar

C = TypeVar("C")  # what a change of a tag is (serve_plant: value, mode and time)


class Coalescer(Generic[C]):
    def __init__(self) -> None:
        self._lock = threading.Lock()
        # Guarded by _lock:
        self._latest: Dict[str, C] = {}  # tag -> the last change put since the last take
        self._received = 0               # changes put since the start

    def put(self, tag: str, change: C) -> None:
        """Keeps `change` as the latest of `tag`. Never blocks for long."""
        with self._lock:
            _store_last(self._latest, tag, change)
            self._received += 1

    def take(self) -> Dict[str, C]:
        """Every tag's latest change since the last take, in the order of
        their last change ({} when nothing changed)."""
        with self._lock:
            latest, self._latest = self._latest, {}
        return latest

    @property
    def received(self) -> int:
        with self._lock:
            return self._received


def merge(pending: Dict[str, C], batch: Dict[str, C]) -> Dict[str, C]:
    """Adds a taken batch to what a slow receiver has not been sent yet:
    a tag's newer change replaces its older one, so a receiver that falls
    behind skips intermediate values instead of queueing them."""
    for tag, change in batch.items():
        _store_last(pending, tag, change)
    return pending


def _store_last(changes: Dict[str, C], tag: str, change: C) -> None:
    """Stores `change` as the one of `tag`, moved to the end of the order."""
    if tag in changes:
        del changes[tag]
    changes[tag] = change
