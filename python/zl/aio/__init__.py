"""zl for asyncio: a client whose operations are awaited, so that one
thread with an event loop watches many servers at once.

    async with zl.aio.Client(options) as client:
        await client.connect("SIM")
        value = await client.pve("TEMP_SP")
        async for changes in client.subscribe(["TANK_*"]):
            ...

- `Client(options, *, raise_errors=False)`: every operation of zl.Client
  as a coroutine; one client's calls run in order on a worker of its own,
  different clients' calls overlap; `close()` (or the end of `async with`)
  unregisters, turns events off and disconnects;
- `Client.subscribe(tags, maxsize=...)`: tag changes as batches
  (Subscription), bounded, the oldest dropped and counted in `dropped`;
- `Client.messages(type)`: the server's messages as they arrive (Messages);
- `Client.runscenario(path, options, timeout=...)`: a whole run, its
  verdict and failures with their scenario lines (RunResult, Failure);
  cancelling it stops the scenario.

No wait polls: a scenario's end and a server message ring a doorbell that
the loop watches, and tag changes wake the loop from the ORB's thread.
Importing zl.aio imports asyncio; importing zl does not import zl.aio.
"""
from zl.aio.client import Client, ClientClosed
from zl.aio.messages import Messages
from zl.aio.scenario_run import Failure, RunResult
from zl.aio.subscription import Subscription

__all__ = ["Client", "ClientClosed", "Failure", "Messages", "RunResult", "Subscription"]
