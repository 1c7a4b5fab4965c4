"""A client on one host of a site (test_site.py): connects the way `how`
says, registers a tag-change callback, enables server messages, makes the
server change a tag and report an error, and prints what it saw as one JSON
line on standard output.

    site_client.py HOW OPTIONS DATABASE

HOW: "library" (zl.Client(OPTIONS)), "zl-connect" (the connection of
`zl run`, `zl get`, ...: zl.cli.connection.connect with --options OPTIONS)
or "zl-serve" (the plant of `zl serve`). Every wait is bounded.
"""
import argparse
import concurrent.futures
import json
import logging
import sys
import threading
import time

import zl

WAIT_S = 10.0
TAG = "LEVEL_SP"


class Records(logging.Handler):
    """The error records of the logger "zl"."""

    def __init__(self):
        super().__init__(logging.ERROR)
        self.lines = []

    def emit(self, record):
        self.lines.append(record.getMessage())


class Watch(zl.Callback):
    def __init__(self):
        super().__init__()
        self.seen = threading.Event()

    def tagschanged(self, change):
        if change.tag == TAG and change.pve == 3.5:
            self.seen.set()
        return 0


def wait_for(condition):
    deadline = time.monotonic() + WAIT_S
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


# Each way to connect gives the client, connect's result, register's result
# and a function that waits for the change of TAG to 3.5.

def library(options, database):
    client = zl.Client(options)
    connected = client.connect(database)
    watch = Watch()
    return client, connected, watch.register(client), lambda: watch.seen.wait(WAIT_S)


def zl_connect(options, database):
    from zl.cli import connection
    args = argparse.Namespace(ns=None, db=database, options=options, verbose=True)
    client = connection.connect(args)
    watch = Watch()
    return client, 0, watch.register(client), lambda: watch.seen.wait(WAIT_S)


def zl_serve(options, database):
    from zl.serve.coalesce import Coalescer
    from zl.serve.plant import Plant
    coalescer = Coalescer()
    plant = Plant.open(options, database, ".", coalescer,
                       concurrent.futures.ThreadPoolExecutor(1))
    connected = 0 if plant.connect() else -1
    # Plant.connect registers the page's callback and drops the result:
    # registering it again tells it.
    registered = plant.callback.register(plant.client)
    seen = {}

    def changed():
        def arrived():
            seen.update(coalescer.take())
            return seen.get(TAG, (None,))[0] == 3.5
        return wait_for(arrived)
    return plant.client, connected, registered, changed


def main():
    how, options, database = sys.argv[1:4]
    records = Records()
    logger = logging.getLogger("zl")
    logger.addHandler(records)
    client, connected, registered, changed = {
        "library": library, "zl-connect": zl_connect, "zl-serve": zl_serve}[how](options, database)
    enabled = client.enableevents(1)
    client.setpve(TAG, 3.5)
    client.setpve("NO_SUCH_TAG", 1.0)   # the server reports an error message
    arrived = changed()
    message = wait_for(lambda: client.msgsexist(zl.MsgType_ErrorMsg))
    client.setpve(TAG, 2.5)
    print(json.dumps({"connect": connected, "register": registered, "changed": arrived,
                      "enableevents": enabled, "message": message,
                      "errors": records.lines}), flush=True)


if __name__ == "__main__":
    main()
