"""The verdict of one scenario run, from its section of the test log.

The pass/fail decision and the list of what failed are the run layer's, the
ones every zl tool gives (`zl.runs.RunSection`: testlog.judge,
docs/tools/verdict.md); this module only arranges them for a report.
"""
from dataclasses import dataclass, field
from typing import List, Optional

from zl import runs
from zl.readers import testlog


@dataclass
class Verdict:
    passed: bool
    failures: List[testlog.Case] = field(default_factory=list)  # failure and error lines
    abort: Optional[testlog.Case] = None  # the line that ended the run early
    closed: bool = False                  # the run wrote its closing line
    reasons: List[str] = field(default_factory=list)  # the shared rule's reasons


def judge(part: runs.RunSection) -> Verdict:
    """The Verdict of one run's part of its test log."""
    shared = part.verdict
    failing = part.failing
    abort = next((c for c in failing if "aborted" in c.text.lower()), None)
    return Verdict(shared.outcome == "passed", [c for c in failing if c is not abort], abort,
                   part.section.closed, shared.reasons)
