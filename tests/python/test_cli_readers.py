"""The zl command's file readers on hostile and odd input: one verdict on a
run for every tool, a one-line error and the documented exit status on any
file, output that stays safe (terminal, XML, JSON), and memory that does not
grow with tags × times. No server needed."""

import json
import math
import os
import shutil
import struct
import subprocess
import sys
import tracemalloc
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

from cli_support import zl
from zl.readers import testlog
from zl.readers import LogSet

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "fuzz"))
import readers_fuzz  # noqa: E402

STAMP = "00:00:00.100"
START = "00:00:00.000\tStarting test 'a.scn' at Thu Dec 10 05:47:48 2026\n"
CLOSE = "00:00:01.000\tClosing test log after 0 mins 1.0 secs at Thu Dec 10 05:47:49 2026\n"
PASS = STAMP + "\t  Verification <A> = 1.000000 passed Value is 1.000000\n"


# (test log, verdict, its reasons)
VERDICTS = [
    (START + PASS + CLOSE, "passed", []),
    # a failed check
    (START + STAMP + "\t**Verification <A> = 2.000000 FAILED Value is 1.000000\n" + CLOSE,
     "failed", ["1 failed check(s)"]),
    # stored values that could not be written: "##" is an error
    (START + STAMP + "\t## Could not open file to store tag values\n" + CLOSE,
     "failed", ["1 error(s)"]),
    (START + STAMP + "\t##Client cmd, TOOLBOOK, could not be executed because none\n" + CLOSE,
     "failed", ["1 error(s)"]),
    # a statement error
    (START + STAMP + "\t__Unknown scenario keyword, 'X'\n" + CLOSE, "failed", ["1 error(s)"]),
    # stopped
    (START + PASS + STAMP + "\t  Scenario was aborted by StopScenario()\n\n", "aborted",
     ["aborted: Scenario was aborted by StopScenario()", "1 error(s)"]),
    # ended by an exception
    (START + STAMP + "\t__Unknown exception aborted scenario.\n\n", "aborted",
     ["aborted: Unknown exception aborted scenario.", "1 error(s)"]),
    # no closing line: still running, or its process died
    (START + PASS, "aborted", [testlog.NOT_ENDED, "1 error(s)"]),
    # comments and information lines judge nothing
    (START + STAMP + "\t# ** __ ##\n" + STAMP + "\t  Monitoring tag <A> = 1.0\n" + CLOSE,
     "passed", []),
    # a closing line whose numbers do not read still closes the run
    (START + PASS + "00:00:01.000\tClosing test log after 0 mins 1.2.3 secs at ?\n",
     "passed", []),
]


@pytest.mark.parametrize("text,outcome,reasons", VERDICTS, ids=[
    "passed", "failure", "storevals-not-written", "client-command", "statement-error",
    "stopped", "exception", "not-ended", "information-only", "unreadable-duration"])
def test_one_verdict_for_every_tool(tmp_path, text, outcome, reasons):
    log = testlog.parse(text.encode())
    verdict = testlog.judge(log.sections[0])
    assert (verdict.outcome, verdict.reasons) == (outcome, reasons)

    # zl report agrees: its exit status and its JUnit counts
    path, junit = tmp_path / "a.tlg", tmp_path / "a.xml"
    path.write_text(text)
    status, _, _ = zl("report", path, "--junit", junit, "--fail-on-failure")
    assert status == (0 if outcome == "passed" else 1)
    suite = ET.parse(junit).getroot().find("testsuite")
    bad = int(suite.get("failures")) + int(suite.get("errors"))
    assert (bad == 0) == (outcome == "passed")


def huge(n=5000):
    return "9" * n  # beyond Python's digits limit for int()


# (test log bytes) that once ended in a traceback or worse
HOSTILE_LOGS = [
    # a number with two dots in the closing line
    (START + PASS + "00:00:01.000\tClosing test log after 0 mins 1.2.3 secs at x\n").encode(),
    # integers beyond Python's digit limit
    (START + PASS + "00:00:01.000\tClosing test log after %s mins 1.0 secs at x\n"
     % huge()).encode(),
    (START + "%s:00:00.000\t**x\n" % huge()).encode(),
    # bad UTF-8, NUL bytes, a line cut short
    START.encode() + b"00:00:00.100\t**Verification <\xff\xfe> \0 FAILED\n" + CLOSE.encode(),
    (START + PASS)[:-20].encode(),
    # a check line without its stamp's tab
    (START + "**x\n" + CLOSE).encode(),
]


@pytest.mark.parametrize("data", HOSTILE_LOGS, ids=[
    "two-dots", "minutes-beyond-digit-limit", "hours-beyond-digit-limit", "bad-utf8-nul",
    "cut-short", "no-tab"])
def test_test_log_readers_never_raise(tmp_path, data):
    path = tmp_path / "h.tlg"
    path.write_bytes(data)
    status, _, err = zl("report", path, "--junit", tmp_path / "h.xml", "--html", tmp_path / "h.h")
    assert status == 0 and err == ""
    ET.parse(tmp_path / "h.xml")
    status, out, err = zl("verify", path)
    assert status == 1 and err == "" and ": valid" not in out


PNG = b"\x89PNG\r\n\x1a\n" + bytes(64)


@pytest.mark.parametrize("command,data,message", [
    # an empty file is an error, not an empty result
    ("report", b"", "empty file"),
    ("logset", b"", "empty file"),
    ("tagfile", b"", "empty file"),
    ("storevals", b"", "empty file"),
    # a file of another kind is named so, not decoded into nonsense or a pass
    ("report", PNG, "not a test log"),
    ("logset", PNG, "not a log set file"),
    ("tagfile", PNG, "not a tag file"),
    ("storevals", PNG, "not a stored-values file"),
])
def test_empty_or_foreign_file_is_an_error(tmp_path, command, data, message):
    path = tmp_path / "x.tlg"
    path.write_bytes(data)
    extra = ["--junit", tmp_path / "x.xml"] if command == "report" else []
    got, out, err = zl(command, path, *extra)
    assert got == 3, (out, err)
    assert err.startswith("zl %s: %s: %s" % (command, path, message)), err
    assert err.count("\n") == 1 and "passed" not in out


@pytest.mark.parametrize("argv,message", [
    (["report", "a.tlg"], "give --junit FILE, --html FILE or both"),
    (["ls", "["], "invalid pattern '['"),
    (["ls", "--ns", "nowhere"], "not a naming service address"),
    (["run", "a.scn", "--interval", "0"], "must be above 0"),
    (["logset", "a.log", "--csv", "--json"], "not allowed with argument"),
    (["nosuch"], "invalid choice"),
])
def test_usage_errors_have_one_prefix_and_status(argv, message):
    got, out, err = zl(*argv)
    assert got == 2 and out == ""
    lines = err.splitlines()
    error = lines[-1]
    assert lines[0].startswith("usage: zl")
    assert error.startswith("zl %s: " % argv[0] if argv[0] != "nosuch" else "zl: "), err
    assert message in error, err


NASTY = "\x1b]0;owned\x07\x1b[2J\x01\x0b\x7f\x9b\u202e\ufffe"


def test_junit_and_html_hold_only_allowed_characters(tmp_path):
    text = (START.replace("a.scn", "a" + NASTY + ".scn")
            + STAMP + "\t**Verification <T" + NASTY + "> = 1 FAILED Value is 0\n"
            + STAMP + "\t__" + NASTY + "\n" + CLOSE)
    path, junit, page = tmp_path / "n.tlg", tmp_path / "n.xml", tmp_path / "n.html"
    path.write_bytes(text.encode() + b"\xff")
    assert zl("report", path, "--junit", junit, "--html", page)[0] == 0
    root = ET.parse(junit).getroot()
    assert root.find("testsuite").get("failures") == "1"
    assert "\\x1b]0;owned\\x07" in junit.read_text()
    if shutil.which("xmllint"):
        done = subprocess.run(["xmllint", "--noout", str(junit)], capture_output=True)
        assert done.returncode == 0, done.stderr
    for report in (junit, page):
        assert not set(report.read_text()) & set("\x1b\x07\x01\x0b\x7f\x9b\ufffe")


def logset_record(kind, ms, value=0.0, mode=0, text=b"", value2=0.0):
    """One log set record as docs/log-set-file.md lays it out."""
    return kind + struct.pack("<IIddI", 25 + len(text), ms, value, value2, mode) + text + b"\0"


def tag_record(kind, payload):
    return kind + struct.pack("<I", len(payload)) + payload


def stored_value(name, value):
    return struct.pack("<H", len(name) + 1) + name + b"\0" + struct.pack("<d", value)


EVIL = b"\x1b]0;owned\x07\x1b[2J\x9b"


@pytest.mark.parametrize("command,data", [
    ("logset", logset_record(b"_HD_", 0, mode=1, text=EVIL)
     + logset_record(b"SCMT", 5, text=EVIL) + logset_record(b"\x1b[2J", 5, text=EVIL)),
    ("tagfile", tag_record(b"ZTFH", EVIL)
     + tag_record(b"STAG", b"\t".join([EVIL] * 15)) + tag_record(b"\x1b[2J", EVIL)),
    ("storevals", stored_value(EVIL, 1.0)),
    ("verify", (START.replace("a.scn", EVIL.decode("latin-1")) + PASS).encode("latin-1")),
], ids=["logset", "tagfile", "storevals", "verify"])
def test_file_texts_reach_the_terminal_escaped(tmp_path, command, data):
    path = tmp_path / ("f.tlg" if command == "verify" else "f.bin")
    path.write_bytes(data)
    _, out, err = zl(command, path)
    assert "\\x1b]0;owned" in out
    assert not set(out + err) & set("\x1b\x07\x9b")


def test_logset_json_is_strict(tmp_path):
    path = tmp_path / "v.log"
    path.write_bytes(b"".join(
        logset_record(b"_TA_", i, v, 1, b"A") for i, v in
        enumerate([1.0, math.nan, math.inf, -math.inf])))
    status, out, _ = zl("logset", path, "--json")

    def refuse(name):
        raise AssertionError("bare %s in JSON" % name)
    assert status == 0
    values = json.loads(out, parse_constant=refuse)["values"]["A"]
    assert values == [1.0, "NaN", "Infinity", "-Infinity"]


def test_logset_memory_does_not_grow_with_tags_times_times(tmp_path):
    # 3000 tags, each written once at a moment of its own: a tags × times
    # table would hold 9 million cells.
    path = tmp_path / "wide.log"
    path.write_bytes(b"".join(logset_record(b"_TA_", i, 1.0, 1, b"T%d" % i)
                              for i in range(3000)))
    for argv in ([], ["--csv", "--tags", "T7"]):
        tracemalloc.start()
        try:
            status, out, _ = zl("logset", path, *argv)
            peak = tracemalloc.get_traced_memory()[1]
        finally:
            tracemalloc.stop()
        assert status == 0 and out
        assert peak - len(out) * 4 < 8 << 20, (argv, peak)


def test_regression_inputs_of_the_fuzzer():
    """Every input the reader fuzzing found a fault with, replayed."""
    inputs = readers_fuzz.regression_inputs()
    assert inputs
    for reader, path in inputs:
        readers_fuzz.check(reader, path.read_bytes(), label=str(path))


@pytest.mark.parametrize("value,text", [
    (0.0, "0.0"),
    (-0.0, "-0.0"),                        # the sign of zero is kept
    (1.25, "1.25"),                        # trailing zeros trimmed to one place
    (5e-07, "0.0"),                        # 17 digits: 4.9999999999999998e-07 rounds down
    (6e-07, "0.000001"),                   # a carry into a new leading digit
    (9.9999995, "9.999999"),               # 9.99999949999999971
    (0.9999996, "1.0"),                    # carried through every digit
    (123456.0000004, "123456.0"),
    (1e33, "999999999999999950000000000000000.0"),  # digits past the 17th are zeros
    (1e300, "???"),                        # no point within 40 characters
    (math.nan, "***"),
    (-math.inf, "***"),
])
def test_record_numbers_as_the_library_writes_them(value, text):
    from zl.readers.logset_file import format_fixed
    assert format_fixed(value) == text


# Records whose lines the library and the Python reader must render alike:
# every kind, and the numbers where fixed-point text goes wrong first.
RENDERED = [
    logset_record(b"_HD_", 0, mode=1796881669, text=b"DEMO"),
    logset_record(b"_FO_", 0, mode=1),
    logset_record(b"_DE_", 0, mode=9),
    *[logset_record(b"_TA_", ms, v, mode, b"FIC101") for ms, v, mode in [
        (0, 0.0, 1), (1, -0.0, 0), (999, 1.25, 1), (60000, 5e-07, 1), (61001, 6e-07, 1),
        (3599999, 9.9999995, 1), (3600000, 0.9999996, 1), (4294967295, 123456.0000004, 1),
        (5, 1e33, 1), (6, 1e300, 1), (7, math.nan, 1), (8, -math.inf, 1), (9, -2.5, 0x80000000),
        (10, 1.0 / 3.0, 1), (11, -1e-300, 1), (12, 2.0 ** 53 + 1, 1)]],
    logset_record(b"_TA_", 13, 12.5, 0x10000, b""),          # a constant: no name
    logset_record(b"STMA", 14, 3.5, 0, b"TIC200"),
    logset_record(b"STAU", 15, 4.5, 0, b"TIC200"),
    logset_record(b"SVFY", 16, 2.0, 0, b"TIC200", value2=2.0),
    logset_record(b"SVFY", 17, 2.0, 0, b"TIC200", value2=2.1),
    logset_record(b"SASR", 18, 1.0, 0, b"TIC200", value2=-1.0),
    logset_record(b"SCMT", 19, 0.0, 0, b"C" * 79),             # the longest text: a cut line
    logset_record(b"XYZ", 20, 1.5, 0xdeadbeef, b"odd kind", value2=-7.25),
    logset_record(b"_ZZ_", 21, 0.0, 0, b"DEMO"),
]


def test_python_lines_are_the_librarys(tmp_path):
    render = os.environ.get("ZL_LOGSET_RENDER")
    if not render:
        pytest.skip("ZL_LOGSET_RENDER (the build's logset_render) is not set")
    path = tmp_path / "render.log"
    path.write_bytes(b"".join(RENDERED))
    done = subprocess.run([render, str(path)], capture_output=True, check=True)
    library = done.stdout.decode("latin-1").split("\n")[:-1]
    python = list(LogSet(path).lines())
    assert len(library) == len(RENDERED)
    for want, got in zip(library, python):
        assert got == want


@pytest.mark.parametrize("values,status", [
    ([1.0, math.inf, math.nan, 2.0, -math.inf], 0),   # values that cannot be drawn are gaps
    ([1.0, -1e308, 1e308], 1),     # a range beyond the largest double: a one-line error
], ids=["gaps", "range-too-wide"])
def test_logset_plot_of_odd_names_and_values(tmp_path, values, status):
    pytest.importorskip("matplotlib")
    # the name is what matplotlib would read as broken math notation
    path, png = tmp_path / "odd.log", tmp_path / "odd.png"
    path.write_bytes(b"".join(logset_record(b"_TA_", i * 1000, v, 1, b"$x^{$")
                              for i, v in enumerate(values)))
    got, _, err = zl("logset", path, "--plot", png)
    assert got == status and err.count("\n") == status, err
    if status == 0:
        assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_report_html_shows_comments_and_subtests_and_last_run(tmp_path):
    run = (START + STAMP + "\t# filling the tank\n"
           + STAMP + "\tSubtest 'DRAIN.SCN' started--nest level 1\n"
           + STAMP + "\t**Verification <B> = 2.000000 FAILED Value is 1.000000\n"
           + STAMP + "\tSubtest 'DRAIN.SCN' finished--was nest level 1\n" + PASS + CLOSE)
    path, junit, page = tmp_path / "s.tlg", tmp_path / "s.xml", tmp_path / "s.html"
    path.write_text(START.replace("a.scn", "first.scn") + PASS + CLOSE + "\n" + run)
    assert zl("report", path, "--html", page, "--junit", junit)[0] == 0
    assert len(ET.parse(junit).getroot().findall("testsuite")) == 2

    status, out, _ = zl("report", path, "--html", page, "--junit", junit, "--last",
                        "--fail-on-failure")
    assert status == 1 and "1 run(s)" in out   # the last run alone, and it failed
    suites = ET.parse(junit).getroot().findall("testsuite")
    assert [s.get("name")[:7] for s in suites] == ["'a.scn'"]
    text = page.read_text()
    assert "first.scn" not in text
    # in the order of the log: the comment, the subtest around its check
    order = [text.index(t) for t in ("# filling the tank", "subtest DRAIN.SCN started",
                                     "Verification &lt;B&gt;", "subtest DRAIN.SCN finished",
                                     "Verification &lt;A&gt;")]
    assert order == sorted(order), text
    # the check inside the subtest is indented one level deeper than the one after it
    assert "padding-left:2.0em\">Verification &lt;B&gt;" in text
    assert "padding-left:0.5em\">Verification &lt;A&gt;" in text


@pytest.mark.parametrize("columns,groups", [
    # ranges alike: one axis, a legend tells them apart
    ({"A": [1.0, 5.0], "B": [2.0, 8.0]}, [["A", "B"]]),
    # a flow of hundreds beside a level of 2: an axis each
    ({"FLOW": [0.0, 500.0], "LEVEL": [1.9, 2.1]}, [["FLOW"], ["LEVEL"]]),
    # a tag without a drawable value gets no axis
    ({"A": [1.0, 2.0], "GONE": [None, math.nan]}, [["A"]]),
])
def test_plot_axes_for_tags_of_different_ranges(columns, groups):
    from zl.cli import logset
    from zl.readers import logset_file
    s = logset_file.Series(list(columns), [0.0, 1.0], columns)
    assert logset.axis_groups(s) == groups


def test_logset_plot_in_clock_time(tmp_path):
    pytest.importorskip("matplotlib")
    path, png = tmp_path / "c.log", tmp_path / "c.png"
    path.write_bytes(logset_record(b"_HD_", 0, mode=1796881669, text=b"C")
                     + b"".join(logset_record(b"_TA_", i * 1000, v, 1, name)
                                for i, (name, v) in enumerate(
                                    [(b"FLOW", 0.0), (b"LEVEL", 2.0), (b"FLOW", 400.0)])))
    assert zl("logset", path, "--plot", png, "--clock") == (0, "", "")
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
