"""The zl command: one parser with a subcommand per tool.

Each subcommand lives in a module of this package that provides
`add_arguments(parser, command)` and `main(args) -> int` (the exit code;
`args.command` names the command, for modules that serve several). Modules
import their heavy dependencies (the extension module zl, matplotlib) inside
the functions that need them, so that `zl --help` and the file tools start
quickly and the file tools work without a server.
"""
import argparse
import importlib
import sys

from zl_cli import _version

# (command, module, one-line help), in the order `zl --help` lists them.
COMMANDS = (
    ("run", "run", "run a scenario on a server and show its progress"),
    ("report", "report", "turn a test log into a JUnit or HTML report"),
    ("sign", "signing", "write the #$CHECK: line of scenario files"),
    ("verify", "signing", "check scenario files and test log sections against their checksums"),
    ("logset", "logset", "decode a log set file, export it or plot it"),
    ("tagfile", "tagfile", "list what a tag file holds"),
    ("storevals", "storevals", "list what a stored-values file holds"),
    ("ls", "server", "list the tags of a server"),
    ("get", "server", "show the values of tags"),
    ("set", "server", "set the value of a tag"),
    ("serve", "serve", "show a live view of a database in the browser"),
)


def build_parser():
    parser = argparse.ArgumentParser(
        prog="zl", description="Tools for Zelvik simulation servers, scenarios and their files.")
    parser.add_argument("--version", action="version",
                        version="zl %s (Python module zl %s)" % (_version.RELEASE, _version.MODULE))
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for name, module, summary in COMMANDS:
        sub = commands.add_parser(name, help=summary, description=summary)
        sub.set_defaults(_module=module)
        _load(module).add_arguments(sub, name)
    return parser


def _load(module):
    return importlib.import_module("zl_cli." + module)


def open_input(command, path):
    """The file a command was given, open for binary reading, or None after
    telling why it cannot be opened on standard error ("zl COMMAND: cannot
    read ...")."""
    from zl_cli import safe_text
    try:
        return open(path, "rb")
    except OSError as e:
        print("zl %s: cannot read %s: %s" % (command, safe_text.terminal(path), e.strerror or e),
              file=sys.stderr)
        return None


def main(argv=None):
    args = build_parser().parse_args(argv)
    for stream in (sys.stdout, sys.stderr):
        # A character the terminal's encoding lacks is written as an escape,
        # never raised.
        if hasattr(stream, "reconfigure"):
            stream.reconfigure(errors="backslashreplace")
    try:
        return _load(args._module).main(args)
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        # The reader of our output went away (zl get ... | head): not an error.
        sys.stderr.close()
        return 0
    except Exception as e:  # noqa: BLE001 (the last resort: one line, never a traceback)
        print("zl %s: internal error: %s: %s (a fault of zl; please report it with the input)"
              % (args.command, type(e).__name__, e), file=sys.stderr)
        return 1
