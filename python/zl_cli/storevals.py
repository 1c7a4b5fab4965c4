"""zl storevals: list what a stored-values file (zy<stem>.tmp) holds.

The file is read by stored_values.read_values. A record cut short or
malformed gives a clear error naming its offset and exit status 1, after the
whole records. Names are shown with their control characters escaped.
"""
import sys

from zl_cli import safe_text, stored_values
from zl_cli.cli import open_input


def add_arguments(parser, command):
    parser.add_argument("file", metavar="FILE", help="the stored-values file (zy<stem>.tmp)")


def main(args):
    f = open_input("storevals", args.file)
    if f is None:
        return 1
    values = []
    error = None
    with f:
        try:
            for v in stored_values.read_values(f):
                values.append((safe_text.terminal(v.name).replace("\t", " "), repr(v.value)))
        except stored_values.FormatError as e:
            error = e
    if values:
        width = max(4, *(len(name) for name, _ in values))
        print("%-*s  %s" % (width, "NAME", "VALUE"))
        for name, value in values:
            print("%-*s  %s" % (width, name, value))
    print("%d value(s)" % len(values))
    if error:
        sys.stdout.flush()
        print("zl storevals: %s: %s at offset %d" % (safe_text.terminal(args.file), error.reason,
                                                     error.offset), file=sys.stderr)
        return 1
    return 0
