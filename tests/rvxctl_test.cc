// The command-line tool against the simulated board: each command run as a
// separate process, its output and exit status checked.
#include <cstdio>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/platform.h"
#include "tests/support.h"
#include "tools/sim_keeper.h"

namespace rvx::test {
namespace {

// Runs the tool in the test's namespace and install directory.
std::pair<int, std::string> RunTool(const std::string& args) {
  std::string output;
  const int status = RunCommand(std::string(RVX_CTL_PATH) + " " + args, &output);
  return {status, output};
}

class RvxctlTest : public LibraryTest {};

TEST_F(RvxctlTest, CommandsReportWhatTheLibrarySays) {
  const std::string path = install_dir_ + "path.txt";
  WriteFile(path, "# corner\nline 1000 0\n\narc 1500 500 1000 500 1\nline 1500 1500\n");
  // Arguments, exit status, a part of the output.
  const std::tuple<std::string, int, const char*> cases[] = {
      {"--sim=2 --modules=3 --type=3 info", 0,
       "board 1: type 196, version 33, ID 0x00, modules 1,2\n"
       "  BoardInfo: 4 axes, 32 DI, 32 DO\n  counts:    4 axes, 32 DI, 32 DO\n"},
      {"--sim --sim-inputs=0:3:0x52 status 0 3", 0,
       "    0    3  0x0029          0          0        0  ERR_SUCCESS (0)          HOME INPOS "
       "+LIMIT\n"},
      {"--sim --modules=1 --sim-di=0:2:0xFF00 io 0", 0, "DI word 1 (channels 16-31): 0x00FF\n"},
      {"--sim --swap --modules=1 io 0 out 1 0xA55A", 0, "DO word 1 = 0xA55A\n"},
      {"--sim --sim-position=0:0:50 move 0 0,3 100,-200", 0,
       "Multi_Inc_Move ended: ERR_SUCCESS (0)\nboard 0 axis 0: command 150, actual 150\n"
       "board 0 axis 3: command -200, actual -200\n"},
      {"--sim --sim-errors=0:2:0x08 move 0 2 10 --abs", 1,
       "Abs_Move ended: ERR_STOP_BY_HLMT (-630)\n"},
      {"--sim --sim-drive=4 home 0 2", 0,
       "Home_Move ended: HOME_OK 1, ERR_SUCCESS (0); HomeIsBusy polls: 5\n"},
      {"--sim --sim-errors=0:2:0x10 arc 0 2,3 0,100 0,200 0", 1,
       "Inc_Arc ended: ERR_STOP_BY_ALM (-640)\nboard 0 axis 2: command 0, actual 0\n"
       "board 0 axis 3: command 200, actual 200\n"},
      {"--sim --sim-drive=5 conti 0 0,1 " + path + " --lead 100,0", 0,
       "segment 1: arc 0x33 end +500,+500  centre +0,+500\nsegment 2: line     end +0,+1000\n"
       "segment 0 handed over (table of 3)\nConti_Move ended: ERR_SUCCESS (0)\n"
       "board 0 axis 0: command 1100, actual 1100\n"},
      {"--sim io 0 out 8 1", 1, "rvxctl: PutDOWord: -201 (no name)\n"},
      {"--sim move 0 1 300000000", 1, "rvxctl: Inc_Move: ERR_INVALID_PARAMETER (-300)\n"},
      {"--sim status 0 4", 1, "rvxctl: GetCardStatus: ERR_AXIS_NUM (-540)\n"},
      {"--sim move 0 1,2 5", 2, "as many distances as axes"},
      {"--sim-drive=1 status", 2, "bad option"},
      {"--sim --sim-limits=0:1:-1000:1000 move 0 1 5000", 1,
       "Inc_Move ended: ERR_STOP_BY_HLPT (-620)\nboard 0 axis 1: command 1000, actual 1000\n"},
      {"--sim --sim-config=axis0.1.limits=-1000:1000 move 0 1 -5000", 1,
       "Inc_Move ended: ERR_STOP_BY_HLMT (-630)\nboard 0 axis 1: command -1000, actual -1000\n"},
      {"--sim --sim-emergency=0 move 0 1 500", 1,
       "Inc_Move ended: ERR_STOP_BY_EMG (-650)\nboard 0 axis 1: command 0, actual 0\n"},
      {"--sim --sim-alarm=0:1 status 0 1", 0,
       "0x0018          0          0        0  ERR_SUCCESS (0)          INPOS ALARM\n"},
      {"--sim --sim-home=0:2:-5:5 status 0 2", 0, "ERR_SUCCESS (0)          HOME\n"},
      {"--sim --sim-limits=0:1:100:-100 load", 2,
       "rvxctl: axis0.1.limits: the - limit (100) must lie below the + limit (-100)\n"},
      {"--sim --sim-near=0:1:10:-10 load", 2,
       "rvxctl: axis0.1.near: a sensor window from 10 to -10 is empty\n"},
      {"--sim --sim-z=0:1:0 load", 2, "rvxctl: bad value \"0\" for axis0.1.z\n"},
      {"--sim --sim-config=clock=fast load", 2, "bad value \"fast\" for clock (real or stepped)"},
      {"--sim --sim-home=0:1:5 load", 2, "bad option: --sim-home=0:1:5"},
      {"--sim-emergency=0 load", 2, "--sim-* without --sim"},
  };
  for (const auto& [args, status, expected] : cases) {
    SCOPED_TRACE(args);
    const auto [exit_status, output] = RunTool(args);
    EXPECT_EQ(exit_status, status) << output;
    EXPECT_NE(output.find(expected), std::string::npos) << output;
  }
}

// Each step a separate run of the tool against one kept board.
TEST_F(RvxctlTest, KeptBoardOutlivesEachRun) {
  const std::tuple<std::string, int, const char*> steps[] = {
      {"sim status", 1, "no simulated board running\n"},
      {"--sim-limits=0:1:-100000:3000 sim start", 0, "simulated board started (process "},
      {"sim start", 1, "rvxctl: a simulated board already runs (process "},
      {"--sim move 0 1 2000", 0, "Inc_Move ended: ERR_SUCCESS (0)\nboard 0 axis 1: command 2000"},
      {"--sim status 0 1", 0, "    0    1  0x0000       2000       2000        0  ERR_SUCCESS"},
      {"--sim move 0 1 5000", 1,
       "Inc_Move ended: ERR_STOP_BY_HLPT (-620)\nboard 0 axis 1: command 3000, actual 3000\n"},
      {"--sim jog 0 2 -", 0, "board 0 axis 2: jogging -; end it with: rvxctl stop 0 2\n"},
      {"--sim status 0 2", 0, "BUSY"},
      {"--sim stop 0 2 --sudden", 0,
       "Sudden_Stop ended: ERR_SUCCESS (0)\nboard 0 axis 2: command -"},
      {"sim status", 0, "simulated board running (process "},
      {"sim stop", 0, "simulated board stopped\n"},
      {"sim stop", 1, "rvxctl: no simulated board running\n"},
      {"--sim status 0 1", 0, "    0    1  0x0000          0          0        0  ERR_SUCCESS"},
  };
  for (const auto& [args, status, expected] : steps) {
    SCOPED_TRACE(args);
    const auto [exit_status, output] = RunTool(args);
    EXPECT_EQ(exit_status, status) << output;
    EXPECT_NE(output.find(expected), std::string::npos) << output;
  }
  RunTool("sim stop");  // after a failed step
  os::RemoveNamedObject((ns_ + rvxctl::kKeeperSectionName).c_str());
}

TEST_F(RvxctlTest, ScopeSamplesAMoveUntilItsEnd) {
  const std::string csv = install_dir_ + "move.csv", svg = install_dir_ + "move.svg";
  const auto [status, output] = RunTool("--sim scope 0 0,1 --every 1 --csv " + csv +
                                        " --svg=" + svg + " move 0 0,1 4000,-2000");
  ASSERT_EQ(status, 0) << output;
  EXPECT_NE(output.find("Multi_Inc_Move ended: ERR_SUCCESS (0)"), std::string::npos) << output;
  std::vector<std::string> lines;
  std::istringstream text(ReadFile(csv));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0],
            "time_s,axis0_command_pulses,axis0_actual_pulses,axis0_speed_pps,"
            "axis1_command_pulses,axis1_actual_pulses,axis1_speed_pps");
  EXPECT_NE(lines.back().find(",4000,4000,0,-2000,-2000,0"), std::string::npos) << lines.back();
  // Sampled while the axes moved, not only before and after.
  int moving = 0;
  for (const std::string& line : lines) {
    int command = 0, speed = 0;
    if (sscanf(line.c_str(), "%*f,%d,%*d,%d", &command, &speed) == 2 && command > 0 &&
        command < 4000 && speed > 0) {
      ++moving;
    }
  }
  EXPECT_GT(moving, 0);
  const std::string plot = ReadFile(svg);
  for (const char* part : {"axis 0 position (pulses)", "axis 1 position (pulses)", "speed (PPS)",
                           "time (s)", "move 0 0,1 4000,-2000", "</svg>"}) {
    EXPECT_NE(plot.find(part), std::string::npos) << part;
  }
}

}  // namespace
}  // namespace rvx::test
