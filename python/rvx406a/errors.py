"""Result codes as exceptions: every named code has its own RvxError subclass,
named as in rvx406a.h (errors.ERR_STOP_BY_ALM). The message gives the code's
name and what it means in plain words (TEXTS)."""
from . import _api

# What each code means to the person at the machine; kept in step with
# rvxctl's table (tools/result_texts.cc).
TEXTS = {
    -1: "no board is loaded: the driver offered no board",
    -2: "a board's parameter file could not be loaded",
    -3: "the board is already in use",
    -4: "the board failed its bus test: check that it is seated in its slot",
    -5: "the expansion modules are not stacked from module 2 upward without a gap",
    -6: "the board's logic version is not supported",
    -7: "the board reports a type this library does not support",
    -10: "this library does not run on a 32-bit x86 system",
    -100: "the board is not open in this program (it was unloaded)",
    -101: "the library's lock between programs could not be made",
    -102: "the memory the programs share could not be made",
    -200: "no such input or output channel on this board",
    -201: "no such output word or byte on this board",
    -300: "a value is out of the range the function takes",
    -400: "the board ID is not valid",
    -410: "no board with that number was found",
    -500: "a file could not be created",
    -510: "an event could not be created",
    -512: "the start speed is too low",
    -520: "a thread could not be started",
    -533: "the start (or low) speed is above 4,000,000 PPS",
    -534: "the drive speed is too low",
    -535: "the drive (or high) speed is above 4,000,000 PPS",
    -536: "the acceleration time is too short",
    -537: "the acceleration time is above 64,000 ms",
    -538: "the deceleration time is too short",
    -539: "the deceleration time is above 64,000 ms",
    -540: "no such axis on this board (axes are 0 to 3)",
    -541: "the target lies more than 268,435,455 pulses away",
    -542: "memory for a table could not be had",
    -543: "a table could not be freed",
    -544: "the table holds too few entries",
    -545: "the table holds too many entries",
    -546: "the axis is still moving: stop it or wait for it first",
    -547: "the axis is still searching for home",
    -548: "the axis is not moving, so there is nothing to change",
    -549: "the running move is not of a kind that this change applies to",
    -550: "the axis is in manual-pulser mode",
    -551: "the counter mode does not allow this",
    -552: "the position compare trigger owns the compare registers",
    -600: "the axis was stopped by its + software limit",
    -610: "the axis was stopped by its - software limit",
    -620: "the axis was stopped by its + hardware limit",
    -630: "the axis was stopped by its - hardware limit",
    -640: "the axis was stopped by its servo drive's alarm",
    -650: "the axis was stopped by the emergency input",
    -660: "the home search stopped on an encoder Z-phase error",
    -700: "the axis was stopped: position error beyond its limit",
    -701: "the axis was stopped: no compare match",
    -702: "the axis was stopped: the search found nothing",
    -1120: "no such interpolation map (maps are 0 to 3)",
    -1121: "the interpolation group does not have the axes this needs",
    -9999: "the axis was stopped by several causes at once",
}


class RvxError(Exception):
    """A call that left a negative result code."""

    def __init__(self, code, function):
        self.code = code
        self.name = _api.RESULT_NAMES.get(code, str(code))
        self.text = TEXTS.get(code, "")
        self.function = function
        message = f"{function}: {self.name} ({code})"
        super().__init__(f"{message}: {self.text}" if self.text else message)


_BY_CODE = {}
for _code, _name in _api.RESULT_NAMES.items():
    if _code < 0:
        _BY_CODE[_code] = globals()[_name] = type(_name, (RvxError,), {})


def error(code, function):
    """The exception for a result code: its named subclass, or RvxError."""
    return _BY_CODE.get(code, RvxError)(code, function)
