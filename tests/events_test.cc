// Interrupt enables, event masks and status, and what the watcher threads
// deliver, in this process and across processes.
#include <atomic>
#include <tuple>

#include "tests/support.h"

namespace rvx::test {
namespace {

// Callback deliveries, one hex digit each (kind + 1), the latest lowest.
std::atomic<u32> deliveries{0};
void Record(uint32_t, uint32_t kind) { deliveries = deliveries.load() << 4 | (kind + 1); }
u32 Deliveries(u32 expected, u32 wait_ms = 3000) {
  for (u32 start = os::TickCount(); deliveries != expected && os::TickCount() - start < wait_ms;) {
    os::Sleep(1);
  }
  return deliveries;
}

class EventsTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    deliveries = 0;
  }
};

// Interrupt enables, input event masks and input status follow the board's
// fitted modules.
TEST_F(EventsTest, ByInputCount) {
  const u32 masks[] = {0x1234, 0xABCD, 0x00FF, 0xF00F};
  // Identity (type 1 with modules, or type 3 without any), modules, PLD
  // register 7 around SetEventEnable(0, 1), input status with all eight bytes latched.
  const std::tuple<u8, u32, u8, u8, u32, u32> cases[] = {{0x10, 1, 0xFC, 0xE3, 0x2211, 0},
                                                         {0x11, 2, 0x18, 0x07, 0x44332211, 0},
                                                         {0x13, 3, 0x10, 0x0F, 0x44332211, 0x6655},
                                                         {0x17, 4, 0, 0x1F, 0x44332211, 0x88776655},
                                                         {0x30, 0, 0x5A, 0x5A, 0, 0}};
  for (const auto& [identity, modules, before, after, status_low, status_high] : cases) {
    LoadBoard(identity);
    sim::SetPld(0, pld::kInterruptEnable, before);
    sim::StartTrace();
    RVX406A_SetEventEnable(0, 1);
    char text[160];
    snprintf(text, sizeof text,
             "E12=0000 E16=0000 E18=0000 E20=0000 E22=0000 RP7 P7=%02X RP1 RP1 RP8 C:E000388C ",
             after);
    EXPECT_EQ(Joined(Requests(sim::Trace())), text) << int(identity);

    sim::StartTrace();
    RVX406A_SetDiEventMask(0, 0xABCD1234, 0xF00F00FF);
    std::string expected;
    for (u32 m = 1, b = 0x100; m <= modules; b = 0x100 * ++m) {
      snprintf(text, sizeof text,
               "P%X=FF P%X=FF P%X=C6 P%X=%02X P%X=%02X P%X=C4 P%X=E4 P%X=00 P%X=08 P%X=C8 ", b + 2,
               b + 3, b, b + 2, masks[m - 1] & 0xFF, b + 3, masks[m - 1] >> 8, b, b, b + 2, b + 3,
               b);
      expected += text;
    }
    EXPECT_EQ(Joined(TracedWrites()), expected) << int(identity);

    for (u8 i = 0; i < 8; ++i) sim::SetEventByte(0, 20 + i, static_cast<u8>(0x11 * (i + 1)));
    sim::SetEventByte(0, 12, 0xE0);
    u32 low = 1, high = 1, low2 = 1, high2 = 1;
    u16 motion = 1, motion2 = 1;
    RVX406A_GetDiEventStatus(0, &low, &high);
    RVX406A_GetMotEventStatus(0, 3, &motion);
    RVX406A_GetDiEventStatus(0, &low2, &high2);  // cleared by the first reads
    RVX406A_GetMotEventStatus(0, 0, &motion2);
    EXPECT_EQ((std::vector<u32>{low, high, motion, low2, high2, motion2}),
              (std::vector<u32>{status_low, status_high, 7, 0, 0, 0}));
  }
  RVX406A_SetEventEnable(0, 2);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_INVALID_PARAMETER);
  sim::SetPld(0, pld::kInterruptEnable, 0xFF);
  RVX406A_SetEventEnable(0, 0);
  EXPECT_EQ(sim::Pld(0, pld::kInterruptEnable), 0xE0);
  RVX406A_SetMotEventMask(0, 1, 5);
  EXPECT_EQ(sim::Axis(0, 1).wr1, 0xA000);
}

TEST_F(EventsTest, OneWakeDeliversMotionThenInputs) {
  Load();
  void* window = CreateTestWindow([](void*, uint32_t, uintptr_t, intptr_t) {});
  RVX406A_SetEventHandler(0, 0, window, 0x8001);
  RVX406A_SetEventEnable(0, 1);
  sim::StartTrace();
  sim::RaiseInterrupt(0, 0x05);  // motion chip and module 2
  os::Message m{};
  std::string posted;
  for (u32 start = os::TickCount(); posted.size() < 16 && os::TickCount() - start < 3000;) {
    if (!os::PeekMessage(&m)) continue;
    posted += std::to_string(m.window == window) + std::to_string(m.message) + "," +
              std::to_string(m.wparam) + std::to_string(m.lparam) + " ";
  }
  EXPECT_EQ(posted, "132769,00 132769,00 ");
  os::Sleep(20);  // the watcher re-enables after posting
  EXPECT_EQ(Joined(Requests(sim::Trace())), "C:E0003890 RE10 C:E000388C ");

  RVX406A_SetEventHandler(0, 1, reinterpret_cast<void*>(&Record), 0);
  RVX406A_SetEventHandler(0, 2, window, 1);  // refused; the callback stays
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_INVALID_PARAMETER);
  sim::RaiseInterrupt(0, 0x13);  // motion, modules 1 and 4: one input delivery
  EXPECT_EQ(Deliveries(0x12), 0x12u);
  EXPECT_FALSE(os::PeekMessage(&m));
  DestroyTestWindow(window);
}

// A drive that ends in this process interrupts another process's watcher.
RVX_TEST_CHILD(EventsWatchingChild) {
  if (RVX406A_LoadDevice() != 0) return 10;
  RVX406A_SetEventHandler(0, 1, reinterpret_cast<void*>(&Record), 0);
  RVX406A_SetEventEnable(0, 1);
  WriteFile(args[0], "ready");
  const u32 got = Deliveries(0x1, 10000);
  u16 status = 0;
  RVX406A_GetMotEventStatus(0, 2, &status);
  RVX406A_UnloadDevice();
  return got == 0x1 && status == 1 ? 0 : 20;
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

}  // namespace
}  // namespace rvx::test
