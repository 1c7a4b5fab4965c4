"""What the readers of the binary record files (log set files, tag files,
stored-values files) share: the error that ends a file's records, and reads
whose memory is bounded by what the file holds, not by what a length field
claims."""

PIECE = 1 << 20  # the most bytes asked of the file in one read


class FormatError(Exception):
    """A record that is not whole or not well formed: why, where it starts,
    and how many whole records came before it. The records before it were
    already handed out."""

    def __init__(self, reason, offset, whole):
        super().__init__("%s at offset %d" % (reason, offset))
        self.reason = reason
        self.offset = offset
        self.whole = whole


def read_exact(f, n):
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
