"""zl ls, zl get, zl set: quick looks at a server from the shell.

  zl ls [PATTERN]      the tags whose name matches PATTERN (a regular
                       expression, any case; all tags without one), with
                       type, mode and value
  zl get TAG...        value, display text and mode of each tag
  zl set TAG VALUE     writes the engineering-unit value, shows the result

Exit status: 0; 1 when a tag is unknown or was not written (or ls matched
nothing); 2 for usage and connection errors.
"""
import sys

from zl_cli import connection


def add_arguments(parser, command):
    if command == "ls":
        parser.add_argument("pattern", metavar="PATTERN", nargs="?", default="",
                            help="a regular expression matched against tag names, "
                                 "any case (default: every tag)")
    elif command == "get":
        parser.add_argument("tags", metavar="TAG", nargs="+", help="the tags to show")
    else:
        parser.add_argument("tag", metavar="TAG", help="the tag to set")
        parser.add_argument("value", metavar="VALUE", type=float,
                            help="its new value in engineering units")
    connection.add_arguments(parser)


def format_value(value):
    return "%.6g" % value


def print_table(rows, out):
    """Rows of columns, each column padded to its widest cell."""
    if not rows:
        return
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    for row in rows:
        cells = [cell.ljust(width) for cell, width in zip(row, widths)]
        out.write("  ".join(cells).rstrip() + "\n")


def list_tags(client, pattern, out):
    names = [n for n in client.searchtags(pattern, "Tags").split(",") if n]
    if not names:
        print("zl ls: no tag matches %r" % pattern, file=sys.stderr)
        return 1
    rows = [(r["tagname"], r["type"], r["mode"], format_value(r["value"]))
            for r in client.multipve(names)]
    print_table(rows, out)
    return 0


def get_tags(client, tags, out):
    rows, status = [], 0
    for tag in tags:
        if not client.tagexists(tag):
            print("zl get: unknown tag %s" % tag, file=sys.stderr)
            status = 1
            continue
        rows.append((tag, format_value(client.pve(tag)), client.pvestr(tag), client.tagmode(tag)))
    print_table(rows, out)
    return status


def set_tag(client, tag, value, out):
    if not client.tagexists(tag):
        print("zl set: unknown tag %s" % tag, file=sys.stderr)
        return 1
    if client.setpve(tag, value) < 1:
        print("zl set: %s was not written (see the library's log with -v)" % tag,
              file=sys.stderr)
        return 1
    print_table([(tag, format_value(client.pve(tag)), client.pvestr(tag),
                  client.tagmode(tag))], out)
    return 0


def main(args):
    try:
        client = connection.connect(args)
    except connection.Failure as failure:
        return connection.report(args.command, failure)
    with client:
        if args.command == "ls":
            return list_tags(client, args.pattern, sys.stdout)
        if args.command == "get":
            return get_tags(client, args.tags, sys.stdout)
        return set_tag(client, args.tag, args.value, sys.stdout)
