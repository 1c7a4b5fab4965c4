"""The check of a scenario item before it takes a server.

Each item's scenario file (with its subtests and the item's arguments) is
checked as `zl check` does (zl.checks) before the worker leases a database
or starts its stand-in: an item the check finds errors in fails at once with
the findings and runs nowhere. The tags that exist come from the tag file of
--zl-sim when there is one (no server needed); otherwise from the database
the worker holds, read once per database: a worker that holds none yet
checks without tags first and, once it has leased its database, the item's
tags again before it runs. Warnings do not stop an item; they are shown in
its report ("zl check" section).

Turned off by --zl-no-check or the ini option `zl_scenario_check = false`.
Used by pytest's thread only.
"""
import os
from pathlib import Path
from typing import Dict, List, Optional

import pytest

import zl
from zl import checks
from zl.pytest_plugin.collect import ScenarioFailed, ScenarioItem

Tags = Optional[List[str]]

# {"--zl-sim" or a database's name: its tags (None: they could not be read)}
_TAGS = pytest.StashKey[Dict[str, Tags]]()


def _cache(config: pytest.Config) -> Dict[str, Tags]:
    found: Dict[str, Tags] = config.stash.setdefault(_TAGS, {})
    return found


def enabled(config: pytest.Config) -> bool:
    return not config.option.zl_no_check and bool(config.getini("zl_scenario_check"))


def sim_tags(config: pytest.Config, tag_file: str) -> Tags:
    """The tags of the --zl-sim tag file `tag_file`; None when it cannot be
    read (the stand-in's start then says why)."""
    cache = _cache(config)
    if "--zl-sim" not in cache:
        try:
            cache["--zl-sim"] = checks.tags_of_file(tag_file)
        except (OSError, checks.TagsError):
            cache["--zl-sim"] = None
    return cache["--zl-sim"]


def database_tags(config: pytest.Config, client: "zl.Client", database: str) -> Tags:
    """The tags of the database `client` holds, read at the first call for it."""
    cache = _cache(config)
    if database not in cache:
        try:
            cache[database] = checks.tags_of_database(client)
        except checks.TagsError:
            cache[database] = None
    return cache[database]


def known_tags(config: pytest.Config, tag_file: str, database: str) -> Tags:
    """The tags known before the item takes a server: those of --zl-sim, or
    of the database the worker already holds; None when neither is known."""
    if tag_file:
        return sim_tags(config, tag_file)
    return _cache(config).get(database) if database else None


def _shown(path: str, root: Path) -> str:
    """A file of a finding named from the rootdir, as the items are."""
    try:
        return os.path.relpath(path, root) if Path(path).is_relative_to(root) else path
    except ValueError:
        return path


def check_item(item: ScenarioItem, tags: Tags) -> str:
    """Checks the item's scenario with `tags`. Raises ScenarioFailed, with
    the findings, when the check finds an error; otherwise gives its
    warnings, a line each ("" when none)."""
    root = Path(item.config.rootpath)
    found = checks.check(str(item.path), tags, item.arguments)
    lines = ["  " + checks.text_line(d, _shown(d.file, root)) for d in found]
    problems = checks.errors_of(found)
    if problems:
        raise ScenarioFailed("\n".join(
            ["scenario %s not run: the check finds %s" % (_shown(str(item.path), root),
                                                         checks.count_text(problems))]
            + lines + ["(--zl-no-check runs it anyway)"]))
    return "\n".join(lines)
