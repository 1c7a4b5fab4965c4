"""Helpers of the campaign tests: a scenario project written into a
directory, an inner pytest run on it with the campaign plugin, and the
outcomes read back from its JUnit file."""

import os
import subprocess
import sys
import textwrap
import xml.etree.ElementTree as ElementTree

INNER_BOUND_S = 180.0  # an inner run that takes longer is hung


def write_project(root, files):
    """Writes {relative path: text} under `root` (texts dedented)."""
    for name, text in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(textwrap.dedent(text).lstrip("\n"))
        if name.endswith(".SH"):
            path.chmod(0o755)


def inner_pytest(root, *args, env_extra=None):
    """Runs pytest with the plugin in `root`; gives the CompletedProcess (text)."""
    env = dict(os.environ)
    env.pop("ZL_ORB_OPTIONS", None)
    env.pop("PYTEST_XDIST_WORKER", None)
    env.update(env_extra or {})
    argv = [sys.executable, "-m", "pytest", "-p", "zl.pytest_plugin", "-p", "no:cacheprovider",
            "-rA", "--junitxml", str(root / "junit.xml")] + [str(a) for a in args]
    return subprocess.run(argv, cwd=root, env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, timeout=INNER_BOUND_S)


def junit_cases(root):
    """{test name: (outcome, {property: value}, failure text)} of the inner run."""
    cases = {}
    for case in ElementTree.parse(root / "junit.xml").iter("testcase"):
        outcome, text = "passed", ""
        for kind in ("failure", "error", "skipped"):
            found = case.find(kind)
            if found is not None:
                outcome, text = kind, (found.get("message") or "") + "\n" + (found.text or "")
                break
        props = {p.get("name"): p.get("value") for p in case.iter("property")}
        cases[case.get("name")] = (outcome, props, text)
    return cases


def junit_times(root):
    """{test name: seconds} of the inner run (setup, call and teardown)."""
    return {case.get("name"): float(case.get("time"))
            for case in ElementTree.parse(root / "junit.xml").iter("testcase")}
