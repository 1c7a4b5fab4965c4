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

from zl_cli import connection, run, serve_files

MAX_ROWS = 200          # tag table rows at most per search
PROBE = "$KERNEL.ElapsedSimTime"


def unit_of(display):
    """The engineering unit of a display text ("2.50 m" -> "m"); "" for a
    text without a number first ("RUN")."""
    first, _, rest = display.strip().partition(" ")
    try:
        float(first)
    except ValueError:
        return ""
    return rest.strip()


def parse_scenarios(listing):
    """The (id, file) pairs of a listscenarios text ("1 /path/a.scn\\r\\n")."""
    found = []
    for line in listing.splitlines():
        sid, _, file = line.strip().partition(" ")
        if sid.isdigit():
            found.append((int(sid), file))
    return found


class Plant:
    def __init__(self, options, database, folder, coalescer):
        # Constant after construction:
        self.options = options
        self.folder = folder
        self.coalescer = coalescer
        self.calls = concurrent.futures.ThreadPoolExecutor(1, thread_name_prefix="zl-serve")
        # Used on the `calls` thread only:
        self.database = database
        self.client = None
        self.callback = None
        self.connected = False
        self._lock = threading.Lock()
        # Guarded by _lock:
        self._questions = {}     # (scenario id, number) -> question dict

    # --- threads of the library ----------------------------------------

    def _on_question(self, sid, number, file, text):
        with self._lock:
            self._questions[(sid, number)] = {"sid": sid, "number": number, "file": file,
                                              "text": text}

    def _callback_class(self):
        import zl
        coalescer = self.coalescer

        class Changes(zl.Callback):
            def tagschanged(self, change):
                coalescer.put(change.tag, (change.pve, change.tagmode,
                                           change.secs + change.usecs / 1e6))
                return 0

        return Changes

    # --- calls (on the `calls` thread) ---------------------------------

    def open(self):
        """Creates the client and connects; gives whether it connected."""
        if "-ORBendPoint" not in self.options:
            os.environ.setdefault("Zelvik_Interface", connection.LOOPBACK)
        import zl
        self.client = zl.Client(self.options)
        self.client.setquestionhandler(self._on_question)
        self.callback = self._callback_class()()
        return self._connect()

    def _connect(self):
        import zl
        self.connected = self.client.connect(self.database) == zl.SUCCESS
        if self.connected:
            self.callback.register(self.client)
        return self.connected

    def switch(self, database):
        """Connects to another database (the old one is left)."""
        self.client.disconnect()
        self.database = database
        return self._connect()

    def close(self):
        if self.client is not None:
            self.client.setquestionhandler(None)
            self.client.disconnect()

    def state(self):
        """The server's state and the scenarios, for the page; reconnects a
        client whose server went away."""
        if self.connected and not self.client.hellozl(PROBE):
            self.connected = False
        if not self.connected:
            self._connect()
        state = {"connected": self.connected, "database": self.database,
                 "databases": [d for d in re.split(r"[\s,;]+",
                                                   self.client.listzldatabases()) if d],
                 "scenarios": self._scenarios(), "questions": self._pending()}
        if self.connected:
            state.update(cycle=self.client.cycletime(), warp=self.client.warpfactor(),
                         running=bool(self.client.algsrunning()),
                         elapsed=self.client.hellozl(PROBE))
        return state

    def _scenarios(self):
        rows = []
        for sid, file in parse_scenarios(self.client.listscenarios()):
            info = run.parse_info(self.client.scenarioinfo(sid))
            rows.append({"id": sid, "file": file,
                         "line": info.get("sceLineNumber[0]", ""),
                         "verifies": info.get("totalVerifies", "0"),
                         "failedVerifies": info.get("failedVerifies", "0"),
                         "monitorChecks": info.get("totalMonitorChecks", "0"),
                         "failedMonitorChecks": info.get("failedMonitorChecks", "0"),
                         "errors": info.get("sceErrors", "0"),
                         "question": info.get("sceQuestion", "")})
        running = {r["id"] for r in rows}
        with self._lock:
            for key in [k for k in self._questions if k[0] not in running]:
                del self._questions[key]  # its scenario ended: nobody waits
        return rows

    def _pending(self):
        with self._lock:
            return list(self._questions.values())

    def tags(self, pattern):
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

    def set_running(self, running):
        self.client.algsrunning(1 if running else 0)
        return bool(self.client.algsrunning())

    def tag_action(self, tag, op, value=None):
        c = self.client
        done = {"auto": lambda: c.setauto(tag), "manual": lambda: c.setman(tag),
                "force": lambda: c.setforce(tag, 1), "unforce": lambda: c.setforce(tag, 0),
                "set": lambda: c.setpve(tag, float(value)) >= 1}[op]()
        return {"ok": bool(done), "mode": c.tagmode(tag), "forced": bool(c.isforced(tag))}

    def start(self, name, arguments):
        path = serve_files.resolve(self.folder, name)
        return self.client.startscenario(path, arguments)

    def stop(self, sid):
        return self.client.stopscenario(int(sid))

    def answer(self, sid, number, text):
        took = self.client.answerquestion(int(sid), int(number), text)
        with self._lock:
            self._questions.pop((int(sid), int(number)), None)
        return took
