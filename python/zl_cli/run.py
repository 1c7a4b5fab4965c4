"""zl run: runs a scenario on a server and shows its progress."""
from zl_cli import connection


def add_arguments(parser, command):
    parser.add_argument("scenario", metavar="SCENARIO", help="the scenario file")
    parser.add_argument("arguments", metavar="ARG", nargs="*",
                        help="the scenario's arguments")
    connection.add_arguments(parser)


def main(args):
    print("zl run: not built yet")
    return 2
