"""The zl command: one parser with a subcommand per tool.

Each subcommand lives in a module of its own (zl.cli.run, ..., and the
package zl.serve) that provides `add_arguments(parser, command)` and
`main(args) -> int` (the exit status, one of `errors`; `args.command` names
the command, for modules that serve several, and `args.parser` is the
subcommand's parser, whose `error` a module calls for a usage error). Only
the module of the command given is imported, and modules import their heavy
dependencies (matplotlib, pandas, aiohttp) inside the functions that need
them, so that the command starts quickly and the file tools work without a
server. Exit statuses and error lines: errors.py,
docs/tools/exit-status.md.

The commands share this module, `errors` and `connection`, and the library
below them (zl.readers, zl.runs, ...); a command never imports another
command's module (tests/python/test_package.py holds them to that).
"""
import argparse
import importlib
import sys
from types import ModuleType
from typing import BinaryIO, List, NoReturn, Optional

from zl.cli import errors

# (command, module, one-line help), in the order `zl --help` lists them.
COMMANDS = (
    ("run", "zl.cli.run", "run a scenario on a server and show its progress"),
    ("check", "zl.cli.check", "check scenario files without a server"),
    ("lsp", "zl.cli.lsp", "serve editors the check, completion and help (language server)"),
    ("report", "zl.cli.report", "turn a test log into a JUnit or HTML report"),
    ("sign", "zl.cli.signing", "write the #$CHECK: line of scenario files"),
    ("verify", "zl.cli.signing",
     "check scenario files and test log sections against their checksums"),
    ("logset", "zl.cli.logset", "decode a log set file, export it or plot it"),
    ("tagfile", "zl.cli.tagfile", "list what a tag file holds"),
    ("storevals", "zl.cli.storevals", "list what a stored-values file holds"),
    ("ls", "zl.cli.server", "list the tags of a server"),
    ("get", "zl.cli.server", "show the values of tags"),
    ("set", "zl.cli.server", "set the value of a tag"),
    ("serve", "zl.serve", "show a live view of a database in the browser"),
    ("sim", "zl.cli.sim", "run a command (or serve) with a stand-in server and its services up"),
)


class Parser(argparse.ArgumentParser):
    """A parser whose usage errors carry the one error prefix of the command
    ("zl run: ..."), after the usage, with the usage exit status."""

    def error(self, message: str) -> NoReturn:
        self.print_usage(sys.stderr)
        self.exit(errors.USAGE, "%s: %s\n" % (self.prog, message))


def version_text() -> str:
    """What `zl --version` says. The version file is made by the build; the
    package run from the source tree (the readers' fuzzer does) has none."""
    try:
        version = importlib.import_module("zl._version")
    except ImportError:
        return "zl (run from the source tree: no version file)"
    return "zl %s (Python module zl %s)" % (version.RELEASE, version.MODULE)


def build_parser(only: Optional[str] = None) -> Parser:
    """The parser of the command line. With `only`, the arguments of that
    subcommand alone are set up (the others keep their one-line help), so
    that a command imports only the module it runs."""
    parser = Parser(
        prog="zl", description="Tools for Zelvik simulation servers, scenarios and their files.")
    parser.add_argument("--version", action="version", version=version_text())
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for name, module, summary in COMMANDS:
        sub = commands.add_parser(name, help=summary, description=summary)
        sub.set_defaults(_module=module, parser=sub)
        if only is None or only == name:
            _load(module).add_arguments(sub, name)
    return parser


def _command_of(argv: List[str]) -> Optional[str]:
    """The subcommand the arguments name: the first word that is no option
    (the command itself takes no option with a value)."""
    words = [a for a in argv if not a.startswith("-")]
    names = {name for name, _, _ in COMMANDS}
    return words[0] if words and words[0] in names else None


def _load(module: str) -> ModuleType:
    return importlib.import_module(module)


def open_input(command: str, path: str) -> Optional[BinaryIO]:
    """The file a command was given, open for binary reading, or None after
    telling why it cannot be opened on standard error ("zl COMMAND: cannot
    read ..."); the caller then ends with errors.FILE."""
    from zl import safe_text
    try:
        return open(path, "rb")
    except OSError as e:
        errors.error(command, "cannot read %s: %s" % (safe_text.terminal(path),
                                                     e.strerror or e))
        return None


def main(argv: Optional[List[str]] = None) -> int:
    if argv is None:
        argv = sys.argv[1:]
    try:
        args = build_parser(_command_of(argv)).parse_args(argv)
    except SystemExit as done:  # --help, --version, a usage error
        return done.code if isinstance(done.code, int) else errors.USAGE
    for stream in (sys.stdout, sys.stderr):
        # A character the terminal's encoding lacks is written as an escape,
        # never raised.
        if hasattr(stream, "reconfigure"):
            stream.reconfigure(errors="backslashreplace")
    try:
        return _load(args._module).main(args)
    except SystemExit as done:  # a module's parser.error
        return done.code if isinstance(done.code, int) else errors.USAGE
    except KeyboardInterrupt:
        return errors.INTERRUPTED
    except BrokenPipeError:
        # The reader of our output went away (zl get ... | head): not an error.
        sys.stderr.close()
        return errors.OK
    except Exception as e:  # noqa: BLE001 (the last resort: one line, never a traceback)
        errors.error(args.command, "internal error: %s: %s (a fault of zl; please report it "
                     "with the input)" % (type(e).__name__, e))
        return errors.INTERNAL
