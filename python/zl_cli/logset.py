"""zl logset: decode a log set file, export its tags over time, or plot them.

Without options every record is printed: its offset, kind, elapsed
milliseconds and the text line the library renders for it. --csv and --json
give one column per tag over time (see logset_file.series); --plot draws
chosen tags against time into a PNG. A truncated or corrupt file: what is
whole is decoded and shown, then an error naming the offset, exit status 1.
"""
import csv
import json
import sys

from zl_cli import logset_file
from zl_cli.cli import read_input


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
    data = read_input("logset", args.file)
    if data is None:
        return 1
    decoded = logset_file.decode(data)
    wanted = [t.strip() for t in args.tags.split(",") if t.strip()] if args.tags else None
    if wanted:
        # Scenario lines are upper case, and so are most tag names: match
        # the names in the file without regard to case.
        known = {r.text.upper(): r.text for r in decoded.records if r.kind[:4] == "_TA_"}
        wanted = [known.get(t.upper(), t) for t in wanted]
    s = logset_file.series(decoded.records, wanted)
    out = sys.stdout
    if args.csv:
        print_csv(s, out)
    elif args.json:
        print_json(decoded, s, out)
    elif not args.plot:
        print_records(decoded.records, out)
    status = 0
    if args.plot:
        if not any(v is not None for tag in s.tags for v in s.values[tag]):
            print("zl logset: nothing to plot: no values of %s in %s"
                  % (",".join(s.tags) or "any tag", args.file), file=sys.stderr)
            status = 1
        else:
            try:
                plot(s, args.plot, title=args.file)
            except ImportError:
                print("zl logset: --plot needs matplotlib (Debian: python3-matplotlib)",
                      file=sys.stderr)
                status = 1
            except OSError as e:
                print("zl logset: cannot write %s: %s" % (args.plot, e.strerror or e),
                      file=sys.stderr)
                status = 1
    if decoded.error:
        out.flush()
        print("zl logset: %s: %s at offset %d; %d whole record(s) before it"
              % (args.file, decoded.error, decoded.error_offset, len(decoded.records)),
              file=sys.stderr)
        status = 1
    return status


def describe(r):
    """The record's line; the codes of the two records that have none."""
    kind = r.kind[:4]
    if kind == "_FO_":
        return "format %d (%s)" % (r.mode, logset_file.FORMATS.get(r.mode, "unknown"))
    if kind == "_DE_":
        return "delimiter %d (%r)" % (r.mode, chr(r.mode) if r.mode < 0x110000 else "?")
    return logset_file.render(r)


def print_records(records, out):
    out.write("%8s  %-4s  %10s  %s\n" % ("OFFSET", "KIND", "MS", "LINE"))
    for r in records:
        out.write("%8d  %-4s  %10d  %s\n" % (r.offset, r.kind, r.elapsed_ms, describe(r)))


def _cell(value):
    return "" if value is None else repr(value)


def print_csv(s, out):
    w = csv.writer(out, lineterminator="\n")
    w.writerow(["time"] + s.tags)
    for i, t in enumerate(s.times):
        w.writerow(["%.3f" % t] + [_cell(s.values[tag][i]) for tag in s.tags])


def print_json(decoded, s, out):
    logs = [{"name": r.text, "started": r.mode, "offset": r.offset}
            for r in decoded.records if r.kind[:4] == "_HD_"]
    json.dump({"logs": logs, "tags": s.tags, "time": s.times, "values": s.values}, out,
              indent=1)
    out.write("\n")


def plot(s, path, title=""):
    """Draws each tag as a step line (a value holds until its next record)."""
    import matplotlib
    matplotlib.use("Agg")
    from matplotlib import pyplot

    figure, axes = pyplot.subplots(figsize=(9, 4.5), dpi=100)
    try:
        for tag in s.tags:
            points = [(t, v) for t, v in zip(s.times, s.values[tag]) if v is not None]
            if points:
                xs, ys = zip(*points)
                axes.step(xs, ys, where="post", label=tag)
        axes.set_xlabel("time (s)")
        axes.set_ylabel("value")
        if title:
            axes.set_title(title)
        axes.grid(True, alpha=0.3)
        axes.legend(loc="best")
        figure.tight_layout()
        figure.savefig(path, format="png")
    finally:
        pyplot.close(figure)
