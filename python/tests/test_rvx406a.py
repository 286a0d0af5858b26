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


def test_every_public_method_says_what_it_does():
    for cls in (rvx406a.Boards, rvx406a.Board, rvx406a.Group, rvx406a.Axis):
        for name, member in vars(cls).items():
            if name.startswith("_") or not (callable(member) or isinstance(member, property)):
                continue
            assert (member.__doc__ or "").strip(), f"{cls.__name__}.{name}"


def test_boards_outside_with_say_to_use_with(lib):
    with pytest.raises(RuntimeError, match=r"use them inside 'with rvx406a.Boards\(\) as boards:'"):
        rvx406a.Boards(lib)[0]


def test_nothing_drives_on_unwatched(lib):
    busy = 1 << 8
    with rvx406a.Boards(lib) as boards:
        axis = boards[0].axis(2)
        axis.set_speed(1000, 2000, 10, 10)
        axis.move(1_000_000)
        with pytest.raises(TimeoutError, match="still moving after 0.1 s: stopped"):
            axis.wait_done(timeout_s=0.1)
        assert not axis.status & busy
    # Where the axis stands when the block is left, and 0.2 s later: a move
    # left running goes on some 400 pulses at 2000 PPS; a stopped one no more
    # than the time the block's exit takes on a busy machine (up to 75 ms).
    for stop_on_exit, most, least in ((True, 150, -50), (False, 100_000, 250)):
        with rvx406a.Boards(lib, stop_on_exit=stop_on_exit) as boards:
            axis = boards[0].axis(2)
            axis.set_speed(1000, 2000, 10, 10)
            axis.move(1_000_000)
            time.sleep(0.05)
            left = axis.command_pos
        time.sleep(0.2)
        with rvx406a.Boards(lib) as boards:
            axis = boards[0].axis(2)
            axis.stop(sudden=True)
            assert least < axis.command_pos - left < most, stop_on_exit


def test_homing_against_the_simulated_machine(lib):
    with rvx406a.Boards(lib) as boards:
        board = boards[0]
        first, second = board.axis(0), board.axis(1)
        for axis in (first, second):
            axis.set_home(mode=2, direction=1, speed=(2000, 20000, 50), offset=0)
            assert axis.home_settings() == (2, 1, (2000, 20000, 50), 0)
        board.home([0, 1])
        assert first.wait_home(timeout_s=20) and second.wait_home(timeout_s=20)
        assert (first.command_pos, first.actual_pos, second.command_pos) == (0, 0, 0)
        # Beyond the sensors, toward +, there is no home: the search gives up
        # and stops the axis.
        first.move(30000)
        first.wait_done(timeout_s=10)
        first.set_home(direction=0)
        first.home()
        with pytest.raises(TimeoutError, match="no home found in 0.2 s: stopped"):
            first.wait_home(timeout_s=0.2)
        assert not first.home_busy()


def test_interpolation_groups_run_their_paths(lib):
    with rvx406a.Boards(lib) as boards:
        board = boards[0]
        x, y = board.axis(1), board.axis(3)
        group = board.group(1, [3, 1], speed=(1000, 40000, 10, 10))
        assert group.axes == [1, 3] and group.speed() == (1000, 40000, 10, 10)
        start = (x.command_pos, y.command_pos)
        paths = [
            (lambda: group.line([1000, -500]), (1000, -500)),
            (lambda: group.arc((500, 0), (1000, 0), 1), (2000, -500)),
            (lambda: group.theta((0, 500), -180), (2000, 500)),
            (lambda: group.line_to([start[0], start[1]]), (0, 0)),
        ]
        for run, (dx, dy) in paths:
            run()
            group.wait_done(timeout_s=10)
            assert (x.command_pos - start[0], y.command_pos - start[1]) == (dx, dy)
        # The continuous table: its first segment follows a running line.
        segments = board.load_conti_table([("line", 5000, 0), ("arc", 6000, 1000, 5000, 1000, 1)])
        assert [(s.end1, s.end2, s.type) for s in segments] == [(5000, 0, 0), (6000, 1000, 2)]
        assert board.conti_count() == 0
        board.free_conti_table()
        with pytest.raises(ValueError, match="segment"):
            board.load_conti_table([("circle", 1, 2)])


def test_compare_and_motion_events(lib):
    with rvx406a.Boards(lib) as boards:
        board = boards[0]
        board.set_compare_width(1, 20)
        assert lib.RVX406A_GetCompTrgWidth(0, 1) == 20
        board.compare_every(1, 3, 100, 100)
        board.compare_table(1, [50, 150, 250])
        board.free_compare()
        calls = []
        board.on_event(lambda b, kind: calls.append(kind), motion_axes=[(1, 1)])
        board.motion_events()  # clears what earlier tests left
        axis = board.axis(1)
        axis.move(200)
        axis.wait_done(timeout_s=5)
        deadline = time.monotonic() + 5
        while not calls and time.monotonic() < deadline:
            time.sleep(0.005)
        assert calls == [0]
        assert board.motion_events() & 1  # a drive ended, latched for the board
        assert board.motion_events() == 0
        board.on_event(None)
