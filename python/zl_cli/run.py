"""zl run: runs a scenario on a server and shows its progress.

Connects, starts the scenario in this process (the client runs its
scenarios on worker threads of its own), learns of its end from the library
(`Client.waitscenario`, on a thread of its own here), shows its progress
from `scenarioinfo` meanwhile, asks its operator questions at the terminal,
and ends with a summary of the run's part of the test log, judged by the
rule every tool uses (testlog.judge, docs/tools/verdict.md).

Exit status: 0 when the run passed; 1 when it failed, was aborted or left
no test log to judge it by; 2 for usage errors; 3 for a missing scenario
file; 4 when the server cannot be reached or the scenario did not start;
130 after Ctrl-C (the scenario is stopped first).
"""
import argparse
import os
import queue
import sys
import threading
import time
from typing import IO, TYPE_CHECKING, Dict, Optional, Tuple

from zl_cli import connection, errors, safe_text, testlog

if TYPE_CHECKING:
    import zl

STOP_WAIT_S = 30.0     # bound on the wait for a stopped scenario to go away
WAIT_SLICE_S = 0.25    # the end-waiting thread looks at its stop flag this often
MAX_LISTED = 20        # failure and error lines the summary shows

Question = Tuple[int, int, str, str]  # scenario id, question number, file, text


def positive_seconds(text: str) -> float:
    """An --interval as the parser reads it: a number of seconds above 0."""
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError("not a number of seconds: %r" % text) from None
    if not value > 0:
        raise argparse.ArgumentTypeError("must be above 0: %r" % text)
    return value


def add_arguments(parser: argparse.ArgumentParser, command: str) -> None:
    parser.add_argument("scenario", metavar="SCENARIO", help="the scenario file")
    parser.add_argument("arguments", metavar="ARG", nargs="*", default=[],
                        help="the scenario's arguments ($1 .. $8)")
    parser.add_argument("-skipuserq", "--skipuserq", dest="skipuserq", action="store_true",
                        help="ask no operator questions (each one is logged as not asked "
                             "and the run counts as failed)")
    parser.add_argument("--interval", type=positive_seconds, default=0.5, metavar="SECONDS",
                        help="how often the progress is refreshed (default 0.5); the end of "
                             "the scenario is seen at once")
    parser.add_argument("-q", "--quiet", action="store_true",
                        help="no progress lines: the questions and the summary only")
    connection.add_arguments(parser)


def test_log_path(scenario: str) -> str:
    """Where the scenario writes its test log: its path with the extension
    replaced by .tlg (the last dot of the whole path, as the engine does)."""
    dot = scenario.rfind(".")
    return (scenario[:dot] if dot >= 0 else scenario) + ".tlg"


def parse_info(text: str) -> Dict[str, str]:
    """The key/value lines of scenarioinfo as a dict of strings."""
    info: Dict[str, str] = {}
    for line in text.splitlines():
        key, _, value = line.partition("\t")
        if key:
            info[key] = value
    return info


def format_elapsed(seconds: float) -> str:
    minutes, seconds = divmod(seconds, 60.0)
    hours, minutes = divmod(int(minutes), 60)
    if hours:
        return "%d:%02d:%04.1f" % (hours, minutes, seconds)
    return "%d:%04.1f" % (minutes, seconds)


def progress_text(elapsed: float, info: Dict[str, str]) -> str:
    text = "[%s] line %s  verifications %s (%s failed)  monitor checks %s (%s failed)  errors %s" % (
        format_elapsed(elapsed), info.get("sceLineNumber[0]", "?"),
        info.get("totalVerifies", "0"), info.get("failedVerifies", "0"),
        info.get("totalMonitorChecks", "0"), info.get("failedMonitorChecks", "0"),
        info.get("sceErrors", "0"))
    if "sceQuestion" in info:
        text += "  question waiting"
    return text


# What makes a new progress line when the output is no terminal: the
# statement line, failures, errors, a question. The totals are left out:
# MONITOR and TMONITOR add to them at every check while the run waits.
_CHANGES = ("sceLineNumber[0]", "failedVerifies", "failedMonitorChecks", "sceErrors",
            "sceQuestion")


class Progress:
    """One updating line on a terminal; otherwise a plain line only when
    the run moved on (_CHANGES); nothing when quiet."""

    def __init__(self, stream: IO[str], quiet: bool = False) -> None:
        self.stream = stream
        self.quiet = quiet
        self.tty = stream.isatty()
        self.width = 0
        self.last_state: Optional[Dict[str, str]] = None

    def show(self, elapsed: float, info: Dict[str, str]) -> None:
        if self.quiet or info.get("sceLineNumber[0]", "0") == "0":
            return  # quiet, or the worker has not read its first line yet
        text = progress_text(elapsed, info)
        if self.tty:
            self.stream.write("\r" + text.ljust(self.width))
            self.width = len(text)
            self.stream.flush()
            return
        state = {k: info.get(k, "") for k in _CHANGES}
        if state != self.last_state:
            self.stream.write(text + "\n")
            self.stream.flush()
            self.last_state = state

    def end(self) -> None:
        """Ends the updating line, so that other output starts on a line of its own."""
        if self.tty and self.width:
            self.stream.write("\n")
            self.stream.flush()
            self.width = 0


class EndWatch:
    """A thread that waits in the library for the scenario's end and then
    puts ("ended", None) on `events`. Waits in slices of WAIT_SLICE_S only to
    see `stop()`; the end itself is seen as soon as the library tells it."""

    def __init__(self, client: "zl.Client", sid: int, events: "queue.Queue") -> None:
        self.client = client
        self.sid = sid
        self.events = events
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._run, name="zl-run-end", daemon=True)
        self.thread.start()

    def _run(self) -> None:
        while not self.stopping.is_set():
            if self.client.waitscenario(self.sid, WAIT_SLICE_S):
                self.events.put(("ended", None))
                return

    def stop(self) -> None:
        self.stopping.set()
        self.thread.join(timeout=2 * WAIT_SLICE_S + 1.0)


def ask(question: Question, out: IO[str], stdin: IO[str]) -> str:
    """Asks one operator question; gives the answer text ("" at end of input)."""
    sid, _number, file, text = question
    out.write("Question from scenario %d (%s): %s\nAnswer [y/n]: "
              % (sid, safe_text.terminal(file), safe_text.terminal(text)))
    out.flush()
    line = stdin.readline()
    if not line:
        out.write("\n(no input: answered with an empty answer)\n")
    elif not stdin.isatty():
        out.write(line if line.endswith("\n") else line + "\n")  # the terminal did not echo it
    out.flush()
    return line.strip()


class RunLog:
    """This run's part of its test log: what is written after the offset the
    file had when the run started."""

    def __init__(self, path: str) -> None:
        self.path = path
        try:
            self.offset = os.path.getsize(path)
        except OSError:
            self.offset = 0

    def section(self) -> Optional[testlog.Section]:
        """The run's section (the first one after the offset), or None when
        the file cannot be read or holds no run there."""
        try:
            with open(self.path, "rb") as f:
                f.seek(self.offset)
                data = f.read()
        except OSError:
            return None
        sections = testlog.parse(data).sections
        return sections[0] if sections else None


def summarize(out: IO[str], scenario: str, sid: int, elapsed: float, info: Dict[str, str],
              log: RunLog, stopped: bool) -> testlog.Verdict:
    """Prints the summary; gives the run's verdict. The duration is the test
    log's (its "Closing test log" line) when the log has one, else the time
    this command saw."""
    section = log.section()
    if section is not None and section.duration is not None:
        elapsed = section.duration
    how = "was stopped" if stopped else "ended"
    out.write("Scenario %d '%s' %s after %s\n" % (sid, safe_text.terminal(scenario), how,
                                                  format_elapsed(elapsed)))
    if section is None:
        verdict = testlog.Verdict("failed", ["no test log to judge the run by"])
        out.write("  test log %s could not be read; last status: %s\n"
                  % (safe_text.terminal(log.path), progress_text(elapsed, info)))
    else:
        verdict = testlog.judge(section)
        passed = sum(1 for c in section.cases if c.outcome == "passed")
        out.write("  checks passed: %d   failures: %d   errors: %d\n"
                  % (passed, verdict.failures, verdict.errors))
        listed = [c for c in section.cases if c.outcome != "passed"]
        for case in listed[:MAX_LISTED]:
            out.write("  %s\n" % safe_text.terminal(case.line or case.text))
        if len(listed) > MAX_LISTED:
            out.write("  ... (%d more)\n" % (len(listed) - MAX_LISTED))
        out.write("  test log: %s\n" % safe_text.terminal(log.path))
    if verdict.outcome == "aborted" and not stopped:
        out.write("  %s\n" % safe_text.terminal(verdict.reasons[0]))
        if section is not None and section.abort_where:
            out.write("  %s\n" % safe_text.terminal(section.abort_where))
    word = {"passed": "PASSED", "failed": "FAILED", "aborted": "ABORTED"}[verdict.outcome]
    out.write("%s\n" % ("STOPPED" if stopped else word))
    out.flush()
    return verdict


def main(args: argparse.Namespace) -> int:
    out = sys.stdout
    if not os.path.isfile(args.scenario):
        errors.error("run", "no such scenario file: %s" % safe_text.terminal(args.scenario))
        return errors.FILE
    try:
        client = connection.connect(args)
    except connection.Failure as failure:
        return connection.report("run", failure)

    with client:
        # Questions (from the client's question thread) and the end (from
        # EndWatch) reach this thread through one queue: it prompts, so that
        # Ctrl-C reaches the prompt, and it sees the end at once.
        events: "queue.Queue[Tuple[str, Optional[Question]]]" = queue.Queue()

        def handle(sid: int, number: int, file: str, text: str) -> None:
            events.put(("question", (sid, number, file, text)))

        client.setquestionhandler(handle)
        words = list(args.arguments) + (["-skipuserq"] if args.skipuserq else [])
        log = RunLog(test_log_path(args.scenario))
        start = time.monotonic()
        sid = client.startscenario(args.scenario, " ".join(words))
        if sid <= 0:
            errors.error("run", "the scenario %s did not start (see the library's log with -v)"
                         % safe_text.terminal(args.scenario))
            return errors.SERVER
        watch = EndWatch(client, sid, events)
        progress = Progress(out, args.quiet)
        info: Dict[str, str] = {}
        stopped = False
        try:
            while True:
                try:
                    kind, question = events.get(timeout=args.interval)
                except queue.Empty:
                    kind, question = "tick", None
                if kind == "ended":
                    break
                text = client.scenarioinfo(sid)
                if text:
                    info = parse_info(text)
                    progress.show(time.monotonic() - start, info)
                if question is None or question[0] != sid:
                    continue
                progress.end()
                answer = ask(question, out, sys.stdin)
                if client.answerquestion(question[0], question[1], answer) != 1:
                    out.write("(the question was no longer waiting: it timed out)\n")
        except KeyboardInterrupt:
            stopped = True
            progress.end()
            errors.error("run", "stopping scenario %d" % sid)
            client.stopscenario(sid)
            if not client.waitscenario(sid, STOP_WAIT_S):
                errors.error("run", "scenario %d did not stop within %.0f s"
                             % (sid, STOP_WAIT_S))
        finally:
            watch.stop()
        progress.end()
        elapsed = time.monotonic() - start
        client.setquestionhandler(None)
        verdict = summarize(out, args.scenario, sid, elapsed, info, log, stopped)
    if stopped:
        return errors.INTERRUPTED
    return errors.OK if verdict.passed else errors.NEGATIVE
