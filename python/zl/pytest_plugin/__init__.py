"""The pytest plugin of scenario campaigns (load it with `-p zl.pytest_plugin`,
or through its `pytest11` entry point once installed).

Scenario files become test items (collect.py); each is checked before it
takes a server (precheck.py), runs on the database this process has leased
(station.py), after the baseline was restored, and is judged from its own
section of the test log (runner.py, verdict.py, on the run layer zl.runs). Python tests get the same through fixtures:
`zl_client`, `zl_database`, `zl_run_scenario` and `zl_sim`.

Nothing is started and no client is made until an item or fixture needs
it, so that a project without scenario files runs as before. The station
lives from the first item of the process (the session, or one xdist
worker) to the end of the session.

The plugin's old name `zl_pytest.plugin` loads this module for one more
release; `-p no:zl_pytest.plugin`, the old way to turn it off, still does
(with a FutureWarning naming the new one).
"""
import os
import warnings
from pathlib import Path
from typing import Callable, Dict, Optional, Set, Tuple, Type, TypeVar, Union

import pytest

import zl
from zl.pytest_plugin import collect, precheck
from zl.pytest_plugin.answers import Answers, AnswersError
from zl.pytest_plugin.runner import ScenarioResult, run_scenario
from zl.pytest_plugin.station import Settings, Station, StationError
from zl.services import Services

DEFAULT_PATTERNS = ["test_*.scn"]
MAX_PROPERTY = 64 * 1024  # characters of a test log section kept as a JUnit property
OLD_NAME = "zl_pytest.plugin"

# What the plugin keeps in a session's config.
_STATION = pytest.StashKey[Optional[Station]]()   # the process's station, made on first use
_SUBTESTS = pytest.StashKey[Dict[str, Set[str]]]()  # collect.is_subtest's cache
_ANSWERS = pytest.StashKey[Optional[Answers]]()   # --zl-answers, read on first use
_OFF = pytest.StashKey[bool]()                    # turned off by its old name

T = TypeVar("T")


def pytest_addoption(parser: pytest.Parser) -> None:
    group = parser.getgroup("zl", "scenario campaigns (zl)")
    group.addoption("--zl-naming", metavar="ADDRESS", default="",
                    help="the Naming Service: PORT (on 127.0.0.1), HOST:PORT, or a "
                         "corbaloc:/corbaname:/IOR: address (default: $ZL_ORB_OPTIONS)")
    group.addoption("--zl-databases", metavar="NAMES", default="",
                    help="the pool of databases, separated by commas (default: every "
                         "database the Naming Service lists)")
    group.addoption("--zl-sim", metavar="TAGFILE", default="",
                    help="start a stand-in server with these tags for each worker and run "
                         "there (with --zl-naming it registers in that Naming Service)")
    group.addoption("--zl-client-options", metavar="TEXT", default="",
                    help="further zl.Client options (\"-ORBclientCallTimeOutPeriod 5000\")")
    group.addoption("--zl-baseline", metavar="FILE.tag", default="",
                    help="tag file read with readtags before each scenario")
    group.addoption("--zl-answers", metavar="FILE", default="",
                    help="answers to operator questions (QUESTION = ANSWER lines); an "
                         "unanswered question fails its item at once")
    group.addoption("--zl-no-check", action="store_true", default=False,
                    help="run scenarios without checking them first (by default an item "
                         "the check finds errors in fails at once and takes no server)")
    parser.addini("zl_scenario_files", type="args", default=DEFAULT_PATTERNS,
                  help="name patterns of the scenario files to collect (default test_*.scn)")
    parser.addini("zl_scenario_args", type="linelist", default=[],
                  help="arguments of scenario files: FILE[ID]: ARGS lines")
    parser.addini("zl_scenario_timeout", default="3600",
                  help="seconds after which a scenario is stopped and fails (0: no limit)")
    parser.addini("zl_lease_wait", default="60",
                  help="seconds a worker waits for a free database of the pool")
    parser.addini("zl_scenario_check", type="bool", default=True,
                  help="check each scenario before it takes a server (default true)")


def pytest_configure(config: pytest.Config) -> None:
    subtests: Dict[str, Set[str]] = {}
    config.stash[_STATION] = None
    config.stash[_SUBTESTS] = subtests
    config.stash[_OFF] = config.pluginmanager.is_blocked(OLD_NAME)
    if config.stash[_OFF]:
        warnings.warn(FutureWarning(
            "-p no:%s turns the scenario campaign plugin off for one more release; "
            "use -p no:zl.pytest_plugin" % OLD_NAME))


@pytest.hookimpl(tryfirst=True)
def pytest_sessionstart(session: pytest.Session) -> None:
    """With --zl-sim the stand-in starts with the session: one that cannot
    start ends the session at once with one message (a usage error),
    instead of failing every item. An xdist controller runs no item: it
    starts a stand-in only to see that one starts, and stops it again; each
    worker then starts its own at its first item."""
    config = session.config
    if config.stash[_OFF] or not config.option.zl_sim or hasattr(config, "workerinput"):
        return
    s = station(config)
    problem = None
    try:
        s.stand_in()
    except StationError as e:
        problem = str(e)
    if problem is None and getattr(config.option, "dist", "no") != "no":
        config.stash[_STATION] = None
        s.close()
    if problem is not None:
        raise pytest.UsageError("--zl-sim %s: %s" % (config.option.zl_sim, problem))


def pytest_unconfigure(config: pytest.Config) -> None:
    station = config.stash.get(_STATION, None)
    if station is not None:
        config.stash[_STATION] = None
        station.close()


def pytest_collect_file(file_path: Path,
                        parent: pytest.Collector) -> Optional[collect.ScenarioFile]:
    config = parent.config
    if config.stash[_OFF] or not collect.matches(file_path,
                                                  config.getini("zl_scenario_files")):
        return None
    if collect.is_subtest(file_path, config.rootpath, config.stash[_SUBTESTS]):
        return None
    scenario: collect.ScenarioFile = collect.ScenarioFile.from_parent(parent, path=file_path)
    return scenario


# --- the process's station ----------------------------------------------------

def _path_option(config: pytest.Config, value: str) -> str:
    """An option's file path, taken from the invocation directory."""
    return str(Path(config.invocation_params.dir, value).resolve()) if value else ""


def _settings(config: pytest.Config) -> Settings:
    option = config.option
    databases = [d for d in option.zl_databases.replace(";", ",").split(",") if d.strip()]
    return Settings(naming=option.zl_naming,
                    databases=[d.strip() for d in databases] or None,
                    sim_tags=_path_option(config, option.zl_sim),
                    client_options=option.zl_client_options,
                    baseline=_path_option(config, option.zl_baseline),
                    lease_wait=float(config.getini("zl_lease_wait")),
                    worker=os.environ.get("PYTEST_XDIST_WORKER", ""))


def station(config: pytest.Config) -> Station:
    """This process's Station, made on first use."""
    found = config.stash.get(_STATION, None)
    if found is None:
        found = config.stash[_STATION] = Station(_settings(config))
    return found


def _answers(config: pytest.Config) -> Optional[Answers]:
    if _ANSWERS not in config.stash:
        path = _path_option(config, config.option.zl_answers)
        config.stash[_ANSWERS] = Answers.read(path) if path else None
    return config.stash[_ANSWERS]


def _timeout(config: pytest.Config) -> Optional[float]:
    seconds = float(config.getini("zl_scenario_timeout"))
    return seconds if seconds > 0 else None


def or_fail(call: Callable[[], T],
            errors: Union[Type[Exception], Tuple[Type[Exception], ...]]) -> T:
    """What call() gives; when it raises one of `errors`, fails the calling
    test with the error's message alone (pytest.fail outside the handler,
    so the report is not the error and the failure chained)."""
    try:
        return call()
    except errors as e:
        problem = str(e)
    pytest.fail(problem, pytrace=False)


def ready_client(config: pytest.Config) -> Tuple[zl.Client, Station]:
    """The station's client on its database, the baseline restored. Fails
    the calling test (pytest.fail) when no database can be had."""
    s = station(config)
    client = or_fail(s.connect, StationError)
    or_fail(s.restore_baseline, StationError)
    return client, s


# --- running a scenario item ---------------------------------------------------

def run_item(item: collect.ScenarioItem) -> None:
    config = item.config
    answers = or_fail(lambda: _answers(config), AnswersError)
    # The check before a server is taken: with the tags known by then, and
    # with the database's once it is leased when none were.
    checking = precheck.enabled(config)
    tags: precheck.Tags = None
    noted = ""  # the check's warnings
    if checking:
        before = station(config)
        tags = precheck.known_tags(config, before.settings.sim_tags, before.database)
        noted = precheck.check_item(item, tags)
    client, s = ready_client(config)
    if checking and tags is None:
        noted = precheck.check_item(item, precheck.database_tags(config, client, s.database))
    if noted:
        item.add_report_section("call", "zl check", noted)
    item.user_properties.append(("zl_database", s.database))
    result = run_scenario(client, item.path, item.arguments, answers, _timeout(config),
                          database=s.database, name=item.nodeid.split("::")[0])
    attach(item, result)
    if not result.passed:
        raise collect.ScenarioFailed(result.report())


def attach(item: pytest.Item, result: ScenarioResult) -> None:
    """The run's test log section into the report and the JUnit properties."""
    if result.lines:
        item.add_report_section("call", "zl test log", result.section_text)
    item.user_properties.append(("zl_test_log", result.test_log))
    item.user_properties.append(("zl_test_log_offset", str(result.offset)))
    if result.lines:
        item.user_properties.append(("zl_test_log_section", result.section_text[:MAX_PROPERTY]))


# --- fixtures for Python tests --------------------------------------------------

@pytest.fixture
def zl_client(request: pytest.FixtureRequest) -> zl.Client:
    """A zl.Client connected to this worker's leased database (baseline restored)."""
    client, _ = ready_client(request.config)
    return client


@pytest.fixture
def zl_database(request: pytest.FixtureRequest, zl_client: zl.Client) -> str:
    """The name of the database `zl_client` is connected to."""
    return station(request.config).database


@pytest.fixture
def zl_run_scenario(request: pytest.FixtureRequest,
                    zl_client: zl.Client) -> Callable[..., ScenarioResult]:
    """run(path, arguments="", timeout=None) -> runner.ScenarioResult: runs a
    scenario file on the leased database (answers from --zl-answers)."""
    config = request.config
    s = station(config)

    def run(path: Union[str, "os.PathLike[str]"], arguments: str = "",
            timeout: Optional[float] = None) -> ScenarioResult:
        return run_scenario(zl_client, path, arguments, _answers(config),
                            timeout if timeout is not None else _timeout(config),
                            database=s.database)
    return run


@pytest.fixture
def zl_sim(request: pytest.FixtureRequest) -> Optional[Services]:
    """This worker's stand-in (zl.services.Services) of --zl-sim: its
    orb_options, databases, control() and restart_sim()."""
    s = station(request.config)
    if not s.settings.sim_tags:
        pytest.skip("no stand-in: give --zl-sim TAGFILE")
    return or_fail(s.stand_in, StationError)
