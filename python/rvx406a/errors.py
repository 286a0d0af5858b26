"""Result codes as exceptions: every named code has its own RvxError subclass,
named as in rvx406a.h (errors.ERR_STOP_BY_ALM)."""
from . import _api


class RvxError(Exception):
    """A call that left a negative result code."""

    def __init__(self, code, function):
        self.code = code
        self.name = _api.RESULT_NAMES.get(code, str(code))
        self.function = function
        super().__init__(f"{function}: {self.name} ({code})")


_BY_CODE = {}
for _code, _name in _api.RESULT_NAMES.items():
    if _code < 0:
        _BY_CODE[_code] = globals()[_name] = type(_name, (RvxError,), {})


def error(code, function):
    """The exception for a result code: its named subclass, or RvxError."""
    return _BY_CODE.get(code, RvxError)(code, function)
