"""The services launcher (tools/zl_services.py): its Python API, its command
line and --serve, and above all that it always stops what it started —
after a failure, a signal, or the death of the process that started it."""

import os
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

import zl_services
from zl_services import Services, ServicesError

LAUNCHER = str(zl_services.REPO_ROOT / "tools" / "zl_services.py")


def eventually(done, timeout=30.0):
    """Polls `done` in 20 ms slices; gives its last result."""
    end = time.monotonic() + timeout
    while not done():
        if time.monotonic() > end:
            return done()
        time.sleep(0.02)
    return True


def processes_mentioning(text):
    """Live processes (not zombies) whose command line mentions `text`: every
    service names its directory on its command line."""
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit() or int(entry.name) == os.getpid():
            continue
        try:
            cmdline = (entry / "cmdline").read_bytes().decode(errors="replace")
            state = (entry / "stat").read_text().rsplit(")", 1)[1].split()[0]
        except (OSError, IndexError):
            continue
        if text in cmdline and state != "Z":
            found.append(int(entry.name))
    return found


def our_directories():
    """Service directories this process started and has not removed; each
    holds its services' data, so none may outlive a Services object."""
    mine = str(os.getpid())
    return [d for d in Path(zl_services.tempfile.gettempdir()).glob(zl_services.DIR_PREFIX + "*")
            if (d / "owner.pid").exists() and (d / "owner.pid").read_text().strip() == mine]


def all_gone(directory):
    return not processes_mentioning(directory) and not os.path.exists(directory)


def test_fixture_services_answer(services):
    assert zl_services.giop_locate(services.naming_port, "NameService")
    assert zl_services.giop_locate(services.event_port, "omniEvents")
    assert not zl_services.giop_locate(services.naming_port, "NoSuchObject")
    assert services.orb_options == (
        "-ORBInitRef NameService=corbaloc::127.0.0.1:%d/NameService" % services.naming_port)
    assert services.event_factory == "corbaloc::127.0.0.1:%d/omniEvents" % services.event_port
    assert services.databases == ["SIM"]
    assert os.path.exists(os.path.join(services.ior_dir, "SIM.txt"))
    assert len(processes_mentioning(services.directory)) == 3
    assert services.control("no-such-command").startswith("ERR ")
    pid = services.sim_pid
    assert services.control("stop") == "OK"
    assert eventually(lambda: pid not in processes_mentioning(services.directory))


@pytest.mark.services(databases=["ALPHA", "BETA"], legacy=True)
def test_fixture_marker_options(services):
    assert services.databases == ["ALPHA", "BETA"]
    assert sorted(os.listdir(services.ior_dir)) == ["ALPHA.txt", "BETA.txt"]


def test_failure_inside_stops_everything():
    directory = None
    with pytest.raises(ZeroDivisionError):
        with Services() as s:
            directory = s.directory
            assert len(processes_mentioning(directory)) == 3
            1 / 0
    assert all_gone(directory)


def test_fault_helpers():
    with Services() as s:
        first = s.sim_pid
        s.kill_sim()
        assert s.sim_pid == 0 and s.environment()["ZL_CONTROL_PORT"] == "0"
        s.start_sim()
        assert s.sim_pid not in (0, first)
        with pytest.raises(ServicesError):
            s.start_sim()  # already running
        s.pause_sim()
        with pytest.raises(TimeoutError):
            s.control("no-such-command", timeout=0.3)
        s.resume_sim()
        assert s.control("no-such-command").startswith("ERR ")
        second = s.sim_pid
        s.restart_sim()
        assert s.sim_pid not in (0, second)
        assert s.stop_sim() == 0  # a clean end on SIGTERM


def write_script(path, text):
    path.write_text("#!/bin/sh\n" + text)
    path.chmod(0o755)
    return str(path)


def test_server_that_fails_to_start(tmp_path):
    sim = write_script(tmp_path / "sim", "echo 'plant.tags:3: bad line' >&2; exit 2\n")
    with pytest.raises(ServicesError) as e:
        Services(sim=sim).start()
    assert "exited with status 2" in str(e.value) and "plant.tags:3: bad line" in str(e.value)
    assert not our_directories()


def test_server_that_never_gets_ready(tmp_path):
    sim = write_script(tmp_path / "sim", "exec sleep 60\n")
    s = Services(sim=sim, start_timeout=0.5)
    with pytest.raises(ServicesError, match="not ready"):
        s.start()
    assert not our_directories()


def test_command_gets_variables_and_gives_its_status(tmp_path):
    out = tmp_path / "env.txt"
    status = subprocess.call(
        [LAUNCHER, "--db", "ALPHA", "--", "sh", "-c", 'env > "$0"; exit 3', str(out)])
    assert status == 3
    env = dict(l.split("=", 1) for l in out.read_text().splitlines() if l.startswith("ZL_"))
    assert env["ZL_DATABASES"] == "ALPHA"
    assert env["ZL_ORB_OPTIONS"].endswith(":%s/NameService" % env["ZL_NAMING_PORT"])
    assert int(env["ZL_CONTROL_PORT"]) > 0 and env["ZL_HOST"]
    assert all_gone(env["ZL_SERVICES_DIR"])


def test_command_mode_stops_on_sigterm(tmp_path):
    out = tmp_path / "dir.txt"
    launcher = subprocess.Popen(
        [LAUNCHER, "--", "sh", "-c", 'echo "$ZL_SERVICES_DIR" > "$0"; exec sleep 60', str(out)])
    assert eventually(lambda: out.exists() and out.read_text().strip())
    directory = out.read_text().strip()
    launcher.send_signal(signal.SIGTERM)
    assert launcher.wait(30) == 128 + signal.SIGTERM
    assert all_gone(directory)
    assert not processes_mentioning(str(out))  # the command was stopped too


def test_command_mode_stops_when_its_parent_dies(tmp_path):
    out = tmp_path / "dir.txt"
    # A shell starts the launcher and is then killed outright (the command
    # after the launcher keeps the shell from replacing itself with it).
    parent = subprocess.Popen(
        ["sh", "-c", '"$0" -- sh -c \'echo "$ZL_SERVICES_DIR" > "$0"; exec sleep 60\' "$1"; exit',
         LAUNCHER, str(out)])
    assert eventually(lambda: out.exists() and out.read_text().strip())
    directory = out.read_text().strip()
    parent.kill()
    parent.wait()
    assert eventually(lambda: all_gone(directory))


def test_serve_protocol_and_stop_on_closed_input():
    launcher = subprocess.Popen([LAUNCHER, "--serve"], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, text=True)

    def answer():
        variables = {}
        for line in launcher.stdout:
            line = line.rstrip("\n")
            if not line.startswith("ZL_"):
                return variables, line
            name, value = line.split("=", 1)
            variables[name] = value
        return variables, ""

    variables, last = answer()
    assert last == "READY"
    directory = variables["ZL_SERVICES_DIR"]
    assert zl_services.control(int(variables["ZL_CONTROL_PORT"]), "x").startswith("ERR ")
    for command, want in [("kill-sim", "OK"), ("bogus", "ERR unknown command: bogus"),
                          ("start-sim", "OK"), ("start-sim", "ERR ")]:
        launcher.stdin.write(command + "\n")
        launcher.stdin.flush()
        variables, last = answer()
        assert last.startswith(want), command
    assert variables["ZL_SIM_PID"] != "0"
    launcher.stdin.close()
    assert launcher.wait(30) == 0
    assert all_gone(directory)


def test_killed_user_of_the_python_api_takes_its_services_along(tmp_path):
    out = tmp_path / "dir.txt"
    code = ("import sys, time\n"
            "sys.path.insert(0, %r)\n"
            "import zl_services\n"
            "s = zl_services.Services().start()\n"
            "open(sys.argv[1], 'w').write(s.directory)\n"
            "time.sleep(60)\n") % str(zl_services.REPO_ROOT / "tools")
    user = subprocess.Popen([sys.executable, "-c", code, str(out)])
    assert eventually(lambda: out.exists() and out.read_text())
    directory = out.read_text()
    user.kill()
    user.wait()
    assert eventually(lambda: not processes_mentioning(directory))
    # Its directory is left; the next start removes it.
    with Services():
        assert not os.path.exists(directory)
