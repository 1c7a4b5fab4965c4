"""zl storevals: list what a stored-values file (zy<stem>.tmp) holds.

The file is read by stored_values.read_values. A record cut short or
malformed gives a clear error naming its offset and exit status 1, after the
whole records. Names are shown with their control characters escaped.
"""
import argparse
from typing import List, Optional, Tuple

from zl import safe_text
from zl.cli import errors, open_input
from zl.readers import stored_values
from zl.readers.record_file import FormatError, describe


def add_arguments(parser: argparse.ArgumentParser, command: str) -> None:
    parser.epilog = ("Exit status: 0 when the file is whole; 3 when it cannot be read, is "
                     "empty, is not a stored-values file or is damaged (the whole records "
                     "are still listed).")
    parser.add_argument("file", metavar="FILE", help="the stored-values file (zy<stem>.tmp)")


def main(args: argparse.Namespace) -> int:
    f = open_input("storevals", args.file)
    if f is None:
        return errors.FILE
    values: List[Tuple[str, str]] = []
    error: Optional[FormatError] = None
    with f:
        try:
            for v in stored_values.read_values(f):
                values.append((safe_text.terminal(v.name).replace("\t", " "), repr(v.value)))
        except stored_values.FormatError as e:
            error = e
    if error is not None and error.foreign:
        errors.error("storevals", "%s: %s" % (safe_text.terminal(args.file),
                                              describe(error, "stored-values")))
        return errors.FILE
    if values:
        width = max(4, *(len(name) for name, _ in values))
        print("%-*s  %s" % (width, "NAME", "VALUE"))
        for name, value in values:
            print("%-*s  %s" % (width, name, value))
    print("%d value(s)" % len(values))
    if error is not None:
        errors.error("storevals", "%s: %s" % (safe_text.terminal(args.file),
                                              describe(error, "stored-values")))
        return errors.FILE
    return errors.OK
