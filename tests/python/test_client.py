"""zl.Client against the plant: normal results, results when not connected,
results when the server call fails, and the query-then-set methods."""

import pytest


# (method, args, expected: a value, or a predicate on the result). The tags
# used are setpoints, which no algorithm changes.
NORMAL = [
    ("tagcount", (), 23),
    ("pve", ("LEVEL_SP",), 2.5),
    ("pv", ("LEVEL_SP",), 50.0),
    ("pvestr", ("LEVEL_SP",), "2.50 m"),
    ("pvestr", ("FEED_PUMP_CMD",), "RUN"),                 # the state text of a digital tag
    ("euhi", ("LEVEL_SP",), 5.0),
    ("eulo", ("AMBIENT_TEMP",), -10.0),
    ("tagmode", ("LEVEL_SP",), "Auto"),
    ("tagtype", ("LEVEL_SP",), "Analog"),
    ("tagexists", ("LEVEL_SP",), True),
    ("tagexists", ("NO_SUCH_TAG",), False),
    ("isforced", ("LEVEL_SP",), False),
    ("zlexpr", ("LEVEL_SP * 2",), 5.0),
    ("upload", ("LEVEL_SP",), lambda s: s.startswith("LEVEL_SP\t") and s.count("\t") == 12),
    ("searchtags", ("^LEVEL_", "Tags"), "LEVEL_PCT,LEVEL_SP,LEVEL_ERR"),  # definition order
    ("tagstats", ("COUNT",), "23"),
    ("hellozl", ("$KERNEL.NAME",), "SIM"),
    ("zlfind", ("hello world", "W.R"), 1),                # 1 or 0, never True or False
    ("zlfind", ("hello world", "^world"), 0),
    ("listzldatabases", (), "SIM"),
    # the tag setters give False when the server refuses an unknown tag
    ("setman", ("NO_SUCH_TAG",), False),
    ("setauto", ("NO_SUCH_TAG",), False),
    ("setforce", ("NO_SUCH_TAG", 1), False),
    # the stand-in answers DeleteTag with 0 here and raises nothing: the
    # code is the server's own, so the call worked
    ("deletetag", ("NO_SUCH_TAG",), True),
    ("multipve", (["LEVEL_SP", "FEED_PUMP_CMD", "LEVEL_PCT"],),
     [{"tagname": "LEVEL_SP", "value": 2.5, "mode": "Auto", "type": "Anl"},
      {"tagname": "FEED_PUMP_CMD", "value": 1.0, "mode": "Auto", "type": "DigOut"},
      {"tagname": "LEVEL_PCT", "value": lambda v: isinstance(v, float),
       "mode": "Auto", "type": "CalcBlock"}]),
    # one row per name: unknown names keep their place, found ones after them
    ("multipve", (["A1", "A2", "LEVEL_SP"],),
     [{"tagname": "A1", "value": 0.0, "mode": "??", "type": ""},
      {"tagname": "A2", "value": 0.0, "mode": "??", "type": ""},
      {"tagname": "LEVEL_SP", "value": 2.5, "mode": "Auto", "type": "Anl"}]),
    ("multipve", ([],), []),
    ("setmultipve", ([], []), 0),                           # an empty batch is a call
]


def check(got, want):
    if callable(want):
        assert want(got), got
    elif isinstance(want, list):
        assert isinstance(got, list) and len(got) == len(want), got
        for g, w in zip(got, want):
            check(g, w)
    elif isinstance(want, dict):
        assert list(got) == list(want), got  # keys in order
        for k in want:
            check(got[k], want[k])
    else:
        assert type(got) is type(want) and got == want, (got, want)


@pytest.mark.parametrize("method,args,want", NORMAL)
def test_normal_results(client, method, args, want):
    check(getattr(client, method)(*args), want)


def test_multipve_names_are_str_forms_and_unknown_tags_answer_empty(client):
    class Name:
        def __str__(self):
            return "LEVEL_SP"
    got = client.multipve([Name(), "NO_SUCH_TAG"])
    assert [row["tagname"] for row in got] == ["LEVEL_SP", "NO_SUCH_TAG"]
    assert got[0]["value"] == 2.5
    assert (got[1]["value"], got[1]["mode"], got[1]["type"]) == (0.0, "??", "")


def test_writes_single_and_batched(client):
    try:
        assert client.setpve("LEVEL_SP", 3.0) == 1
        assert client.pve("LEVEL_SP") == 3.0
        assert client.setpv("LEVEL_SP", 20.0) == 1
        assert client.pve("LEVEL_SP") == 1.0
        assert client.setmultipve(["LEVEL_SP", "TEMP_SP"], [4, 70.5]) == 2  # ints are numbers
        assert client.multipve(["LEVEL_SP", "TEMP_SP"])[1]["value"] == 70.5
        assert client.pve("LEVEL_SP") == 4.0
    finally:
        client.setmultipve(["LEVEL_SP", "TEMP_SP"], [2.5, 60.0])


def test_modes_force_and_definitions(client):
    try:
        assert client.setman("LEVEL_SP") is True
        assert client.tagmode("LEVEL_SP") == "Manual"
        assert client.setforce("LEVEL_SP", 1) is True
        assert client.isforced("LEVEL_SP") is True
        assert client.initpv("LEVEL_SP") == 0       # a forced tag is not initialised
    finally:
        client.setforce("LEVEL_SP", 0)
        client.setauto("LEVEL_SP")
    assert client.tagmode("LEVEL_SP") == "Auto"
    line = "PY_TEST_TAG\t\t\tAnalog\tA test tag [m]\t0\t10"
    assert client.download(line) == 1
    assert client.tagexists("PY_TEST_TAG") is True
    assert client.deletetag("PY_TEST_TAG") is True     # the stand-in answers 1
    assert client.tagexists("PY_TEST_TAG") is False
    assert client.deletetag("PY_TEST_TAG") is True     # it answers 0: its own code


# Query-then-set: (method, new value, value to restore, type of the result).
QUERY_THEN_SET = [
    ("cycletime", 0.5, 1.0, float),
    ("warpfactor", 2.0, 1.0, float),
    ("ioenabled", 0, 1, bool),
    ("algsrunning", 0, 1, bool),
]


@pytest.mark.parametrize("method,new,old,kind", QUERY_THEN_SET)
def test_query_then_set_gives_the_value_from_before(client, method, new, old, kind):
    call = getattr(client, method)
    try:
        before = call()
        assert type(before) is kind and before == kind(old)
        assert call(new) == before        # the value from before the change
        assert call() == kind(new)        # and the change was made
    finally:
        call(old)


def test_single_calc_cycle_steps_the_simulation(client):
    running = client.algsrunning(0)
    try:
        t0 = float(client.hellozl("$KERNEL.ElapsedSimTime"))
        assert client.doasinglecalccycle(2.0) == 0
        assert float(client.hellozl("$KERNEL.ElapsedSimTime")) == pytest.approx(t0 + 2.0)
        assert client.doasinglecalccycle(-1.0) == -1      # refused without a call
    finally:
        client.algsrunning(int(running))


# (method, args, result) of a client that is not connected.
NOT_CONNECTED = [
    ("connect", ("NO_SUCH_DB",), lambda r: r < 0),
    ("disconnect", (), -1),
    ("pve", ("LEVEL_SP",), 0.0),
    ("pv", ("LEVEL_SP",), 0.0),
    ("pvestr", ("LEVEL_SP",), ""),
    ("setpve", ("LEVEL_SP", 1.0), 0),
    ("setpv", ("LEVEL_SP", 1.0), 0),
    ("euhi", ("LEVEL_SP",), 0.0),
    ("tagmode", ("LEVEL_SP",), ""),
    ("tagtype", ("LEVEL_SP",), ""),
    ("tagexists", ("LEVEL_SP",), False),
    ("isforced", ("LEVEL_SP",), False),
    ("setman", ("LEVEL_SP",), False),
    ("setauto", ("LEVEL_SP",), False),
    ("setforce", ("LEVEL_SP", 1), False),
    ("deletetag", ("LEVEL_SP",), False),
    ("initpv", ("LEVEL_SP",), -1),
    ("upload", ("LEVEL_SP",), ""),
    ("download", ("X\t\t\tAnalog",), 0),
    ("tagcount", (), 0),
    ("searchtags", (".", "Tags"), ""),
    ("tagstats", ("",), ""),
    ("hellozl", ("$KERNEL.NAME",), ""),
    ("zlexpr", ("1+1",), 0.0),
    ("siminit", ("",), -1),
    ("shutdown", (0, 0), False),
    ("cycletime", (), 0.0),
    ("warpfactor", (2.0,), 0.0),
    ("ioenabled", (1,), False),
    ("algsrunning", (), False),
    ("doasinglecalccycle", (1.0,), -1),
    ("multipve", (["LEVEL_SP"],), []),
    ("setmultipve", (["LEVEL_SP"], [1.0]), -1),
    ("savetags", ("x.tag",), -1),
    ("readtags", ("x.tag",), -1),
    ("startscenario", ("x.scn",), 0),
    ("startscenario", ("x.scn", "-opt"), 0),
    ("stopscenario", (1,), 0),
    ("listscenarios", (), ""),
    ("scenarioinfo", (1,), ""),
    ("msgsexist", (7,), False),
    ("getnextzlmessage", (0,), ""),
    ("listzldatabases", (), "SIM"),   # needs no connection
]


@pytest.mark.parametrize("method,args,want", NOT_CONNECTED)
def test_not_connected_results(idle, method, args, want):
    check(getattr(idle, method)(*args), want)


# (method, args, server operation to fail, default result). Every call is
# made against an armed TRANSIENT fault: the default comes back and the
# exception's text is printed on standard error.
FAILURES = [
    ("pve", ("LEVEL_SP",), "PVE", 0.0),
    ("pv", ("LEVEL_SP",), "ZelvikDatabase::PV", 0.0),
    ("pvestr", ("LEVEL_SP",), "PVEStr", ""),
    ("euhi", ("LEVEL_SP",), "ZelvikDatabase::EUHi", 0.0),
    ("eulo", ("LEVEL_SP",), "ZelvikDatabase::EULo", 0.0),
    ("tagmode", ("LEVEL_SP",), "ZelvikDatabase::TagMode", ""),
    ("tagtype", ("LEVEL_SP",), "ZelvikDatabase::TagType", ""),
    ("tagexists", ("LEVEL_SP",), "TagExists", False),
    ("isforced", ("LEVEL_SP",), "IsForced", False),
    # existing tags: only the failure makes these False
    ("setforce", ("LEVEL_SP", 0), "SetForce", False),
    ("setman", ("LEVEL_SP",), "ZelvikDatabase::SetMan", False),
    ("setauto", ("LEVEL_SP",), "ZelvikDatabase::SetAuto", False),
    ("deletetag", ("LEVEL_SP",), "DeleteTag", False),
    ("initpv", ("LEVEL_SP",), "InitPV", -1),
    ("upload", ("LEVEL_SP",), "Upload", ""),
    ("download", ("X\t\t\tAnalog",), "Download", 0),
    ("tagcount", (), "TagCount", 0),
    ("searchtags", (".", "Tags"), "SearchTags", ""),
    ("tagstats", ("",), "TagStats", ""),
    ("hellozl", ("$KERNEL.NAME",), "HelloZL", ""),
    ("zlexpr", ("1+1",), "ZLExpr", 0.0),
    ("siminit", ("",), "SimInit", -1),
    ("shutdown", (0, 0), "Shutdown", False),
    ("setpve", ("LEVEL_SP", 2.5), "ZelvikDatabase::SetPVE", 0),
    ("setpv", ("LEVEL_SP", 50.0), "ZelvikDatabase::SetPV", 0),
    ("cycletime", (), "DoCalcsEvery", 0.0),
    ("warpfactor", (), "WarpFactor", 0.0),
    ("ioenabled", (), "IOIsEnabled", False),
    ("algsrunning", (), "AlgsAreRunning", False),
    ("doasinglecalccycle", (0.0,), "DoASingleCalcCycle", -1),
    ("multipve", (["LEVEL_SP"],), "GetMultiTag", []),
    ("setmultipve", (["LEVEL_SP"], [2.5]), "SetMultiPVE", -1),
]


@pytest.mark.parametrize("method,args,operation,default", FAILURES)
def test_server_failure_results(client, faults, caplog, method, args, operation, default):
    assert faults("fail %s TRANSIENT" % operation) == "OK"
    check(getattr(client, method)(*args), default)
    assert faults("faults") == "OK 0"          # the call reached the server
    # the ladder's line, handed to logging before the call returned
    assert any("TRANSIENT" in r.getMessage() and r.levelname == "ERROR" for r in caplog.records)
    assert client.tagcount() == 23              # and the client goes on


def test_deletetag_refused_by_the_server(client, faults):
    # A server may refuse an unknown tag with its tag exception rather than
    # answer a code: only that makes deletetag False.
    assert faults("fail DeleteTag ZLTagNotFound") == "OK"
    assert client.deletetag("NO_SUCH_TAG") is False
    assert faults("faults") == "OK 0"
