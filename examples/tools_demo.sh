#!/usr/bin/env bash
# The zl command on examples/fill.scn: run it on the server (live progress,
# then a summary), turn its test log into JUnit and HTML reports, and plot
# its log set. Runs under tools/zl_services.py (which exports the client
# options in ZL_ORB_OPTIONS), with zl on PATH; works in the folder $1.
set -euo pipefail
work=${1:?usage: tools_demo.sh WORK_FOLDER}
mkdir -p "$work"
work=$(cd "$work" && pwd)
cp "$(dirname "$0")/fill.scn" "$work/"
cd "$work"
rm -f fill.tlg FILL.LOG

echo
echo "== zl sign, zl verify"
zl sign fill.scn
zl verify fill.scn

echo
echo "== zl run fill.scn (one verification fails on purpose: exit status 1)"
status=0
zl run fill.scn || status=$?
echo "zl run exit status: $status"

echo
echo "== zl report, zl verify of the test log"
zl report fill.tlg --junit fill.xml --html fill.html
zl verify fill.tlg

echo
echo "== zl logset"
zl logset FILL.LOG --csv
zl logset FILL.LOG --plot fill.png --tags FEED_FLOW,TANK_LEVEL
echo
echo "The reports and the plot are in $work: fill.xml, fill.html, fill.png"
