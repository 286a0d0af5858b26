// Multi-axis moves, completion tests, waits and stops: validation before any
// write, the hold/release bracket, records, reporting and log lines.
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

#include "motion/motion.h"
#include "tests/support.h"

namespace rvx::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Ends every drive of board 0 after ten seconds, so that a wait that never
// returns fails its test instead of hanging it.
class Watchdog {
 public:
  Watchdog()
      : thread_([this] {
          for (int i = 0; i < 1000 && !done_; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          }
          if (done_) return;
          fired_ = true;
          for (u32 a = 0; a < 4; ++a) sim::SetDriving(0, a, false);
        }) {}
  ~Watchdog() {
    done_ = true;
    thread_.join();
  }
  bool fired() const { return fired_; }

 private:
  std::atomic<bool> done_{false};
  std::atomic<bool> fired_{false};
  std::thread thread_;
};

std::string Joined(const std::vector<std::string>& items, const char* separator) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
  return text;
}

void StartMove(MoveKind kind, const std::vector<u16>& axes, const std::vector<i32>& values) {
  const u16 count = static_cast<u16>(axes.size());
  if (kind == kRelativeMove) RVX406A_Multi_Inc_Move(0, count, axes.data(), values.data());
  if (kind == kAbsoluteMove) RVX406A_Multi_Abs_Move(0, count, axes.data(), values.data());
  if (kind == kContinuousMove) {
    const std::vector<u16> directions(values.begin(), values.end());
    RVX406A_Multi_Jog_Move(0, count, axes.data(), directions.data());
  }
}

bool IsPositionRead(const std::string& write) {
  return write.size() == 8 && write.compare(0, 4, "WR0=") == 0 &&
         (write.compare(6, 2, "10") == 0 || write.compare(6, 2, "11") == 0);
}

class MultiAxisTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    Load();
    shared().log_level = 1;
    ClearLog();
  }
  // Axes idle, at 0, configured, with no record, no log.
  void Fresh() {
    for (int a = 0; a < 4; ++a) {
      sim::SetDriving(0, a, false);
      sim::SetErrorStatus(0, a, 0);
      sim::SetPosition(0, a, 0, 0);
      sim::SetDriveDuration(0, a, 0);
      AxisBlock& b = axis_block(0, a);
      b.wr3 = 0x0080;
      b.range = 100;
      b.fixed_range = 0;
      b.motion_dir = 7;
      process().move_table[0][a] = 0;
      process().home_table[0][a] = 1;
    }
    ClearLog();
  }
};

TEST_F(MultiAxisTest, MovesCheckEveryAxisBeforeTheFirstWrite) {
  constexpr i32 kBad = ERR_INVALID_PARAMETER;
  struct Case {
    const char* what;
    MoveKind kind;
    std::vector<u16> axes;
    std::vector<i32> values;
    int busy_axis, mpg_axis;
    i32 logical_of_axis1;
    i32 expected;
    size_t lines;
  };
  const Case cases[] = {
      {"count 1", kRelativeMove, {0}, {10}, -1, -1, 0, kBad, 1},
      {"count 5", kRelativeMove, {0, 1, 2, 3, 0}, {1, 1, 1, 1, 1}, -1, -1, 0, kBad, 4},
      {"bad last axis", kRelativeMove, {0, 1, 4}, {1, 1, 1}, -1, -1, 0, ERR_AXIS_NUM, 3},
      {"distance", kRelativeMove, {0, 1}, {1, 0x10000000}, -1, -1, 0, kBad, 2},
      {"target", kAbsoluteMove, {0, 1}, {5, INT32_MIN}, -1, -1, 0, kBad, 2},
      {"direction", kContinuousMove, {0, 1}, {1, 2}, -1, -1, 0, kBad, 2},
      {"busy", kRelativeMove, {0, 1}, {1, 1}, 1, -1, 0, ERR_AXIS_DRV_BUSY, 2},
      {"manual pulser", kContinuousMove, {2, 1}, {0, 1}, -1, 1, 0, ERR_MPG_MODE, 2},
      {"too far", kAbsoluteMove, {0, 1}, {0, 0x10000000}, -1, -1, -1, ERR_MAX_DISTANCE, 2},
      {"just in reach", kAbsoluteMove, {0, 1}, {0, 0x10000000}, -1, -1, 1, ERR_SUCCESS, 2},
  };
  for (const Case& c : cases) {
    Fresh();
    if (c.busy_axis >= 0) sim::SetDriving(0, c.busy_axis, true);
    if (c.mpg_axis >= 0) axis_block(0, c.mpg_axis).wr3 = 0x0098;
    sim::SetPosition(0, 1, c.logical_of_axis1, 0);
    sim::StartTrace();
    StartMove(c.kind, c.axes, c.values);
    EXPECT_EQ(RVX406A_GetErrorCode(), c.expected) << c.what;
    std::vector<std::string> writes = TracedWrites();
    writes.erase(std::remove_if(writes.begin(), writes.end(), IsPositionRead), writes.end());
    EXPECT_EQ(writes.empty(), c.expected != ERR_SUCCESS) << c.what;
    for (u16 a : {0, 1, 2}) {
      const bool listed = std::find(c.axes.begin(), c.axes.end(), a) != c.axes.end();
      EXPECT_EQ(process().move_table[0][a], c.expected == ERR_SUCCESS && listed ? c.kind : 0u)
          << c.what << " axis " << a;
    }
    const std::vector<std::string> lines = LoggedCalls();
    ASSERT_EQ(lines.size(), c.lines) << c.what;
    char prefix[16];
    snprintf(prefix, sizeof prefix, " RV = %5d : ", c.expected);
    for (const std::string& line : lines) EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
  }
}

TEST_F(MultiAxisTest, EachKindLoadsUnderHoldAndStartsWithOneRelease) {
  struct Case {
    MoveKind kind;
    std::vector<i32> values;  // for axes {2, 0}
    const char* held2;        // how the writes of each axis end
    const char* held0;
    i32 start2, distance2, target2;
    const char* lines;
  };
  const Case cases[] = {
      {kRelativeMove,
       {100, -100},
       "WR7=0000 WR6=0064 WR0=0406 WR0=0424 WR0=0420",
       "WR7=0000 WR6=0064 WR0=0106 WR0=0124 WR0=0121",
       0,
       100,
       100,
       " RV =     0 : RVX406A_Multi_Inc_Move (0, 2, 100) : COMM[10.00], FEED[12.00]|"
       " RV =     0 : RVX406A_Multi_Inc_Move (0, 0, -100) : COMM[-5.00], FEED[-7.00]"},
      // Each axis reads where it stands again, after its profile.
      {kAbsoluteMove,
       {300, -50},
       "WR0=0405 WR0=0410 WR0=0411 WR7=0000 WR6=0122 WR0=0406 WR0=0424 WR0=0420",
       "WR0=0105 WR0=0110 WR0=0111 WR7=0000 WR6=002D WR0=0106 WR0=0124 WR0=0121",
       10,
       290,
       300,
       " RV =     0 : RVX406A_Multi_Abs_Move (0, 2, 300) : COMM[10.00], FEED[12.00]|"
       " RV =     0 : RVX406A_Multi_Abs_Move (0, 0, -50) : COMM[-5.00], FEED[-7.00]"},
      {kContinuousMove,
       {1, 0},
       "WR0=0405 WR0=0424 WR0=0422",
       "WR0=0105 WR0=0124 WR0=0123",
       55,
       55,
       55,
       " RV =     0 : RVX406A_Multi_Jog_Move (0, 2, 1)|"
       " RV =     0 : RVX406A_Multi_Jog_Move (0, 0, 0)"},
  };
  for (const Case& c : cases) {
    Fresh();
    sim::SetPosition(0, 2, 10, 12);
    sim::SetPosition(0, 0, -5, -7);
    AxisBlock& b2 = axis_block(0, 2);
    b2.move_start = b2.move_distance = b2.move_target = 55;
    b2.pos_drive_pps = 9000;
    b2.jog_drive_pps = 7000;
    sim::StartTrace();
    StartMove(c.kind, {2, 0}, c.values);
    ASSERT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS) << c.kind;

    // Axis 2 is loaded and held before axis 0 begins; one release ends the call.
    const std::string writes = Joined(TracedWrites(), " ");
    const size_t end0 = writes.size() - strlen(" WR0=0525");
    EXPECT_EQ(writes.find("WR0=0525"), end0 + 1) << c.kind;
    EXPECT_EQ(writes.rfind(c.held0, end0), end0 - strlen(c.held0)) << c.kind;
    EXPECT_LT(writes.find(c.held2), writes.find("WR0=010F")) << c.kind;

    EXPECT_FALSE(sim::Axis(0, 2).held);
    EXPECT_EQ(sim::Axis(0, 0).last_drive_command, std::stoi(writes.substr(end0 - 2, 2), 0, 16));
    EXPECT_EQ(process().move_table[0][2], static_cast<u32>(c.kind));
    EXPECT_EQ(b2.move_start, c.start2);
    EXPECT_EQ(b2.move_distance, c.distance2);
    EXPECT_EQ(b2.move_target, c.target2);
    EXPECT_EQ(b2.last_drive_speed, c.kind == kContinuousMove ? 7000u : 9000u);
    EXPECT_EQ(Joined(LoggedCalls(), "|"), c.lines);
  }
}

TEST_F(MultiAxisTest, MultiDoneReportsTheFirstCauseInListOrder) {
  struct Case {
    std::vector<u16> axes;
    int driving_axis;
    u16 rr2_axis1, rr2_axis2;
    u16 busy;
    i32 result;
    const char* lines;  // of one call
  };
  const Case cases[] = {
      {{1, 2}, 1, 0, 0x10, 1, ERR_SUCCESS, ""},
      {{2, 1}, 1, 0, 0, 1, ERR_SUCCESS, ""},
      {{1, 2},
       -1,
       0,
       0x10,
       0,
       ERR_STOP_BY_ALM,
       " RV =  -640 : RVX406A_Multi_Done (0, 1) : COMM[5.00], FEED[6.00]|"
       " RV =  -640 : RVX406A_Multi_Done (0, 2) : COMM[7.00], FEED[8.00]|"},
      {{1, 2},
       -1,
       0x1C,
       0x10,
       0,
       ERR_STOP_BY_HLPT,
       " RV =  -620 : RVX406A_Multi_Done (0, 1) : COMM[5.00], FEED[6.00]|"
       " RV =  -620 : RVX406A_Multi_Done (0, 2) : COMM[0.00], FEED[0.00]|"},
      {{2, 1},
       -1,
       0x40,
       0,
       0,
       ERR_SUCCESS,
       " RV =     0 : RVX406A_Multi_Done (0, 2) : COMM[7.00], FEED[8.00]|"
       " RV =     0 : RVX406A_Multi_Done (0, 1) : COMM[5.00], FEED[6.00]|"},
      {{1, 6},
       -1,
       0,
       0,
       0,
       ERR_AXIS_NUM,
       " RV =  -540 : RVX406A_Multi_Done (0, 1) : COMM[0.00], FEED[0.00]|"
       " RV =  -540 : RVX406A_Multi_Done (0, 6) : COMM[0.00], FEED[0.00]|"},
  };
  for (const Case& c : cases) {
    Fresh();
    sim::SetPosition(0, 1, 5, 6);
    sim::SetPosition(0, 2, 7, 8);
    sim::SetErrorStatus(0, 1, c.rr2_axis1);
    sim::SetErrorStatus(0, 2, c.rr2_axis2);
    if (c.driving_axis >= 0) sim::SetDriving(0, c.driving_axis, true);
    for (int call = 0; call < 2; ++call) {  // every idle call reports again
      EXPECT_EQ(RVX406A_Multi_Done(0, 2, c.axes.data()), c.busy) << c.lines;
      EXPECT_EQ(RVX406A_GetErrorCode(), c.result) << c.lines;
    }
    const std::string once = c.lines;
    EXPECT_EQ(Joined(LoggedCalls(), "|"), (once + once).substr(0, 2 * once.size() - 1));
    // Axes found idle before the first busy one are no longer moving.
    const bool first_idle = c.result != ERR_AXIS_NUM && c.axes[0] != c.driving_axis;
    EXPECT_EQ(axis_block(0, c.axes[0]).motion_dir, first_idle ? 0u : 7u) << c.lines;
  }
}

TEST_F(MultiAxisTest, MultiWaitReportsEachStartedMoveOnce) {
  Watchdog watchdog;
  const u16 axes[] = {1, 2};
  const i32 distances[] = {10, 20};
  Fresh();
  sim::SetDriveDuration(0, 1, 5);
  sim::SetDriveDuration(0, 2, 9);
  RVX406A_Multi_Inc_Move(0, 2, axes, distances);
  ASSERT_TRUE(sim::Axis(0, 2).driving);
  sim::SetErrorStatus(0, 2, 0x04);
  ClearLog();

  RVX406A_Multi_Wait(0, 2, axes, 0);
  EXPECT_FALSE(sim::Axis(0, 2).driving);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_STOP_BY_HLPT);
  EXPECT_EQ(process().move_table[0][1], 0u);
  EXPECT_EQ(axis_block(0, 2).motion_dir, 0u);
  RVX406A_Multi_Wait(0, 2, axes, 0);  // already reported: same cause, no lines
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_STOP_BY_HLPT);
  EXPECT_THAT(LoggedCalls(),
              ElementsAre(" RV =  -620 : RVX406A_Multi_Wait (0, 1) : COMM[10.00], FEED[10.00]",
                          " RV =  -620 : RVX406A_Multi_Wait (0, 2) : COMM[20.00], FEED[20.00]"));

  // The axis that names the cause gates the report; without a cause any
  // listed axis awaiting its report does.
  ClearLog();
  process().move_table[0][1] = kRelativeMove;
  RVX406A_Multi_Wait(0, 2, axes, 0);
  EXPECT_THAT(LoggedCalls(), IsEmpty());
  EXPECT_EQ(process().move_table[0][1], kRelativeMove);
  sim::SetErrorStatus(0, 2, 0);
  RVX406A_Multi_Wait(0, 2, axes, 0);
  EXPECT_EQ(LoggedCalls().size(), 2u);
  EXPECT_EQ(process().move_table[0][1], 0u);

  sim::SetDriving(0, 1, true);  // refused arguments never wait
  for (u16 mode : {2, 0}) {
    RVX406A_Multi_Wait(0, mode == 2 ? 2 : 1, axes, mode);
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_INVALID_PARAMETER);
  }
  EXPECT_FALSE(watchdog.fired());
}

int dispatched = 0;
void StopListedAxes(void*, uint32_t, uintptr_t, intptr_t) {
  static const u16 kAxes[] = {1, 3};
  ++dispatched;
  RVX406A_Multi_Sudden_Stop(0, 2, kAxes);  // runs inside the wait, on its thread
}

TEST_F(MultiAxisTest, MultiWaitPumpsMessagesAndLeavesOnQuit) {
  Watchdog watchdog;
  const u16 axes[] = {1, 3};
  Fresh();
  dispatched = 0;
  sim::SetDriving(0, 1, true);
  sim::SetDriving(0, 3, true);
  void* window = rvx_create_window(StopListedAxes);
  ASSERT_TRUE(rvx_post_message(window, 0x400, 0, 0));
  RVX406A_Multi_Wait(0, 2, axes, 1);
  EXPECT_EQ(dispatched, 1);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  rvx_destroy_window(window);

  sim::SetDriving(0, 1, true);
  process().move_table[0][1] = kRelativeMove;
  RVX406A_Multi_Wait(0, 1, axes, 0);  // a last result to keep
  ClearLog();
  rvx_post_quit_message(0);
  RVX406A_Multi_Wait(0, 2, axes, 1);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_INVALID_PARAMETER);
  EXPECT_THAT(LoggedCalls(), IsEmpty());
  EXPECT_EQ(process().move_table[0][1], kRelativeMove);
  RVX_MSG message;
  ASSERT_TRUE(rvx_get_message(&message, 0));  // handed on to the thread's own loop
  EXPECT_EQ(message.message, RVX_WM_QUIT);
  sim::SetDriving(0, 1, false);
  EXPECT_FALSE(watchdog.fired());
}

TEST_F(MultiAxisTest, StopsReachAllListedAxesInOneWrite) {
  struct Case {
    void (*stop)(uint16_t, uint16_t, const uint16_t*);
    std::vector<u16> axes;
    i32 expected;
    const char* writes;
    const char* first_line;
  };
  const Case cases[] = {
      {RVX406A_Multi_Decel_Stop,
       {3, 1},
       ERR_SUCCESS,
       "WR0=0A26",
       " RV =     0 : RVX406A_Multi_Decel_Stop (0, 3)"},
      {RVX406A_Multi_Sudden_Stop,
       {0, 2, 1},
       ERR_SUCCESS,
       "WR0=0727",
       " RV =     0 : RVX406A_Multi_Sudden_Stop (0, 0)"},
      {RVX406A_Multi_Decel_Stop,
       {3},
       ERR_INVALID_PARAMETER,
       "",
       " RV =  -300 : RVX406A_Multi_Decel_Stop (0, 3)"},
      {RVX406A_Multi_Sudden_Stop,
       {0, 9},
       ERR_AXIS_NUM,
       "",
       " RV =  -540 : RVX406A_Multi_Sudden_Stop (0, 0)"},
  };
  for (const Case& c : cases) {
    Fresh();
    for (u16 a : c.axes) process().move_table[0][a % 4] = kRelativeMove;
    sim::StartTrace();
    c.stop(0, static_cast<u16>(c.axes.size()), c.axes.data());
    EXPECT_EQ(RVX406A_GetErrorCode(), c.expected) << c.first_line;
    EXPECT_EQ(Joined(TracedWrites(), " "), c.writes);
    const std::vector<std::string> lines = LoggedCalls();
    ASSERT_EQ(lines.size(), c.axes.size());
    EXPECT_EQ(lines[0], c.first_line);
    const bool stopped = c.expected == ERR_SUCCESS;
    for (u16 a : c.axes) {
      if (a >= 4) continue;
      EXPECT_EQ(process().home_table[0][a], stopped ? 0 : 1) << c.first_line;
      EXPECT_EQ(axis_block(0, a).motion_dir, stopped ? 0u : 7u) << c.first_line;
      EXPECT_EQ(process().move_table[0][a], kRelativeMove);  // reported by the next wait
    }
  }
}

}  // namespace
}  // namespace rvx::test
