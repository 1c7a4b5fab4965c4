"""Connection options shared by the commands that talk to a server (run, ls,
get, set), and the one way they connect.

The client finds the database through a Naming Service. `--ns` names it: a
port (on 127.0.0.1), HOST:PORT, or a full corbaloc:/corbaname:/IOR: address;
without it the commands take $ZL_ORB_OPTIONS (what tools/zl_services.py
exports), else the ORB's own configuration. `--options` adds client options,
passed through to zl.Client as they are ("-nsior FILE", "-debug",
"-ORBclientCallTimeOutPeriod 5000", ...). Where the client's own ORB
listens (the address the server calls back with tag changes) is the
library's choice: $Zelvik_Interface or an -ORBendPoint when given, else the
local address toward the Naming Service host (127.0.0.1 for a Naming
Service on 127.0.0.1), so that a client on another host than its Naming
Service is reached by its servers.
"""
import argparse
import os
import re
import socket
import sys

import zl
from zl import naming
from zl.cli import errors

DEFAULT_DATABASE = "SIM"
LOOPBACK = naming.LOOPBACK


class Failure(Exception):
    """A connection failure; its text is the one-line message for the user."""


def naming_address(ns: str) -> str:
    """Checks a --ns value as the parser reads it: the value, or a usage error."""
    try:
        naming.naming_address(ns)
    except ValueError as e:
        raise argparse.ArgumentTypeError(str(e)) from None
    return ns


def add_arguments(parser: argparse.ArgumentParser) -> None:
    group = parser.add_argument_group("connection")
    group.add_argument("-d", "--db", "--database", dest="db", metavar="NAME",
                       default=os.environ.get("ZL_DATABASE", DEFAULT_DATABASE),
                       help="the database to connect to (default: $ZL_DATABASE, else SIM)")
    group.add_argument("--ns", metavar="ADDRESS", type=naming_address,
                       help="the Naming Service: PORT (on 127.0.0.1), HOST:PORT or a "
                            "corbaloc:/corbaname:/IOR: address (default: from "
                            "$ZL_ORB_OPTIONS)")
    group.add_argument("--options", metavar="TEXT", default="",
                       help="further client options, passed to zl.Client as they are "
                            "(for example \"-debug\" or \"-nsior FILE\")")
    group.add_argument("-v", "--verbose", action="store_true",
                       help="show the client library's log on standard error")


def naming_option(ns: str) -> str:
    """The -ORBInitRef option for a --ns value; Failure when it is not one."""
    try:
        return naming.naming_option(ns)
    except ValueError as e:
        raise Failure("--ns: %s" % e) from None


def client_options(args: argparse.Namespace) -> str:
    """The option string of the client for the parsed arguments."""
    parts = []
    if args.ns:
        parts.append(naming_option(args.ns))
    elif os.environ.get("ZL_ORB_OPTIONS"):
        parts.append(os.environ["ZL_ORB_OPTIONS"])
    if args.options:
        parts.append(args.options)
    return " ".join(parts)


def naming_description(args: argparse.Namespace) -> str:
    if args.ns:
        return args.ns
    match = re.search(r"NameService=(\S+)", client_options(args))
    return match.group(1) if match else "the configured naming service"


def quiet_library_log() -> None:
    """Sends what the library writes to standard error (its log) to
    /dev/null and silences its logger, keeping Python's sys.stderr on the
    original stream."""
    try:
        if sys.stderr.fileno() != 2:
            return
    except (AttributeError, OSError, ValueError):
        return  # not the process's standard error (a test's capture)
    # Inside Python the library's lines are records of the logger "zl",
    # which logging shows on sys.stderr: silence that logger too.
    import logging
    logging.getLogger("zl").setLevel(logging.CRITICAL + 1)
    sys.stderr.flush()
    saved = os.dup(2)
    null = os.open(os.devnull, os.O_WRONLY)
    os.dup2(null, 2)
    os.close(null)
    sys.stderr = os.fdopen(saved, "w", buffering=1, encoding=sys.stderr.encoding,
                           errors=sys.stderr.errors)


def show_library_log() -> None:
    """Shows every line of the library's log (the records of the logger
    "zl", debug lines included) on standard error as the library writes it."""
    import logging
    handler = logging.StreamHandler(sys.stderr)
    handler.setFormatter(logging.Formatter("%(message)s"))
    logger = logging.getLogger("zl")
    logger.addHandler(handler)
    logger.setLevel(logging.DEBUG)
    logger.propagate = False


def connect(args: argparse.Namespace) -> "zl.Client":
    """A zl.Client connected to args.db. Raises Failure with a one-line reason
    when the naming service or the database cannot be reached."""
    options = client_options(args)
    if args.verbose:
        show_library_log()
    else:
        quiet_library_log()
    client = zl.Client(options)
    if client.connect(args.db) == zl.SUCCESS:
        return client
    listing = client.listzldatabases()
    client.disconnect()
    known = [name for name in re.split(r"[\s,;]+", listing) if name]
    if "!Error" in listing or (not known and naming_service_down(options)):
        raise Failure("no naming service answers at %s" % naming_description(args))
    if not known:
        raise Failure("unknown database %r (no database is registered, or the naming "
                      "service could not be reached)" % args.db)
    raise Failure("unknown database %r (the naming service knows: %s)"
                  % (args.db, ", ".join(known)))


def naming_service_down(options: str) -> bool:
    """True when the options name the naming service by a corbaloc address
    whose port takes no connection (nothing listens there)."""
    endpoint = naming.naming_endpoint(options)
    if endpoint is None:
        return False
    try:
        with socket.create_connection(endpoint, timeout=2):
            return False
    except OSError:
        return True


def report(command: str, failure: Failure) -> int:
    """Prints a Failure as the command's one error line; gives errors.SERVER."""
    errors.error(command, str(failure))
    return errors.SERVER
