"""One process's place in a campaign (the pytest session, or one xdist
worker): its zl.Client, the database it has leased from the pool, and the
stand-in server it started for --zl-sim.

A process leases one database and keeps it for the session: every scenario
of the worker runs there, one at a time. Leases are held in the Naming
Service (zl.Lease), so workers on every host of a site share one pool and
never two of them use one database at a time. Before each item the station
checks that its database still answers; when it does not (its server was
stopped or killed), it gives the lease back and leases another database of
the pool, or, for a stand-in of its own, starts the stand-in again, so that
a server that dies fails only the items that ran on it.

The process has one ORB, and its first zl.Client fixes the Naming Service:
a station makes one client and keeps it. Not thread-safe: pytest's thread.
"""
import os
import re
import time
from dataclasses import dataclass
from typing import List, Optional

import zl
from zl import naming
from zl.services import Services, ServicesError

LOOPBACK = naming.LOOPBACK
RETRY_S = 0.2            # between rounds over a pool whose databases are all leased
PROBE = "$KERNEL.NAME"   # a HelloZL question every server answers


class StationError(RuntimeError):
    """The station cannot give a database (the message says why)."""


@dataclass
class Settings:
    naming: str = ""                 # --zl-naming: PORT, HOST:PORT or an address
    databases: Optional[List[str]] = None  # --zl-databases; None: all the Naming Service lists
    sim_tags: str = ""               # --zl-sim TAGFILE: a stand-in of this process's own
    client_options: str = ""         # --zl-client-options
    baseline: str = ""               # --zl-baseline FILE.tag
    lease_wait: float = 60.0         # how long to wait for a free database
    worker: str = ""                 # the xdist worker id ("gw0"), "" without xdist


def worker_index(worker: str) -> int:
    """0 for "gw0" (and for no worker), 3 for "gw3"."""
    match = re.search(r"(\d+)$", worker or "")
    return int(match.group(1)) if match else 0


def split_names(text: str) -> List[str]:
    return [n for n in re.split(r"[\s,;]+", text or "") if n and not n.startswith("!")]


class Station:
    def __init__(self, settings: Settings) -> None:
        self.settings = settings
        self.services: Optional[Services] = None   # the stand-in of --zl-sim
        self.client: Optional[zl.Client] = None
        self.lease: Optional[zl.Lease] = None
        self.database = ""

    # --- the stand-in -------------------------------------------------------

    def stand_in(self) -> Optional[Services]:
        """The stand-in of this process (started on first call); None
        without --zl-sim."""
        if not self.settings.sim_tags:
            return None
        if self.services is None:
            naming = naming_address(self.settings.naming) if self.settings.naming else None
            databases = [sim_database(self.settings.worker)] if naming else []
            services = Services(tags=[self.settings.sim_tags], databases=databases,
                                naming=naming)
            try:
                services.start()
            except ServicesError as e:
                raise StationError("the stand-in did not start: %s" % e) from None
            self.services = services
            self._export()
        return self.services

    def _export(self) -> None:
        """The stand-in's variables (those of `zl sim`) and the
        database in the environment, for the scenarios' SYSTEM commands."""
        if self.services is not None:
            os.environ.update(self.services.environment())
        if self.database:
            os.environ["ZL_DATABASE"] = self.database
        else:
            os.environ.pop("ZL_DATABASE", None)

    # --- the client and its database -----------------------------------------

    def orb_options(self) -> str:
        parts = []
        services = self.stand_in()
        if self.settings.naming:
            parts.append("-ORBInitRef NameService=" + naming_address(self.settings.naming))
        elif services is not None:
            parts.append(services.orb_options)
        elif os.environ.get("ZL_ORB_OPTIONS"):
            parts.append(os.environ["ZL_ORB_OPTIONS"])
        if self.settings.client_options:
            parts.append(self.settings.client_options)
        return " ".join(parts)

    def _make_client(self) -> None:
        options = self.orb_options()
        if "-ORBendPoint" not in options and _naming_is_local(options):
            # Only for a Naming Service on this machine: on a site of several
            # hosts the ORB must publish an address the others reach (the
            # lease's holder object is called by them).
            os.environ.setdefault("Zelvik_Interface", LOOPBACK)
        self.client = zl.Client(options)

    def pool(self) -> List[str]:
        """The databases this station may lease, in the order it tries them."""
        if self.settings.databases:
            names = list(self.settings.databases)
        elif self.services is not None:
            names = [n for n in self.services.databases if n]
        else:
            assert self.client is not None
            names = split_names(self.client.listzldatabases())
        if not names:
            raise StationError("no database to run on: the Naming Service lists none "
                               "(give --zl-databases, or --zl-sim TAGFILE)")
        turn = worker_index(self.settings.worker) % len(names)
        return names[turn:] + names[:turn]

    def connect(self) -> zl.Client:
        """The client, connected to a leased database that answers. Raises
        StationError when no database of the pool is free and answering
        within the lease wait."""
        if self.client is None:
            self._make_client()
        assert self.client is not None
        if self.database and self.client.hellozl(PROBE):
            return self.client
        if self.database:
            self._drop()  # it no longer answers
            if self.services is not None:
                try:
                    self.services.restart_sim()
                except ServicesError as e:
                    raise StationError("the stand-in did not start again: %s" % e) from None
                self._export()
        deadline = time.monotonic() + self.settings.lease_wait
        tried: List[str] = []
        while True:
            names = self.pool()
            for name in names:
                if self._take(name):
                    return self.client
            tried = names
            if time.monotonic() >= deadline:
                raise StationError(
                    "no database of the pool (%s) was free and answering within %g s"
                    % (", ".join(tried), self.settings.lease_wait))
            time.sleep(RETRY_S)

    def _take(self, name: str) -> bool:
        assert self.client is not None
        lease = zl.Lease(self.client, name)
        got = lease.acquire()
        if got < 0:
            raise StationError("leasing %s: the Naming Service failed: %s"
                               % (name, lease.error()))
        if got == 0:
            return False
        if self.client.connect(name) != zl.SUCCESS:
            lease.release()
            return False
        self.lease, self.database = lease, name
        self._export()
        return True

    def _drop(self) -> None:
        if self.client is not None and self.database:
            self.client.disconnect()
        if self.lease is not None:
            self.lease.release()
        self.lease, self.database = None, ""

    def restore_baseline(self) -> None:
        """Reads the baseline tag file into the database (when one is set)."""
        if not self.settings.baseline:
            return
        assert self.client is not None
        restored = self.client.readtags(self.settings.baseline)
        if restored <= 0:
            raise StationError("the baseline %s could not be restored on %s (readtags gave %d)"
                               % (self.settings.baseline, self.database, restored))

    def close(self) -> None:
        """Gives the lease back, disconnects, stops the stand-in."""
        try:
            self._drop()
        finally:
            if self.services is not None:
                self.services.stop()
                self.services = None


def naming_address(text: str) -> str:
    """The Naming Service address for a --zl-naming value (PORT, HOST:PORT,
    corbaloc:, corbaname: or IOR:)."""
    try:
        return naming.naming_address(text)
    except ValueError as e:
        raise StationError("--zl-naming: %s" % e) from None


def sim_database(worker: str) -> str:
    """The database a stand-in of this process serves in a shared Naming Service."""
    return "SIM_" + worker.upper() if worker else "SIM_MAIN"


def _naming_is_local(options: str) -> bool:
    """Whether the options name a Naming Service on this machine's loopback."""
    endpoint = naming.naming_endpoint(options)
    return endpoint is not None and endpoint[0] in (LOOPBACK, "localhost")
