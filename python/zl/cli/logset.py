"""zl logset: decode a log set file, export its tags over time, or plot them.

Without options every record is printed: its offset, kind, elapsed
milliseconds and the text line the library renders for it. --csv and --json
give one column per tag over time (see logset_file.rows); --plot draws
chosen tags against time into a PNG. A truncated or corrupt file: what is
whole is decoded and shown, then an error naming the offset, exit status 1.

The file is streamed (logset_file.Reader): the listing and --csv hold
one record and one row at a time, whatever the file's size; they read the
file twice when the tags must be known first (--csv, and --tags). --json
and --plot gather the columns in memory.
"""
import argparse
import datetime
import io
import json
import math
import sys
import warnings
from typing import IO, Dict, Iterable, List, Optional, Tuple

from zl import safe_text
from zl.cli import errors, open_input
from zl.readers import logset_file
from zl.readers.logset_file import Reader, write_csv
from zl.readers.record_file import describe as describe_error


def add_arguments(parser: argparse.ArgumentParser, command: str) -> None:
    parser.epilog = ("Exit status: 0 when the whole file was decoded (and the plot written); "
                     "1 when there was nothing to plot or the plot could not be drawn; 3 for "
                     "a file that cannot be read or written, is empty, is not a log set "
                     "file, or is truncated or corrupt (what is whole is still shown).")
    parser.add_argument("file", metavar="FILE", help="the log set file")
    out = parser.add_mutually_exclusive_group()
    out.add_argument("--csv", action="store_true",
                     help="print one column per tag over time as CSV (header: time and the tags)")
    out.add_argument("--json", action="store_true",
                     help="print the tags over time as JSON")
    parser.add_argument("--plot", metavar="PNG", help="draw the tags against time into PNG")
    parser.add_argument("--clock", action="store_true",
                        help="with --plot: the time axis in local clock time (default: "
                             "seconds since the start of the file's first log)")
    parser.add_argument("--tags", metavar="T1,T2",
                        help="the tags to export or plot, in this order (default: all)")


def main(args: argparse.Namespace) -> int:
    f = open_input("logset", args.file)
    if f is None:
        return errors.FILE
    with f:
        if not f.seekable():  # a pipe: keep it, it is read more than once
            f = io.BytesIO(f.read())
        return _run(args, f)


def _run(args: argparse.Namespace, f: IO[bytes]) -> int:
    out = sys.stdout
    reader = Reader(f)
    if not (args.csv or args.json or args.plot):
        print_records(reader.records(), out)
        return report_error(reader, args.file)
    wanted = [t.strip() for t in args.tags.split(",") if t.strip()] if args.tags else []
    tags = reader.resolve(wanted) if wanted else reader.tags()
    status = errors.OK
    if args.csv:
        write_csv(tags, logset_file.rows(reader.records(), tags), out)
    s = None
    if args.json or args.plot:
        s = logset_file.series(reader.records(), tags)
    if args.json and s is not None:
        print_json(reader.logs, s, out)
    started = reader.logs[0]["started"] if args.clock and reader.logs else None
    problem = _plot(s, args, started) if args.plot and s is not None else None
    if reader.error is None and problem is not None:
        errors.error("logset", problem[1])
        status = problem[0]
    # A damaged file is the one error told: what the plot lacks follows from it.
    return max(status, report_error(reader, args.file))


def report_error(reader: Reader, name: str) -> int:
    """Tells of the reader's format error on standard error: errors.FILE
    after one, else errors.OK."""
    if reader.error is None:
        return errors.OK
    text = describe_error(reader.error, "log set")
    if not reader.error.foreign:
        text += "; %d whole record(s) before it" % reader.error.whole
    errors.error("logset", "%s: %s" % (safe_text.terminal(name), text))
    return errors.FILE


def _plot(s: logset_file.Series, args: argparse.Namespace,
          started: Optional[int]) -> Optional[Tuple[int, str]]:
    """Draws the plot; gives None, or the exit status and why it was not made."""
    if not any(_drawable(v) for tag in s.tags for v in s.values[tag]):
        return errors.NEGATIVE, "nothing to plot: no values of %s in %s" % (
            safe_text.terminal(",".join(s.tags) or "any tag"), safe_text.terminal(args.file))
    try:
        plot(s, args.plot, title=args.file, started=started)
    except ImportError:
        return errors.NEGATIVE, "--plot needs matplotlib (Debian: python3-matplotlib)"
    except OSError as e:
        return errors.FILE, "cannot write %s: %s" % (safe_text.terminal(args.plot),
                                                    e.strerror or e)
    except Exception as e:  # noqa: BLE001 (matplotlib gives up on some data, e.g. a
        # range wider than the largest double, with errors of its own kinds)
        return errors.NEGATIVE, "cannot draw %s: %s: %s" % (safe_text.terminal(args.plot),
                                                           type(e).__name__, e)
    return None


def describe(r: logset_file.Record) -> str:
    """The record's line; the codes of the two records that have none."""
    kind = r.kind[:4]
    if kind == "_FO_":
        return "format %d (%s)" % (r.mode, logset_file.FORMATS.get(r.mode, "unknown"))
    if kind == "_DE_":
        return "delimiter %d (%s)" % (
            r.mode, safe_text.terminal(repr(chr(r.mode))) if r.mode < 0x110000 else "'?'")
    return safe_text.terminal(logset_file.render(r))


def print_records(records: Iterable[logset_file.Record], out: IO[str]) -> None:
    """The listing; its header comes with the first record, so that a file
    of another kind shows only its error."""
    for index, r in enumerate(records):
        if index == 0:
            out.write("%8s  %-4s  %10s  %s\n" % ("OFFSET", "KIND", "MS", "LINE"))
        out.write("%8d  %-4s  %10d  %s\n" % (r.offset, safe_text.terminal(r.kind), r.elapsed_ms,
                                            describe(r)))


def print_json(logs: List[dict], s: logset_file.Series, out: IO[str]) -> None:
    """Strict JSON: a value JSON has no number for is a string (json_number)."""
    number = safe_text.json_number
    values = {tag: [number(v) for v in column] for tag, column in s.values.items()}
    json.dump({"logs": logs, "tags": s.tags, "time": s.times, "values": values}, out,
              indent=1, allow_nan=False)
    out.write("\n")


SAME_AXIS_SPAN = 10.0  # tags whose value spans differ by at most this share one axis


def axis_groups(s: logset_file.Series) -> List[List[str]]:
    """The tags drawn on each axis, top to bottom: all on one axis when their
    value spans differ by a factor of SAME_AXIS_SPAN at most (they read well
    together), else one axis per tag (a level of 2 m beside a flow of
    500 m3/h would be a flat line). Tags without a drawable value are left
    out."""
    spans: Dict[str, float] = {}
    for tag in s.tags:
        values = [v for v in s.values[tag] if v is not None and math.isfinite(v)]
        if values:
            spans[tag] = max(max(values) - min(values), abs(max(values)), abs(min(values)))
    if not spans:
        return []
    positive = [v for v in spans.values() if v > 0] or [1.0]
    if max(positive) <= SAME_AXIS_SPAN * min(positive):
        return [list(spans)]
    return [[tag] for tag in spans]


def plot(s: logset_file.Series, path: str, title: str = "",
         started: Optional[int] = None) -> None:
    """Draws each tag as a step line (a value holds until its next record),
    with a legend, on the axes of axis_groups sharing the time axis. The
    time axis is seconds since the file's first log, or the local clock
    time when `started` (that log's start, seconds since 1970) is given."""
    import matplotlib
    matplotlib.use("Agg")
    from matplotlib import dates, pyplot

    def text(t: str) -> str:
        # A "$" would start matplotlib's math notation, and the fonts have
        # no glyph for a TAB (the one control character terminal() keeps).
        return safe_text.terminal(t).replace("$", r"\$").replace("\t", "\\x09")

    groups = axis_groups(s)
    height = max(4.5, min(2.2 * len(groups), 30.0))
    figure, axes_list = pyplot.subplots(len(groups), 1, sharex=True, squeeze=False,
                                        figsize=(9, height), dpi=100)
    try:
        with warnings.catch_warnings():
            # A range near the largest double overflows the tick arithmetic,
            # which only warns, in many lines on standard error.
            warnings.simplefilter("ignore", RuntimeWarning)
            colour = 0  # each tag its own colour, also across axes
            for axes, group in zip(axes_list[:, 0], groups):
                for tag in group:
                    points = [(t, v) for t, v in zip(s.times, s.values[tag]) if _drawable(v)]
                    xs: list = [t for t, _ in points]
                    if started is not None:
                        xs = [datetime.datetime.fromtimestamp(started + t) for t in xs]
                    axes.step(xs, [v for _, v in points], where="post", label=text(tag),
                              color="C%d" % (colour % 10))
                    colour += 1
                axes.set_ylabel(text(group[0]) if len(group) == 1 else "value")
                axes.grid(True, alpha=0.3)
                axes.legend(loc="best")
            bottom = axes_list[-1, 0]
            if started is not None:
                bottom.xaxis.set_major_formatter(dates.DateFormatter("%H:%M:%S"))
                bottom.set_xlabel("clock time")
            else:
                bottom.set_xlabel("time (s)")
            if title:
                axes_list[0, 0].set_title(text(title))
            figure.tight_layout()
            figure.savefig(path, format="png")
    finally:
        pyplot.close(figure)


def _drawable(value: Optional[float]) -> bool:
    """A value a plot can show: NaN, infinities and missing values are gaps."""
    return value is not None and math.isfinite(value)
