"""Text read from files, made safe for where the tools show it.

A file handed to a tool may hold any bytes. Shown raw, its control
characters act on the terminal (an escape sequence clears the screen or
rewrites the title), some characters make an XML file that no parser
accepts, and Python's float values NaN and infinity are not JSON. Every
tool passes file texts through one of the functions here on their way out.

Escapes are written as in Python's string literals: `\\x1b`, `\\u202e`.
A backslash of the text is left as it is, so a file name with backslashes
reads as before; the escapes are for reading, not for decoding.
"""
import math
import re
from typing import Optional, Union

# Control characters (C0 but TAB, DEL, C1), lone surrogates (from names that
# are not UTF-8), and the line separators and bidirectional controls that
# reorder or break what a terminal shows.
_TERMINAL_UNSAFE = re.compile(
    "[\x00-\x08\x0a-\x1f\x7f-\x9f\ud800-\udfff\u2028\u2029\u202a-\u202e\u2066-\u2069]")

# What XML 1.0 does not allow in a document: every C0 character but TAB, LF
# and CR, surrogates, U+FFFE and U+FFFF. DEL and C1 are allowed but
# escaped too, as on a terminal.
_XML_UNSAFE = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f\x7f-\x9f\ud800-\udfff\ufffe\uffff]")


def _escape(match: "re.Match[str]") -> str:
    code = ord(match.group())
    if code < 0x100:
        return "\\x%02x" % code
    return "\\u%04x" % code


def terminal(text: str) -> str:
    """`text` with every character that would act on a terminal written as
    an escape; TAB is kept (columns are the caller's business)."""
    return _TERMINAL_UNSAFE.sub(_escape, text)


def xml(text: str) -> str:
    """`text` with every character XML 1.0 does not allow written as an
    escape, so that the document stays well-formed."""
    return _XML_UNSAFE.sub(_escape, text)


def json_number(value: Optional[float]) -> Union[None, float, str]:
    """A float as strict JSON takes it: the number, or for a value JSON has
    no number for the string "NaN", "Infinity" or "-Infinity" (the spellings
    JavaScript's Number() and Python's float() read back). None stays None."""
    if value is None or math.isfinite(value):
        return value
    if value != value:
        return "NaN"
    return "Infinity" if value > 0 else "-Infinity"
