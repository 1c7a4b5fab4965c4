"""A whole scenario run for zl.aio: started, awaited (woken by its end),
stopped when it takes too long or its await is cancelled, and read back as
the run layer reads it (zl.runs: the run's part of the test log, its
verdict, what failed) with the scenario line of each failure.

The scenario lines come from the records the library logs while the run
goes on (zl.runs.places). One collector serves every zl.aio run in
progress in the process: attaching changes the level of the logger
"zl.scenario" until the collector detaches, so overlapping runs must share
one. Scenario ids are numbered per client, so the lines of a run are those
of its id whose outermost scenario file is the run's.
"""
from __future__ import annotations

import asyncio
import collections
import contextlib
import threading
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Counter, List, Optional, Tuple

import zl
from zl import runs
from zl.aio.doorbell import Watch
from zl.aio.worker import Worker
from zl.readers import testlog
from zl.runs import places

if TYPE_CHECKING:
    from zl.aio.client import Client

STOP_BOUND_S = runs.STOP_BOUND_S  # bound on the wait for a stopped scenario to go away


@dataclass(frozen=True)
class Failure:
    """A check or error of a run that did not pass, and where it comes from."""
    case: testlog.Case
    place: Optional[places.Place]  # its scenario file and line; None when not known

    @property
    def where(self) -> str:
        """"sub.scn:2 (called from top.scn:5)"; "test log line N" when the
        scenario line is not known."""
        return self.place.text() if self.place is not None else "test log line %d" % self.case.lineno

    def __str__(self) -> str:
        return "%s: %s" % (self.where, self.case.text)


@dataclass
class RunResult:
    """What one run gave. `problem` says why there is no part of the test
    log to judge (the scenario did not start, the log has no section for
    it, the log cannot be read)."""
    scenario: str                          # the scenario file as given
    options: str = ""
    sid: int = 0                           # its id; 0 or below: it did not start
    test_log: str = ""
    offset: int = 0                        # the test log's size before the start
    part: Optional[runs.RunSection] = None  # the run's part of the test log
    places: places.Places = field(default_factory=dict)  # scenario lines by line of the part
    timed_out: Optional[float] = None      # the limit it passed (it was stopped then)
    problem: str = ""

    @property
    def started(self) -> bool:
        return self.sid > 0

    @property
    def verdict(self) -> Optional[testlog.Verdict]:
        """The verdict by the rule every tool uses (outcome, reasons, counts
        of failures and errors); None without a part."""
        return self.part.verdict if self.part is not None else None

    @property
    def passed(self) -> bool:
        verdict = self.verdict
        return not self.problem and self.timed_out is None and verdict is not None and verdict.passed

    @property
    def failures(self) -> List[Failure]:
        """Every check and error that did not pass (the line that ended the
        run early too), in the order of the log, with its scenario line."""
        if self.part is None:
            return []
        section = self.part.section
        return [Failure(case, self.places.get(places.run_line(case, section)))
                for case in self.part.failing]


class _Collecting:
    """The one collector of the zl.aio runs in progress: made by the first
    run to begin, kept while any goes on, dropped by the last. Any thread;
    `_mu` guards every member."""

    def __init__(self) -> None:
        self._mu = threading.Lock()
        self._collector: Optional[places.Collector] = None
        self._runs = 0
        self._ids: Counter[int] = collections.Counter()  # ids of the runs in progress

    def enter(self) -> places.Collector:
        """Before a run starts: the collector, gathering."""
        with self._mu:
            if self._collector is None:
                self._collector = places.Collector().attach()
            self._runs += 1
            return self._collector

    def started(self, sid: int) -> None:
        with self._mu:
            self._ids[sid] += 1

    def leave(self, sid: int) -> None:
        """After a run that began with enter() (and started() when it had an
        id): what it gathered goes, unless a run in progress has its id."""
        with self._mu:
            if sid in self._ids:
                self._ids[sid] -= 1
                if self._ids[sid] == 0:
                    del self._ids[sid]
            self._runs -= 1
            assert self._collector is not None
            if self._runs == 0:
                self._collector.detach()
                self._collector = None
            else:
                self._collector.forget(set(self._ids))


_COLLECTING = _Collecting()


def _outermost_file(place: places.Place) -> str:
    return place.callers[0].rsplit(":", 1)[0] if place.callers else place.file


def places_of(collector: places.Collector, sid: int, scenario: str) -> places.Places:
    """The scenario lines of run `sid` of the file `scenario` (as it was
    started), by line of its part of the test log."""
    return {r.testlog_line: r.place for r in collector.reported(sid)
            if r.testlog_line > 0 and _outermost_file(r.place) == scenario}


def _start(client: zl.Client, scenario: str, options: str,
           bell: zl._Doorbell) -> Tuple[int, int]:
    """On the worker: starts the run and rings `bell` at its end; gives its
    id and the test log's size before the start."""
    run = runs.start(client, scenario, options)
    if run.started:
        client._ringonend(run.sid, bell)
    return run.sid, run.offset


def _read(result: RunResult, found: places.Places) -> None:
    """Reads the run's part of the test log into `result` and keeps the
    places beside the log for zl report."""
    try:
        result.part = runs.read_section(result.test_log, result.offset)
    except OSError as e:
        result.problem = "its test log %s could not be read: %s" % (result.test_log,
                                                                    e.strerror or e)
        return
    if result.part is None:
        result.problem = "its test log %s has no section for this run" % result.test_log
        return
    result.places = found
    with contextlib.suppress(OSError):  # zl report then names test log lines
        result.part.keep_places(found)


async def _stop(client: "Client", sid: int, watch: Watch) -> bool:
    """Stops the scenario and waits for its end, at most STOP_BOUND_S:
    whether it ended."""
    with contextlib.suppress(zl.Error):  # raising mode: the wait says the rest
        await client._run_if_open(zl.Client.stopscenario, sid)
    return await watch.wait(STOP_BOUND_S)


async def _begin(client: "Client", scenario: str, options: str, watch: Watch) -> Tuple[int, int]:
    """_start on the client's worker. A cancellation meanwhile waits for the
    start (it may be under way already), stops what it started, and goes on."""
    starting = asyncio.ensure_future(client._run(_start, scenario, options, watch.bell))
    try:
        return await asyncio.shield(starting)
    except asyncio.CancelledError:
        with contextlib.suppress(Exception):
            sid, _ = await starting
            if sid > 0:
                await _stop(client, sid, watch)
        raise


async def run_scenario(client: "Client", scenario: str, options: str,
                       timeout: Optional[float]) -> RunResult:
    """Client.runscenario."""
    result = RunResult(scenario, options, test_log=runs.test_log_path(scenario))
    collector = _COLLECTING.enter()
    watch = Watch(zl._Doorbell())
    try:
        result.sid, result.offset = await _begin(client, scenario, options, watch)
        if not result.started:
            result.problem = ("did not start (the client is not connected, or the file could "
                              "not be loaded)")
            return result
        _COLLECTING.started(result.sid)
        try:
            ended = await watch.wait(timeout)
        except asyncio.CancelledError:
            await asyncio.shield(_stop(client, result.sid, watch))
            raise
        if not ended:
            result.timed_out = timeout
            await _stop(client, result.sid, watch)
        # The run's last lines reach logging with the next call of a client.
        await client._run_if_open(zl.Client.waitscenario, result.sid, 0)
        found = places_of(collector, result.sid, scenario)
        reader = Worker("zl-aio-read")
        try:
            await reader.submit(_read, result, found)
        finally:
            reader.stop()
        return result
    finally:
        watch.close()
        _COLLECTING.leave(result.sid)
