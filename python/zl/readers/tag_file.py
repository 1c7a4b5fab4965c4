"""The reader of tag files (docs/tag-file.md).

A tag file is a sequence of records: a 4-character kind, a u32 little-endian
payload length, the payload. The payloads are the server's; the stand-in
server writes a leading "ZTFH" record of "key=value" fields and one "STAG"
record per tag: the tag's definition line (TAB-separated: name, driver,
point, type, description, EU lo, EU hi, raw lo, raw hi, mode, algorithm,
parameters, initial value), then TAB, the value, TAB, the force flag.
"""
import os
import struct
from dataclasses import dataclass
from typing import IO, Iterator, List, Optional, Union

from zl.readers.record_file import EmptyFile, FormatError, read_exact

_HEAD = struct.Struct("<4sI")


@dataclass
class Record:
    """One record of a tag file."""
    offset: int
    kind: str
    payload: bytes


@dataclass
class Tag:
    """What the stand-in server's "STAG" payload says of one tag."""
    name: str
    type: str
    mode: str
    value: str
    forced: bool
    description: str


def read_records(f: IO[bytes]) -> Iterator[Record]:
    """Yields the Records of the tag file `f` (open for binary reading), one
    at a time; raises FormatError at a record cut short."""
    offset = 0
    whole = 0
    while True:
        head = f.read(_HEAD.size)
        if not head:
            if offset == 0:
                raise EmptyFile()
            return
        if len(head) < _HEAD.size:
            raise FormatError("truncated record header (%d bytes)" % len(head), offset, whole)
        kind, length = _HEAD.unpack(head)
        payload = read_exact(f, length)
        if len(payload) < length:
            raise FormatError("truncated record: payload of %d bytes, %d left"
                              % (length, len(payload)), offset, whole)
        yield Record(offset, kind.decode("latin-1"), payload)
        whole += 1
        offset += _HEAD.size + length


def parse_tag(payload: bytes) -> Optional[Tag]:
    """The Tag of a "STAG" payload, or None when it is not a definition line
    with a value and a force flag."""
    fields = payload.decode("utf-8", errors="replace").split("\t")
    if len(fields) < 15:
        return None
    d = [f.strip() for f in fields]
    return Tag(d[0], d[3], d[9], d[-2], d[-1] == "1", d[4])


def read(path: Union[str, "os.PathLike[str]"]) -> List[Record]:
    """Every record of the tag file at `path`. Raises OSError, and
    FormatError (EmptyFile for an empty file) at a record cut short."""
    with open(path, "rb") as f:
        return list(read_records(f))


def tags(path: Union[str, "os.PathLike[str]"]) -> List[Tag]:
    """The tags of the tag file at `path` that the stand-in server's "STAG"
    records describe, in the file's order (raises as `read`)."""
    found = (parse_tag(r.payload) for r in read(path) if r.kind == "STAG")
    return [t for t in found if t is not None]
