"""zl.aio.Client: awaited calls on a worker per client.

- one client's calls are made in the order they were awaited, while the
  calls of different clients overlap and the loop goes on meanwhile;
- a call cancelled before its worker reached it is never made;
- what a call raises reaches the awaiting task as itself;
- a closed client refuses every operation with ClientClosed, and close
  ends the client's registration, events and connection;
- the doorbells that wake the loop ring exactly on the events they stand
  for (zl._zl._Doorbell with Client._ringonend and _ringonmessage).
"""

import asyncio
import select
import threading

import pytest

import zl
import zl.aio

from aio_support import WAIT_S, aclient, until, within  # noqa: F401

aio = pytest.mark.asyncio
LEVEL_SP = 2.5  # the plant's level setpoint, put back by every test that changes it


def pending_faults(faults):
    return int(faults("faults").split()[1])


# --- order and overlap --------------------------------------------------------

@aio
async def test_calls_of_one_client_are_made_in_order(aclient, faults):
    # The write is held on the server; a read awaited after it must see it,
    # which it cannot if the two calls ran side by side.
    assert faults("delay SetPVE 300 count=1") == "OK"
    try:
        wrote, read = await within(asyncio.gather(aclient.setpve("LEVEL_SP", 3.25),
                                                  aclient.pve("LEVEL_SP")))
        assert (wrote, read) == (1, 3.25)
    finally:
        await aclient.setpve("LEVEL_SP", LEVEL_SP)


@aio
async def test_calls_of_different_clients_overlap(plant, faults):
    async with zl.aio.Client(plant.orb_options) as a, zl.aio.Client(plant.orb_options) as b:
        assert await a.connect("SIM") == 0 and await b.connect("SIM") == 0
        assert faults("delay PVE 3000 count=1") == "OK"
        held = asyncio.ensure_future(a.pve("TEMP_SP"))
        await until(lambda: pending_faults(faults) == 0)  # a's call is on the server
        assert await within(b.pve("TEMP_SP")) == 60.0
        assert not held.done()  # b's call, and the loop, went on meanwhile
        assert await within(held) == 60.0


@aio
async def test_a_call_cancelled_before_it_began_is_not_made(aclient, faults):
    assert faults("delay PVE 1000 count=1") == "OK"
    held = asyncio.ensure_future(aclient.pve("LEVEL_SP"))
    await until(lambda: pending_faults(faults) == 0)  # the worker is busy with it
    write = asyncio.ensure_future(aclient.setpve("LEVEL_SP", 3.75))
    await asyncio.sleep(0)  # one turn of the loop: the write's job is queued
    write.cancel()
    with pytest.raises(asyncio.CancelledError):
        await write
    await within(held)
    assert await aclient.pve("LEVEL_SP") == LEVEL_SP


@aio
async def test_a_cancelled_call_that_began_runs_to_its_end(aclient, faults):
    # A server call cannot be taken back: the write happens, its result is
    # dropped, and the client goes on with the next call.
    assert faults("delay SetPVE 500 count=1") == "OK"
    write = asyncio.ensure_future(aclient.setpve("LEVEL_SP", 3.5))
    await until(lambda: pending_faults(faults) == 0)
    write.cancel()
    with pytest.raises(asyncio.CancelledError):
        await write
    try:
        assert await within(aclient.pve("LEVEL_SP")) == 3.5
    finally:
        await aclient.setpve("LEVEL_SP", LEVEL_SP)


# --- results and errors -----------------------------------------------------------

@pytest.mark.parametrize("call, want", [
    (lambda c: c.pve("TEMP_SP"), 60.0),
    (lambda c: c.tagexists("NO_SUCH_TAG"), False),
    (lambda c: c.multipve(iter(["TEMP_SP"])),  # any iterable, taken at once
     [{"tagname": "TEMP_SP", "value": 60.0, "mode": "Auto", "type": "Anl"}]),
    (lambda c: c.cycletime(), 1.0),  # a query without its optional argument
    (lambda c: c.listscenarios(), ""),
])
@aio
async def test_results_are_those_of_the_synchronous_client(aclient, call, want):
    assert await call(aclient) == want


@aio
async def test_a_failed_call_raises_its_error_in_the_awaiting_task(plant):
    async with zl.aio.Client(plant.orb_options, raise_errors=True) as c:
        with pytest.raises(zl.NotConnected):
            await c.pve("TEMP_SP")
        assert await c.connect("SIM") == 0
        with pytest.raises(zl.TagNotFound) as raised:
            await c.pve("NO_SUCH_TAG")
        assert (raised.value.operation, raised.value.tag) == ("pve", "NO_SUCH_TAG")
        assert await c.pve("TEMP_SP") == 60.0  # the worker goes on


@aio
async def test_making_the_client_fails_at_the_start_of_the_block(plant):
    with pytest.raises(TypeError):
        async with zl.aio.Client(b"-debug"):  # the options must be a str
            pass


def test_a_client_serves_the_loop_that_first_used_it(plant):
    client = zl.aio.Client(plant.orb_options)
    assert asyncio.run(client.connect("SIM")) == 0
    with pytest.raises(RuntimeError, match="event loop that first used it"):
        asyncio.run(client.pve("TEMP_SP"))


# --- close -------------------------------------------------------------------

CLOSED = [
    ("pve", lambda c: c.pve("TEMP_SP")),
    ("connect", lambda c: c.connect("SIM")),
    ("waitscenario", lambda c: c.waitscenario(1, 0)),
    ("runscenario", lambda c: c.runscenario("none.scn")),
]


@pytest.mark.parametrize("name, call", CLOSED, ids=[n for n, _ in CLOSED])
@aio
async def test_a_closed_client_refuses_operations(aclient, name, call):
    await aclient.close()
    with pytest.raises(zl.aio.ClientClosed):
        await call(aclient)


@aio
async def test_a_closed_client_makes_no_streams(aclient):
    await aclient.close()
    with pytest.raises(zl.aio.ClientClosed):
        aclient.subscribe(["T*"])
    with pytest.raises(zl.aio.ClientClosed):
        aclient.messages()
    await aclient.close()  # again: nothing more
    assert aclient.closed


@aio
async def test_close_waits_for_the_calls_awaited_before(aclient, faults):
    assert faults("delay PVE 300 count=1") == "OK"
    read = asyncio.ensure_future(aclient.pve("TEMP_SP"))
    await asyncio.sleep(0)
    await within(aclient.close())
    assert read.done() and read.result() == 60.0


@aio
async def test_the_end_of_the_block_closes_and_lets_the_exception_through(plant):
    with pytest.raises(KeyError):
        async with zl.aio.Client(plant.orb_options) as c:
            raise KeyError("inside")
    assert c.closed


@aio
async def test_close_disconnects_and_ends_events(aclient, plant):
    # The server sees the consumers of the client's subscription go; a
    # client still connected and listening would keep them.
    def consumers():
        return int(dict(w.split("=") for w in plant.control("status").split()[1:])["consumers"])

    before = consumers()
    await aclient.subscribe(["*"]).start()
    assert consumers() == before + 1
    await aclient.close()
    assert consumers() == before


# --- the doorbells --------------------------------------------------------------

def readable(bell, timeout=0.0):
    return bool(select.select([bell.fileno()], [], [], timeout)[0])


def test_a_doorbell_is_readable_from_a_ring_until_it_is_cleared():
    bell = zl._Doorbell()
    assert not readable(bell)
    bell.ring()
    bell.ring()
    assert readable(bell)
    assert bell.clear() == 2
    assert not readable(bell)
    assert bell.clear() == 0  # never blocks
    bell.close()
    bell.close()
    with pytest.raises(ValueError):
        bell.fileno()


def test_a_doorbell_wait_takes_the_rings_without_holding_the_interpreter():
    bell = zl._Doorbell()
    bell.ring()
    bell.ring()
    assert bell.wait() == 2  # rung before: at once
    got = []
    waiter = threading.Thread(target=lambda: got.append(bell.wait()))
    waiter.start()
    bell.ring()  # this thread runs Python while the other waits
    waiter.join(WAIT_S)
    assert got == [1]
    assert not readable(bell)


@pytest.mark.parametrize("argument, error", [
    (None, TypeError),          # a doorbell is needed
    ("closed", ValueError),     # one that is still open
])
def test_hooks_take_open_doorbells_only(client, argument, error):
    if argument == "closed":
        argument = zl._Doorbell()
        argument.close()
    with pytest.raises(error):
        client._ringonend(1, argument)


def test_the_end_of_a_scenario_rings(client, tmp_path):
    never_ran = zl._Doorbell()
    client._ringonend(99999, never_ran)
    assert readable(never_ran)  # at once: it does not run

    scenario = tmp_path / "wait.scn"
    scenario.write_text("DELAYSECS 600\n")
    sid = client.startscenario(str(scenario))
    assert sid > 0
    bell = zl._Doorbell()
    client._ringonend(sid, bell)
    assert not readable(bell)
    client.stopscenario(sid)
    assert readable(bell, 30.0)


def test_a_server_message_rings_until_the_hook_is_removed(client, plant):
    bell = zl._Doorbell()
    client._ringonmessage(bell)
    try:
        assert client.enableevents(1) in (0, 1)
        assert plant.control("message info aio ring") == "OK"
        assert readable(bell, 30.0)
        while client.getnextzlmessage(zl.MsgType_AllMsgs):
            pass
        bell.clear()
        client._ringonmessage(None)
        assert plant.control("message info aio quiet") == "OK"
        deadline = 300
        while not client.msgsexist(zl.MsgType_AllMsgs) and deadline:
            select.select([], [], [], 0.1)
            deadline -= 1
        assert client.msgsexist(zl.MsgType_AllMsgs)  # it came, and rang nothing
        assert not readable(bell)
    finally:
        client._ringonmessage(None)
        while client.getnextzlmessage(zl.MsgType_AllMsgs):
            pass
        client.enableevents(0)
