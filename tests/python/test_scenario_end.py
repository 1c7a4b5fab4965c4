"""Waiting for a scenario's end (waitscenario): woken by the end itself,
bounded by its timeout, at once for a scenario that is gone, without holding
the client or the interpreter while it waits."""

import signal
import threading
import time

import pytest

import zl

BOUND_S = 30.0
LONG = "DELAY 20000\nVERIFY TEMP_SP 60\n"


def start(client, tmp_path, text, name="w"):
    scn = tmp_path / (name + ".scn")
    scn.write_text(text)
    sid = client.startscenario(str(scn), "")
    assert sid > 0
    return sid, tmp_path / (name + ".tlg")


def timed(call):
    began = time.monotonic()
    result = call()
    return result, time.monotonic() - began


def test_wakes_at_the_end_with_the_log_complete(client, tmp_path):
    sid, tlg = start(client, tmp_path, "DELAY 300\nVERIFY TEMP_SP 60\n")
    ended, took = timed(lambda: client.waitscenario(sid, BOUND_S))
    assert ended and took < BOUND_S / 2
    log = tlg.read_text()
    assert "Verification <TEMP_SP> = 60.000000 passed" in log
    assert "#$CHECK:" in log  # signed: the worker had finished with the log
    assert client.scenarioinfo(sid) == ""


@pytest.mark.parametrize("sid_of", [
    lambda ended: ended,   # a scenario that ended earlier
    lambda ended: 999999,  # an id no scenario ever had
    lambda ended: 0,
], ids=["ended", "unknown", "zero"])
def test_gone_scenarios_give_true_at_once(client, tmp_path, sid_of):
    sid, _ = start(client, tmp_path, "VERIFY TEMP_SP 60\n")
    assert client.waitscenario(sid, BOUND_S)
    ended, took = timed(lambda: client.waitscenario(sid_of(sid), BOUND_S))
    assert ended and took < 1.0


def test_timeout_then_stop(client, tmp_path):
    sid, tlg = start(client, tmp_path, LONG)
    try:
        ended, took = timed(lambda: client.waitscenario(sid, 0.3))
        assert not ended and 0.25 <= took < BOUND_S / 2
        assert not client.waitscenario(sid, 0)  # a zero timeout only looks
    finally:
        client.stopscenario(sid)
    assert client.waitscenario(sid, BOUND_S)
    assert "Scenario was aborted by StopScenario()" in tlg.read_text()


def test_other_threads_and_calls_go_on_while_waiting(client, tmp_path):
    sid, _ = start(client, tmp_path, LONG)
    results = []
    waiter = threading.Thread(target=lambda: results.append(client.waitscenario(sid, BOUND_S)))
    waiter.start()
    try:
        time.sleep(0.1)  # let the waiter get into its wait
        info, took = timed(lambda: client.scenarioinfo(sid))
        assert "sceID\t%d" % sid in info and took < 1.0  # the client's lock is free
    finally:
        client.stopscenario(sid)
    waiter.join(BOUND_S)
    assert results == [True]


def test_disconnect_ends_the_wait(plant, tmp_path):
    own = zl.Client(plant.orb_options)
    assert own.connect("SIM") == 0
    sid, _ = start(own, tmp_path, LONG)
    results = []
    waiter = threading.Thread(target=lambda: results.append(own.waitscenario(sid)))
    waiter.start()
    time.sleep(0.1)
    own.disconnect()  # stops the scenario and waits for its worker
    waiter.join(BOUND_S)
    assert results == [True]


class Interrupted(Exception):
    pass


def test_a_signal_handler_interrupts_the_wait(client, tmp_path):
    def raise_interrupted(signum, frame):
        raise Interrupted()

    sid, _ = start(client, tmp_path, LONG)
    previous = signal.signal(signal.SIGALRM, raise_interrupted)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.3)
        began = time.monotonic()
        with pytest.raises(Interrupted):
            client.waitscenario(sid)
        assert time.monotonic() - began < BOUND_S / 2
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
        client.stopscenario(sid)
    assert client.waitscenario(sid, BOUND_S)


@pytest.mark.parametrize("args,error", [
    ((1, -1.0), ValueError),
    ((1, float("nan")), ValueError),
    ((1, "soon"), TypeError),
    (("1",), TypeError),
])
def test_bad_arguments(client, args, error):
    with pytest.raises(error):
        client.waitscenario(*args)
