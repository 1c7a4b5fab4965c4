"""savetags and readtags: the plant's tags saved to a tag file and restored,
and what the methods give for files they cannot use."""

import struct


def records(data):
    """Splits a tag file into (kind, whole record) pairs."""
    out, at = [], 0
    while at + 8 <= len(data):
        (n,) = struct.unpack_from("<I", data, at + 4)
        out.append((data[at:at + 4], data[at:at + 8 + n]))
        at += 8 + n
    assert at == len(data), "the file is whole records"
    return out


def test_round_trip_restores_values_and_modes(client, tmp_path):
    path = tmp_path / "plant.tag"
    saved_value = client.pve("LEVEL_SP")
    n = client.savetags(str(path))
    assert n == client.tagcount() > 0
    kinds = [k for k, _ in records(path.read_bytes())]
    assert kinds[0] != b"STAG" and kinds[1:] == [b"STAG"] * n
    try:
        client.setman("LEVEL_SP")
        client.setpve("LEVEL_SP", saved_value + 12.5)
        assert client.tagmode("LEVEL_SP") == "Manual"
        assert client.readtags(str(path)) == n
        assert client.tagmode("LEVEL_SP") == "Auto"
        assert client.pve("LEVEL_SP") == saved_value
    finally:
        client.setauto("LEVEL_SP")
        client.setpve("LEVEL_SP", saved_value)


def test_partial_files(client, tmp_path):
    path = tmp_path / "plant.tag"
    assert client.savetags(str(path)) > 0
    recs = records(path.read_bytes())
    lead, tag = recs[0][1], recs[1][1]
    cases = [
        # nothing to read
        (b"", 0),
        # the leading record is never sent
        (lead, 0),
        # another kind goes to the server uncounted
        (lead + b"XTRA" + struct.pack("<I", 2) + b"xy" + tag, 1),
        # a cut last record ends the restore normally
        (lead + tag + tag[:-1], 1),
    ]
    for data, count in cases:
        path.write_bytes(data)
        assert client.readtags(str(path)) == count, data[:16]


def test_unusable_paths(client, tmp_path, caplog):
    missing = str(tmp_path / "no" / "such.tag")
    assert client.savetags(missing) == 0
    assert client.readtags(missing) == 0
    lines = [r.getMessage() for r in caplog.records if r.name == "zl.localdb"]
    assert "#SaveTags() could not open file %s" % missing in lines
    assert "#ReadTags() could not open file %s" % missing in lines


def test_not_connected(idle, tmp_path):
    assert idle.savetags(str(tmp_path / "x.tag")) == -1
    assert idle.readtags(str(tmp_path / "x.tag")) == -1
