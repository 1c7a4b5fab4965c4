"""One scenario run on a connected zl.Client: started where its test log
ends, waited for within a bound, stopped, and read back. `zl run`, the
pytest plugin and zl serve start, watch and stop scenarios through here.

A scenario appends its run to its test log (test_log_path): the run's part
is the first section that begins at or after the size the log had just
before the start (`Run.offset`, read back by `Run.read`). Runs of the same
file by other clients of this machine append to the same log; a caller that
must tell them apart keeps them out meanwhile (the pytest plugin holds a
lock on the scenario file from the start until it has read the run back).

Threads: any thread may wait for a run, and another may stop it meanwhile
(the library's calls are safe to make from several threads).
"""
import os
from typing import TYPE_CHECKING, Optional

from zl.runs.scenario_info import ScenarioInfo, read_info
from zl.runs.section import RunSection, read_section

if TYPE_CHECKING:
    import zl

STOP_BOUND_S = 30.0  # bound on the wait for a stopped scenario to go away


def test_log_path(scenario: str) -> str:
    """Where a scenario writes its test log: its path with the extension
    replaced by .tlg (the last dot of the whole path, as the engine does)."""
    dot = scenario.rfind(".")
    return (scenario[:dot] if dot >= 0 else scenario) + ".tlg"


def _size(path: str) -> int:
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


class Run:
    """A scenario started on a client. Constant after construction."""

    def __init__(self, client: "zl.Client", scenario: str, sid: int, offset: int) -> None:
        self.client = client
        self.scenario = scenario                  # the path as it was started
        self.test_log = test_log_path(scenario)
        self.sid = sid                            # its id; 0 or below: it did not start
        self.offset = offset                      # the test log's size before the start

    @property
    def started(self) -> bool:
        return self.sid > 0

    def info(self) -> Optional[ScenarioInfo]:
        """Its state now; None once it has ended."""
        return read_info(self.client, self.sid)

    def wait(self, timeout: Optional[float] = None) -> bool:
        """Waits for its end: True once it has ended (its test log is then
        complete), False when `timeout` seconds passed first (None: no
        limit)."""
        return self.client.waitscenario(self.sid, timeout)

    def stop(self, bound: float = STOP_BOUND_S) -> bool:
        """Stops it and waits for its end, at most `bound` seconds: whether
        it ended within the bound."""
        self.client.stopscenario(self.sid)
        return self.client.waitscenario(self.sid, bound)

    def read(self) -> Optional[RunSection]:
        """Its part of the test log, read now: None when the log holds no
        run there. Raises OSError when the log cannot be read."""
        return read_section(self.test_log, self.offset)


def start(client: "zl.Client", scenario: str, options: str = "") -> Run:
    """Starts the scenario file `scenario` on `client` with `options` (its
    arguments $1 .. $8, -skipuserq), after taking the size of its test log.
    The Run's `started` tells whether the scenario started."""
    offset = _size(test_log_path(scenario))
    return Run(client, scenario, client.startscenario(scenario, options), offset)
