"""Python binding of rvxMApiBrd, the RVX406A motion-control board library.

    import rvx406a

    with rvx406a.Boards() as boards:         # LoadDevice ... UnloadDevice
        axis = boards[0].axis(0)
        axis.set_speed(1000, 20000, 20, 20)  # start, drive (PPS), acc, dec (ms)
        axis.move(3000)
        axis.wait_done()                     # polls Done; raises the stop cause
        print(axis.command_pos, axis.actual_pos)

A call that leaves a negative result code raises errors.RvxError (a subclass
named after the code, e.g. errors.ERR_MAX_STARTV) with .code and .name. Every
export is also there untouched: Library().RVX406A_GetCardStatus(0, 1).
"""
import ctypes
import time

from . import errors
from ._library import EVENT_CALLBACK, ContiSegment, Library, find_library
from .errors import RvxError

__all__ = ["Axis", "Board", "Boards", "ContiSegment", "EVENT_CALLBACK", "Library", "RvxError",
           "errors", "find_library"]


def _call(lib, name, *args):
    """Calls an export and raises the result code it left, if an error."""
    value = getattr(lib, name)(*args)
    code = lib.RVX406A_GetErrorCode()
    if code < 0:
        raise errors.error(code, name)
    return value


def _outputs(lib, name, *args, count):
    """Calls a getter with `count` output pointers; returns their values."""
    types = [t._type_ for t in getattr(lib, name).argtypes[len(args):]]
    values = [t() for t in types[:count]]
    _call(lib, name, *args, *(ctypes.byref(v) for v in values))
    return tuple(v.value for v in values)


class Boards:
    """The loaded boards, as a context manager: loads on entry, unloads on
    exit, also when the block raises."""

    def __init__(self, library=None):
        self.lib = library if library is not None else Library()
        self.count = 0

    def __enter__(self):
        highest = self.lib.RVX406A_LoadDevice()
        if highest < 0:
            raise errors.error(highest, "RVX406A_LoadDevice")
        self.count = highest + 1
        return self

    def __exit__(self, *exc):
        self.lib.RVX406A_UnloadDevice()
        self.count = 0
        return False

    def __len__(self):
        return self.count

    def __getitem__(self, board):
        if not 0 <= board < self.count:
            raise IndexError(f"board {board} of {self.count}")
        return Board(self.lib, board)


class Board:
    def __init__(self, lib, number):
        self.lib, self.number = lib, number

    def _call(self, name, *args):
        return _call(self.lib, "RVX406A_" + name, self.number, *args)

    def axis(self, number):
        return Axis(self, number)

    def info(self):
        """(type, version, axes, DI count, DO count)."""
        return _outputs(self.lib, "RVX406A_BoardInfo", self.number, count=5)

    def put_do(self, channel, value):
        self._call("PutDOBit", channel, int(value))

    def get_do(self, channel):
        return self._call("GetDOBit", channel)

    def get_di(self, channel):
        return self._call("GetDIBit", channel)

    def put_do_word(self, index, value):
        self._call("PutDOWord", index, value)

    def get_do_word(self, index):
        return _outputs(self.lib, "RVX406A_GetDOWord", self.number, index, count=1)[0]

    def get_di_word(self, index):
        return _outputs(self.lib, "RVX406A_GetDIWord", self.number, index, count=1)[0]

    def on_event(self, callback, motion_axes=(), inputs=(0, 0)):
        """Calls callback(board, kind) on the board's watcher thread for each
        event: kind 0 a motion event, 1 an input event. The target is common
        to every board of the process (the last one registered wins); None
        stops the callbacks. motion_axes: (axis, mask) pairs for
        RVX406A_SetMotEventMask (bit 0: a drive ended); inputs: the two input
        masks of RVX406A_SetDiEventMask. Then switches the board's events on.
        The package holds the callback for as long as a watcher may call it
        (until the boards are unloaded), so it need not be kept by the caller."""
        target = None if callback is None else EVENT_CALLBACK(callback)
        for axis, mask in motion_axes:
            _call(self.lib, "RVX406A_SetMotEventMask", self.number, axis, mask)
        if any(inputs):
            self._call("SetDiEventMask", *inputs)
        self._call("SetEventHandler", 1, target, 0)
        self._call("SetEventEnable", int(callback is not None))

    def reset(self):
        self._call("Reset")

    def save(self):
        """Writes the board's settings to its parameter file."""
        self._call("SaveFile")


class Axis:
    def __init__(self, board, number):
        self.board, self.number = board, number
        self.lib = board.lib

    def _call(self, name, *args):
        return _call(self.lib, "RVX406A_" + name, self.board.number, self.number, *args)

    def _outputs(self, name, count):
        return _outputs(self.lib, "RVX406A_" + name, self.board.number, self.number, count=count)

    # Signals
    def servo(self, on):
        self._call("PutSvOn", int(on))

    def set_pulse_mode(self, mode):
        self._call("SetPulseMode", mode)

    def set_alarm(self, enable, logic):
        self._call("SetSvAlm", int(enable), logic)

    def set_inpos(self, enable, logic):
        self._call("SetSvInpos", int(enable), logic)

    def set_limits(self, mode, logic):
        """Hardware limits: mode 0 sudden, 1 decelerating stop; logic 0 low, 1 high active."""
        self._call("SetHlmt", mode, logic)

    def set_soft_limits(self, plus, minus, enable=True):
        self._call("SetSlmt", plus, minus, int(enable))

    # Speeds
    def set_speed(self, start_pps, drive_pps, acc_ms, dec_ms):
        self._call("SetPosSpeed", start_pps, drive_pps, acc_ms, dec_ms)

    def speed(self):
        """(start PPS, drive PPS, acceleration ms, deceleration ms)."""
        return self._outputs("GetPosSpeed", 4)

    def set_jog_speed(self, start_pps, drive_pps, acc_ms):
        self._call("SetJogSpeed", start_pps, drive_pps, acc_ms)

    def set_s_curve(self, on):
        self._call("SetSpeedMode", int(on))

    # Moves
    def move(self, distance):
        self._call("Inc_Move", distance)

    def move_to(self, position):
        self._call("Abs_Move", position)

    def jog(self, direction):
        """Runs with the jog profile until stopped (stop(), a limit, an
        alarm): direction 1 toward plus, 0 toward minus, as RVX406A_Jog_Move
        takes it."""
        self._call("Jog_Move", direction)

    def home(self):
        self._call("Home_Move")

    def done(self):
        """True once the axis is idle; a move stopped by a cause (a limit,
        an alarm) raises that cause, once."""
        return not self._call("Done")

    def wait_done(self, poll_s=0.005, timeout_s=None):
        """Polls done() until the axis is idle, sleeping between polls."""
        deadline = None if timeout_s is None else time.monotonic() + timeout_s
        while not self.done():
            if deadline is not None and time.monotonic() > deadline:
                raise TimeoutError(f"axis {self.number} still moving after {timeout_s} s")
            time.sleep(poll_s)

    def wait(self):
        """Blocks in RVX406A_Wait; every other call of every process waits too."""
        self._call("Wait", 0)

    def stop(self, sudden=False):
        self._call("Sudden_Stop" if sudden else "Decel_Stop")

    # Status and positions
    @property
    def status(self):
        return self._call("GetCardStatus")

    @property
    def motion_error(self):
        return self._call("GetMotionErrCod")

    @property
    def speed_now(self):
        return self._call("GetCommandSpeed")

    @property
    def command_pos(self):
        return self._call("GetCommandPos")

    @command_pos.setter
    def command_pos(self, position):
        self._call("SetCommandPos", position)

    @property
    def actual_pos(self):
        return self._call("GetActualPos")

    @actual_pos.setter
    def actual_pos(self, position):
        self._call("SetActualPos", position)
