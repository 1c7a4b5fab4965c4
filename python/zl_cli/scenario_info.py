"""zl_cli.scenario_info: the old name of zl.runs.scenario_info, kept for one more release."""
from zl._moved import moved

moved("zl_cli.scenario_info", "zl.runs.scenario_info")

from zl.runs.scenario_info import *  # noqa: E402,F401,F403
