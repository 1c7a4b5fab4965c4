"""Scenario campaigns with pytest: scenario files collected as test items,
run on databases leased from a pool (or on stand-ins started per worker),
judged from their own section of the test log, spread over many servers and
machines with pytest-xdist. The plugin is `zl_pytest.plugin`; see
docs/campaigns.md."""
