"""The verdict of one scenario run, from its section of the test log.

The pass/fail decision is the one every zl tool makes (`zl_cli.testlog.judge`,
docs/tools/verdict.md); this module only arranges its lines for a report.
"""
from dataclasses import dataclass, field
from typing import List, Optional

from zl_cli import testlog


@dataclass
class Verdict:
    passed: bool
    failures: List[testlog.Case] = field(default_factory=list)  # failure and error lines
    abort: Optional[testlog.Case] = None  # the line that ended the run early
    closed: bool = False                  # the run wrote its closing line
    reasons: List[str] = field(default_factory=list)  # the shared rule's reasons


def judge(section):
    """The Verdict of one parsed run (a testlog.Section)."""
    shared = testlog.judge(section)
    failing = [c for c in section.cases if c.outcome in ("failure", "error")]
    abort = next((c for c in failing if "aborted" in c.text.lower()), None)
    return Verdict(shared.outcome == "passed", [c for c in failing if c is not abort], abort,
                   section.closed, shared.reasons)
