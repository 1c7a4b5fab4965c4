"""The reader of log set files (docs/log-set-file.md) and the text rendering
of their records, line for line as the library renders its recent lines.

Record layout, little-endian and packed: kind (4 ASCII bytes), length L
(u32, = 25 + text length), elapsed ms (u32), value (f64), second value (f64),
mode (u32), text and its zero byte. `read_records` streams the records of an
open file one at a time, so a file of any size is read in bounded memory; it
stops at the first record that is not whole or not well formed with a
FormatError that names the record's offset, after every record before it.
`rows` turns records into one row per moment with every tag's value, also
one at a time, and `write_csv` writes them as `zl logset --csv` does.
`LogSet` is the same for a file named by its path, with `to_dataframe` for
pandas (docs/readers.md); `Reader` is the same for an open file, keeping the
first format error instead of raising it, for the tools that show what is
whole of a damaged file (`zl logset`, zl serve's page).
"""
import csv
import math
import os
import struct
import time
from dataclasses import dataclass
from typing import (IO, TYPE_CHECKING, Any, Dict, Iterable, Iterator, List, Optional,
                    Sequence, Tuple, Union)

from zl import safe_text
from zl.readers.record_file import PIECE, EmptyFile, FormatError, read_exact

PREFIX = 8          # kind and length
FIXED = 25          # counted by the length: ms, two values, mode, text's zero
MAX_LENGTH = FIXED + (1 << 20)  # the longest record read: texts of up to 1 MiB
_HEAD = struct.Struct("<4sIIddI")
_LENGTH = struct.Struct("<I")

MODE_AUTO = 1
MODE_CONSTANT = 0x10000
MODE_NOT_FOUND = 0x80000000
MODE_READ_FAILED = 0x40000000
FORMATS = {0: "column", 1: "row", 2: "binary"}


if TYPE_CHECKING:
    import pandas

Row = Tuple[float, List[Optional[float]]]  # seconds, a value or None per tag


@dataclass
class Record:
    """One record of a log set file, as docs/log-set-file.md lays it out."""
    offset: int
    kind: str
    elapsed_ms: int
    value: float
    value2: float
    mode: int
    text: str


def read_records(f: IO[bytes]) -> Iterator[Record]:
    """Yields the Records of the log set file `f` (open for binary reading)
    from its current position, one at a time; raises FormatError at the
    first bad record. Holds at most one chunk and one record in memory."""
    buf = b""
    pos = 0          # where the next record starts in buf
    base = 0         # the offset of buf[0] from where reading began
    whole = 0
    eof = False
    while True:
        avail = len(buf) - pos
        need = PREFIX + FIXED
        if avail >= need:
            (length,) = _LENGTH.unpack_from(buf, pos + 4)
            if length < FIXED:
                raise FormatError("bad record length %d (below %d)" % (length, FIXED),
                                  base + pos, whole)
            if length > MAX_LENGTH:
                raise FormatError("record length %d beyond the %d this reader takes"
                                  % (length, MAX_LENGTH), base + pos, whole)
            need = PREFIX + length
        if avail < need:
            if eof:
                if avail == 0:
                    if base + pos == 0:
                        raise EmptyFile()
                    return
                if avail < PREFIX + FIXED:
                    raise FormatError("truncated record (%d of at least %d bytes)"
                                      % (avail, PREFIX + FIXED), base + pos, whole)
                raise FormatError("truncated record (length %d, %d bytes left)"
                                  % (need - PREFIX, avail - PREFIX), base + pos, whole)
            more = read_exact(f, max(PIECE, need - avail))
            if not more:
                eof = True
            buf = buf[pos:] + more
            base += pos
            pos = 0
            continue
        kind, length, ms, value, value2, mode = _HEAD.unpack_from(buf, pos)
        text = buf[pos + 32:pos + need - 1]
        if buf[pos + need - 1] != 0 or b"\0" in text:
            raise FormatError("record text not terminated by its last byte", base + pos, whole)
        yield Record(base + pos, kind.decode("latin-1"), ms, value, value2, mode,
                     text.decode("latin-1"))
        whole += 1
        pos += need


def format_fixed(value: float, decimals: int = 6) -> str:
    """A number as the library writes it in record lines: `decimals` places,
    rounded half away from zero on 17 significant digits, trailing zeros
    trimmed down to one place ("50.0", "1.25", "-0.0"). "***" when not
    finite or too long, "???" when the digits before the point fill the
    library's 40 characters."""
    if not math.isfinite(value):
        return "***"
    negative = math.copysign(1.0, value) < 0
    if value == 0.0:
        mantissa, point = "0", 0
    else:
        sci = "%.16e" % abs(value)
        mantissa = sci[0] + sci[2:18]
        point = int(sci[19:]) + 1
    count = point + decimals
    if count > 348:
        return "***"
    digits = "0" + mantissa[:max(count, 0)].ljust(max(count, 0), "0")
    if 0 <= count < len(mantissa) and mantissa[count] >= "5":
        digits = str(int(digits) + 1).rjust(len(digits), "0")
    if digits[0] == "1":
        point += 1
    else:
        digits = digits[1:]
    text = "-" if negative else ""
    if point <= 0:
        text += "0." + "0" * (-point) + digits
    elif point <= len(digits):
        text += digits[:point] + "." + digits[point:]
    else:
        text += digits
    text = text[:40]
    dot = text.find(".")
    if dot < 0:
        return "???"
    return text[:max(len(text.rstrip("0")), dot + 2, 3)]


def format_elapsed(ms: int) -> str:
    """"%6ld:%02ld.%03ld": minutes, seconds, milliseconds."""
    return "%6d:%02d.%03d" % (ms // 60000, (ms // 1000) % 60, ms % 1000)


def calendar_text(seconds: float) -> str:
    """The 24-character local date text of a time in seconds since 1970."""
    try:
        return time.ctime(seconds)
    except (OverflowError, OSError, ValueError):
        return "??? ??? ?? ??:??:?? ????"


def render(r: Record) -> str:
    """The record's text line without its line end; "" for _FO_ and _DE_."""
    ts = format_elapsed(r.elapsed_ms)
    kind = r.kind[:4]
    text = r.text
    v = format_fixed(r.value)
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
        v2 = format_fixed(r.value2)
        if r.value == r.value2:
            line = "%s   Verify tag %s = %s passed Value is %s" % (ts, text, v, v2)
        else:
            line = "%s **Verify tag %s = %s FAILED Value is %s" % (ts, text, v, v2)
    elif kind == "SASR":
        line = "%s **Assertion tag %s = %s FAILED. Value is %s" % (ts, text, v,
                                                                   format_fixed(r.value2))
    elif kind == "SCMT":
        line = "%s COMMENT: %s" % (ts, text)
    else:
        line = "%s Unknown Entry %s value=%s, alt value=%s, mode=0x%x, %s" % (
            ts, r.kind, v, format_fixed(r.value2), r.mode, text)
    return line[:130]  # the library's lines hold at most 132 characters with "\r\n"


def tag_names(records: Iterable[Record]) -> List[str]:
    """The tags the records write, in the order each first appears. (A
    "_TA_" record without a name is a constant: no tag.)"""
    seen: Dict[str, None] = {}
    for r in records:
        if r.kind[:4] == "_TA_" and r.text and r.text not in seen:
            seen[r.text] = None
    return list(seen)


def rows(records: Iterable[Record], tags: Sequence[str]) -> Iterator[Row]:
    """Yields (seconds, [value or None per tag of `tags`]): one row per
    moment at which the records wrote tags, each tag's value held until its
    next record. Streams: holds one value per tag.

    Time is seconds since the start of the file's first log: each log counts
    its milliseconds from its own "_HD_" record, whose mode is its start time
    in seconds since 1970. A "_TA_" record of a tag that was not found or not
    read leaves the tag empty from then on until its next good record. Every
    write of tags makes a row, also one of tags not in `tags`.
    """
    column: Dict[str, int] = {}
    for i, tag in enumerate(tags):
        column.setdefault(tag, i)
    current: List[Optional[float]] = [None] * len(tags)
    first_start: Optional[int] = None
    log_start = 0
    pending: Optional[float] = None  # the time of the write whose records are being taken
    for r in records:
        kind = r.kind[:4]
        if kind == "_HD_":
            if first_start is None:
                first_start = r.mode
            log_start = r.mode - first_start
        elif kind == "_TA_" and r.text:
            t = round(log_start + r.elapsed_ms / 1000.0, 3)
            if pending is not None and t != pending:
                yield pending, list(current)
            pending = t
            index = column.get(r.text)
            if index is not None:
                bad = r.mode & (MODE_NOT_FOUND | MODE_READ_FAILED)
                current[index] = None if bad else r.value
    if pending is not None:
        yield pending, list(current)


def _cell(value: Optional[float]) -> str:
    return "" if value is None else repr(value)


def write_csv(tags: List[str], rows: Iterable[Row], out: IO[str]) -> None:
    """The rows as CSV: a header of "time" and the tags (their names with
    the characters that would act on a terminal escaped), then one line per
    row, the time in seconds to the millisecond and each value as Python
    writes a float ("" for none)."""
    w = csv.writer(out, lineterminator="\n")
    w.writerow(["time"] + [safe_text.terminal(t) for t in tags])
    for t, values in rows:
        w.writerow(["%.3f" % t] + [_cell(v) for v in values])


@dataclass
class Series:
    """The tags of a file over time, held in memory (for a plot)."""
    tags: List[str]
    times: List[float]
    values: Dict[str, List[Optional[float]]]  # tag -> a value or None per time


def series(records: Iterable[Record], tags: Sequence[str]) -> Series:
    """`rows` gathered into one list per tag."""
    times: List[float] = []
    columns: List[List[Optional[float]]] = [[] for _ in tags]
    for t, row in rows(records, tags):
        times.append(t)
        for column, value in zip(columns, row):
            column.append(value)
    return Series(list(tags), times, dict(zip(tags, columns)))


@dataclass
class Log:
    """One log of a file: a log set enabled, from its "_HD_" record on."""
    name: str
    started: int      # seconds since 1970
    offset: int       # of its "_HD_" record


class LogSet:
    """A log set file named by its path: its records, its logs, its tags and
    their values over time. Every method reads the file again from its
    start, one record at a time, so a file of any size costs little memory
    (but `series` and `to_dataframe`, which hold the columns). Each raises
    OSError when the file cannot be read and FormatError (EmptyFile for an
    empty file) at the first bad record, after yielding the good ones."""

    def __init__(self, path: Union[str, "os.PathLike[str]"]) -> None:
        self.path = os.fspath(path)

    def records(self) -> Iterator[Record]:
        """Every record, in the file's order."""
        with open(self.path, "rb") as f:
            yield from read_records(f)

    def logs(self) -> List[Log]:
        """The logs of the file, in its order."""
        return [Log(r.text, r.mode, r.offset) for r in self.records() if r.kind[:4] == "_HD_"]

    def tags(self) -> List[str]:
        """Every tag the file writes, in the order each first appears."""
        return tag_names(self.records())

    def lines(self) -> Iterator[str]:
        """The text line of each record, as the library renders it ("" for
        "_FO_" and "_DE_")."""
        return (render(r) for r in self.records())

    def rows(self, tags: Optional[Sequence[str]] = None) -> Iterator[Row]:
        """One row per moment at which tags were written (see `rows`);
        every tag of the file when `tags` is None."""
        return rows(self.records(), self.tags() if tags is None else tags)

    def series(self, tags: Optional[Sequence[str]] = None) -> Series:
        """The rows as one list per tag."""
        return series(self.records(), self.tags() if tags is None else tags)

    def to_dataframe(self, tags: Optional[Sequence[str]] = None,
                     clock: bool = False) -> "pandas.DataFrame":
        """The tags over time as a pandas DataFrame: one column per tag (a
        float, NaN where a tag was not written yet or not read), one row per
        moment, indexed by seconds since the start of the file's first log
        (index "seconds"), or with `clock` by the UTC time of each row
        (index "time", a DatetimeIndex). Needs pandas (Debian
        python3-pandas): raises ImportError with that hint without it."""
        try:
            import pandas
        except ImportError as e:
            raise ImportError("LogSet.to_dataframe needs pandas (Debian: python3-pandas; "
                              "pip: pandas)") from e
        s = self.series(tags)
        data: Dict[str, Any] = {
            tag: pandas.array([math.nan if v is None else v for v in s.values[tag]],
                              dtype="float64") for tag in s.tags}
        index: Any = pandas.Index(s.times, dtype="float64", name="seconds")
        if clock:
            logs = self.logs()
            start = logs[0].started if logs else 0
            index = pandas.to_datetime([start + t for t in s.times], unit="s", utc=True)
            index.name = "time"
        return pandas.DataFrame(data, index=index, columns=list(s.tags))


class Reader:
    """The records of one open log set file, read as often as needed from
    its start; remembers the first format error (instead of raising it) and
    the file's logs."""

    def __init__(self, f: IO[bytes]) -> None:
        self.f = f
        self.start = f.tell()
        self.error: Optional[FormatError] = None
        self.logs: List[dict] = []  # name, start time and offset of each "_HD_" record

    def records(self) -> Iterator[Record]:
        self.f.seek(self.start)
        self.logs = []
        try:
            for r in read_records(self.f):
                if r.kind[:4] == "_HD_":
                    self.logs.append({"name": r.text, "started": r.mode, "offset": r.offset})
                yield r
        except FormatError as e:
            self.error = e

    def tags(self) -> List[str]:
        """Every tag of the file, in the order each first appears."""
        return tag_names(self.records())

    def resolve(self, wanted: List[str]) -> List[str]:
        """The names of the file meant by `wanted`, in its order, each once.
        Scenario lines are upper case, and so are most tag names: a name the
        file does not hold as given is matched without regard to case (its
        first such tag). Holds only the wanted names, whatever the file."""
        exact = {t: False for t in wanted}
        folded: dict = {t.upper(): None for t in wanted}
        for r in self.records():
            if r.kind[:4] != "_TA_" or not r.text:
                continue
            if r.text in exact:
                exact[r.text] = True
            upper = r.text.upper()
            if upper in folded and folded[upper] is None:
                folded[upper] = r.text
        names = [t if exact[t] else (folded[t.upper()] or t) for t in wanted]
        return list(dict.fromkeys(names))
