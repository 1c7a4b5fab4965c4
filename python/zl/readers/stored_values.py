"""The reader of stored-values files (zy<stem>.tmp, docs/stored-values.md).

The file has no header, one record per tag: a u16 little-endian length (the
name's length plus 1), the name and a zero byte, the value as a
little-endian IEEE 754 double.
"""
import os
import struct
from dataclasses import dataclass
from typing import IO, Iterator, List, Union

from zl.readers.record_file import EmptyFile, FormatError

_LENGTH = struct.Struct("<H")
_VALUE = struct.Struct("<d")


@dataclass
class Value:
    """One stored tag value and the offset of its record."""
    offset: int
    name: str
    value: float


def read_values(f: IO[bytes]) -> Iterator[Value]:
    """Yields the Values of the file `f` (open for binary reading), one at a
    time; raises FormatError at a record cut short or malformed."""
    offset = 0
    whole = 0
    while True:
        head = f.read(_LENGTH.size)
        if not head:
            if offset == 0:
                raise EmptyFile()
            return
        if len(head) < _LENGTH.size:
            raise FormatError("truncated record (no name length)", offset, whole)
        (length,) = _LENGTH.unpack(head)
        if length == 0:
            raise FormatError("bad name length 0", offset, whole)
        rest = f.read(length + _VALUE.size)
        if len(rest) < length + _VALUE.size:
            raise FormatError("truncated record: %d bytes needed, %d left"
                              % (2 + length + _VALUE.size, 2 + len(rest)), offset, whole)
        name = rest[:length]
        if name[-1] != 0 or b"\0" in name[:-1]:
            raise FormatError("name not terminated by a zero byte", offset, whole)
        (value,) = _VALUE.unpack_from(rest, length)
        yield Value(offset, name[:-1].decode("latin-1"), value)
        whole += 1
        offset += 2 + length + _VALUE.size


def read(path: Union[str, "os.PathLike[str]"]) -> List[Value]:
    """Every value of the stored-values file at `path`, in its order. Raises
    OSError, and FormatError (EmptyFile for an empty file) at a record cut
    short or malformed."""
    with open(path, "rb") as f:
        return list(read_values(f))
