"""The campaign plugin's collection: which scenario files become items,
with which arguments and ids; and a project without scenario files is left
as it was (nothing is started: no ORB, no client, none of the zl command)."""

from campaign_support import inner_pytest, write_project

PROJECT = {
    "pytest.ini": """
        [pytest]
        zl_scenario_args =
            test_table.scn[one]: 1
            test_table.scn[two]: 2 3
            sub/test_*.scn: 7
    """,
    "test_plain.scn": "@TEST_CALLED.SCN 5\nVERIFY TEMP_SP 60\n",
    "test_called.scn": "VERIFY TEMP_SP $1\n",           # a subtest of test_plain
    "test_table.scn": "VERIFY TEMP_SP $1\n",            # ids from the ini table
    "test_marked.scn": "VERIFY TEMP_SP $1\n",
    "test_marked.args": "# low and high\nlow: 2.0\nhigh: 4.5\n2.0\n",
    "test_single.scn": "VERIFY TEMP_SP $1\n",
    "test_single.args": "60\n",                          # one line, no id: the plain name
    "helper.scn": "VERIFY TEMP_SP 60\n",                 # does not match the pattern
    "sub/test_deep.scn": "VERIFY TEMP_SP $1\n",
    "test_top.scn": "  @./SUB/TEST_INNER.SCN\n",        # a subtest one directory down
    "sub/test_inner.scn": "VERIFY TEMP_SP 60\n",
    "test_commented.scn": "#@TEST_PLAIN.SCN\n",          # a comment calls nothing
}


def collected(root, *args):
    run = inner_pytest(root, "--collect-only", "-q", *args)
    assert run.returncode == 0, run.stdout
    return sorted(line for line in run.stdout.splitlines() if "::" in line)


def test_items_and_ids(tmp_path):
    write_project(tmp_path, PROJECT)
    assert collected(tmp_path) == sorted([
        "test_plain.scn::test_plain",
        "test_table.scn::test_table[one]",
        "test_table.scn::test_table[two]",
        "test_marked.scn::test_marked[low]",
        "test_marked.scn::test_marked[high]",
        "test_marked.scn::test_marked[2.0]",
        "test_single.scn::test_single",
        "sub/test_deep.scn::test_deep",
        "test_commented.scn::test_commented",
        "test_top.scn::test_top",
    ])


def test_pattern_from_the_ini(tmp_path):
    files = dict(PROJECT)
    files["pytest.ini"] = "[pytest]\nzl_scenario_files = helper.scn test_s*.scn\n"
    write_project(tmp_path, files)
    assert collected(tmp_path) == ["helper.scn::helper", "test_single.scn::test_single"]


def test_a_bad_argument_line_is_a_collection_error(tmp_path):
    write_project(tmp_path, {"pytest.ini": "[pytest]\nzl_scenario_args =\n  [x: 1\n",
                             "test_a.scn": "VERIFY TEMP_SP 60\n"})
    run = inner_pytest(tmp_path, "--collect-only", "-q")
    assert run.returncode != 0 and "not FILE[ID]: ARGS" in run.stdout, run.stdout


def test_a_project_without_scenarios_is_undisturbed(tmp_path):
    write_project(tmp_path, {
        "test_plain.py": """
            import sys

            def test_zl_starts_nothing():
                import zl
                assert zl._orbstate()["init_count"] == 0
                assert not [m for m in sys.modules if m == "zl.cli" or m.startswith("zl.cli.")]

            def test_arithmetic():
                assert 1 + 1 == 2
        """,
        "notes.txt": "test_*.scn files would be collected\n",
    })
    run = inner_pytest(tmp_path)
    assert run.returncode == 0, run.stdout
    assert "2 passed" in run.stdout
