#!/usr/bin/env python3
"""Driver requests of every exported function, as a Markdown table.

Runs each export once, with valid arguments, against the counting driver
module, and prints how many requests it sent and the result code it left.
The arguments come from the typed export table (python/rvx406a/_api.py), so a
new export is measured without touching this script.

    python3 bench/requests_table.py build > docs/requests.md
"""
import ctypes
import os
import pathlib
import shutil
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "python"))
from rvx406a._api import FUNCTIONS  # noqa: E402
from rvx406a._library import ContiSegment, ctype  # noqa: E402

# Values by argument name: board 0, axis 0, a two-axis group of axes 0 and 1,
# moves of 100 pulses, a 1000..20000 PPS profile of 20 ms ramps.
SCALARS = {
    "count": 2, "axis_mask": 0x3, "mask": 0x3, "start_pps": 1000, "drive_pps": 20000,
    "low_pps": 1000, "high_pps": 20000, "acc_ms": 20, "dec_ms": 20, "distance": 100,
    "position": 100, "end1": 100, "end2": 0, "center1": 50, "center2": 0, "angle": 90,
    "interval": 100, "start": 100, "plus": 100000, "minus": -100000, "width": 10,
    "command": 100000, "actual": 100000, "enable": 0, "on": 1, "value": 1, "time": 1, "rate": 1, "range": 1,
}
ARRAYS = {"axes": [0, 1], "distances": [100, 100], "positions": [100, 100], "directions": [0, 0]}
# Enables stay off: software limits or the ring counter would refuse the
# compare trigger. Run last, in this order: they end what the others need.
LAST = ["RVX406A_SetFreeContiTable", "RVX406A_SetFreeCompTrg", "RVX406A_UnloadDeviceEx",
        "RVX406A_LoadDeviceEx"]
SKIPPED = {"RVX406A_LoadDevice", "RVX406A_UnloadDevice"}


INTRO = """# Driver requests per call

Each exported function called once, with valid arguments, against the counting
driver module (`bench/counting_driver.cc`: every request succeeds, registers
read 0 except the bus-test register and the board identity), after one
`RVX406A_LoadDevice` on a type 1 board. On a real board every request is one
kernel round trip (about 1.3 us), so this column is most of what a call costs.
The result is the code the call left (`RVX406A_GetErrorCode`); the override
calls need a drive in progress, which the counting module never reports, so
their refusal is what is counted. Written by
`python3 bench/requests_table.py build > docs/requests.md`.
"""


def argument(c_type, name, library_path):
    if c_type == "const char*":
        return library_path.encode()
    if c_type == "void*":
        return None
    if c_type == "RVX406A_CONTI_SEGMENT*":
        return (ContiSegment * 2)(ContiSegment(100, 0, 0, 0, 0, 0), ContiSegment(200, 0, 0, 0, 0, 0))
    if c_type.endswith("*"):
        scalar = ctype(c_type)._type_
        return (scalar * 16)(*ARRAYS.get(name, []))
    return SCALARS.get(name, 0)


def main():
    build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
    module = str(build / "librvxcounting.so")
    library_path = str(build / "librvxMApiBrd.so")
    install = tempfile.mkdtemp(prefix="rvx-requests-")
    for folder in ("Parameter", "Debug"):
        os.mkdir(os.path.join(install, folder))
    os.environ.update(RVX_DRIVER=module, RVX_INSTALL_DIR=install,
                      RVX_IPC_NAMESPACE="rvx-requests-%d-" % os.getpid())
    lib = ctypes.CDLL(library_path)
    requests = ctypes.CDLL(module).rvx_counting_requests
    requests.restype = ctypes.c_uint64
    lib.RVX406A_GetErrorString.restype = ctypes.c_char_p
    lib.RVX406A_GetErrorCode.restype = ctypes.c_int32

    rows = []

    def run(name, returns, args):
        function = getattr(lib, name)
        function.restype = ctype(returns)
        function.argtypes = [ctype(t) for t, _ in args]
        values = [argument(t, n, library_path) for t, n in args]
        before = requests()
        function(*values)
        sent = requests() - before
        code = lib.RVX406A_GetErrorCode()
        rows.append((name, sent, lib.RVX406A_GetErrorString(code).decode()))

    ordered = [f for f in FUNCTIONS if f[0] not in SKIPPED and f[0] not in LAST]
    ordered += sorted((f for f in FUNCTIONS if f[0] in LAST), key=lambda f: LAST.index(f[0]))
    run("RVX406A_LoadDevice", "int32_t", ())
    for name, returns, args in ordered:
        run(name, returns, args)
    run("RVX406A_UnloadDevice", "void", ())
    shutil.rmtree(install, ignore_errors=True)

    print(INTRO)
    print("| function | driver requests | result |")
    print("|---|---:|---|")
    for name, sent, result in rows:
        print("| `%s` | %d | %s |" % (name, sent, result))


if __name__ == "__main__":
    main()
