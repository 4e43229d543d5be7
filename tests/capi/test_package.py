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


def test_version_is_the_trees():
    pyproject = (Path(__file__).parents[2] / "capi/python/pyproject.toml").read_text()
    assert re.search(r'^version = "(.*)"', pyproject, re.M).group(1) == ctrl_lumo.version()


def test_errors_carry_the_reason():
    with pytest.raises(ctrl_lumo.ConnectError, match=r"^TCP 127.0.45.9:20036: refused") as refused:
        ctrl_lumo.Link.tcp("127.0.45.9")
    assert isinstance(refused.value, ConnectionError) and refused.value.code == 5
    for bad in (lambda: ctrl_lumo.Link.tcp("module.local"), lambda: ctrl_lumo.Link.serial(0, 9600),
                lambda: ctrl_lumo.Link.serial("/dev/x", True), lambda: ctrl_lumo.Link().send("z\0h"),
                lambda: ctrl_lumo.Link().send(b"zh"), lambda: ctrl_lumo.Link().check_ack(2**40)):
        with pytest.raises(ValueError):
            bad()
    with pytest.raises(ctrl_lumo.NotOpenError, match="no link is open"):
        ctrl_lumo.Link().send("zh")


def test_raw_frames_and_the_life_of_a_link(sim):
    with ctrl_lumo.Link.tcp(sim) as link:
        assert link.info.style == 3
        link.send_frame(bytes.fromhex("55AA1FE001FE1700"))
        assert link.check_ack(5000) == 1
        with pytest.raises(ctrl_lumo.NoAnswerError, match="no acknowledgement within 20 ms"):
            link.check_ack(20)
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
