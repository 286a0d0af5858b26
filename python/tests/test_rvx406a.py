"""Against the simulated board: RVX_LIBRARY names the built library."""
import ctypes
import os
import pathlib
import subprocess
import sys
import time

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
import rvx406a  # noqa: E402
from rvx406a import errors  # noqa: E402

u16, u32, i32 = ctypes.c_uint16, ctypes.c_uint32, ctypes.c_int32
P = ctypes.POINTER


@pytest.fixture(scope="module")
def lib(tmp_path_factory):
    install = tmp_path_factory.mktemp("install")
    (install / "Debug").mkdir()
    os.environ.update(RVX_DRIVER="sim", RVX_INSTALL_DIR=str(install),
                      RVX_IPC_NAMESPACE=f"rvx-python-{os.getpid()}-")
    return rvx406a.Library()


def test_exports_carry_the_header_types(lib):
    generator = pathlib.Path(__file__).resolve().parents[1] / "gen_api.py"
    assert subprocess.run([sys.executable, str(generator), "--check"]).returncode == 0
    assert len(lib.signatures) == 192
    cases = [
        ("RVX406A_GetErrorString", ctypes.c_char_p, [i32]),
        ("RVX406A_BoardInfo", None, [u16] + [P(u32)] * 5),
        ("RVX406A_PutDOByte", None, [u16, u16, ctypes.c_uint8]),
        ("RVX406A_IPDone", ctypes.c_int16, [u16, u16]),
        ("RVX406A_SetContiDataTable", i32, [u16, u32, P(rvx406a.ContiSegment)]),
        ("RVX406A_SetEventHandler", None, [u16, u16, ctypes.c_void_p, u32]),
    ]
    for name, restype, argtypes in cases:
        function = getattr(lib, name)
        assert (function.restype, function.argtypes) == (restype, argtypes), name


def test_errors_raise_with_their_names_and_plain_texts(lib):
    cases = [
        (lambda b: b[0].axis(0).set_speed(4_000_001, 20000, 20, 20), "ERR_MAX_STARTV", -533,
         "RVX406A_SetPosSpeed: ERR_MAX_STARTV (-533): the start (or low) speed is above "
         "4,000,000 PPS"),
        (lambda b: b[0].axis(0).move(268_435_456), "ERR_INVALID_PARAMETER", -300,
         "RVX406A_Inc_Move: ERR_INVALID_PARAMETER (-300): a value is out of the range"),
        (lambda b: b[0].axis(4).move(10), "ERR_AXIS_NUM", -540,
         "ERR_AXIS_NUM (-540): no such axis on this board (axes are 0 to 3)"),
        (lambda b: rvx406a.Board(b.lib, 5).get_di(0), "ERR_BOARD_NUMBER", -410,
         "ERR_BOARD_NUMBER (-410): no board with that number was found"),
    ]
    with rvx406a.Boards(lib) as boards:
        for action, name, code, message in cases:
            with pytest.raises(getattr(errors, name)) as raised:
                action(boards)
            assert (raised.value.name, raised.value.code) == (name, code)
            assert message in str(raised.value)
    # Every named failure has its text, as rvxctl has.
    named = {code for code in rvx406a._api.RESULT_NAMES if code < 0}
    assert named <= set(errors.TEXTS), named - set(errors.TEXTS)


def test_boards_unload_when_the_block_raises(lib):
    with pytest.raises(KeyError):
        with rvx406a.Boards(lib) as boards:
            assert boards[0].axis(1).status is not None
            raise KeyError("inside")
    with pytest.raises(errors.ERR_INVALID_HANDLE):  # the boards were unloaded
        rvx406a.Board(lib, 0).axis(1).status


def test_a_move_polled_to_its_end(lib):
    with rvx406a.Boards(lib) as boards:
        axis = boards[0].axis(2)
        axis.set_speed(1000, 20000, 20, 20)
        start = axis.command_pos
        axis.move(-2500)
        axis.wait_done(timeout_s=10)
        assert (axis.command_pos, axis.actual_pos) == (start - 2500, start - 2500)
        assert axis.speed() == (1000, 20000, 20, 20)


def test_jog_runs_the_way_its_docstring_says(lib):
    assert "1 toward plus, 0 toward minus" in rvx406a.Axis.jog.__doc__
    with rvx406a.Boards(lib) as boards:
        axis = boards[0].axis(3)
        for direction, sign in ((1, 1), (0, -1)):
            start = axis.command_pos
            axis.jog(direction)
            time.sleep(0.05)
            axis.stop(sudden=True)
            axis.wait_done(timeout_s=5)
            assert (axis.command_pos - start) * sign > 0, direction


def test_numbers_that_do_not_fit_their_c_type_raise_and_send_nothing(lib):
    cases = [
        (lambda b: b[0].axis(0).move(2**32 + 100),
         "RVX406A_Inc_Move: distance = 4294967396 is out of the range of int32_t"),
        (lambda b: b[0].put_do(65539, 1),
         "RVX406A_PutDOBit: channel = 65539 is out of the range of uint16_t, 0..65535"),
        (lambda b: b[0].axis(2**16).move(5),
         "RVX406A_Inc_Move: axis = 65536 is out of the range of uint16_t"),
        (lambda b: b.lib.RVX406A_SetCommandPos(0, 1, -(2**31) - 1),
         "RVX406A_SetCommandPos: position = -2147483649 is out of the range of int32_t"),
        (lambda b: b.lib.RVX406A_PutDOByte(0, 0, 256),
         "value = 256 is out of the range of uint8_t, 0..255"),
    ]
    with rvx406a.Boards(lib) as boards:
        board = boards[0]
        positions = [board.axis(a).command_pos for a in range(4)]
        outputs = board.get_do_word(0)
        for action, message in cases:
            with pytest.raises(ValueError) as raised:
                action(boards)
            assert message in str(raised.value)
        assert [board.axis(a).command_pos for a in range(4)] == positions
        assert board.get_do_word(0) == outputs
        # The largest values still pass to the library, which judges them.
        lib.RVX406A_SetCommandPos(0, 1, 2**31 - 1)
        assert board.axis(1).command_pos == 2**31 - 1


# Registers a callback it keeps no reference to, lets the collector run and
# moves an axis three times: each drive's end calls the callback.
_CALLBACK_CHILD = r"""
import gc, sys, time
sys.path.insert(0, sys.argv[1])
import rvx406a
lib = rvx406a.Library()
calls = []
with rvx406a.Boards(lib) as boards:
    if sys.argv[2] == "raw":
        lib.RVX406A_SetMotEventMask(0, 1, 1)
        lib.RVX406A_SetEventHandler(
            0, 1, rvx406a.EVENT_CALLBACK(lambda board, kind: calls.append((board, kind))), 0)
        lib.RVX406A_SetEventEnable(0, 1)
    else:
        boards[0].on_event(lambda board, kind: calls.append((board, kind)),
                           motion_axes=[(1, 1)])
    gc.collect()
    # Whatever the freed callback's memory held is overwritten.
    junk = [rvx406a.EVENT_CALLBACK(lambda board, kind: None) for _ in range(2000)]
    del junk
    gc.collect()
    axis = boards[0].axis(1)
    for _ in range(3):
        axis.move(300)
        axis.wait_done(timeout_s=5)
        deadline = time.monotonic() + 5
        while len(calls) < _ + 1 and time.monotonic() < deadline:
            time.sleep(0.005)
print("calls", calls)
"""


@pytest.mark.parametrize("how", ["raw", "wrapper"])
def test_a_callback_is_held_while_registered(lib, how):
    package = str(pathlib.Path(__file__).resolve().parents[1])
    run = subprocess.run([sys.executable, "-c", _CALLBACK_CHILD, package, how],
                         capture_output=True, text=True, timeout=60,
                         env=dict(os.environ, RVX_LIBRARY=lib.path,
                                  RVX_IPC_NAMESPACE=f"rvx-python-cb-{os.getpid()}-{how}-"))
    assert run.returncode == 0, run.stderr
    assert "calls [(0, 0), (0, 0), (0, 0)]" in run.stdout, run.stdout + run.stderr


def test_unloading_lets_go_of_the_callbacks(lib):
    with rvx406a.Boards(lib) as boards:
        boards[0].on_event(lambda board, kind: None)
        boards[0].on_event(lambda board, kind: None)  # the first may still be running
        assert len(lib.held_callbacks) == 2
    assert lib.held_callbacks == []
