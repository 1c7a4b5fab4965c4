"""zl lsp: the language server of scenario files, over standard input and
output, for editors (zl.lsp; docs/tools/lsp.md, docs/authoring.md).

The tags that exist come as for zl check: `--tags FILE` (a tag definition
file or a saved tag file) or `--db NAME` (a live database, asked once at
start); with them an unknown tag is an error and tag names are completed.
`--args` gives the arguments $1..$8 the files are checked with.

Standard output carries protocol messages and nothing else: the server
writes them on a duplicate of it, and descriptor 1 itself (where a stray
print, or a line of the client library, would go) is pointed at standard
error before the first message. The log goes to standard error.

Exit status: 0 after the client's shutdown and exit; 1 when the input ends
or exit comes without a shutdown (as the protocol says), or without the
Python package pylsp_jsonrpc; 2 for usage errors; 3 when the --tags file
cannot be read or holds no tags; 4 when the --db database cannot be
reached.
"""
import argparse
import io
import logging
import os
import sys
from typing import Any, BinaryIO

from zl.cli import errors, tag_source

INSTALL_HINT = ("needs the Python package pylsp_jsonrpc (Debian: python3-pylsp-jsonrpc; "
                "pip: python-lsp-jsonrpc)")


def add_arguments(parser: argparse.ArgumentParser, command: str) -> None:
    parser.description = ("the language server of scenario files, over standard input and "
                          "output: diagnostics of the check, completion, help on keywords")
    parser.epilog = ("Exit status: 0 after the client's shutdown and exit; 1 when the input "
                     "ends or exit comes without shutdown; 2 for usage errors; 3 when the "
                     "--tags file cannot be read; 4 when the --db database cannot be reached.")
    tag_source.add_arguments(parser, when_read="read once, at start")
    parser.add_argument("-v", "--verbose", action="store_true",
                        help="log every message on standard error (and, with --db, the "
                             "client library's log)")


def protocol_output() -> BinaryIO:
    """The stream the protocol is written on: a duplicate of standard
    output, after descriptor 1 was pointed at standard error. Where
    standard output is no descriptor (the command run inside another
    program), its binary buffer as it is."""
    if sys.stdout is None:  # started with standard output closed
        return open(os.devnull, "wb")
    try:
        out, err = sys.stdout.fileno(), sys.stderr.fileno()
    except (AttributeError, OSError, ValueError):
        return sys.stdout.buffer
    sys.stdout.flush()
    protocol = os.fdopen(os.dup(out), "wb")
    os.dup2(err, out)
    sys.stdout = sys.stderr
    return protocol


def log_to_stderr(verbose: bool) -> None:
    """The server's log: one line per event on standard error; exceptions
    as their one-line text unless --verbose."""
    class OneLine(logging.Formatter):
        def formatException(self, ei: Any) -> str:
            return "" if ei[1] is None else "  %s: %s" % (type(ei[1]).__name__, ei[1])

    handler = logging.StreamHandler(sys.stderr)
    handler.setFormatter(logging.Formatter("zl lsp: %(message)s") if verbose
                         else OneLine("zl lsp: %(message)s"))
    for name, quiet in (("zl.lsp", logging.WARNING), ("pylsp_jsonrpc", logging.ERROR)):
        logger = logging.getLogger(name)
        logger.addHandler(handler)
        logger.setLevel(logging.DEBUG if verbose else quiet)
        logger.propagate = False


def main(args: argparse.Namespace) -> int:
    try:
        from zl import lsp
    except ImportError as e:
        if (e.name or "").split(".")[0] != "pylsp_jsonrpc":
            raise
        errors.error("lsp", INSTALL_HINT)
        return errors.NEGATIVE
    tags, status = tag_source.known_tags(args, "lsp")
    if status != errors.OK:
        return status
    log_to_stderr(args.verbose)
    output = protocol_output()
    # Started with standard input closed: no client, as if it ended at once.
    source = sys.stdin.buffer if sys.stdin is not None else io.BytesIO()
    return lsp.serve(source, output, tags, args.arguments)
