"""Connection options shared by the commands that talk to a server
(run, ls, get, set), and the one way they connect.

A client needs a Naming Service to find the database. `--ns` names it as a
corbaloc address (corbaloc::127.0.0.1:PORT/NameService) or as a bare
port on 127.0.0.1; without it the client takes $ZL_ORB_OPTIONS (what the test
services export), else the ORB's own configuration. `--options` appends
further client options, passed through as they are. The client ORB is
pinned to 127.0.0.1 unless the options already name an endpoint.
"""
import os
import sys

DEFAULT_DATABASE = "SIM"
LOOPBACK_ENDPOINT = "-ORBendPoint giop:tcp:127.0.0.1:"


class ConnectionError_(Exception):
    """A connection failure with a one-line message for the user."""


def add_arguments(parser):
    group = parser.add_argument_group("connection")
    group.add_argument("-d", "--db", "--database", dest="db",
                       default=os.environ.get("ZL_DATABASE", DEFAULT_DATABASE),
                       help="the database to connect to (default: $ZL_DATABASE, else SIM)")
    group.add_argument("--ns", metavar="ADDRESS",
                       help="the Naming Service: corbaloc::HOST:PORT/NameService or a port "
                            "on 127.0.0.1 (default: from $ZL_ORB_OPTIONS)")
    group.add_argument("--options", metavar="TEXT", default="",
                       help="further client options, passed to zl.Client as they are "
                            "(for example \"-debug\" or \"-nsior FILE\")")
