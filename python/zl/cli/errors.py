"""The exit statuses of the zl command and its one way of telling an error.

Every subcommand ends with one of these statuses, one per kind of outcome
(docs/tools/exit-status.md), and writes each error as one line on standard
error that begins with "zl COMMAND: ". Usage errors go through the parser
(`parser.error`), which prints the usage first and then the same prefix.
"""
import sys

OK = 0            # success: the run passed, the file is whole, all is valid
NEGATIVE = 1      # the answer is no: a run failed or was aborted, a checksum does
                  # not match, a tag is unknown, nothing matched
USAGE = 2         # bad arguments or options (the parser's usage errors)
FILE = 3          # a file cannot be read or written, is empty, is not of its
                  # format, or is damaged
SERVER = 4        # no naming service, an unknown database, a server that refused
                  # (a scenario that did not start)
INTERNAL = 70     # a fault of zl itself
INTERRUPTED = 130  # stopped by Ctrl-C


def error(command: str, message: str) -> None:
    """Writes one error line: "zl COMMAND: MESSAGE". The caller escapes
    texts that come from files (safe_text.terminal)."""
    sys.stdout.flush()
    print("zl %s: %s" % (command, message), file=sys.stderr)
