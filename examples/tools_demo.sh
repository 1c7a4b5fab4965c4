#!/usr/bin/env bash
# The zl command on examples/fill.scn: sign it, check it without a server,
# run it on the server (live progress, then a summary), turn its test log
# into JUnit and HTML reports, and plot its log set, then show the live view (zl serve) for a few seconds and
# save a screenshot of it (serve.png). Runs under tools/zl_services.py
# (which exports the client options in ZL_ORB_OPTIONS), with zl on PATH;
# works in the folder $1.
set -euo pipefail
work=${1:?usage: tools_demo.sh WORK_FOLDER}
mkdir -p "$work"
work=$(cd "$work" && pwd)
examples=$(cd "$(dirname "$0")" && pwd)
cp "$examples/fill.scn" "$work/"
cd "$work"
rm -f fill.tlg FILL.LOG

echo
echo "== zl sign (which checks the file first), zl verify, zl check"
zl sign fill.scn
zl verify fill.scn
zl check --tags "$examples/plant.tags" fill.scn && echo "fill.scn: the check finds nothing"

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
echo "== zl serve: the live view of the database and of this folder, for a few seconds"
zl serve --port 0 --folder "$work" > serve.out &
serve=$!
for _ in $(seq 100); do grep -q "^zl serve: http" serve.out && break; sleep 0.1; done
url=$(sed -n 's/^zl serve: \(http[^ ]*\)$/\1/p' serve.out)
echo "zl serve: $url"
profile=$(mktemp -d)
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$profile" --window-size=1400,900 --virtual-time-budget=5000 \
  --screenshot="$work/serve.png" "$url" >/dev/null 2>&1 || echo "(no screenshot: chromium failed)"
rm -rf "$profile"
kill -INT "$serve"
wait "$serve"
tail -n 1 serve.out

echo
echo "The reports, the plot and the view's screenshot are in $work: fill.xml, fill.html, fill.png, serve.png"
