"""The examples of docs/readers.md, run as they are written (doctest) on the
files of the report example, built here by their documented layouts."""

import calendar
import doctest
import struct
from pathlib import Path

import pytest

from zl import readers

DOC = Path(__file__).resolve().parents[2] / "docs" / "readers.md"

TEST_LOG = """\
00:00:00.000\tStarting test 'fill.scn' at Thu Dec 10 05:47:48 2026
00:00:00.000\t  Verification <TEMP_SP> = 60.000000 passed Value is 60.000000
00:00:00.000\t**Verification <FEED_FLOW_SP> > 40.000000 FAILED Value is 30.000000
00:00:00.000\t  Monitoring tag <LEVEL_SP> = 2.500000
00:00:00.000\t  Precheck Timed Verification !(<FEED_FLOW> > 10.000000) passed Value is 0.000000 after 0:00.000
00:00:06.007\t  Timed Verification <FEED_FLOW> > 10.000000 passed Value is 13.535651 after 0:06.006
00:00:09.012\t  Monitored tags PASSED at nest level 0
00:00:09.012\t  Stored checksum, 9bbf07233ffc7b183cc9ccfe87a90881, validates scenario: fill.scn
00:00:09.012\tClosing test log after 0 mins 9.0 secs at Thu Dec 10 05:47:57 2026
#$CHECK:67c33f59a46b828cf59362dfe562dc2b
"""
STARTED = calendar.timegm((2026, 12, 10, 5, 47, 49, 0, 0, 0))


def logset_record(kind, ms, value=0.0, mode=0, text=b""):
    return kind + struct.pack("<IIddI", 25 + len(text), ms, value, 0.0, mode) + text + b"\0"


def tag_record(kind, payload):
    return kind + struct.pack("<I", len(payload)) + payload


def stag(name, type_, description, value, forced):
    fields = [name, "SIM", "", type_, description, "0", "100", "0", "100", "Auto", "", "",
              "0", value, "1" if forced else "0"]
    return tag_record(b"STAG", "\t".join(fields).encode())


def stored(name, value):
    return struct.pack("<H", len(name) + 1) + name + b"\0" + struct.pack("<d", value)


@pytest.fixture
def files(tmp_path, monkeypatch):
    (tmp_path / "fill.tlg").write_text(TEST_LOG)
    rows = [(0, b"FEED_FLOW", 0.0), (0, b"TANK_LEVEL", 1.99),
            (999, b"TANK_LEVEL", 1.9808476582745425),
            (3000, b"FEED_FLOW", 5.438077407660545), (3000, b"TANK_LEVEL", 1.9686296850091651),
            (4000, b"FEED_FLOW", 9.890398618930824), (4000, b"TANK_LEVEL", 1.9675491258464886)]
    (tmp_path / "FILL.LOG").write_bytes(
        logset_record(b"_HD_", 0, mode=STARTED, text=b"FILL") + logset_record(b"_FO_", 0, mode=1)
        + logset_record(b"_DE_", 0, mode=9)
        + b"".join(logset_record(b"_TA_", ms, v, 1, tag) for ms, tag, v in rows)
        + logset_record(b"_ZZ_", 4012, text=b"FILL"))
    (tmp_path / "plant.tag").write_bytes(
        tag_record(b"ZTFH", b"zelvik-sim tag file 1\tdatabase=SIM\ttags=2")
        + stag("TEMP_SP", "Analog", "Tank temperature setpoint [degC]", "60", False)
        + stag("FEED_PUMP_CMD", "DigitalOut", "Feed pump start command [STOP/RUN]", "1", True))
    (tmp_path / "zyFILL.tmp").write_bytes(
        stored(b"FEED_FLOW_SP", 30.0) + stored(b"LEVEL_SP", 2.5) + stored(b"TEMP_SP", 60.0))
    monkeypatch.chdir(tmp_path)


def test_examples_of_the_readers_page(files):
    pytest.importorskip("pandas")
    parser = doctest.DocTestParser()
    test = parser.get_doctest(DOC.read_text(), {"readers": readers}, DOC.name, str(DOC), 0)
    assert len(test.examples) > 10
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test)
    assert runner.summarize(verbose=False).failed == 0


def test_to_dataframe_without_pandas_says_what_to_install(files, monkeypatch):
    import builtins
    real_import = builtins.__import__

    def no_pandas(name, *args, **kwargs):
        if name == "pandas":
            raise ImportError("No module named 'pandas'")
        return real_import(name, *args, **kwargs)

    monkeypatch.setattr(builtins, "__import__", no_pandas)
    with pytest.raises(ImportError, match="needs pandas.*python3-pandas"):
        readers.LogSet("FILL.LOG").to_dataframe()
