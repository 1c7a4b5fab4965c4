#!/usr/bin/python3
"""Tag-change delivery to a callback subscribed to chosen tags, timed.

The server pushes events of 1,000 changes each (tags T0000..T0999, one
change per tag per event, through the control endpoint) to one registered
zl.Callback whose `tagschanged` only counts. Three registrations take turns,
round by round, so that a change of the machine's load does not favour one:

  all   register(client): every change reaches Python (the behaviour
        without a subscription);
  ten   register(client, tags=[10 names]): only those tags' changes reach
        Python, 10 per event;
  star  register(client, tags=["T*"]): a pattern that every change
        matches, so each one is filtered and then delivered;
  none  no registration: the server pushes to nobody, and the client's
        CPU is the benchmark's own (sending the control commands).

For each: the client's CPU time (the whole process: the ORB's threads that
receive and decode, the delivery, the Python calls, and the main thread
sending the control commands over one connection) per change the server
pushed, and per change delivered; "net" figures have the `none` round's
CPU taken off. Beside them, a pure-Python loop that makes the same
zl.ZLTagChanges and makes the same call (the "bare call"), with the
counting handler the rounds use and with one that only returns.

Goals: `ten` costs a small fraction of `all` per pushed change; `all`
costs at most twice the bare call per delivered change.

It starts its own services (tools/zl_services.py) with the database SIM.
Usage: bench/subscription_bench.py [--build DIR] [--events N] [--rounds N]
Needs DIR/python (the module) and DIR/sim/zelvik-sim. Build directory:
default build/. Without `tags=` support (an older module) only `all` runs.
"""

import argparse
import os
import socket
import statistics
import sys
import threading
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
TAGS = 1000
CHOSEN = ["T%04d" % i for i in range(0, TAGS, TAGS // 10)]  # 10 of the 1000
WAIT_S = 120.0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.environ.get("ZL_BUILD_DIR", "build"))
    parser.add_argument("--events", type=int, default=100, help="events of 1000 changes per round")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    build = (REPO / args.build).resolve()
    for needed in (build / "sim" / "zelvik-sim", build / "python"):
        if not needed.exists():
            sys.exit("subscription_bench: %s is missing" % needed)
    os.environ["OMNIORB_CONFIG"] = "/dev/null"
    os.environ.setdefault("Zelvik_Interface", "127.0.0.1")
    sys.path[:0] = [str(build / "python"), str(REPO / "tools")]
    import zl
    from zl_services import Services

    class Counter(zl.Callback):
        def __init__(self):
            super().__init__()
            self.count = 0
            self.want = 0
            self.done = threading.Event()

        def tagschanged(self, change):
            self.count += 1
            if self.count >= self.want:
                self.done.set()
            return 0

    class Returns(zl.Callback):
        def tagschanged(self, change):
            return 0

    event = ("event seq " + " ".join("T%04d:1.5:2.5:Auto" % i for i in range(TAGS))
             + "\n").encode()

    def run(control, client, counter, tags, per_event):
        """One round: (CPU s, wall s, changes delivered). `per_event` 0: no
        registration."""
        if per_event and tags is None:
            assert counter.register(client) == 0
        elif per_event:
            assert counter.register(client, tags=tags) == 0
        counter.count, counter.want = 0, args.events * per_event
        counter.done.clear()
        cpu0, wall0 = time.process_time(), time.perf_counter()
        for _ in range(args.events):
            reply = control(event)
            assert reply == ("OK 1" if per_event else "OK 0"), reply
        if per_event and not counter.done.wait(WAIT_S):
            sys.exit("subscription_bench: %d of %d changes arrived"
                     % (counter.count, counter.want))
        cpu, wall = time.process_time() - cpu0, time.perf_counter() - wall0
        delivered = counter.count
        counter.unregister()
        return cpu, wall, delivered

    def bare(n, handler):
        """The pure-Python loop: seconds for n objects and calls."""
        handler.want = n + 1
        t0 = time.perf_counter()
        for _ in range(n):
            change = zl.ZLTagChanges()
            change.tag = "T0000"
            change.pve, change.pv, change.tagmode, change.secs, change.usecs = 1.5, 2.5, 0, 1, 2
            handler.tagschanged(change)
        return time.perf_counter() - t0

    with Services(sim=build / "sim" / "zelvik-sim") as services:
        client = zl.Client(services.orb_options)
        if client.connect("SIM") != 0:
            sys.exit("subscription_bench: cannot connect to SIM")
        counter = Counter()
        modes = [("none", None, 0), ("all", None, TAGS), ("ten", CHOSEN, len(CHOSEN)),
                 ("star", ["T*"], TAGS)]
        try:
            counter.register(client, tags=["T0000"])
            counter.unregister()
        except TypeError:
            print("(this module has no tags=: `ten` and `star` are left out)")
            modes = modes[:2]
        connection = socket.create_connection(("127.0.0.1", services.control_port))
        replies = connection.makefile("rb")

        def control(line):
            connection.sendall(line)
            return replies.readline().decode().strip()

        run(control, client, counter, None, TAGS)  # warm-up: threads, buffers
        pushed = args.events * TAGS
        results = {name: [] for name, _, _ in modes}
        bare_us, bare_returns_us = [], []
        for _ in range(args.rounds):
            for name, tags, per_event in modes:
                cpu, wall, delivered = run(control, client, counter, tags, per_event)
                results[name].append((cpu, pushed / wall, delivered))
            bare_us.append(bare(pushed, Counter()) / pushed * 1e6)
            bare_returns_us.append(bare(pushed, Returns()) / pushed * 1e6)
        connection.close()
        client.disconnect()

    print("%d rounds of %d events x %d changes; medians (per round: min..max)"
          % (args.rounds, args.events, TAGS))
    # Per round, the `none` round's CPU of the same round taken off: "net".
    none_cpu = [r[0] for r in results["none"]]
    med = {}
    for name, _, per_event in modes:
        rows = results[name]
        per_pushed = [r[0] / pushed * 1e6 for r in rows]
        net = [(r[0] - n) / pushed * 1e6 for r, n in zip(rows, none_cpu)]
        delivered = rows[0][2]
        med[name] = (statistics.median(per_pushed), statistics.median(net))
        line = ("  %-4s client CPU per pushed change %.3f us (%.3f..%.3f), net %.3f us"
                % (name, med[name][0], min(per_pushed), max(per_pushed), med[name][1]))
        if per_event:
            line += (", net per delivered %.3f us; %.0f pushed changes/s; %d delivered per round"
                     % (med[name][1] * pushed / delivered,
                        statistics.median(r[1] for r in rows), delivered))
        print(line)
    bare_med = statistics.median(bare_us)
    returns_med = statistics.median(bare_returns_us)
    print("  bare Python call making the same object: %.3f us (%.3f..%.3f) with the counting"
          " handler, %.3f us (%.3f..%.3f) with one that only returns"
          % (bare_med, min(bare_us), max(bare_us), returns_med, min(bare_returns_us),
             max(bare_returns_us)))
    print("  all: net delivery per change / bare call = %.2f (goal at most 2)"
          % (med["all"][1] / bare_med))
    if "ten" in med:
        print("  ten / all per pushed change, net = %.3f (goal: a small fraction); gross = %.3f"
              % (med["ten"][1] / med["all"][1], med["ten"][0] / med["all"][0]))
        print("  star / all per delivered change, net = %.2f (the filter's own cost)"
              % (med["star"][1] / med["all"][1]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
