// The checks and texts the commands share.
#include "tools/rvxctl_common.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>

#include "include/rvx406a.h"
#include "platform/platform.h"
#include "tools/result_texts.h"

namespace rvxctl {

// A whole integer: an optional sign, then decimal digits or 0x and hex
// digits. Nothing else may follow; "010" is ten, as a person means it.
bool ParseInteger(const std::string &text, long long *value) {
  size_t i = text.empty() || (text[0] != '-' && text[0] != '+') ? 0 : 1;
  const bool negative = i == 1 && text[0] == '-';
  int base = 10;
  if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) base = 16, i += 2;
  const char *digits = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
  if (i == text.size() || text.find_first_not_of(digits, i) != std::string::npos) return false;
  // Too long to hold is a number still, just out of every range.
  const size_t most = base == 16 ? 15 : 18;
  const long long magnitude =
      text.size() - i > most ? LLONG_MAX : std::stoll(text.substr(i), nullptr, base);
  *value = negative ? -magnitude : magnitude;
  return true;
}

bool ParseLong(const std::string &text, long *value) {
  long long v = 0;
  if (!ParseInteger(text, &v) || v < LONG_MIN || v > LONG_MAX) return false;
  *value = static_cast<long>(v);
  return true;
}

bool ParseI32(const std::string &text, int32_t *value) {
  long long v = 0;
  if (!ParseInteger(text, &v) || v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

// Hexadecimal with or without its 0x.
bool ParseHex(std::string text, long *value) {
  if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) text.erase(0, 2);
  if (text.empty() || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    return false;
  }
  *value = std::strtol(text.c_str(), nullptr, 16);
  return true;
}

// "a,b,c" into its parts (one empty part for an empty text).
std::vector<std::string> Split(const std::string &text, char separator) {
  std::vector<std::string> parts;
  for (size_t from = 0;;) {
    const size_t at = text.find(separator, from);
    parts.push_back(text.substr(from, at - from));
    if (at == std::string::npos) return parts;
    from = at + 1;
  }
}

// ---- Reporting ----

// The name of a result code with what it means to the user.
std::string Explained(int32_t code) {
  const char *text = rvxctl::PlainText(code);
  return ResultName(code) + (text != nullptr ? std::string(": ") + text : "");
}

namespace {

// What the library takes where it refuses a value of the command line.
struct RangeHint {
  const char *call;
  int32_t code;
  const char *takes;
};
constexpr RangeHint kRangeHints[] = {
    {"Inc_Move", ERR_INVALID_PARAMETER, "a distance of -268435455..268435455 pulses"},
    {"Multi_Inc_Move", ERR_INVALID_PARAMETER, "distances of -268435455..268435455 pulses"},
    {"Inc_Line", ERR_INVALID_PARAMETER, "distances of -268435455..268435455 pulses"},
    {"Abs_Move", ERR_INVALID_PARAMETER, "any position but -2147483648"},
    {"Multi_Abs_Move", ERR_INVALID_PARAMETER, "any positions but -2147483648"},
    {"Abs_Line", ERR_INVALID_PARAMETER, "any positions but -2147483648"},
    {"Inc_Arc", ERR_INVALID_PARAMETER,
     "a centre and an end point of -268435455..268435455 pulses each, direction 0 or 1"},
    {"Abs_Arc", ERR_INVALID_PARAMETER,
     "any centre and end point but -2147483648, direction 0 or 1"},
    {"Inc_Theta", ERR_INVALID_PARAMETER,
     "an ANGLE of -360..360 whole degrees and a centre of -268435455..268435455 pulses"},
    {"Abs_Theta", ERR_INVALID_PARAMETER,
     "an ANGLE of -360..360 whole degrees and any centre but -2147483648"},
    {nullptr, ERR_MAX_DISTANCE, "targets at most 268435455 pulses from where the axes stand"},
};

}  // namespace

// True when the last call succeeded; otherwise says which call failed, and
// what it takes where the library refused a value.
bool Succeeded(const char *call) {
  const int32_t code = RVX406A_GetErrorCode();
  if (code == ERR_SUCCESS) return true;
  fflush(stdout);  // keep the report in order when both go to one terminal
  fprintf(stderr, "rvxctl: %s: %s\n", call, Explained(code).c_str());
  for (const RangeHint &h : kRangeHints) {
    if (h.code == code && (h.call == nullptr || strcmp(h.call, call) == 0)) {
      fprintf(stderr, "rvxctl: %s takes %s\n", call, h.takes);
      break;
    }
  }
  return false;
}

void PrintPositions(uint16_t board, uint16_t axis) {
  const int32_t command = RVX406A_GetCommandPos(board, axis);
  const int32_t actual = RVX406A_GetActualPos(board, axis);
  printf("board %u axis %u: command %d, actual %d\n", board, axis, command, actual);
}

// Reports the stop cause left by Wait or Multi_Wait; 0 for a clean stop.
int ReportStop(const char *what) {
  const int32_t cause = RVX406A_GetErrorCode();
  printf("%s ended: %s\n", what, Explained(cause).c_str());
  return cause == ERR_SUCCESS ? 0 : 1;
}

std::string LogPath() {
  const rvx::os::LocalTime t = rvx::os::GetLocalTime();
  std::string dir = rvx::process().install_dir;
  const char sep = rvx::os::PathSeparator();
  if (!dir.empty() && dir.back() != sep && dir.back() != '/') dir += sep;
  char name[64];
  snprintf(name, sizeof name, "Debug%clogfile_%04d%02d%02d.log", sep, t.year, t.month, t.day);
  return dir + name;
}

std::string LogFileNote() {
  const std::string path = LogPath();
  const std::string folder = path.substr(0, path.find_last_of("/\\"));
  std::error_code error;
  if (std::filesystem::is_directory(folder, error)) return path;
  return path + " (not written: the folder " + folder + " does not exist; make it to get a log)";
}

bool Refuse(const char *name, const std::string &text, const char *why) {
  fflush(stdout);
  fprintf(stderr, "rvxctl: %s: %s%s%s\n", name, text.empty() ? "" : "'",
          text.empty() ? "missing" : text.c_str(), why);
  return false;
}

// ---- Commands ----

// A choice of words, each standing for a value: on/off, +/-.
bool Word(const std::string &text, const char *name,
          const std::vector<std::pair<const char *, uint16_t>> &words, uint16_t *out) {
  std::string names;
  for (const auto &[word, value] : words) {
    if (text == word) return *out = value, true;
    names += (names.empty() ? "" : " or ") + std::string(word);
  }
  return Refuse(name, text, ("' is not " + names).c_str());
}

const rvx::BoardRecord &Record(uint16_t board) { return rvx::process().table.board[board]; }

bool BoardArg(const std::string &text, uint16_t *board) {
  const uint32_t count = rvx::process().table.count;
  return Number(text, "BOARD", 0, count - 1, board,
                std::to_string(count) + (count == 1 ? " board was found" : " boards were found"));
}

bool BoardArg(const Args &args, size_t i, uint16_t *board) { return BoardArg(args[i], board); }

bool AxisArg(uint16_t board, const std::string &text, uint16_t *axis) {
  return Number(text, "AXIS", 0, Record(board).axis_count - 1, axis,
                "the axes of board " + std::to_string(board));
}

bool BoardAndAxis(const Args &args, uint16_t *board, uint16_t *axis) {
  return BoardArg(args, 0, board) && AxisArg(board[0], args[1], axis);
}

// "0,2,3": each a valid axis of the board, none twice, `min`..`max` of them.
bool AxesArg(uint16_t board, const std::string &text, const char *name, size_t min, size_t max,
             std::vector<uint16_t> *axes) {
  for (const std::string &part : Split(text, ',')) {
    uint16_t axis = 0;
    if (!Number(part, name, 0, Record(board).axis_count - 1, &axis,
                "the axes of board " + std::to_string(board))) {
      return false;
    }
    if (std::find(axes->begin(), axes->end(), axis) != axes->end()) {
      return Refuse(name, text, ("': axis " + std::to_string(axis) + " is listed twice").c_str());
    }
    axes->push_back(axis);
  }
  if (axes->size() < min || axes->size() > max) {
    const std::string want = std::to_string(min) + (min == max ? "" : " to " + std::to_string(max));
    return Refuse(name, text,
                  ("' lists " + std::to_string(axes->size()) + " axes; give " + want).c_str());
  }
  return true;
}

// Exactly `count` comma-separated numbers, one for each of `count` axes.
bool ValuesArg(const std::string &text, const char *name, size_t count,
               std::vector<int32_t> *values) {
  for (const std::string &part : Split(text, ',')) {
    int32_t v = 0;
    if (!Number(part, name, INT32_MIN, INT32_MAX, &v)) return false;
    values->push_back(v);
  }
  if (values->size() == count) return true;
  char why[96];
  snprintf(why, sizeof why, "' gives %zu value%s for %zu ax%s: give as many as axes",
           values->size(), values->size() == 1 ? "" : "s", count, count == 1 ? "is" : "es");
  return Refuse(name, text, why);
}

// Speeds (PPS) and times (ms) as "START,DRIVE,ACC,DEC": as many as `form`
// names, none negative. Their upper limits are the library's to judge.
bool SpeedsArg(const std::string &text, const char *name, const char *form,
               std::vector<uint32_t> *values) {
  const size_t count = static_cast<size_t>(std::count(form, form + strlen(form), ',')) + 1;
  const std::vector<std::string> parts = Split(text, ',');
  if (parts.size() != count) return Refuse(name, text, ("': give " + std::string(form)).c_str());
  for (const std::string &part : parts) {
    uint32_t v = 0;
    if (!Number(part, name, 0, UINT32_MAX, &v)) return false;
    values->push_back(v);
  }
  return true;
}

// The first termination signal that arrived (Ctrl-C; a closed terminal or
// dropped session, SIGHUP; SIGTERM), or 0: watch ends, a move, home search or
// path is stopped, and the boards are unloaded as usual.
BoardKind board_kind = BoardKind::kDriver;

volatile std::sig_atomic_t interrupted = 0;
namespace {
void OnInterrupt(int signal) {
  if (interrupted == 0) interrupted = signal;
  std::signal(signal, OnInterrupt);  // the Windows runtime resets it to the default
}

}  // namespace

// While a command drives axes, a termination signal stops them instead of
// leaving them running with nobody watching. The handlers stay for the rest
// of the run, so that a second signal cannot cut the stop, the report or the
// unload short.
CatchInterrupt::CatchInterrupt() {
  interrupted = 0;
  for (int signal : rvx::os::TerminationSignals()) std::signal(signal, OnInterrupt);
}

// Exit status of a command stopped by a signal, as a shell reports it (130
// for Ctrl-C).
int InterruptedStatus() { return 128 + interrupted; }

std::string AxisList(const std::vector<uint16_t> &axes) {
  std::string list;
  for (uint16_t a : axes) list += (list.empty() ? "" : ",") + std::to_string(a);
  return list;
}

bool AxisBusy(uint16_t board, uint16_t axis) {
  return (RVX406A_GetCardStatus(board, axis) & (1u << 8)) != 0 && RVX406A_GetErrorCode() == 0;
}

// After a termination signal: a decelerating stop for the axes this command started, then
// waits until they stand.
int StopInterrupted(uint16_t board, const std::vector<uint16_t> &axes) {
  const uint16_t count = static_cast<uint16_t>(axes.size());
  if (count == 1) {
    RVX406A_Decel_Stop(board, axes[0]);
  } else {
    RVX406A_Multi_Decel_Stop(board, count, axes.data());
  }
  Succeeded(count == 1 ? "Decel_Stop" : "Multi_Decel_Stop");
  for (uint16_t axis : axes) {
    while (AxisBusy(board, axis)) rvx::os::Sleep(1);
  }
  printf("interrupted: board %u ax%s %s stopped by a decelerating stop\n", board,
         count == 1 ? "is" : "es", AxisList(axes).c_str());
  for (uint16_t axis : axes) PrintPositions(board, axis);
  return InterruptedStatus();
}

// A drive that ended with no cause but short of its target was ended by a
// stop command (from this or another program): not a clean end.
int ShortOfTarget(uint16_t board, const std::vector<uint16_t> &axes,
                  const std::vector<int32_t> &targets) {
  int status = 0;
  for (size_t i = 0; i < targets.size(); ++i) {
    const int32_t at = RVX406A_GetCommandPos(board, axes[i]);
    if (at == targets[i]) continue;
    printf("board %u axis %u stopped at %d, short of its target %d: a stop command ended it\n",
           board, axes[i], at, targets[i]);
    status = 1;
  }
  return status;
}

std::vector<int32_t> Targets(uint16_t board, const std::vector<uint16_t> &axes,
                             const std::vector<int32_t> &values, bool absolute) {
  std::vector<int32_t> targets = values;
  for (size_t i = 0; i < axes.size() && !absolute; ++i) {
    targets[i] = static_cast<int32_t>(static_cast<uint32_t>(values[i]) +
                                      static_cast<uint32_t>(RVX406A_GetCommandPos(board, axes[i])));
  }
  return targets;
}

}  // namespace rvxctl
