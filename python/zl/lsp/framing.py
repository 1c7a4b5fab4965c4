"""The messages of a byte stream framed as the language server protocol
frames them: header lines ("Content-Length: N"; any other header is
ignored) up to an empty line, then N bytes of UTF-8 JSON.

The reader needs no pipe: it reads any binary stream, so that a broken
frame can be shown with bytes. It survives what a broken client sends: a
frame without a length, a length that is no number or beyond
MAX_MESSAGE_BYTES, a body that is not JSON each give FrameError for that
frame and the next frame is read as usual; a header glued to the end of a
body without a length (a client that forgot the header of the previous
message) is still found. Used from one thread.
"""
import json
import re
from typing import Any, BinaryIO, Optional

# A longer message is read and dropped: a scenario file is a few hundred
# kilobytes at most, and a bogus length must not allocate gigabytes.
MAX_MESSAGE_BYTES = 64 * 1024 * 1024
# A header line longer than this is read in pieces (each still a line).
MAX_HEADER_LINE = 8192

_LENGTH = re.compile(rb"content-length:[ \t]*(\S*)", re.IGNORECASE)


class FrameError(Exception):
    """One frame could not be read as a message; its text says why. The
    stream stays usable: the next read starts at the next frame."""


class MessageReader:
    """Reads one message at a time from `stream`."""

    def __init__(self, stream: BinaryIO) -> None:
        self._stream = stream

    def read(self) -> Optional[Any]:
        """The next message (the decoded JSON value, of any type), or None
        at the end of the stream (also in the middle of a frame). Raises
        FrameError for a frame that is not a message."""
        length = self._read_header()
        if length is None:
            return None
        if length > MAX_MESSAGE_BYTES:
            self._skip(length)
            raise FrameError("a message of %d bytes, beyond the %d this server takes"
                             % (length, MAX_MESSAGE_BYTES))
        body = self._stream.read(length)
        if len(body) < length:
            return None
        try:
            return json.loads(body.decode("utf-8"))
        except UnicodeDecodeError as e:
            raise FrameError("a message that is not UTF-8: %s" % e) from None
        except ValueError as e:
            raise FrameError("a message that is not JSON: %s" % e) from None

    def _read_header(self) -> Optional[int]:
        """The Content-Length of the next frame's header, None at the end of
        the stream; FrameError when the header has none that is a number."""
        length: Optional[bytes] = None
        seen = False
        while True:
            line = self._stream.readline(MAX_HEADER_LINE)
            if not line:
                return None
            if not line.strip():
                if seen:
                    break
                continue  # blank lines between frames
            seen = True
            found = _LENGTH.search(line)
            if found:
                length = found.group(1)
        if length is None:
            raise FrameError("a message without a Content-Length header")
        if not length.isdigit():
            raise FrameError("a Content-Length that is no number: %r"
                             % length.decode("latin-1"))
        return int(length)

    def _skip(self, count: int) -> None:
        while count > 0:
            piece = self._stream.read(min(count, 1 << 20))
            if not piece:
                return
            count -= len(piece)
