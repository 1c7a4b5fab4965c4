#!/usr/bin/python3
"""The `zl serve` page under load: change-to-screen latency and CPU.

Starts its own services (database SIM with 100 analog tags B0000..B0098 and
MARK), a `zl serve` and a headless Chromium showing the page, then for each
rate (default 1,000 and 10,000 changes/s) pushes tag changes through the
server's control endpoint (batches of 99 changes, one per B tag) for
--seconds, and meanwhile, four times a second, a new value of MARK alone.
For each MARK value it takes the time from just before the push to the
moment the page's cell shows it (a MutationObserver in the page notes
Date.now() when the
table changes; same machine clock). It also takes the CPU time of the browser's
processes, of the renderer alone and of the `zl serve` process over the
load, in percent of one core.

Usage: bench/serve_bench.py [--build DIR] [--rates 1000,10000] [--seconds 10]
"""

import argparse
import os
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
TAGS = 99
MARKS_PER_S = 4
OBSERVER = """
const body = document.querySelector('#tags tbody');
window.__seen = {};
new MutationObserver(() => {
  const cell = body.querySelector('tr[data-tag="MARK"] .value');
  if (cell && !(cell.textContent in window.__seen)) window.__seen[cell.textContent] = Date.now();
}).observe(body, {childList: true, characterData: true, subtree: true});
"""


def cpu_seconds(pid):
    """utime + stime of a process, in seconds (0 when it is gone)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def descendants(pid):
    """Every process below `pid`, with its command line."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                cmd = f.read().replace(b"\0", b" ").decode(errors="replace")
        except OSError:
            continue
        children.setdefault(ppid, []).append((int(entry), cmd))
    found, todo = [], [pid]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child[0])
    return found


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100.0 * (len(values) - 1))))]


def run_rate(services, page, browser_pid, serve_pid, rate, seconds):
    batch = "event seq " + " ".join("B%04d:{0}:0:Auto" % i for i in range(TAGS))
    period = TAGS / float(rate)
    page.execute_script("window.__seen = {};")
    stop = threading.Event()
    pushed = [0]

    def load():
        k, next_t = 0, time.perf_counter()
        while not stop.is_set():
            k += 1
            reply = services.control(batch.format(k))
            assert reply.startswith("OK"), reply
            pushed[0] += TAGS
            next_t += period
            delay = next_t - time.perf_counter()
            if delay > 0:
                time.sleep(delay)

    procs = [browser_pid] + [p for p, _ in descendants(browser_pid)]

    def cpu_of(pids):
        return {p: cpu_seconds(p) for p in pids}

    def spent(before, after):  # processes that lived through the whole window
        return sum(after[p] - before[p] for p in before if before[p] and after.get(p))
    renderers = [p for p, cmd in descendants(browser_pid) if "--type=renderer" in cmd]
    loader = threading.Thread(target=load)
    loader.start()
    time.sleep(1.0)  # warm up
    cpu0, r0 = cpu_of(procs), cpu_of(renderers)
    s0 = cpu_seconds(serve_pid)
    pushed0, wall0 = pushed[0], time.perf_counter()
    sent = {}
    mark = 0
    end = time.perf_counter() + seconds
    while time.perf_counter() < end:
        mark += 1
        text = str(100000 + mark)
        sent[text] = time.time() * 1000.0
        services.control("event seq MARK:%s:0:Auto" % text)
        time.sleep(1.0 / MARKS_PER_S)
    wall = time.perf_counter() - wall0
    cpu, rcpu = spent(cpu0, cpu_of(procs)), spent(r0, cpu_of(renderers))
    scpu = cpu_seconds(serve_pid) - s0
    achieved = (pushed[0] - pushed0) / wall
    shown_rate = page.execute_script(
        "return document.querySelector('#simstate').textContent.match(/(\\d+) changes/)[1]")
    stop.set()
    loader.join()
    time.sleep(1.0)
    seen = page.execute_script("return window.__seen;")
    latencies = [seen[t] - sent[t] for t in sent if t in seen]
    half = len(sent) // 2
    late = [seen[t] - sent[t] for t in list(sent)[half:] if t in seen]
    print("%6d changes/s asked, %6.0f pushed: latency median %.0f ms, p95 %.0f ms, "
          "max %.0f ms (second half: median %.0f ms); %d of %d marks shown; the page's "
          "received rate %s/s; CPU: browser %.0f%%"
          " (renderer %.0f%%), zl serve %.0f%%"
          % (rate, achieved, percentile(latencies, 50), percentile(latencies, 95),
             max(latencies), percentile(late, 50), len(latencies), len(sent), shown_rate,
             100 * cpu / wall, 100 * rcpu / wall, 100 * scpu / wall), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.environ.get("ZL_BUILD_DIR", "build"))
    parser.add_argument("--rates", default="1000,10000")
    parser.add_argument("--seconds", type=float, default=10.0)
    args = parser.parse_args()
    build = (REPO / args.build).resolve()
    os.environ["OMNIORB_CONFIG"] = "/dev/null"
    os.environ.setdefault("Zelvik_Interface", "127.0.0.1")
    os.environ["PYTHONPATH"] = str(build / "python")
    sys.path[:0] = [str(build / "python"), str(REPO / "tools"), str(REPO / "tests" / "python")]
    import zl
    from serve_browser import ServeProcess, chromium, quit_chromium, wait_for
    from zl_services import Services

    with Services(sim=build / "sim" / "zelvik-sim") as services:
        client = zl.Client(services.orb_options)
        assert client.connect("SIM") == 0
        client.download("".join("B%04d\t\t\tAnalog\n" % i for i in range(TAGS)) +
                        "MARK\t\t\tAnalog\n")
        os.environ["ZL_CLI"] = str(build / "bin" / "zl")
        serve = ServeProcess(services.naming_port, REPO / "bench")
        driver = chromium()
        try:
            driver.get(serve.url)
            assert wait_for(lambda: driver.execute_script(
                "return !!document.querySelector('tr[data-tag=\"MARK\"] .value')"))
            driver.execute_script(OBSERVER)
            browser_pid = driver.service.process.pid
            for rate in (int(r) for r in args.rates.split(",")):
                run_rate(services, driver, browser_pid, serve.popen.pid, rate, args.seconds)
        finally:
            quit_chromium(driver)
            serve.popen.send_signal(signal.SIGINT)
            serve.popen.wait(20)
        client.disconnect()
    return 0


if __name__ == "__main__":
    sys.exit(main())
