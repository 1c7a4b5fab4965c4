"""The campaign plugin runs scenario items on the plant: verdicts and their
report texts, the test log section in the report and the JUnit file,
operator questions answered from a file or failing at once, the baseline
restored before every scenario, and the fixtures for Python tests."""

import pytest

from campaign_support import inner_pytest, junit_cases, junit_times, write_project

QUICK_S = 4.0  # an item that fails fast ends below its scenario limit (5 s)

VERDICTS = {
    "pytest.ini": "[pytest]\nzl_scenario_timeout = 5\n",
    "answers.txt": "# unattended answers\nIS THE PUMP * = yes\n",
    "test_pass.scn": "VERIFY TEMP_SP 60\n",
    "test_fail.scn": "VERIFY TEMP_SP 65\nVERIFY LEVEL_SP 2.5\n",
    "test_error.scn": "USELOG NO_SUCH_LOG\n",  # an error of the run only: the check passes it
    "test_slow.scn": "DELAY 20000\n",
    "test_asks.scn": 'ANSWER 1 "Is the heater on?"\nDELAY 20000\n',
    "test_answered.scn": 'ANSWER 1 "Is the pump running?"\nVERIFY TEMP_SP 60\n',
    "test_twice.scn": "VERIFY TEMP_SP $1\n",
    "test_twice.args": "a: 60\nb: 60\n",
    "test_fixtures.py": """
        def test_fixtures(zl_client, zl_database, zl_run_scenario, tmp_path):
            assert zl_database == "SIM"
            assert zl_client.pve("TEMP_SP") == 60.0
            scn = tmp_path / "inline.scn"
            scn.write_text("VERIFY TEMP_SP 61\\n")
            result = zl_run_scenario(scn)
            assert not result.passed
            assert "**Verification <TEMP_SP> = 61.000000 FAILED" in result.report()
    """,
}

# (item, outcome, texts its report must hold, texts it must not)
CASES = [
    ("test_pass", "passed", [], []),
    # the failing line with its scenario line and stamp, the passed one left out
    ("test_fail", "failure",
     ["scenario test_fail.scn on database SIM FAILED: 1 failure, 0 errors",
      "  test_fail.scn:1: 00:00:",
      "\t**Verification <TEMP_SP> = 65.000000 FAILED Value is 60.000000"],
     ["LEVEL_SP"]),
    # a statement error fails the run too
    ("test_error", "failure", ["0 failures, 1 error", "  test_error.scn:1: 00:00:", "\t__"],
     []),
    # stopped at its time limit: the aborting line is shown, at the line
    # that was running
    ("test_slow", "failure",
     ["the run was aborted:", "  test_slow.scn:1: 00:00:",
      "\t  Scenario was aborted by StopScenario()", "did not end within 5 s"], []),
    # an unanswered question stops the run at once and is named
    ("test_asks", "failure",
     ["operator question not answered: 'IS THE HEATER ON?'"], ["did not end within"]),
    ("test_answered", "passed", [], []),
    # two runs of one file: each item gets its own section of the shared log
    ("test_twice[a]", "passed", [], []),
    ("test_twice[b]", "passed", [], []),
    ("test_fixtures", "passed", [], []),
]


@pytest.fixture(scope="module")
def verdicts(plant, tmp_path_factory):
    root = tmp_path_factory.mktemp("verdicts")
    write_project(root, VERDICTS)
    run = inner_pytest(root, "--zl-naming", plant.naming_port, "--zl-answers", "answers.txt")
    return run, junit_cases(root), junit_times(root)


@pytest.mark.parametrize("name,outcome,must,must_not", CASES, ids=[c[0] for c in CASES])
def test_verdict(verdicts, name, outcome, must, must_not):
    run, cases, _ = verdicts
    got, props, text = cases[name]
    assert got == outcome, run.stdout
    for want in must:
        assert want in text, text
    for unwanted in must_not:
        assert unwanted not in text, text
    if name != "test_fixtures":
        assert props["zl_database"] == "SIM"
        assert props["zl_test_log"].endswith(name.split("[")[0] + ".tlg")
        assert props["zl_test_log_section"].startswith("00:00:00.000\tStarting test")


def test_runs_of_one_file_have_their_own_sections(verdicts):
    _, cases, _ = verdicts
    offsets = sorted(int(cases[n][1]["zl_test_log_offset"]) for n in ("test_twice[a]",
                                                                      "test_twice[b]"))
    assert offsets[0] == 0 and offsets[1] > 0
    for name in ("test_twice[a]", "test_twice[b]"):
        assert cases[name][1]["zl_test_log_section"].count("Starting test") == 1


def test_unanswered_question_fails_fast(verdicts):
    # the scenario would wait 20 s after its question: not for the limit
    assert verdicts[2]["test_asks"] < QUICK_S


def test_section_shown_in_the_report(verdicts):
    run = verdicts[0]
    assert "zl test log" in run.stdout
    assert "Closing test log after" in run.stdout


def test_captured_log_names_the_scenario_line(verdicts):
    # pytest's captured log shows the scenario's file and line, not the
    # library's source line that logged the record
    out = verdicts[0].stdout
    assert ("WARNING  zl.scenario:test_fail.scn:1 Verification <TEMP_SP> = 65.000000 FAILED "
            "Value is 60.000000") in out, out
    assert "zl.scenario:test_error.scn:1 Logset <NO_SUCH_LOG> not found for USELOG" in out, out
    assert ".cc:" not in out, out


@pytest.mark.parametrize("baseline", [True, False], ids=["restored", "leaks"])
def test_baseline_restored_before_each_scenario(plant, client, tmp_path, baseline):
    tags = tmp_path / "baseline.tag"
    assert client.savetags(str(tags)) > 0
    write_project(tmp_path, {
        "test_1_change.scn": "SETPVE TEMP_SP 99\nVERIFY TEMP_SP 99\n",
        "test_2_check.scn": "VERIFY TEMP_SP 60\n",
    })
    args = ["--zl-baseline", tags.name] if baseline else []
    try:
        run = inner_pytest(tmp_path, "--zl-naming", plant.naming_port, *args)
    finally:
        client.setpve("TEMP_SP", 60.0)
    outcomes = {name: got for name, (got, _, _) in junit_cases(tmp_path).items()}
    assert outcomes == {"test_1_change": "passed",
                        "test_2_check": "passed" if baseline else "failure"}, run.stdout


def test_no_database_fails_with_the_reason(plant, tmp_path):
    write_project(tmp_path, {"pytest.ini": "[pytest]\nzl_lease_wait = 0\n",
                             "test_a.scn": "VERIFY TEMP_SP 60\n"})
    run = inner_pytest(tmp_path, "--zl-naming", plant.naming_port, "--zl-databases", "NOPE")
    got, _, text = junit_cases(tmp_path)["test_a"]
    assert got == "failure" and "no database of the pool (NOPE)" in text, run.stdout
