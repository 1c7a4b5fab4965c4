"""zl_pytest.plugin: the old name of the pytest plugin zl.pytest_plugin, kept
for one more release. It loads the plugin under its own name (once, also
beside the installed entry point) and warns."""
from zl._moved import moved

moved("-p zl_pytest.plugin", "-p zl.pytest_plugin")

pytest_plugins = ["zl.pytest_plugin"]
