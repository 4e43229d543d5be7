"""pytest fixtures for module tests: a ``link`` to the module under test, once
per kind of link it offers.

Point them at a real module::

    pytest examples --module-address 10.0.0.5 --module-serial /dev/ttyUSB0 --module-baud 115200

or let them start the simulator on a loopback address (TCP, UDP and a
pseudo-terminal)::

    pytest examples --module-sim build/release/tools/module_sim/lumo-module-sim

``--link tcp,udp,serial`` picks the kinds (default: every kind that can be
reached). Each link is opened once for the whole run and closed at its end.
"""

from __future__ import annotations

import subprocess
from dataclasses import dataclass
from pathlib import Path
from typing import Iterator, Optional

import pytest

import ctrl_lumo

KINDS = ("tcp", "udp", "serial")


@dataclass
class Module:
    address: Optional[str]  # for TCP and UDP
    serial: Optional[str]  # port number or device path
    baud: int


def pytest_addoption(parser: pytest.Parser) -> None:
    group = parser.getgroup("module", "the module under test")
    group.addoption("--module-address", help="the module's IPv4 address (TCP and UDP)")
    group.addoption("--module-serial", help="the module's serial port: a number or a device path")
    group.addoption("--module-baud", type=int, default=115200, help="serial baud rate (default 115200)")
    group.addoption("--module-sim", metavar="PATH", help="start lumo-module-sim and test it instead")
    group.addoption("--link", default=",".join(KINDS), help="kinds of link to test (default: tcp,udp,serial)")


def pytest_generate_tests(metafunc: pytest.Metafunc) -> None:
    if "link" in metafunc.fixturenames:
        kinds = [k for k in metafunc.config.getoption("--link").split(",") if k]
        unknown = set(kinds) - set(KINDS)
        if unknown:
            raise pytest.UsageError(f"--link: unknown kinds {sorted(unknown)}")
        metafunc.parametrize("link", kinds, indirect=True, scope="session")


@pytest.fixture(scope="session")
def module(request: pytest.FixtureRequest, tmp_path_factory: pytest.TempPathFactory) -> Iterator[Module]:
    config = request.config
    sim = config.getoption("--module-sim")
    if not sim:
        yield Module(config.getoption("--module-address"), config.getoption("--module-serial"),
                     config.getoption("--module-baud"))
        return
    address = config.getoption("--module-address") or "127.0.0.1"
    device = tmp_path_factory.mktemp("module") / "serial"
    process = subprocess.Popen([sim, "--address", address, "--tcp", "--udp", "--serial-link", str(device)],
                               stdout=subprocess.PIPE, text=True)
    try:
        for line in process.stdout:  # "ready" once every side listens
            if line.strip() == "ready":
                break
        else:
            pytest.fail(f"{sim} did not start (status {process.wait()})")
        yield Module(address, str(device), config.getoption("--module-baud"))
    finally:
        process.terminate()
        process.wait(timeout=10)


@pytest.fixture(scope="session")
def link(request: pytest.FixtureRequest, module: Module) -> Iterator[ctrl_lumo.Link]:
    kind = request.param
    if kind == "serial":
        if not module.serial:
            pytest.skip("no serial port given (--module-serial)")
        opened = ctrl_lumo.Link.serial(module.serial, module.baud)
    else:
        if not module.address:
            pytest.skip("no module address given (--module-address)")
        opened = ctrl_lumo.Link.tcp(module.address) if kind == "tcp" else ctrl_lumo.Link.udp(module.address)
    with opened:
        yield opened
