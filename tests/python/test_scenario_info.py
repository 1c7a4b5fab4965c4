"""zl.runs.scenario_info: the texts of listscenarios and scenarioinfo parsed,
on texts as the library writes them and on texts it never writes."""

import pytest

from zl.runs.scenario_info import parse_scenario_info, parse_scenario_list

INFO = ("sceID\t3\nsceFile\tdir with blanks/fill.scn\nsceErrors\t1\ntotalVerifies\t7\n"
        "failedVerifies\t2\ntotalMonitorChecks\t40\nfailedMonitorChecks\t0\n"
        "sceLineNumber[0]\t12\n")
PARSED = {"id": 3, "file": "dir with blanks/fill.scn", "errors": 1, "total_verifies": 7,
          "failed_verifies": 2, "total_monitor_checks": 40, "failed_monitor_checks": 0,
          "line_number": 12, "question": None}


@pytest.mark.parametrize("text, expected", [
    ("", {}),
    ("1 fill.scn\r\n", {1: "fill.scn"}),
    ("2 a b.scn\r\n10 /tmp/x.scn\r\n", {2: "a b.scn", 10: "/tmp/x.scn"}),
])
def test_list(text, expected):
    assert parse_scenario_list(text) == expected
    assert list(parse_scenario_list(text)) == list(expected)  # the text's order


@pytest.mark.parametrize("text, expected", [
    ("", None),
    (INFO, PARSED),
    (INFO + "sceQuestion\tIS THE\tPUMP ON?\n", dict(PARSED, question="IS THE\tPUMP ON?")),
    (INFO + "someday\tmore\n", PARSED),
])
def test_info(text, expected):
    assert parse_scenario_info(text) == expected


@pytest.mark.parametrize("parse, text, message", [
    (parse_scenario_list, "fill.scn\r\n", "not a scenario line"),
    (parse_scenario_list, "x fill.scn\r\n", "not an integer"),
    (parse_scenario_info, INFO.replace("sceErrors\t1\n", ""), "without sceErrors"),
    (parse_scenario_info, INFO.replace("\t7", "\tseven"), "not an integer in 'totalVerifies'"),
])
def test_malformed(parse, text, message):
    with pytest.raises(ValueError, match=message):
        parse(text)
