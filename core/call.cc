#include "core/call.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace rvx {

bool ShouldLog(LogRule rule, u32 level, i32 result) {
  const bool error = result != ERR_SUCCESS;
  if (rule == LogRule::kAlways) return true;
  if (level == 0) return false;
  const int column = level > 3 ? 3 : static_cast<int>(level) - 1;  // 1, 2, 3, above 3
  enum When { N, A, E };                                           // never, always, on error
  static constexpr When kTable[][4] = {
      /* kLifecycle    */ {A, A, A, N},
      /* kSetter       */ {A, E, A, E},
      /* kNarrowSetter */ {A, E, A, N},
      /* kWait         */ {A, E, E, N},
      /* kGetter       */ {N, E, E, E},
      /* kLevel3       */ {N, E, A, E},
      /* kErrorAt3     */ {N, N, E, N},
      /* kSave         */ {N, A, A, N},
  };
  const When when = kTable[static_cast<int>(rule)][column];
  return when == A || (when == E && error);
}

void FormatLine(char* out, size_t size, const char* format, std::initializer_list<LogArg> args) {
  size_t used = 0;
  auto append = [&](const char* text, size_t length) {
    const size_t room = size - 1 - used;
    if (length > room) length = room;
    memcpy(out + used, text, length);
    used += length;
  };
  const LogArg* arg = args.begin();
  const char* p = format;
  while (*p != '\0') {
    if (*p != '%') {
      const char* next = strchr(p, '%');
      const size_t length = next ? static_cast<size_t>(next - p) : strlen(p);
      append(p, length);
      p += length;
      continue;
    }
    if (p[1] == '%') {
      append("%", 1);
      p += 2;
      continue;
    }
    // One conversion: keep flags, width and precision, drop length modifiers,
    // and feed the argument at the width the conversion expects.
    char conversion[32] = "%";
    size_t length = 1;
    ++p;
    while (*p != '\0' && strchr("-+ #0123456789.", *p) != nullptr && length < 24) {
      conversion[length++] = *p++;
    }
    while (*p == 'l' || *p == 'h') ++p;
    const char type = *p != '\0' ? *p++ : 'd';
    conversion[length++] = type;
    conversion[length] = '\0';

    const bool have = arg != args.end();
    const LogArg value = have ? *arg++ : LogArg(0);
    char piece[kPathSize];
    int written;
    switch (type) {
      case 'd':
      case 'i':
      case 'c':
        written = snprintf(piece, sizeof piece, conversion, static_cast<int>(value.as_int()));
        break;
      case 'u':
      case 'x':
      case 'X':
      case 'o':
        written = snprintf(piece, sizeof piece, conversion,
                           static_cast<unsigned>(static_cast<u32>(value.as_int())));
        break;
      case 's':
        written = snprintf(piece, sizeof piece, conversion, value.as_string());
        break;
      default:
        written = snprintf(piece, sizeof piece, conversion, value.as_double());
        break;
    }
    if (written > 0) append(piece, strlen(piece));
  }
  out[used] = '\0';
}

void WriteLogLine(const char* line) {
  Process& p = process();
  const os::LocalTime t = p.seams.local_time ? p.seams.local_time() : os::GetLocalTime();
  std::string path = "C:\\logfile.log";
  if (p.install_dir[0] != '\0') {
    const char sep = os::PathSeparator();
    path = std::string(p.install_dir) + sep + "Debug" + sep + "logfile.log";
  }
  path.erase(path.rfind('.'));
  char date[32];
  snprintf(date, sizeof date, "_%04d%02d%02d.log", t.year, t.month, t.day);
  path += date;

  FILE* file = p.seams.Fails(OsCall::kOpenLogFile) ? nullptr : fopen(path.c_str(), "ab");
  if (file == nullptr) return;
  fprintf(file, "[%04d:%02d:%02d:%02d:%02d:%02d:%03d]%s\r\n", t.year, t.month, t.day, t.hour,
          t.minute, t.second, t.millisecond, line);
  fclose(file);
}

void Axis::SetWr1(u16 value) const {
  WriteModeNoShadow(chip::kWr1, value);
  block_.wr1 = value;
}

void Axis::SetWr2(u16 value) const {
  WriteModeNoShadow(chip::kWr2, value);
  block_.wr2 = value;
}

void Axis::SetWr3(u16 value) const {
  WriteModeNoShadow(chip::kWr3, value);
  block_.wr3 = value;
}

void Axis::SetExtensionWords(u16 em6, u16 em7) const {
  WriteExtensionNoShadow(em6, em7);
  block_.em6 = em6;
  block_.em7 = em7;
}

void Axis::SetSyncWords(u16 sm6, u16 sm7) const {
  WriteSyncNoShadow(sm6, sm7);
  block_.sm6 = sm6;
  block_.sm7 = sm7;
}

Call::Call(LogRule rule, Boards boards)
    : process_(rvx::process()), serial_(process_.calls), mutex_(process_.mutex), rule_(rule) {
  // Released only when taken: the count of takes is the owner's alone.
  if (mutex_ != nullptr && !os::WaitMutex(mutex_)) mutex_ = nullptr;
  if (boards == Boards::kRequired && process_.table.count == 0) result_ = ERR_DEVICE_LOAD;
}

Call::~Call() {
  process_.last_result = result_;
  if (mutex_ != nullptr) os::ReleaseMutex(mutex_);
}

void Call::LogLine(const char* format, std::initializer_list<LogArg> args) {
  FormatLine(process_.line, sizeof process_.line, format, args);
  WriteLogLine(process_.line);
}

BoardCall::BoardCall(u16 board, LogRule rule)
    : Call(rule), board_(board), io_(nullptr, process().driver) {
  if (!ok()) return;
  if (board >= process().table.count) {
    Fail(ERR_BOARD_NUMBER);
  } else if (record().handle == nullptr) {
    Fail(ERR_INVALID_HANDLE);
  } else {
    io_ = BoardIo(record().handle, process().driver, &block().chip_lock, process().pid);
  }
}

bool BoardCall::HasAxis(u32 axis) const {
  const BoardRecord& r = record();
  return axis >= r.first_axis && axis < r.axis_count;
}

AxisCall::AxisCall(u16 board, u16 axis, LogRule rule) : BoardCall(board, rule), axis_(axis) {
  if (ok() && !HasAxis(axis)) Fail(ERR_AXIS_NUM);
}

}  // namespace rvx
