"""The plant as a `zl serve` page sees it: one zl.Client on one database,
its tag changes, its scenarios and their operator questions.

Every method but the question handler and the tag-change callback blocks on
the server: the web server calls them on one worker thread of its own
(`Plant.calls`), one at a time, so the event loop never waits for the
server. Tag changes go into a Coalescer from the ORB's threads; questions
are kept from the client's question thread until the page answers them.
"""
import collections
import concurrent.futures
import os
import re
import threading
import time
from typing import Any, Dict, List, Optional, Sequence, Tuple

import zl
from zl import checks, runs
from zl.runs import places
from zl.serve import files
from zl.serve.coalesce import Coalescer

MAX_ROWS = 200          # tag table rows at most per search
PROBE = "$KERNEL.ElapsedSimTime"
TAG_ACTIONS = ("auto", "manual", "force", "unforce", "set")
TAG_NAMES_PERIOD_S = 30.0  # how often the tag names (for the editor) are read again
ENDED_KEPT = 20            # ended scenarios whose last rows the state still shows
MAX_MARKS = 200            # reported lines of a run that its editor marks, the first ones

class NotListed(ValueError):
    """A database name the Naming Service does not list."""


# What the page is sent: plain JSON objects.
Json = Dict[str, Any]
# A tag's change as the page gets it: engineering value, mode, time (s).
Change = Tuple[float, int, float]


def unit_of(display: str) -> str:
    """The engineering unit of a display text ("2.50 m" -> "m"); "" for a
    text without a number first ("RUN")."""
    first, _, rest = display.strip().partition(" ")
    try:
        float(first)
    except ValueError:
        return ""
    return rest.strip()


def line_marks(reported: Sequence[places.Reported], main: str, base: str = "") -> List[Json]:
    """Where each reported line of a run shows in the editor of its main
    scenario file `main` (a real path): {"line" (from 1), "level", "text",
    "in"} at the line of `main` itself ("in" is ""), or at the line of
    `main` that calls the subtest it comes from ("in" names the subtest's
    line, named from `base`: Place.text); lines of the file as a whole
    (line 0) and of other files are left out; MAX_MARKS at most."""
    def in_main(file: str) -> bool:
        return os.path.realpath(file) == main

    marks: List[Json] = []
    for r in reported:
        line = 0
        if r.place.callers:
            file, _, number = r.place.callers[0].rpartition(":")
            if in_main(file) and number.isdigit():
                line = int(number)
        elif in_main(r.place.file):
            line = r.place.line
        if line > 0:
            inner = places.Place(r.place.file, r.place.line).text(base) if r.place.callers else ""
            marks.append({"line": line, "level": r.level, "text": r.text, "in": inner})
            if len(marks) == MAX_MARKS:
                break
    return marks


def changes_callback(coalescer: Coalescer[Change]) -> "zl.Callback":
    """A callback that puts every tag change into `coalescer` (on the ORB's
    threads)."""

    class Changes(zl.Callback):
        def tagschanged(self, change: "zl.ZLTagChanges") -> int:
            coalescer.put(change.tag, (change.pve, change.tagmode,
                                       change.secs + change.usecs / 1e6))
            return 0

    return Changes()


class Plant:
    def __init__(self, client: "zl.Client", database: str, folder: str,
                 coalescer: Coalescer[Change],
                 calls: concurrent.futures.ThreadPoolExecutor) -> None:
        # Constant after construction:
        self.client = client
        self.folder = folder
        self.coalescer = coalescer
        self.calls = calls       # the one thread of every call to the server
        self.callback = changes_callback(coalescer)
        # The failure and error lines of its scenarios, with their scenario
        # lines (thread-safe).
        self.collector = places.Collector().attach()
        self.first_database = database  # the command line's, which may be unlisted
        # Used on the `calls` thread only:
        self.database = database
        self.connected = False
        self.session = 0         # attachments so far: a new one, new values
        self._names_read = 0.0   # time.monotonic() of the last read of the tag names
        self._running: Dict[int, Json] = {}  # the rows of the scenarios last seen running
        self._ended: "collections.OrderedDict[int, Json]" = collections.OrderedDict()
        # Written on the `calls` thread, read from any (one reference,
        # replaced whole): the tag names of the database attached now, for
        # the editor's check and completion; empty while none is.
        self.tag_names: Tuple[str, ...] = ()
        self._lock = threading.Lock()
        # Guarded by _lock:
        self._questions: Dict[Tuple[int, int], Json] = {}  # (scenario id, number) -> question
        client.setquestionhandler(self._on_question)

    @classmethod
    def open(cls, options: str, database: str, folder: str, coalescer: Coalescer[Change],
             calls: concurrent.futures.ThreadPoolExecutor) -> "Plant":
        """A plant with a new client of the given options, not connected
        yet. Blocks while the library sets up its ORB: run it on `calls`.
        The client listens where the library chooses (zl.cli.connection)."""
        return cls(zl.Client(options), database, folder, coalescer, calls)

    # --- threads of the library ----------------------------------------

    def _on_question(self, sid: int, number: int, file: str, text: str) -> None:
        with self._lock:
            self._questions[(sid, number)] = {"sid": sid, "number": number, "file": file,
                                              "text": text}

    # --- calls (on the `calls` thread) ---------------------------------

    def connect(self) -> bool:
        """Connects to the database; gives whether it connected. Each
        connection is a new session: the changes not taken yet belong to
        the server before it and are dropped."""
        self.connected = self.client.connect(self.database) == zl.SUCCESS
        if self.connected:
            self.session += 1
            self.coalescer.take()
            self.callback.register(self.client)
            self._read_tag_names()
        else:
            self.tag_names = ()
        return self.connected

    def _read_tag_names(self) -> None:
        self._names_read = time.monotonic()
        try:
            self.tag_names = tuple(checks.tags_of_database(self.client))
        except checks.TagsError:
            self.tag_names = ()

    def databases(self) -> List[str]:
        """The databases the Naming Service lists."""
        return [d for d in re.split(r"[\s,;]+", self.client.listzldatabases()) if d]

    def switch(self, database: str) -> bool:
        """Connects to another database (the old one is left). Only a
        database the Naming Service lists, or the command line's: NotListed
        for any other name (the library would read an unlisted name's
        reference from a file named after it)."""
        if database != self.first_database and database not in self.databases():
            raise NotListed("not a database the Naming Service lists: %r" % database)
        self.client.disconnect()
        self.database = database
        return self.connect()

    def close(self) -> None:
        self.client.setquestionhandler(None)
        self.client.disconnect()
        self.collector.detach()

    def state(self) -> Json:
        """The server's state and the scenarios, for the page; reconnects a
        client whose server went away."""
        if self.connected and not self.client.hellozl(PROBE):
            self.connected = False
            self.tag_names = ()
        if not self.connected:
            self.connect()
        elif time.monotonic() - self._names_read > TAG_NAMES_PERIOD_S:
            self._read_tag_names()
        state: Json = {"connected": self.connected, "database": self.database,
                       "session": self.session, "databases": self.databases(),
                       "scenarios": self._scenarios(), "ended": list(self._ended.values()),
                       "questions": self._pending()}
        if self.connected:
            state.update(cycle=self.client.cycletime(), warp=self.client.warpfactor(),
                         running=bool(self.client.algsrunning()),
                         elapsed=self.client.hellozl(PROBE))
        return state

    def _scenarios(self) -> List[Json]:
        """The rows of the scenarios running now. Each also holds the file
        as the folder names it ("name", "" for a file outside it) and its
        reported lines at the lines of that file ("marks"), for the editor.
        A scenario that ended since the last call leaves its last row, with
        every line it reported, among the ENDED_KEPT last ended ones."""
        rows: List[Json] = []
        for sid, file in runs.running(self.client).items():
            rows.append(self._row(sid, file, runs.read_info(self.client, sid)))
        running = {r["id"] for r in rows}
        for sid, row in self._running.items():
            if sid not in running:
                self._ended[sid] = {**self._row(sid, row["file"], None), "line": ""}
                while len(self._ended) > ENDED_KEPT:
                    self._ended.popitem(last=False)
        self._running = {r["id"]: r for r in rows}
        self.collector.forget(running)
        with self._lock:
            for key in [k for k in self._questions if k[0] not in running]:
                del self._questions[key]  # its scenario ended: nobody waits
        return rows

    def _row(self, sid: int, file: str, info: Optional[runs.ScenarioInfo]) -> Json:
        folder = os.path.realpath(self.folder)
        main = os.path.realpath(file)
        reported = self.collector.reported(sid)
        base = os.path.join(os.path.abspath(self.folder), "")
        row = runs.scenario_row(sid, file, info, reported, base)
        inside = os.path.commonpath([folder, main]) == folder
        row["name"] = os.path.relpath(main, folder).replace(os.sep, "/") if inside else ""
        row["marks"] = line_marks(reported, main, base)
        return row

    def _pending(self) -> List[Json]:
        with self._lock:
            return list(self._questions.values())

    def tags(self, pattern: str) -> Json:
        """The rows of the tag table for a name pattern (at most MAX_ROWS)."""
        names = [n for n in self.client.searchtags(pattern, "Tags").split(",") if n]
        rows = []
        for r in self.client.multipve(names[:MAX_ROWS]) if names else []:
            tag = r["tagname"]
            display = self.client.pvestr(tag)
            rows.append({"tag": tag, "value": r["value"], "mode": r["mode"], "type": r["type"],
                         "display": display, "unit": unit_of(display),
                         "forced": bool(self.client.isforced(tag)),
                         "lo": self.client.eulo(tag), "hi": self.client.euhi(tag)})
        return {"rows": rows, "more": max(0, len(names) - MAX_ROWS)}

    def set_running(self, running: bool) -> bool:
        self.client.algsrunning(1 if running else 0)
        return bool(self.client.algsrunning())

    def tag_action(self, tag: str, op: str, value: Optional[float] = None) -> Json:
        """One of TAG_ACTIONS on a tag; "set" needs the value (ValueError
        without one)."""
        c = self.client
        if op == "set":
            if value is None:
                raise ValueError("setting %s needs a value" % tag)
            done = c.setpve(tag, value) >= 1
        else:
            done = {"auto": lambda: c.setauto(tag), "manual": lambda: c.setman(tag),
                    "force": lambda: c.setforce(tag, 1),
                    "unforce": lambda: c.setforce(tag, 0)}[op]()
        return {"ok": bool(done), "mode": c.tagmode(tag), "forced": bool(c.isforced(tag))}

    def start(self, name: str, arguments: str) -> int:
        """Starts a scenario file the page lists: its id, below 1 when it
        did not start; files.Refused for any other name."""
        path = files.scenario(self.folder, name)
        return self.client.startscenario(path, arguments)

    def stop(self, sid: int) -> int:
        return self.client.stopscenario(sid)

    def answer(self, sid: int, number: int, text: str) -> int:
        took = self.client.answerquestion(sid, number, text)
        with self._lock:
            self._questions.pop((sid, number), None)
        return took
