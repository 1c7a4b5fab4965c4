"""The old name of the package of zl's pytest plugin, kept for one more
release: `-p zl_pytest.plugin` loads zl.pytest_plugin and warns."""
