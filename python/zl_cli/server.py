"""zl ls, zl get, zl set: quick looks at a server from the shell."""
from zl_cli import connection


def add_arguments(parser, command):
    if command == "ls":
        parser.add_argument("pattern", metavar="PATTERN", nargs="?", default="*",
                            help="a tag name pattern (default: every tag)")
    elif command == "get":
        parser.add_argument("tags", metavar="TAG", nargs="+", help="the tags to show")
    else:
        parser.add_argument("tag", metavar="TAG", help="the tag to set")
        parser.add_argument("value", metavar="VALUE", type=float, help="its new value")
    connection.add_arguments(parser)


def main(args):
    print("zl %s: not built yet" % args.command)
    return 2
