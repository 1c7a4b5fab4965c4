#!/usr/bin/python3
"""A scenario campaign run by pytest with the zl plugin on 1, 2 and 4
stand-ins (pytest -n 1/2/4, --zl-sim: one stand-in per worker), in one run.

1. Overhead per scenario beyond its own statements, two ways: in the
   worker, an item's time in the JUnit file (setup, call, teardown) minus
   the run's own length (the stamp of its "Closing test log" line); and for
   the whole campaign on one stand-in, its wall time (pytest's and the
   stand-in's start included) minus the runs' own lengths, per scenario.
   Goal: at most 50 ms, judged on the second (the larger).
2. Speed-up per added server: the campaign's wall time on 1 stand-in divided
   by that on N, per stand-in. Goal: at least 0.8 of linear up to the
   machine's cores (N above the cores is shown, not judged).

Each scenario waits 100 ms and checks one tag. The campaign's wall time
includes pytest's start and the stand-ins' (once per worker).

Usage: bench/campaign_bench.py [--build DIR] [--scenarios N] [--workers 1,2,4]
Needs DIR/python (the module and the plugin), DIR/sim/zelvik-sim and
pytest-xdist. Build directory: default build/.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
SCENARIO = "DELAY 100\nVERIFY TEMP_SP 60\n"
OVERHEAD_GOAL_S = 0.050
EFFICIENCY_GOAL = 0.8


def make_project(root, count):
    for i in range(count):
        (root / ("test_s%03d.scn" % i)).write_text(SCENARIO)


def own_seconds(tlg):
    """The run's own length: the stamp of its closing line."""
    from zl.readers import testlog  # the build's package (main puts it on the path)
    section = testlog.read(tlg).sections[-1]
    return testlog.stamp_seconds(section.last_stamp)


def run_campaign(build, workers, count):
    with tempfile.TemporaryDirectory(prefix="zl-campaign-bench-") as tmp:
        root = Path(tmp)
        make_project(root, count)
        env = dict(os.environ)
        env["PYTHONPATH"] = os.pathsep.join([str(build / "python"), str(REPO / "tools")])
        env["ZL_SIM"] = str(build / "sim" / "zelvik-sim")
        env["OMNIORB_CONFIG"] = "/dev/null"
        env["Zelvik_Interface"] = "127.0.0.1"
        env.pop("ZL_ORB_OPTIONS", None)
        argv = [sys.executable, "-m", "pytest", "-p", "zl.pytest_plugin", "-p",
                "no:cacheprovider", "-q", "-n", str(workers),
                "--zl-sim=" + str(REPO / "examples" / "plant.tags"),
                "--junitxml", str(root / "junit.xml")]
        began = time.monotonic()
        run = subprocess.run(argv, cwd=root, env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True)
        wall = time.monotonic() - began
        if run.returncode != 0:
            sys.exit("campaign with -n %d failed:\n%s" % (workers, run.stdout[-3000:]))
        overheads, own = [], 0.0
        for case in ElementTree.parse(root / "junit.xml").iter("testcase"):
            seconds = own_seconds(root / (case.get("name") + ".tlg"))
            own += seconds
            overheads.append(float(case.get("time")) - seconds)
        return wall, overheads, own


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(REPO / "build"))
    parser.add_argument("--scenarios", type=int, default=200)
    parser.add_argument("--workers", default="1,2,4")
    args = parser.parse_args()
    build = Path(args.build).resolve()
    sys.path.insert(0, str(build / "python"))
    counts = [int(w) for w in args.workers.split(",")]
    cores = os.cpu_count() or 1
    print("machine: %d cores, load average before %.2f %.2f %.2f"
          % ((cores,) + os.getloadavg()))
    results = {}
    for workers in counts:
        wall, overheads, own = run_campaign(build, workers, args.scenarios)
        results[workers] = (wall, overheads, own)
        print("-n %d: %d scenarios in %.2f s (their own statements %.2f s); overhead per "
              "scenario in the worker: median %.1f ms, mean %.1f ms, max %.1f ms"
              % (workers, len(overheads), wall, own, 1000 * statistics.median(overheads),
                 1000 * statistics.mean(overheads), 1000 * max(overheads)))
    print("load average after %.2f %.2f %.2f" % os.getloadavg())
    verdicts = []
    if 1 in results:
        wall, overheads, own = results[1]
        per = (wall - own) / len(overheads)
        verdicts.append(("-n 1: overhead per scenario, whole campaign %.1f ms (goal <= %.0f ms)"
                         % (1000 * per, 1000 * OVERHEAD_GOAL_S), per <= OVERHEAD_GOAL_S))
    if 1 in results:
        for workers in counts:
            if workers == 1:
                continue
            speedup = results[1][0] / results[workers][0]
            efficiency = speedup / workers
            judged = workers <= cores
            verdicts.append(("-n %d: speed-up %.2f, %.2f of linear (goal >= %.1f%s)"
                             % (workers, speedup, efficiency, EFFICIENCY_GOAL,
                                "" if judged else ", above the cores: not judged"),
                             efficiency >= EFFICIENCY_GOAL if judged else None))
    for text, met in verdicts:
        print("%-70s %s" % (text, {True: "met", False: "MISSED", None: "-"}[met]))


if __name__ == "__main__":
    main()
