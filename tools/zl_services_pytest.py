"""pytest fixtures for the test services (omniNames, omniEvents, zelvik-sim).

Use from a conftest.py, with tools/ on sys.path:

    from zl_services_pytest import services, pytest_configure  # noqa: F401

or as a plugin: `python3 -m pytest -p zl_services_pytest` with PYTHONPATH=tools.

`services` is function-scoped: every test gets its own services on free
loopback ports, stopped after the test whatever its outcome. Options come
from the marker `services`; tag file names are relative to the repository:

    @pytest.mark.services(tags=["examples/plant.tags"], databases=["SIM"],
                          legacy=False)
    def test_plant(services):
        client = connect(services.orb_options)
        assert services.control("stop") == "OK"

The server binary is $ZL_SIM, else build/sim/zelvik-sim in the repository.
"""

import pytest

from zl_services import REPO_ROOT, Services


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "services(tags=[], databases=[], legacy=False, sim_args=[]): "
                   "options of the `services` fixture")


@pytest.fixture
def services(request):
    """A started zl_services.Services; stopped after the test."""
    marker = request.node.get_closest_marker("services")
    options = dict(marker.kwargs) if marker else {}
    options["tags"] = [str(REPO_ROOT / t) for t in options.get("tags", ())]
    with Services(**options) as s:
        yield s
