// The frame every exported call runs in: library mutex, board and axis checks,
// the result code, the call log line under the function's logging rule, and
// the last result. A function states only its own checks and work:
//
//   AxisCall call(board, axis, LogRule::kSetter);
//   if (call.Check(enable <= 1 && logic <= 1))
//     call.axis().SetWr2(Bits(call.shadow().wr2, {{wr2::kAlarmEnable, enable},
//                                                {wr2::kAlarmLogic, logic}}));
//   call.Log(" RV = %5d : RVX406A_SetSvAlm (%ld, %ld, %ld, %ld)", board, axis, enable, logic);
//
// The destructor stores the last result and releases the mutex.
#ifndef RVX_CORE_CALL_H_
#define RVX_CORE_CALL_H_

#include <initializer_list>
#include <type_traits>

#include "core/process.h"
#include "core/registers.h"
#include "core/shared_state.h"
#include "include/rvx406a.h"

namespace rvx {

// When a call's log line is written, by log level and result.
enum class LogRule {
  kLifecycle,     // levels 1-3 always
  kSetter,        // 1 and 3 always; 2 and above 3 on error
  kNarrowSetter,  // 1 and 3 always; 2 on error
  kWait,          // 1 always; 2 and 3 on error
  kGetter,        // 2 and above on error
  kLevel3,        // 3 always; 2 and above 3 on error
  kErrorAt3,      // 3 on error
  kSave,          // 2 and 3 always
  kAlways,        // every level, 0 included
};
bool ShouldLog(LogRule rule, u32 level, i32 result);

// One argument of a log line. Integers print with 32-bit semantics on every
// system ("%ld" of 0xFFFFFFFF is -1), as on the library's home platform.
class LogArg {
 public:
  template <class T, std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>, int> = 0>
  LogArg(T v) : kind_(kInt), int_(static_cast<int64_t>(v)) {}  // NOLINT: implicit by design
  LogArg(double v) : kind_(kDouble), double_(v) {}             // NOLINT
  LogArg(const char* v) : kind_(kString), string_(v) {}        // NOLINT
  LogArg(const void* v)                                        // NOLINT
      : kind_(kInt), int_(static_cast<int64_t>(reinterpret_cast<uintptr_t>(v))) {}

  enum Kind { kInt, kDouble, kString };
  Kind kind() const { return kind_; }
  int64_t as_int() const { return kind_ == kInt ? int_ : kind_ == kDouble ? int64_t(double_) : 0; }
  double as_double() const { return kind_ == kDouble ? double_ : kind_ == kInt ? double(int_) : 0; }
  const char* as_string() const { return kind_ == kString && string_ ? string_ : "(null)"; }

 private:
  Kind kind_;
  union {
    int64_t int_;
    double double_;
    const char* string_;
  };
};

// printf-style formatting of the conversions the log lines use
// (%d %ld %X %x %u %f %s with flags, width and precision) into `out`.
void FormatLine(char* out, size_t size, const char* format, std::initializer_list<LogArg> args);

// Appends "[time]" + line + CR LF to the day's log file in the install
// directory's Debug folder; silently does nothing when it cannot.
void WriteLogLine(const char* line);

// An axis of the board in a call: chip access with the register shadows of
// its shared block kept in step. The Set* writes are the configuration and
// mirror into the shadow; AxisIo's *NoShadow writes leave it alone.
class Axis : public AxisIo {
 public:
  Axis(const BoardIo& io, u32 axis, AxisBlock& block) : AxisIo(io, axis), block_(block) {}
  AxisBlock& block() const { return block_; }

  // Mode register writes: select the axis, write, mirror into the shadow.
  void SetWr1(u16 value) const;
  void SetWr2(u16 value) const;
  void SetWr3(u16 value) const;
  // Extension register write with the other word taken from its shadow.
  void SetEm6(u16 em6) const { SetExtensionWords(em6, block_.em7); }
  void SetEm7(u16 em7) const { SetExtensionWords(block_.em6, em7); }
  void SetExtensionWords(u16 em6, u16 em7) const;
  void SetSyncWords(u16 sm6, u16 sm7) const;

 private:
  AxisBlock& block_;
};

// Whether a call needs loaded boards: only loading itself runs without.
enum class Boards { kRequired, kNotRequired };

class Call {
 public:
  // Takes the library mutex; ERR_DEVICE_LOAD when boards are required and
  // none is loaded.
  explicit Call(LogRule rule, Boards boards = Boards::kRequired);
  ~Call();
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  bool ok() const { return result_ == ERR_SUCCESS; }
  i32 result() const { return result_; }
  // The first failure of a call is its result.
  void Fail(i32 code) {
    if (ok()) result_ = code;
  }
  // Fails with `code` unless `condition` holds; true while the call is ok.
  bool Check(bool condition, i32 code = ERR_INVALID_PARAMETER) {
    if (!condition) Fail(code);
    return ok();
  }
  // Refuses a null pointer the call would read or write through
  // (ERR_INVALID_PARAMETER); true while the call is ok.
  template <class... T>
  bool CheckPointers(const T*... pointers) {
    return Check(((pointers != nullptr) && ...));
  }
  // Replaces the result (a stop cause reported on success).
  void SetResult(i32 code) { result_ = code; }

  // Formats the call log line (the result is its first value) and writes it
  // when the log level and the logging rule say so. May be called per line.
  template <class... Args>
  void Log(const char* format, const Args&... args) {
    if (WillLog()) LogLine(format, {LogArg(result_), LogArg(args)...});
  }

  Process& process() const { return process_; }
  SharedSection& shared() const { return *process_.shared; }

 private:
  // Most calls write nothing at the usual log levels: the line is formatted
  // only when it will be written, and level 0 is told here without a call.
  bool WillLog() const {
    const SharedSection* shared = process_.shared;
    if (shared == nullptr || (shared->log_level == 0 && rule_ != LogRule::kAlways)) return false;
    return ShouldLog(rule_, shared->log_level, result_);
  }
  void LogLine(const char* format, std::initializer_list<LogArg> args);

  Process& process_;
  std::unique_lock<os::ThreadLock> serial_;
  os::Handle mutex_;  // the library mutex this call holds
  LogRule rule_;
  i32 result_ = ERR_SUCCESS;
};

// A call on one board: the board number is below the board count and the
// board is open. Accessors are valid only while ok() after construction.
class BoardCall : public Call {
 public:
  BoardCall(u16 board, LogRule rule);

  u16 board_number() const { return board_; }
  const BoardIo& io() const { return io_; }
  BoardRecord& record() const { return process().table.board[board_]; }
  BoardBlock& block() const { return shared().board[board_]; }
  // Board-wide values live in axis 0's block.
  AxisBlock& board_values() const { return block().axis[0]; }
  // True when `axis` is one of the board's axes.
  bool HasAxis(u32 axis) const;
  Axis axis_at(u32 axis) const { return Axis(io_, axis, block().axis[axis]); }

 private:
  u16 board_;
  BoardIo io_;
};

// A call on one axis: the axis is one of the board's (ERR_AXIS_NUM).
class AxisCall : public BoardCall {
 public:
  AxisCall(u16 board, u16 axis, LogRule rule);

  u16 axis_number() const { return axis_; }
  Axis axis() const { return axis_at(axis_); }
  AxisBlock& shadow() const { return block().axis[axis_]; }

 private:
  u16 axis_;
};

// Sets every output to zero: getters clear their outputs before the mutex.
// A null output is left for the call to refuse.
template <class... T>
void ZeroOutputs(T*... outputs) {
  ((outputs != nullptr ? void(*outputs = 0) : void()), ...);
}

// What an output holds, for a log line; 0 for a null one.
template <class T>
T Shown(const T* output) {
  return output != nullptr ? *output : T();
}
// An element of an input array, for a log line; 0 for a null array.
template <class T>
T Shown(const T* array, u32 index) {
  return array != nullptr ? array[index] : T();
}

}  // namespace rvx

#endif  // RVX_CORE_CALL_H_
