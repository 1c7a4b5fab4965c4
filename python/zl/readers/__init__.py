"""The readers of the files a Zelvik client and its scenarios write, as one
library for scripts (docs/readers.md); the zl command's tools use the same.

- test logs: `read_test_log(path)` gives a TestLog of Sections (runs), each
  with its Cases (checks and errors), Notes (comments, subtests), its
  signature, and `judge(section)` its Verdict;
- log set files: `LogSet(path)`: records, logs, tags, rows over time,
  `to_dataframe()` for pandas;
- tag files: `read_tag_file(path)` (records) and `tag_file_tags(path)`;
- stored-values files: `read_stored_values(path)`.

None needs a server or calls the extension module. The binary readers
raise FormatError at the first bad record (EmptyFile for an empty file);
the test log reader takes any bytes and never raises but OSError.
"""
from zl.readers.logset_file import Log, LogSet, Record as LogSetRecord, Series, render
from zl.readers.record_file import EmptyFile, FormatError
from zl.readers.stored_values import Value, read as read_stored_values
from zl.readers.tag_file import Record as TagFileRecord, Tag, read as read_tag_file
from zl.readers.tag_file import tags as tag_file_tags
from zl.readers.testlog import Case, Note, Section, TestLog, Verdict, judge
from zl.readers.testlog import parse as parse_test_log, read as read_test_log

__all__ = [
    "Case", "EmptyFile", "FormatError", "Log", "LogSet", "LogSetRecord", "Note", "Section",
    "Series", "Tag", "TagFileRecord", "TestLog", "Value", "Verdict", "judge",
    "parse_test_log", "read_stored_values", "read_tag_file", "read_test_log", "render",
    "tag_file_tags",
]
