"""zl tagfile: list what a tag file holds (docs/tag-file.md).

A tag file is a sequence of records: a 4-character kind, a u32 little-endian
payload length, the payload. The payloads are the server's; the stand-in
server writes a leading "ZTFH" record of "key=value" fields and one "STAG"
record per tag: the tag's definition line (TAB-separated: name, driver,
point, type, description, EU lo, EU hi, raw lo, raw hi, mode, algorithm,
parameters, initial value), then TAB, the value, TAB, the force flag. Tags
are shown in columns; other payloads as text. A record cut short gives a
clear error naming its offset and exit status 1, after the whole records.
"""
import struct
import sys

from zl_cli.cli import read_input

_HEAD = struct.Struct("<4sI")


def add_arguments(parser, command):
    parser.add_argument("file", metavar="FILE", help="the tag file (written by savetags)")


def decode(data):
    """([(offset, kind, payload bytes)], error text or None, error offset)."""
    records = []
    offset = 0
    while offset < len(data):
        if len(data) - offset < _HEAD.size:
            return records, "truncated record header (%d bytes)" % (len(data) - offset), offset
        kind, length = _HEAD.unpack_from(data, offset)
        if length > len(data) - offset - _HEAD.size:
            return records, ("truncated record: payload of %d bytes, %d left"
                             % (length, len(data) - offset - _HEAD.size)), offset
        records.append((offset, kind.decode("latin-1"),
                        data[offset + _HEAD.size:offset + _HEAD.size + length]))
        offset += _HEAD.size + length
    return records, None, None


def tag_row(payload):
    """(name, type, mode, value, forced, description) of a "STAG" payload, or
    None when it is not a definition line with a value and a force flag."""
    fields = payload.decode("utf-8", errors="replace").split("\t")
    if len(fields) < 15:
        return None
    d = [f.strip() for f in fields]
    return d[0], d[3], d[9], d[-2], "forced" if d[-1] == "1" else "", d[4]


def _printable(payload):
    text = payload.decode("utf-8", errors="replace")
    return text.replace("\t", " | ").replace("\n", " / ")


def main(args):
    data = read_input("tagfile", args.file)
    if data is None:
        return 1
    records, error, error_offset = decode(data)
    tags = []
    for offset, kind, payload in records:
        row = tag_row(payload) if kind == "STAG" else None
        if row is not None:
            tags.append(row)
        else:
            label = "tag (unreadable)" if kind == "STAG" else "record"
            print("%s %s at offset %d, %d bytes: %s"
                  % (label, kind, offset, len(payload), _printable(payload)))
    if tags:
        head = ("NAME", "TYPE", "MODE", "VALUE", "FORCE", "DESCRIPTION")
        widths = [max(len(head[i]), *(len(r[i]) for r in tags)) for i in range(5)]
        fmt = "  ".join("%%-%ds" % w for w in widths) + "  %s"
        print(fmt % head)
        for r in tags:
            print((fmt % r).rstrip())
    count = sum(1 for _, kind, _ in records if kind == "STAG")
    print("%d tag(s) in %d record(s)" % (count, len(records)))
    if error:
        sys.stdout.flush()
        print("zl tagfile: %s: %s at offset %d" % (args.file, error, error_offset),
              file=sys.stderr)
        return 1
    return 0
