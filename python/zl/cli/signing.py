"""zl sign and zl verify: the "#$CHECK:" lines of scenario files and test logs.

The checksum is the scenario digest as a run computes it over a file
(docs/scenario-digest.md; zl.signatures computes and checks it): it leaves
out every line that begins with "#", so the check line itself and comments
may change without changing it.

`zl sign` writes the check line of scenario files: an existing one is
replaced where it stands (all of them, when a file holds several), otherwise
the line is appended at the end, after a line end is added to a last line
that has none (the checksum is taken after that, since a line end is data).

`zl verify` checks scenario files against their stored checksum (valid,
altered or unsigned) and every run section of a test log (a file ending in
".tlg", or beginning with a run's "Starting test" line) against the
signature written when the run ended.

`zl sign` checks each scenario file first, as zl check does without tags
and arguments (zl.checks), and does not sign a file the check finds errors
in (its stored checksum aside, which signing settles): the findings go to
standard error. `--no-check` signs without the check.

Exit status: 0 when every file was signed, or everything checked is valid;
1 when a file is altered or unsigned, a test log was given to sign, or a
file was not signed for its errors; 3 when a file cannot be read or
written (over 1: a file problem is told first).
"""
import argparse
import sys
from typing import List

from zl import checks, replace_file, safe_text
from zl.cli import errors
from zl.signatures import is_test_log, signed_text, verify_scenario, verify_test_log


def add_arguments(parser: argparse.ArgumentParser, command: str) -> None:
    if command == "sign":
        parser.epilog = ("Exit status: 0 when every file was signed; 1 when a test log was "
                         "given or a file has errors; 3 when a file cannot be read or "
                         "written.")
        parser.add_argument("files", metavar="FILE", nargs="+", help="scenario files to sign")
        parser.add_argument("--no-check", dest="check", action="store_false",
                            help="sign without checking the files first (by default a file "
                                 "the check finds errors in is not signed)")
    else:
        parser.epilog = ("Exit status: 0 only when everything checked is valid; 1 when "
                         "anything is altered or unsigned; 3 when a file cannot be read.")
        parser.add_argument("files", metavar="FILE", nargs="+",
                            help="scenario files, and test logs (.tlg)")


def main(args: argparse.Namespace) -> int:
    if args.command == "sign":
        return sign_files(args.files, args.check)
    return verify_files(args.files)


def errors_before_signing(path: str) -> int:
    """The errors the check finds in the scenario at `path` (shown on
    standard error with its warnings), its stored checksum aside."""
    found = [d for d in checks.check(path) if d.code not in checks.CHECKSUM_CODES]
    sys.stdout.flush()
    for d in found:
        print(checks.text_line(d), file=sys.stderr)
    problems = checks.errors_of(found)
    if problems:
        errors.error("sign", "%s: not signed: the check finds %s (--no-check signs it anyway)"
                     % (safe_text.terminal(path), checks.count_text(problems)))
    return len(problems)


def sign_files(paths: List[str], check: bool = True) -> int:
    status = errors.OK
    for path in paths:
        try:
            with open(path, "rb") as f:
                data = f.read()
            if is_test_log(path, data):
                errors.error("sign", "%s: not signed: a test log is signed by the run that "
                             "writes it" % safe_text.terminal(path))
                status = max(status, errors.NEGATIVE)
                continue
            if check and errors_before_signing(path):
                status = max(status, errors.NEGATIVE)
                continue
            new, sum_ = signed_text(data)
            if new != data:
                replace_file.write_replacing(path, new)
        except OSError as e:
            errors.error("sign", "%s: not signed: %s" % (safe_text.terminal(path),
                                                         e.strerror or e))
            status = errors.FILE
            continue
        print("%s: #$CHECK:%s" % (safe_text.terminal(path), sum_))
    return status


def verify_files(paths: List[str]) -> int:
    status = errors.OK
    show = safe_text.terminal

    def negative() -> None:
        nonlocal status
        status = max(status, errors.NEGATIVE)

    for path in paths:
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError as e:
            errors.error("verify", "cannot read %s: %s" % (show(path), e.strerror or e))
            status = errors.FILE
            continue
        if is_test_log(path, data):
            results = verify_test_log(data)
            if not results:
                print("%s: no run section" % show(path))
                negative()
            for lineno, what, verdict in results:
                print("%s:%d: %s: %s" % (show(path), lineno, show(what), verdict))
                if verdict != "valid":
                    negative()
            continue
        verdict, stored, computed = verify_scenario(data)
        if verdict == "valid":
            print("%s: valid (%s)" % (show(path), show(stored or "")))
        elif verdict == "altered":
            print("%s: altered (stored %s, computed %s)" % (show(path), show(stored or ""), computed))
        else:
            print("%s: unsigned (computed %s)" % (show(path), computed))
        if verdict != "valid":
            negative()
    return status
