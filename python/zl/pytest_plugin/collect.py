"""Scenario files as pytest items.

A file whose name matches one of the ini patterns `zl_scenario_files`
(default `test_*.scn`) becomes one item per set of arguments, unless a
scenario file calls it as a subtest (`@NAME`, or `@DIR/NAME` from a
directory above it, up to the rootdir): a subtest runs inside its caller,
not on its own.

Arguments come from the ini lines `zl_scenario_args`, else from a file
beside the scenario with the extension `.args`; without either the file is
one item without arguments. An ini line is `FILE: ARGS` or `FILE[ID]: ARGS`
(FILE a name or a shell pattern, matched against the path relative to the
rootdir and against the file name); a line of an `.args` file is `ARGS` or
`ID: ARGS` (`#` starts a comment line). Each line is one item; its id is
ID, else ARGS with blanks turned into `-`. A file with one line without an
ID keeps the plain item name.

    [pytest]
    zl_scenario_args =
        test_fill.scn[low]: 2.0
        test_fill.scn[high]: 4.5
"""
import fnmatch
import re
from pathlib import Path
from typing import TYPE_CHECKING, Any, Dict, Iterator, List, Optional, Sequence, Set, Tuple, Union

import pytest

if TYPE_CHECKING:
    from _pytest._code.code import TerminalRepr

# (id or None, arguments) of one line of arguments
Arguments = Tuple[Optional[str], str]

ARGS_SUFFIX = ".args"
_INI_LINE = re.compile(r"^(?P<file>[^\[\]:]+?)\s*(?:\[(?P<id>[^\]]+)\])?\s*:\s*(?P<args>.*)$")
_ARGS_LINE = re.compile(r"^(?:(?P<id>[A-Za-z_][\w.\-]*)\s*:(?:\s+|$))?(?P<args>.*)$")
_SUBTEST = re.compile(r"^\s*@(\S+)")


class ArgumentsError(ValueError):
    """A line of the ini table or of an .args file is not an argument line."""


def matches(path: Path, patterns: Sequence[str]) -> bool:
    return any(fnmatch.fnmatchcase(path.name, p) for p in patterns)


def subtests_called_in(directory: Path, cache: Dict[str, Set[str]]) -> Set[str]:
    """Names (upper case) that scenario files of `directory` call with @."""
    key = str(directory)
    if key not in cache:
        called: Set[str] = set()
        for scn in directory.iterdir():
            if not scn.is_file() or scn.suffix.lower() != ".scn":
                continue
            try:
                text = scn.read_text(encoding="utf-8", errors="replace")
            except OSError:
                continue
            for line in text.splitlines():
                if line.startswith("#"):
                    continue
                found = _SUBTEST.match(line)
                if found:
                    name = found.group(1).replace("\\", "/").upper()
                    called.add(name[2:] if name.startswith("./") else name)
        cache[key] = called
    return cache[key]


def is_subtest(path: Path, rootdir: Path, cache: Dict[str, Set[str]]) -> bool:
    """Whether a scenario file of `path`'s directory, or of one above it up
    to `rootdir`, calls `path` as a subtest (names compared in upper case,
    as the engine resolves them without regard to case)."""
    directory = path.parent
    while True:
        if path.relative_to(directory).as_posix().upper() in subtests_called_in(directory, cache):
            return True
        if directory == rootdir or directory.parent == directory:
            return False
        directory = directory.parent


def _make_id(ident: Optional[str], args: str) -> str:
    return ident if ident else re.sub(r"\s+", "-", args.strip()) or "no-arguments"


def ini_arguments(path: Path, rootdir: Path, lines: Sequence[str]) -> List[Arguments]:
    """(id, args) pairs the ini table gives `path`, [] when none."""
    relative = path.relative_to(rootdir).as_posix() if path.is_relative_to(rootdir) else str(path)
    found: List[Arguments] = []
    for line in lines:
        if not line.strip():
            continue
        m = _INI_LINE.match(line.strip())
        if m is None:
            raise ArgumentsError("zl_scenario_args: not FILE[ID]: ARGS: %r" % line)
        pattern = m.group("file").strip()
        if fnmatch.fnmatchcase(relative, pattern) or fnmatch.fnmatchcase(path.name, pattern):
            found.append((m.group("id"), m.group("args").strip()))
    return found


def file_arguments(path: Path) -> Optional[List[Arguments]]:
    """(id, args) pairs of the .args file beside `path`, None without one."""
    marker = path.with_suffix(ARGS_SUFFIX)
    if not marker.is_file():
        return None
    found: List[Arguments] = []
    for line in marker.read_text(encoding="utf-8").splitlines():
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        m = _ARGS_LINE.match(line.strip())
        assert m is not None  # the pattern matches every line
        found.append((m.group("id"), m.group("args").strip()))
    return found


def argument_sets(path: Path, rootdir: Path, ini_lines: Sequence[str]) -> List[Tuple[str, str]]:
    """[(name suffix, args)] for the items of one scenario file."""
    pairs = ini_arguments(path, rootdir, ini_lines) or file_arguments(path) or []
    if not pairs:
        return [("", "")]
    if len(pairs) == 1 and pairs[0][0] is None:
        return [("", pairs[0][1])]
    seen: Dict[str, int] = {}
    sets: List[Tuple[str, str]] = []
    for ident, args in pairs:
        name = _make_id(ident, args)
        if name in seen:
            seen[name] += 1
            name = "%s%d" % (name, seen[name])
        else:
            seen[name] = 0
        sets.append(("[%s]" % name, args))
    return sets


class ScenarioFile(pytest.File):
    """A scenario file: one ScenarioItem per set of arguments."""

    def collect(self) -> Iterator["ScenarioItem"]:
        config = self.config
        try:
            sets = argument_sets(Path(self.path), Path(config.rootpath),
                                 config.getini("zl_scenario_args"))
        except (ArgumentsError, OSError) as e:
            raise self.CollectError(str(e))
        stem = Path(self.path).stem
        for suffix, args in sets:
            yield ScenarioItem.from_parent(self, name=stem + suffix, arguments=args)


class ScenarioFailed(Exception):
    """A scenario run that failed; its text is the report."""


class ScenarioItem(pytest.Item):
    """One run of a scenario file with one set of arguments."""

    def __init__(self, *, arguments: str = "", **kwargs: Any) -> None:
        super().__init__(**kwargs)
        self.arguments = arguments

    def runtest(self) -> None:
        from zl import pytest_plugin
        pytest_plugin.run_item(self)

    def repr_failure(self, excinfo: pytest.ExceptionInfo[BaseException],
                     style: Any = None) -> Union[str, "TerminalRepr"]:
        if isinstance(excinfo.value, ScenarioFailed):
            return str(excinfo.value)
        return super().repr_failure(excinfo, style=style)

    def reportinfo(self) -> Tuple[Path, Optional[int], str]:
        text = "scenario %s" % self.name
        if self.arguments:
            text += " (%s)" % self.arguments
        return self.path, None, text
