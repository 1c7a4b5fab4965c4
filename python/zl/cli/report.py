"""zl report: a test log as a JUnit XML file and/or a self-contained HTML page
(the reports are zl.reports: what they hold, how runs are judged).

Exit status: 0 when the reports were written (1 with --fail-on-failure when
a run did not pass), 2 for bad arguments, 3 when the log cannot be read,
is empty or is no test log, or a report cannot be written.
"""
import argparse

from zl import safe_text
from zl.cli import errors
from zl.readers import testlog
from zl.reports import count, run_facts, write_html, write_junit


def add_arguments(parser: argparse.ArgumentParser, command: str) -> None:
    parser.epilog = ("Exit status: 0 when the reports were written; 1 with --fail-on-failure "
                     "when a reported run did not pass (a failure, an error, an abort); 2 for "
                     "bad arguments; 3 when the log cannot be read, is empty or holds no run, "
                     "or a report cannot be written.")
    parser.add_argument("testlog", metavar="TESTLOG", help="the test log (.tlg) to report on")
    parser.add_argument("--junit", metavar="FILE", help="write a JUnit XML report to FILE")
    parser.add_argument("--html", metavar="FILE", help="write an HTML report to FILE")
    parser.add_argument("--fail-on-failure", action="store_true",
                        help="exit 1 when a reported run did not pass")
    parser.add_argument("--last", action="store_true",
                        help="report only the last run of the log")


def main(args: argparse.Namespace) -> int:
    if not args.junit and not args.html:
        args.parser.error("give --junit FILE, --html FILE or both")
    shown = safe_text.terminal(args.testlog)
    try:
        with open(args.testlog, "rb") as f:
            data = f.read()
    except OSError as e:
        errors.error("report", "cannot read %s: %s" % (shown, e.strerror or e))
        return errors.FILE
    if not data:
        errors.error("report", "%s: empty file" % shown)
        return errors.FILE
    log = testlog.parse(data)
    if not log.sections:
        errors.error("report", "%s: not a test log: it holds no run (no \"Starting test\" line)"
                     % shown)
        return errors.FILE
    if args.last:
        log.sections = log.sections[-1:]
    facts = run_facts(args.testlog, data, log)
    totals = count(log.sections)
    try:
        if args.junit:
            write_junit(log, args.testlog, args.junit, facts)
        if args.html:
            write_html(log, args.testlog, args.html, facts)
    except OSError as e:
        errors.error("report", "cannot write %s: %s"
                     % (safe_text.terminal(str(e.filename)), e.strerror or e))
        return errors.FILE
    print("%s: %d run(s), %d check(s), %d failure(s), %d error(s)"
          % (shown, len(log.sections), totals["tests"], totals["failures"],
             totals["errors"]))
    if args.fail_on_failure and not all(testlog.judge(s).passed for s in log.sections):
        return errors.NEGATIVE
    return errors.OK


