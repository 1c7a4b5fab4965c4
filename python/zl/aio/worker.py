"""The worker of one zl.aio client: a thread of its own that makes the
client's blocking calls one at a time, in the order they were submitted,
and hands each outcome back to the event loop that asked for it.

A zl.Client call releases the interpreter lock while it waits for the
server, so the loop runs on meanwhile, and the workers of different clients
wait side by side. A call submitted and then cancelled before the worker
reached it is never made; one the worker has begun runs to its end (a
server call cannot be taken back) and its outcome is dropped.

Hand-over: two doorbells (zl._zl._Doorbell, eventfds). The loop appends a
job and rings the job doorbell, which the thread waits on without the
interpreter lock; the thread appends the outcome and rings the outcome
doorbell, which the loop watches (add_reader) and then drains. A hand-over
is one wake-up each way and nothing else: up to half of what a
queue.SimpleQueue and loop.call_soon_threadsafe cost (bench/README.md).

The thread is a daemon: the interpreter's exit never waits for it. A call
in flight then is bounded by the client's call time limit, and the
module's exit hook takes the client away under it (the call gives its
failure value).
"""
import asyncio
import collections
import threading
from typing import Any, Callable, Deque, Optional, Tuple, TypeVar

import zl

T = TypeVar("T")

# A job: the loop's future (None: nobody waits for the outcome), the call
# and its arguments; None ends the thread.
_Job = Optional[Tuple[Optional["asyncio.Future[Any]"], Callable[..., Any], Tuple[Any, ...]]]
# An outcome: the future, the result, the exception; None: the thread ended.
_Outcome = Optional[Tuple["asyncio.Future[Any]", Any, Optional[BaseException]]]


class Stopped(RuntimeError):
    """A job was submitted after stop()."""


class Worker:
    """One thread that runs jobs in order, for the one event loop that
    submits them (the first submit's). submit() belongs to that loop's
    thread; stop() to any thread. The thread is started by the first
    submit."""

    def __init__(self, name: str) -> None:
        self._name = name
        self._mu = threading.Lock()
        # Constant: the thread waits on the first and closes it as it ends;
        # the loop watches the second and closes it (_on_outcomes).
        self._job_bell = zl._Doorbell()
        self._outcome_bell = zl._Doorbell()
        # Guarded by _mu: the loop and the thread, set by the first submit
        # and constant from then on; whether it stopped.
        self._loop: Optional[asyncio.AbstractEventLoop] = None
        self._thread: Optional[threading.Thread] = None
        self._stopped = False
        # Appended on one side, popped on the other (each step is atomic).
        self._jobs: Deque[_Job] = collections.deque()
        self._outcomes: Deque[_Outcome] = collections.deque()

    def submit(self, call: Callable[..., T], *args: Any) -> "asyncio.Future[T]":
        """Queues call(*args) behind every job submitted before; gives the
        future of its outcome. Raises Stopped after stop(), RuntimeError in
        a loop other than the first one's."""
        loop = asyncio.get_running_loop()
        future: "asyncio.Future[T]" = loop.create_future()
        with self._mu:
            if self._stopped:
                raise Stopped("the worker %s has stopped" % self._name)
            if self._loop is None:
                self._begin(loop)
            elif self._loop is not loop:
                raise RuntimeError("a zl.aio client serves the event loop that first used it")
            self._jobs.append((future, call, args))
            self._job_bell.ring()
        return future

    def stop(self, last: Optional[Callable[..., Any]] = None, *args: Any) -> None:
        """Refuses later jobs; the thread ends once the jobs queued before
        are done, and `last(*args)` after them when given (its outcome is
        dropped). Any thread, also a finalizer's. Again: does nothing."""
        with self._mu:
            if self._stopped:
                return
            self._stopped = True
            if self._thread is None:
                return  # it never ran a job: nothing to finish
            if last is not None:
                self._jobs.append((None, last, args))
            self._jobs.append(None)
            self._job_bell.ring()

    def _begin(self, loop: asyncio.AbstractEventLoop) -> None:
        """Under _mu: the loop's watch and the thread."""
        loop.add_reader(self._outcome_bell.fileno(), self._on_outcomes)
        self._loop = loop
        self._thread = threading.Thread(target=self._run, name=self._name, daemon=True)
        self._thread.start()

    def _on_outcomes(self) -> None:
        """In the loop: every outcome handed back into its future, unless
        that was cancelled. The thread's end closes the doorbell."""
        self._outcome_bell.clear()
        while self._outcomes:
            outcome = self._outcomes.popleft()
            if outcome is None:
                assert self._loop is not None
                self._loop.remove_reader(self._outcome_bell.fileno())
                self._outcome_bell.close()
                return
            future, result, error = outcome
            if future.done():
                continue
            if error is not None:
                future.set_exception(error)
            else:
                future.set_result(result)

    def _hand_back(self, outcome: _Outcome) -> None:
        self._outcomes.append(outcome)
        self._outcome_bell.ring()

    def _run(self) -> None:
        assert self._loop is not None
        while True:
            self._job_bell.wait()
            while self._jobs:
                job = self._jobs.popleft()
                if job is None:
                    self._job_bell.close()
                    if self._loop.is_closed():
                        self._outcome_bell.close()  # nobody watches it any more
                    else:
                        self._hand_back(None)
                    return
                future, call, args = job
                del job
                if future is not None and future.cancelled():  # a read; it only ever becomes true
                    continue
                result: Any = None
                error: Optional[BaseException] = None
                try:
                    result = call(*args)
                except BaseException as e:  # the caller's to see, whatever it is
                    error = e
                if future is not None:
                    self._hand_back((future, result, error))
                # Nothing of the job is kept while the thread waits for the next.
                del future, call, args, result, error
