#!/usr/bin/python3
"""What the library's log lines cost a script, through Python's logging.

Each mode runs in a child interpreter of its own against the same services
(database SIM with the example plant) and times client.pve on a tag the
server has (no line) and on one it has not (the catch ladder's ERROR line):

- silenced: logging.getLogger("zl") at CRITICAL, so logging refuses the line;
- shown: logging left alone, the line on standard error (sent to /dev/null);
- raw: ZL_LOG_STDERR=1, the library writes to standard error (/dev/null).

Goal: a line that logging refuses costs at most what writing it to standard
error cost before (silenced missing-tag call at most raw's). The modes
alternate round by round and the summary compares medians.

Usage: bench/log_bench.py [--build DIR] [--rounds N] [--calls N]
Needs DIR/python (the module) and DIR/sim/zelvik-sim. Default build/.
"""

import argparse
import os
import statistics
import subprocess
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent

CHILD = r"""
import logging, os, sys, time
import zl
if os.environ.get("SILENCE"):
    logging.getLogger("zl").setLevel(logging.CRITICAL)
client = zl.Client(os.environ["ORB"])
assert client.connect("SIM") == 0
calls = int(os.environ["CALLS"])
def per_call_us(tag):
    start = time.perf_counter()
    for _ in range(calls):
        client.pve(tag)
    return (time.perf_counter() - start) / calls * 1e6
per_call_us("LEVEL_SP"), per_call_us("NO_SUCH_TAG")  # warm up
print(per_call_us("LEVEL_SP"), per_call_us("NO_SUCH_TAG"))
"""

MODES = [("silenced", {"SILENCE": "1"}), ("shown", {}), ("raw", {"ZL_LOG_STDERR": "1"})]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.environ.get("ZL_BUILD_DIR", "build"))
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--calls", type=int, default=3000)
    args = parser.parse_args()
    build = (REPO / args.build).resolve()
    for needed in (build / "sim" / "zelvik-sim", build / "python"):
        if not needed.exists():
            sys.exit("log_bench: %s is missing" % needed)
    os.environ["OMNIORB_CONFIG"] = "/dev/null"
    os.environ.setdefault("Zelvik_Interface", "127.0.0.1")
    sys.path.insert(0, str(REPO / "tools"))
    from zl_services import Services

    found = {name: [] for name, _ in MODES}
    missing = {name: [] for name, _ in MODES}
    with Services(sim=build / "sim" / "zelvik-sim",
                  tags=[str(REPO / "examples" / "plant.tags")]) as services:
        for r in range(args.rounds):
            for name, extra in MODES:
                env = dict(os.environ, ORB=services.orb_options, CALLS=str(args.calls),
                           PYTHONPATH=str(build / "python"), **extra)
                out = subprocess.run([sys.executable, "-c", CHILD], env=env, check=True,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     text=True).stdout.split()
                found[name].append(float(out[0]))
                missing[name].append(float(out[1]))
            print("round %d/%d: " % (r + 1, args.rounds) +
                  ", ".join("%s %.1f/%.1f us" % (n, found[n][-1], missing[n][-1])
                            for n, _ in MODES), flush=True)

    print()
    print("medians over %d rounds (pve of a tag it has / of a missing tag, one line)"
          % args.rounds)
    for name, _ in MODES:
        print("%-9s %8.1f us %8.1f us" % (name, statistics.median(found[name]),
                                          statistics.median(missing[name])))
    silenced, raw = statistics.median(missing["silenced"]), statistics.median(missing["raw"])
    print("refused line against raw standard error: %.2fx (goal: at most 1.00) %s"
          % (silenced / raw, "met" if silenced <= raw else "MISSED"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
