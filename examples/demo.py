#!/usr/bin/python3
"""A tour of the zl module against the example plant.

Run it with scripts/demo, which builds everything, starts the Naming
Service, the Event Service and zelvik-sim with examples/plant.tags, and sets
ZL_ORB_OPTIONS (the client's option string: where the Naming Service is).

By hand, from the repository:

    PYTHONPATH=build/python Zelvik_Interface=127.0.0.1 \\
        tools/zl_services.py --tags examples/plant.tags -- /usr/bin/python3 examples/demo.py

Lines starting with "#" on standard error are the library's own debug log,
which is on for the thread that imported zl.
"""

import os
import sys
import time

import zl


def step(title):
    print("\n== %s" % title)


def show(expression, value):
    print("  %-52s -> %r" % (expression, value))


def wait_for_messages(client, count, seconds=5.0):
    """Server messages arrive on a listener thread: poll until `count` have
    come (bounded), then take whatever else is already there."""
    texts = []
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        text = client.getnextzlmessage(zl.MsgType_AllMsgs)
        if text:
            texts.append(text)
        elif len(texts) >= count:
            break
        else:
            time.sleep(0.05)
    return texts


def main():
    options = os.environ.get("ZL_ORB_OPTIONS", "")
    database = (os.environ.get("ZL_DATABASES") or "SIM").split(",")[0]

    step("Find the server")
    client = zl.Client(options)
    show("client.listzldatabases()", client.listzldatabases())
    status = client.connect(database)
    show("client.connect(%r)" % database, status)
    if status != zl.SUCCESS:
        print("no server named %s: is it running?" % database)
        return 1
    show("client.tagcount()", client.tagcount())
    show("client.hellozl('$KERNEL.VERSION')", client.hellozl("$KERNEL.VERSION"))

    step("Read one tag")
    for call in ("pve", "pv", "pvestr", "euhi", "tagmode", "tagtype"):
        show("client.%s('LEVEL_SP')" % call, getattr(client, call)("LEVEL_SP"))
    show("client.tagexists('NO_SUCH_TAG')", client.tagexists("NO_SUCH_TAG"))

    step("Write one tag (EU value, then percent of range)")
    show("client.setpve('LEVEL_SP', 3.0)", client.setpve("LEVEL_SP", 3.0))
    show("client.pve('LEVEL_SP')", client.pve("LEVEL_SP"))
    show("client.setpv('LEVEL_SP', 50.0)", client.setpv("LEVEL_SP", 50.0))
    show("client.pve('LEVEL_SP')", client.pve("LEVEL_SP"))

    step("Read and write many tags in one call")
    show("client.setmultipve(['TEMP_SP', 'FEED_FLOW_SP'], [65.0, 25.0])",
         client.setmultipve(["TEMP_SP", "FEED_FLOW_SP"], [65.0, 25.0]))
    for row in client.multipve(["TEMP_SP", "FEED_FLOW_SP", "FEED_PUMP_RUN", "TANK_LEVEL"]):
        print("  %(tagname)-14s %(value)10.3f  %(mode)-6s %(type)s" % row)

    step("Modes and force")
    show("client.setman('FEED_FLOW_SP')", client.setman("FEED_FLOW_SP"))
    show("client.tagmode('FEED_FLOW_SP')", client.tagmode("FEED_FLOW_SP"))
    show("client.setforce('FEED_FLOW_SP', 1)", client.setforce("FEED_FLOW_SP", 1))
    show("client.isforced('FEED_FLOW_SP')", client.isforced("FEED_FLOW_SP"))
    client.setforce("FEED_FLOW_SP", 0)
    client.setauto("FEED_FLOW_SP")
    show("client.tagmode('FEED_FLOW_SP')  (after setauto)", client.tagmode("FEED_FLOW_SP"))

    step("Expressions")
    show("client.zlexpr('TANK_LEVEL / 5 * 100')", round(client.zlexpr("TANK_LEVEL / 5 * 100"), 3))
    show("client.zlexpr('TEMP_SP > 60 AND FEED_PUMP_RUN')",
         client.zlexpr("TEMP_SP > 60 AND FEED_PUMP_RUN"))

    step("Control the simulation")
    show("client.algsrunning(0)  (pause; gives the state before)", client.algsrunning(0))
    before = float(client.hellozl("$KERNEL.ElapsedSimTime"))
    show("client.doasinglecalccycle(5.0)", client.doasinglecalccycle(5.0))
    show("simulated seconds gone by", float(client.hellozl("$KERNEL.ElapsedSimTime")) - before)
    show("client.algsrunning(1)  (run again)", client.algsrunning(1))
    show("client.warpfactor(4.0)  (gives the factor before)", client.warpfactor(4.0))
    show("client.warpfactor()", client.warpfactor())
    show("client.cycletime(0.5)  (gives the cycle time before)", client.cycletime(0.5))

    step("Server messages")
    show("client.enableevents(1)", client.enableevents(1))
    client.cycletime(1.0)                      # an information message
    client.warpfactor(1.0)                     # another
    client.setforce("TANK_LEVEL", 1)           # refused for a tag in Auto: a warning
    client.setpve("LEVEL_SP,NO_SUCH_TAG", 2.5)  # one tag written, an error for the other
    print("  (errors first, then warnings, information and debug messages)")
    for text in wait_for_messages(client, 4):
        print("  " + text)
    show("client.msgsexist(zl.MsgType_AllMsgs)", client.msgsexist(zl.MsgType_AllMsgs))

    step("Tag changes as the plant runs")

    class Printer(zl.Callback):
        """Prints the first few changes the server pushes."""

        def __init__(self, limit):
            super().__init__()
            self.left = limit

        def tagschanged(self, change):
            if self.left > 0:
                self.left -= 1
                mode = "Auto" if change.tagmode == zl.TagMode_Auto else "Manual"
                print("  %-18s %12.4f  %-6s at %d.%06d" %
                      (change.tag, change.pve, mode, change.secs, change.usecs))
            return 0

    printer = Printer(6)
    show("printer.register(client)", printer.register(client))
    deadline = time.monotonic() + 5.0
    while printer.left > 0 and time.monotonic() < deadline:
        time.sleep(0.05)

    step("Save and restore the plant's tags")
    tag_file = os.path.join(os.environ.get("TMPDIR", "/tmp"), "zl-demo-plant.tag")
    show("client.savetags(%r)" % tag_file, client.savetags(tag_file))
    show("client.setpve('LEVEL_SP', 4.0)", client.setpve("LEVEL_SP", 4.0))
    show("client.pve('LEVEL_SP')", client.pve("LEVEL_SP"))
    show("client.readtags(%r)" % tag_file, client.readtags(tag_file))
    show("client.pve('LEVEL_SP')  (restored)", client.pve("LEVEL_SP"))
    os.remove(tag_file)

    step("Done")
    client.setmultipve(["TEMP_SP", "FEED_FLOW_SP"], [60.0, 30.0])
    show("client.disconnect()", client.disconnect())
    return 0


if __name__ == "__main__":
    sys.exit(main())
