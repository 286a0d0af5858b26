"""Finding and loading rvxMApiBrd, every export typed from the header's table."""
import ctypes
import ctypes.util
import os
import pathlib
import sys

from . import _api

DEFAULT_PREFIX = pathlib.Path("/opt/orbelan/kinetra")
EVENT_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_uint32, ctypes.c_uint32)


class ContiSegment(ctypes.Structure):
    """One segment of a continuous interpolation table (RVX406A_CONTI_SEGMENT)."""

    _fields_ = [
        ("end1", ctypes.c_int32),
        ("end2", ctypes.c_int32),
        ("center1", ctypes.c_int32),
        ("center2", ctypes.c_int32),
        ("type", ctypes.c_uint16),
        ("reserved", ctypes.c_uint16),
    ]


_SCALARS = {
    "void": None,
    "int16_t": ctypes.c_int16,
    "int32_t": ctypes.c_int32,
    "uint8_t": ctypes.c_uint8,
    "uint16_t": ctypes.c_uint16,
    "uint32_t": ctypes.c_uint32,
    "RVX406A_CONTI_SEGMENT": ContiSegment,
}


def ctype(c_type):
    """The ctypes type of a C type as the header spells it."""
    c_type = c_type.replace("const ", "")
    if c_type == "char*":
        return ctypes.c_char_p
    if c_type == "void*":
        return ctypes.c_void_p
    if c_type.endswith("*"):
        return ctypes.POINTER(_SCALARS[c_type[:-1]])
    return _SCALARS[c_type]


def _file_names():
    if sys.platform == "win32":
        return ["rvxMApiBrd.dll"]
    if sys.platform == "darwin":
        return ["librvxMApiBrd.dylib"]
    return ["librvxMApiBrd.so", "librvxMApiBrd.so.1"]


def find_library():
    """RVX_LIBRARY when set; else beside this package, in the prefix it was
    installed to (PREFIX/lib/python/rvx406a), in the default prefix, and last
    wherever the system looks for libraries."""
    path = os.environ.get("RVX_LIBRARY")
    if path:
        return path
    here = pathlib.Path(__file__).resolve().parent
    prefix = here.parents[2]
    folders = [here, here.parent, prefix / "lib", prefix / "bin"]
    folders += [DEFAULT_PREFIX / "lib"]
    for folder in folders:
        for name in _file_names():
            if (folder / name).is_file():
                return str(folder / name)
    found = ctypes.util.find_library("rvxMApiBrd")
    if found:
        return found
    raise OSError("rvxMApiBrd not found: set RVX_LIBRARY to the library's path")


# What each integer C type holds; ctypes would wrap anything else silently
# (2**32 + 100 as a uint32_t is 100).
_RANGES = {
    "int16_t": (-(2**15), 2**15 - 1),
    "int32_t": (-(2**31), 2**31 - 1),
    "uint8_t": (0, 2**8 - 1),
    "uint16_t": (0, 2**16 - 1),
    "uint32_t": (0, 2**32 - 1),
}


def _checked(name, function, params):
    """The export, refusing an integer argument its C type cannot hold."""
    checks = [(i, arg, c_type, _RANGES[c_type]) for i, (c_type, arg) in enumerate(params)
              if c_type in _RANGES]

    def call(*args):
        for i, arg, c_type, (low, high) in checks:
            if i < len(args) and isinstance(args[i], int) and not low <= args[i] <= high:
                raise ValueError(f"{name}: {arg} = {args[i]} is out of the range of "
                                 f"{c_type}, {low}..{high}")
        return function(*args)

    call.__name__ = name
    call.__doc__ = (f"{name}({', '.join(f'{t} {a}' for t, a in params)}): the export as the "
                    f"header declares it; the result code is left for RVX406A_GetErrorCode().")
    call.restype, call.argtypes, call.raw = function.restype, function.argtypes, function
    return call


class Library:
    """The loaded library: lib.RVX406A_Inc_Move(0, 0, 100) calls the export
    with the header's argument and return types.

    These raw calls do not raise on a result code (read RVX406A_GetErrorCode()
    as from C); they raise ValueError for an integer that does not fit its C
    argument type, where C would silently truncate it. A callback passed to
    RVX406A_SetEventHandler is held here, as long as a watcher thread may call
    it: until RVX406A_UnloadDevice, replaced ones too (a replaced callback may
    still be running on a watcher thread)."""

    def __init__(self, path=None):
        self.path = path or find_library()
        self.dll = ctypes.CDLL(self.path)
        self.signatures = {}
        self.held_callbacks = []
        for name, ret, params in _api.FUNCTIONS:
            function = getattr(self.dll, name)
            function.restype = ctype(ret)
            function.argtypes = [ctype(c_type) for c_type, _ in params]
            setattr(self, name, _checked(name, function, params))
            self.signatures[name] = (ret, params)
        set_handler, unload = self.RVX406A_SetEventHandler, self.RVX406A_UnloadDevice

        # A ctypes callback freed while the library still calls it crashes
        # the interpreter at the next event.
        def set_event_handler(board, mode, target, message):
            if isinstance(target, ctypes._CFuncPtr):
                self.held_callbacks.append(target)
            set_handler(board, mode, target, message)

        def unload_device():
            unload()
            self.held_callbacks.clear()

        for wrapper, original in ((set_event_handler, set_handler), (unload_device, unload)):
            wrapper.__name__, wrapper.__doc__ = original.__name__, original.__doc__
            wrapper.restype, wrapper.argtypes = original.restype, original.argtypes
            wrapper.raw = original.raw
            setattr(self, original.__name__, wrapper)
