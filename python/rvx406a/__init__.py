"""Python binding of rvxMApiBrd, the RVX406A motion-control board library.

    import rvx406a

    with rvx406a.Boards() as boards:         # LoadDevice ... UnloadDevice
        axis = boards[0].axis(0)
        axis.set_speed(1000, 20000, 20, 20)  # start, drive (PPS), acc, dec (ms)
        axis.move(3000)
        axis.wait_done()                     # polls Done; raises the stop cause
        print(axis.command_pos, axis.actual_pos)

A wrapper that leaves a negative result code raises errors.RvxError (a
subclass named after the code, e.g. errors.ERR_MAX_STARTV) with .code and
.name. Every export is also there as the header declares it:
Library().RVX406A_GetCardStatus(0, 1). Those raw calls do not raise on a
result code (read RVX406A_GetErrorCode() as from C), but they do raise
ValueError for an integer that does not fit its C argument type.

Moves return at once and the chip drives on its own, also after this program
lets go of the board. So that nothing keeps moving unwatched, wait_done()
stops an axis that is still moving when its time-out passes, and leaving the
`with` block stops every axis this program started that still drives, before
the boards are unloaded (Boards(stop_on_exit=False) leaves them running).
"""
import ctypes
import time

from . import errors
from ._library import EVENT_CALLBACK, ContiSegment, Library, find_library
from .errors import RvxError

__all__ = ["Axis", "Board", "Boards", "ContiSegment", "EVENT_CALLBACK", "Group", "Library",
           "RvxError", "errors", "find_library"]

_BUSY = 1 << 8  # card status: the axis drives


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


def _array(c_type, values):
    values = list(values)
    return (c_type * len(values))(*values), len(values)


class Boards:
    """The loaded boards, as a context manager: loads on entry; on exit, also
    when the block raises, stops the axes this program started that still
    drive (a decelerating stop, waited for), then unloads. Use it only in a
    `with` statement: the boards exist only inside the block."""

    def __init__(self, library=None, stop_on_exit=True):
        self.lib = library if library is not None else Library()
        self.count = 0
        self.stop_on_exit = stop_on_exit
        self.started = set()  # (board, axis) of the moves this program started
        self.loaded = False

    def __enter__(self):
        highest = self.lib.RVX406A_LoadDevice()
        if highest < 0:
            raise errors.error(highest, "RVX406A_LoadDevice")
        self.count = highest + 1
        self.loaded = True
        return self

    def __exit__(self, *exc):
        try:
            if self.stop_on_exit:
                self.stop_started()
        finally:
            self.lib.RVX406A_UnloadDevice()
            self.count = 0
            self.loaded = False
        return False

    def stop_started(self, timeout_s=10):
        """Gives every axis this program started that still drives a
        decelerating stop and waits (at most timeout_s) until they stand."""
        moving = [(b, a) for b, a in sorted(self.started)
                  if self.lib.RVX406A_GetCardStatus(b, a) & _BUSY]
        for board, axis in moving:
            self.lib.RVX406A_Decel_Stop(board, axis)
        deadline = time.monotonic() + timeout_s
        while any(self.lib.RVX406A_GetCardStatus(b, a) & _BUSY for b, a in moving):
            if time.monotonic() > deadline:
                break
            time.sleep(0.005)
        self.started.clear()

    def __len__(self):
        return self.count

    def __getitem__(self, board):
        if not self.loaded:
            raise RuntimeError("the boards are not loaded: use them inside "
                               "'with rvx406a.Boards() as boards:'")
        if not 0 <= board < self.count:
            raise IndexError(f"board {board} of {self.count}")
        return Board(self.lib, board, self)


class Board:
    """One loaded board: its digital I/O, axes, interpolation groups,
    continuous table, compare trigger and events."""

    def __init__(self, lib, number, boards=None):
        self.lib, self.number, self.boards = lib, number, boards

    def _call(self, name, *args):
        return _call(self.lib, "RVX406A_" + name, self.number, *args)

    def _started(self, axes):
        if self.boards is not None:
            self.boards.started.update((self.number, a) for a in axes)

    def axis(self, number):
        """The axis `number` (0..3) of this board."""
        return Axis(self, number)

    def group(self, map_number, axes, speed=None):
        """The interpolation group of map `map_number` (0..3), defined as
        `axes` (two or three axis numbers; the lowest is the first axis).
        speed: (start PPS, drive PPS, acc ms, dec ms) to set its profile."""
        return Group(self, map_number, axes, speed)

    def info(self):
        """(type, version, axes, DI count, DO count)."""
        return _outputs(self.lib, "RVX406A_BoardInfo", self.number, count=5)

    # Digital I/O
    def put_do(self, channel, value):
        """Switches output `channel` on (1) or off (0)."""
        self._call("PutDOBit", channel, int(value))

    def get_do(self, channel):
        """The state of output `channel`, 0 or 1."""
        return self._call("GetDOBit", channel)

    def get_di(self, channel):
        """The state of input `channel`, 0 or 1."""
        return self._call("GetDIBit", channel)

    def put_do_word(self, index, value):
        """Sets outputs 16 * index .. 16 * index + 15 from the bits of value."""
        self._call("PutDOWord", index, value)

    def get_do_word(self, index):
        """Outputs 16 * index .. 16 * index + 15 as one word."""
        return _outputs(self.lib, "RVX406A_GetDOWord", self.number, index, count=1)[0]

    def get_di_word(self, index):
        """Inputs 16 * index .. 16 * index + 15 as one word."""
        return _outputs(self.lib, "RVX406A_GetDIWord", self.number, index, count=1)[0]

    def reset(self):
        """RVX406A_Reset: the board's chip and settings back to their defaults."""
        self._call("Reset")

    def save(self):
        """Writes the board's settings to its parameter file."""
        self._call("SaveFile")

    # Several axes
    def home(self, axes):
        """Starts the home searches of 2..4 axes together (RVX406A_Multi_Home_Move);
        poll each axis's home_busy() or call its wait_home()."""
        array, count = _array(ctypes.c_uint16, axes)
        self._call("Multi_Home_Move", count, array)
        self._started(axes)

    def move(self, axes, distances, absolute=False):
        """Starts relative (or absolute) moves of 2..4 axes together."""
        array, count = _array(ctypes.c_uint16, axes)
        values, _ = _array(ctypes.c_int32, distances)
        self._call("Multi_Abs_Move" if absolute else "Multi_Inc_Move", count, array, values)
        self._started(axes)

    # Continuous interpolation table (one per process)
    def load_conti_table(self, segments):
        """Creates this process's continuous table from `segments`, each a
        ContiSegment or a tuple: ("line", x, y) or ("arc", x, y, cx, cy,
        direction 0|1), absolute end points (and centres). Returns the
        segments as the library took them. Only the first segment is ever run,
        by Group.conti_move(), after the group's running interpolation."""
        table = []
        for s in segments:
            if isinstance(s, ContiSegment):
                table.append(s)
            elif s[0] == "line" and len(s) == 3:
                table.append(ContiSegment(s[1], s[2], 0, 0, 0, 0))
            elif s[0] == "arc" and len(s) == 6 and s[5] in (0, 1):
                table.append(ContiSegment(s[1], s[2], s[3], s[4], 1 + s[5], 0))
            else:
                raise ValueError(f"segment {s!r}: ('line', x, y) or "
                                 "('arc', x, y, cx, cy, 0|1)")
        array = (ContiSegment * len(table))(*table)
        _call(self.lib, "RVX406A_SetInitContiTable")
        self._call("SetContiDataTable", len(table), array)
        return list(array)

    def free_conti_table(self):
        """Frees this process's continuous table."""
        _call(self.lib, "RVX406A_SetFreeContiTable")

    def conti_count(self):
        """The table's segment count once Group.conti_move() handed its first
        segment over; 0 before, or without a table."""
        return self.lib.RVX406A_GetCurContiNum()

    # Compare trigger
    def set_compare_width(self, axis, width):
        """Width of the compare window above each position, pulses."""
        self._call("SetCompTrgWidth", axis, width)

    def set_compare_mode(self, level, mode):
        """Trigger output level and compare mode (RVX406A_SetCompTrgMode)."""
        self._call("SetCompTrgMode", level, mode)

    def compare_table(self, axis, positions):
        """Arms the compare trigger of `axis` at `positions` (up to 65535, in
        order of travel; the watcher cycles back to the first after the last).
        Frees any table first."""
        self._call("SetInitCompTrg")
        array, count = _array(ctypes.c_int32, positions)
        self._call("SetCompTrgTable", axis, count, array)

    def compare_every(self, axis, count, start, interval):
        """As compare_table() with the positions start + k * interval."""
        self._call("SetInitCompTrg")
        self._call("SetCompTrgContTable", axis, count, start, interval)

    def free_compare(self):
        """Disarms the compare trigger and frees its table."""
        self._call("SetFreeCompTrg")

    # Events
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

    def motion_events(self):
        """Reads and clears the board's latched motion event bits. They are
        the board's, not an axis's: any program that reads them clears them
        for all."""
        return _outputs(self.lib, "RVX406A_GetMotEventStatus", self.number, 0, count=1)[0]

    def input_events(self):
        """Reads and clears the latched input events: (inputs 0-31, 32-63)."""
        return _outputs(self.lib, "RVX406A_GetDiEventStatus", self.number, count=2)


class Group:
    """An interpolation group: a map number naming two or three axes of a
    board. The path runs the group's interpolation profile on its first axis;
    moves return at once, done() and wait_done() follow the first axis."""

    def __init__(self, board, map_number, axes, speed=None):
        self.board, self.map, self.axes = board, map_number, sorted(axes)
        self.lib = board.lib
        mask = 0
        for a in axes:
            mask |= 1 << a
        self._call("SetIPMapAxes", mask)
        if speed is not None:
            self.set_speed(*speed)

    def _call(self, name, *args):
        return _call(self.lib, "RVX406A_" + name, self.board.number, self.map, *args)

    def _start(self, name, *args):
        self._call(name, *args)
        self.board._started(self.axes)

    def set_speed(self, start_pps, drive_pps, acc_ms, dec_ms):
        """The group's interpolation profile (RVX406A_SetIPPosSpeed)."""
        self._call("SetIPPosSpeed", start_pps, drive_pps, acc_ms, dec_ms)

    def speed(self):
        """(start PPS, drive PPS, acc ms, dec ms) of the group."""
        return _outputs(self.lib, "RVX406A_GetIPPosSpeed", self.board.number, self.map, count=4)

    def line(self, distances):
        """Relative linear interpolation, one distance per group axis. The
        longest axis runs the profile, so a diagonal runs faster along the
        path than the drive speed."""
        values, _ = _array(ctypes.c_int32, distances)
        self._start("Inc_Line", values)

    def line_to(self, positions):
        """Absolute linear interpolation, one target per group axis."""
        values, _ = _array(ctypes.c_int32, positions)
        self._start("Abs_Line", values)

    def arc(self, center, end, direction):
        """Relative circular interpolation: centre and end (x, y) relative to
        where the group stands; direction 1 counter-clockwise, 0 clockwise."""
        self._start("Inc_Arc", *center, *end, direction)

    def arc_to(self, center, end, direction):
        """Circular interpolation with absolute centre and end."""
        self._start("Abs_Arc", *center, *end, direction)

    def theta(self, center, angle):
        """Arc by `angle` whole degrees (-360..360; positive counter-clockwise)
        around a centre relative to where the group stands; 0 and 360 run a
        full circle. The start angle is truncated to whole degrees, which puts
        the end point up to one degree's arc off for other angles."""
        self._start("Inc_Theta", *center, angle)

    def theta_around(self, center, angle):
        """As theta() with an absolute centre."""
        self._start("Abs_Theta", *center, angle)

    def conti_move(self):
        """Hands the first segment of this process's continuous table to the
        chip, to run as soon as the group's running interpolation ends; does
        nothing when none runs. Raises nothing, as the library reports nothing."""
        self.lib.RVX406A_Conti_Move(self.board.number, self.map)

    def done(self):
        """True once the group's first axis stands; a path stopped by a cause
        raises that cause."""
        return not self._call("IPDone")

    def wait_done(self, poll_s=0.005, timeout_s=None):
        """Polls done(), sleeping between polls. After timeout_s the group gets
        a decelerating stop (it would drive on unwatched) and TimeoutError is
        raised."""
        deadline = None if timeout_s is None else time.monotonic() + timeout_s
        while not self.done():
            if deadline is not None and time.monotonic() > deadline:
                self.stop()
                raise TimeoutError(f"group {self.map} still moving after {timeout_s} s: stopped")
            time.sleep(poll_s)

    def stop(self, sudden=False):
        """Stops the group's path; returns once it stands. Holds the library
        mutex meanwhile, so other programs' calls wait."""
        self._call("IPSudden_Stop" if sudden else "IPDecel_Stop")


class Axis:
    """One axis: signals, speeds, moves, homing, status and positions."""

    def __init__(self, board, number):
        self.board, self.number = board, number
        self.lib = board.lib

    def _call(self, name, *args):
        return _call(self.lib, "RVX406A_" + name, self.board.number, self.number, *args)

    def _start(self, name, *args):
        self._call(name, *args)
        self.board._started([self.number])

    def _outputs(self, name, count):
        return _outputs(self.lib, "RVX406A_" + name, self.board.number, self.number, count=count)

    # Signals
    def servo(self, on):
        """Switches the servo-on output."""
        self._call("PutSvOn", int(on))

    def set_pulse_mode(self, mode):
        """Pulse output mode 0..5 (RVX406A_SetPulseMode)."""
        self._call("SetPulseMode", mode)

    def set_alarm(self, enable, logic):
        """Servo alarm input: enable (stops the axis), logic 0 low, 1 high active."""
        self._call("SetSvAlm", int(enable), logic)

    def set_inpos(self, enable, logic):
        """In-position input: enable, logic 0 low, 1 high active."""
        self._call("SetSvInpos", int(enable), logic)

    def set_limits(self, mode, logic):
        """Hardware limits: mode 0 sudden, 1 decelerating stop; logic 0 low, 1 high active."""
        self._call("SetHlmt", mode, logic)

    def set_soft_limits(self, plus, minus, enable=True):
        """Software limits at these logical positions."""
        self._call("SetSlmt", plus, minus, int(enable))

    # Speeds
    def set_speed(self, start_pps, drive_pps, acc_ms, dec_ms):
        """The positioning profile of move() and move_to()."""
        self._call("SetPosSpeed", start_pps, drive_pps, acc_ms, dec_ms)

    def speed(self):
        """(start PPS, drive PPS, acceleration ms, deceleration ms)."""
        return self._outputs("GetPosSpeed", 4)

    def set_jog_speed(self, start_pps, drive_pps, acc_ms):
        """The profile of jog()."""
        self._call("SetJogSpeed", start_pps, drive_pps, acc_ms)

    def set_s_curve(self, on):
        """S-curve (True) or trapezoid (False) ramps."""
        self._call("SetSpeedMode", int(on))

    # Moves
    def move(self, distance):
        """Starts a relative move of `distance` pulses; returns at once."""
        self._start("Inc_Move", distance)

    def move_to(self, position):
        """Starts an absolute move to `position`; returns at once."""
        self._start("Abs_Move", position)

    def jog(self, direction):
        """Runs with the jog profile until stopped (stop(), a limit, an
        alarm): direction 1 toward plus, 0 toward minus, as RVX406A_Jog_Move
        takes it."""
        self._start("Jog_Move", direction)

    def done(self):
        """True once the axis is idle; a move stopped by a cause (a limit,
        an alarm) raises that cause, once."""
        return not self._call("Done")

    def wait_done(self, poll_s=0.005, timeout_s=None):
        """Polls done() until the axis is idle, sleeping between polls. After
        timeout_s the axis gets a decelerating stop (it would drive on
        unwatched), and TimeoutError is raised once it stands."""
        deadline = None if timeout_s is None else time.monotonic() + timeout_s
        while not self.done():
            if deadline is not None and time.monotonic() > deadline:
                self.stop()
                while self.status & _BUSY:
                    time.sleep(poll_s)
                raise TimeoutError(f"axis {self.number} still moving after {timeout_s} s: stopped")
            time.sleep(poll_s)

    def wait(self):
        """Blocks in RVX406A_Wait, holding the library mutex: every other call
        of every program waits too. wait_done() does not."""
        self._call("Wait", 0)

    def stop(self, sudden=False):
        """A decelerating (or sudden) stop; returns at once."""
        self._call("Sudden_Stop" if sudden else "Decel_Stop")

    # Homing
    def set_home(self, mode=None, direction=None, speed=None, offset=None):
        """The home search settings given: mode 0..9 (default 2: near-home,
        then home), direction 0 plus, 1 minus (the default), speed (low PPS,
        high PPS, ramp ms), offset pulses driven after the search."""
        if mode is not None:
            self._call("SetHomeMode", mode)
        if direction is not None:
            self._call("SetHomeDir", direction)
        if speed is not None:
            self._call("SetHomeSpeed", *speed)
        if offset is not None:
            self._call("SetHomeOffset", offset)

    def home_settings(self):
        """(mode, direction, (low PPS, high PPS, ramp ms), offset)."""
        return (self._call("GetHomeMode"), self._call("GetHomeDir"),
                self._outputs("GetHomeSpeed", 3), self._call("GetHomeOffset"))

    def home(self):
        """Starts the home search; returns at once (see wait_home())."""
        self._start("Home_Move")

    def home_busy(self):
        """True while the home search drives."""
        return self._call("HomeIsBusy") == 1

    def wait_home(self, poll_s=0.005, timeout_s=60):
        """Waits for the home search and says whether the axis is homed: the
        library's home success flag, and no stop cause. The flag alone is 1
        also when a limit ended the search; that raises the stop cause here.
        After timeout_s the axis gets a decelerating stop and TimeoutError is
        raised. Both counters read 0 after a successful search (and its offset
        drive), not the position of the sensor's edge."""
        deadline = time.monotonic() + timeout_s
        while self.home_busy():
            if time.monotonic() > deadline:
                self.stop()
                while self.status & _BUSY:
                    time.sleep(poll_s)
                raise TimeoutError(f"axis {self.number}: no home found in {timeout_s} s: stopped")
            time.sleep(poll_s)
        cause = self.motion_error
        if cause < 0:
            raise errors.error(cause, "RVX406A_Home_Move")
        return self._call("GetHomeSuccess") == 1

    # Status and positions
    @property
    def status(self):
        """The card status word (bit 8: the axis drives)."""
        return self._call("GetCardStatus")

    @property
    def motion_error(self):
        """The stop cause of the last move, 0 or a negative result code."""
        return self._call("GetMotionErrCod")

    @property
    def speed_now(self):
        """The speed the axis runs at now, PPS."""
        return self._call("GetCommandSpeed")

    @property
    def command_pos(self):
        """The logical (command) position counter; settable."""
        return self._call("GetCommandPos")

    @command_pos.setter
    def command_pos(self, position):
        self._call("SetCommandPos", position)

    @property
    def actual_pos(self):
        """The real (encoder) position counter; settable."""
        return self._call("GetActualPos")

    @actual_pos.setter
    def actual_pos(self, position):
        self._call("SetActualPos", position)
