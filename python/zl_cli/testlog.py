"""A reader of scenario test logs, shared by `zl report` and `zl verify`.

A test log (docs/scenarios.md, "The test log") holds one section per run:
it begins with the "Starting test" line and, after a normal end, finishes
with the "Closing test log" line and the "#$CHECK:" line that signs it. A
stopped run ends with "Scenario was aborted by StopScenario()" and is not
signed. Runs are separated by blank lines.

Every other line is "STAMP<TAB>MARK TEXT": two blanks for information and
passed checks, "**" for failures, "__" for statement errors, "# " for
comments, "##" for problems of client commands and stored values.

The reader works on bytes so that section offsets are the file's own (a
signature covers the bytes from the section's first line to its check line).
No server and no extension module are needed here.
"""
import re
from dataclasses import dataclass, field
from typing import List, Optional

_STARTING = re.compile(r"^\s*[0-9:.]+\tStarting test '(?P<path>.*?)'(?: at (?P<date>.*))?$")
_CLOSING = re.compile(r"^Closing test log after (?P<min>\d+) mins (?P<sec>[0-9.]+) secs")
_LINE = re.compile(r"^\s*(?P<stamp>\d+:\d\d:\d\d\.\d{3})\t(?P<body>.*)$")
CHECK_PREFIX = b"#$CHECK:"

# A check line: (regex on the text after the tab, kind of case, outcome).
# Groups: what (the check's own word), tag, op, exp, val. "passed" and
# "failure" cases are checks; anything else marked "**" is a failure too.
_TAGCHECK = r"<(?P<tag>[^>]*)> (?P<op>\S+) (?P<exp>\S+)"
_CHECKS = (
    (re.compile(r"^  (?P<what>Verification) " + _TAGCHECK + r" passed Value is (?P<val>\S+)$"),
     "passed"),
    (re.compile(r"^\*\*(?P<what>Verification|Assertion) " + _TAGCHECK +
                r" FAILED Value is (?P<val>\S+)$"), "failure"),
    (re.compile(r"^  (?P<what>Precheck Timed Verification) !\(" + _TAGCHECK +
                r"\) passed Value is (?P<val>\S+) after (?P<after>\S+)$"), "passed"),
    (re.compile(r"^\*\*(?P<what>Precheck Timed (?:Verification|Assertion)) !\(" + _TAGCHECK +
                r"\) FAILED Value is (?P<val>\S+) after (?P<after>\S+)$"), "failure"),
    (re.compile(r"^  (?P<what>Timed (?:Verification|Monitor)) " + _TAGCHECK +
                r" passed Value is (?P<val>\S+) after (?P<after>\S+)$"), "passed"),
    (re.compile(r"^\*\*(?P<what>Timed (?:Verification|Assertion)) " + _TAGCHECK +
                r" FAILED to occur\. Value is (?P<val>\S+) after (?P<after>\S+)$"), "failure"),
    (re.compile(r"^\*\*(?P<what>Timed Monitor) " + _TAGCHECK +
                r" FAILED\. Value is (?P<val>\S+) after (?P<after>\S+)$"), "failure"),
    (re.compile(r"^  (?P<what>Monitor) " + _TAGCHECK + r" NORMAL Value is (?P<val>\S+)$"),
     "passed"),
    (re.compile(r"^\*\*(?P<what>Monitor) " + _TAGCHECK + r" FAILED Value is (?P<val>\S+)$"),
     "failure"),
    (re.compile(r"^  (?P<what>Monitored tags) PASSED at nest level (?P<level>\d+)$"), "passed"),
    (re.compile(r"^  (?P<what>User Question) '(?P<question>.*)' passed\."), "passed"),
    (re.compile(r"^  (?P<what>Stored checksum), \S*, validates scenario: (?P<file>.*)$"),
     "passed"),
    (re.compile(r"^  (?P<what>Server Database) is the same since start of scenario$"), "passed"),
)
_ABORTED = "  Scenario was aborted by StopScenario()"


@dataclass
class Case:
    """One check or error of a run, from one test log line."""
    lineno: int          # line of the test log, from 1
    stamp: str           # time since the run's start, "00:00:01.502"
    outcome: str         # "passed", "failure" or "error"
    name: str            # statement and tag: "Verification <FIC101> = 80.000000"
    text: str            # the line after its stamp and tab
    tag: str = ""


@dataclass
class Section:
    """One run's part of a test log."""
    lineno: int                  # line of its "Starting test" line
    start: int                   # byte offset of that line
    scenario: str                # the scenario path the run was started with
    date: str                    # its start date text, "" when the log has none
    end: int = 0                 # byte offset just past its last line (check line excluded)
    check: Optional[str] = None  # the signature, None when unsigned
    check_lineno: int = 0
    aborted: bool = False
    duration: Optional[float] = None  # seconds, from the "Closing test log" line
    last_stamp: str = "00:00:00.000"
    cases: List[Case] = field(default_factory=list)

    @property
    def title(self):
        """The run as its first line names it."""
        return "'%s' at %s" % (self.scenario, self.date) if self.date else "'%s'" % self.scenario

    def seconds(self):
        """The run's length: from its closing line, else its last stamp."""
        if self.duration is not None:
            return self.duration
        return stamp_seconds(self.last_stamp)


@dataclass
class TestLog:
    sections: List[Section]
    stray: List[int]  # lines (from 1) outside every section that are not blank


def is_starting_line(text):
    """Whether `text` (without its line end) is a run's first line."""
    return _STARTING.match(text) is not None


def stamp_seconds(stamp):
    """"01:02:03.450" -> 3723.45."""
    h, m, s = stamp.split(":")
    return int(h) * 3600 + int(m) * 60 + float(s)


def classify(lineno, stamp, body):
    """The Case a test log line reports, or None for information lines."""
    for pattern, outcome in _CHECKS:
        m = pattern.match(body)
        if m is None:
            continue
        g = m.groupdict()
        what = g["what"]
        if g.get("tag") is not None:
            name = "%s <%s> %s %s" % (what, g["tag"], g["op"], g["exp"])
        elif g.get("level") is not None:
            name = "%s at nest level %s" % (what, g["level"])
        elif g.get("question") is not None:
            name = "%s '%s'" % (what, g["question"])
        elif g.get("file") is not None:
            name = "%s of %s" % (what, g["file"])
        else:
            name = what
        return Case(lineno, stamp, outcome, name, body.strip(), g.get("tag") or "")
    if body.startswith("**"):
        return Case(lineno, stamp, "failure", body[2:].strip(), body[2:].strip())
    if body.startswith("__") or body.startswith("##"):
        return Case(lineno, stamp, "error", body[2:].strip(), body[2:].strip())
    if body.rstrip() == _ABORTED:
        return Case(lineno, stamp, "error", "Scenario aborted", body.strip())
    return None


def parse(data):
    """Splits the bytes of a test log into its sections."""
    sections = []
    stray = []
    current = None
    offset = 0
    for lineno, raw in enumerate(data.splitlines(keepends=True), start=1):
        begin = offset
        offset += len(raw)
        text = raw.decode("utf-8", errors="replace").rstrip("\r\n")
        started = _STARTING.match(text)
        if started is not None:
            current = Section(lineno=lineno, start=begin, scenario=started.group("path"),
                              date=(started.group("date") or "").strip())
            current.end = offset
            sections.append(current)
            continue
        if current is None:
            if text.strip():
                stray.append(lineno)
            continue
        if raw.startswith(CHECK_PREFIX):
            sig = raw[len(CHECK_PREFIX):].decode("ascii", errors="replace").rstrip("\r\n")
            current.check = sig
            current.check_lineno = lineno
            current = None
            continue
        current.end = offset
        m = _LINE.match(text)
        if m is None:
            continue
        stamp, body = m.group("stamp"), m.group("body")
        current.last_stamp = stamp
        closing = _CLOSING.match(body)
        if closing is not None:
            current.duration = int(closing.group("min")) * 60 + float(closing.group("sec"))
            continue
        if body.rstrip() == _ABORTED:
            current.aborted = True
        case = classify(lineno, stamp, body)
        if case is not None:
            current.cases.append(case)
    return TestLog(sections, stray)


def read(path):
    """Parses the test log at `path` (OSError when it cannot be read)."""
    with open(path, "rb") as f:
        return parse(f.read())
