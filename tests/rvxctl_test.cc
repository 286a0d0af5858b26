// The command-line tool against the simulated board: each command run as a
// separate process, its output and exit status checked.
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support.h"

namespace rvx::test {
namespace {

// The tool is built beside the library.
std::string ToolPath() {
  const std::string library = RVX_LIBRARY_PATH;
  return library.substr(0, library.rfind('/') + 1) + "rvxctl";
}

struct ToolRun {
  int status;
  std::string output;  // stdout and stderr
};

ToolRun RunTool(const std::string& args) {
  ToolRun run{-1, ""};
  FILE* pipe = popen((ToolPath() + " " + args + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[512];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// The tool runs in the namespace and install directory of the test.
class RvxctlTest : public LibraryTest {};

TEST_F(RvxctlTest, CommandsReportWhatTheLibrarySays) {
  if (FILE* f = fopen(ToolPath().c_str(), "rb")) {
    fclose(f);
  } else {
    GTEST_SKIP() << "rvxctl is not built: " << ToolPath();
  }
  struct Case {
    const char* args;
    int status;
    std::vector<const char*> expected;
  };
  const Case cases[] = {
      {"--sim=2 --modules=3 --type=3 info",
       0,
       {"board 1: type 196, version 33, ID 0x00, modules 1,2\n",
        "  BoardInfo: 4 axes, 32 DI, 32 DO\n", "  counts:    4 axes, 32 DI, 32 DO\n"}},
      {"--sim --sim-inputs=0:3:0x52 status 0 3",
       0,
       {"    0    3  0x0029 ", " HOME INPOS +LIMIT\n"}},
      {"--sim --sim-errors=0:1:0x03 status 0",
       0,
       {"    0    0  0x0000 ", "    0    1  0x0000 ", "ERR_UNKNOWN (-9999)", "    0    3  "}},
      {"--sim --modules=1 --sim-di=0:2:0xFF00 io 0", 0, {"DI word 1 (channels 16-31): 0x00FF\n"}},
      {"--sim io 0 set 9 1", 0, {"DO channel 9 = 1\n"}},
      {"--sim --swap --modules=1 io 0 out 1 0xA55A", 0, {"DO word 1 = 0xA55A\n"}},
      {"--sim move 0 0,3 100,-200",
       0,
       {"Multi_Inc_Move ended: ERR_SUCCESS (0)\n", "board 0 axis 0: command 100, actual 100\n",
        "board 0 axis 3: command -200, actual -200\n"}},
      {"--sim --sim-position=0:2:1000 move 0 2 -7 --abs",
       0,
       {"Abs_Move ended: ERR_SUCCESS (0)\n", "board 0 axis 2: command -7, actual -7\n"}},
      {"--sim --sim-position=0:2:1000 move 0 2 -7",
       0,
       {"Inc_Move ended: ERR_SUCCESS (0)\n", "board 0 axis 2: command 993, actual 993\n"}},
      {"--sim --sim-position=0:0:50 --sim-position=0:1:-50 move 0 1,0 0,0 --abs",
       0,
       {"Multi_Abs_Move ended", "axis 1: command 0, actual 0\n", "axis 0: command 0, actual 0\n"}},
      {"--sim --sim-errors=0:2:0x08 move 0 2 10", 1, {"Inc_Move ended: ERR_STOP_BY_HLMT (-630)\n"}},
      {"--sim --sim-drive=3 jog 0 1 -", 0, {"board 0 axis 1: jogging -; end it with"}},
      {"--sim stop 0 1 --sudden", 0, {"Sudden_Stop ended: ERR_SUCCESS (0)\n"}},
      {"--sim --sim-drive=4 home 0 2",
       0,
       {"Home_Move ended: HOME_OK 1, ERR_SUCCESS (0); HomeIsBusy polls: 5\n"}},
      {"--sim --sim-errors=0:2:0x10 home 0 2", 1, {"HOME_OK 0, ERR_STOP_BY_ALM (-640);"}},
      {"--sim move 0 1 268435456", 1, {"rvxctl: Inc_Move: ERR_INVALID_PARAMETER (-300)\n"}},
      {"--sim io 0 out 8 1", 1, {"rvxctl: PutDOWord: -201 (no name)\n"}},
      {"--sim status 0 4", 1, {"rvxctl: GetCardStatus: ERR_AXIS_NUM (-540)\n"}},
      {"--sim move 0 1,2 5", 2, {"as many distances as axes"}},
      {"--sim-drive=1 status", 2, {"bad option"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun run = RunTool(c.args);
    EXPECT_EQ(run.status, c.status) << run.output;
    for (const char* text : c.expected) {
      EXPECT_NE(run.output.find(text), std::string::npos) << "missing: " << text << "\n"
                                                          << run.output;
    }
  }
}

}  // namespace
}  // namespace rvx::test
