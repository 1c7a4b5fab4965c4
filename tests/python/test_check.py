"""zl.checkscenario: the static check of a scenario file from Python, its
findings as zl.ScenarioDiagnostic, the forms its arguments take, and its
agreement with a run of the same file on the stand-in server."""

import logging
import time
from pathlib import Path

import pytest

import zl

BOUND_S = 30.0

# The run's statement errors that the check words as the run does.
STATEMENT_CODES = {"unknown-keyword", "missing-operand", "bad-number", "window-order",
                   "missing-label", "missing-subtest", "nest-too-deep", "no-checksum",
                   "bad-checksum"}


def write(directory, files):
    for name, text in files.items():
        (directory / name).write_text(text)
    return directory / "s.scn"


def test_findings_are_named_tuples_in_the_order_of_a_run(tmp_path):
    path = write(tmp_path, {"s.scn": "FOO\n@SUB.SCN\nSETPV T1 (5\n", "sub.scn": "  BAR 1\n"})
    found = zl.checkscenario(str(path))
    assert [tuple(d) for d in found] == [
        (str(path), 1, 1, "error", "unknown-keyword", "Unknown scenario keyword, 'FOO'"),
        # the subtest's line comes where the run meets it, named beside the file
        (str(tmp_path / "sub.scn"), 1, 3, "error", "unknown-keyword",
         "Unknown scenario keyword, 'BAR'"),
        (str(path), 3, 10, "error", "bad-number", "Could not parse value '(5' for SETPV"),
    ]
    first = found[0]
    assert (first.file, first.line, first.column, first.severity, first.code) == tuple(first)[:5]
    assert isinstance(first, zl.ScenarioDiagnostic)


@pytest.mark.parametrize("args, codes", [
    # not known: an operand holding $n is not read
    (None, []),
    # the options text of a run: options are no arguments
    ("-skipuserq --x T1", ["missing-argument", "missing-operand"]),
    # the arguments themselves
    (["T1", "5"], []),
    (("T1",), ["missing-argument", "missing-operand"]),
    ([], ["missing-argument", "missing-argument", "missing-operand"]),
], ids=["unknown", "options", "list", "tuple", "none-given"])
def test_arguments_as_a_run_or_a_list_gives_them(tmp_path, args, codes):
    path = write(tmp_path, {"s.scn": "SETPV $1 $2\n"})
    assert [d.code for d in zl.checkscenario(path, args=args)] == codes


@pytest.mark.parametrize("tags, unknown", [
    (None, []),
    (["t1"], ["T2"]),                     # any case
    ({"T1", "T2"}, []),
    ((name for name in ["T2"]), ["T1"]),  # any iterable
    ([], ["T1", "T2"]),
], ids=["unknown", "list", "set", "generator", "empty"])
def test_tags_in_any_iterable(tmp_path, tags, unknown):
    path = write(tmp_path, {"s.scn": "SETPV T1 1\nVERIFY T2 1\n"})
    found = zl.checkscenario(path, tags=tags)
    assert [d.message for d in found] == [f"Tag <{t}> not found" for t in unknown]


@pytest.mark.parametrize("kwargs, error", [
    ({"tags": "T1"}, "tags must be an iterable of str, not a str"),
    ({"tags": 5}, "tags must be an iterable of str"),
    ({"tags": ["T1", 2]}, "tags must hold only str"),
    ({"args": 5}, "args must be an iterable of str"),
    ({"args": [b"x"]}, "args must hold only str"),
], ids=["tags-str", "tags-int", "tags-item", "args-int", "args-bytes"])
def test_bad_arguments_raise_type_error(tmp_path, kwargs, error):
    path = write(tmp_path, {"s.scn": "COMMENT x\n"})
    with pytest.raises(TypeError, match=error):
        zl.checkscenario(path, **kwargs)
    with pytest.raises(TypeError):
        zl.checkscenario(5)


@pytest.mark.parametrize("as_path", [str, Path, lambda p: str(p).encode()],
                         ids=["str", "pathlib", "bytes"])
def test_a_file_that_cannot_be_read_is_a_finding(tmp_path, as_path):
    missing = tmp_path / "none.scn"
    found = zl.checkscenario(as_path(missing))
    assert [(d.line, d.code) for d in found] == [(1, "unreadable")]


# Statement errors of every kind the run and the check share, on tags of the
# example plant, in a file and a subtest.
AGREE_MAIN = """\
FOO 1
SETPVE TEMP_SP (60
TVERIFY LEVEL_SP 1 5 2
SETPV NO_SUCH_TAG 1
@agree_sub.scn 7
GOTO :NOWHERE
@missing.scn
SIMWAIT banana
"""
AGREE_SUB = """\
VERIFY
COMMENT $1
DELAY
"""


def test_the_check_reports_the_statement_errors_of_a_run(client, tmp_path, caplog):
    """What the run on the stand-in writes as statement errors, the check
    finds at the same file and line with the same text, given the tags of
    the live database."""
    caplog.set_level(logging.ERROR, logger="zl.scenario")
    path = write(tmp_path, {"s.scn": AGREE_MAIN, "agree_sub.scn": AGREE_SUB})
    sid = client.startscenario(str(path), "")
    assert sid > 0
    assert client.waitscenario(sid, BOUND_S)

    def run_lines():
        return {(Path(r.scenario_file).name, r.scenario_line, r.getMessage())
                for r in caplog.records
                if r.name == "zl.scenario" and getattr(r, "testlog_line", None) is not None}

    # The records reach logging from the bridge's thread: wait for the last.
    deadline = time.monotonic() + BOUND_S
    while not any(line == 8 for _, line, _ in run_lines()):
        assert time.monotonic() < deadline, "the run's last error was not logged"
        time.sleep(0.05)
    run = run_lines()
    tags = client.searchtags(".", "TAGS").split(",")
    found = zl.checkscenario(str(path), tags=tags, args="")
    check = {(Path(d.file).name, d.line, d.message) for d in found if d.code in STATEMENT_CODES}
    assert check == {r for r in run if not r[2].startswith("Tag <")}
    # the tag the run did not find is the check's unknown tag on that line
    assert {(Path(d.file).name, d.line) for d in found if d.code == "unknown-tag"} == \
        {(f, line) for f, line, text in run if text.startswith("Tag <")} == {("s.scn", 4)}
