#!/usr/bin/python3
"""Tag-change delivery to Python and tag file save/restore, timed.

1. 100,000 tag changes pushed by the server (control endpoint, batches of
   2000) to a `tagschanged` that does nothing: the rate at which they
   arrive (goal: 100,000 changes/s or more, none lost), and the client's
   CPU time per change (receive, unmarshal, one zl.ZLTagChanges and one
   Python call), beside a pure-Python loop that makes the same object and
   the same call.
2. savetags and readtags of 10,000 tags (goal: each under one second).

It starts its own services (tools/zl_services.py) with the database SIM.
Usage: bench/callback_bench.py [--build DIR] [--changes N] [--tags N]
Needs DIR/python (the module) and DIR/sim/zelvik-sim. Build directory:
default build/.
"""

import argparse
import os
import sys
import tempfile
import threading
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
BATCH = 2000


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.environ.get("ZL_BUILD_DIR", "build"))
    parser.add_argument("--changes", type=int, default=100000)
    parser.add_argument("--tags", type=int, default=10000)
    args = parser.parse_args()
    build = (REPO / args.build).resolve()
    for needed in (build / "sim" / "zelvik-sim", build / "python"):
        if not needed.exists():
            sys.exit("callback_bench: %s is missing" % needed)
    os.environ["OMNIORB_CONFIG"] = "/dev/null"
    os.environ.setdefault("Zelvik_Interface", "127.0.0.1")
    sys.path[:0] = [str(build / "python"), str(REPO / "tools")]
    import zl
    from zl_services import Services

    with Services(sim=build / "sim" / "zelvik-sim") as services:
        client = zl.Client(services.orb_options)
        if client.connect("SIM") != 0:
            sys.exit("callback_bench: cannot connect to SIM")

        # --- 1. delivery ---------------------------------------------------
        done = threading.Event()

        class Counter(zl.Callback):
            count = 0

            def tagschanged(self, change):
                # The plant has no tags here: every change is a pushed one.
                Counter.count += 1
                if Counter.count >= args.changes:
                    done.set()
                return 0

        counter = Counter()
        assert counter.register(client) == 0
        batch = "event seq " + " ".join("B%05d:1.5:2.5:Auto" % i for i in range(BATCH))
        batches = (args.changes + BATCH - 1) // BATCH
        cpu0, wall0 = time.process_time(), time.perf_counter()
        for _ in range(batches):
            reply = services.control(batch)
            assert reply.startswith("OK"), reply
        done.wait(60)
        wall, cpu = time.perf_counter() - wall0, time.process_time() - cpu0
        received = Counter.count
        status = services.control("status")

        class Nothing(zl.Callback):
            def tagschanged(self, change):
                return 0

        nothing = Nothing()
        loop0 = time.perf_counter()
        for _ in range(received):
            change = zl.ZLTagChanges()
            change.tag = "B00000"
            change.pve, change.pv, change.tagmode, change.secs, change.usecs = 1.5, 2.5, 0, 1, 2
            nothing.tagschanged(change)
        loop = time.perf_counter() - loop0
        print("tag changes: %d of %d received in %.3f s: %.0f changes/s"
              % (received, batches * BATCH, wall, received / wall))
        print("  client CPU per change (delivery + Python call): %.2f us"
              % (cpu / max(received, 1) * 1e6))
        print("  pure-Python loop, same object and call:        %.2f us"
              % (loop / max(received, 1) * 1e6))
        print("  server: " + status)

        # --- 2. tag files --------------------------------------------------
        client.download("".join("F%05d\t\t\tAnalog\n" % i for i in range(args.tags)))
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "bench.tag")
            t0 = time.perf_counter()
            saved = client.savetags(path)
            t1 = time.perf_counter()
            restored = client.readtags(path)
            t2 = time.perf_counter()
        print("savetags: %d tags in %.3f s" % (saved, t1 - t0))
        print("readtags: %d tags in %.3f s" % (restored, t2 - t1))
        client.disconnect()
    return 0


if __name__ == "__main__":
    sys.exit(main())
