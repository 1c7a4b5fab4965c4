"""zl sim: runs a command (or serves the variables) with a stand-in server
and its services up. The launcher is zl.services, which also runs by itself
from the sources (tools/zl_services.py) with the same command line."""
from zl.services import add_arguments, main

__all__ = ["add_arguments", "main"]
