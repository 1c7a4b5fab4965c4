#!/usr/bin/python3
"""zl.aio against the synchronous zl.Client, timed.

1. One awaited call: a coroutine awaiting `client.pve(tag)` of a
   zl.aio.Client again and again, against `client.pve(tag)` of a
   zl.Client in a loop (each client on a connection of its own to the same
   database), with the client process's CPU time per call. Goal: the
   awaited call takes at most 1.5 times the
   synchronous one (the median of the rounds' ratios: each round times
   both, one after the other). Beside it, the hand-over alone: an awaited
   job of the client's worker that calls nothing; and for comparison the
   same through a queue.SimpleQueue and loop.call_soon_threadsafe.
2. Reads spread over four databases at once: four zl.aio clients, one per
   database, each reading its share (pve calls, one after another) at the
   same time (asyncio.gather), against one zl.aio client reading one share
   alone. Goal: all four shares finish in about the time of one (at most
   1.5 times; the median of the rounds' ratios). Beside it, the
   synchronous client reading the four shares in turn.

Both run twice: on loopback as it is (a round trip is the two processes'
CPU and a few thread wake-ups), and with the server answering each PVE
only after --latency milliseconds (the control command `delay`), as a
server across a network does. The kinds take turns round by round, so that
a change of the machine's load hits all alike; the summary compares
medians. It starts its own services (tools/zl_services.py): one zelvik-sim
with the databases DB1 .. DB4, or with --processes one zelvik-sim per
database (all in one Naming Service), and a tag BENCH0000 in each.

Usage: bench/aio_bench.py [--build DIR] [--rounds N] [--calls N] [--reads N]
                          [--latency MS] [--processes]
Needs DIR/python (the module) and DIR/sim/zelvik-sim. Build directory:
default build/.
"""

import argparse
import asyncio
import contextlib
import os
import queue
import statistics
import sys
import threading
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
DATABASES = ["DB1", "DB2", "DB3", "DB4"]
TAG = "BENCH0000"
KINDS = ["sync", "awaited", "hand-over", "queue hand-over", "one share", "all shares",
         "sync in turn"]


def nothing(client):
    """A job of the worker that calls nothing."""


class QueueWorker:
    """The hand-over zl.aio does not use, for comparison: jobs through a
    queue.SimpleQueue, outcomes through loop.call_soon_threadsafe."""

    def __init__(self):
        self.jobs = queue.SimpleQueue()
        threading.Thread(target=self.run, daemon=True).start()

    def run(self):
        while True:
            future, call = self.jobs.get()
            result = call(None)
            future.get_loop().call_soon_threadsafe(future.set_result, result)

    def submit(self, call):
        future = asyncio.get_running_loop().create_future()
        self.jobs.put((future, call))
        return future


async def queue_hand_overs(worker, count):
    start = time.perf_counter()
    for _ in range(count):
        await worker.submit(nothing)
    return time.perf_counter() - start


def sync_calls(client, count, cpu=None):
    start, cpu_start = time.perf_counter(), time.process_time()
    for _ in range(count):
        client.pve(TAG)
    if cpu is not None:
        cpu.append((time.process_time() - cpu_start) / count)
    return time.perf_counter() - start


async def awaited_calls(client, count, cpu=None):
    start, cpu_start = time.perf_counter(), time.process_time()
    for _ in range(count):
        await client.pve(TAG)
    if cpu is not None:
        cpu.append((time.process_time() - cpu_start) / count)
    return time.perf_counter() - start


async def hand_overs(client, count):
    start = time.perf_counter()
    for _ in range(count):
        await client._run(nothing)
    return time.perf_counter() - start


async def at_once(clients, reads):
    start = time.perf_counter()
    await asyncio.gather(*(awaited_calls(c, reads) for c in clients))
    return time.perf_counter() - start


async def measure(sync_client, clients, rounds, calls, reads):
    """{kind: median seconds}: per call for the first three kinds, per
    batch for the others."""
    first = clients[0]
    other = QueueWorker()
    rows = {k: [] for k in KINDS + ["sync cpu", "awaited cpu"]}
    for r in range(rounds):
        rows["sync"].append(sync_calls(sync_client, calls, rows["sync cpu"]) / calls)
        rows["awaited"].append(await awaited_calls(first, calls, rows["awaited cpu"]) / calls)
        rows["hand-over"].append(await hand_overs(first, calls) / calls)
        rows["queue hand-over"].append(await queue_hand_overs(other, calls) / calls)
        rows["one share"].append(await at_once([first], reads))
        rows["all shares"].append(await at_once(clients, reads))
        rows["sync in turn"].append(sync_calls(sync_client, reads * len(clients)))
        print("  round %d/%d: pve %.1f us, awaited %.1f us, hand-over %.1f us; one share "
              "%.0f ms, four at once %.0f ms, synchronous in turn %.0f ms"
              % (r + 1, rounds, rows["sync"][-1] * 1e6, rows["awaited"][-1] * 1e6,
                 rows["hand-over"][-1] * 1e6, rows["one share"][-1] * 1e3,
                 rows["all shares"][-1] * 1e3, rows["sync in turn"][-1] * 1e3), flush=True)
    medians = {k: statistics.median(v) for k, v in rows.items()}
    # Ratios of the same round: both sides met the same load.
    medians["call ratio"] = statistics.median(a / s for a, s in zip(rows["awaited"], rows["sync"]))
    medians["share ratio"] = statistics.median(
        f / o for f, o in zip(rows["all shares"], rows["one share"]))
    return medians


def verdict(value, goal):
    return "%.2f (goal: at most %.1f) %s" % (value, goal, "met" if value <= goal else "MISSED")


def summary(title, m, reads):
    print("%s, medians:" % title)
    print("  synchronous pve:      %9.1f us   (client CPU %.1f us)"
          % (m["sync"] * 1e6, m["sync cpu"] * 1e6))
    print("  awaited pve:          %9.1f us   (client CPU %.1f us) ratio %s"
          % (m["awaited"] * 1e6, m["awaited cpu"] * 1e6, verdict(m["call ratio"], 1.5)))
    print("  hand-over alone:      %9.1f us   (through a queue and call_soon_threadsafe: %.1f us)"
          % (m["hand-over"] * 1e6, m["queue hand-over"] * 1e6))
    print("  one share (%d reads): %7.1f ms" % (reads, m["one share"] * 1e3))
    print("  four shares at once:  %9.1f ms   ratio to one share %s"
          % (m["all shares"] * 1e3, verdict(m["share ratio"], 1.5)))
    print("  synchronous in turn:  %9.1f ms" % (m["sync in turn"] * 1e3))


async def run(zl, services, args):
    orb = services[0].orb_options
    sync_client = zl.Client(orb)
    assert sync_client.connect(DATABASES[0]) == 0
    results = []
    async with contextlib.AsyncExitStack() as stack:
        clients = []
        for name in DATABASES:
            client = await stack.enter_async_context(zl.aio.Client(orb))
            assert await client.connect(name) == 0, name
            clients.append(client)
        sync_calls(sync_client, 200)  # warm every connection and thread up
        for client in clients:
            await awaited_calls(client, 200)
        print("loopback:")
        results.append(("loopback", args.reads,
                        await measure(sync_client, clients, args.rounds, args.calls, args.reads)))
        slow_reads = max(1, args.reads // 10)
        for s in services:
            assert s.control("delay PVE %d count=1000000" % args.latency) == "OK"
        try:
            print("server latency %d ms:" % args.latency)
            results.append(("server latency %d ms" % args.latency, slow_reads,
                            await measure(sync_client, clients, args.rounds,
                                          max(1, args.calls // 20), slow_reads)))
        finally:
            for s in services:
                s.control("clear")
    sync_client.disconnect()
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.environ.get("ZL_BUILD_DIR", "build"))
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--calls", type=int, default=1000,
                        help="calls per round of the single-call kinds (a twentieth with latency)")
    parser.add_argument("--reads", type=int, default=2000,
                        help="pve calls of one share (a tenth with latency)")
    parser.add_argument("--latency", type=int, default=1, help="the server's delay, ms")
    parser.add_argument("--processes", action="store_true",
                        help="one zelvik-sim per database instead of one for all")
    args = parser.parse_args()
    build = (REPO / args.build).resolve()
    for needed in (build / "sim" / "zelvik-sim", build / "python"):
        if not needed.exists():
            sys.exit("aio_bench: %s is missing" % needed)

    os.environ["OMNIORB_CONFIG"] = "/dev/null"
    os.environ.setdefault("Zelvik_Interface", "127.0.0.1")
    sys.path[:0] = [str(build / "python"), str(REPO / "tools")]
    import zl
    import zl.aio
    from zl_services import Services

    sim = build / "sim" / "zelvik-sim"
    with contextlib.ExitStack() as stack:
        if args.processes:
            services = [stack.enter_context(Services(databases=DATABASES[:1], sim=sim))]
            naming = "corbaloc::127.0.0.1:%d/NameService" % services[0].naming_port
            services += [stack.enter_context(Services(databases=[name], sim=sim, naming=naming))
                         for name in DATABASES[1:]]
        else:
            services = [stack.enter_context(Services(databases=DATABASES, sim=sim))]
        setup = zl.Client(services[0].orb_options)
        for name in DATABASES:
            assert setup.connect(name) == 0, name
            setup.download("%s\t\t\tAnalog\n" % TAG)
        setup.disconnect()
        results = asyncio.run(run(zl, services, args))

    print()
    print("%d rounds, %s" % (args.rounds, "one zelvik-sim per database" if args.processes
                             else "one zelvik-sim for the four databases"))
    for title, reads, m in results:
        summary(title, m, reads)
    return 0


if __name__ == "__main__":
    sys.exit(main())
