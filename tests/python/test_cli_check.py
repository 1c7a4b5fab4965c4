"""zl check as editors and CI use it: the line per finding they read, JSON
and SARIF, exit statuses, the tags of a tag definition file, a saved tag
file or a live database, the run's arguments, --strict, and every bad input
with its one error line. Most cases need no server; --db and the saved tag
file use the plant."""

import json
import re
import struct
from pathlib import Path

import pytest

from cli_support import zl
from zl import checks

REPO = Path(__file__).resolve().parents[2]
PLANT_TAGS = REPO / "examples" / "plant.tags"


def files(tmp_path, texts):
    """Writes {name: text or bytes} into tmp_path."""
    for name, text in texts.items():
        path = tmp_path / name
        path.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(text, bytes):
            path.write_bytes(text)
        else:
            path.write_text(text)


def check(tmp_path, monkeypatch, *argv):
    """zl check run in tmp_path: (status, stdout lines, stderr lines)."""
    monkeypatch.chdir(tmp_path)
    status, out, err = zl("check", *argv)
    return status, out.splitlines(), err.splitlines()


# (files, arguments, exit status, standard output lines, last standard error line)
CASES = {
    # nothing to say: silent, 0
    "clean": ({"a.scn": "VERIFY TEMP_SP 60\n"}, ["a.scn"], 0, [], None),
    # a warning alone does not fail
    "warning": ({"a.scn": "VERIFY TEMP_SP 60 1.5\n"}, ["a.scn"], 0,
                ["a.scn:1:19: warning: extra operand ignored: '1.5' (tolerances are set with "
                 "ABS_TOL / REL_TOL)"], None),
    # ... unless --strict makes it an error
    "strict": ({"a.scn": "VERIFY TEMP_SP 60 1.5\n"}, ["--strict", "a.scn"], 1,
               ["a.scn:1:19: error: extra operand ignored: '1.5' (tolerances are set with "
                "ABS_TOL / REL_TOL)"], None),
    # the file's own line and column; a subtest named beside its caller
    "errors": ({"a.scn": "# head\n\n  FOO 1\n@SUB.SCN\n", "sub.scn": "SETPV T1\n"},
               ["a.scn"], 1,
               ["a.scn:3:3: error: Unknown scenario keyword, 'FOO'",
                "sub.scn:1:1: error: Value not found for SETPV T1"], None),
    # a subtest that is not there is an error at the line that calls it,
    # not a file the command cannot read
    "missing-subtest": ({"a.scn": "COMMENT x\n@GONE.SCN\n"}, ["a.scn"], 1,
                        ["a.scn:2:1: error: Subtest 'GONE.SCN' not started"], None),
    # files in a directory are named as given
    "directory": ({"d/a.scn": "FOO\n"}, ["d/a.scn"], 1,
                  ["d/a.scn:1:1: error: Unknown scenario keyword, 'FOO'"], None),
    # several files: each in turn; an error in one fails the whole
    "several": ({"a.scn": "COMMENT x\n", "b.scn": "FOO\n"}, ["a.scn", "b.scn"], 1,
                ["b.scn:1:1: error: Unknown scenario keyword, 'FOO'"], None),
    # a FILE that cannot be read: its error line and 3, over the others' 1
    "unreadable": ({"b.scn": "FOO\n"}, ["none.scn", "b.scn"], 3,
                   ["b.scn:1:1: error: Unknown scenario keyword, 'FOO'"],
                   "zl check: cannot read none.scn: No such file or directory"),
    "a-directory": ({"d/a.scn": "COMMENT x\n"}, ["d"], 3, [],
                    "zl check: cannot read d: Is a directory"),
    # arguments: not known without --args (what holds $n is not read)
    "args-unknown": ({"a.scn": "SETPV $1 $2\n"}, ["a.scn"], 0, [], None),
    "args": ({"a.scn": "SETPV $1 $2\n"}, ["--args", "T1", "a.scn"], 1,
             ["a.scn:1:10: error: Argument $2 is not given: 1 argument is, and the line gets "
              "nothing in its place",
              "a.scn:1:1: error: Value not found for SETPV T1"], None),
    "args-options": ({"a.scn": "SETPV $1 $2\n"}, ["--args=-skipuserq T1 5", "a.scn"], 0, [],
                     None),
    # what the file holds reaches the terminal escaped
    "escaped": ({"a.scn": b"FOO\x1b[2J\n"}, ["a.scn"], 1,
                ["a.scn:1:1: error: Unknown scenario keyword, 'FOO\\x1b[2J'"], None),
    # usage errors: the usage first, then one line
    "no-file": ({}, [], 2, [], "zl check: the following arguments are required: FILE"),
    "tags-and-db": ({"a.scn": ""}, ["--tags", "t", "--db", "SIM", "a.scn"], 2, [],
                    "zl check: argument -d/--db/--database: not allowed with argument --tags"),
    "bad-format": ({"a.scn": ""}, ["--format", "xml", "a.scn"], 2, [],
                   "zl check: argument --format: invalid choice: 'xml' (choose from 'text', "
                   "'json', 'sarif')"),
}


@pytest.mark.parametrize("case", CASES)
def test_findings_and_exit_status(tmp_path, monkeypatch, case):
    texts, argv, status, out, err = CASES[case]
    files(tmp_path, texts)
    got, lines, errors = check(tmp_path, monkeypatch, *argv)
    assert (got, lines) == (status, out), errors
    assert (errors[-1] if errors else None) == err
    assert any(e.startswith("usage: zl check") for e in errors) == (status == 2)


PLANT_SCENARIO = "VERIFY TEMP_SP,TEMP_SPP 60\nSETPVE FEED_PUMP_CMD 1\nCOMMENT (TANK_LEVL)\n"
PLANT_FINDINGS = [
    "a.scn:1:16: error: Tag <TEMP_SPP> not found",
    "a.scn:3:10: error: Tag <TANK_LEVL> not found: the server refuses the expression and the "
    "run ends here",
]


@pytest.mark.parametrize("definitions, status, out, err", [
    # the example plant, as zl sim --tags loads it
    (PLANT_TAGS.read_bytes(), 1, PLANT_FINDINGS, None),
    # blanks around the name, a CR LF line end, comments and directives are no tags
    (b"# plant\n$DRIVER\tPLC1\t127.0.0.1:5001\n  TEMP_SP \t\t\tAnalog\r\n"
     b"FEED_PUMP_CMD\t\t\tDigital\n", 1, ["a.scn:1:16: error: Tag <TEMP_SPP> not found",
                                          "a.scn:3:10: error: Tag <TANK_LEVL> not found: the "
                                          "server refuses the expression and the run ends here"],
     None),
    # a file of another kind, or without tags: the file's problem, 3
    (b"TEMP_SP 60\n", 3, [], "zl check: --tags t: not a tag definition file or a saved tag "
                            "file (line 1: fewer than the 4 fields of a tag definition (name, "
                            "driver, point address, type, separated by TABs))"),
    (b"\tPLC1\tAI:0\tAnalog\n", 3, [], "zl check: --tags t: not a tag definition file or a saved "
                                       "tag file (line 1: the tag name is missing)"),
    (b"# nothing\n\n", 3, [], "zl check: --tags t: no tag defined"),
    (b"", 3, [], "zl check: --tags t: no tag defined"),
    (struct.pack("<4sI", b"ZTFH", 3) + b"v=1", 3, [],
     "zl check: --tags t: a tag file without tags this reader knows"),
    (None, 3, [], "zl check: cannot read t: No such file or directory"),
], ids=["plant", "odd-lines", "not-definitions", "no-name", "comments-only", "empty",
        "tag-file-without-tags", "missing"])
def test_tags_of_a_definition_file(tmp_path, monkeypatch, definitions, status, out, err):
    files(tmp_path, {"a.scn": PLANT_SCENARIO})
    if definitions is not None:
        (tmp_path / "t").write_bytes(definitions)
    got, lines, errors = check(tmp_path, monkeypatch, "--tags", "t", "a.scn")
    assert (got, lines) == (status, out), errors
    assert (errors[-1] if errors else None) == err


def test_tags_of_a_saved_tag_file_and_of_a_live_database(plant, client, tmp_path, monkeypatch):
    files(tmp_path, {"a.scn": PLANT_SCENARIO})
    assert client.savetags(str(tmp_path / "plant.tag")) > 0
    assert check(tmp_path, monkeypatch, "--tags", "plant.tag", "a.scn")[:2] == (1, PLANT_FINDINGS)
    monkeypatch.setenv("ZL_ORB_OPTIONS", plant.orb_options)
    assert check(tmp_path, monkeypatch, "--db", "SIM", "a.scn")[:2] == (1, PLANT_FINDINGS)
    # a database that is not there: the server's status, 4
    got, lines, errors = check(tmp_path, monkeypatch, "--db", "NOPE", "a.scn")
    assert (got, lines) == (4, [])
    assert errors == ["zl check: unknown database 'NOPE' (the naming service knows: SIM)"]


def test_json_has_the_fields_of_a_diagnostic(tmp_path, monkeypatch):
    files(tmp_path, {"a.scn": "FOO\nVERIFY TEMP_SP 60 1.5\n"})
    got, lines, _ = check(tmp_path, monkeypatch, "--format", "json", "a.scn")
    assert got == 1
    assert json.loads("\n".join(lines)) == [
        {"file": "a.scn", "line": 1, "column": 1, "severity": "error",
         "code": "unknown-keyword", "message": "Unknown scenario keyword, 'FOO'"},
        {"file": "a.scn", "line": 2, "column": 19, "severity": "warning",
         "code": "extra-operand",
         "message": "extra operand ignored: '1.5' (tolerances are set with ABS_TOL / REL_TOL)"},
    ]
    # nothing found: an empty list, still JSON
    files(tmp_path, {"b.scn": "COMMENT x\n"})
    assert check(tmp_path, monkeypatch, "--format", "json", "b.scn")[:2] == (0, ["[]"])


def test_sarif_for_code_scanning(tmp_path, monkeypatch):
    # "é" is two bytes and one UTF-16 unit: SARIF's column counts the latter
    files(tmp_path, {"d/a.scn": "COMMENT é\nSETPVE \u00e9 60 70\nFOO\nBAR\n"})
    got, lines, _ = check(tmp_path, monkeypatch, "--format", "sarif", "--strict", "d/a.scn")
    assert got == 1
    log = json.loads("\n".join(lines))
    assert log["version"] == "2.1.0" and log["$schema"].endswith("sarif-2.1.0.json")
    [run] = log["runs"]
    driver = run["tool"]["driver"]
    assert driver["name"] == "zl check"
    assert run["columnKind"] == "utf16CodeUnits"
    # one rule per code, in the order they first occur, each result pointing at its rule
    assert [r["id"] for r in driver["rules"]] == ["extra-operand", "unknown-keyword"]
    assert all(r["shortDescription"]["text"] == checks.CODES[r["id"]] for r in driver["rules"])
    results = run["results"]
    assert [(r["ruleId"], r["ruleIndex"], r["level"]) for r in results] == [
        ("extra-operand", 0, "error"), ("unknown-keyword", 1, "error"),
        ("unknown-keyword", 1, "error")]
    [location] = results[0]["locations"]
    assert location["physicalLocation"] == {
        "artifactLocation": {"uri": "d/a.scn"}, "region": {"startLine": 2, "startColumn": 13}}
    assert results[0]["message"]["text"] == "extra operand ignored: '70'"


def test_every_code_of_the_check_has_a_description():
    """The SARIF rule texts cover the codes the check gives (its header)."""
    header = (REPO / "src" / "scenario" / "scenario_check.h").read_text()
    codes = set(re.findall(r'inline constexpr char k\w+\[\] =\s*"([a-z-]+)"', header))
    assert codes and codes == set(checks.CODES)
