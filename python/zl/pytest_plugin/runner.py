"""Runs one scenario file on a connected client and reads back its verdict,
through the run layer (zl.runs).

The run's section of the test log is found by the log's size before the
start: the engine appends each run after the earlier ones. Runs of the same
file (its parametrised items, or another worker on this machine) share that
test log, so a run holds an exclusive lock on the scenario file (flock)
from before it measures the log until it has read its section back.

Operator questions are answered from the answers file; a question it does
not answer stops the run at once and is named in the result, so that an
unattended run never waits for a person.

The scenario line of each failure and error line comes from the records the
library logs while the run goes on (zl.runs.places); the report names it,
and the places are kept beside the test log for `zl report`.
"""
import contextlib
import fcntl
import os
from dataclasses import dataclass, field
from typing import List, Optional, Union

import zl
from zl import runs
from zl.pytest_plugin import verdict as verdicts
from zl.pytest_plugin.answers import Answers
from zl.readers import testlog
from zl.runs import places

STOP_BOUND_S = 60.0   # bound on the end of a stopped scenario
MAX_LISTED = 50       # failing lines a report shows


@dataclass
class ScenarioResult:
    """What one run gave. `problem` says why there is no verdict from the log
    (the scenario did not start, its test log has no section for it)."""
    scenario: str
    arguments: str = ""
    database: str = ""
    sid: int = 0
    test_log: str = ""
    offset: int = 0                            # where the run's section starts
    section: Optional[testlog.Section] = None
    lines: List[str] = field(default_factory=list)  # the section's lines
    line_places: places.Places = field(default_factory=dict)  # where its lines come from
    base: str = ""   # the folder the report names scenario files from
    verdict: Optional[verdicts.Verdict] = None
    unanswered: List[str] = field(default_factory=list)
    timed_out: Optional[float] = None          # the limit that was passed
    problem: str = ""

    @property
    def passed(self) -> bool:
        return (not self.problem and not self.unanswered and self.timed_out is None
                and self.verdict is not None and self.verdict.passed)

    @property
    def section_text(self) -> str:
        return "\n".join(self.lines)

    def line_of(self, case: testlog.Case) -> str:
        """The test log line a case was read from, as written, led by the
        scenario line it comes from (its test log line when that is not
        known)."""
        assert self.section is not None  # a case belongs to the run's section
        index = places.run_line(case, self.section) - 1
        line = self.lines[index] if 0 <= index < len(self.lines) else case.text
        return "%s: %s" % (places.where(case, self.section, self.line_places, self.base), line)

    def report(self) -> str:
        """The failure report: what failed, with the lines and their stamps."""
        name = self.scenario + (" " + self.arguments if self.arguments else "")
        where = " on database %s" % self.database if self.database else ""
        out = []
        if self.problem:
            out.append("scenario %s%s: %s" % (name, where, self.problem))
        else:
            v = self.verdict
            assert v is not None  # a run without a problem has its verdict
            failures = [c for c in v.failures if c.outcome == "failure"]
            errors = [c for c in v.failures if c.outcome == "error"]
            state = "PASSED" if self.passed else "FAILED"
            out.append("scenario %s%s %s: %d failure%s, %d error%s%s" % (
                name, where, state, len(failures), "" if len(failures) == 1 else "s",
                len(errors), "" if len(errors) == 1 else "s",
                ", aborted" if v.abort else
                "" if v.closed else ", the run did not close its test log"))
            for case in v.failures[:MAX_LISTED]:
                out.append("  " + self.line_of(case))
            if len(v.failures) > MAX_LISTED:
                out.append("  ... (%d more)" % (len(v.failures) - MAX_LISTED))
            if v.abort is not None:
                out.append("the run was aborted:")
                out.append("  " + self.line_of(v.abort))
                out.extend("  " + r for r in v.reasons if r.startswith("Aborted at "))
        for question in self.unanswered:
            out.append("operator question not answered: '%s' (no answer configured; "
                       "give one with --zl-answers)" % question)
        if self.timed_out is not None:
            out.append("the scenario did not end within %g s and was stopped" % self.timed_out)
        if self.test_log:
            out.append("test log: %s (this run from byte %d)" % (self.test_log, self.offset))
        return "\n".join(out)


class _Questions:
    """The question handler of one run: answers from `answers`, else stops
    the asking scenario and remembers the question."""

    def __init__(self, client: zl.Client, answers: Optional[Answers]) -> None:
        self.client = client
        self.answers = answers
        self.unanswered: List[str] = []

    def __call__(self, sid: int, number: int, file: str, text: str) -> None:
        answer = self.answers.lookup(text) if self.answers is not None else None
        if answer is not None:
            self.client.answerquestion(sid, number, answer)
            return
        self.unanswered.append(text)
        self.client.stopscenario(sid)


def _read_back(result: ScenarioResult, run: runs.Run, found: places.Places) -> None:
    """Reads the run's part of the test log into `result`, with the places
    `found` for its lines; keeps them beside the test log."""
    try:
        part = run.read()
    except OSError as e:
        result.problem = "its test log %s could not be read: %s" % (result.test_log, e.strerror)
        return
    if part is None:
        result.problem = "its test log %s has no section for this run" % result.test_log
        return
    result.section = part.section
    result.offset = part.section.start
    result.line_places = found
    result.lines = part.lines
    result.verdict = verdicts.judge(part)
    with contextlib.suppress(OSError):  # a report then names test log lines
        part.keep_places(found)


def run_scenario(client: zl.Client, scenario: Union[str, "os.PathLike[str]"],
                 arguments: str = "", answers: Optional[Answers] = None,
                 timeout: Optional[float] = None, database: str = "",
                 name: Optional[str] = None) -> ScenarioResult:
    """Runs `scenario` (a path) with `arguments` (the options text: $1 ..
    $8, -skipuserq) on `client` and gives its ScenarioResult. `timeout`
    (seconds, None for none) stops a run that takes longer; `name` is how
    the report names the file (default: the path as given). The client runs
    nothing else meanwhile: the question handler is this run's."""
    path = os.path.abspath(str(scenario))
    result = ScenarioResult(scenario=name or str(scenario), arguments=arguments,
                            database=database,
                            test_log=runs.test_log_path(path))
    # Its files are named as the report names the scenario: from the folder
    # that `name` is relative to.
    if name and path.endswith(os.sep + name):
        result.base = path[:-len(name)]
    try:
        lock = open(path, "rb")
    except OSError as e:
        result.problem = "cannot be read: %s" % (e.strerror or e)
        return result
    questions = _Questions(client, answers)
    with lock, places.collecting() as collector:
        fcntl.flock(lock, fcntl.LOCK_EX)
        client.setquestionhandler(questions)
        try:
            run = runs.start(client, path, arguments)
            result.sid, result.offset = run.sid, run.offset
            if not run.started:
                result.problem = ("did not start (the database does not answer, or the "
                                  "file could not be loaded)")
                return result
            if not run.wait(timeout):
                result.timed_out = timeout
                run.stop(STOP_BOUND_S)
        finally:
            client.setquestionhandler(None)
        result.unanswered = list(questions.unanswered)
        _read_back(result, run, collector.places(result.sid))
    return result
