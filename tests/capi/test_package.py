"""The ctrl_lumo package itself: its errors, its arguments and the life of a
Link, against the simulator (LUMO_MODULE_SIM) on 127.0.45.x."""

import os
import re
import subprocess
from pathlib import Path

import pytest

import ctrl_lumo


@pytest.fixture
def sim():
    process = subprocess.Popen([os.environ["LUMO_MODULE_SIM"], "--address", "127.0.45.1", "--tcp", "--style", "3"],
                               stdout=subprocess.PIPE, text=True)
    assert process.stdout.readline().strip() == "ready"
    yield "127.0.45.1"
    process.terminate()
    process.wait(timeout=10)


@pytest.fixture
def controller():
    """Four modules on 127.0.45.16-19 (ids 1 to 4), nothing on .20."""
    process = subprocess.Popen([os.environ["LUMO_MODULE_SIM"], "--address", "127.0.45.16-19", "--tcp",
                                "--id-step", "1"], stdout=subprocess.PIPE, text=True)
    assert process.stdout.readline().strip() == "ready"
    yield
    process.terminate()
    process.wait(timeout=10)


def test_version_is_the_trees():
    pyproject = (Path(__file__).parents[2] / "capi/python/pyproject.toml").read_text()
    assert re.search(r'^version = "(.*)"', pyproject, re.M).group(1) == ctrl_lumo.version()
    assert ctrl_lumo.__version__ == ctrl_lumo.version()


def test_errors_carry_the_reason():
    with pytest.raises(ctrl_lumo.ConnectError, match=r"^TCP 127.0.45.9:20036: refused") as refused:
        ctrl_lumo.Link.tcp("127.0.45.9")
    assert isinstance(refused.value, ConnectionError) and refused.value.code == 5
    for bad in (lambda: ctrl_lumo.Link.tcp("module.local"), lambda: ctrl_lumo.Link.serial(0, 9600),
                lambda: ctrl_lumo.Link.serial("/dev/x", True), lambda: ctrl_lumo.Link().send("z\0h"),
                lambda: ctrl_lumo.Link().send(b"zh"), lambda: ctrl_lumo.Link().check_ack(timeout=61),
                lambda: ctrl_lumo.Link.tcp("127.0.45.9", timeout=0), lambda: ctrl_lumo.Link.tcp("127.0.45.9", timeout="1"),
                lambda: ctrl_lumo.scan("127.0.45.0/8"), lambda: ctrl_lumo.Fleet([]), lambda: ctrl_lumo.Fleet("x y")):
        with pytest.raises(ValueError):
            bad()
    with pytest.raises(ctrl_lumo.NotOpenError, match="no link is open"):
        ctrl_lumo.Link().send("zh")


def test_raw_frames_and_the_life_of_a_link(sim):
    with ctrl_lumo.Link.tcp(sim, timeout=2.5, pauses=True) as link:
        assert link.info.style == 3
        link.send_frame(bytes.fromhex("55AA1FE001FE1700"))
        assert link.check_ack(timeout=5.0) == 1
        with pytest.raises(ctrl_lumo.NoAnswerError, match="no acknowledgement within 20 ms"):
            link.check_ack(timeout=0.02)
        link.send_frame(bytes.fromhex("55AA1FE001FE1700"))
        with pytest.deprecated_call():  # what earlier versions took: whole milliseconds
            assert link.check_ack(5000) == 1
        assert link.device_query() == b"\x12\x34"
        answer = link.send("za 1")  # the console reads no answer from a module of style 3
        assert answer.outcome == ctrl_lumo.Outcome.NOT_READ and answer.status is None and answer.rtt is None
        link.close()
        with pytest.raises(ctrl_lumo.NotOpenError):
            link.info
        link.open_tcp(sim)  # the same Link opens again
    with pytest.raises(ctrl_lumo.NotOpenError, match="released"):
        link.send("za 1")
    ctrl_lumo.clear_socket(sim)


def test_scan_and_fleet_over_a_controller(controller):
    modules = ctrl_lumo.scan(["127.0.45.16-20"], timeout=0.5, info=True)
    assert [(m.address, m.id, m.style, m.mode) for m in modules] == [
        (f"127.0.45.{16 + k}", 1 + k, 17, "z") for k in range(4)]
    assert modules[2].info == "Device ID 3 Style 17 Ver 1.00"
    assert all(isinstance(m.connect_time, float) and 0 <= m.connect_time < 0.5 for m in modules)

    with ctrl_lumo.Fleet(["127.0.45.20", "127.0.45.16-19"], jobs=3) as fleet:
        results = fleet.send("zh")
    assert [r.target for r in results] == [f"127.0.45.{n}" for n in (20, 16, 17, 18, 19)]
    assert not results[0].ok and results[0].answer is None
    assert results[0].error.startswith("TCP 127.0.45.20:20036: refused")
    assert [r.answer.data for r in results[1:]] == [f"Device ID {k} Style 17 Ver 1.00" for k in range(1, 5)]
    assert all(r.ok and r.error is None for r in results[1:])
