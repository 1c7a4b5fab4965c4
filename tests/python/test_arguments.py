"""Argument errors and clients whose initialisation did not succeed: these
need no server, nor even a Naming Service."""

import pytest

import zl


@pytest.fixture(scope="module")
def bare():
    """A client that is not connected and has no Naming Service."""
    return zl.Client("")


@pytest.fixture
def missing():
    """An instance whose initialisation never ran: it has no client."""
    return zl.Client.__new__(zl.Client)


def test_module_constants_and_addme():
    assert zl.__version__ == "1.1.3"
    assert (zl.SUCCESS, zl.ERR_BADPARAM) == (0, -1)
    assert (zl.TagMode_Auto, zl.TagMode_Manual) == (0, 1)
    assert [zl.MsgType_AllMsgs, zl.MsgType_ErrorMsg, zl.MsgType_WarninMsg,
            zl.MsgType_InfoMsg, zl.MsgType_DebugMsg] == [0, 1, 2, 3, 4]
    assert zl.addme(2, 3) == 5
    with pytest.raises(TypeError):
        zl.addme(2, "3")


@pytest.mark.parametrize("args", [
    (),              # the option string is required
    (1,),            # and must be a text
    ("a", "b"),      # exactly one
])
def test_client_creation_argument_errors(args):
    with pytest.raises(TypeError):
        zl.Client(*args)


def test_subclass_of_client_is_a_client():
    class Mine(zl.Client):
        pass
    assert Mine("").pve("X") == 0.0


# (method, args): the parser's TypeError.
PARSER_ERRORS = [
    ("connect", ()),                 # missing name
    ("pve", (1,)),                   # a number for a text
    ("pve", ("a", "b")),             # too many
    ("setpve", ("T", "x")),          # a text for a number
    ("setpve", ("T",)),              # missing value
    ("tagcount", (1,)),              # takes nothing
    ("listzldatabases", ("x",)),     # takes nothing
    ("searchtags", ("x",)),          # pattern and field
    ("setforce", ("T", "on")),       # flag is an integer
    ("shutdown", (0,)),              # how and delay
    ("enableevents", ("yes",)),      # flag is an integer
    ("msgsexist", ("all",)),         # type is an integer
    ("startscenario", ()),           # the file is required
    ("startscenario", ("f", "o", "x")),  # at most file and options
    ("algsrunning", ("x",)),         # parser's own TypeError
    ("algsrunning", (1, 2)),         # two arguments fail the parse
    ("multipve", ()),                # one object
    ("setmultipve", (["A"],)),       # names and values
]


@pytest.mark.parametrize("method,args", PARSER_ERRORS)
def test_parser_type_errors(bare, method, args):
    with pytest.raises(TypeError):
        getattr(bare, method)(*args)


def test_text_with_nul_is_refused(bare):
    with pytest.raises(ValueError):  # the parser's: never cut short silently
        bare.pve("a\0b")


# (method, args, exception, text): errors of the methods' own checks.
OWN_ERRORS = [
    ("cycletime", ("x",), RuntimeError, "Could not parse first argument to a double"),
    ("cycletime", (0.5, 1.0), RuntimeError, "Could not parse first argument to a double"),
    ("warpfactor", ("x",), RuntimeError, "Could not parse first argument to a double"),
    ("ioenabled", ("x",), RuntimeError, "Could not parse first argument to an integer"),
    ("multipve", (("A", "B"),), RuntimeError, "argument 1 to multipve() is not a list"),
    ("setmultipve", (["A", "B"], [1.0]), RuntimeError, "number of tags and values must be equal"),
    ("setmultipve", (["A"], ["x"]), TypeError, "all values must be numbers"),
    ("setmultipve", ([1], [1.0]), TypeError, "all tagnames must be strings"),
    # both checks of one index fail: the name's message wins
    ("setmultipve", ([1], ["x"]), TypeError, "all tagnames must be strings"),
    ("setmultipve", (5, [1.0]), TypeError, "first argument must be iterable"),
    ("setmultipve", (["A"], 5), TypeError, "second argument must be iterable"),
]


@pytest.mark.parametrize("method,args,exception,text", OWN_ERRORS)
def test_own_argument_errors(bare, method, args, exception, text):
    with pytest.raises(exception) as e:
        getattr(bare, method)(*args)
    assert str(e.value) == text


def test_multipve_accepts_a_subclass_of_list(bare):
    class Names(list):
        pass
    assert bare.multipve(Names(["A"])) == []  # not connected: no dicts


NOT_INIT = "initzl() not called or unsuccessful"
NOT_INIT2 = "ZL Client not initialized successfully"

# (method, args, error text or None, result without error)
MISSING_CLIENT = [
    ("connect", ("SIM",), NOT_INIT, None),
    ("disconnect", (), NOT_INIT, None),
    ("listzldatabases", (), NOT_INIT2, None),
    ("setpve", ("T", 1.0), NOT_INIT2, None),
    ("doasinglecalccycle", (1.0,), NOT_INIT2, None),
    ("pve", ("T",), NOT_INIT, None),
    ("pvestr", ("T",), NOT_INIT, None),
    ("tagcount", (), NOT_INIT, None),
    ("setforce", ("T", 1), NOT_INIT, None),
    ("enableevents", (1,), NOT_INIT, None),
    ("startscenario", ("f.scn",), NOT_INIT, None),
    ("listscenarios", (), NOT_INIT, None),
    ("msgsexist", (7,), NOT_INIT, None),
    ("shutdown", (0, 0), NOT_INIT, None),
    # query-then-set: the missing client is found before the arguments
    ("cycletime", (), NOT_INIT, None),
    ("cycletime", ("x",), NOT_INIT, None),
    ("algsrunning", (1,), NOT_INIT, None),
    ("multipve", (["T"],), "multipve() not called or unsuccessful", None),
    # setmultipve checks its arguments, then gives -1 without a client
    ("setmultipve", (["T"], [1.0]), None, -1),
]


@pytest.mark.parametrize("method,args,text,result", MISSING_CLIENT)
def test_missing_client(missing, method, args, text, result):
    if text is None:
        assert getattr(missing, method)(*args) == result
        return
    with pytest.raises(RuntimeError) as e:
        getattr(missing, method)(*args)
    assert str(e.value) == text


def test_missing_client_still_checks_arguments_first(missing):
    with pytest.raises(TypeError):
        missing.pve()
    with pytest.raises(RuntimeError, match="number of tags and values must be equal"):
        missing.setmultipve(["A"], [])


def test_tag_changes_record():
    t = zl.ZLTagChanges()
    assert (t.tag, t.pve, t.pv, t.tagmode, t.secs, t.usecs) == ("", 0.0, 0.0, 0, 0, 0)
    t.tag, t.pve, t.tagmode, t.secs = "FEED_FLOW", 2.5, 1, 4000000000
    assert (t.tag, t.pve, t.tagmode, t.secs) == ("FEED_FLOW", 2.5, 1, 4000000000)
    with pytest.raises(TypeError):  # not subclassable
        type("Sub", (zl.ZLTagChanges,), {})
    raw = zl.ZLTagChanges.__new__(zl.ZLTagChanges)  # init not run
    assert raw.tag is None


def test_callback_default_tagschanged():
    class Watcher(zl.Callback):
        def __init__(self, label):
            super().__init__()
            self.label = label
    w = Watcher("x")
    assert w.tagschanged(zl.ZLTagChanges()) == 0
    assert zl.Callback().tagschanged() == 0
