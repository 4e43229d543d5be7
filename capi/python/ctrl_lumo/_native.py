"""The ctypes view of libctrl_lumo_c.so.1, ctrl_lumo_c.dll on Windows (the C header ctrl_lumo_c.h)."""

from __future__ import annotations

import ctypes
import os
import sys
from ctypes import POINTER, c_char_p, c_int, c_size_t, c_ubyte, c_void_p

LIBRARY = "ctrl_lumo_c.dll" if sys.platform == "win32" else "libctrl_lumo_c.so.1"


class Result(ctypes.Structure):
    """struct ctrl_lumo_result"""

    _fields_ = [
        ("outcome", c_int),
        ("is_query", c_int),
        ("has_status", c_int),
        ("status", c_char_p),
        ("has_data", c_int),
        ("data", c_char_p),
        ("caption", c_char_p),
        ("answer", POINTER(c_ubyte)),
        ("answer_len", c_size_t),
        ("sent", POINTER(c_ubyte)),
        ("sent_len", c_size_t),
        ("round_trip_ms", c_int),
        ("warned_long", c_int),
    ]


class Info(ctypes.Structure):
    """struct ctrl_lumo_info"""

    _fields_ = [
        ("kind", c_int),
        ("x_mode", c_int),
        ("module_id", c_int),
        ("style", c_int),
        ("mode_char", c_int),
        ("prompt_seen", c_int),
        ("name", c_char_p),
    ]


class FleetOptions(ctypes.Structure):
    """struct ctrl_lumo_fleet_options"""

    _fields_ = [
        ("jobs", c_int),
        ("udp", c_int),
        ("x_mode", c_int),
        ("connect_timeout_ms", c_int),
        ("info", c_int),
        ("pauses", c_int),
    ]


class Target(ctypes.Structure):
    """struct ctrl_lumo_target"""

    _fields_ = [
        ("address", c_char_p),
        ("reached", c_int),
        ("module_id", c_int),
        ("style", c_int),
        ("mode_char", c_int),
        ("info", c_char_p),
        ("connect_us", c_int),
        ("error", c_char_p),
        ("results", c_size_t),
    ]


def _windows_dll() -> str:
    # Python does not look in PATH for a DLL's own DLLs (the MinGW runtime
    # beside it): find the folder, name it, and load by full path. The
    # folder in CTRL_LUMO_DLL_DIR, the zip's bin/ beside python/, or PATH.
    here = os.path.dirname(os.path.abspath(__file__))
    folders = [os.environ.get("CTRL_LUMO_DLL_DIR", ""), os.path.join(here, os.pardir, os.pardir, "bin")]
    folders += os.environ.get("PATH", "").split(os.pathsep)
    for folder in folders:
        path = os.path.join(folder, LIBRARY) if folder else ""
        if path and os.path.isfile(path):
            os.add_dll_directory(os.path.abspath(folder))
            return os.path.abspath(path)
    return LIBRARY


def _load() -> ctypes.CDLL:
    # By its SONAME, so the dynamic loader's usual search applies
    # (LD_LIBRARY_PATH, the ld.so cache, /usr/lib).
    where = "LD_LIBRARY_PATH"
    name = LIBRARY
    if sys.platform == "win32":
        where = "CTRL_LUMO_DLL_DIR or PATH"
        name = _windows_dll()
    try:
        lib = ctypes.CDLL(name)
    except OSError as error:
        raise ImportError(
            f"ctrl_lumo needs {LIBRARY}: install the package libctrl-lumo-c1 (on Windows: unpack "
            f"the lumo zip), or put the folder that holds it in {where} ({error})"
        ) from error
    link = fleet = c_void_p
    signatures = {
        "ctrl_lumo_create": (link, []),
        "ctrl_lumo_destroy": (None, [link]),
        "ctrl_lumo_open_tcp": (c_int, [link, c_char_p, c_int]),
        "ctrl_lumo_open_udp": (c_int, [link, c_char_p]),
        "ctrl_lumo_open_serial": (c_int, [link, c_char_p, c_int]),
        "ctrl_lumo_send_command": (c_int, [link, c_char_p, POINTER(Result)]),
        "ctrl_lumo_send_frame": (c_int, [link, c_char_p, c_size_t]),
        "ctrl_lumo_check_ack": (c_int, [link, c_int, POINTER(c_int)]),
        "ctrl_lumo_device_query": (c_int, [link, c_int, POINTER(c_ubyte)]),
        "ctrl_lumo_clear_socket": (c_int, [link, c_char_p]),
        "ctrl_lumo_get_info": (c_int, [link, POINTER(Info)]),
        "ctrl_lumo_close": (c_int, [link]),
        "ctrl_lumo_set_pauses": (c_int, [link, c_int]),
        "ctrl_lumo_set_connect_timeout": (c_int, [link, c_int]),
        "ctrl_lumo_fleet_create": (fleet, [POINTER(c_char_p), c_size_t, POINTER(FleetOptions)]),
        "ctrl_lumo_fleet_destroy": (None, [fleet]),
        "ctrl_lumo_fleet_size": (c_size_t, [fleet]),
        "ctrl_lumo_fleet_scan": (c_int, [fleet]),
        "ctrl_lumo_fleet_run": (c_int, [fleet, POINTER(c_char_p), c_size_t]),
        "ctrl_lumo_fleet_target": (c_int, [fleet, c_size_t, POINTER(Target)]),
        "ctrl_lumo_fleet_result": (c_int, [fleet, c_size_t, c_size_t, POINTER(Result)]),
        "ctrl_lumo_fleet_stop": (None, [fleet]),
        "ctrl_lumo_fleet_last_error": (c_char_p, [fleet]),
        "ctrl_lumo_last_error": (c_char_p, [link]),
        "ctrl_lumo_version": (c_char_p, []),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


lib = _load()
