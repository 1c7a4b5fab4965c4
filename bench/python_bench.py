#!/usr/bin/python3
"""Costs of the zl module against the server, side by side in one run.

1. client.pve from Python against the raw stub round trip to the same
   server (BM_RoundTripPVE of zl_server_bench, the generated C++ stubs with
   nothing around them): goal, at most 15% more.
2. client.multipve of 1000 tags against 1000 client.pve calls: goal, at
   least 50 times faster.

The measurements alternate round by round (so a change of the machine's load
hits both sides alike) and the summary compares medians. It starts its own
services (tools/zl_services.py) with the database SIM and 1000 plain tags
BENCH0000..BENCH0999.

Usage: bench/python_bench.py [--build DIR] [--rounds N] [--calls N]
Needs DIR/python (the module), DIR/sim/zelvik-sim and DIR/bench/zl_server_bench
(configure with -DZL_BUILD_BENCH=ON). Build directory: default build/.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
TAG_COUNT = 1000
PVE_TAG = "BENCH%04d" % (TAG_COUNT // 2)  # the tag BM_RoundTripPVE reads


def raw_round_trip_ns(bench_binary, env):
    """One run of BM_RoundTripPVE: nanoseconds per round trip."""
    out = subprocess.run(
        [str(bench_binary), "--benchmark_filter=^BM_RoundTripPVE/real_time$",
         "--benchmark_min_time=0.5", "--benchmark_format=json"],
        env=env, check=True, capture_output=True, text=True).stdout
    run = json.loads(out)["benchmarks"][0]
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[run["time_unit"]]
    return run["real_time"] * scale


def per_call_ns(call, count):
    start = time.perf_counter_ns()
    for _ in range(count):
        call()
    return (time.perf_counter_ns() - start) / count


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.environ.get("ZL_BUILD_DIR", "build"))
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--calls", type=int, default=5000,
                        help="client.pve calls per round")
    args = parser.parse_args()
    build = (REPO / args.build).resolve()
    bench_binary = build / "bench" / "zl_server_bench"
    for needed in (bench_binary, build / "sim" / "zelvik-sim", build / "python"):
        if not needed.exists():
            sys.exit("python_bench: %s is missing (build with -DZL_BUILD_BENCH=ON)" % needed)

    os.environ["OMNIORB_CONFIG"] = "/dev/null"
    os.environ.setdefault("Zelvik_Interface", "127.0.0.1")
    sys.path[:0] = [str(build / "python"), str(REPO / "tools")]
    import zl
    from zl_services import Services

    with Services(sim=build / "sim" / "zelvik-sim") as services:
        env = dict(os.environ, ZL_ORB_OPTIONS=services.orb_options)
        client = zl.Client(services.orb_options)
        if client.connect("SIM") != 0:
            sys.exit("python_bench: cannot connect to SIM")
        names = ["BENCH%04d" % i for i in range(TAG_COUNT)]
        client.download("".join("%s\t\t\tAnalog\n" % n for n in names))
        assert len(client.multipve(names)) == TAG_COUNT

        raw, pve, multi, singles = [], [], [], []
        for r in range(args.rounds):
            raw.append(raw_round_trip_ns(bench_binary, env))
            pve.append(per_call_ns(lambda: client.pve(PVE_TAG), args.calls))
            multi.append(per_call_ns(lambda: client.multipve(names), 20))
            singles.append(per_call_ns(lambda: [client.pve(n) for n in names], 1))
            print("round %d/%d: raw %.1f us, pve %.1f us, multipve(1000) %.0f us, "
                  "1000 pve %.0f us" % (r + 1, args.rounds, raw[-1] / 1e3, pve[-1] / 1e3,
                                       multi[-1] / 1e3, singles[-1] / 1e3), flush=True)
        client.disconnect()

    m_raw, m_pve = statistics.median(raw), statistics.median(pve)
    m_multi, m_singles = statistics.median(multi), statistics.median(singles)
    overhead = m_pve / m_raw - 1
    speedup = m_singles / m_multi
    print()
    print("medians over %d rounds" % args.rounds)
    print("raw stub PVE round trip:   %8.1f us" % (m_raw / 1e3))
    print("client.pve from Python:    %8.1f us   overhead %+.1f%% (goal: at most +15%%) %s"
          % (m_pve / 1e3, overhead * 100, "met" if overhead <= 0.15 else "MISSED"))
    print("multipve of 1000 tags:     %8.0f us" % (m_multi / 1e3))
    print("1000 pve calls:            %8.0f us   multipve %.0fx faster (goal: 50x or more) %s"
          % (m_singles / 1e3, speedup, "met" if speedup >= 50 else "MISSED"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
