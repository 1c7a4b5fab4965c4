#!/usr/bin/python3
"""End-to-end time of `zl run` on a one-line scenario (`VERIFY TEMP_SP 60`):
from starting the command to its exit, which holds the interpreter's start,
importing the module, connecting, the run and the summary. Beside it the
time of `zl --version` (the interpreter and the command's own start), and
the time of the command in a process that has started already (the
command's `main` called in a loop: connecting, the run, learning of its
end, reading the test log, the summary), which the machine's load touches
least.

    bench/cli_run_bench.py [--build DIR] [--runs N] [--zl LAUNCHER]...
                           [--package DIR]...

Each launcher (default DIR/bin/zl) and each folder holding the package zl
(default DIR/python) is measured; give two to compare, for example the
build of an earlier version (one from before the package, with zl_cli
beside the module, is timed too). Goal: a one-line scenario runs
end to end in well under 0.2 s (judged on the median).
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tools"))
from zl_services import Services  # noqa: E402

SCENARIO = "VERIFY TEMP_SP 60\n"
GOAL_S = 0.2


def time_runs(launcher, env, work, runs):
    """Wall seconds of each `zl run` of the one-line scenario."""
    scenario = work / "one.scn"
    scenario.write_text(SCENARIO)
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        done = subprocess.run([launcher, "run", str(scenario)], env=env, cwd=work,
                              capture_output=True, text=True, timeout=60)
        times.append(time.perf_counter() - start)
        if done.returncode != 0:
            raise SystemExit("%s run failed (%d): %s%s" % (launcher, done.returncode,
                                                          done.stdout, done.stderr))
    return times


def time_startup(launcher, env, work, runs):
    """Wall seconds of `zl --version`: the interpreter and the command's start."""
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run([launcher, "--version"], env=env, cwd=work, capture_output=True,
                       check=True, timeout=60)
        times.append(time.perf_counter() - start)
    return times


IN_PROCESS = """
import io, json, sys, time
from contextlib import redirect_stdout
try:
    from zl import cli
except ImportError:  # a build from before the package
    from zl_cli import cli
times = []
for _ in range(%d):
    start = time.perf_counter()
    with redirect_stdout(io.StringIO()):
        status = cli.main(["run", %r])
    times.append(time.perf_counter() - start)
    assert status == 0, status
print(json.dumps(times))
"""


def time_in_process(package, env, work, runs):
    """Seconds of each `zl run` inside one process (its start not counted)."""
    scenario = work / "one.scn"
    scenario.write_text(SCENARIO)
    done = subprocess.run([sys.executable, "-c", IN_PROCESS % (runs + 1, str(scenario))],
                          env=dict(env, PYTHONPATH=package), cwd=work, capture_output=True,
                          text=True, timeout=600)
    if done.returncode != 0:
        raise SystemExit("in-process runs of %s failed: %s" % (package, done.stderr))
    return json.loads(done.stdout)[1:]  # the first connects the process's ORB


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=str(REPO / "build"))
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--zl", action="append", help="a zl launcher to time (repeatable)")
    parser.add_argument("--package", action="append",
                        help="a folder with the package zl to time in one process "
                             "(repeatable)")
    args = parser.parse_args()
    build = Path(args.build).resolve()
    launchers = args.zl or [str(build / "bin" / "zl")]
    packages = args.package or [str(build / "python")]
    with Services(tags=[REPO / "examples" / "plant.tags"],
                  sim=build / "sim" / "zelvik-sim") as services, \
            tempfile.TemporaryDirectory(prefix="zl-run-bench-") as tmp:
        env = dict(os.environ, ZL_ORB_OPTIONS=services.orb_options, OMNIORB_CONFIG="/dev/null",
                   Zelvik_Interface="127.0.0.1")
        print("%-40s %8s %8s %8s %8s" % ("launcher", "median", "min", "max", "start"))
        verdicts = []
        for launcher in launchers:
            runs = time_runs(launcher, env, Path(tmp), args.runs)
            startup = time_startup(launcher, env, Path(tmp), max(5, args.runs // 4))
            median = statistics.median(runs)
            print("%-40s %7.3fs %7.3fs %7.3fs %7.3fs" % (
                launcher[-40:], median, min(runs), max(runs), statistics.median(startup)))
            verdicts.append(median < GOAL_S)
        print("%-40s %8s %8s %8s" % ("in one process", "median", "min", "max"))
        for package in packages:
            runs = time_in_process(package, env, Path(tmp), args.runs)
            print("%-40s %7.3fs %7.3fs %7.3fs" % (package[-40:], statistics.median(runs),
                                                  min(runs), max(runs)))
        print("goal: a one-line scenario end to end in under %.1f s (median): %s"
              % (GOAL_S, "met" if verdicts[0] else "MISSED"))


if __name__ == "__main__":
    main()
