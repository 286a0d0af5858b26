// The simulated board, driven through its driver ops, for what the other tests
// take from it: interrupts, compare windows, real time, the request trace and
// the configuration text. Its modules, polled and held drives are exercised by
// the register-level tests through the library.

#include <atomic>
#include <string>
#include <vector>

#include "sim/motion_engine.h"
#include "tests/support.h"

namespace rvx::sim {
namespace {

// The simulator's forwarder thread signals events; tests count them.
std::atomic<uint64_t> last_signalled{0};
std::atomic<int> signal_count{0};
const rvx_driver_host kHost = {RVX_DRIVER_ABI_VERSION, [](uint64_t e) {
                                 last_signalled = e;
                                 ++signal_count;
                               }};
// The signals so far, once `count` arrived or `wait_ms` passed.
int SignalsBy(int count, uint32_t wait_ms) {
  for (uint32_t start = os::TickCount(); signal_count < count && os::TickCount() - start < wait_ms;)
    os::Sleep(1);
  return signal_count;
}

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    os::SetEnv("RVX_IPC_NAMESPACE", ("simtest" + std::to_string(test::CurrentProcessId())).c_str());
  }
  void TearDown() override {
    for (void* device : devices_) ops_->close_device(device);
    RemoveNamedObjects();
  }
  void Open(Config config = {}, uint32_t board = 0) {
    config.clock = Clock::kStepped;
    if (board == 0) Reset(config);
    devices_.push_back(d_ = ops_->open_device(board));
  }
  uint32_t Io(uint32_t code, uint32_t space, uint32_t offset, uint32_t value = 0) {
    PortRecord record{space, offset, value, 0};
    uint32_t returned = 0;
    EXPECT_NE(ops_->io_control(d_, code, &record, 16, &record, 16, &returned), 0);
    return record.value;
  }
  void Command(uint16_t word, int32_t data = 0) {
    Io(ioctl::kWriteWord, 1, chip::kWr7, static_cast<uint16_t>(data >> 16));
    Io(ioctl::kWriteWord, 1, chip::kWr6, static_cast<uint16_t>(data));
    Io(ioctl::kWriteWord, 1, chip::kWr0, word);
  }
  int Event(uint32_t code, uint64_t event) {
    uint32_t returned;
    return ops_->io_control(d_, code, &event, 8, nullptr, 0, &returned);
  }
  // Drives of the axis at its top speed parameter from the start, the axis's
  // WR1 and the board's interrupt enables set, an event registered.
  void ConstantSpeedWithEvents(uint16_t axis, int32_t range, uint16_t wr1, uint8_t enables) {
    Command(axis | cmd::kRange, range);
    Command(axis | cmd::kInitialSpeed, 8000);
    Command(axis | cmd::kDriveSpeed, 8000);
    Command(axis | cmd::kSelect);
    Io(ioctl::kWriteWord, 1, chip::kWr1, wr1);
    Io(ioctl::kWriteByte, 2, pld::kInterruptEnable, enables);
    ASSERT_NE(Event(ioctl::kRegisterEvent, 0x77), 0);
    signal_count = 0;
  }
  const rvx_driver_ops* ops_ = DriverEntry(&kHost);
  std::vector<void*> devices_;
  void* d_ = nullptr;
};

TEST_F(SimTest, InterruptsReachTheirBoardsEventAndTheTraceKeepsTheNewest) {
  Config config;
  config.board_count = 2;
  config.board[0].byte_swap = true, config.board[0].module_bits = 3;
  Open(config);
  EXPECT_EQ(Io(ioctl::kReadByte, 2, pld::kIdentity), 0x93u);  // swap, type 1, modules 2 and 3
  void* first = d_;
  Open(config, 1);  // another board's event
  ASSERT_NE(Event(ioctl::kRegisterEvent, 0x99), 0);
  d_ = first;
  ASSERT_NE(Event(ioctl::kRegisterEvent, 0x1122334455667788), 0);
  signal_count = 0;
  RaiseInterrupt(0, 0x0005);
  EXPECT_EQ(SignalsBy(1, 2000), 1);
  EXPECT_EQ(last_signalled, 0x1122334455667788u);
  // Raised while notification is off: held until it is on again, then once.
  Event(ioctl::kDisableEvent, 0);
  RaiseInterrupt(0, 0x0003);
  EXPECT_EQ(SignalsBy(2, 50), 1);
  Event(ioctl::kEnableEvent, 0);
  EXPECT_EQ(SignalsBy(3, 50), 2);
  EXPECT_EQ(Io(ioctl::kEventReadWord, 0, 10), 0x0003u);
  StartTrace();
  for (uint32_t i = 0; i < 65536 + 10; ++i) Io(ioctl::kWriteDword, 0, 0, i);
  const std::vector<Request> trace = Trace();
  ASSERT_EQ(trace.size(), 65536u);
  EXPECT_EQ(trace.front().value, 10u);  // the newest requests
}

TEST_F(SimTest, AMovingAxisInterruptsWhereItGoesThroughItsCompareWindow) {
  Open();
  const uint16_t axis = AxisSelectBit(1);
  Command(axis | cmd::kCompMinus, 999);  // a window of 1,000..1,002, narrower than a tick
  Command(axis | cmd::kCompPlus, 1003);
  // Multiplier 10: 80,000 PPS, 8 pulses a tick.
  ConstantSpeedWithEvents(axis, 800000, 1u << wr1::kCompareEvent, 0xC0);
  Command(axis | cmd::kPulseCount, 2000);
  Command(axis | cmd::kFixedPlus);
  while (Axis(0, 1).logical < 1000) {
    EXPECT_EQ(SignalsBy(1, 0), 0);
    AdvanceTime(kTickMicros);
  }
  EXPECT_EQ(SignalsBy(1, 2000), 1);
  EXPECT_GT(Axis(0, 1).logical, 1002);  // it went through, it did not stop in it
  EXPECT_EQ(Io(ioctl::kEventReadWord, 0, 10), 0xC0u);
  EXPECT_EQ(Io(ioctl::kEventReadWord, 0, 24), 0x2u);
}

TEST_F(SimTest, InRealTimeADriveEndsAndInterruptsWithNobodyLooking) {
  Open();
  SetClock(Clock::kReal);
  const uint16_t axis = AxisSelectBit(2);
  // 8,000 PPS: 100 pulses take 12.5 ms.
  ConstantSpeedWithEvents(axis, 8000000, 1u << wr1::kMotionEventShift, 0x01);
  Command(axis | cmd::kPulseCount, 100);
  const uint64_t start = Now();
  Command(axis | cmd::kFixedMinus);
  EXPECT_EQ(SignalsBy(1, 3000), 1);
  EXPECT_EQ(Axis(0, 2).logical, -100);
  EXPECT_GE(Now() - start, 12000u);
}

TEST_F(SimTest, ConfigurationTextsAndMachinesThatCannotBe) {
  Config config;
  EXPECT_EQ(ParseConfig("boards=2; clock=stepped board1.modules=0x5 axis1.3.limits=-10:20 "
                        "axis1.3.home=1:2 axis1.3.z=500 axis1.3.servo=1",
                        &config),
            "");
  const MachineModel& m = config.board[1].machine[3];
  EXPECT_TRUE(config.clock == Clock::kStepped && m.limits && m.home.fitted && m.servo &&
              !m.near_home.fitted);
  EXPECT_EQ(std::vector<int64_t>({config.board_count, config.board[1].module_bits, m.limit_minus,
                                  m.limit_plus, m.home.from, m.home.to, m.z_period}),
            std::vector<int64_t>({2, 5, -10, 20, 1, 2, 500}));
  // Reversed limits and a Z period of 0 are refused through rvxctl's options.
  const std::string keys =
      "; the keys are boards, clock, machine, board<B>.type|modules|swap|id|absent|emergency and "
      "axis<B>.<A>.limits|home|near|z|servo|alarm";
  const std::pair<const char*, std::string> refused[] = {
      {"axis0.4.z=10", "axis0.4.z: axis 4 does not exist: axes are 0..3"},
      {"board16.type=1", "board16.type: board 16 does not exist: boards are 0..15"},
      {"axis0.1.limts=1:2", "unknown key axis0.1.limts" + keys},
      {"board0.module=1", "unknown key board0.module" + keys},
      {"axes=2", "unknown key axes" + keys},
      {"axis0.1.home=none:5", "bad value \"none:5\" for axis0.1.home"},
      {"machine=full", "bad value \"full\" for machine (default or bare)"},
      {"boards=17", "bad value \"17\" for boards (0..16)"},
      {"clock", "\"clock\" is not key=value"},
  };
  for (const auto& [text, error] : refused) {
    Config unchanged = config;
    EXPECT_EQ(ParseConfig(text, &unchanged), error);
    EXPECT_EQ(unchanged.board_count, 2u);
  }
  // The default machine, taken off whole or sensor by sensor.
  Config machine = DefaultBoards();
  const MachineModel& d = machine.board[15].machine[3];
  EXPECT_TRUE(d.limits && d.near_home.fitted && d.home.fitted && d.z_period == 0 && !d.servo);
  EXPECT_EQ(std::vector<int64_t>({d.limit_minus, d.limit_plus, d.near_home.from, d.near_home.to,
                                  d.home.from, d.home.to}),
            std::vector<int64_t>({-1000000, 1000000, -12000, -8000, -9000, -8900}));
  EXPECT_EQ(ParseConfig("axis15.3.limits=none axis15.3.home=none", &machine), "");
  EXPECT_TRUE(!d.limits && d.near_home.fitted && !d.home.fitted);
  EXPECT_EQ(ParseConfig("machine=bare axis2.1.near=4:5", &machine), "");
  EXPECT_TRUE(!d.near_home.fitted && machine.board[2].machine[1].near_home.fitted &&
              !machine.board[2].machine[1].limits);
  Open();
  MachineModel reversed;
  reversed.home = {true, 10, 9};
  std::string why;
  EXPECT_FALSE(SetMachine(0, 0, reversed, &why));
  EXPECT_EQ(why, "a sensor window from 10 to 9 is empty");
  EXPECT_FALSE(Machine(0, 0).home.fitted);
}

}  // namespace
}  // namespace rvx::sim
