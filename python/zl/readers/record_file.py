"""What the readers of the binary record files (log set files, tag files,
stored-values files) share: the error that ends a file's records, and reads
whose memory is bounded by what the file holds, not by what a length field
claims.

A file whose very first record is bad is taken for a file of another kind
(a PNG handed to `zl logset` is "not a log set file"), and an empty file is
an error of its own: every reader raises EmptyFile for it.
"""
from typing import IO

PIECE = 1 << 20  # the most bytes asked of the file in one read


class FormatError(Exception):
    """A record that is not whole or not well formed: why, where it starts,
    and how many whole records came before it. The records before it were
    already handed out."""

    def __init__(self, reason: str, offset: int, whole: int) -> None:
        super().__init__("%s at offset %d" % (reason, offset))
        self.reason = reason
        self.offset = offset
        self.whole = whole

    @property
    def foreign(self) -> bool:
        """The first record of the file is bad: it is not a file of this kind."""
        return self.whole == 0 and self.offset == 0


class EmptyFile(FormatError):
    """The file holds no byte at all."""

    def __init__(self) -> None:
        super().__init__("empty file", 0, 0)


def describe(error: FormatError, kind: str) -> str:
    """The user's text for a format error of a file of `kind` ("log set"):
    "empty file", "not a log set file (REASON)", or "REASON at offset N"."""
    if isinstance(error, EmptyFile):
        return "empty file"
    if error.foreign:
        return "not a %s file (%s)" % (kind, error.reason)
    return "%s at offset %d" % (error.reason, error.offset)


def read_exact(f: IO[bytes], n: int) -> bytes:
    """Up to `n` bytes of `f`: fewer only at the end of the file. Reads in
    pieces, so a length field of 4 GiB in a small file costs no more memory
    than the file."""
    if n <= PIECE:
        return f.read(n)
    pieces = []
    left = n
    while left > 0:
        piece = f.read(min(left, PIECE))
        if not piece:
            break
        pieces.append(piece)
        left -= len(piece)
    return b"".join(pieces)
