#!/usr/bin/env bash
# The demo's short campaign: the scenarios of examples/campaign run by pytest
# with the campaign plugin (docs/campaigns.md) on two workers, each with a
# stand-in of its own started from examples/plant.tags; a JUnit file is
# written. Needs the package zl (build/python) and tools/ on
# PYTHONPATH, and pytest-xdist; works in the folder $1.
set -euo pipefail
work=${1:?usage: campaign_demo.sh WORK_FOLDER}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work/campaign"
work=$(cd "$work/campaign" && pwd)
cp "$here"/campaign/* "$work/"
cd "$work"
rm -f ./*.tlg campaign.xml

echo
echo "== pytest -n 2: the scenarios of examples/campaign on two stand-ins"
/usr/bin/python3 -m pytest -p zl.pytest_plugin -p no:cacheprovider -n 2 -rA \
  --zl-sim="$here/plant.tags" --junitxml campaign.xml
echo
echo "The JUnit file is $work/campaign.xml; each item's test log section is in it"
echo "as the property zl_test_log_section."
