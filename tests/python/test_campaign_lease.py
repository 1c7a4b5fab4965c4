"""zl.Lease: a database leased in the Naming Service has one holder at a
time; a holder that crashed without releasing is taken over."""

import signal

import pytest

import zl
from conftest import HANG_BOUND_S, run_script

HOLDER = """
    import sys, zl
    client = zl.Client(%r)
    lease = zl.Lease(client, "SIM")
    print(lease.acquire(), flush=True)
    for line in sys.stdin:
        if line.strip() == "release":
            print(lease.release(), flush=True)
"""


@pytest.fixture
def lease(client):
    own = zl.Lease(client, "SIM")
    yield own
    own.release()


@pytest.fixture
def holder(plant):
    """A child process that holds the lease of SIM; commands on its stdin."""
    child = run_script(HOLDER % plant.orb_options, stdin=__import__("subprocess").PIPE)
    assert child.stdout.readline().strip() == "1", child.stderr.read()
    yield child
    if child.poll() is None:
        child.kill()
    child.wait(HANG_BOUND_S)


def test_take_hold_release(client, lease):
    assert lease.database == "SIM"
    assert lease.acquire() == 1 and lease.held()
    assert zl.Lease(client, "SIM").acquire() == 1  # this process holds it already
    assert lease.release() == 1 and not lease.held()
    assert lease.release() == 0                    # not held any more
    assert lease.error() == ""


def test_one_holder_at_a_time(lease, holder):
    assert lease.acquire() == 0 and not lease.held()
    assert lease.release() == 0  # not ours to give back
    holder.stdin.write("release\n")
    holder.stdin.flush()
    assert holder.stdout.readline().strip() == "1"
    assert lease.acquire() == 1


def test_a_crashed_holder_is_taken_over(lease, holder):
    assert lease.acquire() == 0
    holder.send_signal(signal.SIGKILL)
    holder.wait(HANG_BOUND_S)
    assert lease.acquire() == 1 and lease.held()


def test_exit_with_a_lease_held(plant, lease):
    child = run_script("""
        import zl
        lease = zl.Lease(zl.Client(%r), "SIM")
        print(lease.acquire(), flush=True)
    """ % plant.orb_options)
    out, err = child.communicate(timeout=HANG_BOUND_S)
    assert (child.returncode, out.strip()) == (0, "1"), err
    assert lease.acquire() == 1  # its holder is gone with the process


def test_no_naming_service_fails_with_the_reason(plant):
    # nothing listens on port 1: the Naming Service cannot be reached
    child = run_script("""
        import zl
        lease = zl.Lease(zl.Client("-ORBInitRef NameService=corbaloc::127.0.0.1:1/NameService"),
                         "SIM")
        print(lease.acquire(), lease.release(), lease.held(), repr(lease.error()), flush=True)
    """)
    out, err = child.communicate(timeout=HANG_BOUND_S)
    assert child.returncode == 0, err
    assert out.startswith("-1 -1 False '") and out.strip() != "-1 -1 False ''", out


def test_other_databases_are_independent(client, lease, holder):
    other = zl.Lease(client, "OTHER")
    try:
        assert other.acquire() == 1
    finally:
        other.release()


def test_bad_arguments(client):
    with pytest.raises(TypeError):
        zl.Lease("not a client", "SIM")
    with pytest.raises(TypeError):
        zl.Lease(client)
