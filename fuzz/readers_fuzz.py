#!/usr/bin/python3
"""Mutation fuzzing of the zl command's file readers: test logs, log set
files, tag files and stored-values files.

Each input is written to a file and handed to the commands that read that
kind of file, the way a user runs them (the command's `main`, below the
command line's last-resort handler, so that a fault shows as what it is). An
input finds a fault when a command

  - raises anything (a traceback for the user),
  - exits with a status its page does not document,
  - writes more than one line to standard error,
  - writes a control character (other than TAB and line ends) to standard
    output or error, where it would act on the terminal,
  - writes JSON that a strict parser refuses (bare NaN, Infinity) or JUnit
    XML that is not well-formed.

Inputs are real files (fuzz/corpus/py_<reader>/seed-*) changed by stacked
random mutations: bit flips, bytes and 32-bit integers set to boundary
values, ranges cut, repeated or moved, pieces of other seeds spliced in, and
words of the formats (numbers that do not read, integers beyond Python's
digit limit, bad UTF-8, escape sequences) inserted. Every input that found
a fault is kept as fuzz/corpus/py_<reader>/regress-*; the tests replay them
(tests/python/test_cli_readers.py).

    fuzz/readers_fuzz.py [--seconds N] [--seed N] [--artifacts DIR] [READER...]
    fuzz/readers_fuzz.py --replay [READER...]

Bounded: each run fuzzes N seconds per reader (default 30); each input at
most 64 KiB, checked within 10 s; the process's address space is limited to
1 GiB, so a reader that allocates by what a length field claims fails with
MemoryError, a fault. Exit status 0 when no input found a fault, 1 after
the first one (its input is written to the artifacts directory), 2 for bad
arguments.
"""
import argparse
import glob
import io
import json
import os
import random
import re
import resource
import signal
import struct
import sys
import tempfile
import time
import traceback
import types
import xml.etree.ElementTree as ET
from pathlib import Path

HERE = Path(__file__).resolve().parent
SOURCES = HERE.parent / "python"


def _package_of_the_sources() -> None:
    """Makes `import zl` give the package's modules from the sources without
    running its __init__, which loads the extension module (built only in a
    build tree): the readers and the file tools need none. An extension on
    the path (PYTHONPATH=build/python) is still found as zl._zl, for
    zl verify."""
    package = types.ModuleType("zl")
    package.__path__ = [str(SOURCES / "zl")] + [
        os.path.join(entry or ".", "zl") for entry in sys.path
        if glob.glob(os.path.join(entry or ".", "zl", "_zl.*.so"))]
    sys.modules["zl"] = package


if "zl" not in sys.modules:  # imported by the tests, which have the whole package
    _package_of_the_sources()

from zl import cli  # noqa: E402

READERS = ("testlog", "logset", "tagfile", "storevals")
MAX_LEN = 64 << 10
INPUT_TIMEOUT_S = 10
ADDRESS_SPACE = 1 << 30
# What must never reach a terminal: C0 controls but TAB, LF and CR; DEL; C1.
_UNSAFE = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f\x7f-\x9f]")

# (command line after the file name, exit statuses its page documents)
# (docs/tools/exit-status.md: 1 a negative answer, 3 a file that is empty,
# of another kind or damaged; 2, 4 and 70 never come from a file's bytes).
_RUNS = {
    "testlog": [(["report", "{file}", "--junit", "{dir}/r.xml", "--html", "{dir}/r.html"],
                 {0, 3}),
                (["report", "{file}", "--junit", "{dir}/r.xml", "--fail-on-failure"],
                 {0, 1, 3})],
    "logset": [(["logset", "{file}"], {0, 3}),
               (["logset", "{file}", "--csv"], {0, 3}),
               (["logset", "{file}", "--json"], {0, 3}),
               (["logset", "{file}", "--csv", "--tags", "FIC101,{tag}"], {0, 3})],
    "tagfile": [(["tagfile", "{file}"], {0, 3})],
    "storevals": [(["storevals", "{file}"], {0, 3})],
}

# Runs too slow for every input (a plot takes a tenth of a second): every
# committed input, and one generated input in HEAVY_EVERY.
_HEAVY = {"logset": [(["logset", "{file}", "--plot", "{dir}/p.png"], {0, 1, 3})]}
HEAVY_EVERY = 16
try:
    import matplotlib  # noqa: F401
except ImportError:
    _HEAVY = {}

try:  # zl verify needs the extension module's digest; fuzzed where it is built
    import zl._zl  # noqa: F401
    _RUNS["testlog"].append((["verify", "{file}"], {0, 1}))
except ImportError:
    pass

WORDS = [
    b"1.2.3", b"9" * 5000, b"-0", b"nan", b"inf", b"1e999", b"\xff\xfe", b"\xc3", b"\xed\xa0\x80",
    b"\0", b"\x1b[2J", b"\x1b]0;x\x07", b"\x9b", b"\xef\xbf\xbe", b"\r", b"\n", b"\t", b"'",
    b"Starting test '", b"Closing test log after ", b" mins ", b" secs at ", b"#$CHECK:",
    b"**", b"__", b"##", b"  Scenario was aborted by StopScenario()",
    b"__Unknown exception aborted scenario.", b"Verification <", b"> = ", b" passed Value is ",
    b" FAILED Value is ", b"00:00:00.000\t", b"_HD_", b"_FO_", b"_DE_", b"_TA_", b"_ZZ_",
    b"SCMT", b"STMA", b"SVFY", b"SASR", b"STAG", b"ZTFH",
    struct.pack("<d", float("nan")), struct.pack("<d", float("inf")),
    struct.pack("<d", float("-inf")), struct.pack("<d", 1e308),
]
_INTS = [0, 1, 24, 25, 26, 0x7F, 0x80, 0xFF, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000,
         0xFFFFFFFF, (1 << 20) + 25, (1 << 20) + 26]


def corpus_dir(reader):
    return HERE / "corpus" / ("py_" + reader)


def seeds(reader):
    return sorted(corpus_dir(reader).glob("*"))


def regression_inputs():
    """(reader, path) of every committed input that once found a fault."""
    return [(r, p) for r in READERS for p in seeds(r) if p.name.startswith("regress-")]


class Fault(AssertionError):
    pass


class _Timeout(BaseException):
    pass


def _on_alarm(signum, frame):
    raise _Timeout()


_parser = None  # the command line's parser, built once


def _run(argv):
    """Runs one zl command in this process below its last-resort handler:
    (status, stdout, stderr); what it raises goes on up."""
    global _parser
    if _parser is None:
        _parser = cli.build_parser()
    args = _parser.parse_args(argv)
    out, err = io.StringIO(), io.StringIO()
    saved = sys.stdout, sys.stderr
    sys.stdout, sys.stderr = out, err
    try:
        status = cli._load(args._module).main(args)
    finally:
        sys.stdout, sys.stderr = saved
    return status, out.getvalue(), err.getvalue()


def _refuse_constant(name):
    raise ValueError("bare %s" % name)


def _check_run(reader, argv, allowed, workdir):
    status, out, err = _run(argv)
    where = " ".join(argv)
    if status not in allowed:
        raise Fault("%s: exit status %r, documented: %s" % (where, status, sorted(allowed)))
    if err.count("\n") > 1:
        raise Fault("%s: %d lines on standard error: %r" % (where, err.count("\n"), err[:300]))
    bad = _UNSAFE.search(out + err)
    if bad:
        raise Fault("%s: control character %r written to the terminal" % (where, bad.group()))
    if "--json" in argv and status == 0:
        try:
            json.loads(out, parse_constant=_refuse_constant)
        except ValueError as e:
            raise Fault("%s: not strict JSON: %s" % (where, e))
    if "--junit" in argv:
        junit = os.path.join(workdir, "r.xml")
        if os.path.exists(junit):
            try:
                ET.parse(junit)
            except ET.ParseError as e:
                raise Fault("%s: JUnit XML not well-formed: %s" % (where, e))
            os.unlink(junit)


def check(reader, data, label="input", heavy=True):
    """Runs every command of `reader` on `data` (with `heavy`, also the slow
    ones); raises Fault (an AssertionError) naming what went wrong."""
    with tempfile.TemporaryDirectory(prefix="zl-readers-fuzz-") as workdir:
        path = os.path.join(workdir, "input" + (".tlg" if reader == "testlog" else ""))
        with open(path, "wb") as f:
            f.write(data)
        tag = "T%d" % (len(data) % 7)
        for argv, allowed in _RUNS[reader] + (_HEAVY.get(reader, []) if heavy else []):
            argv = [a.format(file=path, dir=workdir, tag=tag) for a in argv]
            previous = signal.signal(signal.SIGALRM, _on_alarm)
            signal.alarm(INPUT_TIMEOUT_S)
            try:
                _check_run(reader, argv, allowed, workdir)
            except Fault as e:
                raise Fault("%s: %s" % (label, e)) from None
            except _Timeout:
                raise Fault("%s: %s took more than %d s"
                            % (label, " ".join(argv), INPUT_TIMEOUT_S)) from None
            except BaseException as e:  # noqa: BLE001 (anything raised is the fault)
                raise Fault("%s: %s raised %s\n%s" % (
                    label, " ".join(argv), type(e).__name__,
                    "".join(traceback.format_exception(e)[-6:]))) from None
            finally:
                signal.alarm(0)
                signal.signal(signal.SIGALRM, previous)


def mutate(data, pool, rng):
    """`data` changed by one to four stacked mutations."""
    b = bytearray(data)
    for _ in range(rng.randint(1, 4)):
        op = rng.randrange(9)
        n = len(b)
        i = rng.randrange(n + 1)
        if op == 0 and n:                                   # flip a bit
            b[min(i, n - 1)] ^= 1 << rng.randrange(8)
        elif op == 1 and n:                                 # a boundary byte
            b[min(i, n - 1)] = rng.choice((0, 1, 0x7F, 0x80, 0xFF, 0x09, 0x0A, 0x1B))
        elif op == 2 and n >= 4:                            # a boundary u32
            j = min(i, n - 4)
            b[j:j + 4] = struct.pack("<I", rng.choice(_INTS))
        elif op == 3:                                       # insert a word
            b[i:i] = rng.choice(WORDS)
        elif op == 4 and n:                                 # cut a range
            del b[i:i + rng.randint(1, 64)]
        elif op == 5 and n:                                 # repeat a range
            j = rng.randrange(n)
            b[i:i] = b[j:j + rng.randint(1, 256)] * rng.randint(1, 8)
        elif op == 6 and n:                                 # cut the end
            del b[rng.randrange(n):]
        elif op == 7 and pool:                              # splice another seed
            other = rng.choice(pool)
            j = rng.randrange(len(other) + 1)
            b[i:] = other[j:j + rng.randint(1, 4096)] + b[i:]
        elif op == 8:                                       # random bytes
            b[i:i] = os.urandom(rng.randint(1, 32))
    return bytes(b[:MAX_LEN])


def fuzz(reader, seconds, rng, artifacts):
    pool = [p.read_bytes()[:MAX_LEN] for p in seeds(reader)]
    if not pool:
        print("readers_fuzz: no seeds in %s" % corpus_dir(reader), file=sys.stderr)
        return 1
    runs = 0
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        data = mutate(rng.choice(pool), pool, rng)
        try:
            check(reader, data, heavy=runs % HEAVY_EVERY == 0)
        except Fault as e:
            os.makedirs(artifacts, exist_ok=True)
            name = os.path.join(artifacts, "crash-%s-%d" % (reader, int(time.time() * 1000)))
            with open(name, "wb") as f:
                f.write(data)
            print("readers_fuzz: %s: fault after %d runs: %s\nreaders_fuzz: reproducer: %s"
                  % (reader, runs, e, name), file=sys.stderr)
            return 1
        runs += 1
    print("readers_fuzz: %s: %ds, %d runs, %.0f runs/s, %d seeds"
          % (reader, seconds, runs, runs / max(seconds, 1), len(pool)))
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("readers", nargs="*", metavar="READER", help=", ".join(READERS))
    parser.add_argument("--seconds", type=int, default=30)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--artifacts", default=os.path.join(tempfile.gettempdir(),
                                                             "zl-readers-fuzz"))
    parser.add_argument("--replay", action="store_true",
                        help="only check every committed input once")
    args = parser.parse_args(argv)
    for r in args.readers:
        if r not in READERS:
            parser.error("unknown reader %r (readers: %s)" % (r, ", ".join(READERS)))
    resource.setrlimit(resource.RLIMIT_AS, (ADDRESS_SPACE, ADDRESS_SPACE))
    seed = args.seed if args.seed is not None else int.from_bytes(os.urandom(4), "little")
    print("readers_fuzz: random seed %d" % seed)
    rng = random.Random(seed)
    for reader in args.readers or READERS:
        try:  # every committed input first
            for p in seeds(reader):
                check(reader, p.read_bytes(), str(p))
        except Fault as e:
            print("readers_fuzz: %s: committed input: %s" % (reader, e), file=sys.stderr)
            return 1
        print("readers_fuzz: %s: %d committed inputs replayed" % (reader, len(seeds(reader))))
        if not args.replay and fuzz(reader, args.seconds, rng, args.artifacts):
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
