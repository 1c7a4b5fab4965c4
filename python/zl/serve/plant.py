"""The plant as a `zl serve` page sees it: one zl.Client on one database,
its tag changes, its scenarios and their operator questions.

Every method but the question handler and the tag-change callback blocks on
the server: the web server calls them on one worker thread of its own
(`Plant.calls`), one at a time, so the event loop never waits for the
server. Tag changes go into a Coalescer from the ORB's threads; questions
are kept from the client's question thread until the page answers them.
"""
import concurrent.futures
import os
import re
import threading
from typing import Any, Dict, List, Optional, Tuple

import zl
from zl import runs
from zl.runs import places
from zl.serve import files
from zl.serve.coalesce import Coalescer

MAX_ROWS = 200          # tag table rows at most per search
PROBE = "$KERNEL.ElapsedSimTime"
TAG_ACTIONS = ("auto", "manual", "force", "unforce", "set")

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
        return self.connected

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
        if not self.connected:
            self.connect()
        state: Json = {"connected": self.connected, "database": self.database,
                       "session": self.session, "databases": self.databases(),
                       "scenarios": self._scenarios(), "questions": self._pending()}
        if self.connected:
            state.update(cycle=self.client.cycletime(), warp=self.client.warpfactor(),
                         running=bool(self.client.algsrunning()),
                         elapsed=self.client.hellozl(PROBE))
        return state

    def _scenarios(self) -> List[Json]:
        rows: List[Json] = []
        for sid, file in runs.running(self.client).items():
            rows.append(runs.scenario_row(sid, file, runs.read_info(self.client, sid),
                                          self.collector.reported(sid),
                                          os.path.join(os.path.abspath(self.folder), "")))
        running = {r["id"] for r in rows}
        self.collector.forget(running)
        with self._lock:
            for key in [k for k in self._questions if k[0] not in running]:
                del self._questions[key]  # its scenario ended: nobody waits
        return rows

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
