// Shared test support: a fresh simulated world per test, readable renderings
// of the driver requests, the log file, and child processes.
#ifndef RVX_TESTS_SUPPORT_H_
#define RVX_TESTS_SUPPORT_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/process.h"
#include "include/rvx406a.h"
#include "sim/sim.h"

namespace rvx::test {

// Each test gets its own IPC namespace, install directory (with Parameter
// and Debug folders) and simulated boards; the library talks to the
// simulator. TearDown unloads and removes everything the test created.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The simulated hardware of the test; one type-1 board by default.
  virtual sim::Config Boards() const { return sim::Config{}; }

  // Loads the boards and fails the test unless LoadDevice succeeds.
  void Load();
  std::string ParameterPath(int board) const;
  std::string LogLevelPath() const { return install_dir_ + "DbgLevel.ini"; }
  // Lines of every log file of the Debug folder, without their CR LF.
  std::vector<std::string> LogLines() const;
  // The same with the "[time]" prefix cut off.
  std::vector<std::string> LoggedCalls() const;
  void ClearLog() const;
  SharedSection& shared() const { return *process().shared; }
  AxisBlock& axis_block(int board, int axis) const { return shared().board[board].axis[axis]; }

  std::string ns_;
  std::string install_dir_;  // ends with '/'
};

// Driver requests rendered for assertions:
//   writes  "WR7=C000" (chip), "P103=FF" (PLD bank), "L48=00000001" (local),
//           "E12=0000" (event window)
//   reads   "RR0" (chip), "RP1" (PLD), "RL48", "RE10"
//   others  "C:E0003878"
std::string Render(const sim::Request& request);
// Every request, or only the writes, of a trace.
std::vector<std::string> Requests(const std::vector<sim::Request>& trace);
std::vector<std::string> Writes(const std::vector<sim::Request>& trace);
// Writes of the trace since StartTrace(); tracing goes on.
std::vector<std::string> TracedWrites();

void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);

// Runs this test binary again as a separate process executing the child
// registered under `name`, with this process's environment; its exit code.
int RunChild(const std::string& name, const std::vector<std::string>& args = {});

using ChildMain = int (*)(const std::vector<std::string>& args);
struct ChildRegistrar {
  ChildRegistrar(const char* name, ChildMain main);
};
// Runs the child named on the command line, if any; -1 when there is none.
int RunChildFromCommandLine(int argc, char** argv);

}  // namespace rvx::test

// Defines a child process body: RVX_TEST_CHILD(name) { ...; return code; }
#define RVX_TEST_CHILD(name)                                                      \
  static int name##_Child(const std::vector<std::string>& args);                  \
  static const ::rvx::test::ChildRegistrar name##_registrar(#name, name##_Child); \
  static int name##_Child([[maybe_unused]] const std::vector<std::string>& args)

#endif  // RVX_TESTS_SUPPORT_H_
