"""Helpers of the zl.aio tests: bounded waits in the event loop, and a
connected zl.aio.Client per test (each test runs in a loop of its own, and
a zl.aio client serves the loop that first used it)."""

import asyncio
import inspect

import pytest_asyncio

import zl.aio

WAIT_S = 30.0  # bound on any wait for something that must happen


async def until(condition, bound=WAIT_S):
    """Polls `condition` (a function, or a coroutine function) every 10 ms
    until it gives something true, which it returns; AssertionError after
    `bound` seconds."""
    loop = asyncio.get_running_loop()
    deadline = loop.time() + bound
    while True:
        value = condition()
        if inspect.isawaitable(value):
            value = await value
        if value:
            return value
        assert loop.time() < deadline, "still not so after %g s" % bound
        await asyncio.sleep(0.01)


async def within(awaitable, bound=WAIT_S):
    """The awaitable's outcome, which must come within `bound` seconds."""
    return await asyncio.wait_for(awaitable, bound)


@pytest_asyncio.fixture
async def aclient(plant):
    """A zl.aio.Client connected to the plant's database SIM; closed after
    the test."""
    async with zl.aio.Client(plant.orb_options) as client:
        assert await client.connect("SIM") == 0
        yield client
