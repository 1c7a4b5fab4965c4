"""The campaign plugin checks each scenario item before it takes a server:
an item with errors fails at once with the findings and leases nothing,
with the tags of --zl-sim or of the leased database; warnings are shown in
the item's report; --zl-no-check and the ini option turn the check off."""

from pathlib import Path

import pytest

from campaign_support import inner_pytest, junit_cases, write_project

REPO = Path(__file__).resolve().parents[2]
PLANT_TAGS = REPO / "examples" / "plant.tags"

PROJECT = {
    "test_ok.scn": "VERIFY TEMP_SP 60\n",
    # an unknown keyword, and a subtest whose arguments the item gives
    "test_bad.scn": "VERIFY TEMP_SP 60\nFOO\n@HELPER.SCN\n",
    "helper.scn": "VERIFY TEMP_SP $1\n",
    # errors only the tags can tell
    "test_tag.scn": "VERIFY TEMP_SPP 60\n",
    "test_warn.scn": "VERIFY TEMP_SP 60 1.5\n",
}
BAD = ["scenario test_bad.scn not run: the check finds 3 errors",
       "  test_bad.scn:2:1: error: Unknown scenario keyword, 'FOO'",
       "  helper.scn:1:16: error: Argument $1 is not given: 0 arguments are, and the line gets "
       "nothing in its place",
       "  helper.scn:1:1: error: Value not found for VERIFY TEMP_SP",
       "(--zl-no-check runs it anyway)"]
TAG = ["scenario test_tag.scn not run: the check finds 1 error",
       "  test_tag.scn:1:8: error: Tag <TEMP_SPP> not found"]
WARNED = ("test_warn.scn:1:19: warning: extra operand ignored: '1.5' (tolerances are set with "
          "ABS_TOL / REL_TOL)")


def outcomes(root):
    return {name: (got, props.get("zl_database"), text)
            for name, (got, props, text) in junit_cases(root).items()}


@pytest.mark.parametrize("where", ["sim", "naming"])
def test_items_with_errors_fail_before_they_take_a_server(plant, tmp_path, where):
    write_project(tmp_path, PROJECT)
    (tmp_path / "plant.tags").write_bytes(PLANT_TAGS.read_bytes())
    args = (["--zl-sim", "plant.tags"] if where == "sim"
            else ["--zl-naming", plant.naming_port])
    run = inner_pytest(tmp_path, *args)
    found = outcomes(tmp_path)
    assert {n: got for n, (got, _, _) in found.items()} == {
        "test_ok": "passed", "test_bad": "failure", "test_tag": "failure",
        "test_warn": "passed"}, run.stdout
    database = "SIM"
    # a failed item leased nothing (its properties name no database), the
    # others ran on the database
    assert [found[n][1] for n in ("test_ok", "test_bad", "test_tag", "test_warn")] == [
        database, None, None, database]
    for name, lines in (("test_bad", BAD), ("test_tag", TAG)):
        text = found[name][2]
        for line in lines:
            assert line in text, text
        assert "Starting test" not in text and "Tag <TEMP_SPP> not found for" not in text
    # the warning is in the passed item's report
    assert "zl check" in run.stdout and WARNED in run.stdout, run.stdout


def test_a_failing_item_needs_no_database(plant, tmp_path):
    """No database can be had: the item with errors still fails by its
    check, at once; the clean one fails for the database."""
    write_project(tmp_path, {"pytest.ini": "[pytest]\nzl_lease_wait = 0\n", **PROJECT})
    inner_pytest(tmp_path, "--zl-naming", plant.naming_port, "--zl-databases", "NOPE",
                 "-k", "ok or bad")
    found = outcomes(tmp_path)
    assert BAD[0] in found["test_bad"][2]
    assert "no database of the pool (NOPE)" in found["test_ok"][2]


@pytest.mark.parametrize("off", [["--zl-no-check"], ["-o", "zl_scenario_check=false"]],
                         ids=["option", "ini"])
def test_the_check_turned_off(plant, tmp_path, off):
    write_project(tmp_path, PROJECT)
    run = inner_pytest(tmp_path, "--zl-naming", plant.naming_port, "-k", "bad or warn", *off)
    found = outcomes(tmp_path)
    # the run itself meets the unknown keyword (and the subtest's missing argument)
    assert found["test_bad"][0] == "failure" and found["test_bad"][1] == "SIM"
    assert "__Unknown scenario keyword, 'FOO'" in found["test_bad"][2]
    assert found["test_warn"][0] == "passed" and WARNED not in run.stdout
