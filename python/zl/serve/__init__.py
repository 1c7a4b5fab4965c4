"""zl serve: a live view of one database in the browser.

Serves one page (and its assets, all from this package: no network needed)
that shows the server's state, a tag table with live values, trends, the
scenarios started from the page and the runs of `zl run` processes of the
same user (zl.runs.channel) with their operator questions, and the test logs
and log set files of a folder. Listens on 127.0.0.1 unless --host names
another address; on either, every request needs the access token printed in
the URL (access.py), and a state change takes only what the page offers: the
scenario files it lists, the databases the Naming Service lists. Ctrl-C
(SIGINT) or SIGTERM stops it: exit 0.

This module is the command line; the web server is app.py, the client it
reads the database with plant.py.
"""
import argparse
import asyncio
import os
import socket

from zl import safe_text
from zl.cli import connection, errors


def port_number(text: str) -> int:
    """Checks a --port value as the parser reads it: 0 to 65535."""
    try:
        port = int(text)
    except ValueError:
        port = -1
    if not 0 <= port <= 65535:
        raise argparse.ArgumentTypeError("not a port number (0 to 65535): %r" % text)
    return port


def add_arguments(parser: argparse.ArgumentParser, command: str) -> None:
    parser.epilog = ("Exit status: 0 after Ctrl-C; 1 without aiohttp; 2 for usage errors and "
                     "a port that cannot be opened; 3 when the folder does not exist (a "
                     "server that cannot be reached shows as disconnected).")
    parser.add_argument("--host", metavar="ADDRESS",
                        help="listen on ADDRESS instead of 127.0.0.1 (on either, every "
                             "request needs the access token of the printed URL)")
    parser.add_argument("--port", type=port_number, default=8750,
                        help="the port to listen on (default 8750; 0: any free one)")
    parser.add_argument("--folder", default=".",
                        help="the folder of test logs, log sets and scenarios the page "
                             "shows (default: the current one)")
    connection.add_arguments(parser)


def main(args: argparse.Namespace) -> int:
    if not os.path.isdir(args.folder):
        errors.error("serve", "no such folder: %s" % safe_text.terminal(args.folder))
        return errors.FILE
    try:
        import aiohttp  # noqa: F401
    except ImportError:
        errors.error("serve", "needs aiohttp (Debian: python3-aiohttp)")
        return errors.NEGATIVE
    host = args.host or connection.LOOPBACK
    try:
        sock = socket.create_server((host, args.port), reuse_port=False)
    except OSError as e:
        # The address or port given cannot be used: a usage error.
        parser: argparse.ArgumentParser = args.parser
        parser.error("cannot listen on %s:%d: %s" % (host, args.port, _reason(e)))
    if not args.verbose:
        connection.quiet_library_log()
    from zl.serve.app import serve
    return asyncio.run(serve(args, sock, host))


def _reason(e: OSError) -> str:
    """Why a socket could not be opened, without the address that
    socket.create_server adds to the system's text (the line names it)."""
    return (e.strerror or str(e)).split(" (while attempting", 1)[0]
