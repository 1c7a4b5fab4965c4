"""The reader of tag definition files: the text the stand-in server loads
with `--tags` and takes in a `Download` (docs/zelvik-sim.md, "Tag definition
lines").

One tag per line, fields separated by TABs, the name first; blank lines and
lines whose first non-blank character is "#" are skipped, a line whose first
field begins with "$" is a directive, and a carriage return before the line
feed is ignored. This reader takes what a tool needs of such a file, the
tags' names, and refuses a line that cannot be a definition (no name, fewer
than the 4 required fields), so that a file of another kind is not read as
one without tags. The stand-in checks the other fields when it loads them.
"""
import os
from dataclasses import dataclass
from typing import List, Union

REQUIRED_FIELDS = 4  # name, driver, point address, type


class DefinitionError(ValueError):
    """A line that is not a tag definition; `line` is its number, from 1."""

    def __init__(self, line: int, reason: str) -> None:
        super().__init__("line %d: %s" % (line, reason))
        self.line = line
        self.reason = reason


@dataclass
class Definition:
    """One tag definition line: the tag's name and where it stands."""
    name: str
    line: int


def parse(data: bytes) -> List[Definition]:
    """The definitions of a tag definition file's bytes, in order (directives
    left out). Raises DefinitionError at the first line that is none."""
    found: List[Definition] = []
    for number, raw in enumerate(data.decode("utf-8", errors="replace").split("\n"), 1):
        line = raw[:-1] if raw.endswith("\r") else raw
        stripped = line.strip()
        if not stripped or stripped.startswith("#"):
            continue
        fields = [f.strip() for f in line.split("\t")]
        if fields[0].startswith("$"):
            continue
        if not fields[0]:
            raise DefinitionError(number, "the tag name is missing")
        if len(fields) < REQUIRED_FIELDS:
            raise DefinitionError(number, "fewer than the %d fields of a tag definition (name, "
                                          "driver, point address, type, separated by TABs)"
                                  % REQUIRED_FIELDS)
        found.append(Definition(fields[0], number))
    return found


def read(path: Union[str, "os.PathLike[str]"]) -> List[Definition]:
    """The definitions of the file at `path`. Raises OSError and DefinitionError."""
    with open(path, "rb") as f:
        return parse(f.read())
