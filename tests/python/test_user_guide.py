"""docs/user-guide.md's examples run as a user runs them.

Each `## ` section's ```python blocks are joined, in order, into one script
that runs in a child interpreter, in a directory of its own, with the
launcher's variables (ZL_ORB_OPTIONS, ZL_CONTROL_PORT, ...) of the example
plant in its environment, within a bounded time. A block right after a line
`<!-- no-test -->` is left out. Sections share one plant, in document order:
an example puts back what it changes.
"""

import os
import re
import subprocess
import sys

import pytest

from conftest import REPO

GUIDE = REPO / "docs" / "user-guide.md"
NO_TEST = "<!-- no-test -->"
SECTION_BOUND_S = 120.0
FENCE = re.compile(r"^(\s*)```(\w*)\s*$")


def guide_sections(text):
    """[(title, source)] per `## ` section that has runnable python blocks,
    in the guide's order; each block dedented by its fence's indent."""
    sections = []
    title, blocks = None, []
    lines = text.splitlines()
    i = 0
    previous = ""   # the last non-blank line before a fence
    while i < len(lines):
        line = lines[i]
        fence = FENCE.match(line)
        if line.startswith("## "):
            if blocks:
                sections.append((title, "\n".join(blocks)))
            title, blocks = line[3:].strip(), []
        elif fence:
            indent, language = fence.group(1), fence.group(2)
            end = i + 1
            while end < len(lines) and lines[end].strip() != "```":
                end += 1
            if language == "python" and previous.strip() != NO_TEST:
                body = [b[len(indent):] if b.startswith(indent) else b.lstrip()
                        for b in lines[i + 1:end]]
                blocks.append("\n".join(body))
            i = end
        if line.strip():
            previous = line
        i += 1
    if blocks:
        sections.append((title, "\n".join(blocks)))
    return sections


SECTIONS = guide_sections(GUIDE.read_text(encoding="utf-8"))


def test_parser_keeps_order_and_skips_marked_blocks():
    text = ("## A\n```python\na = 1\n```\n<!-- no-test -->\n```python\nskipped\n```\n"
            "```sh\nnot python\n```\n- item\n\n  ```python\n  b = a\n  ```\n"
            "## B\n```text\nx\n```\n## C\n```python\nc = 3\n```\n")
    assert guide_sections(text) == [("A", "a = 1\nb = a"), ("C", "c = 3")]


@pytest.mark.parametrize("title, source", SECTIONS, ids=[t for t, _ in SECTIONS])
def test_section_runs(plant, tmp_path, title, source):
    script = tmp_path / "example.py"
    script.write_text(source + "\n", encoding="utf-8")
    work = tmp_path / "work"    # the examples' current directory holds only their files
    work.mkdir()
    env = dict(os.environ)
    env.update(plant.environment())
    # The examples run elsewhere: the module's path as seen from here.
    env["PYTHONPATH"] = os.pathsep.join(
        os.path.abspath(p) for p in env.get("PYTHONPATH", "").split(os.pathsep) if p)
    try:
        done = subprocess.run([sys.executable, str(script)], cwd=work, env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              timeout=SECTION_BOUND_S)
    except subprocess.TimeoutExpired as e:
        pytest.fail("section %r hung (%.0f s)\n%s\n%s" % (title, SECTION_BOUND_S,
                                                           e.stdout, e.stderr))
    assert done.returncode == 0, ("section %r failed:\n--- stdout\n%s\n--- stderr\n%s"
                                  % (title, done.stdout, done.stderr))
