"""Where the failure and error lines of a scenario run come from: the
scenario file and line of each, with the subtest calls that lead there.

The test log names no scenario line. While a run goes on, the library
reports each failure ("**"), error ("__", "##") and stop line it writes to
the test log as a record of the logger "zl.scenario" that carries the
place (the record attributes scenario_id, scenario_file, scenario_line,
subtests and testlog_line: docs/user-guide.md, "Logging"). The tools that
watch a run in their own process (`zl run`, the pytest plugin, `zl serve`)
gather those records with a Collector; `zl run` and the plugin keep them
beside the test log in a places file for `zl report` (`save`, `load`).

The places file "NAME.tlg.places" (JSON) holds, per run of the test log
that a watching tool wrote it for, where the run's part begins (its byte
offset), a SHA-256 digest of that part (up to its "#$CHECK:" line, without
the blank lines at its end) and the places by line of that part:

    {"zl places": 1,
     "runs": [{"start": 0, "sha256": "...",
               "lines": [[3, "fill.scn", 12, []],
                         [7, "sub.scn", 2, ["fill.scn:5"]]]}]}

A run whose part of the test log no longer has that digest (the log was
edited, or cut and written again) has no places: a reader then names the
test log's line instead, and says so. Every reader here takes any bytes and
never raises.
"""
import contextlib
import hashlib
import json
import logging
import os
import tempfile
import threading
from dataclasses import dataclass
from typing import Any, Dict, Iterator, List, Optional, Set, Tuple

from zl.readers import testlog

LOGGER = "zl.scenario"
SUFFIX = ".places"
FORMAT_KEY = "zl places"
FORMAT = 1
MAX_FILE = 16 * 1024 * 1024  # a places file larger than this is not read
MAX_RUNS = 200               # runs kept in a places file, the latest ones


@dataclass(frozen=True)
class Place:
    """A line of a scenario file, as the run named the file."""
    file: str
    line: int                    # from 1; 0: the file as a whole (its end)
    callers: Tuple[str, ...] = ()  # "FILE:LINE" of each "@" line leading here, outermost first

    def text(self, base: str = "") -> str:
        """"sub.scn:2 (called from fill.scn:5)"; "fill.scn" for line 0.
        Files whose names begin with `base` (a folder, with its final
        separator) are named from there."""
        def short(name: str) -> str:
            return name[len(base):] if base and name.startswith(base) else name

        where = short(self.file) + (":%d" % self.line if self.line else "")
        if self.callers:
            where += " (called from %s)" % ", ".join(short(c) for c in reversed(self.callers))
        return where


# The places of one run, by line of its part of the test log (1: its
# "Starting test" line).
Places = Dict[int, Place]


def run_line(case: testlog.Case, section: testlog.Section) -> int:
    """The line of a case in its run's part of the test log."""
    return case.lineno - section.lineno + 1


def where(case: testlog.Case, section: testlog.Section, places: Optional[Places],
          base: str = "") -> str:
    """Where a case comes from: its scenario line when known (files named
    from `base`, see Place.text), otherwise its line of the test log, said
    as such."""
    place = (places or {}).get(run_line(case, section))
    return place.text(base) if place is not None else "test log line %d" % case.lineno


@dataclass(frozen=True)
class Reported:
    """A failure, error or stop line of a run, as the library reported it."""
    level: str     # "WARNING": a failed check or a stop; "ERROR": an error
    text: str      # the test log line without its stamp and mark
    place: Place
    testlog_line: int  # its line in the run's part of the test log; 0: no test log


class Collector(logging.Handler):
    """Gathers the lines that runs report, by scenario id. Records arrive in
    the thread that hands the library's records to logging (or a thread
    returning from a client call); readers are any thread."""

    def __init__(self) -> None:
        super().__init__(logging.NOTSET)
        self._mu = threading.Lock()
        self._runs: Dict[int, List[Reported]] = {}  # guarded by _mu
        self._level: Optional[int] = None  # the logger's own level before attach()

    def attach(self) -> "Collector":
        """Starts gathering. The logger "zl.scenario" takes WARNING and
        above meanwhile, also where logging was set quieter. Attach before
        the runs start: the library's threads follow a level from the next
        client call."""
        logger = logging.getLogger(LOGGER)
        self._level = logger.level
        if logger.getEffectiveLevel() > logging.WARNING:
            logger.setLevel(logging.WARNING)
        logger.addHandler(self)
        return self

    def detach(self) -> None:
        """Stops gathering; the logger has its level back."""
        logger = logging.getLogger(LOGGER)
        logger.removeHandler(self)
        if self._level is not None:
            logger.setLevel(self._level)
            self._level = None

    def emit(self, record: logging.LogRecord) -> None:
        sid = getattr(record, "scenario_id", None)
        line = getattr(record, "testlog_line", None)
        file = getattr(record, "scenario_file", None)
        if not isinstance(sid, int) or not isinstance(line, int) or file is None:
            return  # not a line a run reported
        callers = tuple(str(c) for c in (getattr(record, "subtests", None) or ()))
        place = Place(str(file), int(getattr(record, "scenario_line", 0) or 0), callers)
        reported = Reported(record.levelname, record.getMessage(), place, line)
        with self._mu:
            self._runs.setdefault(sid, []).append(reported)

    def reported(self, sid: int) -> List[Reported]:
        """The lines run `sid` reported so far, in order."""
        with self._mu:
            return list(self._runs.get(sid, ()))

    def places(self, sid: int) -> Places:
        """The places of the lines of run `sid` written to its test log."""
        return {r.testlog_line: r.place for r in self.reported(sid) if r.testlog_line > 0}

    def forget(self, keep: Set[int]) -> None:
        """Drops what it holds of runs other than `keep`."""
        with self._mu:
            for sid in [sid for sid in self._runs if sid not in keep]:
                del self._runs[sid]


@contextlib.contextmanager
def collecting() -> Iterator[Collector]:
    """Gathers the lines of the runs started meanwhile in this process
    (Collector.attach)."""
    collector = Collector().attach()
    try:
        yield collector
    finally:
        collector.detach()


def path_for(testlog_path: str) -> str:
    """The places file of a test log."""
    return testlog_path + SUFFIX


def _digest(data: bytes, section: testlog.Section) -> str:
    """The digest of a run's part without the blank lines at its end: an
    unsigned part (a stopped run) gains those that separate it from the
    next run when one is appended."""
    return hashlib.sha256(data[section.start:section.end].rstrip(b"\r\n")).hexdigest()


def _read_runs(path: str) -> List[Dict[str, Any]]:
    """The runs of a places file; [] when it is missing, too large or not
    one."""
    try:
        if os.path.getsize(path) > MAX_FILE:
            return []
        with open(path, "rb") as f:
            content = json.loads(f.read().decode("utf-8"))
    except (OSError, ValueError, RecursionError):  # RecursionError: nested too deep
        return []
    if not isinstance(content, dict) or content.get(FORMAT_KEY) != FORMAT:
        return []
    runs = content.get("runs")
    return [r for r in runs if isinstance(r, dict)] if isinstance(runs, list) else []


def _places_of(run: Dict[str, Any]) -> Places:
    places: Places = {}
    lines = run.get("lines")
    for item in lines if isinstance(lines, list) else []:
        if (isinstance(item, list) and len(item) == 4 and isinstance(item[0], int)
                and isinstance(item[1], str) and isinstance(item[2], int)
                and isinstance(item[3], list) and all(isinstance(c, str) for c in item[3])):
            places[item[0]] = Place(item[1], item[2], tuple(item[3]))
    return places


def load(testlog_path: str, data: bytes, section: testlog.Section) -> Optional[Places]:
    """The places a watching tool kept for `section` of the test log whose
    bytes are `data`; None when none were kept or the section is no longer
    what they were kept for."""
    digest = _digest(data, section)
    for run in _read_runs(path_for(testlog_path)):
        if run.get("start") == section.start and run.get("sha256") == digest:
            return _places_of(run)
    return None


def save(testlog_path: str, data: bytes, section: testlog.Section, places: Places) -> None:
    """Keeps `places` for `section` of the test log whose bytes are `data`,
    beside the places of its earlier runs that still match it. Replaces the
    file at once (a reader sees the old one or the new one). OSError when
    it cannot be written."""
    log = testlog.parse(data)
    current = {(s.start, _digest(data, s)) for s in log.sections if s.start < section.start}
    path = path_for(testlog_path)
    runs = [r for r in _read_runs(path) if (r.get("start"), r.get("sha256")) in current]
    runs.append({"start": section.start, "sha256": _digest(data, section),
                 "lines": [[n, p.file, p.line, list(p.callers)]
                           for n, p in sorted(places.items())]})
    text = json.dumps({FORMAT_KEY: FORMAT, "runs": runs[-MAX_RUNS:]})
    folder = os.path.dirname(os.path.abspath(path))
    fd, temporary = tempfile.mkstemp(prefix=".places-", dir=folder)
    try:
        with os.fdopen(fd, "w", encoding="ascii") as f:
            f.write(text + "\n")
        os.replace(temporary, path)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise
