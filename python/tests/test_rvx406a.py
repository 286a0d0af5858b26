"""Against the simulated board: RVX_LIBRARY names the built library."""
import ctypes
import os
import pathlib
import subprocess
import sys

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
