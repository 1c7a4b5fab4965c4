"""zl ls, zl get, zl set: quick looks at a server from the shell.

  zl ls [PATTERN]      the tags whose name matches PATTERN (a regular
                       expression, any case; all tags without one), with
                       type, mode and value
  zl get TAG...        value, display text and mode of each tag
  zl set TAG VALUE     writes the engineering-unit value, shows the result

Exit status: 0; 1 when a tag is unknown or was not written (or ls matched
nothing); 2 for usage errors (an invalid pattern); 4 when the naming service
or the database cannot be reached.
"""
import argparse
import re
import sys
from typing import IO, List, Sequence

import zl
from zl.cli import connection, errors


def pattern_text(pattern: str) -> str:
    """Checks a PATTERN as the parser reads it: a usage error when it is not
    a regular expression (the server would match nothing, silently)."""
    try:
        re.compile(pattern)
    except re.error as e:
        raise argparse.ArgumentTypeError("invalid pattern %r: %s" % (pattern, e)) from None
    return pattern


def add_arguments(parser: argparse.ArgumentParser, command: str) -> None:
    if command == "ls":
        parser.add_argument("pattern", metavar="PATTERN", nargs="?", default="",
                            type=pattern_text,
                            help="a regular expression matched against tag names, "
                                 "any case (default: every tag)")
    elif command == "get":
        parser.add_argument("tags", metavar="TAG", nargs="+", help="the tags to show")
    else:
        parser.add_argument("tag", metavar="TAG", help="the tag to set")
        parser.add_argument("value", metavar="VALUE", type=float,
                            help="its new value in engineering units")
    connection.add_arguments(parser)


def format_value(value: float) -> str:
    return "%.6g" % value


def print_table(rows: Sequence[Sequence[str]], out: IO[str]) -> None:
    """Rows of columns, each column padded to its widest cell."""
    if not rows:
        return
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    for row in rows:
        cells = [cell.ljust(width) for cell, width in zip(row, widths)]
        out.write("  ".join(cells).rstrip() + "\n")


def list_tags(client: "zl.Client", pattern: str, out: IO[str]) -> int:
    names = [n for n in client.searchtags(pattern, "Tags").split(",") if n]
    if not names:
        errors.error("ls", "no tag matches %r" % pattern)
        return errors.NEGATIVE
    rows = [(r["tagname"], r["type"], r["mode"], format_value(r["value"]))
            for r in client.multipve(names)]
    print_table(rows, out)
    return errors.OK


def get_tags(client: "zl.Client", tags: List[str], out: IO[str]) -> int:
    rows, status = [], errors.OK
    for tag in tags:
        if not client.tagexists(tag):
            errors.error("get", "unknown tag %s" % tag)
            status = errors.NEGATIVE
            continue
        rows.append((tag, format_value(client.pve(tag)), client.pvestr(tag), client.tagmode(tag)))
    print_table(rows, out)
    return status


def set_tag(client: "zl.Client", tag: str, value: float, out: IO[str]) -> int:
    if not client.tagexists(tag):
        errors.error("set", "unknown tag %s" % tag)
        return errors.NEGATIVE
    if client.setpve(tag, value) < 1:
        errors.error("set", "%s was not written (see the library's log with -v)" % tag)
        return errors.NEGATIVE
    print_table([(tag, format_value(client.pve(tag)), client.pvestr(tag),
                  client.tagmode(tag))], out)
    return errors.OK


def main(args: argparse.Namespace) -> int:
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
