// Interrupt enables, event masks and status, and what the watcher threads
// deliver, in this process and across processes.
#include <atomic>
#include <string>
#include <vector>

#include "core/registers.h"
#include "platform/platform.h"
#include "tests/support.h"

namespace rvx::test {
namespace {

using Strings = std::vector<std::string>;

// Callback deliveries as board << 8 | kind, in order.
std::atomic<u32> delivered[16];
std::atomic<u32> delivery_count{0};
void Record(uint32_t board, uint32_t kind) {
  const u32 n = delivery_count.load();  // one watcher delivers at a time in these tests
  if (n < 16) delivered[n] = board << 8 | kind;
  delivery_count = n + 1;
}
// The deliveries so far, once there are `count` or after `wait_ms`.
std::vector<u32> Deliveries(u32 count, u32 wait_ms = 3000) {
  const u32 start = os::TickCount();
  while (delivery_count.load() < count && os::TickCount() - start < wait_ms) os::Sleep(1);
  std::vector<u32> out;
  for (u32 i = 0; i < delivery_count.load() && i < 16; ++i) out.push_back(delivered[i]);
  return out;
}

class EventsTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    delivery_count = 0;
  }
  void LoadBoard(u8 identity) {
    RVX406A_UnloadDevice();
    sim::Reset(sim::Config{});
    sim::SetPld(0, pld::kIdentity, identity);
    Load();
  }
};

TEST_F(EventsTest, EnableSetsInterruptBitsByInputCount) {
  const Strings cleared = {"E12=0000", "E16=0000", "E18=0000", "E20=0000", "E22=0000"};
  struct Case {
    u8 identity;  // type 1 with modules, or type 3 without any
    u16 enable;
    u8 before, after;
    i32 result;
  } cases[] = {
      {0x10, 1, 0xFC, 0xE3, 0},
      {0x11, 1, 0x18, 0x07, 0},
      {0x13, 1, 0x10, 0x0F, 0},
      {0x17, 1, 0x00, 0x1F, 0},
      {0x30, 1, 0x5A, 0x5A, 0},
      {0x11, 0, 0xFF, 0xE0, 0},
      {0x11, 2, 0x18, 0x18, ERR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    LoadBoard(c.identity);
    sim::SetPld(0, pld::kInterruptEnable, c.before);
    sim::StartTrace();
    RVX406A_SetEventEnable(0, c.enable);
    EXPECT_EQ(RVX406A_GetErrorCode(), c.result);
    EXPECT_EQ(sim::Pld(0, pld::kInterruptEnable), c.after) << int(c.identity);
    Strings expected;
    if (c.result == 0) {
      expected = cleared;
      char reg7[16];
      snprintf(reg7, sizeof reg7, "P7=%02X", c.after);
      expected.push_back(reg7);
      expected.push_back("RP8");
      expected.push_back(c.enable ? "C:E000388C" : "C:E0003890");
    }
    Strings tail;
    for (const std::string& r : Requests(sim::Trace())) {
      if (r[0] == 'E' || r[0] == 'C' || r == "RP8" || r.rfind("P7=", 0) == 0) tail.push_back(r);
    }
    EXPECT_EQ(tail, expected) << int(c.identity);
  }
}

TEST_F(EventsTest, DiEventMaskProgramsEachFittedModule) {
  auto module = [](u32 m, u32 mask) {
    char text[11][12];
    const u32 b = 0x100 * m;
    snprintf(text[0], 12, "P%X=FF", b + 2);
    snprintf(text[1], 12, "P%X=FF", b + 3);
    snprintf(text[2], 12, "P%X=C6", b);
    snprintf(text[3], 12, "P%X=%02X", b + 2, mask & 0xFF);
    snprintf(text[4], 12, "P%X=%02X", b + 3, mask >> 8);
    snprintf(text[5], 12, "P%X=C4", b);
    snprintf(text[6], 12, "P%X=E4", b);
    snprintf(text[7], 12, "P%X=00", b + 2);
    snprintf(text[8], 12, "P%X=08", b + 3);
    snprintf(text[9], 12, "P%X=C8", b);
    return Strings(text, text + 10);
  };
  struct Case {
    u8 identity;
    u32 modules;
  } cases[] = {{0x10, 1}, {0x11, 2}, {0x13, 3}, {0x17, 4}, {0x30, 0}};
  const u32 masks[] = {0x1234, 0xABCD, 0x00FF, 0xF00F};
  for (const Case& c : cases) {
    LoadBoard(c.identity);
    sim::StartTrace();
    RVX406A_SetDiEventMask(0, 0xABCD1234, 0xF00F00FF);
    Strings expected;
    for (u32 m = 1; m <= c.modules; ++m) {
      const Strings bytes = module(m, masks[m - 1]);
      expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(TracedWrites(), expected) << int(c.identity);
    EXPECT_EQ(RVX406A_GetErrorCode(), 0);
  }
}

TEST_F(EventsTest, StatusIsAssembledThenCleared) {
  struct Case {
    u8 identity;
    u32 low, high;  // status of inputs 0..31 and 32..63 with all eight bytes latched
  } cases[] = {{0x10, 0x00002211, 0},
               {0x11, 0x44332211, 0},
               {0x13, 0x44332211, 0x6655},
               {0x17, 0x44332211, 0x88776655}};
  for (const Case& c : cases) {
    LoadBoard(c.identity);
    for (u8 i = 0; i < 8; ++i) sim::SetEventByte(0, 20 + i, static_cast<u8>(0x11 * (i + 1)));
    sim::SetEventByte(0, 12, 0xE0);
    sim::SetEventByte(0, 13, 0x00);
    u32 low = 1, high = 1;
    u16 motion = 1;
    RVX406A_GetDiEventStatus(0, &low, &high);
    RVX406A_GetMotEventStatus(0, 3, &motion);
    EXPECT_EQ(low, c.low);
    EXPECT_EQ(high, c.high);
    EXPECT_EQ(motion, 7);
    for (u8 i = 0; i < 8; ++i) EXPECT_EQ(sim::EventByte(0, 20 + i), 0) << int(i);
    RVX406A_GetDiEventStatus(0, &low, &high);
    RVX406A_GetMotEventStatus(0, 0, &motion);
    EXPECT_EQ(low | high | motion, 0u);
  }
  u16 motion = 9;
  RVX406A_GetMotEventStatus(0, 4, &motion);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_AXIS_NUM);
  EXPECT_EQ(motion, 0);
  RVX406A_SetMotEventMask(0, 1, 5);
  EXPECT_EQ(sim::Axis(0, 1).wr1, 0xA000);
  RVX406A_SetMotEventMask(0, 1, 8);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_INVALID_PARAMETER);
}

TEST_F(EventsTest, OneWakeDeliversMotionThenInputs) {
  Load();
  void* window = CreateTestWindow([](void*, uint32_t, uintptr_t, intptr_t) {});
  RVX406A_SetEventHandler(0, 0, window, 0x8001);
  RVX406A_SetEventEnable(0, 1);
  sim::StartTrace();
  sim::RaiseInterrupt(0, 0x05);  // motion chip and module 2
  TestMessage msg{};
  std::vector<u32> posted;
  for (u32 start = os::TickCount(); posted.size() < 2 && os::TickCount() - start < 3000;) {
    if (TakeTestMessage(&msg)) {
      posted.push_back(msg.message);
      EXPECT_EQ(msg.window, window);
      EXPECT_EQ(msg.wparam, 0u);
      EXPECT_EQ(msg.lparam, 0);
    }
  }
  EXPECT_EQ(posted, (std::vector<u32>{0x8001, 0x8001}));
  os::Sleep(20);  // the watcher re-enables after posting
  EXPECT_EQ(Requests(sim::Trace()), (Strings{"C:E0003890", "RE10", "C:E000388C"}));

  RVX406A_SetEventHandler(0, 1, reinterpret_cast<void*>(&Record), 0);
  RVX406A_SetEventHandler(0, 2, window, 1);  // refused; the callback stays
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_INVALID_PARAMETER);
  sim::RaiseInterrupt(0, 0x13);  // motion, modules 1 and 4: one input delivery
  EXPECT_EQ(Deliveries(2), (std::vector<u32>{0x000, 0x001}));
  EXPECT_FALSE(TakeTestMessage(&msg));
  DestroyTestWindow(window);
}

// A drive that ends in this process interrupts another process's watcher.
RVX_TEST_CHILD(EventsWatchingChild) {
  if (RVX406A_LoadDevice() != 0) return 10;
  RVX406A_SetEventHandler(0, 1, reinterpret_cast<void*>(&Record), 0);
  RVX406A_SetEventEnable(0, 1);
  WriteFile(args[0], "ready");
  const std::vector<u32> got = Deliveries(1, 10000);
  u16 status = 0;
  RVX406A_GetMotEventStatus(0, 2, &status);
  RVX406A_UnloadDevice();
  return got == std::vector<u32>{0x000} && status == 1 ? 0 : 20;
}

TEST_F(EventsTest, InterruptReachesAnotherProcess) {
  Load();
  RVX406A_SetMotEventMask(0, 2, 1);  // drive end
  RVX406A_SetEventEnable(0, 1);
  const std::string ready = install_dir_ + "ready";
  const ChildProcess child = StartChild("EventsWatchingChild", {ready});
  for (u32 start = os::TickCount(); ReadFile(ready).empty() && os::TickCount() - start < 10000;) {
    os::Sleep(5);
  }
  RVX406A_Inc_Move(0, 2, 100);
  EXPECT_EQ(WaitChild(child), 0);
}

class NineBoardsTest : public EventsTest {
  sim::Config Boards() const override {
    sim::Config config;
    config.board_count = 9;
    return config;
  }
};

TEST_F(NineBoardsTest, NoWatcherNoDelivery) {
  Load();
  RVX406A_SetEventHandler(0, 1, reinterpret_cast<void*>(&Record), 0);
  for (u16 board : {0, 8}) {
    RVX406A_SetEventEnable(board, 1);
    sim::RaiseInterrupt(board, 0x01);
    RVX406A_SetInitCompTrg(board);
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_THREAD_CREATE);
    EXPECT_EQ(sim::Pld(board, pld::kInterruptEnable), 0xC3);  // the writes stand
  }
  EXPECT_TRUE(Deliveries(1, 200).empty());
}

}  // namespace
}  // namespace rvx::test
