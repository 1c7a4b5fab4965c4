"""zl run: runs a scenario on a server and shows its progress.

Connects, starts the scenario in this process through the run layer
(zl.runs: the client runs its scenarios on worker threads of its own),
learns of its end from the library (`Run.wait`, on a thread of its own
here), shows its progress from the scenario's state meanwhile, asks its
operator questions at the terminal, and ends with a summary of the run's
part of the test log, judged by the rule every tool uses (testlog.judge,
docs/tools/verdict.md). It publishes the run on a local socket
(zl.runs.channel), so that a zl serve of the same user shows it, answers its
questions and may stop it.

Before it starts the scenario it checks the file and its subtests as zl
check does, with the database's tags and the run's arguments (zl.checks):
the findings go to standard error, and a file with errors is not run
(`--no-check` runs it without the check).

Exit status: 0 when the run passed; 1 when it failed, was aborted, was
stopped from zl serve or left no test log to judge it by, or when the check
found errors and the scenario was not run; 2 for usage errors; 3 for a
missing scenario file; 4 when the server cannot be reached or the scenario
did not start; 130 after Ctrl-C (the scenario is stopped first).
"""
import argparse
import collections
import os
import queue
import sys
import threading
import time
from typing import IO, Any, Deque, Dict, List, Optional, Set, Tuple

import zl
from zl import checks, runs, safe_text
from zl.cli import connection, errors
from zl.readers import testlog
from zl.runs import channel, places

WAIT_SLICE_S = 0.25    # the end-waiting thread looks at its stop flag this often
MAX_LISTED = 20        # failure and error lines the summary shows
WATCHED_S = 2.0        # a zl serve that read the run this recently watches it
WATCH_LOOK_S = 0.25    # how often a question at the end of input looks whether it is watched

Question = Tuple[int, int, str, str]  # scenario id, question number, file, text
Json = Dict[str, Any]


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
    parser.add_argument("--no-check", dest="check", action="store_false",
                        help="run without checking the scenario first (by default a file "
                             "the check finds errors in is not run)")
    connection.add_arguments(parser)


def format_elapsed(seconds: float) -> str:
    minutes, seconds = divmod(seconds, 60.0)
    hours, minutes = divmod(int(minutes), 60)
    if hours:
        return "%d:%02d:%04.1f" % (hours, minutes, seconds)
    return "%d:%04.1f" % (minutes, seconds)


def progress_text(elapsed: float, info: Optional[runs.ScenarioInfo]) -> str:
    """The progress line; without a state (the run had none yet) the line
    is "?" and the counts 0."""
    line, counts = "?", (0, 0, 0, 0, 0)
    if info is not None:
        line = str(info["line_number"])
        counts = (info["total_verifies"], info["failed_verifies"],
                  info["total_monitor_checks"], info["failed_monitor_checks"], info["errors"])
    text = ("[%s] line %s  verifications %d (%d failed)  monitor checks %d (%d failed)  "
            "errors %d" % ((format_elapsed(elapsed), line) + counts))
    if info is not None and info["question"] is not None:
        text += "  question waiting"
    return text


def _changes(info: runs.ScenarioInfo) -> Tuple[Any, ...]:
    """What makes a new progress line when the output is no terminal: the
    statement line, failures, errors, a question. The totals are left out:
    MONITOR and TMONITOR add to them at every check while the run waits."""
    return (info["line_number"], info["failed_verifies"], info["failed_monitor_checks"],
            info["errors"], info["question"])


class Progress:
    """One updating line on a terminal; otherwise a plain line only when
    the run moved on (_CHANGES); nothing when quiet."""

    def __init__(self, stream: IO[str], quiet: bool = False) -> None:
        self.stream = stream
        self.quiet = quiet
        self.tty = stream.isatty()
        self.width = 0
        self.last_state: Optional[Tuple[Any, ...]] = None

    def show(self, elapsed: float, info: runs.ScenarioInfo) -> None:
        if self.quiet or info["line_number"] == 0:
            return  # quiet, or the worker has not read its first line yet
        text = progress_text(elapsed, info)
        if self.tty:
            self.stream.write("\r" + text.ljust(self.width))
            self.width = len(text)
            self.stream.flush()
            return
        state = _changes(info)
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

    def __init__(self, run: runs.Run, events: "queue.Queue") -> None:
        self.run = run
        self.events = events
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._run, name="zl-run-end", daemon=True)
        self.thread.start()

    def _run(self) -> None:
        while not self.stopping.is_set():
            if self.run.wait(WAIT_SLICE_S):
                self.events.put(("ended", None))
                return

    def stop(self) -> None:
        self.stopping.set()
        self.thread.join(timeout=2 * WAIT_SLICE_S + 1.0)


class StdinLines:
    """Standard input read on a thread of its own, from the first start():
    each line goes to `events` as ("line", text), its end as ("eof", None),
    so that the main thread waits for the terminal and for an answer from
    zl serve at once. The thread reads the descriptor with os.read, so a
    daemon thread blocked there holds none of the locks of Python's file
    objects and the interpreter exits without waiting for it."""

    def __init__(self, stdin: Optional[IO[str]], events: "queue.Queue") -> None:
        # Constant after construction:
        self.events = events
        self.encoding = getattr(stdin, "encoding", None) or "utf-8"
        try:
            self.fd = stdin.fileno() if stdin is not None else -1
            self.tty = os.isatty(self.fd)
        except (AttributeError, OSError, ValueError):
            self.fd, self.tty = -1, False  # no descriptor: as at the end of input
        # Main thread only:
        self.thread: Optional[threading.Thread] = None

    def start(self) -> None:
        if self.thread is None:
            self.thread = threading.Thread(target=self._run, name="zl-run-stdin", daemon=True)
            self.thread.start()

    def _run(self) -> None:
        pending = b""
        while True:
            try:
                chunk = os.read(self.fd, 4096) if self.fd >= 0 else b""
            except OSError:
                chunk = b""
            if not chunk:
                if pending:
                    self.events.put(("line", pending.decode(self.encoding, "replace")))
                self.events.put(("eof", None))
                return
            pending += chunk
            while b"\n" in pending:
                line, _, pending = pending.partition(b"\n")
                self.events.put(("line", line.decode(self.encoding, "replace")))


class RunState:
    """The run as its channel shows it to zl serve (state()), and the one
    way its questions are answered (answer()), from the terminal or from
    zl serve: the first answer wins, answerquestion refuses the later one.

    Used by the main thread, the client's question thread (asked) and the
    channel's thread (state, answer); _lock guards the members below it and
    is never held during a call into the library."""

    def __init__(self, client: "zl.Client", args: argparse.Namespace,
                 collector: places.Collector) -> None:
        # Constant after construction:
        self.client = client
        self.collector = collector  # the lines the run reports (thread-safe)
        self.fixed: Json = {
            "database": args.db, "naming": connection.naming_description(args),
            "scenario": os.path.abspath(args.scenario),
            "testlog": os.path.abspath(runs.test_log_path(args.scenario)),
            "started": time.time()}
        self.file = args.scenario
        self._lock = threading.Lock()
        # Guarded by _lock:
        self._sid = 0
        self._phase = "starting"          # running, stopping, ended
        self._question: Optional[Question] = None   # the last one asked
        self._given: Set[Tuple[int, int]] = set()  # questions an answer went to
        self._made_at = time.monotonic()
        self._read_at: Optional[float] = None  # the last state(): a zl serve reading

    def started(self, sid: int) -> None:
        with self._lock:
            self._sid, self._phase = sid, "running"

    def phase(self, phase: str) -> None:
        with self._lock:
            self._phase = phase

    def asked(self, question: Question) -> None:
        with self._lock:
            self._question = question

    def given(self, sid: int, number: int) -> bool:
        """Whether an answer went to that question (it may still be on its way)."""
        with self._lock:
            return (sid, number) in self._given

    def answer(self, sid: int, number: int, text: str) -> int:
        """Answers a question of this run's scenario: answerquestion's
        result (1: taken; otherwise it was answered already, timed out, or
        is not this run's)."""
        with self._lock:
            if sid != self._sid:
                return 0
            self._given.add((sid, number))
        took = self.client.answerquestion(sid, number, text)
        if took != 1:
            with self._lock:
                self._given.discard((sid, number))
        return took

    def watched(self) -> Optional[bool]:
        """Whether a reader (zl serve) watches the run: True when one read
        its state within WATCHED_S; None while none has yet and the run is
        younger than that (one may still come); otherwise False."""
        now = time.monotonic()
        with self._lock:
            if self._read_at is not None and now - self._read_at <= WATCHED_S:
                return True
            if self._read_at is None and now - self._made_at <= WATCHED_S:
                return None
            return False

    def state(self) -> Json:
        """The run now: what it runs and where, its scenario's line and
        counters (read at the call), and the question waiting for an
        answer ("asked": sid, number, file, text; null when none)."""
        with self._lock:
            self._read_at = time.monotonic()
            sid, phase, question = self._sid, self._phase, self._question
            given = question is not None and question[:2] in self._given
        info = runs.read_info(self.client, sid) if phase == "running" else None
        asked = None
        if (question is not None and question[0] == sid and info is not None
                and info["question"] is not None and not given):
            asked = dict(zip(("sid", "number", "file", "text"), question))
        return {**self.fixed,
                **runs.scenario_row(sid, self.file, info, self.collector.reported(sid)),
                "state": phase, "asked": asked}


class Questions:
    """The run's operator questions at the terminal. Each is asked in turn
    and settled by whichever comes first: a line of standard input, an
    answer from zl serve (through the run's channel), or its time-out.

    At the end of standard input that is no terminal (`zl run ... </dev/null`)
    a published run leaves the question waiting for zl serve (or its
    time-out) while a zl serve reads the run (it does twice a second): one
    that has not for WATCHED_S, also one that stops reading, gets an empty
    answer, so that a run nobody watches fails at once as it always has.
    Otherwise, and after Ctrl-D at a terminal, the question gets an empty
    answer. Main thread only."""

    def __init__(self, out: IO[str], progress: Progress, state: RunState, stdin: StdinLines,
                 published: bool) -> None:
        self.out = out
        self.progress = progress
        self.state = state
        self.stdin = stdin
        self.published = published
        self.waiting: Deque[Question] = collections.deque()  # the first is asked
        self.asking = False      # the first of `waiting` was asked
        self.at_prompt = False   # the terminal shows its prompt
        self.lines: Deque[str] = collections.deque()  # piped lines before their question
        self.ended = False       # standard input is at its end
        self.for_page = False    # at the end of input: the asked one is for zl serve
        self.announced = False   # ... and the terminal said that it waits

    def asked(self, question: Question) -> None:
        self.waiting.append(question)
        self._next()

    def line(self, text: str) -> None:
        if self.at_prompt:
            if not self.stdin.tty:
                self._say(safe_text.terminal(text) + "\n")  # the terminal did not echo it
            self._answer(text.strip())
        elif not self.stdin.tty:
            self.lines.append(text)
        # A line typed at the terminal while no prompt shows answers nothing.

    def end_of_input(self) -> None:
        self.ended = True
        if self.at_prompt:
            self._at_end()

    def answered(self, sid: int, number: int, text: str) -> None:
        """An answer from zl serve was taken."""
        if self.asking and self.waiting[0][:2] == (sid, number):
            self._say("(answered from zl serve: %s)\n" % safe_text.terminal(text))
            self._settled()
        else:
            self.waiting = collections.deque(q for q in self.waiting if q[:2] != (sid, number))

    def tick(self, info: Optional[runs.ScenarioInfo]) -> None:
        """The question asked is gone from the scenario (whose state is
        `info`; None: not known) with no answer of ours: it timed out. At
        the end of input, whether zl serve still reads the run."""
        if (self.asking and info is not None and info["question"] is None
                and not self.state.given(*self.waiting[0][:2])):
            self._say("(the question timed out)\n")
            self._settled()
        elif self.for_page:
            self._wait_for_page()

    def _next(self) -> None:
        if self.asking or not self.waiting:
            return
        sid, _number, file, text = self.waiting[0]
        self._say("Question from scenario %d (%s): %s\nAnswer [y/n]: "
                  % (sid, safe_text.terminal(file), safe_text.terminal(text)))
        self.asking = self.at_prompt = True
        if self.lines:
            self.line(self.lines.popleft())
        elif self.ended:
            self._at_end()
        else:
            self.stdin.start()

    def _at_end(self) -> None:
        self.at_prompt = False
        if self.published and not self.stdin.tty:
            self.for_page = True
            self._wait_for_page()
            return
        self._say("\n(no input: answered with an empty answer)\n")
        self._answer("")

    def _wait_for_page(self) -> None:
        """Waits for zl serve's answer while zl serve reads the run; the
        empty answer when it does not (any more)."""
        watched = self.state.watched()
        if watched is None:
            return
        if watched:
            if not self.announced:
                self._say("\n(no input: waiting for an answer from zl serve, run %d)\n"
                          % os.getpid())
                self.announced = True
            return
        if self.announced:
            self._say("(zl serve no longer reads the run: answered with an empty answer)\n")
        else:
            self._say("\n(no input: answered with an empty answer)\n")
        self._answer("")

    def _answer(self, text: str) -> None:
        sid, number = self.waiting.popleft()[:2]
        self.asking = self.at_prompt = self.for_page = self.announced = False
        if self.state.answer(sid, number, text) != 1:
            self._say("(the question was no longer waiting: answered from zl serve "
                      "or timed out)\n")
        self._next()

    def _say(self, text: str) -> None:
        self.progress.end()
        self.out.write(text)
        self.out.flush()

    def _settled(self) -> None:
        self.waiting.popleft()
        self.asking = self.at_prompt = self.for_page = self.announced = False
        self._next()


def read_back(run: runs.Run) -> Optional[runs.RunSection]:
    """The run's part of its test log; None when the log cannot be read or
    holds no run there."""
    try:
        return run.read()
    except OSError:
        return None


def keep_places(part: runs.RunSection, found: places.Places, verbose: bool) -> None:
    """Keeps the places of the run's lines beside its test log, for zl
    report; -v tells when they cannot be kept."""
    try:
        part.keep_places(found)
    except OSError as e:
        if verbose:
            errors.error("run", "the scenario lines of the run were not kept for zl report: "
                         "cannot write %s: %s" % (
                             safe_text.terminal(places.path_for(part.test_log)),
                             e.strerror or e))


def summarize(out: IO[str], run: runs.Run, elapsed: float, info: Optional[runs.ScenarioInfo],
              part: Optional[runs.RunSection], stopped: bool,
              found: Optional[places.Places] = None) -> testlog.Verdict:
    """Prints the summary of `run` from its part of the test log (None: the
    log could not be read or held no run); gives the run's verdict. Each
    failure and error line is named by its scenario line where `found` (the
    places of the run's lines) knows it, else by its test log line. The
    duration is the test log's (its "Closing test log" line) when the log
    has one, else the time this command saw; `info` is the run's last state."""
    section = part.section if part is not None else None
    if section is not None and section.duration is not None:
        elapsed = section.duration
    how = "was stopped" if stopped else "ended"
    out.write("Scenario %d '%s' %s after %s\n" % (run.sid, safe_text.terminal(run.scenario),
                                                  how, format_elapsed(elapsed)))
    if part is None or section is None:
        verdict = testlog.Verdict("failed", ["no test log to judge the run by"])
        out.write("  test log %s could not be read; last status: %s\n"
                  % (safe_text.terminal(run.test_log), progress_text(elapsed, info)))
    else:
        verdict = part.verdict
        passed = sum(1 for c in section.cases if c.outcome == "passed")
        out.write("  checks passed: %d   failures: %d   errors: %d\n"
                  % (passed, verdict.failures, verdict.errors))
        listed = part.failing
        for case in listed[:MAX_LISTED]:
            out.write("  %s: %s\n" % (safe_text.terminal(places.where(case, section, found)),
                                      safe_text.terminal(case.line or case.text)))
        if len(listed) > MAX_LISTED:
            out.write("  ... (%d more)\n" % (len(listed) - MAX_LISTED))
        out.write("  test log: %s\n" % safe_text.terminal(run.test_log))
    if verdict.outcome == "aborted" and not stopped:
        out.write("  %s\n" % safe_text.terminal(verdict.reasons[0]))
        if section is not None and section.abort_where:
            out.write("  %s\n" % safe_text.terminal(section.abort_where))
    word = {"passed": "PASSED", "failed": "FAILED", "aborted": "ABORTED"}[verdict.outcome]
    out.write("%s\n" % ("STOPPED" if stopped else word))
    out.flush()
    return verdict


def publish(args: argparse.Namespace, state: RunState,
            events: "queue.Queue[Event]") -> Optional[channel.Publisher]:
    """Publishes the run for zl serve (zl.runs.channel); None when the runs
    folder cannot be used, which -v tells. The run goes on either way."""

    def answer(sid: int, number: int, text: str) -> int:
        took = state.answer(sid, number, text)
        if took == 1:
            events.put(("answered", (sid, number, text)))
        return took

    try:
        folder = channel.open_folder(create=True)
        return channel.Publisher(folder, state.state, answer,
                                 lambda: events.put(("stop", None)))
    except (channel.Unsafe, OSError) as e:
        if args.verbose:
            errors.error("run", "not shown to zl serve: %s" % e)
        return None


def stop_scenario(run: runs.Run, state: RunState, why: str) -> None:
    """Stops the scenario and waits (at most runs.STOP_BOUND_S) until it is gone."""
    state.phase("stopping")
    errors.error("run", "stopping scenario %d%s" % (run.sid, why))
    if not run.stop():
        errors.error("run", "scenario %d did not stop within %.0f s"
                     % (run.sid, runs.STOP_BOUND_S))


# What reaches the main thread: ("question", Question) from the client's
# question thread, ("ended", None) from EndWatch, ("line", str) and ("eof",
# None) from StdinLines, ("answered", (sid, number, text)) and ("stop", None)
# from the run's channel.
Event = Tuple[str, Any]


def check_first(client: "zl.Client", args: argparse.Namespace, options: str) -> bool:
    """Checks the scenario with the database's tags and the run's options
    (zl check's findings, on standard error); False when it has errors and
    must not run."""
    try:
        tags: Optional[List[str]] = checks.tags_of_database(client)
    except checks.TagsError:
        tags = None  # the run will meet what the check cannot see
    found = checks.check(args.scenario, tags, options)
    sys.stdout.flush()
    for d in found:
        print(checks.text_line(d), file=sys.stderr)
    problems = checks.errors_of(found)
    if not problems:
        return True
    errors.error("run", "not run: the check finds %s in %s (--no-check runs it anyway)"
                 % (checks.count_text(problems), safe_text.terminal(args.scenario)))
    return False


def main(args: argparse.Namespace) -> int:
    out = sys.stdout
    if not os.path.isfile(args.scenario):
        errors.error("run", "no such scenario file: %s" % safe_text.terminal(args.scenario))
        return errors.FILE
    try:
        client = connection.connect(args)
    except connection.Failure as failure:
        return connection.report("run", failure)

    words = list(args.arguments) + (["-skipuserq"] if args.skipuserq else [])
    # The run's failure and error lines come with their scenario lines
    # (places.py): the collector is in place before the run starts.
    with client, places.collecting() as collector:
        if args.check and not check_first(client, args, " ".join(words)):
            return errors.NEGATIVE
        # Everything the run waits for reaches this thread through one
        # queue: it prompts, so that Ctrl-C reaches it, and it sees the end,
        # a line of input and an answer from zl serve at once.
        events: "queue.Queue[Event]" = queue.Queue()
        state = RunState(client, args, collector)

        def handle(sid: int, number: int, file: str, text: str) -> None:
            question = (sid, number, file, text)
            state.asked(question)
            events.put(("question", question))

        client.setquestionhandler(handle)
        start = time.monotonic()
        run = runs.start(client, args.scenario, " ".join(words))
        if not run.started:
            errors.error("run", "the scenario %s did not start (see the library's log with -v)"
                         % safe_text.terminal(args.scenario))
            return errors.SERVER
        sid = run.sid
        state.started(sid)
        publisher = publish(args, state, events)
        watch = EndWatch(run, events)
        progress = Progress(out, args.quiet)
        questions = Questions(out, progress, state, StdinLines(sys.stdin, events), publisher is not None)
        info: Optional[runs.ScenarioInfo] = None
        stopped_by = ""  # "Ctrl-C" or "zl serve" when the run was stopped
        try:
            while True:
                try:
                    # At the end of input, whether zl serve reads the run
                    # is looked at often, whatever the progress interval.
                    timeout = min(args.interval, WATCH_LOOK_S) if questions.for_page else args.interval
                    kind, payload = events.get(timeout=timeout)
                except queue.Empty:
                    kind, payload = "tick", None
                if kind == "ended":
                    break
                if kind == "stop":
                    progress.end()
                    stopped_by = "zl serve"
                    stop_scenario(run, state, " (stopped from zl serve)")
                    break
                now = run.info()
                if now is not None:
                    info = now
                if kind == "question" and payload[0] == sid:
                    questions.asked(payload)
                elif kind == "answered":
                    questions.answered(*payload)
                elif kind == "line":
                    questions.line(payload)
                elif kind == "eof":
                    questions.end_of_input()
                questions.tick(now)
                if now is not None and not questions.at_prompt:
                    progress.show(time.monotonic() - start, now)
        except KeyboardInterrupt:
            stopped_by = "Ctrl-C"
            progress.end()
            stop_scenario(run, state, "")
        finally:
            watch.stop()
            state.phase("ended")
            if publisher is not None:
                publisher.close()
        progress.end()
        elapsed = time.monotonic() - start
        client.setquestionhandler(None)
        found = collector.places(sid)
        part = read_back(run)
        if part is not None:
            keep_places(part, found, args.verbose)
        verdict = summarize(out, run, elapsed, info, part, bool(stopped_by), found)
    if stopped_by == "Ctrl-C":
        return errors.INTERRUPTED
    return errors.OK if verdict.passed and not stopped_by else errors.NEGATIVE
