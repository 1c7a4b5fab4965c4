"""The pytest plugin of scenario campaigns (load it with `-p zl_pytest.plugin`,
or through its `pytest11` entry point once installed).

Scenario files become test items (collect.py); each runs on the database
this process has leased (station.py), after the baseline was restored, and
is judged from its own section of the test log (runner.py, verdict.py).
Python tests get the same through fixtures: `zl_client`, `zl_database`,
`zl_run_scenario` and `zl_sim`.

Nothing of zl is imported and nothing is started until an item or fixture
needs it, so that a project without scenario files runs as before. The
station lives from the first item of the process (the session, or one
xdist worker) to the end of the session.
"""
import os
from pathlib import Path

import pytest

from zl_pytest import collect
from zl_pytest.answers import Answers, AnswersError
from zl_pytest.runner import run_scenario
from zl_pytest.station import Settings, Station, StationError

DEFAULT_PATTERNS = ["test_*.scn"]
MAX_PROPERTY = 64 * 1024  # characters of a test log section kept as a JUnit property


def pytest_addoption(parser):
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
    parser.addini("zl_scenario_files", type="args", default=DEFAULT_PATTERNS,
                  help="name patterns of the scenario files to collect (default test_*.scn)")
    parser.addini("zl_scenario_args", type="linelist", default=[],
                  help="arguments of scenario files: FILE[ID]: ARGS lines")
    parser.addini("zl_scenario_timeout", default="3600",
                  help="seconds after which a scenario is stopped and fails (0: no limit)")
    parser.addini("zl_lease_wait", default="60",
                  help="seconds a worker waits for a free database of the pool")


def pytest_configure(config):
    config._zl_station = None
    config._zl_subtests = {}


@pytest.hookimpl(tryfirst=True)
def pytest_sessionstart(session):
    """With --zl-sim the stand-in starts with the session: one that cannot
    start ends the session at once with one message (a usage error),
    instead of failing every item. An xdist controller runs no item: it
    starts a stand-in only to see that one starts, and stops it again; each
    worker then starts its own at its first item."""
    config = session.config
    if not config.option.zl_sim or hasattr(config, "workerinput"):
        return
    s = station(config)
    problem = None
    try:
        s.stand_in()
    except StationError as e:
        problem = str(e)
    if problem is None and getattr(config.option, "dist", "no") != "no":
        config._zl_station = None
        s.close()
    if problem is not None:
        raise pytest.UsageError("--zl-sim %s: %s" % (config.option.zl_sim, problem))


def pytest_unconfigure(config):
    station = getattr(config, "_zl_station", None)
    if station is not None:
        config._zl_station = None
        station.close()


def pytest_collect_file(file_path, parent):
    config = parent.config
    if not collect.matches(file_path, config.getini("zl_scenario_files")):
        return None
    if collect.is_subtest(file_path, config.rootpath, config._zl_subtests):
        return None
    return collect.ScenarioFile.from_parent(parent, path=file_path)


# --- the process's station ----------------------------------------------------

def _path_option(config, value):
    """An option's file path, taken from the invocation directory."""
    return str(Path(config.invocation_params.dir, value).resolve()) if value else ""


def _settings(config):
    option = config.option
    databases = [d for d in option.zl_databases.replace(";", ",").split(",") if d.strip()]
    return Settings(naming=option.zl_naming,
                    databases=[d.strip() for d in databases] or None,
                    sim_tags=_path_option(config, option.zl_sim),
                    client_options=option.zl_client_options,
                    baseline=_path_option(config, option.zl_baseline),
                    lease_wait=float(config.getini("zl_lease_wait")),
                    worker=os.environ.get("PYTEST_XDIST_WORKER", ""))


def station(config):
    """This process's Station, made on first use."""
    if config._zl_station is None:
        config._zl_station = Station(_settings(config))
    return config._zl_station


def _answers(config):
    if not hasattr(config, "_zl_answers"):
        path = _path_option(config, config.option.zl_answers)
        config._zl_answers = Answers.read(path) if path else None
    return config._zl_answers


def _timeout(config):
    seconds = float(config.getini("zl_scenario_timeout"))
    return seconds if seconds > 0 else None


def or_fail(call, errors):
    """What call() gives; when it raises one of `errors`, fails the calling
    test with the error's message alone (pytest.fail outside the handler,
    so the report is not the error and the failure chained)."""
    try:
        return call()
    except errors as e:
        problem = str(e)
    pytest.fail(problem, pytrace=False)


def ready_client(config):
    """The station's client on its database, the baseline restored. Fails
    the calling test (pytest.fail) when no database can be had."""
    s = station(config)
    client = or_fail(s.connect, StationError)
    or_fail(s.restore_baseline, StationError)
    return client, s


# --- running a scenario item ---------------------------------------------------

def run_item(item):
    config = item.config
    answers = or_fail(lambda: _answers(config), AnswersError)
    client, s = ready_client(config)
    item.user_properties.append(("zl_database", s.database))
    result = run_scenario(client, item.path, item.arguments, answers, _timeout(config),
                          database=s.database, name=item.nodeid.split("::")[0])
    attach(item, result)
    if not result.passed:
        raise collect.ScenarioFailed(result.report())


def attach(item, result):
    """The run's test log section into the report and the JUnit properties."""
    if result.lines:
        item.add_report_section("call", "zl test log", result.section_text)
    item.user_properties.append(("zl_test_log", result.test_log))
    item.user_properties.append(("zl_test_log_offset", str(result.offset)))
    if result.lines:
        item.user_properties.append(("zl_test_log_section", result.section_text[:MAX_PROPERTY]))


# --- fixtures for Python tests --------------------------------------------------

@pytest.fixture
def zl_client(request):
    """A zl.Client connected to this worker's leased database (baseline restored)."""
    client, _ = ready_client(request.config)
    return client


@pytest.fixture
def zl_database(request, zl_client):
    """The name of the database `zl_client` is connected to."""
    return station(request.config).database


@pytest.fixture
def zl_run_scenario(request, zl_client):
    """run(path, arguments="", timeout=None) -> runner.ScenarioResult: runs a
    scenario file on the leased database (answers from --zl-answers)."""
    config = request.config
    s = station(config)

    def run(path, arguments="", timeout=None):
        return run_scenario(zl_client, path, arguments, _answers(config),
                            timeout if timeout is not None else _timeout(config),
                            database=s.database)
    return run


@pytest.fixture
def zl_sim(request):
    """This worker's stand-in (zl_cli.services.Services) of --zl-sim: its
    orb_options, databases, control() and restart_sim()."""
    s = station(request.config)
    if not s.settings.sim_tags:
        pytest.skip("no stand-in: give --zl-sim TAGFILE")
    return or_fail(s.stand_in, StationError)
