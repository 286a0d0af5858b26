// The position compare trigger: its checks, registers, and the table the
// watcher walks on compare events while the table is replaced.
#include <atomic>
#include <vector>

#include "tests/support.h"

namespace rvx::test {
namespace {

class CompareTest : public LoadedTest<> {
 protected:
  void SetUp() override {
    LoadedTest::SetUp();
    RVX406A_SetCompTrgWidth(0, 1, 10);
    RVX406A_SetInitCompTrg(0);
  }
  // COMP- and COMP+ of axis 1 as the chip holds them.
  static std::vector<i32> Window() {
    const sim::AxisState a = sim::Axis(0, 1);
    return {a.comp_minus, a.comp_plus};
  }
  // Brings axis 1's counter into its window: a compare event.
  static void Poke() {
    const i32 inside = Window()[0] + 1;
    sim::SetPosition(0, 1, -5000000, 0);
    sim::SetPosition(0, 1, inside, 0);
  }
};

TEST_F(CompareTest, ChecksAndRegisters) {
  constexpr i32 kMax = (1 << 30) - 1, kMin = -(1 << 30);
  static const i32 kCut[] = {10, 20, INT32_MIN, 40};
  enum Op { kWidth, kOne, kList, kCont };
  struct Case {
    u16 wr2, em6;  // axis 1 shadows: software limits, ring counter
    Op op;
    u16 axis, count;
    i32 a, b;                 // width, position or start; interval
    i32 result, minus, plus;  // 0, 0: the window kept
  } cases[] = {
      {0, 0, kWidth, 1, 0, 0, 0, ERR_INVALID_PARAMETER, 0, 0},
      {0, 0, kOne, 1, 0, kMax - 9, 0, ERR_MAX_DISTANCE, 0, 0},
      {0, 0, kOne, 1, 0, kMax - 10, 0, 0, kMax - 11, kMax + 1},
      {0, 0, kOne, 1, 0, kMin - 1, 0, ERR_INVALID_PARAMETER, 0, 0},
      {1, 0, kOne, 1, 0, 50, 0, 0, 49, 61},
      {1, 0, kCont, 1, 2, 50, 5, ERR_COUNTER_MODE, 0, 0},
      {3, 0, kOne, 1, 0, 50, 0, ERR_COUNTER_MODE, 0, 0},
      {0, 0x10, kOne, 1, 0, 50, 0, ERR_COUNTER_MODE, 0, 0},
      {0, 0, kCont, 1, 0, 0, 1, ERR_INVALID_PARAMETER, 0, 0},
      {0, 0, kCont, 1, 2, 0, 0, ERR_INVALID_PARAMETER, 0, 0},
      {0, 0, kCont, 1, 2, 1 << 30, 1, ERR_INVALID_PARAMETER, 0, 0},
      {0, 0, kCont, 1, 2, -5, 1 << 30, 0, -6, 6},
      {0, 0, kCont, 4, 2, 0, 1, ERR_AXIS_NUM, 0, 0},
      {0, 0, kList, 1, 4, 0, 0, ERR_INVALID_PARAMETER, 0, 0},  // last: checked below
  };
  for (const Case& c : cases) {
    axis_block(0, 1) = AxisBlock{};
    axis_block(0, 1).comp_width = 10;
    RVX406A_SetCompTrgOneData(0, 1, 777);
    axis_block(0, 1).wr2 = c.wr2;
    axis_block(0, 1).em6 = c.em6;
    if (c.op == kWidth) RVX406A_SetCompTrgWidth(0, c.axis, static_cast<u32>(c.b));
    if (c.op == kOne) RVX406A_SetCompTrgOneData(0, c.axis, c.a);
    if (c.op == kList) RVX406A_SetCompTrgTable(0, c.axis, c.count, kCut);
    if (c.op == kCont) RVX406A_SetCompTrgContTable(0, c.axis, c.count, c.a, c.b);
    EXPECT_EQ(RVX406A_GetErrorCode(), c.result) << &c - cases;
    const bool kept = c.minus == 0 && c.plus == 0;
    EXPECT_EQ(Window(), (std::vector<i32>{kept ? 776 : c.minus, kept ? 788 : c.plus}))
        << &c - cases;
  }
  // The cut list set the compare enable and replaced the table before it failed.
  EXPECT_EQ(axis_block(0, 1).wr1, 0x1000);
  EXPECT_EQ(RVX406A_GetCompTrgWidth(0, 1), 10u);
}

TEST_F(CompareTest, ModeAndArming) {
  sim::SetPld(0, pld::kEmgCmp, 0xFF);
  RVX406A_SetCompTrgMode(0, 0, 3);
  EXPECT_EQ(sim::Pld(0, pld::kEmgCmp), 0x29);  // emergency bit 0 and bit 3 kept
  RVX406A_SetCompTrgMode(0, 2, 1);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_INVALID_PARAMETER);
  u16 level = 9, mode = 9;
  RVX406A_GetCompTrgMode(0, &level, &mode);
  EXPECT_EQ(level * 10 + mode, 3);
  sim::SetPld(0, pld::kInterruptEnable, 0x3F);
  sim::StartTrace();
  RVX406A_SetInitCompTrg(0);
  RVX406A_SetFreeCompTrg(0);
  EXPECT_EQ(Joined(TracedWrites()), "P7=DF P8=00 E24=0000 P7=1F P8=00 E24=0000 ");
  EXPECT_EQ(RVX406A_GetErrorCode(), 0);
}

// Tables replaced from one thread while compare events arrive from another:
// every window the chip ends up with belongs whole to the last table.
TEST_F(CompareTest, TableReplacedWhileEventsArrive) {
  static std::atomic<bool> done{false};
  os::Handle mover = os::CreateThread(
      [](void*) -> uint32_t {
        while (!done) Poke();
        return 0;
      },
      nullptr);
  i32 base = 0;
  for (int k = 0; k < 200; ++k) {
    base = 10000 * (k % 5 + 1);
    RVX406A_SetCompTrgContTable(0, 1, 3, base, 100);
  }
  done = true;
  EXPECT_TRUE(os::WaitThread(mover, 10000));
  os::CloseThread(mover);
  os::Sleep(50);
  const std::vector<i32> w = Window();
  EXPECT_EQ(w[1] - w[0], 12);
  const i32 at = w[0] + 1 - base;
  EXPECT_TRUE(at == 0 || at == 100 || at == 200) << w[0];
}

}  // namespace
}  // namespace rvx::test
