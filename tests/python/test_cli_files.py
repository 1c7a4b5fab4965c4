"""The zl command's file tools: report, sign, verify, logset, tagfile and
storevals, on files written by real runs against the plant and on small
files built here by the documented layouts."""

import json
import os
import re
import struct
import subprocess
import sys
import time
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

from cli_support import zl
from zl.readers import testlog

BOUND_S = 30.0
SIGNED_LINE = re.compile(rb"^#\$CHECK:[0-9a-f]{32}\r?\n", re.M)  # a whole check line

# Checks with known outcomes on tags of the plant that nothing moves
# (TEMP_SP 60, LEVEL_SP 2.5), a stored-values file and a log set file. The
# file is signed before it runs, so SAFETY VALID must validate it.
SCENARIO = """\
# report fixture
SAFETY VALID
VERIFY TEMP_SP 60
VERIFY TEMP_SP 61
VERIFY_GT TEMP_SP 50
ASSERT TEMP_SP 0
ASSERT TEMP_SP 60
NOSUCHWORD
MONITOR TEMP_SP 60
TVERIFY TEMP_SP 70 0 0.3
BEND
STOREVALS ZLF;TEMP_SP
ZLCMD LSCREATE ZLF
ZLCMD LSSET ZLF FILE zlf.log
ZLCMD LSADDTAGS ZLF TEMP_SP, LEVEL_SP
ZLCMD LSSNAP ZLF
SETPVE LEVEL_SP 3
DELAY 50
ZLCMD LSSNAP ZLF
SETPVE LEVEL_SP 2.5
ZLCMD LSDELETE ZLF
"""


def find(directory, name):
    """The file of `directory` named `name` without regard to case."""
    for p in Path(directory).iterdir():
        if p.name.lower() == name.lower():
            return p
    raise AssertionError("no %s in %s" % (name, directory))


@pytest.fixture(scope="module")
def runs(client, tmp_path_factory):
    """The scenario above run twice: its directory, scenario and test log."""
    work = tmp_path_factory.mktemp("runs")
    scn = work / "checks.scn"
    scn.write_text(SCENARIO)
    # the scenario's statement error is one of the fixtures: signed and run
    # without the check that would refuse it
    assert zl("sign", "--no-check", scn)[0] == 0
    tlg = work / "checks.tlg"
    here = os.getcwd()
    os.chdir(work)  # STOREVALS and the log set write into the current directory
    try:
        for n in (1, 2):
            assert client.startscenario(str(scn), "") > 0
            deadline = time.monotonic() + BOUND_S
            while not (tlg.exists() and len(SIGNED_LINE.findall(tlg.read_bytes())) == n):
                assert time.monotonic() < deadline, "run %d did not end" % n
                time.sleep(0.05)
    finally:
        os.chdir(here)
    return work, scn, tlg


def test_report_junit_and_html(runs, tmp_path):
    _, _, tlg = runs
    junit, page = tmp_path / "r.xml", tmp_path / "r.html"
    assert zl("report", tlg, "--junit", junit, "--html", page)[0] == 0
    assert zl("report", tlg, "--junit", junit, "--fail-on-failure")[0] == 1

    root = ET.parse(junit).getroot()
    suites = root.findall("testsuite")
    assert len(suites) == 2  # one per run
    for suite in suites:
        # VERIFY pass, VERIFY fail, VERIFY_GT pass, ASSERT fail (a passed
        # ASSERT writes nothing), unknown keyword, precheck pass, timed
        # failure, monitors passed, stored checksum valid.
        assert (suite.get("tests"), suite.get("failures"), suite.get("errors")) == ("9", "3", "1")
        cases = suite.findall("testcase")
        names = [c.get("name") for c in cases]
        assert names[0].startswith("Verification <TEMP_SP> = 60.000000 at 00:00:")
        failed = [c for c in cases if c.find("failure") is not None]
        assert [c.get("name").split(" at ")[0] for c in failed] == [
            "Verification <TEMP_SP> = 61.000000",
            "Assertion <TEMP_SP> = 0.00000E+00",
            "Timed Verification <TEMP_SP> = 70.000000"]
        # a failure names its test log line, which holds its text
        detail = failed[0].find("failure").text
        lineno = int(re.match(r"test log line (\d+): ", detail).group(1))
        line = tlg.read_text().splitlines()[lineno - 1]
        assert "**Verification <TEMP_SP> = 61.000000 FAILED Value is 60.000000" in line
        error = [c for c in cases if c.find("error") is not None]
        assert "Unknown scenario keyword, 'NOSUCHWORD'" in error[0].find("error").get("message")
        assert any(n.startswith("Stored checksum of ") for n in names)

    text = page.read_text()
    assert text.startswith("<!DOCTYPE html>") and "<style>" in text
    assert not re.search(r"<script|<link|https?://", text)  # nothing from the network
    assert text.count("<tr class=\"failure\">") == 6


def test_report_usage_and_bad_input(tmp_path):
    empty = tmp_path / "empty.tlg"
    empty.write_text("no run here\n")
    cases = [
        # neither report asked for: a usage error
        ((empty,), 2),
        # a missing log
        ((tmp_path / "missing.tlg", "--junit", tmp_path / "x.xml"), 3),
        # a log without a run
        ((empty, "--junit", tmp_path / "x.xml"), 3),
    ]
    for argv, status in cases:
        assert zl("report", *argv)[0] == status, argv


@pytest.mark.parametrize("line,outcome,name", [
    # each check line of the scenario engine, and what it becomes
    ("  Verification <A> = 1.000000 passed Value is 1.000000", "passed",
     "Verification <A> = 1.000000"),
    ("  Verification <A> = 0.00000E+00 passed Value is 0.00000E+00", "passed",
     "Verification <A> = 0.00000E+00"),
    ("**Assertion <A> > 1.000000 FAILED Value is 0.000000", "failure",
     "Assertion <A> > 1.000000"),
    ("  Precheck Timed Verification !(<A> = 1.000000) passed Value is 0.000000 after 0:00.000",
     "passed", "Precheck Timed Verification !(<A> = 1.000000)"),
    ("**Precheck Timed Assertion !(<A> = 1.000000) FAILED Value is 1.000000 after 0:00.000",
     "failure", "Precheck Timed Assertion !(<A> = 1.000000)"),
    ("  Timed Monitor <A> = 1.000000 passed Value is 1.000000 after 0:10.000", "passed",
     "Timed Monitor <A> = 1.000000"),
    ("**Timed Monitor <A> = 1.000000 FAILED. Value is 2.000000 after 0:01.100", "failure",
     "Timed Monitor <A> = 1.000000"),
    ("**Timed Assertion <A> < 1.000000 FAILED to occur. Value is 2.000000 after 0:05.000",
     "failure", "Timed Assertion <A> < 1.000000"),
    ("  Monitor <A> = 1.000000 NORMAL Value is 1.000000", "passed", "Monitor <A> = 1.000000"),
    ("**Monitor <A> = 1.000000 FAILED Value is 3.000000", "failure", "Monitor <A> = 1.000000"),
    ("  User Question 'PUMP ON?' passed. Answer from host is 'yes'", "passed",
     "User Question 'PUMP ON?'"),
    ("**Failure indicated because 1 questions skipped by -skipuserq option", "failure",
     "Failure indicated because 1 questions skipped by -skipuserq option"),
    ("__Tag <X> not found for VERIFY", "error", "Tag <X> not found for VERIFY"),
    ("##Client cmd, TOOLBOOK, could not be executed because none", "error",
     "Client cmd, TOOLBOOK, could not be executed because none"),
    ("  Scenario was aborted by StopScenario()", "error", "Scenario aborted"),
    # information lines are no check
    ("  Monitoring tag(s) <A> = 1.000000", None, None),
    ("# A COMMENT", None, None),
])
def test_check_lines(line, outcome, name):
    case = testlog.classify(3, "00:00:01.000", line)
    got = (case.outcome, case.name) if case else (None, None)
    assert got == (outcome, name)


def test_sign_then_verify(tmp_path):
    scn = tmp_path / "a.scn"
    base = "# approve me\nSETPVE TEMP_SP 60\nVERIFY TEMP_SP 60"  # no final line end
    cases = [
        # (edit applied to the signed file, verify's status and verdict)
        (lambda t: t, 0, "valid"),
        (lambda t: t.replace("# approve me", "# approved by ops"), 0, "valid"),  # comment
        (lambda t: t.replace("VERIFY TEMP_SP 60", "VERIFY TEMP_SP 61"), 1, "altered"),
        (lambda t: t + "\n", 1, "altered"),                   # a blank line is data
        (lambda t: SIGNED_LINE.sub(b"", t.encode()).decode(), 1, "unsigned"),
    ]
    for edit, status, verdict in cases:
        scn.write_text(base)
        assert zl("sign", scn)[0] == 0
        signed = scn.read_bytes()
        assert signed.startswith(base.encode() + b"\n") and len(SIGNED_LINE.findall(signed)) == 1
        scn.write_text(edit(signed.decode()))
        got, out, _ = zl("verify", scn)
        assert (got, out.split(": ")[1].split(" ")[0]) == (status, verdict), out

    # signing again replaces the line where it stands, also in CR LF files
    # (a CR LF line's last word holds the CR: a comment's text may)
    scn.write_bytes(b"#$CHECK:0\r\nCOMMENT CR LF\r\n")
    assert zl("sign", scn)[0] == 0
    assert re.fullmatch(rb"#\$CHECK:[0-9a-f]{32}\r\nCOMMENT CR LF\r\n", scn.read_bytes())
    assert zl("verify", scn)[0] == 0
    # test logs are signed by their runs only; a missing file is a file error
    (tmp_path / "x.tlg").write_text("00:00:00.000\tStarting test 'x.scn'\n")
    assert zl("sign", tmp_path / "x.tlg")[0] == 1
    assert zl("sign", tmp_path / "missing.scn")[:2] == (3, "")
    status, out, err = zl("verify", tmp_path / "missing.scn")
    assert (status, out) == (3, "") and err.startswith("zl verify: cannot read "), err


@pytest.mark.parametrize("text, argv, status, err, signed", [
    # an error: not signed, the file untouched, the findings on standard error
    ("VERIFY TEMP_SP 60\nFOO\n", [], 1,
     ["a.scn:2:1: error: Unknown scenario keyword, 'FOO'",
      "zl sign: a.scn: not signed: the check finds 1 error (--no-check signs it anyway)"],
     False),
    ("FOO\n", ["--no-check"], 0, [], True),
    # a warning is shown, and the file signed
    ("MON_CLEAR ALL\n", [], 0, ["a.scn:1:11: warning: extra operand ignored: 'ALL'"], True),
    # the checksum SAFETY asks for is what signing writes: no reason to refuse
    ("SAFETY VALID\nVERIFY TEMP_SP 60\n", [], 0, [], True),
    ("#$CHECK:00\nSAFETY\n", [], 0, [], True),
], ids=["error", "no-check", "warning", "unsigned-safety", "stale"])
def test_sign_checks_the_file_first(tmp_path, monkeypatch, text, argv, status, err, signed):
    monkeypatch.chdir(tmp_path)
    Path("a.scn").write_text(text)
    got, out, errors = zl("sign", *argv, "a.scn")
    assert (got, errors.splitlines()) == (status, err), out
    assert (Path("a.scn").read_text() != text) == signed
    if signed:
        assert zl("verify", "a.scn")[0] == 0


def test_verify_test_log_sections(runs, tmp_path):
    work, scn, tlg = runs
    # the runtime validated the file signed by zl sign
    assert tlg.read_text().count("  Stored checksum, ") == 2
    status, out, _ = zl("verify", tlg, scn)
    assert status == 0 and out.count(": valid") == 3, out

    # a test log by another name is still read as one, and never signed
    renamed = tmp_path / "copy.txt"
    renamed.write_bytes(tlg.read_bytes())
    status, out, _ = zl("verify", renamed)
    assert status == 0 and out.count(": valid") == 2, out
    assert zl("sign", renamed)[0] == 1 and renamed.read_bytes() == tlg.read_bytes()

    text = tlg.read_text()
    first, second = [m.start() for m in re.finditer(r"^00:00:00\.000\tStarting test", text, re.M)]
    copy = tmp_path / "edited.tlg"
    cases = [
        # (edited log, verdicts of the two runs, status)
        (text[:first] + text[first:second].replace("61.000000 FAILED", "61.000000 passed", 1)
         + text[second:], ["altered", "valid"], 1),
        (text[:second] + text[second:].replace("Value is 60.000000", "Value is 61.000000", 1),
         ["valid", "altered"], 1),
        (text[:first] + text[first:second].replace("#$CHECK:", "#$CHECK:x", 1) + text[second:],
         ["altered", "valid"], 1),
        # the second run stopped before its end: not signed
        (text[:text.rindex("#$CHECK:")], ["valid", "unsigned"], 1),
        # a line slipped in between the runs belongs to no signed run
        (text[:second] + "00:00:09.000\t  Verification <X> = 1 passed\n" + text[second:],
         ["valid", "altered", "valid"], 1),
    ]
    for edited, verdicts, want in cases:
        copy.write_text(edited)
        status, out, _ = zl("verify", copy)
        got = [line.rsplit(": ", 1)[1] for line in out.splitlines()]
        assert (status, got) == (want, verdicts), out


def test_verify_says_where_a_signature_leaves_text_out(runs, tmp_path):
    # A run may write a line of more than 2047 characters (a long answer);
    # the digest leaves out any of its later pieces that begins with "#", so
    # that piece could be edited under a valid signature: zl verify and the
    # report say so instead of "valid".
    import zl as module
    _, _, tlg = runs
    text = tlg.read_bytes()
    second = text.rindex(b"00:00:00.000\tStarting test")
    end = text.rindex(b"#$CHECK:")
    stamp = b"00:00:01.000\t# "
    long_line = stamp + b"x" * (2047 - len(stamp)) + b"#uncovered\n"  # "#" starts piece 2
    body = text[second:end].replace(b"\n", b"\n" + long_line, 1)
    copy = tmp_path / "long.tlg"
    copy.write_bytes(text[:second] + body + b"#$CHECK:" + module.checksum(body).encode() + b"\n")
    line = (text[:second] + body).count(b"\n", 0, len(text[:second]) + body.index(long_line)) + 1
    for edited in (copy.read_bytes(), copy.read_bytes().replace(b"#uncovered", b"#forged!!")):
        copy.write_bytes(edited)
        status, out, _ = zl("verify", copy)
        assert status == 1, out
        assert out.splitlines()[-1].endswith(
            ": valid, but the signature does not cover all of line %d" % line), out
    status, _, err = zl("report", copy, "--html", tmp_path / "long.html")
    assert "part of a long line is not covered" in (tmp_path / "long.html").read_text(), err


def test_verify_subprocess_exit_status(runs):
    _, scn, tlg = runs
    env = dict(os.environ)
    done = subprocess.run([sys.executable, "-m", "zl.cli", "verify", str(tlg), str(scn)],
                          env=env, capture_output=True, text=True, timeout=BOUND_S)
    assert done.returncode == 0, done.stdout + done.stderr


def record(kind, ms, value=0.0, mode=0, text=b"", value2=0.0):
    """One log set record as docs/log-set-file.md lays it out."""
    return (kind + struct.pack("<IIddI", 25 + len(text), ms, value, value2, mode)
            + text + b"\0")


START = 1796875200  # Thu Dec 10 04:00:00 2026 UTC
LOGSET = b"".join([
    record(b"_HD_", 0, mode=START, text=b"DEMO"),
    record(b"_FO_", 0, mode=1),
    record(b"_DE_", 0, mode=9),
    record(b"_TA_", 0, 1.5, 1, b"FIC101"),
    record(b"_TA_", 0, 20.0, 0, b"TIC200"),
    record(b"_TA_", 0, 12.5, 0x10000),                # a constant: no column
    record(b"SCMT", 1250, text=b"VALVE OPENED"),
    record(b"_TA_", 10000, 2.25, 1, b"FIC101"),
    record(b"_TA_", 20000, 0.0, 0x80000000, b"TIC200"),  # not found: empty cell
    record(b"_ZZ_", 25000, text=b"DEMO"),
    # a second log in the same file, started 100 s after the first
    record(b"_HD_", 0, mode=START + 100, text=b"DEMO"),
    record(b"_TA_", 500, -3.0, 1, b"TIC200"),
])


def test_logset_decoded(tmp_path):
    path = tmp_path / "demo.log"
    path.write_bytes(LOGSET)
    status, out, _ = zl("logset", path, "--csv")
    assert status == 0
    assert out == ("time,FIC101,TIC200\n"
                   "0.000,1.5,20.0\n"
                   "10.000,2.25,20.0\n"
                   "20.000,2.25,\n"
                   "100.500,2.25,-3.0\n")
    status, out, _ = zl("logset", path, "--csv", "--tags", "tic200")
    assert out.splitlines()[0::3] == ["time,TIC200", "20.000,"]
    status, out, _ = zl("logset", path, "--json")
    assert json.loads(out)["values"]["TIC200"] == [20.0, 20.0, None, -3.0]

    # every record with the library's line (the local start date)
    status, out, _ = zl("logset", path)
    assert status == 0
    assert out.splitlines()[1:12] == [
        "       0  _HD_           0    Log set 'DEMO', started " + time.ctime(START),
        "      37  _FO_           0  format 1 (row)",
        "      70  _DE_           0  delimiter 9 ('\\t')",
        "     103  _TA_           0       0:00.000 TAG FIC101 = 1.5, Auto",
        "     142  _TA_           0       0:00.000 TAG TIC200 = 20.0, Manual",
        "     181  _TA_           0       0:00.000 TAG  = 12.5, Auto",
        "     214  SCMT        1250       0:01.250 COMMENT: VALVE OPENED",
        "     259  _TA_       10000       0:10.000 TAG FIC101 = 2.25, Auto",
        "     298  _TA_       20000       0:20.000 TAG TIC200 = 0.0, Auto",
        "     337  _ZZ_       25000       0:25.000 Logfile Closing value=0.0, mode=0, DEMO",
        "     374  _HD_           0    Log set 'DEMO', started " + time.ctime(START + 100),
    ]


def test_logset_plot_is_png(tmp_path):
    path, png = tmp_path / "demo.log", tmp_path / "demo.png"
    path.write_bytes(LOGSET)
    assert zl("logset", path, "--plot", png, "--tags", "FIC101,TIC200")[0] == 0
    data = png.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    length, kind, width, height = struct.unpack(">I4sII", data[8:24])
    assert (length, kind) == (13, b"IHDR") and width > 0 and height > 0
    # a tag the file never wrote: nothing to draw, no file
    assert zl("logset", path, "--plot", tmp_path / "none.png", "--tags", "NOPE")[0] == 1
    assert not (tmp_path / "none.png").exists()


def test_logset_corrupt(tmp_path):
    path = tmp_path / "bad.log"
    whole = len(record(b"_HD_", 0, mode=START, text=b"DEMO"))
    cases = [
        # (bytes, records still shown, what the error names)
        (LOGSET[:whole + 10], 1, "at offset %d;" % whole),        # cut in a header
        (LOGSET[:-1], 11, "at offset %d;" % (
            len(LOGSET) - len(record(b"_TA_", 500, text=b"TIC200")))),  # cut text
        (LOGSET[:whole] + b"_TA_" + struct.pack("<I", 3) + bytes(40), 1,
         "at offset %d;" % whole),                                 # length < 25
        # the first record is bad: some other kind of file
        (LOGSET[:whole - 1] + b"x", 0, "not a log set file (record text not terminated"),
    ]
    for data, shown, named in cases:
        path.write_bytes(data)
        status, out, err = zl("logset", path)
        assert status == 3, data
        assert len(out.splitlines()) == (shown + 1 if shown else 0)  # a header and the records
        assert named in err, err


def test_logset_of_a_real_run(runs, tmp_path):
    work, _, _ = runs
    log = find(work, "zlf.log")
    status, out, _ = zl("logset", log, "--csv")
    assert status == 0
    rows = [line.split(",") for line in out.splitlines()]
    assert rows[0] == ["time", "TEMP_SP", "LEVEL_SP"]
    # each run: the first snapshot writes both tags, the second the one changed
    assert [r[1:] for r in rows[1:]] == [["60.0", "2.5"], ["60.0", "3.0"]] * 2
    assert zl("logset", log, "--plot", tmp_path / "p.png")[0] == 0


def test_tagfile(client, tmp_path):
    path = tmp_path / "plant.tag"
    n = client.savetags(str(path))
    status, out, _ = zl("tagfile", path)
    assert status == 0
    assert out.splitlines()[-1] == "%d tag(s) in %d record(s)" % (n, n + 1)
    row = [line.split() for line in out.splitlines() if line.startswith("TEMP_SP ")]
    assert row[0][:4] == ["TEMP_SP", "Analog", "Auto", "60"]

    data = path.read_bytes()
    for cut, named in [(len(data) - 1, "truncated record: payload of"),  # a payload cut short
                       (5, "not a tag file (truncated record header")]:  # a header cut short
        path.write_bytes(data[:cut])
        status, _, err = zl("tagfile", path)
        assert status == 3 and named in err, err


def test_storevals(runs, tmp_path):
    work, _, _ = runs
    path = find(work, "zyZLF.tmp")
    status, out, _ = zl("storevals", path)
    assert status == 0
    assert out.splitlines() == ["NAME     VALUE", "TEMP_SP  60.0", "1 value(s)"]

    data = path.read_bytes()
    cases = [
        (data[:-1], "not a stored-values file (truncated record"),  # its one value cut short
        (data + b"\x01", "truncated record (no name length) at offset"),  # a stray byte
        (b"\x03\x00AB\x01" + bytes(8), "not a stored-values file (name not terminated"),
        (b"\x00\x00", "not a stored-values file (bad name length 0)"),
    ]
    for bad, message in cases:
        path.write_bytes(bad)
        status, _, err = zl("storevals", path)
        assert status == 3 and message in err, err


RUN = b"00:00:00.000\tStarting test 'a.scn'\n00:00:00.001\t**Verification <A> = 1.000000 FAILED Value is 0.000000\n"


def test_places_file_follows_the_runs_of_its_test_log(tmp_path):
    from zl.runs import places
    log = tmp_path / "a.tlg"
    first = places.Place("a.scn", 4, ())
    second = places.Place("sub.scn", 2, ("a.scn:7",))
    log.write_bytes(RUN)
    data = log.read_bytes()
    places.save(str(log), data, testlog.parse(data).sections[0], {2: first})
    log.write_bytes(RUN + b"\n\n" + RUN)
    data = log.read_bytes()
    sections = testlog.parse(data).sections
    places.save(str(log), data, sections[1], {2: second})
    # each run finds its own places, by its own part of the log
    assert [places.load(str(log), data, s) for s in sections] == [{2: first}, {2: second}]
    # a run whose part was edited has none; the other keeps its own
    edited = data.replace(b"Value is 0.000000", b"Value is 1.000000", 1)
    sections = testlog.parse(edited).sections
    assert [places.load(str(log), edited, s) for s in sections] == [None, {2: second}]


@pytest.mark.parametrize("content", [
    b"",                                   # empty
    b"\xff\xfe not text",                  # not UTF-8
    b"[" * 100000,                         # nested beyond the parser's depth
    b'{"zl places": 2, "runs": []}',       # another format
    b'{"zl places": 1, "runs": {"start": 0}}',
    b'{"zl places": 1, "runs": [7, {"start": "0", "lines": [[1, 2, 3, 4]]}]}',
])
def test_places_file_that_is_none_gives_no_places(tmp_path, content):
    from zl.runs import places
    log = tmp_path / "a.tlg"
    log.write_bytes(RUN)
    (tmp_path / "a.tlg.places").write_bytes(content)
    assert places.load(str(log), RUN, testlog.parse(RUN).sections[0]) is None
