"""zl storevals: list what a stored-values file (zy<stem>.tmp) holds.

The file (docs/stored-values.md) has no header, one record per tag: a u16
little-endian length (the name's length plus 1), the name and a zero byte,
the value as a little-endian IEEE 754 double. A record cut short or
malformed gives a clear error naming its offset and exit status 1, after the
whole records.
"""
import struct
import sys

from zl_cli.cli import read_input


def add_arguments(parser, command):
    parser.add_argument("file", metavar="FILE", help="the stored-values file (zy<stem>.tmp)")


def decode(data):
    """([(offset, name, value)], error text or None, error offset)."""
    records = []
    offset = 0
    while offset < len(data):
        if len(data) - offset < 2:
            return records, "truncated record (no name length)", offset
        (length,) = struct.unpack_from("<H", data, offset)
        if length == 0:
            return records, "bad name length 0", offset
        if len(data) - offset - 2 < length + 8:
            return records, ("truncated record: %d bytes needed, %d left"
                             % (2 + length + 8, len(data) - offset)), offset
        name = data[offset + 2:offset + 2 + length]
        if name[-1] != 0 or b"\0" in name[:-1]:
            return records, "name not terminated by a zero byte", offset
        (value,) = struct.unpack_from("<d", data, offset + 2 + length)
        records.append((offset, name[:-1].decode("latin-1"), value))
        offset += 2 + length + 8
    return records, None, None


def main(args):
    data = read_input("storevals", args.file)
    if data is None:
        return 1
    records, error, error_offset = decode(data)
    if records:
        width = max(4, *(len(name) for _, name, _ in records))
        print("%-*s  %s" % (width, "NAME", "VALUE"))
        for _, name, value in records:
            print("%-*s  %r" % (width, name, value))
    print("%d value(s)" % len(records))
    if error:
        sys.stdout.flush()
        print("zl storevals: %s: %s at offset %d" % (args.file, error, error_offset),
              file=sys.stderr)
        return 1
    return 0
