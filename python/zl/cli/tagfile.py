"""zl tagfile: list what a tag file holds (docs/tag-file.md).

Tags (the stand-in server's "STAG" payloads, read by tag_file.parse_tag) are
shown in columns; other payloads as text. A record cut short gives a clear
error naming its offset and exit status 1, after the whole records. Texts
from the file are shown with their control characters escaped.
"""
import argparse
from typing import List, Optional, Tuple

from zl import safe_text
from zl.cli import errors, open_input
from zl.readers import tag_file
from zl.readers.record_file import FormatError, describe


def add_arguments(parser: argparse.ArgumentParser, command: str) -> None:
    parser.epilog = ("Exit status: 0 when the file is whole; 3 when it cannot be read, is "
                     "empty, is not a tag file or is cut short (the whole records are "
                     "still listed).")
    parser.add_argument("file", metavar="FILE", help="the tag file (written by savetags)")


def _printable(payload: bytes) -> str:
    text = payload.decode("utf-8", errors="replace")
    return safe_text.terminal(text.replace("\t", " | ").replace("\n", " / "))


def main(args: argparse.Namespace) -> int:
    f = open_input("tagfile", args.file)
    if f is None:
        return errors.FILE
    tags: List[Tuple[str, ...]] = []
    records = tag_count = 0
    error: Optional[FormatError] = None
    with f:
        try:
            for r in tag_file.read_records(f):
                records += 1
                tag_count += r.kind == "STAG"
                tag = tag_file.parse_tag(r.payload) if r.kind == "STAG" else None
                if tag is not None:
                    tags.append(tuple(safe_text.terminal(t).replace("\t", " ") for t in (
                        tag.name, tag.type, tag.mode, tag.value,
                        "forced" if tag.forced else "", tag.description)))
                    continue
                label = "tag (unreadable)" if r.kind == "STAG" else "record"
                print("%s %s at offset %d, %d bytes: %s"
                      % (label, safe_text.terminal(r.kind), r.offset, len(r.payload),
                         _printable(r.payload)))
        except tag_file.FormatError as e:
            error = e
    if error is not None and error.foreign:
        errors.error("tagfile", "%s: %s" % (safe_text.terminal(args.file),
                                            describe(error, "tag")))
        return errors.FILE
    if tags:
        head = ("NAME", "TYPE", "MODE", "VALUE", "FORCE", "DESCRIPTION")
        widths = [max(len(head[i]), *(len(row[i]) for row in tags)) for i in range(5)]
        fmt = "  ".join("%%-%ds" % w for w in widths) + "  %s"
        print(fmt % head)
        for row in tags:
            print((fmt % row).rstrip())
    print("%d tag(s) in %d record(s)" % (tag_count, records))
    if error is not None:
        errors.error("tagfile", "%s: %s" % (safe_text.terminal(args.file),
                                            describe(error, "tag")))
        return errors.FILE
    return errors.OK
