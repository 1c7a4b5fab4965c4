"""A script's tag-change callback that blocks: the main thread's calls go on
while the callback waits, and disconnect and interpreter exit are still
prompt, whether the callback is released first or is still blocked at the
exit. Each case runs in a child process against services of its own; the
only time bound is the generous hang bound."""

import pytest

from conftest import HANG_BOUND_S, run_script

pytestmark = pytest.mark.services(tags=["examples/plant.tags"])

SCRIPT = """
import os, threading, time
import zl
client = zl.Client(os.environ["ORB"])
assert client.connect("SIM") == 0
entered = threading.Event()
release = threading.Event()

class Blocking(zl.Callback):
    def tagschanged(self, change):
        entered.set()
        release.wait()
        return 0

cb = Blocking()
assert cb.register(client) == 0
assert entered.wait(20), "no tag change came"
# The callback is blocked on an ORB thread: the main thread's calls still
# go through, writes included.
for i in range(20):
    assert client.setpve("LEVEL_SP", 2.0 + i / 10) == 1
    assert abs(client.pve("LEVEL_SP") - (2.0 + i / 10)) < 1e-9
assert client.enableevents(1) == 0
assert client.tagcount() > 0
%s
print("done", flush=True)
"""

CASES = [
    # released before disconnect: everything ends normally
    "release.set()\nclient.disconnect()",
    # still blocked at disconnect, released afterwards
    "client.disconnect()\nrelease.set()",
    # still blocked when the interpreter exits, never released
    "client.disconnect()",
    # still blocked at exit without a disconnect
    "pass",
]


@pytest.mark.parametrize("ending", CASES,
                         ids=["released", "released-after-disconnect", "never-released",
                              "never-released-no-disconnect"])
def test_blocking_callback(services, ending):
    child = run_script(SCRIPT % ending, {"ORB": services.orb_options})
    out, err = child.communicate(timeout=HANG_BOUND_S)
    assert child.returncode == 0, out + err
    assert "done" in out
