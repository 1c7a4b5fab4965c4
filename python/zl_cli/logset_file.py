"""A decoder of log set files (docs/log-set-file.md) and the text rendering
of their records, line for line as the library renders its recent lines.

Record layout, little-endian and packed: kind (4 ASCII bytes), length L
(u32, = 25 + text length), elapsed ms (u32), value (f64), second value (f64),
mode (u32), text and its zero byte. Decoding stops at the first record that
is not whole or not well formed; the records before it are kept and the
offset of the bad one is reported.
"""
import struct
import time
from dataclasses import dataclass
from typing import List, Optional

PREFIX = 8          # kind and length
FIXED = 25          # counted by the length: ms, two values, mode, text's zero
_HEAD = struct.Struct("<4sIIddI")

MODE_AUTO = 1
MODE_CONSTANT = 0x10000
MODE_NOT_FOUND = 0x80000000
MODE_READ_FAILED = 0x40000000
FORMATS = {0: "column", 1: "row", 2: "binary"}


@dataclass
class Record:
    offset: int
    kind: str
    elapsed_ms: int
    value: float
    value2: float
    mode: int
    text: str


@dataclass
class Decoded:
    records: List[Record]
    error: Optional[str] = None       # why decoding stopped early
    error_offset: Optional[int] = None


def decode(data):
    """Decodes the bytes of a log set file."""
    records = []
    offset = 0
    size = len(data)
    while offset < size:
        rest = size - offset
        if rest < PREFIX + FIXED:
            return Decoded(records, "truncated record (%d of at least %d bytes)"
                           % (rest, PREFIX + FIXED), offset)
        kind, length, ms, value, value2, mode = _HEAD.unpack_from(data, offset)
        if length < FIXED:
            return Decoded(records, "bad record length %d (below %d)" % (length, FIXED), offset)
        if length > rest - PREFIX:
            return Decoded(records, "truncated record (length %d, %d bytes left)"
                           % (length, rest - PREFIX), offset)
        text = data[offset + 32:offset + PREFIX + length - 1]
        if data[offset + PREFIX + length - 1] != 0 or b"\0" in text:
            return Decoded(records, "record text not terminated by its last byte", offset)
        records.append(Record(offset, kind.decode("latin-1"), ms, value, value2, mode,
                              text.decode("latin-1")))
        offset += PREFIX + length
    return Decoded(records)


def format_fixed(value, decimals=6):
    """A number as the library writes it in record lines: `decimals` places,
    rounded half away from zero on 17 significant digits, trailing zeros
    trimmed down to one place ("50.0", "1.25", "-0.0"). "***" when not finite."""
    if value != value or value in (float("inf"), float("-inf")):
        return "***"
    negative = str(value).startswith("-")
    if value == 0.0:
        mantissa, point = "0", 0
    else:
        sci = "%.16e" % abs(value)
        mantissa = sci[0] + sci[2:18]
        point = int(sci[sci.index("e") + 1:]) + 1
    count = point + decimals
    if count > 348:
        return "***"
    digits = ["0"]
    nxt = 0
    for _ in range(max(count, 0)):
        digits.append(mantissa[nxt] if nxt < len(mantissa) else "0")
        nxt += 1 if nxt < len(mantissa) else 0
    if count >= 0 and nxt < len(mantissa) and mantissa[nxt] >= "5":
        i = len(digits) - 1
        while digits[i] == "9":
            digits[i] = "0"
            i -= 1
        digits[i] = chr(ord(digits[i]) + 1)
    if digits[0] == "1":
        point += 1
    else:
        digits.pop(0)
    text = "-" if negative else ""
    if point <= 0:
        text += "0." + "0" * (-point)
    for i in range(len(digits) + 1):
        if point >= 1 and i == point:
            text += "."
        if i < len(digits):
            text += digits[i]
    text = text[:40]
    dot = text.find(".")
    if dot < 0:
        return "???"
    while len(text) > 3 and len(text) - 1 > dot + 1 and text.endswith("0"):
        text = text[:-1]
    return text


def format_elapsed(ms):
    """"%6ld:%02ld.%03ld": minutes, seconds, milliseconds."""
    return "%6d:%02d.%03d" % (ms // 60000, (ms // 1000) % 60, ms % 1000)


def calendar_text(seconds):
    """The 24-character local date text of a time in seconds since 1970."""
    try:
        return time.ctime(seconds)
    except (OverflowError, OSError, ValueError):
        return "??? ??? ?? ??:??:?? ????"


def render(r):
    """The record's text line without its line end; "" for _FO_ and _DE_."""
    ts = format_elapsed(r.elapsed_ms)
    kind = r.kind[:4]
    text = r.text
    v, v2 = format_fixed(r.value), format_fixed(r.value2)
    if kind == "_HD_":
        line = "  Log set '%s', started %s" % (text, calendar_text(r.mode)[:24])
    elif kind in ("_FO_", "_DE_"):
        return ""
    elif kind == "_TA_":
        line = "%s TAG %s = %s, %s" % (ts, text, v, "Auto" if r.mode != 0 else "Manual")
    elif kind == "_ZZ_":
        line = "%s Logfile Closing value=%s, mode=%d, %s" % (ts, v, r.mode, text)
    elif kind == "STMA":
        line = "%s Tag %s to Manual, value=%s" % (ts, text, v)
    elif kind == "STAU":
        line = "%s Tag %s to AUTO, value=%s" % (ts, text, v)
    elif kind == "SVFY":
        if r.value == r.value2:
            line = "%s   Verify tag %s = %s passed Value is %s" % (ts, text, v, v2)
        else:
            line = "%s **Verify tag %s = %s FAILED Value is %s" % (ts, text, v, v2)
    elif kind == "SASR":
        line = "%s **Assertion tag %s = %s FAILED. Value is %s" % (ts, text, v, v2)
    elif kind == "SCMT":
        line = "%s COMMENT: %s" % (ts, text)
    else:
        line = "%s Unknown Entry %s value=%s, alt value=%s, mode=0x%x, %s" % (
            ts, r.kind, v, v2, r.mode, text)
    return line[:130]  # the library's lines hold at most 132 characters with "\r\n"


@dataclass
class Series:
    """The tags of a file over time: rows of (seconds, {tag: value or None})."""
    tags: List[str]
    times: List[float]
    values: dict  # tag -> list of float or None, one per time


def series(records, wanted=None):
    """One column per tag over time, the value held until its next record.

    Time is seconds since the start of the file's first log: each log counts
    its milliseconds from its own "_HD_" record, whose mode is its start time
    in seconds since 1970. A "_TA_" record of a tag that was not found or not
    read leaves the tag empty from then on until its next good record;
    constants (no tag name) have no column.
    """
    first_start = None
    log_start = 0
    names = []
    rows = []  # (seconds, tag, value or None)
    for r in records:
        kind = r.kind[:4]
        if kind == "_HD_":
            if first_start is None:
                first_start = r.mode
            log_start = r.mode - first_start
        elif kind == "_TA_" and r.text:
            if r.text not in names:
                names.append(r.text)
            bad = r.mode & (MODE_NOT_FOUND | MODE_READ_FAILED)
            rows.append((round(log_start + r.elapsed_ms / 1000.0, 3), r.text,
                         None if bad else r.value))
    tags = names if not wanted else [t for t in wanted]
    times = []
    values = {t: [] for t in tags}
    current = {t: None for t in tags}
    for i, (t, tag, value) in enumerate(rows):
        if tag in current:
            current[tag] = value
        if i + 1 < len(rows) and rows[i + 1][0] == t:
            continue  # the other records of the same write first
        times.append(t)
        for name in tags:
            values[name].append(current[name])
    return Series(tags, times, values)
