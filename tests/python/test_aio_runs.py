"""zl.aio scenario runs: Client.runscenario and Client.waitscenario.

- a run gives the run layer's reading of its part of the test log (the
  verdict and its counts) and each failure with its scenario line, also
  when runs of two clients with the same id go on at once;
- a run that takes too long, or whose await is cancelled (also while its
  start still waits behind other calls), is stopped and waited for;
- closing the client stops its runs, which then give their stopped result;
- waitscenario wakes at the end without holding up the client's calls.
"""

import asyncio

import pytest

import zl
import zl.aio

from aio_support import aclient, until, within  # noqa: F401

aio = pytest.mark.asyncio
LONG = "DELAYSECS 600\n"


def write(folder, files):
    for name, text in files.items():
        (folder / name).write_text(text)
    return str(folder / next(iter(files)))


RUNS = [
    # (files, the first is run; outcome, failures, errors, failure places)
    ({"pass.scn": "VERIFY TEMP_SP 60\n"}, "passed", 0, 0, []),
    ({"top.scn": "VERIFY TEMP_SP 61\n@sub.scn\n", "sub.scn": "VERIFY TEMP_SP 62\n"},
     "failed", 2, 0, ["top.scn:1", "sub.scn:1 (called from top.scn:2)"]),
    ({"error.scn": "VERIFY TEMP_SP 60\nNOSUCHSTATEMENT 1\n"}, "failed", 0, 1, ["error.scn:2"]),
]


@pytest.mark.parametrize("files, outcome, failures, errors, places", RUNS,
                         ids=["passed", "failed-in-subtest", "statement-error"])
@aio
async def test_a_run_gives_its_verdict_and_failure_places(aclient, tmp_path, files, outcome,
                                                          failures, errors, places):
    path = write(tmp_path, files)
    result = await within(aclient.runscenario(path))
    assert result.started and not result.problem
    verdict = result.verdict
    assert (verdict.outcome, verdict.failures, verdict.errors) == (outcome, failures, errors)
    assert result.passed == (outcome == "passed")
    base = str(tmp_path) + "/"
    assert [f.place.text(base) for f in result.failures] == places
    assert all(str(f).endswith(f.case.text) for f in result.failures)


@aio
async def test_a_second_run_reads_its_own_part_of_the_test_log(aclient, tmp_path):
    path = write(tmp_path, {"twice.scn": "VERIFY TEMP_SP $1\n"})
    first = await within(aclient.runscenario(path, "61"))
    second = await within(aclient.runscenario(path, "60"))
    assert (first.verdict.outcome, second.verdict.outcome) == ("failed", "passed")
    assert second.offset > first.offset


@aio
async def test_runs_of_two_clients_keep_their_own_places(plant, tmp_path):
    # Both are scenario 1 of their client; each run's places are its own.
    a_path = write(tmp_path, {"a.scn": "DELAYSECS 1\nVERIFY TEMP_SP 61\n"})
    b_path = write(tmp_path, {"b.scn": "VERIFY TEMP_SP 62\nDELAYSECS 1\nVERIFY TEMP_SP 63\n"})
    async with zl.aio.Client(plant.orb_options) as a, zl.aio.Client(plant.orb_options) as b:
        assert await a.connect("SIM") == 0 and await b.connect("SIM") == 0
        ra, rb = await within(asyncio.gather(a.runscenario(a_path), b.runscenario(b_path)))
    assert ra.sid == rb.sid == 1
    assert [f.where for f in ra.failures] == [a_path + ":2"]
    assert [f.where for f in rb.failures] == [b_path + ":1", b_path + ":3"]


@aio
async def test_a_scenario_that_cannot_start_gives_the_reason(aclient, tmp_path):
    result = await within(aclient.runscenario(str(tmp_path / "missing.scn")))
    assert not result.started
    assert "did not start" in result.problem
    assert (result.verdict, result.passed, result.failures) == (None, False, [])


@aio
async def test_a_run_past_its_time_limit_is_stopped(aclient, tmp_path):
    path = write(tmp_path, {"long.scn": LONG})
    result = await within(aclient.runscenario(path, timeout=0.2))
    assert result.timed_out == 0.2
    assert result.verdict.outcome == "aborted" and not result.passed
    assert await aclient.listscenarios() == ""


@pytest.mark.parametrize("queued", [False, True], ids=["running", "start-queued"])
@aio
async def test_cancelling_a_run_stops_its_scenario(aclient, faults, tmp_path, queued):
    path = write(tmp_path, {"long.scn": LONG})
    if queued:
        # The start waits behind a held call when the cancellation comes: the
        # scenario it then starts is stopped all the same.
        assert faults("delay PVE 500 count=1") == "OK"
        held = asyncio.ensure_future(aclient.pve("TEMP_SP"))
    run = asyncio.ensure_future(aclient.runscenario(path))
    if queued:
        await asyncio.sleep(0)  # the start is queued behind the held call
    else:
        await until(lambda: aclient.listscenarios())
    run.cancel()
    with pytest.raises(asyncio.CancelledError):
        await within(run)
    assert await aclient.listscenarios() == ""
    with open(tmp_path / "long.tlg") as log:
        assert "Scenario was aborted by StopScenario()" in log.read()
    if queued:
        await within(held)


@aio
async def test_closing_the_client_stops_its_runs(aclient, tmp_path):
    path = write(tmp_path, {"long.scn": LONG})
    run = asyncio.ensure_future(aclient.runscenario(path))
    await until(lambda: aclient.listscenarios())
    await aclient.close()
    result = await within(run)
    assert result.verdict.outcome == "aborted"


@aio
async def test_waitscenario_wakes_at_the_end_and_lets_calls_go_on(aclient, tmp_path):
    path = write(tmp_path, {"long.scn": LONG})
    sid = await aclient.startscenario(path)
    assert sid > 0
    assert await within(aclient.waitscenario(sid, 0.05)) is False  # still running
    waiting = asyncio.ensure_future(aclient.waitscenario(sid))
    assert await within(aclient.pve("TEMP_SP")) == 60.0  # the wait holds no call up
    assert not waiting.done()
    assert await aclient.stopscenario(sid) == 0
    assert await within(waiting) is True
    assert await within(aclient.waitscenario(sid)) is True  # ended: at once
