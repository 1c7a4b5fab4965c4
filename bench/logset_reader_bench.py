#!/usr/bin/python3
"""Time and peak memory of `zl logset` on large log set files.

Writes log set files of the given sizes (default 1, 10 and 100 MB) into a
temporary folder, of one of two shapes:

  plant  one log of TAGS tags written once a second, every tag changed at
         every write (the largest file a log set makes per second of
         logging), with a comment now and then;
  wide   every record a tag of its own at a moment of its own: the shape
         that made a tags x times table grow with the square of the file.

Then runs, each in a process of its own with its output thrown away, the
listing (`zl logset FILE`), the CSV export (`--csv`, plant only: for wide
its output itself grows with the square), the CSV of one tag
(`--csv --tags`) and the JSON export (`--json`, optional, plant only: it
holds the columns in memory), and prints wall time, records per second and
the process's peak resident memory.

    bench/logset_reader_bench.py [--sizes 1,10,100] [--shape plant|wide]
                                 [--tags 50] [--json] [--build DIR]

Needs no server; the readers are pure Python (python/zl/readers), run as
the package of DIR/python has them (--build DIR, default build/).
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
START = 1796875200


def record(kind, ms, value=0.0, mode=0, text=b""):
    return kind + struct.pack("<IIddI", 25 + len(text), ms, value, 0.0, mode) + text + b"\0"


def write_wide(path, size):
    """A file of at least `size` bytes, every record a new tag at a new
    moment; gives its record count."""
    records = 0
    written = 0
    with open(path, "wb") as f:
        while written < size:
            block = b"".join(record(b"_TA_", (records + i) & 0xFFFFFFFF, 1.0, 1,
                                    b"PLANT_TAG_%07d" % (records + i)) for i in range(1000))
            f.write(block)
            written += len(block)
            records += 1000
    return records


def write_log_set(path, size, tags):
    """A log set file of at least `size` bytes; gives its record count."""
    names = [b"PLANT_TAG_%03d" % i for i in range(tags)]
    records = 0
    with open(path, "wb") as f:
        head = (record(b"_HD_", 0, mode=START, text=b"BENCH") + record(b"_FO_", 0, mode=1)
                + record(b"_DE_", 0, mode=9))
        f.write(head)
        written = len(head)
        records = 3
        second = 0
        while written < size:
            ms = (second * 1000) & 0xFFFFFFFF
            block = b"".join(record(b"_TA_", ms, second * 0.5 + i, 1, name)
                             for i, name in enumerate(names))
            if second % 60 == 0:
                block += record(b"SCMT", ms, text=b"MINUTE %d" % (second // 60))
                records += 1
            f.write(block)
            written += len(block)
            records += tags
            second += 1
    return records


def measure(build, argv):
    """(seconds, peak resident memory in MiB, exit status) of one zl run."""
    env = dict(os.environ)
    env["PYTHONPATH"] = str(build / "python") + os.pathsep + env.get("PYTHONPATH", "")
    began = time.monotonic()
    with open(os.devnull, "wb") as null:
        child = subprocess.Popen([sys.executable, "-m", "zl.cli"] + argv, stdout=null, env=env)
        _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    return time.monotonic() - began, usage.ru_maxrss / 1024.0, child.returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sizes", default="1,10,100", help="file sizes in MB")
    parser.add_argument("--shape", choices=("plant", "wide"), default="plant")
    parser.add_argument("--tags", type=int, default=50)
    parser.add_argument("--json", action="store_true", help="also time --json")
    parser.add_argument("--build", default=str(REPO / "build"))
    args = parser.parse_args()
    build = Path(args.build).resolve()
    if args.shape == "wide":
        runs = [("list", []), ("csv 1 tag", ["--csv", "--tags", "PLANT_TAG_0000007"])]
    else:
        runs = [("list", []), ("csv", ["--csv"]),
                ("csv 1 tag", ["--csv", "--tags", "PLANT_TAG_007"])]
        if args.json:
            runs.append(("json", ["--json"]))
    print("%8s  %10s  %-10s  %8s  %12s  %9s" % ("MB", "records", "output", "seconds",
                                                 "records/s", "peak MiB"))
    with tempfile.TemporaryDirectory(prefix="zl-logset-bench-") as work:
        for mb in (float(s) for s in args.sizes.split(",")):
            path = os.path.join(work, "bench.log")
            if args.shape == "wide":
                count = write_wide(path, int(mb * 1e6))
            else:
                count = write_log_set(path, int(mb * 1e6), args.tags)
            size = os.path.getsize(path) / 1e6
            for name, extra in runs:
                seconds, peak, status = measure(build, ["logset", path] + extra)
                if status != 0:
                    print("zl logset %s exited with %d" % (" ".join(extra), status),
                          file=sys.stderr)
                    return 1
                print("%8.1f  %10d  %-10s  %8.2f  %12.0f  %9.1f"
                      % (size, count, name, seconds, count / seconds, peak))
            os.unlink(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
