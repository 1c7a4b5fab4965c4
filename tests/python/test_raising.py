"""Raising mode (zl.Client(options, raise_errors=True)): every operation,
in both modes, against the stand-in with a fault armed; a client that is not
connected; failures that are results and must not raise; the exceptions'
classes, messages and attributes."""

import pickle

import pytest

import zl
from conftest import HANG_BOUND_S, run_script

# (method, args, server operation to fail, result in the default mode). The
# tag of an operation on one tag is its first argument.
OPERATIONS = [
    ("pve", ("LEVEL_SP",), "PVE", 0.0),
    ("pv", ("LEVEL_SP",), "ZelvikDatabase::PV", 0.0),
    ("pvestr", ("LEVEL_SP",), "PVEStr", ""),
    ("euhi", ("LEVEL_SP",), "ZelvikDatabase::EUHi", 0.0),
    ("eulo", ("LEVEL_SP",), "ZelvikDatabase::EULo", 0.0),
    ("tagmode", ("LEVEL_SP",), "ZelvikDatabase::TagMode", ""),
    ("tagtype", ("LEVEL_SP",), "ZelvikDatabase::TagType", ""),
    ("tagexists", ("LEVEL_SP",), "TagExists", False),
    ("isforced", ("LEVEL_SP",), "IsForced", False),
    ("setforce", ("LEVEL_SP", 0), "SetForce", False),
    ("setman", ("LEVEL_SP",), "ZelvikDatabase::SetMan", False),
    ("setauto", ("LEVEL_SP",), "ZelvikDatabase::SetAuto", False),
    ("deletetag", ("LEVEL_SP",), "DeleteTag", False),
    ("initpv", ("LEVEL_SP",), "InitPV", -1),
    ("upload", ("LEVEL_SP",), "Upload", ""),
    ("setpve", ("LEVEL_SP", 2.5), "ZelvikDatabase::SetPVE", 0),
    ("setpv", ("LEVEL_SP", 50.0), "ZelvikDatabase::SetPV", 0),
    ("download", ("X\t\t\tAnalog",), "Download", 0),
    ("tagcount", (), "TagCount", 0),
    ("searchtags", (".", "Tags"), "SearchTags", ""),
    ("tagstats", ("",), "TagStats", ""),
    ("hellozl", ("$KERNEL.NAME",), "HelloZL", ""),
    ("zlexpr", ("1+1",), "ZLExpr", 0.0),
    ("siminit", ("",), "SimInit", -1),
    ("shutdown", (0, 0), "Shutdown", False),
    ("cycletime", (), "DoCalcsEvery", 0.0),
    ("warpfactor", (), "WarpFactor", 0.0),
    ("ioenabled", (), "IOIsEnabled", False),
    ("algsrunning", (), "AlgsAreRunning", False),
    ("doasinglecalccycle", (0.0,), "DoASingleCalcCycle", -1),
    ("multipve", (["LEVEL_SP"],), "GetMultiTag", []),
    ("setmultipve", (["LEVEL_SP"], [2.5]), "SetMultiPVE", -1),
    ("savetags", ("x.tag",), "get_tagfile_iterator", 0),
    ("readtags", ("x.tag",), None, 0),        # fails without a file: see below
]
ON_ONE_TAG = {"pve", "pv", "pvestr", "euhi", "eulo", "tagmode", "tagtype", "tagexists",
              "isforced", "setforce", "setman", "setauto", "deletetag", "initpv", "upload",
              "setpve", "setpv"}

# (armed exception, class raised, exception named). TIMEOUT here is the
# server's own exception; a call that runs into the client's time limit is
# in test_call_time_limit_raises_call_timeout.
FAULTS = [
    ("TRANSIENT", zl.CommunicationFailure, "TRANSIENT"),
    ("TIMEOUT", zl.CallTimeout, "TIMEOUT"),
    ("undeclared", zl.ServerError, "UNKNOWN"),   # a user exception it does not declare
]


@pytest.fixture
def raising(client):
    """The session's client; its mode is put back after the test."""
    yield client
    client.raise_errors = False


def default_equal(got, want):
    assert type(got) is type(want) and got == want, (got, want)


@pytest.mark.parametrize("fault,kind,name", FAULTS, ids=[f[0] for f in FAULTS])
@pytest.mark.parametrize("method,args,operation,default",
                         [o for o in OPERATIONS if o[2] is not None],
                         ids=[o[0] for o in OPERATIONS if o[2] is not None])
@pytest.mark.parametrize("mode", [False, True], ids=["default", "raising"])
def test_failed_call(raising, faults, tmp_path, mode, method, args, operation, default,
                     fault, kind, name):
    if method == "savetags":
        args = (str(tmp_path / "x.tag"),)
    raising.raise_errors = mode
    assert faults("fail %s %s" % (operation, fault)) == "OK"
    call = getattr(raising, method)
    if not mode:
        default_equal(call(*args), default)
    else:
        with pytest.raises(kind) as e:
            call(*args)
        assert e.value.operation == method
        assert e.value.tag == (args[0] if method in ON_ONE_TAG else None)
        assert e.value.exception == name
        assert name in e.value.reason
        assert str(e.value).startswith(method)
    assert faults("faults") == "OK 0"                # the call reached the server
    assert raising.tagcount() == 23                  # and the client goes on


def test_local_failures(raising, tmp_path):
    missing = str(tmp_path / "no" / "such" / "dir" / "x.tag")
    for mode in (False, True):
        raising.raise_errors = mode
        for method in ("savetags", "readtags"):
            if not mode:
                assert getattr(raising, method)(missing) == 0
                continue
            with pytest.raises(zl.Error) as e:
                getattr(raising, method)(missing)
            assert type(e.value) is zl.Error          # no subclass fits a local failure
            assert e.value.operation == method and e.value.exception is None
        # the library refuses a negative step without a call
        if not mode:
            assert raising.doasinglecalccycle(-0.5) == -1
        else:
            with pytest.raises(zl.Error, match="time step must be 0 or more"):
                raising.doasinglecalccycle(-0.5)


# (method, args, result in the default mode) of a client that is not connected.
NOT_CONNECTED = [o[:2] + (o[3],) for o in OPERATIONS if o[0] not in ("savetags", "readtags")] + [
    ("savetags", ("x.tag",), -1),
    ("readtags", ("x.tag",), -1),
    ("connect", ("NO_SUCH_DB",), -1),
    ("startscenario", ("x.scn",), 0),
    ("stopscenario", (1,), 0),
    ("listscenarios", (), ""),
    ("scenarioinfo", (1,), ""),
    ("msgsexist", (7,), False),
    ("getnextzlmessage", (0,), ""),
    ("zlfind", ("abc", "b"), 0),
]


@pytest.mark.parametrize("method,args,default", NOT_CONNECTED, ids=[o[0] for o in NOT_CONNECTED])
@pytest.mark.parametrize("mode", [False, True], ids=["default", "raising"])
def test_not_connected(idle, mode, method, args, default):
    idle.raise_errors = mode
    try:
        if not mode:
            default_equal(getattr(idle, method)(*args), default)
            return
        with pytest.raises(zl.NotConnected) as e:
            getattr(idle, method)(*args)
        assert e.value.operation == method
        assert e.value.exception is None
    finally:
        idle.raise_errors = False


def test_what_never_raises_for_a_client_that_is_not_connected(idle):
    idle.raise_errors = True
    try:
        assert idle.disconnect() == -1                  # closing twice is no error
        assert idle.listzldatabases() == "SIM"          # needs no connection
        with idle:
            pass                                        # __exit__ disconnects quietly
    finally:
        idle.raise_errors = False


# Failure values that are results: the call succeeded, so nothing raises.
# (method, args, result)
RESULTS = [
    ("tagexists", ("NO_SUCH_TAG",), False),
    ("deletetag", ("NO_SUCH_TAG",), True),        # the server raised nothing
    ("multipve", (["NO_SUCH_TAG"],),
     [{"tagname": "NO_SUCH_TAG", "value": 0.0, "mode": "??", "type": ""}]),
    ("zlfind", ("abc", "x"), 0),
    ("searchtags", ("^NO_SUCH", "Tags"), ""),
]


@pytest.mark.parametrize("method,args,result", RESULTS, ids=[r[0] for r in RESULTS])
def test_failure_values_that_are_results_do_not_raise(raising, method, args, result):
    raising.raise_errors = True
    assert getattr(raising, method)(*args) == result


def test_a_real_zero_does_not_raise(raising):
    raising.raise_errors = True
    assert raising.setpve("LEVEL_SP", 0.0) == 1
    try:
        assert raising.pve("LEVEL_SP") == 0.0
    finally:
        raising.setpve("LEVEL_SP", 2.5)


# (method, args, class): the server's own exceptions.
OWN_EXCEPTIONS = [
    ("pve", ("TANK_LEVL",), zl.TagNotFound),
    ("setman", ("TANK_LEVL",), zl.TagNotFound),
    ("setpve", ("TANK_LEVL", 1.0), zl.TagNotFound),
    ("upload", ("TANK_LEVL",), zl.TagNotFound),
    ("zlexpr", ("1 +",), zl.ServerError),
    ("download", ("1BAD\t\t\tAnalog",), zl.ServerError),
]


@pytest.mark.parametrize("method,args,kind", OWN_EXCEPTIONS, ids=[o[0] for o in OWN_EXCEPTIONS])
def test_the_servers_own_exceptions(raising, method, args, kind):
    raising.raise_errors = True
    with pytest.raises(kind) as e:
        getattr(raising, method)(*args)
    assert type(e.value) is kind


def test_message_attributes_and_pickling(raising, caplog):
    raising.raise_errors = True
    with pytest.raises(zl.TagNotFound) as e:
        raising.pve("TANK_LEVL")
    error = e.value
    assert str(error) == ("pve('TANK_LEVL'): tag not found: "
                          "user exception, ID 'IDL:ZEMR/ZLTagNotFound:1.0'")
    assert (error.operation, error.tag, error.exception, error.reason) == (
        "pve", "TANK_LEVL", "ZLTagNotFound", "user exception, ID 'IDL:ZEMR/ZLTagNotFound:1.0'")
    # The library's log line stays, as in the default mode.
    assert [r for r in caplog.records
            if r.levelname == "ERROR" and "ZLTagNotFound" in r.getMessage()]
    again = pickle.loads(pickle.dumps(error))       # e.g. across pytest-xdist workers
    assert type(again) is zl.TagNotFound and str(again) == str(error)
    assert (again.operation, again.tag) == ("pve", "TANK_LEVL")
    with pytest.raises(zl.ServerError) as e:
        raising.zlexpr("1 +")
    assert str(e.value).startswith("zlexpr: the server raised ZLBadExpression: user exception, "
                                   "ID 'IDL:ZEMR/ZLBadExpression:1.0': exprError ")
    assert e.value.tag is None


def test_failed_query_raises_before_the_change(raising, faults):
    before = raising.cycletime()
    raising.raise_errors = True
    assert faults("fail DoCalcsEvery TRANSIENT") == "OK"
    with pytest.raises(zl.CommunicationFailure):
        raising.cycletime(before + 0.5)
    assert raising.cycletime() == before             # the setter was not called
    # A setter that fails raises too, after the query.
    assert faults("fail EnableIO TRANSIENT") == "OK"
    with pytest.raises(zl.CommunicationFailure) as e:
        raising.ioenabled(1)
    assert e.value.operation == "ioenabled"


def test_connect_and_createserver_failures(plant, raising):
    raising.raise_errors = True
    with pytest.raises(zl.Error) as e:
        raising.createserver("X", "nohost")
    assert type(e.value) is zl.Error
    assert e.value.reason == "no Zelvik factory on host 'nohost'"
    other = zl.Client(plant.orb_options, raise_errors=True)
    with pytest.raises(zl.NotConnected) as e:
        other.connect("NO_SUCH_DB")
    assert e.value.reason == ("no database named 'NO_SUCH_DB' in the Naming Service "
                              "or the local IOR file")


def test_classes_and_the_switch():
    for kind in (zl.NotConnected, zl.TagNotFound, zl.ServerError, zl.CallTimeout,
                 zl.CommunicationFailure):
        assert issubclass(kind, zl.Error) and kind.__module__ == "zl"
    assert issubclass(zl.Error, Exception)
    made = zl.TagNotFound("by a script")             # the attributes exist on any instance
    assert (made.operation, made.tag, made.exception, made.reason) == (None,) * 4
    c = zl.Client("")
    assert c.raise_errors is False
    c.raise_errors = 1
    assert c.raise_errors is True
    assert zl.Client("", raise_errors=True).raise_errors is True
    with pytest.raises(TypeError):
        zl.Client("", True)                          # the switch is keyword-only
    with pytest.raises(AttributeError):
        del c.raise_errors
    # Argument errors and a missing client raise what they raised before.
    with pytest.raises(TypeError):
        c.pve(1)
    missing = zl.Client.__new__(zl.Client)
    missing.raise_errors = True
    with pytest.raises(RuntimeError, match="initzl"):
        missing.pve("T")


def test_call_time_limit_raises_call_timeout(plant, faults):
    # A process of its own: the ORB's call time limit is that of the first client.
    assert faults("delay ZelvikDatabase::PVE 3000") == "OK"
    child = run_script("""
        import os, zl
        client = zl.Client(os.environ["ORB"] + " -ORBclientCallTimeOutPeriod 300",
                           raise_errors=True)
        client.connect("SIM")
        try:
            client.pve("LEVEL_SP")
        except zl.CallTimeout as e:
            print(e.exception, e.tag, "TIMEOUT_CallTimedOutOnClient" in e.reason)
        print(client.pve("LEVEL_SP"))
    """, {"ORB": plant.orb_options})
    out, err = child.communicate(timeout=HANG_BOUND_S)
    assert child.returncode == 0, err
    assert out.split("\n")[:2] == ["TIMEOUT LEVEL_SP True", "2.5"]
