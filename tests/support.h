// Shared test support: a fresh simulated world per test, readable renderings
// of the driver requests and the expected writes and log lines, starts by
// kind, a guard that ends hung waits, the log file, and child processes.
#ifndef RVX_TESTS_SUPPORT_H_
#define RVX_TESTS_SUPPORT_H_

#include <gmock/gmock.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <future>
#include <initializer_list>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/process.h"
#include "core/registers.h"
#include "include/rvx406a.h"
#include "motion/motion.h"
#include "platform/platform.h"
#include "sim/sim.h"

namespace rvx::test {

using ::testing::ElementsAre;
using Strings = std::vector<std::string>;

// Each test gets its own IPC namespace, install directory (with Parameter
// and Debug folders) and simulated boards; TearDown removes them all.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The simulated hardware of the test; one type-1 board by default.
  virtual sim::Config Boards() const { return sim::Config{}; }

  void Load() { ASSERT_GE(RVX406A_LoadDevice(), 0) << "LoadDevice failed"; }
  // Loads anew one board whose PLD register 1 reads `identity`: module bits,
  // type code, byte swap flag.
  void LoadBoard(u8 identity);
  std::string ParameterPath(int board) const {
    return install_dir_ + "Parameter/RVXPRM" + std::to_string(board) + ".DAT";
  }
  // Lines of every log file of the Debug folder without their CR LF and
  // their "[time]" prefix.
  std::vector<std::string> LoggedCalls() const;
  void ClearLog() const;
  SharedSection& shared() const { return *process().shared; }
  AxisBlock& axis_block(int board, int axis) const { return shared().board[board].axis[axis]; }

  std::string ns_;
  std::string install_dir_;  // ends with the path separator
};

// New boards of `config` as the register-level tests want them: stepped
// time, and drives that end after the RR0 polls SetDriveDuration gives (at
// once unless set).
void ResetBoards(sim::Config config);

// Driver requests rendered for assertions:
//   writes  "WR7=C000" (chip), "P103=FF" (PLD bank), "L48=00000001" (local),
//           "E12=0000" (event window)
//   reads   "RR0" (chip), "RP1" (PLD), "RL48", "RE10"
//   others  "C:E0003878"
// Every request of a trace; the writes since StartTrace().
std::vector<std::string> Requests(const std::vector<sim::Request>& trace);
std::vector<std::string> TracedWrites();

void WriteFile(const std::string& path, const std::string& text);
// A minimal PE32 file whose version resource holds, under
// "\StringFileInfo\<language>", the (key, text) values given.
std::string VersionedPe(const std::u16string& language,
                        const std::vector<std::pair<std::u16string, std::u16string>>& values);
std::string ReadFile(const std::string& path);
// Removes a file or a directory tree, if present, read-only files and folders
// included (Windows refuses to delete those as they are).
void RemoveTree(const std::string& path);

int CurrentProcessId();
// What this process holds from the system: open descriptors or handles, and
// mapped shared-memory objects (0 where the system does not show them).
using HeldResources = std::pair<long, long>;
HeldResources Held();
// A new empty directory under the system's temporary directory, its path
// ending with the path separator; "" when none could be made.
std::string MakeTempDir();

// Child processes run this test binary again, executing the child registered
// under a name (RVX_TEST_CHILD) with the parent's environment and working
// directory. The command line is: <this binary> --rvx-child=<name> <args...>.
inline constexpr char kChildFlag[] = "--rvx-child=";
struct ChildProcess {
  intptr_t id = 0;  // the process id (POSIX) or process handle (Windows); 0: none
};
// StartChild returns at once (id 0: not started); WaitChild gives the exit
// code (-1: not started) and must be called once for each started child.
ChildProcess StartChild(const std::string& name, const std::vector<std::string>& args = {});
int WaitChild(ChildProcess child);
inline int RunChild(const std::string& name, const std::vector<std::string>& args = {}) {
  return WaitChild(StartChild(name, args));
}

// Runs `command` through the system's command interpreter; its exit code
// (-1 when it could not be run), with stdout and stderr in `output`.
int RunCommand(const std::string& command, std::string* output);

using ChildMain = int (*)(const std::vector<std::string>& args);
struct ChildRegistrar {
  ChildRegistrar(const char* name, ChildMain main);
};
// Runs the child named on the command line, if any, and ends the process
// with its exit code; returns when there is none.
void RunChildFromCommandLine(int argc, char** argv);

// A message target of the calling thread, as an application has one: the
// library's POSIX window, a message-only window on Windows. Messages posted
// to it (os::PostMessage) queue on the thread; the library's message-pumping
// waits dispatch them to `proc`.
using TestWindowProc = void (*)(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam);
void* CreateTestWindow(TestWindowProc proc);
void DestroyTestWindow(void* window);

// The boards loaded, the log at `kLevel`.
template <u32 kLevel = 1>
class LoadedTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    Load();
    shared().log_level = kLevel;
  }
};

inline Strings Join(std::initializer_list<Strings> parts) {
  Strings all;
  for (const Strings& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The items, each followed by a blank: "WR0=0224 WR0=0262 ".
inline std::string Joined(const Strings& items) {
  std::string text;
  for (const std::string& item : items) text += item + " ";
  return text;
}

// "WR6=1388": a register write as the trace renders it.
inline std::string Reg(const char* name, unsigned value, int digits = 4) {
  char text[24];
  snprintf(text, sizeof text, "%s=%0*X", name, digits, value);
  return text;
}

// A 16-bit chip parameter (WR6, command), a 32-bit one (WR7, WR6, command).
inline Strings Param(unsigned command, unsigned value) {
  return {Reg("WR6", value), Reg("WR0", command)};
}
inline Strings Param32(unsigned command, unsigned value) {
  return {Reg("WR7", value >> 16), Reg("WR6", value & 0xFFFF), Reg("WR0", command)};
}
// 16-bit parameters of the axis with select bit `select`: {code, value} pairs.
inline Strings Params(unsigned select, std::initializer_list<std::pair<unsigned, unsigned>> list) {
  Strings all;
  for (const auto& [code, value] : list) all = Join({all, Param(select | code, value)});
  return all;
}

// " RV =  -620 : RVX406A_<call>": a call log line.
inline std::string Logged(i32 result, const std::string& call) {
  char rv[24];
  snprintf(rv, sizeof rv, " RV = %5d : RVX406A_", result);
  return rv + call;
}

// " (0, 2, 7)": the arguments of a call as its log line shows them.
inline std::string Args(std::initializer_list<long long> values) {
  std::string text = " (";
  for (long long v : values) text += (text.size() > 2 ? ", " : "") + std::to_string(v);
  return text + ")";
}

inline Strings TracedRequests() {
  Strings out;
  for (const std::string& r : Requests(sim::Trace())) {
    if (r != "RP1") out.push_back(r);
  }
  return out;
}

inline void Start(MoveKind kind, u16 axis, i32 value) {
  if (kind == kRelativeMove) RVX406A_Inc_Move(0, axis, value);
  if (kind == kAbsoluteMove) RVX406A_Abs_Move(0, axis, value);
  if (kind == kContinuousMove) RVX406A_Jog_Move(0, axis, static_cast<u16>(value));
}

inline void StartMulti(MoveKind kind, const std::vector<u16>& axes,
                       const std::vector<i32>& values) {
  const u16 count = static_cast<u16>(axes.size());
  if (kind == kRelativeMove) RVX406A_Multi_Inc_Move(0, count, axes.data(), values.data());
  if (kind == kAbsoluteMove) RVX406A_Multi_Abs_Move(0, count, axes.data(), values.data());
  const std::vector<u16> directions(values.begin(), values.end());
  if (kind == kContinuousMove) RVX406A_Multi_Jog_Move(0, count, axes.data(), directions.data());
}

// Runs `body` on a thread of its own; while it is still blocked after 10 s
// the drives of board 0 are ended, so that its waits return, and the test fails.
template <class F>
auto Guarded(F body) {
  auto done = std::async(std::launch::async, body);
  if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "a wait did not return";
    while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
      for (u32 a = 0; a < 4; ++a) sim::SetDriving(0, a, false);
    }
  }
  return done.get();
}

}  // namespace rvx::test

// Defines a child process body: RVX_TEST_CHILD(name) { ...; return code; }
#define RVX_TEST_CHILD(name)                                                      \
  static int name##_Child(const std::vector<std::string>& args);                  \
  static const ::rvx::test::ChildRegistrar name##_registrar(#name, name##_Child); \
  static int name##_Child([[maybe_unused]] const std::vector<std::string>& args)

namespace rvx::test {

// A getter's output, preset to all ones so that an untouched output shows.
template <class T>
u32 Out(void (*get)(uint16_t, uint16_t, T*), uint16_t board, uint16_t index) {
  T value = static_cast<T>(~0u);
  get(board, index, &value);
  return value;
}

// Runs the command-line tool in the test's namespace and install directory:
// its exit status and output.
inline std::pair<int, std::string> RunTool(const std::string& args) {
  std::string output;
  const int status = RunCommand(std::string(RVX_CTL_PATH) + " " + args, &output);
  return {status, output};
}

}  // namespace rvx::test

#endif  // RVX_TESTS_SUPPORT_H_
