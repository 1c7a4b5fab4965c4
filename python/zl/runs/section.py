"""A run's part of its test log, read back after the run: the section,
the lines as written, the verdict by the one rule every tool uses
(testlog.judge, docs/tools/verdict.md) and the list of what failed.
"""
from dataclasses import dataclass
from typing import List, Optional

from zl.readers import testlog
from zl.runs import places


@dataclass
class RunSection:
    """One run's part of a test log, as read at one moment."""
    test_log: str             # the test log's path
    data: bytes               # the whole test log as it was read
    section: testlog.Section  # the run's section; line numbers and offsets are the file's
    end: int                  # where the part ends: the next run's start, else the file's end

    @property
    def lines(self) -> List[str]:
        """The part's lines as written (UTF-8, a bad byte replaced), without
        the blank lines that end it."""
        part = self.data[self.section.start:self.end]
        lines = [raw.decode("utf-8", "replace") for raw in part.splitlines()]
        while lines and not lines[-1].strip():
            lines.pop()
        return lines

    @property
    def verdict(self) -> testlog.Verdict:
        return testlog.judge(self.section)

    @property
    def failing(self) -> List[testlog.Case]:
        """Every check and error that did not pass (failures, errors and the
        line that ended the run early), in the order of the log."""
        return [c for c in self.section.cases if c.outcome != "passed"]

    def keep_places(self, found: places.Places) -> None:
        """Keeps the places of the run's lines beside the test log for zl
        report (places.save); nothing when none were found. OSError when
        they cannot be written."""
        if found:
            places.save(self.test_log, self.data, self.section, found)


def read_section(test_log: str, offset: int) -> Optional[RunSection]:
    """The run whose section is the first in `test_log` that begins at or
    after `offset`; None when there is none. Raises OSError when the file
    cannot be read."""
    with open(test_log, "rb") as f:
        data = f.read()
    sections = testlog.parse(data).sections
    index = next((i for i, s in enumerate(sections) if s.start >= offset), None)
    if index is None:
        return None
    end = sections[index + 1].start if index + 1 < len(sections) else len(data)
    return RunSection(test_log, data, sections[index], end)
