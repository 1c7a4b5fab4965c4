"""JUnit XML and self-contained HTML reports of a test log, as `zl report`
writes them and zl serve's page shows them.

Each run section of the log is a test suite; each check line is a test case
(verifications, failed assertions, monitor changes and the level's "Monitored
tags PASSED", timed checks and their prechecks, user questions, checksum and
database checks). Failures carry their test log line, and their scenario
line where the run's places file (zl.runs.places, written by `zl run` and
the pytest plugin) still matches the run; statement errors ("__" and "##"
lines), an aborted run and a run without its closing line are errors. A
passed assertion writes no line to the test log, so it has no test case.
Runs are judged by testlog.judge, the rule `zl run` uses too; their
signature is judged as `zl verify` judges it (signatures.section_state).

Texts from the log are written with the characters XML 1.0 does not allow
escaped (safe_text.xml), so the reports are well-formed whatever the log holds.

The HTML page shows every check in the order of the log, with the comments
and the subtests ("@" lines) that structure the run, indented by nest level.
"""
import html
import os
import xml.etree.ElementTree as ET
from dataclasses import dataclass
from typing import Callable, Dict, List, Optional, Tuple

from zl import safe_text, signatures
from zl.readers import testlog
from zl.runs import places


@dataclass
class RunFacts:
    """What a report says of a run beyond its lines."""
    signature: str = "not checked"   # "valid", "altered", "unsigned" (zl verify's words)
    line_places: Optional[places.Places] = None  # where its lines come from; None: not recorded


def _signature(data: bytes, section: testlog.Section) -> str:
    try:
        return signatures.section_state(data, section)
    except ImportError:  # no zl module here: its digest cannot be computed
        return "not checked"


def run_facts(path: str, data: bytes, log: testlog.TestLog) -> Dict[int, RunFacts]:
    """The facts of each run of the test log at `path` whose bytes are
    `data`, by the run's start offset."""
    return {s.start: RunFacts(_signature(data, s), places.load(path, data, s))
            for s in log.sections}


def read(path: str) -> Tuple[testlog.TestLog, Dict[int, RunFacts]]:
    """The test log at `path` and the facts of its runs (OSError when it
    cannot be read)."""
    with open(path, "rb") as f:
        data = f.read()
    log = testlog.parse(data)
    return log, run_facts(path, data, log)


def count(sections: List[testlog.Section]) -> Dict[str, int]:
    totals = {"tests": 0, "failures": 0, "errors": 0}
    for s in sections:
        for c in s.cases:
            totals["tests"] += 1
            if c.outcome == "failure":
                totals["failures"] += 1
            elif c.outcome == "error":
                totals["errors"] += 1
    return totals


def _suite_name(section: testlog.Section) -> str:
    return "%s (line %d)" % (section.title, section.lineno)


def _case_name(case: testlog.Case) -> str:
    return "%s at %s" % (case.name, case.stamp)


def _facts(facts: Optional[Dict[int, RunFacts]], section: testlog.Section) -> RunFacts:
    return (facts or {}).get(section.start) or RunFacts()


def _where(case: testlog.Case, section: testlog.Section, known: RunFacts) -> str:
    """"sub.scn:2 (called from fill.scn:5), test log line 9" with its
    place, "test log line 9" without."""
    place = (known.line_places or {}).get(places.run_line(case, section))
    if place is None:
        return "test log line %d" % case.lineno
    return "%s, test log line %d" % (place.text(), case.lineno)


def write_junit(log: testlog.TestLog, source: str, path: str,
                facts: Optional[Dict[int, RunFacts]] = None) -> None:
    x = safe_text.xml
    root = ET.Element("testsuites", name=x(os.path.basename(source)))
    grand = count(log.sections)
    root.set("tests", str(grand["tests"]))
    root.set("failures", str(grand["failures"]))
    root.set("errors", str(grand["errors"]))
    for index, s in enumerate(log.sections):
        totals = count([s])
        suite = ET.SubElement(root, "testsuite", name=x(_suite_name(s)), id=str(index),
                              tests=str(totals["tests"]), failures=str(totals["failures"]),
                              errors=str(totals["errors"]), skipped="0",
                              time="%.3f" % s.seconds())
        classname = x(os.path.basename(s.scenario) or s.scenario)
        known = _facts(facts, s)
        for c in s.cases:
            case = ET.SubElement(suite, "testcase", name=x(_case_name(c)), classname=classname,
                                 time="0")
            if c.outcome == "passed":
                continue
            place = (known.line_places or {}).get(places.run_line(c, s))
            if place is not None:
                case.set("file", x(place.file))
                case.set("line", str(place.line))
            detail = "%s: %s\t%s" % (_where(c, s, known), c.stamp, c.text)
            element = ET.SubElement(case, "failure" if c.outcome == "failure" else "error",
                                    message=x(c.text), type=c.outcome)
            element.text = x(detail)
        out = ET.SubElement(suite, "system-out")
        verdict = testlog.judge(s)
        notes = ["scenario %s started at line %d of %s" % (s.scenario, s.lineno, source)]
        if verdict.outcome == "aborted":
            notes.append(verdict.reasons[0])
        notes.append("signature %s" % known.signature)
        out.text = x("; ".join(notes))
    ET.indent(root)
    ET.ElementTree(root).write(path, encoding="utf-8", xml_declaration=True)


_CSS = """
body{font-family:sans-serif;margin:1.5em;color:#222}
h1{font-size:1.4em}h2{font-size:1.1em;margin-top:1.6em}
table{border-collapse:collapse;width:100%}
th,td{border:1px solid #ccc;padding:.25em .5em;text-align:left;vertical-align:top}
th{background:#eee}td.n{text-align:right;font-variant-numeric:tabular-nums}
tr.passed td.o{color:#176117}tr.failure{background:#fde8e8}tr.failure td.o{color:#a01010}
tr.error{background:#fff4d6}tr.error td.o{color:#8a5a00}
.summary span{margin-right:1.5em}.bad{color:#a01010;font-weight:bold}
code{font-family:monospace;white-space:pre-wrap}
tr.comment td{color:#555;font-style:italic;background:#fafafa}
tr.subtest td{background:#e8eef8;font-weight:bold}
"""
_INDENT_EM = 1.5  # the indent of one nest level in the check column


def _html_row(item: object, e: Callable[[str], str], where: str = "") -> str:
    """One row of a run's table: a check (with the scenario line it comes
    from, when known), a comment or a subtest's line."""
    if isinstance(item, testlog.Case):
        pad = "padding-left:%.1fem" % (0.5 + _INDENT_EM * item.level)
        return ("<tr class=\"%s\"><td class=\"n\">%s</td><td class=\"n\">%d</td>"
                "<td class=\"o\">%s</td><td style=\"%s\">%s</td><td>%s</td>"
                "<td><code>%s</code></td></tr>"
                % (item.outcome, e(item.stamp), item.lineno, item.outcome, pad, e(item.name),
                   e(where), e(item.text)))
    assert isinstance(item, testlog.Note)
    if item.kind == "comment":
        pad = "padding-left:%.1fem" % (0.5 + _INDENT_EM * item.level)
        return ("<tr class=\"comment\"><td class=\"n\">%s</td><td class=\"n\">%d</td>"
                "<td></td><td colspan=\"3\" style=\"%s\"># %s</td></tr>"
                % (e(item.stamp), item.lineno, pad, e(item.text)))
    pad = "padding-left:%.1fem" % (0.5 + _INDENT_EM * (item.level - 1))
    word = "started" if item.kind == "subtest started" else "finished"
    return ("<tr class=\"subtest\"><td class=\"n\">%s</td><td class=\"n\">%d</td>"
            "<td></td><td colspan=\"3\" style=\"%s\">subtest %s %s (nest level %d)</td></tr>"
            % (e(item.stamp), item.lineno, pad, e(item.text), word, item.level))


# What a run's signature means, in the words of zl verify.
_SIGNATURE_TEXT = {
    "valid": "signature valid",
    "altered": "signature altered: the test log was changed after the run",
    "unsigned": "unsigned",
    "uncovered": "signature valid, but part of a long line is not covered by it (zl verify)",
    "not checked": "signature not checked",
}


def write_html(log: testlog.TestLog, source: str, path: str,
               facts: Optional[Dict[int, RunFacts]] = None) -> None:
    def e(text: str) -> str:
        return html.escape(safe_text.xml(text))

    grand = count(log.sections)
    out = ["<!DOCTYPE html>", "<html lang=\"en\"><head><meta charset=\"utf-8\">",
           "<title>Test report: %s</title>" % e(os.path.basename(source)),
           "<style>%s</style></head><body>" % _CSS,
           "<h1>Test report: %s</h1>" % e(source),
           _summary(len(log.sections), grand)]
    for s in log.sections:
        totals = count([s])
        verdict = testlog.judge(s)
        known = _facts(facts, s)
        state = _SIGNATURE_TEXT.get(known.signature, known.signature)
        out.append("<h2>Run %s</h2>" % e(s.title))
        judged = verdict.outcome + (" (%s)" % "; ".join(verdict.reasons) if verdict.reasons else "")
        out.append("<p>Test log line %d, %.1f s, %s; %s.</p>"
                   % (s.lineno, s.seconds(), e(state), e(judged)))
        out.append(_summary(None, totals))
        if not s.cases:
            out.append("<p>No checks.</p>")
        elif known.line_places is None and not verdict.passed:
            out.append("<p>Scenario lines were not recorded for this run (only a run made by "
                       "zl run records them, and only while its test log stays as it was): "
                       "each line is named by its test log line.</p>")
        if not s.cases and not s.notes:
            continue
        out.append("<table><tr><th>Time</th><th>Test log line</th><th>Result</th><th>Check</th>"
                   "<th>Scenario line</th><th>Test log text</th></tr>")
        found = known.line_places or {}
        for item in s.lines():
            place = (found.get(places.run_line(item, s)) if isinstance(item, testlog.Case)
                     else None)
            out.append(_html_row(item, e, place.text() if place is not None else ""))
        out.append("</table>")
    out.append("</body></html>")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


def _summary(runs: Optional[int], totals: Dict[str, int]) -> str:
    parts = []
    if runs is not None:
        parts.append("<span>%d run(s)</span>" % runs)
    parts.append("<span>%d check(s)</span>" % totals["tests"])
    parts.append("<span>%d passed</span>" % (totals["tests"] - totals["failures"]
                                              - totals["errors"]))
    for key in ("failures", "errors"):
        cls = " class=\"bad\"" if totals[key] else ""
        parts.append("<span%s>%d %s</span>" % (cls, totals[key], key))
    return "<p class=\"summary\">%s</p>" % "".join(parts)
