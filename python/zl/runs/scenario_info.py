"""The texts of zl.Client.listscenarios and zl.Client.scenarioinfo as Python
values.

listscenarios gives one line per running scenario, its id, a blank and its
file, each line ended by CR LF:

    "1 tests/fill.scn\\r\\n2 tests/heat.scn\\r\\n"

scenarioinfo(id) gives lines of a key, a TAB and a value, each ended by LF,
in this order: sceID, sceFile, sceErrors, totalVerifies, failedVerifies,
totalMonitorChecks, failedMonitorChecks, sceLineNumber[0], and sceQuestion
only while the scenario waits for an operator's answer. Both are empty when
no scenario (with that id) runs.

The parsers take the texts, so they work on texts from any client, a log or
a test; `read_info` and `running` ask a client. `scenario_row` is a running
scenario as the zl serve page shows it, for zl serve's own scenarios and for
the run a zl run publishes alike.
"""
from typing import TYPE_CHECKING, Any, Dict, Optional, Sequence, TypedDict

from zl.runs.places import Reported

if TYPE_CHECKING:
    import zl

MAX_REPORTED = 20  # failure and error lines a row shows


class ScenarioInfo(TypedDict):
    """One scenario's state, from scenarioinfo(id)."""
    id: int                    # sceID
    file: str                  # sceFile: the path as startscenario got it
    errors: int                # sceErrors: statement errors
    total_verifies: int        # totalVerifies: verifications and prechecks made
    failed_verifies: int       # failedVerifies
    total_monitor_checks: int  # totalMonitorChecks
    failed_monitor_checks: int  # failedMonitorChecks
    line_number: int           # sceLineNumber[0]: lines of the file read so far
    question: Optional[str]    # sceQuestion: the question waiting for an answer, else None


# scenarioinfo's keys of integer values, and the ScenarioInfo field of each.
_NUMBERS = {
    "sceID": "id",
    "sceErrors": "errors",
    "totalVerifies": "total_verifies",
    "failedVerifies": "failed_verifies",
    "totalMonitorChecks": "total_monitor_checks",
    "failedMonitorChecks": "failed_monitor_checks",
    "sceLineNumber[0]": "line_number",
}


def parse_scenario_list(text: str) -> Dict[int, str]:
    """The scenarios of a listscenarios text: {id: file}, in the text's
    order; {} for an empty text. Raises ValueError for a line that does not
    begin with an id and a blank."""
    scenarios: Dict[int, str] = {}
    for line in text.splitlines():
        if not line:
            continue
        number, blank, file = line.partition(" ")
        if not blank:
            raise ValueError("not a scenario line: %r" % line)
        scenarios[_integer(number, line)] = file
    return scenarios


def parse_scenario_info(text: str) -> Optional[ScenarioInfo]:
    """The ScenarioInfo of a scenarioinfo text; None for an empty text (no
    scenario with that id runs, or it has ended). Raises ValueError when a
    key is missing or a count is not an integer. Keys it does not know are
    ignored."""
    if not text:
        return None
    fields: Dict[str, str] = {}
    for line in text.splitlines():
        key, _, value = line.partition("\t")
        if key:
            fields[key] = value
    missing = [key for key in ("sceFile", *_NUMBERS) if key not in fields]
    if missing:
        raise ValueError("scenarioinfo text without %s" % ", ".join(missing))
    numbers = {name: _integer(fields[key], key) for key, name in _NUMBERS.items()}
    return ScenarioInfo(id=numbers["id"], file=fields["sceFile"], errors=numbers["errors"],
                        total_verifies=numbers["total_verifies"],
                        failed_verifies=numbers["failed_verifies"],
                        total_monitor_checks=numbers["total_monitor_checks"],
                        failed_monitor_checks=numbers["failed_monitor_checks"],
                        line_number=numbers["line_number"],
                        question=fields.get("sceQuestion"))


def read_info(client: "zl.Client", sid: int) -> Optional[ScenarioInfo]:
    """The state of scenario `sid` of `client`; None when it does not run
    (any more)."""
    return parse_scenario_info(client.scenarioinfo(sid))


def running(client: "zl.Client") -> Dict[int, str]:
    """The scenarios `client` runs: {id: file}."""
    return parse_scenario_list(client.listscenarios())


def scenario_row(sid: int, file: str, info: Optional[ScenarioInfo],
                 reported: Sequence[Reported] = (), base: str = "") -> Dict[str, Any]:
    """A running scenario as the zl serve page shows it, from its state
    (None before its first line, or after its end) and the failure and
    error lines it reported (the first MAX_REPORTED, each with its scenario
    line, files named from `base` (Place.text), and how many more). The
    counts are texts, as the page shows them; without a state the line is
    "" and the counts are "0"."""
    shown = info if info is not None else _NOTHING
    return {"id": sid, "file": file,
            "reported": [{"where": r.place.text(base), "level": r.level, "text": r.text}
                         for r in reported[:MAX_REPORTED]],
            "moreReported": max(0, len(reported) - MAX_REPORTED),
            "line": str(info["line_number"]) if info is not None else "",
            "verifies": str(shown["total_verifies"]),
            "failedVerifies": str(shown["failed_verifies"]),
            "monitorChecks": str(shown["total_monitor_checks"]),
            "failedMonitorChecks": str(shown["failed_monitor_checks"]),
            "errors": str(shown["errors"]),
            "question": shown["question"] or ""}


# The counts of a scenario without a state.
_NOTHING = ScenarioInfo(id=0, file="", errors=0, total_verifies=0, failed_verifies=0,
                        total_monitor_checks=0, failed_monitor_checks=0, line_number=0,
                        question=None)


def _integer(text: str, where: str) -> int:
    try:
        return int(text, 10)
    except ValueError:
        raise ValueError("not an integer in %r: %r" % (where, text)) from None
