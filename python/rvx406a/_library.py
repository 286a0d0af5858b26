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


class Library:
    """The loaded library: lib.RVX406A_Inc_Move(0, 0, 100) calls the export
    with the header's argument and return types."""

    def __init__(self, path=None):
        self.path = path or find_library()
        self.dll = ctypes.CDLL(self.path)
        self.signatures = {}
        for name, ret, params in _api.FUNCTIONS:
            function = getattr(self.dll, name)
            function.restype = ctype(ret)
            function.argtypes = [ctype(c_type) for c_type, _ in params]
            setattr(self, name, function)
            self.signatures[name] = (ret, params)
