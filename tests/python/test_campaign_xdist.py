"""Campaigns spread over pytest-xdist workers: a site of several stand-ins
registered in one Naming Service, where two workers never share a
database; stand-ins per worker; and a stand-in killed under a running
scenario, which fails only the item that ran on it (the worker goes on
on a spare server of the site, or on its own stand-in started again)."""

import contextlib

import pytest

from campaign_support import inner_pytest, junit_cases, write_project
from conftest import PLANT_TAGS
from zl_services import Services

pytest.importorskip("xdist")

RECORDER = """
    import os, time

    def record(zl_database, zl_client):
        began = time.monotonic()
        assert zl_client.pve("TEMP_SP") == 60.0
        time.sleep(0.3)
        with open(os.path.join(os.path.dirname(__file__), "uses.txt"), "a") as f:
            f.write("%s %s %f %f\\n" % (os.environ["PYTEST_XDIST_WORKER"], zl_database,
                                       began, time.monotonic()))

    def test_1(zl_database, zl_client): record(zl_database, zl_client)
    def test_2(zl_database, zl_client): record(zl_database, zl_client)
    def test_3(zl_database, zl_client): record(zl_database, zl_client)
    def test_4(zl_database, zl_client): record(zl_database, zl_client)
"""


@pytest.fixture(scope="module")
def site():
    """Two stand-ins, SIM_A and SIM_B, registered in one Naming Service."""
    with Services(tags=[PLANT_TAGS], databases=["SIM_A"]) as first:
        with Services(tags=[PLANT_TAGS], databases=["SIM_B"],
                      naming=first.naming_address):
            yield first


def test_workers_never_share_a_database(site, tmp_path):
    files = {"test_uses.py": RECORDER}
    files.update({"test_s%d.scn" % i: "DELAY 200\nVERIFY TEMP_SP 60\n" for i in range(4)})
    write_project(tmp_path, files)
    run = inner_pytest(tmp_path, "-n", "2", "--zl-naming", site.naming_port)
    cases = junit_cases(tmp_path)
    assert {got for got, _, _ in cases.values()} == {"passed"}, run.stdout
    assert {props["zl_database"] for name, (_, props, _) in cases.items()
            if name.startswith("test_s")} <= {"SIM_A", "SIM_B"}
    uses = [line.split() for line in (tmp_path / "uses.txt").read_text().splitlines()]
    per_worker = {}
    for worker, database, _, _ in uses:
        per_worker.setdefault(worker, set()).add(database)
    assert all(len(dbs) == 1 for dbs in per_worker.values()), per_worker
    for a in uses:
        for b in uses:
            overlap = float(a[2]) < float(b[3]) and float(b[2]) < float(a[3])
            assert not (a[0] != b[0] and a[1] == b[1] and overlap), (a, b)


KILLED = "SYSTEM ./KILLSIM.SH\nDELAY 300\nVERIFY TEMP_SP 60\n"


@pytest.mark.parametrize("where", ["own stand-ins", "site with a spare"])
def test_a_killed_stand_in_fails_only_its_own_item(tmp_path, where):
    files = {"test_ok%d.scn" % i: "DELAY 200\nVERIFY TEMP_SP 60\n" for i in range(5)}
    files["test_killed.scn"] = KILLED  # kills the stand-in it runs on, then checks a tag
    with contextlib.ExitStack() as stack:
        if where == "own stand-ins":
            files["KILLSIM.SH"] = '#!/bin/sh\nkill -9 "$ZL_SIM_PID"\n'
            args = ["--zl-sim=" + PLANT_TAGS]
        else:
            first = stack.enter_context(Services(tags=[PLANT_TAGS], databases=["SIM_A"]))
            servers = [first] + [
                stack.enter_context(Services(tags=[PLANT_TAGS], databases=[db],
                                             naming=first.naming_address))
                for db in ("SIM_B", "SIM_C")]
            files["KILLSIM.SH"] = "#!/bin/sh\ncase \"$ZL_DATABASE\" in\n%sesac\n" % "".join(
                "%s) kill -9 %d;;\n" % (s.databases[0], s.sim_pid) for s in servers)
            args = ["--zl-naming", first.naming_port]
        write_project(tmp_path, files)
        run = inner_pytest(tmp_path, "-n", "2", *args)
    outcomes = {name: got for name, (got, _, _) in junit_cases(tmp_path).items()}
    want = {"test_ok%d" % i: "passed" for i in range(5)}
    want["test_killed"] = "failure"
    assert outcomes == want, run.stdout


def test_stand_ins_per_worker_join_the_site(site, tmp_path):
    write_project(tmp_path, {"test_s%d.scn" % i: "DELAY 200\nVERIFY TEMP_SP 60\n"
                             for i in range(4)})
    run = inner_pytest(tmp_path, "-n", "2", "--zl-naming", site.naming_port,
                       "--zl-sim=" + PLANT_TAGS)
    cases = junit_cases(tmp_path)
    assert {got for got, _, _ in cases.values()} == {"passed"}, run.stdout
    # each worker on the stand-in it started, none on the site's own servers
    assert {props["zl_database"] for _, props, _ in cases.values()} <= {"SIM_GW0", "SIM_GW1"}


@pytest.mark.parametrize("workers", [["-n", "2"], []], ids=["xdist", "one process"])
def test_a_stand_in_that_cannot_start_ends_the_session_once(tmp_path, workers):
    # The stand-in's program is missing: the session stops before any
    # item, with one message, instead of failing each item with it twice.
    write_project(tmp_path, {"test_s%d.scn" % i: "VERIFY TEMP_SP 60\n" for i in range(3)})
    missing = tmp_path / "no-such-sim"
    run = inner_pytest(tmp_path, *workers, "--zl-sim=" + PLANT_TAGS,
                       env_extra={"ZL_SIM": str(missing)})
    assert run.returncode == 4, run.stdout  # a usage error: nothing ran
    assert run.stdout.count("the stand-in did not start") == 1, run.stdout
    assert str(missing) in run.stdout
    assert "During handling" not in run.stdout
    assert not (tmp_path / "junit.xml").exists() or not junit_cases(tmp_path)
