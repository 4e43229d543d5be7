"""Talk to a module of a video-wall controller from Python.

A :class:`Link` reaches one module over TCP, UDP or a serial port and sends
commands exactly as the Cmdora console does (the same frames, waits and
reading of the answer), through the C library ``libctrl_lumo_c.so.1``::

    import ctrl_lumo

    with ctrl_lumo.Link.tcp("10.0.0.5") as link:
        answer = link.send("zh")
        print(answer.status, answer.data, answer.rtt)

Every call blocks until the module has answered or the console's wait has
run out. Failures raise :class:`LumoError` (or one of its subclasses) whose
``reason`` says what went wrong, e.g. "TCP 10.0.0.5:20036: refused (...)".
One thread uses a link at a time; different links work in parallel.
"""

from __future__ import annotations

import ctypes
import enum
from dataclasses import dataclass
from typing import Optional, Union

from . import _native

__all__ = [
    "Answer",
    "ArgumentError",
    "BusyError",
    "ConnectError",
    "Link",
    "LinkInfo",
    "LinkKind",
    "LinkLostError",
    "LumoError",
    "NoAnswerError",
    "NotAckedError",
    "NotOpenError",
    "Outcome",
    "SystemFailure",
    "WrongLinkError",
    "clear_socket",
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


class Link:
    """One link to one module; opened by :meth:`tcp`, :meth:`udp` or :meth:`serial`.

    Use it in a ``with`` block: leaving the block closes the link as the
    console's Disconnect does and frees it. Every method blocks the calling
    thread for the waits it names.
    """

    def __init__(self) -> None:
        """A link with nothing open (open one with open_tcp, open_udp or open_serial)."""
        self._handle: Optional[int] = _lib.ctrl_lumo_create()
        if not self._handle:
            raise MemoryError("ctrl_lumo: no memory for a link")
        self._result = _native.Result()

    # --- opening -----------------------------------------------------------

    @classmethod
    def tcp(cls, address: str, x_mode: bool = False) -> Link:
        """A TCP link to the module at ``address`` (dotted IPv4, port 20036).

        ``x_mode`` expects the 17-byte X greeting and sends X frames. Blocks up
        to about 20 s for the connect and the greeting; raises ConnectError.
        """
        return cls._opened(lambda link: link.open_tcp(address, x_mode))

    @classmethod
    def udp(cls, address: str) -> Link:
        """A UDP text link to ``address``:20037 (after the console's TCP probe)."""
        return cls._opened(lambda link: link.open_udp(address))

    @classmethod
    def serial(cls, port: Union[int, str], baud: int) -> Link:
        """A serial link: ``port`` is a number (3, "COM3") or a device path.

        Waits for the module's prompt as the console's connect does (about
        1.5 s when the module answers, 8 s when it does not).
        """
        return cls._opened(lambda link: link.open_serial(port, baud))

    @classmethod
    def _opened(cls, open_it) -> Link:
        link = cls()
        try:
            open_it(link)
        except BaseException:
            link._release()
            raise
        return link

    def open_tcp(self, address: str, x_mode: bool = False) -> None:
        """Opens a TCP link (see :meth:`tcp`), closing an open one first."""
        self._check(_lib.ctrl_lumo_open_tcp(self._live(), _encode(address, "address"), 1 if x_mode else 0))

    def open_udp(self, address: str) -> None:
        """Opens a UDP link (see :meth:`udp`), closing an open one first."""
        self._check(_lib.ctrl_lumo_open_udp(self._live(), _encode(address, "address")))

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

    def send_frame(self, frame: bytes) -> None:
        """Sends raw bytes (1 to 30725) on a TCP or serial link; see :meth:`check_ack`."""
        frame = bytes(frame)
        self._check(_lib.ctrl_lumo_send_frame(self._live(), frame, len(frame)))

    def check_ack(self, limit_ms: int = 10000) -> int:
        """Waits up to ``limit_ms`` for the acknowledgement 00 FF 5A A5 S of a raw frame.

        Returns S (nonzero); raises NoAnswerError when nothing came and
        NotAckedError for status 0 or a malformed answer.
        """
        status = ctypes.c_int(0)
        self._check(_lib.ctrl_lumo_check_ack(self._live(), _int(limit_ms, "limit_ms"), ctypes.byref(status)))
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
