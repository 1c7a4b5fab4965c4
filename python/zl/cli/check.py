"""zl check: the static check of scenario files, for editors and CI.

Checks each FILE and the subtests it calls as a run would read them, without
a server (zl.checks, zl.checkscenario), and prints the findings: one line
each, "FILE:LINE:COL: error: MESSAGE" or "... warning: ...", as compilers
write them (editors and CI problem matchers read that form); `--format json`
a list of objects; `--format sarif` a SARIF 2.1.0 log for code-scanning
views. With `--tags FILE` (a tag definition file, or a tag file saved with
savetags) or `--db NAME` (the tags of a live database, one call) every tag
a statement names that does not exist is an error. docs/tools/check.md.

Exit status: 0 when no file has an error (warnings allowed; `--strict`
makes them errors); 1 when one has; 2 for usage errors; 3 when a FILE or the
--tags file cannot be read (or the latter holds no tags); 4 when the --db
database cannot be reached.
"""
import argparse
import json
import sys
from typing import List

from zl import checks, safe_text
from zl.cli import errors, tag_source

FORMATS = ("text", "json", "sarif")


def add_arguments(parser: argparse.ArgumentParser, command: str) -> None:
    parser.epilog = ("Exit status: 0 when no file has an error (warnings allowed); 1 when one "
                     "has; 2 for usage errors; 3 when a FILE or the --tags file cannot be "
                     "read; 4 when the --db database cannot be reached.")
    parser.add_argument("files", metavar="FILE", nargs="+",
                        help="scenario files (the subtests they call are checked with them)")
    group = tag_source.add_arguments(parser)
    parser.add_argument("--format", choices=FORMATS, default="text",
                        help="text (default): FILE:LINE:COL: SEVERITY: MESSAGE lines; json; "
                             "sarif (SARIF 2.1.0)")
    parser.add_argument("--strict", action="store_true",
                        help="warnings are errors (for CI)")
    group.add_argument("-v", "--verbose", action="store_true",
                       help="show the client library's log on standard error")


def readable(path: str) -> bool:
    """Whether the FILE can be read; tells why not (the caller gives errors.FILE)."""
    try:
        with open(path, "rb"):
            return True
    except OSError as e:
        errors.error("check", "cannot read %s: %s" % (safe_text.terminal(path),
                                                     e.strerror or e))
        return False


def main(args: argparse.Namespace) -> int:
    tags, status = tag_source.known_tags(args, "check")
    if status != errors.OK:
        return status
    found: List[checks.Diagnostic] = []
    for path in args.files:
        if not readable(path):
            status = errors.FILE
            continue
        found += checks.check(path, tags, args.arguments, strict=args.strict)
    if args.format == "text":
        for d in found:
            print(checks.text_line(d))
    else:
        document = checks.as_json(found) if args.format == "json" else checks.as_sarif(found)
        json.dump(document, sys.stdout, indent=2)
        sys.stdout.write("\n")
    if checks.errors_of(found):
        status = max(status, errors.NEGATIVE)
    return status
