"""Scenario runs: the one layer that `zl run`, `zl serve` and the pytest
plugin run scenarios through.

- `start(client, scenario, options)` starts a scenario where its test log
  ends and gives a Run: `wait(timeout)`, `stop()` (with a bounded wait for
  its end), `info()`, and `read()`, the run's part of the test log (a
  RunSection: its section, lines, verdict and what failed);
- `read_info(client, sid)` and `running(client)` give what scenarioinfo
  and listscenarios say as values (ScenarioInfo; `parse_scenario_info`
  and `parse_scenario_list` parse such texts from anywhere);
- `places` gathers where a run's failure lines come from in its scenario
  files and keeps them beside the test log; `channel` is the local channel
  over which a zl run shows its run to zl serve.

Needs a connected zl.Client for runs; the parsers and readers need none.
"""
from zl.runs.run import STOP_BOUND_S, Run, start, test_log_path
from zl.runs.scenario_info import (ScenarioInfo, parse_scenario_info, parse_scenario_list,
                                   read_info, running, scenario_row)
from zl.runs.section import RunSection, read_section

__all__ = [
    "STOP_BOUND_S", "Run", "RunSection", "ScenarioInfo", "parse_scenario_info",
    "parse_scenario_list", "read_info", "read_section", "running", "scenario_row", "start",
    "test_log_path",
]
