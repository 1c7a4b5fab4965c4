"""zl run: runs a scenario on a server and shows its progress.

Connects, starts the scenario in this process (the client runs its
scenarios on worker threads of its own), polls `scenarioinfo` until the
scenario is gone, asks its operator questions at the terminal, and ends with
a summary of the run's part of the test log, judged by the rule every tool
uses (testlog.judge, docs/tools/verdict.md).

Exit status: 0 when the run passed; 1 when it failed, was aborted or left
no test log to judge it by; 2 for usage and connection errors; 130 after
Ctrl-C (the scenario is stopped first).
"""
import os
import queue
import sys
import time

from zl_cli import connection, safe_text, testlog

STOP_WAIT_S = 30.0     # bound on the wait for a stopped scenario to go away
HEARTBEAT_S = 30.0     # a plain progress line at least this often
MAX_LISTED = 20        # failure and error lines the summary shows


def add_arguments(parser, command):
    parser.add_argument("scenario", metavar="SCENARIO", help="the scenario file")
    parser.add_argument("arguments", metavar="ARG", nargs="*",
                        help="the scenario's arguments ($1 .. $8)")
    parser.add_argument("-skipuserq", "--skipuserq", dest="skipuserq", action="store_true",
                        help="ask no operator questions (each one is logged as not asked "
                             "and the run counts as failed)")
    parser.add_argument("--interval", type=float, default=0.5, metavar="SECONDS",
                        help="how often progress is polled (default 0.5)")
    connection.add_arguments(parser)


def test_log_path(scenario):
    """Where the scenario writes its test log: its path with the extension
    replaced by .tlg (the last dot of the whole path, as the engine does)."""
    dot = scenario.rfind(".")
    return (scenario[:dot] if dot >= 0 else scenario) + ".tlg"


def parse_info(text):
    """The key/value lines of scenarioinfo as a dict of strings."""
    info = {}
    for line in text.splitlines():
        key, _, value = line.partition("\t")
        if key:
            info[key] = value
    return info


def format_elapsed(seconds):
    minutes, seconds = divmod(seconds, 60.0)
    hours, minutes = divmod(int(minutes), 60)
    if hours:
        return "%d:%02d:%04.1f" % (hours, minutes, seconds)
    return "%d:%04.1f" % (minutes, seconds)


def progress_text(elapsed, info):
    text = "[%s] line %s  verifications %s (%s failed)  monitor checks %s (%s failed)  errors %s" % (
        format_elapsed(elapsed), info.get("sceLineNumber[0]", "?"),
        info.get("totalVerifies", "0"), info.get("failedVerifies", "0"),
        info.get("totalMonitorChecks", "0"), info.get("failedMonitorChecks", "0"),
        info.get("sceErrors", "0"))
    if "sceQuestion" in info:
        text += "  question waiting"
    return text


class Progress:
    """One updating line on a terminal; plain lines, when something changed
    (at most once a poll, and at least every HEARTBEAT_S), otherwise."""

    def __init__(self, stream):
        self.stream = stream
        self.tty = stream.isatty()
        self.width = 0
        self.last_state = None
        self.last_time = 0.0

    def show(self, elapsed, info):
        if info.get("sceLineNumber[0]", "0") == "0":
            return  # the worker has not read its first line yet
        text = progress_text(elapsed, info)
        if self.tty:
            self.stream.write("\r" + text.ljust(self.width))
            self.width = len(text)
            self.stream.flush()
            return
        state = {k: v for k, v in info.items() if k != "sceID"}
        now = time.monotonic()
        if state != self.last_state or now - self.last_time >= HEARTBEAT_S:
            self.stream.write(text + "\n")
            self.stream.flush()
            self.last_state = state
            self.last_time = now

    def end(self):
        """Ends the updating line, so that other output starts on a line of its own."""
        if self.tty and self.width:
            self.stream.write("\n")
            self.stream.flush()
            self.width = 0


def ask(question, out, stdin):
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

    def __init__(self, path):
        self.path = path
        try:
            self.offset = os.path.getsize(path)
        except OSError:
            self.offset = 0

    def section(self):
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


def summarize(out, scenario, sid, elapsed, info, log, stopped):
    """Prints the summary; gives the run's verdict (a Verdict)."""
    how = "was stopped" if stopped else "ended"
    out.write("Scenario %d '%s' %s after %s\n" % (sid, safe_text.terminal(scenario), how,
                                                  format_elapsed(elapsed)))
    section = log.section()
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
    word = {"passed": "PASSED", "failed": "FAILED", "aborted": "ABORTED"}[verdict.outcome]
    out.write("%s\n" % ("STOPPED" if stopped else word))
    out.flush()
    return verdict


def wait_gone(client, sid):
    """Waits (bounded) until scenario `sid` is no longer listed."""
    deadline = time.monotonic() + STOP_WAIT_S
    while client.scenarioinfo(sid) and time.monotonic() < deadline:
        time.sleep(0.05)
    return not client.scenarioinfo(sid)


def main(args):
    out = sys.stdout
    if not os.path.isfile(args.scenario):
        print("zl run: no such scenario file: %s" % args.scenario, file=sys.stderr)
        return 2
    if args.interval <= 0:
        print("zl run: --interval must be above 0", file=sys.stderr)
        return 2
    try:
        client = connection.connect(args)
    except connection.Failure as failure:
        return connection.report("run", failure)

    with client:
        # The handler runs on the client's question thread: it only hands the
        # question to this thread, which prompts (so Ctrl-C reaches the prompt).
        questions = queue.Queue()
        client.setquestionhandler(lambda *question: questions.put(question))
        words = list(args.arguments) + (["-skipuserq"] if args.skipuserq else [])
        log = RunLog(test_log_path(args.scenario))
        sid = client.startscenario(args.scenario, " ".join(words))
        if sid <= 0:
            print("zl run: the scenario %s did not start (see the library's log with -v)"
                  % args.scenario, file=sys.stderr)
            return 2
        progress = Progress(out)
        start = time.monotonic()
        info = {}
        stopped = False
        try:
            while True:
                text = client.scenarioinfo(sid)
                if not text:
                    break
                info = parse_info(text)
                progress.show(time.monotonic() - start, info)
                try:
                    question = questions.get(timeout=args.interval)
                except queue.Empty:
                    continue
                if question[0] != sid:
                    continue
                progress.end()
                answer = ask(question, out, sys.stdin)
                if client.answerquestion(question[0], question[1], answer) != 1:
                    out.write("(the question was no longer waiting: it timed out)\n")
        except KeyboardInterrupt:
            stopped = True
            progress.end()
            print("zl run: stopping scenario %d" % sid, file=sys.stderr)
            client.stopscenario(sid)
            if not wait_gone(client, sid):
                print("zl run: scenario %d did not stop within %.0f s" % (sid, STOP_WAIT_S),
                      file=sys.stderr)
        progress.end()
        elapsed = time.monotonic() - start
        client.setquestionhandler(None)
        verdict = summarize(out, args.scenario, sid, elapsed, info, log, stopped)
    if stopped:
        return 130
    return 0 if verdict.passed else 1
