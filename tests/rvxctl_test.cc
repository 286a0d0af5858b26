// The command-line tool against the simulated board: each command run as a
// separate process, its output and exit status checked.
#include <algorithm>
#include <memory>
#include <sstream>
#include <tuple>

#include "tests/support.h"
#include "tools/sim_keeper.h"

namespace rvx::test {
namespace {

// A separate run of the tool: arguments, exit status, a part of the output
// and, if given, a part it must not hold.
struct ToolRun {
  ToolRun(std::string a, int s, std::string e, std::string n = "")
      : args(std::move(a)), status(s), expected(std::move(e)), absent(std::move(n)) {}
  std::string args;
  int status;
  std::string expected, absent;
};

void ExpectRuns(const std::vector<ToolRun>& runs) {
  for (const ToolRun& run : runs) {
    SCOPED_TRACE(run.args);
    const auto [exit_status, output] = RunTool(run.args);
    EXPECT_EQ(exit_status, run.status) << output;
    EXPECT_THAT(output, testing::HasSubstr(run.expected));
    if (!run.absent.empty()) {
      EXPECT_THAT(output, testing::Not(testing::HasSubstr(run.absent)));
    }
  }
}

class RvxctlTest : public LibraryTest {};

TEST_F(RvxctlTest, CommandsReportWhatTheLibrarySays) {
  const std::string path = install_dir_ + "path.txt";
  WriteFile(path, "# corner\nline 1000 0\n\narc 1500 500 1000 500 1\nline 1500 1500\n");
  ExpectRuns({
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
       "Abs_Move ended: ERR_STOP_BY_HLMT (-630): the axis was stopped by its - hardware limit\n"},
      {"--sim --sim-errors=0:2:0x10 arc 0 2,3 0,100 0,200 0", 1,
       "Inc_Arc ended: ERR_STOP_BY_ALM (-640): the axis was stopped by its servo drive's alarm\n"
       "board 0 axis 2: command 0, actual 0\n"
       "board 0 axis 3: command 200, actual 200\n"},
      {"--sim --sim-drive=5 conti 0 0,1 " + path + " --lead 100,0", 0,
       "segment 1: arc 0x33 end +500,+500  centre +0,+500\nsegment 2: line     end +0,+1000\n"
       "only segment 0 runs: Conti_Move hands the chip the table's first segment alone\n"
       "segment 0 handed over (table of 3)\nConti_Move ended: ERR_SUCCESS (0)\n"
       "board 0 axis 0: command 1100, actual 1100\n"},
      {"--sim-drive=1 status", 2, "bad option"},
      {"--sim --sim-emergency=0 move 0 1 500", 1,
       "Inc_Move ended: ERR_STOP_BY_EMG (-650): the axis was stopped by the emergency input\n"
       "board 0 axis 1: command 0, actual 0\n"},
      {"--sim --sim-alarm=0:1 status 0 1", 0,
       "0x0018          0          0        0  ERR_SUCCESS (0)          INPOS ALARM\n"},
      {"--sim --sim-home=0:2:-5:5 status 0 2", 0, "ERR_SUCCESS (0)          HOME\n"},
      {"--sim --sim-limits=0:1:100:-100 load", 2,
       "rvxctl: axis0.1.limits: the - limit (100) must lie below the + limit (-100)\n"},
      {"--sim --sim-near=0:1:10:-10 load", 2,
       "rvxctl: axis0.1.near: a sensor window from 10 to -10 is empty\n"},
      {"--sim --sim-z=0:1:0 load", 2, "rvxctl: bad value \"0\" for axis0.1.z\n"},
      {"--sim --sim-config=clock=fast load", 2, "bad value \"fast\" for clock (real or stepped)"},
      {"--sim-emergency=0 load", 2, "--sim-* without --sim"},
      {"--sim param load", 0, "board 0: defaults loaded; no file "},
      {"--sim param save 0", 0, "board 0: settings saved to "},
      {"--sim param load 0", 0, "board 0: settings loaded from "},
      {"--sim --sim-alarm=0:1 alarm-reset 0 1 --ms 5", 1,
       "board 0 axis 1: alarm reset pulsed for 5 ms; alarm input still on\n"},
      // A board built for one run forgets what the run did.
      {"--sim servo 0 1 on", 0,
       "board 0 axis 1: servo on\nrvxctl: this simulated board ends with this run, and the "
       "setting with it; rvxctl sim start keeps one between runs\n"},
      {"--sim jog 0 1 +", 0,
       "board 0 axis 1: jogging + until this run ends, and its simulated board with it; rvxctl "
       "sim start keeps a board that jogs on\n"},
  });
}

// Home counts only where the search found home: HOME_OK 1 after a stop at a
// limit is no home, and a search that finds nothing gives up.
TEST_F(RvxctlTest, HomedOnlyWithoutAStopCause) {
  // Arguments, exit status, parts of the output, a part it must not hold.
  const std::tuple<std::string, int, std::vector<std::string>, const char*> cases[] = {
      {"--sim --sim-drive=4 home 0 2",
       0,
       {"Home_Move ended: HOME_OK 1, ERR_SUCCESS (0); HomeIsBusy polls: 5\n"},
       "not homed"},
      {"--sim --sim-near=0:0:50000:60000 --sim-limits=0:0:-2000:2000 home 0 0",
       1,
       {"Home_Move ended: HOME_OK 1, ERR_STOP_BY_HLMT (-630): the axis was stopped by its - "
        "hardware limit; HomeIsBusy polls: ",
        "board 0 axis 0: command -2000, actual -2000\n"
        "board 0 axis 0 is not homed: the search ended on a stop cause before it found home\n"},
       "gave up"},
      {"--sim --sim-near=0:0:50000:60000 home 0 1 --timeout 1",
       1,
       {"Home_Move gave up after 1 s: no home sensor was found; the axis got a decelerating "
        "stop\nboard 0 axis 1: command -",
        "--timeout SECONDS waits longer\n"},
       "ended:"},
      {"--sim home 0 1 --timeout 0",
       2,
       {"rvxctl: --timeout: '0' is out of range: 1..86400\n"},
       "Home_Move"},
      // The default machine has sensors to home against.
      {"--sim --sim-position=0:3:500 home 0 3",
       0,
       {"Home_Move ended: HOME_OK 1, ERR_SUCCESS (0); HomeIsBusy polls: ",
        "board 0 axis 3: command 0, actual 0\n"},
       "not homed"},
  };
  for (const auto& [args, status, parts, absent] : cases) {
    SCOPED_TRACE(args);
    const auto [exit_status, output] = RunTool(args);
    EXPECT_EQ(exit_status, status) << output;
    for (const std::string& part : parts) {
      EXPECT_NE(output.find(part), std::string::npos) << part << "\n" << output;
    }
    EXPECT_EQ(output.find(absent), std::string::npos) << output;
  }
}

// Segment files are read as the command line is: whole numbers in range,
// nothing after a segment, no more than a table holds, and only from a
// regular file.
TEST_F(RvxctlTest, SegmentFilesAreCheckedLineByLine) {
  const std::string path = install_dir_ + "segments.txt";
  std::string full, long_line = "line 1 1" + std::string(300, ' ');
  for (int i = 0; i < 256; ++i) full += "line " + std::to_string(i) + " 0\n";
  // File contents (or a path of its own), exit status, a part of the output.
  const std::tuple<std::string, std::string, int, std::string> cases[] = {
      {"line 99999999999 0\n", "", 2,
       ":1: '99999999999' is out of range: -2147483648..2147483647\n"},
      {"line 1 2\narc 5 5 0 5 1 junk\n", "", 2,
       ":2: expected 'line X Y' or 'arc X Y CX CY 0|1': 6 values after 'arc'\n"},
      {"line 1 2x\n", "", 2, ":1: '2x' is not a whole number\n"},
      {"arc 5 5 0 5 2\n", "", 2, ":1: '2' is not a direction 0 or 1\n"},
      {"circle 1 2\n", "", 2, ":1: expected 'line X Y' or 'arc X Y CX CY 0|1', not 'circle'\n"},
      {"", "", 2, " holds no segment ("},
      {"# only a comment\n\n   \n", "", 2, " holds no segment ("},
      {full, "", 2, ":256: a table holds at most 255 segments\n"},
      {long_line, "", 2, ":1: longer than 256 characters\n"},
      {"", install_dir_, 2, " is not a segment file: it is a folder\n"},
      {"", install_dir_ + "none.txt", 2, "rvxctl: cannot read " + install_dir_ + "none.txt: "},
      {"line 0x10 -5  # to the corner\r\narc 0 0 8 -5 1\n", "", 0,
       "segment 0: line     end +16,-5\nsegment 1: arc 0x33 end -16,+5  centre -8,+0\n"
       "table of 2 loaded, nothing run: --lead D1,D2 runs a lead-in line and hands segment 0 "
       "over\n"},
  };
  for (const auto& [text, other, status, expected] : cases) {
    SCOPED_TRACE(other.empty() ? text.substr(0, 40) : other);
    if (other.empty()) WriteFile(path, text);
    const auto [exit_status, output] =
        RunTool("--sim conti 0 0,1 " + (other.empty() ? path : other));
    EXPECT_EQ(exit_status, status) << output;
    EXPECT_NE(output.find(expected), std::string::npos) << output;
  }
}

// Simulator options name boards, axes and modules that exist, or the run is
// refused before it changes anything.
TEST_F(RvxctlTest, SimulatorOptionsNameWhatExists) {
  ExpectRuns({
      {"--sim --sim-position=0:9:100 status", 2,
       "rvxctl: --sim-position=0:9:100: axis 9 does not exist: the axes of board 0 are 0..3\n"},
      {"--sim --sim-inputs=5:0:10 status", 2,
       "rvxctl: --sim-inputs=5:0:10: board 5 does not exist: the simulated boards are 0..0\n"},
      {"--sim --sim-limits=0:9:-5:5 load", 2,
       "rvxctl: --sim-limits=0:9:-5:5: axis 9 does not exist: the axes of board 0 are 0..3\n"},
      {"--sim --sim-emergency=3 load", 2,
       "rvxctl: --sim-emergency=3: board 3 does not exist: the simulated boards are 0..0\n"},
      {"--sim --sim-errors=16:0:1 load", 2, "board 16 does not exist: boards are 0..15\n"},
      {"--sim --sim-di=0:2:0xFF load", 2,
       "rvxctl: --sim-di=0:2:0xFF: module 2 is not fitted on board 0 (--modules=BITS fits "
       "more)\n"},
      {"--sim --sim-di=0:0:0xFF load", 2, "module 0 does not exist: modules are 1..4\n"},
      {"--sim --sim-inputs=0:0:0x100 load", 2,
       "rvxctl: bad option: --sim-inputs=0:0:0x100: give B:A:HEX, input bits up to FF"},
      {"--sim=17 load", 2,
       "rvxctl: bad option: --sim=17: give the number of simulated boards, 1..16 (see rvxctl "
       "--help)\n"},
      {"--sim=2 --sim-position=1:3:-70 status 1 3", 0, "    1    3  0x0000        -70        -70"},
      {"--sim-limits=0:4:-5:5 sim start", 2, "axis 4 does not exist: the axes of board 0 are 0..3"},
  });
}

// A machine text that cannot be used is refused key by key; one that can
// changes single sensors.
TEST_F(RvxctlTest, MachineTextsAreCheckedKeyByKey) {
  ExpectRuns({
      {"--sim --sim-position=0:2:-1000000 status 0 2", 0, "ERR_SUCCESS (0)          -LIMIT\n"},
      {"--sim --sim-config=axis0.2.limits=none --sim-position=0:2:-1000000 status 0 2", 0,
       "ERR_SUCCESS (0)          -\n"},
      {"--sim --sim-position=0:2:-8950 status 0 2", 0, "ERR_SUCCESS (0)          HOME\n"},
      {"--sim --sim-home=0:2:none --sim-position=0:2:-8950 status 0 2", 0,
       "ERR_SUCCESS (0)          -\n"},
      {"--sim --sim-config=machine=bare --sim-config=axis0.2.home=-8950:-8950 "
       "--sim-position=0:2:-8950 "
       "status 0 2",
       0, "ERR_SUCCESS (0)          HOME\n"},
      {"--sim --sim-limits=0:2:-20000:none status 0 2", 2,
       "rvxctl: bad value \"-20000:none\" for axis0.2.limits\n"},
  });
}

// A refusal says what would be taken, and nothing runs after one.
TEST_F(RvxctlTest, RefusalsSayWhatIsTaken) {
  const std::string fresh = install_dir_ + "fresh/";
  const std::string sep(1, os::PathSeparator());
  const std::vector<ToolRun> cases = {
      {"--sim move 0 0 300000000", 1,
       "rvxctl: Inc_Move takes a distance of -268435455..268435455 pulses\n", "ended"},
      {"--sim theta 0 0,1 1000,0 361", 1,
       "rvxctl: Inc_Theta takes an ANGLE of -360..360 whole degrees", "ended"},
      {"--sim move 0 0 100 7", 2,
       "rvxctl: move: 4 arguments given, it takes 3\nusage: rvxctl move BOARD", "ended"},
      {"--sim move 0 0 100 --ab", 2, "rvxctl: move: unknown flag --ab (it takes --abs)\n", "ended"},
      {"--sim move 0 0 100 --abs=1", 2, "rvxctl: move: --abs takes no value\n", "ended"},
      {"--sim line 0 0,1 5,5 --map", 2, "rvxctl: line: --map needs a value\n", "ended"},
      {"--sim --bogus", 2, "rvxctl: unknown option '--bogus' (see rvxctl --help)\n", "load"},
      {"--sim scope 0 0 --for 0 move 0 0 10", 2,
       "rvxctl: --for: '0' is not a number of seconds above 0, at most 86400\n", "ended"},
      {"--sim scope 0 0 --every 0 move 0 0 10", 2,
       "rvxctl: --every: '0' is out of range: 1..60000, milliseconds between samples\n", "ended"},
      {"--sim scope 0 0 --svg " + install_dir_ + "none/plot.svg move 0 0 10", 2,
       "rvxctl: cannot write " + install_dir_ + "none/plot.svg: No such file or directory\n",
       "ended"},
      {"--sim param save 0", 0,
       "board 0: settings saved to " + fresh + "Parameter" + sep + "RVXPRM0.DAT", "cannot"},
      {"--sim log", 0,
       "(not written: the folder " + fresh + "Debug does not exist; make it to get a log))\n",
       "cannot"},
      {"--sim load", 0, "log: " + fresh + "Debug" + sep + "logfile_", "cannot"},
  };
  os::SetEnv("RVX_INSTALL_DIR", fresh.c_str());  // no Parameter/, no Debug/
  ExpectRuns(cases);
  os::SetEnv("RVX_INSTALL_DIR", install_dir_.c_str());
}

// Each run joins this process's board (type 1: 16 DI and 16 DO): a refused
// command leaves no driver write and the shared section as it was; the
// commands taken change one or the other, so the check can see a change.
TEST_F(RvxctlTest, BadArgumentsChangeNothing) {
  Load();
  // Arguments, exit status, a part of the output, whether the board changes.
  const std::tuple<std::string, int, const char*, bool> cases[] = {
      {"move 0 1 12x", 2, "rvxctl: DISTANCES: '12x' is not a whole number\n", false},
      {"move 0 1 \"\"", 2, "rvxctl: DISTANCES: missing\n", false},
      {"move 0 1 2147483648", 2, "'2147483648' is out of range: -2147483648..2147483647\n", false},
      {"move 0 0,0 100,200", 2, "rvxctl: AXES: '0,0': axis 0 is listed twice\n", false},
      {"move 0 0,1 100", 2, "rvxctl: DISTANCES: '100' gives 1 value for 2 axes", false},
      {"move 1 0 100", 2, "rvxctl: BOARD: '1' is out of range: 0..0, 1 board was found\n", false},
      {"move 0 4 100", 2, "rvxctl: AXES: '4' is out of range: 0..3, the axes of board 0\n", false},
      {"status 0 -1", 2, "rvxctl: AXIS: '-1' is out of range: 0..3", false},
      {"io 0 set 16 1", 2, "CHANNEL: '16' is out of range: 0..15, the outputs of board 0", false},
      {"io 0 set 3 2", 2, "rvxctl: VALUE: '2' is out of range: 0..1\n", false},
      {"io 0 out 1 0x10", 2, "rvxctl: WORDINDEX: '1' is out of range: 0..0", false},
      {"jog 0 1 up", 2, "rvxctl: DIRECTION: 'up' is not + or -\n", false},
      {"line 0 0 100", 2, "rvxctl: AXES: '0' lists 1 axes; give 2 to 3\n", false},
      {"speed 0 1 pos 100,200,300", 2, "SPEEDS: '100,200,300': give START,DRIVE,ACC,DEC", false},
      {"speed 0 1 jog 100,-5,10", 2, "rvxctl: SPEEDS: '-5' is out of range: 0..4294967295", false},
      {"speed 0 1 pos 4000001,20000,20,20", 1,
       "rvxctl: SetPosSpeed: ERR_MAX_STARTV (-533): the start (or low) speed is above", false},
      {"move 0 1 300000000", 1,
       "rvxctl: Inc_Move: ERR_INVALID_PARAMETER (-300): a value is out of the range", false},
      {"pulse 0 1 6", 2, "rvxctl: MODE: '6' is out of range: 0..5\n", false},
      {"servo 0 1 on", 0, "board 0 axis 1: servo on\n", true},
      {"io 0 set 15 1", 0, "DO channel 15 = 1\n", true},
      {"speed 0 1 pos 100,2000,30,40", 0,
       "  pos    start 100 PPS, drive 2000 PPS, acc 30 ms, dec 40", true},
      {"speed 0 1 shape s-curve", 0, "  shape  s-curve\n", true},
      {"position 0 2 -500 --real", 0, "board 0 axis 2: command 0, actual -500\n", true},
      {"pulse 0 1 3", 0, "board 0 axis 1: pulse output mode 3\n", true},
      {"log 3", 0, "log level 3 (", true},
  };
  // The section as it stands, less the driver handle that each joining
  // process copies in.
  auto section = [&] {
    auto copy = std::make_unique<SharedSection>(shared());
    for (auto& board : copy->board) {
      for (auto& axis : board.axis) axis.driver_handle = 0;
    }
    return copy;
  };
  for (const auto& [args, status, expected, changes] : cases) {
    SCOPED_TRACE(args);
    const auto before = section();
    sim::StartTrace();
    const auto [exit_status, output] = RunTool("--sim " + args);
    // Reading a counter or the speed is a chip command too (0x10..0x12), not a change.
    Strings writes;
    for (const std::string& w : TracedWrites()) {
      if (w.size() != 8 || w.rfind("WR0=", 0) != 0 || w[6] != '1' || w[7] > '2')
        writes.push_back(w);
    }
    sim::StopTrace();
    EXPECT_EQ(exit_status, status) << output;
    EXPECT_NE(output.find(expected), std::string::npos) << output;
    const bool section_changed = memcmp(before.get(), section().get(), sizeof(SharedSection)) != 0;
    EXPECT_EQ(!writes.empty() || section_changed, changes)
        << (writes.empty() ? "" : writes[0]) << " section changed: " << section_changed;
  }
}

// Without a board the tool says which device or module it tried and why it
// failed, in the system's words.
TEST_F(RvxctlTest, LoadFailuresSayWhatWasTried) {
  const std::string missing = install_dir_ + "no-such-driver.mod";
  const std::string garbage = install_dir_ + "garbage.mod";
  WriteFile(garbage, "not a module");
  const std::string no_board =
      "rvxctl: LoadDevice: ERR_DEVICE_LOAD (-1): no board is loaded: the driver offered no board\n"
      "rvxctl: tried the kernel driver's device " +
      os::DevicePath(0) + " (RVX_DRIVER is unset): ";
  const std::string tried = "rvxctl: tried the driver module RVX_DRIVER=";
  const char* no_version =
      "version not read: GetDllVersion needs a loaded board (try rvxctl --sim --version)\n";
  // RVX_DRIVER, arguments, exit status, parts of the output.
  const std::tuple<std::string, const char*, int, std::vector<std::string>> cases[] = {
      {"", "load", 1, {no_board, "Without a board, try rvxctl --sim\n"}},
      {missing, "status", 1, {tried + missing + ": ", "try rvxctl --sim\n"}},
      {garbage, "load", 1, {tried + garbage + ": "}},
      {"", "--version", 0, {"rvxctl ", " built in)\n", no_version}},
      {"sim", "--help", 0, {"RVX_DRIVER", "RVX_INSTALL_DIR", "RVX_IPC_NAMESPACE", "RVX_SIM"}},
  };
  for (const auto& [driver, args, status, expected] : cases) {
    SCOPED_TRACE(driver + " " + args);
    os::SetEnv("RVX_DRIVER", driver.c_str());
    const auto [exit_status, output] = RunTool(args);
    EXPECT_EQ(exit_status, status) << output;
    for (const std::string& part : expected) {
      EXPECT_NE(output.find(part), std::string::npos) << part << "\n" << output;
    }
  }
  // The reason is the system's, not a guess: no such file is not a bad file.
  auto reason = [&](const std::string& module) {
    os::SetEnv("RVX_DRIVER", module.c_str());
    const std::string output = RunTool("load").second, tried = module + ": ";
    const size_t from = output.rfind(tried) + tried.size();
    return output.substr(from, output.find('\n', from) - from);
  };
  const std::string no_file = reason(missing);
  EXPECT_FALSE(no_file.empty());
  EXPECT_NE(no_file, reason(garbage));
  os::SetEnv("RVX_DRIVER", "sim");
}

// Each step a separate run of the tool against one kept board.
TEST_F(RvxctlTest, KeptBoardOutlivesEachRun) {
  ExpectRuns({
      {"sim status", 1, "no simulated board running\n"},
      {"--sim-limits=0:1:-100000:3000 sim start", 0, "simulated board started (process "},
      {"sim start", 1, "rvxctl: a simulated board already runs (process "},
      {"--sim move 0 1 2000", 0, "Inc_Move ended: ERR_SUCCESS (0)\nboard 0 axis 1: command 2000"},
      {"--sim status 0 1", 0, "    0    1  0x0000       2000       2000        0  ERR_SUCCESS"},
      {"--sim move 0 1 5000", 1,
       "Inc_Move ended: ERR_STOP_BY_HLPT (-620): the axis was stopped by its + hardware limit\n"
       "board 0 axis 1: command 3000, actual 3000\n"},
      {"--sim jog 0 2 -", 0, "board 0 axis 2: jogging -; end it with: rvxctl --sim stop 0 2\n"},
      // What the kept board does not take, and what it keeps.
      {"--sim=3 status 0 1", 0, "rvxctl: --sim=N ignored: the kept simulated board (process "},
      {"--sim --modules=1 status 0 1", 0,
       "rvxctl: --modules, --type and --swap ignored: the kept simulated board (process "},
      {"--sim --sim-drive=5 status 0 1", 0,
       "rvxctl: --sim-drive ignored: the kept simulated board (process "},
      {"--sim --sim-home=0:3:-5:5 --sim-position=0:3:0 status 0 3", 0,
       "rvxctl: --sim-home=0:3:-5:5 --sim-position=0:3:0 changed the kept simulated board "
       "(process "},
      {"--sim status 0 3", 0, "ERR_SUCCESS (0)          HOME\n"},
      {"--sim status 0 2", 0, "BUSY"},
      {"--sim stop 0 2 --sudden", 0,
       "Sudden_Stop ended: ERR_SUCCESS (0)\nboard 0 axis 2: command -"},
      {"sim status", 0, "simulated board running (process "},
      {"sim stop", 0, "simulated board stopped\n"},
      {"sim stop", 1, "rvxctl: no simulated board running\n"},
      {"--sim status 0 1", 0, "    0    1  0x0000          0          0        0  ERR_SUCCESS"},
  });
  RunTool("sim stop");  // after a failed step
  os::RemoveNamedObject((ns_ + rvxctl::kKeeperSectionName).c_str());
}

// The command position of board 0 axis 2 as the tool reports it.
int Axis2Position() {
  const std::string status = RunTool("--sim status 0 2").second;
  int position = -1;
  sscanf(status.substr(status.find('\n') + 1).c_str(), "%*u %*u %*x %d", &position);
  return position;
}

// The stepped clock only on a kept board, whose time passes with sim step
// and stands still in between.
TEST_F(RvxctlTest, SteppedTimePassesOnlyOnAKeptBoardWhenTold) {
  ExpectRuns({
      {"--sim --sim-config=clock=stepped move 0 0 100", 2,
       "rvxctl: clock=stepped: time passes only with rvxctl sim step MS, on a kept board"},
      {"sim step 10", 1, "rvxctl: no simulated board running\n"},
      {"sim start", 0, "simulated board started"},
      {"sim step 10", 1, "rvxctl: the simulated board runs on the real clock\n"},
      {"sim stop", 0, "simulated board stopped\n"},
      {"--sim-config=clock=stepped sim start", 0, "simulated board started"},
      {"sim step x", 2, "usage: rvxctl sim step MS\n"},
      {"--sim jog 0 2 +", 0, "board 0 axis 2: jogging +"},
  });
  EXPECT_EQ(Axis2Position(), 0);
  ExpectRuns({{"sim step 50", 0, "simulated time 0.050 s\n"}});
  const int at = Axis2Position();
  EXPECT_GT(at, 0);
  EXPECT_EQ(Axis2Position(), at);
  ExpectRuns({{"sim step 50", 0, "simulated time 0.100 s\n"},
              {"sim status", 0, "stepped clock, time 0.100 s"}});
  EXPECT_GT(Axis2Position(), at);
  ExpectRuns({{"sim stop", 0, "simulated board stopped\n"}});
  os::RemoveNamedObject((ns_ + rvxctl::kKeeperSectionName).c_str());
}

TEST_F(RvxctlTest, ScopeSamplesAMoveUntilItsEnd) {
  const std::string csv = install_dir_ + "move.csv", svg = install_dir_ + "move.svg";
  const auto [status, output] = RunTool("--sim scope 0 0,1 --every 1 --csv " + csv +
                                        " --svg=" + svg + " move 0 0,1 4000,-2000");
  ASSERT_EQ(status, 0) << output;
  EXPECT_NE(output.find("Multi_Inc_Move ended: ERR_SUCCESS (0)"), std::string::npos) << output;
  std::istringstream text(ReadFile(csv));
  std::string header, line, last;
  std::getline(text, header);
  EXPECT_EQ(header,
            "time_s,axis0_command_pulses,axis0_actual_pulses,axis0_speed_pps,"
            "axis1_command_pulses,axis1_actual_pulses,axis1_speed_pps");
  // Sampled while the axes moved, not only before and after.
  int moving = 0;
  while (std::getline(text, line)) {
    int command = 0, speed = 0;
    last = line;
    moving += sscanf(line.c_str(), "%*f,%d,%*d,%d", &command, &speed) == 2 && command > 0 &&
              command < 4000 && speed > 0;
  }
  EXPECT_GT(moving, 0);
  EXPECT_NE(last.find(",4000,4000,0,-2000,-2000,0"), std::string::npos) << last;
  const std::string plot = ReadFile(svg);
  for (const char* part : {"axis 1 position (pulses)", "speed (PPS)", "move 0 0,1", "</svg>"}) {
    EXPECT_NE(plot.find(part), std::string::npos) << part;
  }
}

// An interpolated move shows its speed on every axis of the path, rising,
// holding and falling with the path's profile.
TEST_F(RvxctlTest, ScopeShowsTheSpeedOfAPath) {
  const std::string csv = install_dir_ + "line.csv";
  const auto [status, output] =
      RunTool("--sim scope 0 0,1 --every 5 --csv " + csv + " line 0 0,1 6000,2000");
  ASSERT_EQ(status, 0) << output;
  std::istringstream text(ReadFile(csv));
  std::string line;
  std::getline(text, line);
  int top[2] = {0, 0}, moving = 0;
  while (std::getline(text, line)) {
    int command = 0, speed[2] = {0, 0};
    if (sscanf(line.c_str(), "%*f,%d,%*d,%d,%*d,%*d,%d", &command, &speed[0], &speed[1]) != 3) {
      continue;
    }
    if (command <= 0 || command >= 6000) continue;
    moving += speed[0] > 0 && speed[1] > 0;
    for (int i = 0; i < 2; ++i) top[i] = std::max(top[i], speed[i]);
  }
  EXPECT_GT(moving, 10);
  EXPECT_EQ(top[0], 10000);  // the first axis leads the path at its drive speed
  EXPECT_GT(top[1], 0);
}

}  // namespace
}  // namespace rvx::test
