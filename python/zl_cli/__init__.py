"""The old name of the package zl's command-line tools, kept for one more
release. Its documented modules import their new places and warn:
zl_cli.readers is zl.readers, zl_cli.scenario_info zl.runs.scenario_info,
zl_cli.places zl.runs.places, zl_cli.services zl.services; and
`python3 -m zl_cli` runs the zl command."""
