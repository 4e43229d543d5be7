"""Acceptance tests of a module's command set, run over every link it offers.

Each test gets ``link`` (see conftest.py), an open ctrl_lumo.Link, and
sends commands as an engineer would type them into the console.
"""

from __future__ import annotations

import pytest

import ctrl_lumo
from ctrl_lumo import Outcome


def test_module_reports_itself_when_the_link_opens(link: ctrl_lumo.Link) -> None:
    info = link.info
    if info.kind == ctrl_lumo.LinkKind.SERIAL:
        assert info.prompt_seen, "the module's console prompt did not come"
    else:
        assert info.module_id is not None and info.style is not None


def test_device_information_query(link: ctrl_lumo.Link) -> None:
    answer = link.send("zh")
    assert answer.outcome == Outcome.ANSWERED, answer.status
    assert answer.caption == "Device Information"
    assert answer.data.startswith("Device ID ")
    assert "Ver " in answer.data


def test_command_is_acknowledged(link: ctrl_lumo.Link) -> None:
    answer = link.send("za 1")
    assert answer.outcome == Outcome.ANSWERED
    # the serial console shows the line from the word "command" on, TCP and UDP the whole line
    assert answer.status.startswith("Ack : ")
    assert answer.status.rstrip().endswith("command za 1 done")
    assert answer.data is None
    assert answer.rtt is not None and answer.rtt < 10


def test_each_answer_is_to_the_command_just_sent(link: ctrl_lumo.Link) -> None:
    assert "za 2" in link.send("za 2").status


def test_overlong_command_is_refused_before_it_is_sent(link: ctrl_lumo.Link) -> None:
    with pytest.raises(ctrl_lumo.ArgumentError, match="Command too long"):
        link.send("z" * 2100)
