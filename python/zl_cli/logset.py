"""zl logset: decode a log set file, export its tags over time, or plot them.

Without options every record is printed: its offset, kind, elapsed
milliseconds and the text line the library renders for it. --csv and --json
give one column per tag over time (see logset_file.rows); --plot draws
chosen tags against time into a PNG. A truncated or corrupt file: what is
whole is decoded and shown, then an error naming the offset, exit status 1.

The file is streamed (logset_file.read_records): the listing and --csv hold
one record and one row at a time, whatever the file's size; they read the
file twice when the tags must be known first (--csv, and --tags). --json
and --plot gather the columns in memory.
"""
import csv
import io
import json
import math
import sys
import warnings

from zl_cli import logset_file, safe_text


def add_arguments(parser, command):
    parser.epilog = ("Exit status: 0 when the whole file was decoded (and the plot written); "
                     "1 for a truncated or corrupt file (what is whole is still shown) or "
                     "a plot that could not be made.")
    parser.add_argument("file", metavar="FILE", help="the log set file")
    out = parser.add_mutually_exclusive_group()
    out.add_argument("--csv", action="store_true",
                     help="print one column per tag over time as CSV (header: time and the tags)")
    out.add_argument("--json", action="store_true",
                     help="print the tags over time as JSON")
    parser.add_argument("--plot", metavar="PNG", help="draw the tags against time into PNG")
    parser.add_argument("--tags", metavar="T1,T2",
                        help="the tags to export or plot, in this order (default: all)")


def main(args):
    try:
        f = open(args.file, "rb")
    except OSError as e:
        print("zl logset: cannot read %s: %s" % (safe_text.terminal(args.file), e.strerror or e),
              file=sys.stderr)
        return 1
    with f:
        if not f.seekable():  # a pipe: keep it, it is read more than once
            f = io.BytesIO(f.read())
        return _run(args, f)


def _run(args, f):
    out = sys.stdout
    reader = Reader(f)
    if not (args.csv or args.json or args.plot):
        print_records(reader.records(), out)
        return reader.report(args.file)
    wanted = [t.strip() for t in args.tags.split(",") if t.strip()] if args.tags else []
    tags = reader.resolve(wanted) if wanted else reader.tags()
    status = 0
    if args.csv:
        print_csv(tags, logset_file.rows(reader.records(), tags), out)
    s = None
    if args.json or args.plot:
        s = logset_file.series(reader.records(), tags)
    if args.json:
        print_json(reader.logs, s, out)
    problem = _plot(s, args) if args.plot else None
    if reader.error is None and problem is not None:
        print("zl logset: " + problem, file=sys.stderr)
        status = 1
    # A damaged file is the one error told: what the plot lacks follows from it.
    return max(status, reader.report(args.file))


class Reader:
    """The records of one open log set file, read as often as needed from
    its start; remembers the first format error and the file's logs."""

    def __init__(self, f):
        self.f = f
        self.start = f.tell()
        self.error = None
        self.logs = []  # name, start time and offset of each "_HD_" record

    def records(self):
        self.f.seek(self.start)
        self.logs = []
        try:
            for r in logset_file.read_records(self.f):
                if r.kind[:4] == "_HD_":
                    self.logs.append({"name": r.text, "started": r.mode, "offset": r.offset})
                yield r
        except logset_file.FormatError as e:
            self.error = e

    def tags(self):
        """Every tag of the file, in the order each first appears."""
        return logset_file.tag_names(self.records())

    def resolve(self, wanted):
        """The names of the file meant by `wanted`, in its order, each once.
        Scenario lines are upper case, and so are most tag names: a name the
        file does not hold as given is matched without regard to case (its
        first such tag). Holds only the wanted names, whatever the file."""
        exact = {t: False for t in wanted}
        folded = {t.upper(): None for t in wanted}
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

    def report(self, name):
        """Tells of a format error on standard error: 1 after one, else 0."""
        if self.error is None:
            return 0
        sys.stdout.flush()
        print("zl logset: %s: %s at offset %d; %d whole record(s) before it"
              % (safe_text.terminal(name), self.error.reason, self.error.offset,
                 self.error.whole), file=sys.stderr)
        return 1


def _plot(s, args):
    """Draws the plot; gives None, or why it was not made."""
    if not any(_drawable(v) for tag in s.tags for v in s.values[tag]):
        return "nothing to plot: no values of %s in %s" % (
            safe_text.terminal(",".join(s.tags) or "any tag"), safe_text.terminal(args.file))
    try:
        plot(s, args.plot, title=args.file)
    except ImportError:
        return "--plot needs matplotlib (Debian: python3-matplotlib)"
    except OSError as e:
        return "cannot write %s: %s" % (safe_text.terminal(args.plot), e.strerror or e)
    except Exception as e:  # noqa: BLE001 (matplotlib gives up on some data, e.g. a
        # range wider than the largest double, with errors of its own kinds)
        return "cannot draw %s: %s: %s" % (safe_text.terminal(args.plot), type(e).__name__, e)
    return None


def describe(r):
    """The record's line; the codes of the two records that have none."""
    kind = r.kind[:4]
    if kind == "_FO_":
        return "format %d (%s)" % (r.mode, logset_file.FORMATS.get(r.mode, "unknown"))
    if kind == "_DE_":
        return "delimiter %d (%s)" % (
            r.mode, safe_text.terminal(repr(chr(r.mode))) if r.mode < 0x110000 else "'?'")
    return safe_text.terminal(logset_file.render(r))


def print_records(records, out):
    out.write("%8s  %-4s  %10s  %s\n" % ("OFFSET", "KIND", "MS", "LINE"))
    for r in records:
        out.write("%8d  %-4s  %10d  %s\n" % (r.offset, safe_text.terminal(r.kind), r.elapsed_ms,
                                            describe(r)))


def _cell(value):
    return "" if value is None else repr(value)


def print_csv(tags, rows, out):
    w = csv.writer(out, lineterminator="\n")
    w.writerow(["time"] + [safe_text.terminal(t) for t in tags])
    for t, values in rows:
        w.writerow(["%.3f" % t] + [_cell(v) for v in values])


def print_json(logs, s, out):
    """Strict JSON: a value JSON has no number for is a string (json_number)."""
    number = safe_text.json_number
    values = {tag: [number(v) for v in column] for tag, column in s.values.items()}
    json.dump({"logs": logs, "tags": s.tags, "time": s.times, "values": values}, out,
              indent=1, allow_nan=False)
    out.write("\n")


def plot(s, path, title=""):
    """Draws each tag as a step line (a value holds until its next record)."""
    import matplotlib
    matplotlib.use("Agg")
    from matplotlib import pyplot

    def text(t):  # a "$" would start matplotlib's math notation
        return safe_text.terminal(t).replace("$", r"\$")

    figure, axes = pyplot.subplots(figsize=(9, 4.5), dpi=100)
    try:
        with warnings.catch_warnings():
            # A range near the largest double overflows the tick arithmetic,
            # which only warns, in many lines on standard error.
            warnings.simplefilter("ignore", RuntimeWarning)
            for tag in s.tags:
                points = [(t, v) for t, v in zip(s.times, s.values[tag]) if _drawable(v)]
                if points:
                    xs, ys = zip(*points)
                    axes.step(xs, ys, where="post", label=text(tag))
            axes.set_xlabel("time (s)")
            axes.set_ylabel("value")
            if title:
                axes.set_title(text(title))
            axes.grid(True, alpha=0.3)
            axes.legend(loc="best")
            figure.tight_layout()
            figure.savefig(path, format="png")
    finally:
        pyplot.close(figure)


def _drawable(value):
    """A value a plot can show: NaN, infinities and missing values are gaps."""
    return value is not None and math.isfinite(value)
