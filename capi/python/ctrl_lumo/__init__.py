"""Talk to a module of a video-wall controller from Python.

A :class:`Link` reaches one module over TCP, UDP or a serial port and sends
commands exactly as the Cmdora console does (the same frames, waits and
reading of the answer), through the C library ``libctrl_lumo_c.so.1``::

    import ctrl_lumo

    with ctrl_lumo.Link.tcp("10.0.0.5") as link:
        answer = link.send("zh")
        print(answer.status, answer.data, answer.rtt)

Every call blocks until the module has answered or the console's wait has
run out. A link puts the same bytes on the wire as the console but ends each
of its connect and close waits as soon as what it waits for has come;
``pauses=True`` keeps the console's fixed pauses for a module that needs
them. Times are float seconds (``timeout=``), as in Python's socket module.
Failures raise :class:`LumoError` (or one of its subclasses) whose
``reason`` says what went wrong, e.g. "TCP 10.0.0.5:20036: refused (...)".
One thread uses a link at a time; different links work in parallel.

A whole controller at once: :func:`scan` finds the modules among targets
(addresses, ranges "A-B", blocks "A/N", host names, "@FILE"), and a
:class:`Fleet` sends a command to every target, each on a link of its own::

    for module in ctrl_lumo.scan("10.0.0.0/24", timeout=0.5):
        print(module.address, module.id, module.style)
    for result in ctrl_lumo.Fleet("10.0.0.20-29", jobs=64).send("zh"):
        print(result.target, result.answer.data if result.ok else result.error)
"""

from __future__ import annotations

import ctypes
import enum
import math
import warnings
from dataclasses import dataclass
from importlib import metadata
from typing import Iterable, List, Optional, Union

from . import _native

__all__ = [
    "Answer",
    "ArgumentError",
    "BusyError",
    "ConnectError",
    "Fleet",
    "FleetResult",
    "Link",
    "LinkInfo",
    "LinkKind",
    "LinkLostError",
    "LumoError",
    "Module",
    "NoAnswerError",
    "NotAckedError",
    "NotOpenError",
    "Outcome",
    "SystemFailure",
    "WrongLinkError",
    "clear_socket",
    "scan",
    "version",
]

_lib = _native.lib


class Outcome(enum.IntEnum):
    """What became of a command sent with :meth:`Link.send`."""

    NONE = 0  #: nothing was sent
    ANSWERED = 1  #: an acknowledgement line and/or query data came
    ACKED_SILENTLY = 2  #: a normal command answered by 00 FF 5A A5 01 alone
    TIMED_OUT = 3  #: no usable answer; ``status`` holds the time-out message
    NOT_READ = 4  #: sent; this link reads no answer (X frames, styles other than 17)
    REFUSED_TOO_LONG = 5  #: longer than the link carries; nothing was sent


class LinkKind(enum.IntEnum):
    """The kind of link that is open."""

    NONE = 0
    SERIAL = 1
    TCP = 2
    UDP = 3


class LumoError(Exception):
    """A call failed. ``code`` is the C library's result code, ``reason`` its text."""

    def __init__(self, code: int, reason: str) -> None:
        super().__init__(reason)
        self.code = code
        self.reason = reason


class ArgumentError(LumoError, ValueError):
    """An argument was refused (range, length, not an address, a command too long for the link)."""


class BusyError(LumoError):
    """Another thread is in a call on the same link."""


class NotOpenError(LumoError):
    """The call needs an open link."""


class WrongLinkError(LumoError):
    """The call does not apply to the kind of link that is open."""


class ConnectError(LumoError, ConnectionError):
    """The link did not open; ``reason`` says why ("refused", "no such device", ...)."""


class LinkLostError(LumoError, ConnectionError):
    """The module closed or reset the TCP link."""


class NoAnswerError(LumoError, TimeoutError):
    """No answer came within the wait."""


class NotAckedError(LumoError):
    """An answer came, but not a positive acknowledgement."""


class SystemFailure(LumoError):
    """The system refused (memory, a socket, a port in use)."""


_ERRORS = {
    1: ArgumentError,
    2: BusyError,
    3: NotOpenError,
    4: WrongLinkError,
    5: ConnectError,
    6: LinkLostError,
    7: NoAnswerError,
    8: NotAckedError,
    9: SystemFailure,
}


@dataclass(frozen=True)
class Answer:
    """One command and what the module answered."""

    command: str
    outcome: Outcome
    #: The console's status line, e.g. "Ack : OK: command za 1 done\\r"; None when not written.
    status: Optional[str]
    #: The query data (the console's answer box); None when the module returned none.
    data: Optional[str]
    #: The data's caption ("Device Information", "Signal Type", "Source position"), or None.
    caption: Optional[str]
    is_query: bool
    #: The answer bytes the reading took.
    answer: bytes
    #: The bytes that went out (text line, datagram or frame).
    sent: bytes
    #: Seconds from the send to the answer taken (millisecond steps); None when none was read.
    rtt: Optional[float]
    #: The console would have warned of a command above 100 characters.
    warned_long: bool


@dataclass(frozen=True)
class LinkInfo:
    """What the open link is and what the module said when it opened."""

    kind: LinkKind
    name: str  #: "TCP 10.0.0.5:20036", "UDP 10.0.0.5:20037", "COM3" or the device path
    x_mode: bool
    module_id: Optional[int]
    style: Optional[int]
    mode_char: Optional[str]  #: the reply-mode character of a style-17 module ('z', ...)
    prompt_seen: bool  #: serial: the module's prompt came during the connect


def _text(value: Optional[bytes]) -> str:
    return value.decode("utf-8", "replace") if value else ""


def _encode(value: str, what: str) -> bytes:
    if not isinstance(value, str):
        raise ArgumentError(1, f"{what} must be str, not {type(value).__name__}")
    if "\0" in value:
        raise ArgumentError(1, f"{what} holds a NUL character")
    try:
        return value.encode("utf-8")
    except UnicodeEncodeError as error:
        raise ArgumentError(1, f"{what} cannot be sent: {error}") from None


def version() -> str:
    """The version of the C library in use, "major.minor.patch"."""
    return _text(_lib.ctrl_lumo_version())


def _package_version() -> str:
    try:
        return metadata.version("ctrl-lumo")
    except metadata.PackageNotFoundError:  # used from the source tree: the library's, the same tree's
        return version()


#: The version of this package, "major.minor.patch".
__version__ = _package_version()


def _ms(seconds: float, what: str) -> int:
    """Float seconds (0 < seconds <= 60) as whole milliseconds, rounded up."""
    if isinstance(seconds, bool) or not isinstance(seconds, (int, float)):
        raise ArgumentError(1, f"{what} must be seconds as a number, not {seconds!r}")
    if not 0 < seconds <= 60:
        raise ArgumentError(1, f"{what} {seconds} is not above 0 and at most 60 seconds")
    return math.ceil(seconds * 1000)


def _answer(command: str, result: _native.Result) -> Answer:
    return Answer(
        command=command,
        outcome=Outcome(result.outcome),
        status=_text(result.status) if result.has_status else None,
        data=_text(result.data) if result.has_data else None,
        caption=_text(result.caption) if result.has_data else None,
        is_query=bool(result.is_query),
        answer=ctypes.string_at(result.answer, result.answer_len),
        sent=ctypes.string_at(result.sent, result.sent_len),
        rtt=result.round_trip_ms / 1000 if result.round_trip_ms >= 0 else None,
        warned_long=bool(result.warned_long),
    )


class Link:
    """One link to one module; opened by :meth:`tcp`, :meth:`udp` or :meth:`serial`.

    Use it in a ``with`` block: leaving the block closes the link as the
    console's Disconnect does and frees it. Every method blocks the calling
    thread for the waits it names.
    """

    def __init__(self, pauses: bool = False) -> None:
        """A link with nothing open (open one with open_tcp, open_udp or open_serial).

        ``pauses=True`` keeps the console's fixed pauses in the connect and
        close sequences (the mode query's 500-ms passes, 1.2 s to close a TCP
        link, about 1.5 s for a serial prompt); by default each wait ends as
        soon as what it waits for has come.
        """
        self._handle: Optional[int] = _lib.ctrl_lumo_create()
        if not self._handle:
            raise MemoryError("ctrl_lumo: no memory for a link")
        self._result = _native.Result()
        if pauses:
            self._check(_lib.ctrl_lumo_set_pauses(self._handle, 1))

    # --- opening -----------------------------------------------------------

    @classmethod
    def tcp(cls, address: str, x_mode: bool = False, timeout: Optional[float] = None,
            pauses: bool = False) -> Link:
        """A TCP link to the module at ``address`` (dotted IPv4, port 20036).

        ``x_mode`` expects the 17-byte X greeting and sends X frames.
        ``timeout`` bounds the connect in seconds (default 20); the greeting
        then takes up to 10 s more. Raises ConnectError.
        """
        return cls._opened(lambda link: link.open_tcp(address, x_mode, timeout), pauses)

    @classmethod
    def udp(cls, address: str, timeout: Optional[float] = None, pauses: bool = False) -> Link:
        """A UDP text link to ``address``:20037 (after the console's TCP probe, bounded by ``timeout``)."""
        return cls._opened(lambda link: link.open_udp(address, timeout), pauses)

    @classmethod
    def serial(cls, port: Union[int, str], baud: int, pauses: bool = False) -> Link:
        """A serial link: ``port`` is a number (3, "COM3") or a device path.

        Waits for the module's prompt as the console's connect does, until it
        comes (about 1.5 s with ``pauses=True``), 8 s when nothing answers.
        """
        return cls._opened(lambda link: link.open_serial(port, baud), pauses)

    @classmethod
    def _opened(cls, open_it, pauses: bool) -> Link:
        link = cls(pauses)
        try:
            open_it(link)
        except BaseException:
            link._release()
            raise
        return link

    def open_tcp(self, address: str, x_mode: bool = False, timeout: Optional[float] = None) -> None:
        """Opens a TCP link (see :meth:`tcp`), closing an open one first."""
        self._set_timeout(timeout)
        self._check(_lib.ctrl_lumo_open_tcp(self._live(), _encode(address, "address"), 1 if x_mode else 0))

    def open_udp(self, address: str, timeout: Optional[float] = None) -> None:
        """Opens a UDP link (see :meth:`udp`), closing an open one first."""
        self._set_timeout(timeout)
        self._check(_lib.ctrl_lumo_open_udp(self._live(), _encode(address, "address")))

    def _set_timeout(self, timeout: Optional[float]) -> None:
        ms = 0 if timeout is None else _ms(timeout, "timeout")
        self._check(_lib.ctrl_lumo_set_connect_timeout(self._live(), ms))

    def open_serial(self, port: Union[int, str], baud: int) -> None:
        """Opens a serial link (see :meth:`serial`), closing an open one first."""
        if isinstance(port, bool) or not isinstance(port, (int, str)):
            raise ArgumentError(1, f"port must be a number or a device path, not {port!r}")
        if isinstance(baud, bool) or not isinstance(baud, int):
            raise ArgumentError(1, f"baud must be an int, not {baud!r}")
        if not -(2**31) <= baud < 2**31:
            raise ArgumentError(1, f"baud {baud} is out of range")
        self._check(_lib.ctrl_lumo_open_serial(self._live(), _encode(str(port), "port"), baud))

    # --- commands ----------------------------------------------------------

    def send(self, command: str) -> Answer:
        """Sends ``command`` as the console's Send does and returns the answer.

        Waits as the console does: up to 10 s over TCP, 7.5 s on a serial
        port, about 40 s over UDP. A module that does not answer gives
        ``Outcome.TIMED_OUT`` (no exception); a command longer than the link
        carries raises ArgumentError.
        """
        result = self._result
        code = _lib.ctrl_lumo_send_command(self._live(), _encode(command, "command"), ctypes.byref(result))
        if code:
            self._raise(code)
        return _answer(command, result)

    def send_frame(self, frame: bytes) -> None:
        """Sends raw bytes (1 to 30725) on a TCP or serial link; see :meth:`check_ack`."""
        frame = bytes(frame)
        self._check(_lib.ctrl_lumo_send_frame(self._live(), frame, len(frame)))

    def check_ack(self, limit_ms: Optional[int] = None, *, timeout: Optional[float] = None) -> int:
        """Waits up to ``timeout`` seconds (default 10) for the acknowledgement 00 FF 5A A5 S of a raw frame.

        Returns S (nonzero); raises NoAnswerError when nothing came and
        NotAckedError for status 0 or a malformed answer. ``limit_ms``, the
        wait in whole milliseconds, is what earlier versions took (also as
        the first argument); it still works, with a DeprecationWarning.
        """
        if limit_ms is not None and timeout is not None:
            raise ArgumentError(1, "give timeout (seconds) or limit_ms (milliseconds), not both")
        if limit_ms is not None:
            warnings.warn("check_ack(limit_ms) is deprecated: give timeout= in seconds", DeprecationWarning,
                          stacklevel=2)
            ms = _int(limit_ms, "limit_ms")
        else:
            ms = _ms(10.0 if timeout is None else timeout, "timeout")
        status = ctypes.c_int(0)
        self._check(_lib.ctrl_lumo_check_ack(self._live(), ms, ctypes.byref(status)))
        return status.value

    def device_query(self, kind: int = 0) -> bytes:
        """The two data bytes of the module's answer to the device query (TCP or serial)."""
        out = (ctypes.c_ubyte * 2)()
        self._check(_lib.ctrl_lumo_device_query(self._live(), _int(kind, "kind"), out))
        return bytes(out)

    def clear_socket(self, address: str) -> None:
        """Broadcasts the clear-socket request for the module at ``address``; needs no open link."""
        self._check(_lib.ctrl_lumo_clear_socket(self._live(), _encode(address, "address")))

    # --- state -------------------------------------------------------------

    @property
    def info(self) -> LinkInfo:
        """What the open link is (raises NotOpenError without one)."""
        info = _native.Info()
        self._check(_lib.ctrl_lumo_get_info(self._live(), ctypes.byref(info)))
        return LinkInfo(
            kind=LinkKind(info.kind),
            name=_text(info.name),
            x_mode=bool(info.x_mode),
            module_id=info.module_id if info.module_id >= 0 else None,
            style=info.style if info.style >= 0 else None,
            mode_char=chr(info.mode_char) if info.mode_char else None,
            prompt_seen=bool(info.prompt_seen),
        )

    def close(self) -> None:
        """Closes the open link as the console's Disconnect does; nothing when none is open."""
        if self._handle:
            self._check(_lib.ctrl_lumo_close(self._handle))

    def __enter__(self) -> Link:
        return self

    def __exit__(self, *exc_info: object) -> None:
        try:
            self.close()
        finally:
            self._release()

    def __del__(self) -> None:
        self._release()

    def __repr__(self) -> str:
        if not self._handle:
            return "<ctrl_lumo.Link released>"
        try:
            return f"<ctrl_lumo.Link {self.info.name}>"
        except LumoError:
            return "<ctrl_lumo.Link not open>"

    # --- inside ------------------------------------------------------------

    def _release(self, _destroy=_lib.ctrl_lumo_destroy) -> None:
        # bound at definition: __del__ may run while the interpreter shuts down
        handle, self._handle = getattr(self, "_handle", None), None
        if handle:
            _destroy(handle)

    def _live(self) -> int:
        if not self._handle:
            raise NotOpenError(3, "the link was released (its with block has ended)")
        return self._handle

    def _check(self, code: int) -> None:
        if code:
            self._raise(code)

    def _raise(self, code: int) -> None:
        reason = _text(_lib.ctrl_lumo_last_error(self._handle))
        raise _ERRORS.get(code, LumoError)(code, reason or f"error {code}")


def _int(value: int, what: str) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise ArgumentError(1, f"{what} must be an int, not {value!r}")
    if not -(2**31) <= value < 2**31:
        raise ArgumentError(1, f"{what} {value} is out of range")
    return value


def clear_socket(address: str) -> None:
    """Asks the module at ``address`` to clear its socket (UDP broadcast from port 60102)."""
    with Link() as link:
        link.clear_socket(address)


@dataclass(frozen=True)
class Module:
    """A module that :func:`scan` found."""

    address: str
    id: int
    style: int
    #: The reply-mode character of a style-17 module ('z', ...); None for others.
    mode: Optional[str]
    #: The device-information line ("zh") when asked for with ``info=True``; else None.
    info: Optional[str]
    #: Seconds the TCP connect took.
    connect_time: float


@dataclass(frozen=True)
class FleetResult:
    """What one target of :meth:`Fleet.send` did."""

    target: str  #: the dotted address
    #: The answer (its ``outcome`` may be ``TIMED_OUT``); None when the link did not open.
    answer: Optional[Answer]
    #: Why the link did not open or was lost, e.g. "TCP 10.0.0.5:20036: refused (...)"; None when it did not fail.
    error: Optional[str]

    @property
    def ok(self) -> bool:
        """The command went out and did not time out."""
        return self.error is None and self.answer is not None and self.answer.outcome in (
            Outcome.ANSWERED, Outcome.ACKED_SILENTLY, Outcome.NOT_READ)


def _create_fleet(targets: Union[str, Iterable[str]], options: _native.FleetOptions) -> int:
    """A fleet handle over one target text or several; ArgumentError says why not."""
    texts = [targets] if isinstance(targets, str) else list(targets)
    if not texts:
        raise ArgumentError(1, "no targets given")
    encoded = [_encode(text, "target") for text in texts]
    array = (ctypes.c_char_p * len(encoded))(*encoded)
    handle = _lib.ctrl_lumo_fleet_create(array, len(encoded), ctypes.byref(options))
    if not handle:
        raise ArgumentError(1, _text(_lib.ctrl_lumo_last_error(None)) or "the targets were refused")
    return handle


class Fleet:
    """Many targets at once: each target gets a link of its own, at most ``jobs`` at once.

    ``targets`` is one target text or several: an address, a range "A-B", a
    block "A/N", a host name or "@FILE" (one target a line). ``udp`` chooses
    UDP text links, ``x_mode`` X frames; ``timeout`` bounds each TCP connect
    in seconds (default 20); ``pauses`` keeps the console's pauses. One
    thread uses a fleet at a time; :meth:`stop` may come from any thread.
    """

    def __init__(self, targets: Union[str, Iterable[str]], jobs: int = 64, *, udp: bool = False,
                 x_mode: bool = False, timeout: Optional[float] = None, pauses: bool = False) -> None:
        self._handle: Optional[int] = None
        self._options = _native.FleetOptions(
            jobs=_int(jobs, "jobs"), udp=1 if udp else 0, x_mode=1 if x_mode else 0,
            connect_timeout_ms=0 if timeout is None else _ms(timeout, "timeout"), info=0,
            pauses=1 if pauses else 0)
        self._handle = _create_fleet(targets, self._options)

    def __len__(self) -> int:
        return _lib.ctrl_lumo_fleet_size(self._live())

    def send(self, command: str) -> List[FleetResult]:
        """Sends ``command`` to every target; one result per address, in the order of the targets."""
        return [answers[0] for answers in self._run([command])]

    def _run(self, commands: List[str]):
        encoded = [_encode(command, "command") for command in commands]
        array = (ctypes.c_char_p * len(encoded))(*encoded)
        code = _lib.ctrl_lumo_fleet_run(self._live(), array, len(encoded))
        if code not in (0, 5):  # 5: some links did not open; their results say why
            self._raise(code)
        out = []
        target = _native.Target()
        result = _native.Result()
        for index in range(len(self)):
            self._check(_lib.ctrl_lumo_fleet_target(self._handle, index, ctypes.byref(target)))
            error = _text(target.error) or None
            answers = []
            for number in range(target.results):
                self._check(_lib.ctrl_lumo_fleet_result(self._handle, index, number, ctypes.byref(result)))
                answers.append(FleetResult(_text(target.address), _answer(commands[number], result), error))
            if not answers:
                answers.append(FleetResult(_text(target.address), None, error or "no command was sent"))
            out.append(answers)
        return out

    def stop(self) -> None:
        """Asks a send in progress (from any thread) to start no further link; the fleet does no more work."""
        if self._handle:
            _lib.ctrl_lumo_fleet_stop(self._handle)

    def close(self) -> None:
        """Frees the fleet."""
        handle, self._handle = self._handle, None
        if handle:
            _lib.ctrl_lumo_fleet_destroy(handle)

    def __enter__(self) -> Fleet:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __del__(self, _destroy=_lib.ctrl_lumo_fleet_destroy) -> None:
        handle, self._handle = getattr(self, "_handle", None), None
        if handle:
            _destroy(handle)

    def _live(self) -> int:
        if not self._handle:
            raise NotOpenError(3, "the fleet was closed")
        return self._handle

    def _check(self, code: int) -> None:
        if code:
            self._raise(code)

    def _raise(self, code: int) -> None:
        reason = _text(_lib.ctrl_lumo_fleet_last_error(self._handle))
        raise _ERRORS.get(code, LumoError)(code, reason or f"error {code}")


def scan(targets: Union[str, Iterable[str]], timeout: float = 0.5, *, info: bool = False, jobs: int = 256,
         x_mode: bool = False, pauses: bool = False) -> List[Module]:
    """The modules among ``targets`` (see :class:`Fleet`), in address order.

    Each address gets the console's TCP connect bounded by ``timeout``
    seconds, the module's greeting and, for style 17, its mode query, with
    ``info`` also "zh", then the console's disconnect; at most ``jobs``
    addresses at once. Addresses where no module greeted are left out.
    """
    options = _native.FleetOptions(jobs=_int(jobs, "jobs"), udp=0, x_mode=1 if x_mode else 0,
                                   connect_timeout_ms=_ms(timeout, "timeout"), info=1 if info else 0,
                                   pauses=1 if pauses else 0)
    handle = _create_fleet(targets, options)
    try:
        code = _lib.ctrl_lumo_fleet_scan(handle)
        if code not in (0, 5):  # 5: no module answered, an empty list
            raise _ERRORS.get(code, LumoError)(code, _text(_lib.ctrl_lumo_fleet_last_error(handle)))
        found = []
        target = _native.Target()
        for index in range(_lib.ctrl_lumo_fleet_size(handle)):
            _lib.ctrl_lumo_fleet_target(handle, index, ctypes.byref(target))
            if target.reached:
                found.append(Module(
                    address=_text(target.address), id=target.module_id, style=target.style,
                    mode=chr(target.mode_char) if target.mode_char else None,
                    info=_text(target.info) if info else None,
                    connect_time=max(target.connect_us, 0) / 1e6))
        return sorted(found, key=lambda m: tuple(int(part) for part in m.address.split(".")))
    finally:
        _lib.ctrl_lumo_fleet_destroy(handle)
