"""Module containing ZL Client class"""

import os
from types import TracebackType
from typing import (Any, Callable, Iterable, List, Literal, Optional, Sequence, SupportsFloat,
                    Tuple, Type, TypedDict, Union)

__version__: str

SUCCESS: int
ERR_BADPARAM: int
TagMode_Auto: int
TagMode_Manual: int
MsgType_AllMsgs: int
MsgType_ErrorMsg: int
MsgType_WarninMsg: int
MsgType_InfoMsg: int
MsgType_DebugMsg: int


class TagStatus(TypedDict):
    """One row of Client.multipve (a plain dict at run time)."""
    tagname: str
    value: float
    mode: str  # "Manual", "Auto" or "??"
    type: str  # "Anl", "AnlIn", "AnlOut", "Dig", "DigIn", "DigOut", "CalcBlock" or ""


def addme(a: int, b: int, /) -> int:
    """Adds two numbers."""


def checksum(data: Union[bytes, str], /) -> str:
    """The scenario checksum of a text (32 hexadecimal digits), as a "#$CHECK:" line carries it."""


def _orbstate() -> dict[str, int]:
    """The process ORB's init_count, runners and exit_hooks (diagnosis)."""


class _Doorbell:
    """A descriptor that the library's threads ring and an event loop watches (zl.aio)."""

    def fileno(self) -> int:
        """fileno() -> int: the descriptor to watch; readable once rung, until clear()."""
    def ring(self) -> None:
        """ring() -> None: rings the doorbell (any thread)."""
    def clear(self) -> int:
        """clear() -> int: the rings since the last clear (0 when none); never blocks."""
    def wait(self) -> int:
        """wait() -> int: blocks, without the interpreter lock, until the doorbell
        is rung; then takes the rings as clear() does and gives their number."""
    def close(self) -> None:
        """close() -> None: lets go of the descriptor; fileno, ring and clear then
        raise ValueError. Stop watching the descriptor first."""


class Error(Exception):
    """A failed operation of a zl.Client made with raise_errors=True.

    Attributes: operation (the method), tag (None where there is none),
    exception (the exception's name, or None) and reason. Raised as
    itself where no subclass fits: a local step that failed (a tag file
    that cannot be written), an argument the library refuses."""

    operation: Optional[str]
    """The method that failed, such as "pve"."""
    tag: Optional[str]
    """The tag of an operation on one tag; None for the others."""
    exception: Optional[str]
    """The exception's name ("ZLTagNotFound", "TIMEOUT"); None where there was none."""
    reason: Optional[str]
    """What went wrong, as one line: the exception's text and members, or why."""


class NotConnected(Error):
    """No call was made: the client is not connected (or connect failed)."""


class TagNotFound(Error):
    """The server has no tag of that name (ZLTagNotFound)."""


class ServerError(Error):
    """The server raised an exception: `exception` names it and `reason`
    gives its text and members."""


class CallTimeout(Error):
    """The server did not answer within the call time limit (TIMEOUT)."""


class CommunicationFailure(Error):
    """The server, or the Naming Service, cannot be reached (TRANSIENT,
    COMM_FAILURE, OBJECT_NOT_EXIST, INV_OBJREF)."""


class ScenarioDiagnostic(Tuple[str, int, int, str, str, str]):
    """One finding of checkscenario: (file, line, column, severity, code, message)."""

    @property
    def file(self) -> str:
        """The file as a run names it: the path checked, or a subtest beside it."""
    @property
    def line(self) -> int:
        """1-based line of the file."""
    @property
    def column(self) -> int:
        """1-based column (byte) of the word concerned."""
    @property
    def severity(self) -> Literal["error", "warning"]: ...
    @property
    def code(self) -> str:
        """A stable code, such as "unknown-keyword" (docs/scenarios.md lists them)."""
    @property
    def message(self) -> str:
        """What is wrong; for a statement error the run's own test log text."""


def checkscenario(path: Union[str, bytes, os.PathLike[str]],
                  tags: Optional[Iterable[str]] = None,
                  args: Union[str, Sequence[str], None] = None,
                  text: Union[str, bytes, None] = None) -> List[ScenarioDiagnostic]:
    """The static check of a scenario file and its subtests, without a server.

    Gives the findings in the order a run without jumps meets them. tags: the
    tag names that exist (None: not looked up); args: the options text of a
    run, or its arguments $1..$8; None: not known. text: the content of the
    file at path as an editor holds it (None: read from disk); subtests are
    read from disk. A file that cannot be read is a finding, not an
    exception.
    """


class ScenarioKeyword(Tuple[str, str, str, bool, bool, Tuple[str, ...]]):
    """One statement of the scenario language: (name, form, help, prefix, timed, operands)."""

    @property
    def name(self) -> str:
        """The keyword, upper case."""
    @property
    def form(self) -> str:
        """The statement as a line writes it: "VERIFY taglist value"."""
    @property
    def help(self) -> str:
        """What the statement does, in one line."""
    @property
    def prefix(self) -> bool:
        """True when every keyword that begins with the name is this statement."""
    @property
    def timed(self) -> bool:
        """True when a timed block collects the statement."""
    @property
    def operands(self) -> Tuple[str, ...]:
        """What each operand means, in order: "tag", "taglist", "number", "label", ..."""


def scenariokeywords() -> List[ScenarioKeyword]:
    """Every statement keyword of the scenario language, in the order a run
    matches them (a prefix row matches every keyword beginning with its
    name)."""


QuestionHandler = Callable[[int, int, str, str], Any]
"""handler(scenario_id, question_number, scenario_file, question_text)"""


class Client:
    """Zelvik Client object that connects to a Zelvik Server

    Usable as a context manager: `with zl.Client(options) as client:` gives
    the client and disconnects it when the block ends (also by an
    exception, which goes on; a failed disconnect never replaces it).

    What the library logs (a failed call's reason, its debug lines) becomes
    records of the logger "zl" and its children "zl.broker", "zl.localdb",
    "zl.scenario" and "zl.logset", with the attributes `operation` and `tag`
    (None where there is none). The option "-debug" sets "zl" to DEBUG.
    ZL_LOG_STDERR=1 in the environment writes the lines to standard error
    instead.

    Failures: by default a failed call gives its failure value (0.0, 0, -1,
    "", False, []) and logs the reason. With raise_errors=True it raises a
    zl.Error instead (NotConnected, TagNotFound, ServerError, CallTimeout,
    CommunicationFailure); results that only look like failures (a 0.0
    read, tagexists False) never raise. disconnect() and the end of a `with`
    block never raise; argument errors raise TypeError in both modes.
    """

    raise_errors: bool
    """Raising mode: True makes a failed call raise a zl.Error (zl.NotConnected,
    zl.TagNotFound, zl.ServerError, zl.CallTimeout, zl.CommunicationFailure)
    instead of giving its failure value. Set by zl.Client(options,
    raise_errors=True); may be changed at any time."""

    def __init__(self, options: str, /, *, raise_errors: bool = False) -> None: ...

    def __enter__(self) -> "Client": ...
    def __exit__(self, exc_type: Optional[Type[BaseException]],
                 exc: Optional[BaseException],
                 traceback: Optional[TracebackType], /) -> Literal[False]:
        """Disconnects the client; never suppresses the block's exception."""

    def setquestionhandler(self, handler: Optional[QuestionHandler], /) -> None:
        """Sets the handler of the operator questions (ANSWER statements) that
        this client's scenarios ask; None removes it.

        Thread rules: the handler runs on the client's question thread (a
        daemon thread named "zl-questions"), never on a scenario worker; it
        gets the questions one at a time in the order they were asked, as
        handler(scenario_id, question_number, scenario_file, question_text).
        The asking scenario waits meanwhile (at most the ANSWER's timeout),
        other scenarios go on. The handler answers with answerquestion, at
        once or later from any thread; it may call every method of the
        client. An exception it raises is printed as an unraisable error and
        the question stays unanswered. A handler that blocks delays only the
        later questions of this client.

        While a handler is set the client's interface is named "python" (the
        answering party in the test log). Removing the handler answers the
        questions not yet handed to it with "No questions handled by client",
        as later questions are answered without a handler. A disconnect keeps
        the handler; the next connect uses it again. Questions are no longer
        handed out once the interpreter exits.
        """
    def answerquestion(self, id: int, number: int, answer: str, /) -> int:
        """Answers question `number` of scenario `id`: 1 when a scenario
        waiting on that question took the answer, 0 otherwise (a wrong
        number, a question that timed out, a scenario that ended). An answer
        starting with 1, Y or T (any case) passes."""

    def connect(self, name: str, /) -> int:
        """Connects to a Zelvik server registered on the network."""
    def disconnect(self, *ignored: Any) -> int:
        """Disconnects from a Zelvik server."""
    def listzldatabases(self) -> str:
        """Lists the available ZL Databases registered on the network."""
    def setpve(self, tag: str, value: float, /) -> int:
        """Set the engineering unit value of a Zelvik tag."""
    def setpv(self, tag: str, value: float, /) -> int:
        """Set the percentage value of a Zelvik tag."""
    def pve(self, tag: str, /) -> float:
        """Returns the engineering unit value of a Zelvik tag."""
    def pv(self, tag: str, /) -> float:
        """Returns the percentage value of a Zelvik tag."""
    def pvestr(self, tag: str, /) -> str:
        """Returns the display value of a Zelvik tag."""
    def tagexists(self, tag: str, /) -> bool:
        """Returns True if the specified tag exists."""
    def tagmode(self, tag: str, /) -> str:
        """Returns the mode of the tag."""
    def tagtype(self, tag: str, /) -> str:
        """Returns the type of the tag."""
    def zlexpr(self, expression: str, /) -> float:
        """Returns the result of evaluating the Zelvik expression."""
    def initpv(self, tag: str, /) -> int:
        """Initializes the tag."""
    def tagcount(self) -> int:
        """Find out how many tags are in the database."""
    def searchtags(self, pattern: str, field: str, /) -> str:
        """Searches for tags in the database that match certain criteria."""
    def setman(self, tag: str, /) -> bool:
        """Sets the tagmode of a Zelvik tag to Manual.

        setman(tag) -> bool: True when the server made the change; False for an
        unknown tag, a client that is not connected or a call that failed."""
    def setauto(self, tag: str, /) -> bool:
        """Sets the tagmode of a Zelvik tag to Auto.

        setauto(tag) -> bool: True when the server made the change; False for an
        unknown tag, a client that is not connected or a call that failed."""
    def algsrunning(self, on: int = ..., /) -> bool:
        """Sets the state of the Zelvik calculations."""
    def doasinglecalccycle(self, seconds: float, /) -> int:
        """Tell the Zelvik server to do a single Calculation cycle."""
    def upload(self, tag: str, /) -> str:
        """Returns the tag definition as a tab-delimited string ready to download."""
    def createserver(self, server: str, host: str, /) -> int:
        """Creates a new Zelvik server on the host specified."""
    def enableevents(self, on: int, /) -> int:
        """Enables errors and warnings to be pushed to this client."""
    def download(self, lines: str, /) -> int:
        """Downloads one or more tags (separate lines) to the database."""
    def deletetag(self, tag: str, /) -> bool:
        """Deletes the tag from the database

        deletetag(tag) -> bool: True when the call reached the server and it raised
        nothing (the server's result code is its own and is not read); False
        for a client that is not connected or a call that failed."""
    def euhi(self, tag: str, /) -> float:
        """Returns the engineering unit high value of a Zelvik tag."""
    def eulo(self, tag: str, /) -> float:
        """Returns the engineering unit low value of a Zelvik tag."""
    def setforce(self, tag: str, on: int, /) -> bool:
        """Sets the force status of the tag.

        setforce(tag, on) -> bool: True when the server took the request (it may
        still refuse to force a tag in Auto mode, with a warning message); False
        for an unknown tag, a client that is not connected or a call that failed."""
    def isforced(self, tag: str, /) -> bool:
        """Returns the force status of the tag."""
    def cycletime(self, seconds: float = ..., /) -> float:
        """Sets or gets the master Zelvik cycle time."""
    def ioenabled(self, on: int = ..., /) -> bool:
        """Sets or gets the current state of the I/O."""
    def warpfactor(self, factor: float = ..., /) -> float:
        """Sets or gets the Zelvik warpfactor."""
    def savetags(self, path: str, /) -> int:
        """Saves a .TAG file."""
    def readtags(self, path: str, /) -> int:
        """Restores a .TAG file."""
    def startscenario(self, file: str, options: str = ..., /) -> int:
        """Starts a Zelvik scenario."""
    def stopscenario(self, id: int, /) -> int:
        """Stops a Zelvik scenario."""
    def waitscenario(self, id: int, timeout: Optional[float] = None, /) -> bool:
        """Waits for scenario `id` to end.

        waitscenario(id, timeout=None) -> bool: True once the scenario no longer
        runs (its test log is then complete; also True at once for a scenario
        that ended earlier or an id that never ran), False when `timeout`
        seconds passed first. Without a timeout it waits until the end. The
        interpreter lock is released while waiting, and other calls of the
        client go on meanwhile; Ctrl-C raises KeyboardInterrupt."""
    def listscenarios(self, *ignored: Any) -> str:
        """Returns a list of scenarios that are running."""
    def scenarioinfo(self, id: int, /) -> str:
        """Gets information about a running scenario."""
    def tagstats(self, selector: str, /) -> str:
        """Returns information about the tags in the Zelvik database."""
    def msgsexist(self, type: int, /) -> bool:
        """Returns whether or not warning and erorr messages have been pushed to the client."""
    def getnextzlmessage(self, type: int, /) -> str:
        """Returns the next message available to the client of the specific type."""
    def hellozl(self, selector: str, /) -> str:
        """Returns various information about the Zelvik server."""
    def zlfind(self, text: str, pattern: str, /) -> int:
        """Returns various information about the Zelvik server."""
    def shutdown(self, how: int, delay: int, /) -> bool:
        """Stops the Zelvik server, causing it to exit."""
    def siminit(self, options: str, /) -> int:
        """Reinitialzes the Zelvik database, wiping out all the tags."""
    def multipve(self, names: List[Any], /) -> List[TagStatus]:
        """Returns the values and modes for multiple tags in one call."""
    def setmultipve(self, names: Iterable[str], values: Iterable[SupportsFloat], /) -> int:
        """sets a number of tags all at once."""
    def _ringonend(self, id: int, doorbell: _Doorbell, /) -> None:
        """_ringonend(id, doorbell) -> None: rings the zl._zl._Doorbell once scenario
        `id` no longer runs (at once when it does not run now)."""
    def _ringonmessage(self, doorbell: Optional[_Doorbell], /) -> None:
        """_ringonmessage(doorbell) -> None: rings the zl._zl._Doorbell after each
        server message that reaches the client's queues; None stops that."""


class ZLTagChanges:
    """A type that conveys tag values changes from the Zelvik database"""

    tag: str
    """tag name"""
    pve: float
    """EU Value"""
    pv: float
    """PV Value"""
    tagmode: int
    """Tag Mode"""
    secs: int
    """Chage time secs"""
    usecs: int
    """Change time usecs"""

    def __init__(self, *ignored: Any) -> None: ...


class Callback:
    """Client callback object that receives tag data changes

    Subclass it and override `tagschanged`. Threads: `tagschanged` runs on a
    thread of the library (one of the ORB's threads that receive the
    server's notifications), never on the thread that registered it; it
    holds the interpreter lock for one change at a time, and changes arrive
    one at a time in the server's order. A handler that blocks delays the
    later changes of this callback only. An exception it raises is printed
    as an unraisable error; delivery goes on.

    Subscriptions: `register(client, tags=[...])` delivers only the changes
    of the tags named (names and patterns such as "TANK_*"); the others are
    dropped on the library's thread and cost no interpreter time.

    Lifetime: a registered callback stays registered to its client, and
    alive, until `unregister()`, `register(None)`, the client's
    `disconnect()` (or the end of its `with` block), the registration of
    another callback on that client, or the client's end. Every later
    successful `connect` of the client (for example after the server was
    restarted) sets it up again by itself.
    """

    def __init__(self, *ignored: Any) -> None: ...

    def register(self, client: Client | None, /, *,
                 tags: Optional[Iterable[str]] = None) -> int:
        """Registers this callback with the passed zl.Client

        register(client, *, tags=None) -> int: 0 when tag changes will arrive,
        else -1 (the client is not connected, the server has no channel
        for them, or the server cannot call this client back: a client
        listening on loopback only and a server on another host; the reason
        is logged as an error). A registration with another client ends first.
        register(None) ends the registration, as unregister() does, and
        gives 0.

        tags: an iterable of tag names and patterns; only the changes of
        those tags reach `tagschanged`. A name matches without regard to the
        case of its letters; in a pattern "*" stands for any run of
        characters (also none) and "?" for exactly one. The other changes
        are dropped as they arrive, before any Python object is made; an
        empty iterable delivers nothing. None (the default): every change."""

    def unregister(self) -> bool:
        """Ends this callback's registration

        True when it was registered. No `tagschanged` call starts after it
        returns, and the library no longer holds the callback: it is freed
        once the script drops it."""

    def tagschanged(self, change: ZLTagChanges, /) -> int:
        """Handle notification of changed tags

        Called once per changed tag. The value it returns is not used (the
        default gives 0)."""


class Lease:
    """Lease(client, database): a lease of one database in the client's Naming
    Service, so that the workers of a campaign never share a database."""

    database: str
    """The database this lease is for."""

    def __init__(self, client: Client, database: str, /) -> None: ...

    def acquire(self) -> int:
        """Takes the lease.

        acquire() -> int: 1 when this process holds it now (newly taken,
        held already, or taken over from a holder that no longer answers),
        0 when a holder that answers has it, -1 when the Naming Service
        failed (see error())."""
    def release(self) -> int:
        """Gives the lease back.

        release() -> int: 1 when this process's lease was removed, 0 when
        the lease was not this process's, -1 when the Naming Service failed."""
    def held(self) -> bool:
        """Whether this process holds the lease now.

        held() -> bool"""
    def error(self) -> str:
        """The reason of the last failure.

        error() -> str ("" after a success)"""
