"""zl.aio streams: tag changes (Client.subscribe) and server messages
(Client.messages).

- a subscription gives the chosen changes as batches in the server's
  order; a full buffer drops the oldest and counts them, and never makes
  the ORB's thread wait;
- a stream lives as long as its `async with` block, or its `async for`
  loop: leaving the loop (break, cancellation) ends the registration, and
  closing the client or disconnecting ends the iteration;
- one stream of each kind per client;
- a message stream turns events on, gives each message as it arrives, and
  turns events off again only when it turned them on.

Tag changes are pushed by the server's control command `event seq`, which
changes no tag.
"""

import asyncio
import contextlib

import pytest

import zl
import zl.aio

from aio_support import aclient, until, within  # noqa: F401

aio = pytest.mark.asyncio


def push(plant, *changes):
    """Has the server push one event with these (name, value) changes."""
    line = "event seq " + " ".join("%s:%g:%g:Auto" % (name, value, value)
                                   for name, value in changes)
    assert plant.control(line).startswith("OK")


def consumers(plant):
    status = dict(w.split("=") for w in plant.control("status").split()[1:])
    return int(status["consumers"])


async def next_batch(stream):
    return await within(stream.__aiter__().__anext__())


# --- subscriptions ----------------------------------------------------------------

@aio
async def test_the_chosen_changes_come_in_order(aclient, plant):
    async with aclient.subscribe(["A*", "b_1"]) as changes:
        push(plant, ("A1", 1), ("X1", 2), ("A2", 3), ("B_1", 4), ("A1", 5))
        seen = []
        async for batch in changes:
            assert batch  # never an empty batch
            seen += [(c.tag, c.pve) for c in batch]
            if len(seen) >= 4:
                break
        assert seen == [("A1", 1), ("A2", 3), ("B_1", 4), ("A1", 5)]
        assert changes.dropped == 0


@pytest.mark.parametrize("maxsize, pushed, kept", [
    (3, 10, [7, 8, 9]),   # full: the oldest go
    (10, 10, list(range(10))),  # exactly full: none dropped
])
@aio
async def test_a_full_buffer_drops_the_oldest_and_counts_them(aclient, plant, maxsize,
                                                               pushed, kept):
    async with aclient.subscribe(["T*"], maxsize=maxsize) as changes:
        push(plant, *[("T%d" % i, i) for i in range(pushed)])
        await until(lambda: (changes.dropped, changes.pending) == (pushed - len(kept), len(kept)))
        batch = await next_batch(changes)
        assert [c.pve for c in batch] == kept
        assert changes.dropped == pushed - len(kept)


@aio
async def test_a_loop_that_does_not_read_never_holds_up_delivery(aclient, plant):
    # Events keep coming while nobody reads; the ORB's thread goes on (the
    # buffer drops), so a second subscription of another client sees all.
    other = zl.aio.Client(plant.orb_options)
    async with other:
        assert await other.connect("SIM") == 0
        async with aclient.subscribe(["T*"], maxsize=1) as stuck, \
                other.subscribe(["T*"]) as reader:
            for i in range(20):
                push(plant, ("T%d" % i, i))
            seen = []
            while len(seen) < 20:
                seen += [c.pve for c in await next_batch(reader)]
            assert seen == list(range(20))
            await until(lambda: stuck.dropped == 19)


@pytest.mark.parametrize("how", ["break", "cancel", "exception"])
@aio
async def test_leaving_the_loop_ends_the_registration(aclient, plant, how):
    before = consumers(plant)
    entered = asyncio.Event()

    async def watch():
        async for batch in aclient.subscribe(["T*"]):
            entered.set()
            if how == "break":
                break
            if how == "exception":
                raise LookupError("in the loop")

    task = asyncio.ensure_future(watch())
    await until(lambda: consumers(plant) == before + 1)
    push(plant, ("T1", 1))
    await within(entered.wait())
    if how == "cancel":
        task.cancel()
    raised = {"cancel": asyncio.CancelledError, "exception": LookupError}.get(how)
    with pytest.raises(raised) if raised else contextlib.nullcontext():
        await within(task)
    await until(lambda: consumers(plant) == before)
    async with aclient.subscribe(["T*"]):  # a new one may start
        pass


@pytest.mark.parametrize("end", ["close", "disconnect", "close the subscription"])
@aio
async def test_ending_the_client_or_the_subscription_ends_the_iteration(aclient, end):
    subscription = aclient.subscribe(["T*"])
    await subscription.start()

    async def drain():
        return [batch async for batch in subscription]

    task = asyncio.ensure_future(drain())
    await asyncio.sleep(0)  # the iteration waits for changes
    if end == "close":
        await aclient.close()
    elif end == "disconnect":
        await aclient.disconnect()
    else:
        await subscription.close()
    assert await within(task) == []
    assert not subscription.active


@aio
async def test_one_subscription_at_a_time(aclient):
    async with aclient.subscribe(["A*"]):
        with pytest.raises(RuntimeError, match="has a subscription already"):
            await aclient.subscribe(["B*"]).start()
    async with aclient.subscribe(["B*"]) as again:  # the first one's end frees the place
        assert again.active


@pytest.mark.parametrize("tags, error", [
    ("T*", TypeError),   # a lone str is not a list of tags
    ([""], ValueError),  # as Callback.register says
])
@aio
async def test_bad_tags_raise(aclient, tags, error):
    with pytest.raises(error):
        await aclient.subscribe(tags).start()
    async with aclient.subscribe(["T*"]):  # nothing was left registered
        pass


@aio
async def test_a_subscription_of_a_client_not_connected_raises(plant):
    async with zl.aio.Client(plant.orb_options) as idle:
        with pytest.raises(zl.Error, match="cannot be delivered"):
            await idle.subscribe(["T*"]).start()


# --- messages ------------------------------------------------------------------

@aio
async def test_messages_come_as_they_arrive(aclient, plant):
    async with aclient.messages() as stream:
        texts = []
        for n in range(3):
            assert plant.control("message warning aio number %d" % n) == "OK"
            # The server also reports on its own (a consumer that came or went).
            text = await within(stream.next())
            while " in aio) " not in text:
                text = await within(stream.next())
            texts.append(text.split(" in ", 1)[1])
    assert texts == ["aio) number 0", "aio) number 1", "aio) number 2"]


@pytest.mark.parametrize("events_before, on_after", [
    (False, False),  # the stream turned them on: off again
    (True, True),    # they were on: they stay on
])
@aio
async def test_a_stream_turns_events_off_only_when_it_turned_them_on(aclient, plant,
                                                                     events_before, on_after):
    if events_before:
        assert await aclient.enableevents(1) == 0
    async with aclient.messages() as stream:
        assert plant.control("message info aio on") == "OK"
        await within(stream.next())
    # enableevents(1) gives 1 when events were on already, 0 when it turns them on
    assert await within(aclient.enableevents(1)) == (1 if on_after else 0)
    await aclient.enableevents(0)


@aio
async def test_leaving_the_message_loop_stops_the_stream(aclient, plant):
    async def first():
        async for text in aclient.messages():
            return text

    task = asyncio.ensure_future(first())
    await until(lambda: aclient._streams)  # started: its events are on
    assert plant.control("message error aio first") == "OK"
    assert " in " in await within(task)
    await until(lambda: not aclient._streams)
    assert await aclient.enableevents(1) == 0  # the stream turned its events off
    await aclient.enableevents(0)
    async with aclient.messages():  # a new one may start
        pass


@aio
async def test_closing_the_client_ends_the_message_iteration(aclient):
    stream = aclient.messages()
    await stream.start()
    task = asyncio.ensure_future(stream.next())
    await asyncio.sleep(0)
    await aclient.close()
    assert await within(task) is None


@aio
async def test_a_message_stream_of_a_client_not_connected_raises(plant):
    async with zl.aio.Client(plant.orb_options) as idle:
        for _ in range(2):  # the failed stream left nothing behind
            with pytest.raises(zl.Error, match="events cannot be enabled"):
                await idle.messages().start()
