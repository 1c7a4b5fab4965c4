"""The reader of scenario test logs, shared by every tool that reads one
(`zl run`, `zl report`, `zl verify`), and the one rule that judges a run.

A test log (docs/scenarios.md, "The test log") holds one section per run:
it begins with the "Starting test" line and, after a normal end, finishes
with the "Closing test log" line and the "#$CHECK:" line that signs it. A
stopped run ends with "Scenario was aborted by StopScenario()", a run that
an exception ended with "__Unknown exception aborted scenario."; neither is
signed. Runs are separated by blank lines.

Every other line is "STAMP<TAB>MARK TEXT": two blanks for information and
passed checks, "**" for failures, "__" for statement errors, "# " for
comments, "##" for problems of client commands and stored values.
Text from outside the scenario file (answers, arguments, texts of the
server) comes escaped ("\\n", "\\t", "\\x1b", "\\\\"; docs/scenarios.md, "Text
from outside the scenario file"), so it never makes a line of its own; the
reader keeps the escapes as they are written.

The reader works on bytes so that section offsets are the file's own (a
signature covers the bytes from the section's first line to its check line).
It accepts any bytes: a line it does not recognise is information, a number
it cannot read is left out; it never raises. No server and no extension
module are needed here.
"""
import re
from dataclasses import dataclass, field
from typing import List, Optional, Union

_STARTING = re.compile(r"^\s*[0-9:.]+\tStarting test '(?P<path>.*?)'(?: at (?P<date>.*))?$")
_CLOSING_PREFIX = "Closing test log after "
_DURATION = re.compile(r"^Closing test log after (?P<min>\d{1,12}) mins "
                       r"(?P<sec>\d{1,12}(?:\.\d{1,9})?) secs")
_STAMP = re.compile(r"^(?P<h>\d{1,9}):(?P<m>\d\d):(?P<s>\d\d\.\d{3})$")
# A line of a run: its stamp (as the engine writes it, or anything else
# before the first tab; blanks around it are stripped after the match, as
# two overlapping repeats would make the match quadratic in the line) and
# its text.
_LINE = re.compile(r"^(?P<stamp>[^\t]*)\t(?P<body>.*)$")
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
_ABORT_LINES = ("Scenario was aborted by StopScenario()",   # a stop request
                "__Unknown exception aborted scenario.")     # an exception ended the run
_STOPPED = "  " + _ABORT_LINES[0]
# The comment the engine writes just before the exception's abort line: where
# the run was and what the server said.
_ABORT_WHERE_PREFIX = "# Aborted "
NOT_ENDED = 'Run did not end: no "Closing test log" line'
_SUBTEST = re.compile(r"^Subtest '(?P<name>.*)' (?P<what>started|finished)--(?:was )?nest "
                      r"level \d{1,9}$")


@dataclass
class Case:
    """One check or error of a run, from one test log line."""
    lineno: int          # line of the test log, from 1
    stamp: str           # time since the run's start, "00:00:01.502"
    outcome: str         # "passed", "failure" or "error"
    name: str            # statement and tag: "Verification <FIC101> = 80.000000"
    text: str            # the line after its stamp and tab
    tag: str = ""
    line: str = ""       # the whole line, without its line end
    subtest: str = ""    # the subtest it ran in, as its "@" line named it; "" at the top
    level: int = 0       # its nest level: 0 at the top, 1 in a subtest, ...


@dataclass
class Note:
    """A line of a run that is no check but shows its structure: a comment
    ("# ..."), or a subtest that started or finished."""
    lineno: int
    stamp: str
    kind: str            # "comment", "subtest started" or "subtest finished"
    text: str            # the comment's text; the subtest's name
    level: int = 0       # the nest level the line belongs to


@dataclass
class Section:
    """One run's part of a test log."""
    lineno: int                  # line of its "Starting test" line
    start: int                   # byte offset of that line
    scenario: str                # the scenario path the run was started with
    date: str                    # its start date text, "" when the log has none
    end: int = 0                 # byte offset just past its last line (check line excluded)
    end_lineno: int = 0          # its last line (check line excluded)
    check: Optional[str] = None  # the signature, None when unsigned
    check_lineno: int = 0
    closed: bool = False         # it has its "Closing test log" line
    aborted: bool = False        # it has an abort line
    abort_text: str = ""         # that line's text, without stamp and marks
    abort_where: str = ""        # "Aborted at line N of FILE, "TEXT": REASON" when the engine said so
    duration: Optional[float] = None  # seconds, from the "Closing test log" line
    last_stamp: str = "00:00:00.000"
    cases: List[Case] = field(default_factory=list)
    notes: List[Note] = field(default_factory=list)

    def lines(self) -> List[Union[Case, Note]]:
        """Its checks and notes in the order of the test log."""
        both: List[Union[Case, Note]] = [*self.cases, *self.notes]
        return sorted(both, key=lambda item: item.lineno)

    @property
    def title(self) -> str:
        """The run as its first line names it."""
        return "'%s' at %s" % (self.scenario, self.date) if self.date else "'%s'" % self.scenario

    def seconds(self) -> float:
        """The run's length: from its closing line, else its last stamp."""
        if self.duration is not None:
            return self.duration
        return stamp_seconds(self.last_stamp) or 0.0


@dataclass
class TestLog:
    sections: List[Section]
    stray: List[int]  # lines (from 1) outside every section that are not blank


@dataclass
class Verdict:
    """How a run went, by the one rule of `judge`."""
    outcome: str          # "passed", "failed" or "aborted"
    reasons: List[str]    # why, most important first; empty when passed
    failures: int = 0     # failed checks ("**" lines)
    errors: int = 0       # errors: "__" and "##" lines, an abort, a run that did not end

    @property
    def passed(self) -> bool:
        return self.outcome == "passed"


def judge(section: Section) -> Verdict:
    """The verdict on one run, from its section of the test log alone.

    A run is "aborted" when its section holds an abort line (a stop request,
    or an exception that ended it) or lacks the "Closing test log" line (it
    was still going, or its process ended); otherwise "failed" when its
    section holds a failure line ("**": a failed verification, assertion,
    monitor, timed check, user question, skipped questions, a changed
    database) or an error line ("__": a statement error; "##": a client
    command or stored values that failed); otherwise "passed". Every tool
    that judges a run uses this function (docs/tools/verdict.md).
    """
    failures = sum(1 for c in section.cases if c.outcome == "failure")
    errors = sum(1 for c in section.cases if c.outcome == "error")
    reasons = []
    if section.aborted:
        reasons.append("aborted: " + section.abort_text)
        if section.abort_where:
            reasons.append(section.abort_where)
    elif not section.closed:
        reasons.append(NOT_ENDED)
    if failures:
        reasons.append("%d failed check(s)" % failures)
    if errors:
        reasons.append("%d error(s)" % errors)
    if section.aborted or not section.closed:
        outcome = "aborted"
    elif failures or errors:
        outcome = "failed"
    else:
        outcome = "passed"
    return Verdict(outcome, reasons, failures, errors)


def is_starting_line(text: str) -> bool:
    """Whether `text` (without its line end) is a run's first line."""
    return _STARTING.match(text) is not None


def stamp_seconds(stamp: str) -> Optional[float]:
    """"01:02:03.450" -> 3723.45; None when `stamp` is not a stamp."""
    m = _STAMP.match(stamp)
    if m is None:
        return None
    return int(m.group("h")) * 3600 + int(m.group("m")) * 60 + float(m.group("s"))


def _duration(body: str) -> Optional[float]:
    """The seconds of a "Closing test log" line; None when unreadable."""
    m = _DURATION.match(body)
    if m is None:
        return None
    return int(m.group("min")) * 60 + float(m.group("sec"))


def classify(lineno: int, stamp: str, body: str) -> Optional[Case]:
    """The Case a test log line reports, or None for information lines."""
    for pattern, outcome in _CHECKS:
        m = pattern.match(body)
        if m is None:
            continue
        g = m.groupdict()
        what = g["what"]
        if g.get("tag") is not None and what.startswith("Precheck"):
            # The precheck checks that the condition does not hold yet.
            name = "%s !(<%s> %s %s)" % (what, g["tag"], g["op"], g["exp"])
        elif g.get("tag") is not None:
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
    if body.rstrip() == _STOPPED:
        return Case(lineno, stamp, "error", "Scenario aborted", body.strip())
    return None


def _finish(section: Section) -> None:
    """Ends a section: a run without its closing or abort line gets an
    error case, so that every report counts what the verdict says."""
    if section.closed or section.aborted:
        return
    section.cases.append(Case(section.end_lineno, section.last_stamp, "error", NOT_ENDED,
                              NOT_ENDED))


def parse(data: bytes) -> TestLog:
    """Splits the bytes of a test log into its sections. Never raises."""
    sections: List[Section] = []
    stray: List[int] = []
    current: Optional[Section] = None
    subtests: List[str] = []  # the open subtests of the current section, outermost first
    offset = 0
    for lineno, raw in enumerate(data.splitlines(keepends=True), start=1):
        begin = offset
        offset += len(raw)
        text = raw.decode("utf-8", errors="replace").rstrip("\r\n")
        started = _STARTING.match(text)
        if started is not None:
            if current is not None:
                _finish(current)
            current = Section(lineno=lineno, start=begin, scenario=started.group("path"),
                              date=(started.group("date") or "").strip(),
                              end=offset, end_lineno=lineno)
            subtests = []
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
            _finish(current)
            current = None
            continue
        current.end = offset
        current.end_lineno = lineno
        m = _LINE.match(text)
        if m is None:
            continue
        stamp, body = m.group("stamp").strip(), m.group("body")
        if _STAMP.match(stamp) is not None:
            current.last_stamp = stamp
        if body.startswith(_CLOSING_PREFIX):
            current.closed = True
            current.duration = _duration(body)
            continue
        stripped = body.strip()
        subtest = _SUBTEST.match(body)
        if subtest is not None:
            if subtest.group("what") == "started":
                subtests.append(subtest.group("name"))
                current.notes.append(Note(lineno, stamp, "subtest started",
                                          subtest.group("name"), len(subtests)))
            else:
                current.notes.append(Note(lineno, stamp, "subtest finished",
                                          subtest.group("name"), len(subtests)))
                if subtests:
                    subtests.pop()
        elif body.startswith("# "):
            current.notes.append(Note(lineno, stamp, "comment", body[2:], len(subtests)))
        if stripped.startswith(_ABORT_WHERE_PREFIX):
            current.abort_where = stripped[2:]
        if stripped in _ABORT_LINES:
            current.aborted = True
            current.abort_text = stripped.lstrip("_")
        case = classify(lineno, stamp, body)
        if case is not None:
            case.line = text
            case.level = len(subtests)
            case.subtest = subtests[-1] if subtests else ""
            current.cases.append(case)
    if current is not None:
        _finish(current)
    return TestLog(sections, stray)


def read(path: str) -> TestLog:
    """Parses the test log at `path` (OSError when it cannot be read)."""
    with open(path, "rb") as f:
        return parse(f.read())
