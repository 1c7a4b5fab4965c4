# The package zl: the extension module zl._zl under the one name scripts
# import, and beside it the pure-Python layers built on it:
#
#   zl.readers        the readers of test logs, log set, tag and stored-values files
#   zl.runs           one scenario run: started, waited for, stopped, read back
#   zl.aio            the client for asyncio: awaited calls, streams, whole runs
#   zl.reports        JUnit XML and HTML reports of a test log
#   zl.signatures     the "#$CHECK:" lines of scenario files and test logs
#   zl.checks         the static check of scenario files as the tools use it
#   zl.naming         Naming Service addresses as the tools take them
#   zl.safe_text      texts from files made safe for a terminal, XML and JSON
#   zl.services       the launcher of the stand-in server and its services
#   zl.cli            the zl command (zl.cli.run, zl.cli.report, ...)
#   zl.serve          zl serve, the live view in the browser
#   zl.pytest_plugin  scenario campaigns with pytest
#
# The library layers never import the commands (zl.cli, zl.serve,
# zl.pytest_plugin), and no command imports another's modules; importing zl
# loads the extension and nothing else of the package.
#
# Every name of the extension is a name of zl, its documentation zl's: the
# extension's types name themselves "zl.Client", ..., and its functions are
# said to be zl's as well, so that zl.Client, zl.checksum and
# zl.__version__ read as they always have.
import types as _types

from zl import _zl
from zl._zl import *  # noqa: F401,F403
from zl._zl import __doc__, __version__, _Doorbell, _orbstate  # noqa: F401

for _value in vars(_zl).values():
    if isinstance(_value, _types.BuiltinFunctionType):
        _value.__module__ = __name__
del _types, _value
