"""The verdict of one scenario run, from its section of the test log.

`judge` is the one place where this plugin decides pass or fail; it keeps to
the rule the zl commands apply: a run passes when its section has no failure
(`**`) line, no error (`__`, `##`) line, was not stopped, and closed normally.
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


def judge(section):
    """The Verdict of one parsed run (a testlog.Section)."""
    failing = [c for c in section.cases if c.outcome in ("failure", "error")]
    abort = next((c for c in failing if "aborted" in c.text.lower()), None)
    closed = section.duration is not None
    passed = not failing and not section.aborted and closed
    return Verdict(passed, [c for c in failing if c is not abort], abort, closed)
