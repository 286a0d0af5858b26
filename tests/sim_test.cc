// The simulated board driven through its driver ops as the library drives a board.
#include "sim/sim.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <tuple>
#include <vector>

#include "core/registers.h"
#include "platform/platform.h"
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
int SignalsOnce(int count, uint32_t wait_ms = 2000) {
  for (uint32_t start = os::TickCount(); signal_count < count && os::TickCount() - start < wait_ms;)
    os::Sleep(1);
  return signal_count;
}

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    os::SetEnv("RVX_IPC_NAMESPACE",
               ("simtest-" + std::to_string(test::CurrentProcessId())).c_str());
  }
  void TearDown() override {
    for (void* device : devices_) ops_->close_device(device);
    RemoveNamedObjects();
  }
  // Opens board 0 of fresh hardware built as `config`.
  void* Open(const Config& config = {}) {
    Reset(config);
    devices_.push_back(ops_->open_device(0));
    return d_ = devices_.back();
  }
  // A port request on the last device opened; the value read back.
  uint32_t Io(uint32_t code, uint32_t space, uint32_t offset, uint32_t value = 0) {
    PortRecord record{space, offset, value, 0};
    uint32_t returned = 0;
    EXPECT_NE(ops_->io_control(d_, code, &record, 16, &record, 16, &returned), 0);
    EXPECT_EQ(returned, 16u);
    return record.value;
  }
  uint16_t Chip(uint32_t offset) { return Io(ioctl::kReadWord, 1, offset); }
  void SetChip(uint32_t offset, uint16_t v) { Io(ioctl::kWriteWord, 1, offset, v); }
  uint8_t Pld(uint32_t offset) { return Io(ioctl::kReadByte, 2, offset); }
  void SetPld(uint32_t offset, uint8_t v) { Io(ioctl::kWriteByte, 2, offset, v); }
  void Command(uint16_t word, int32_t data = 0) {
    SetChip(chip::kWr7, static_cast<uint16_t>(data >> 16));
    SetChip(chip::kWr6, static_cast<uint16_t>(data));
    SetChip(chip::kWr0, word);
  }
  int32_t Read32(uint16_t word) {
    SetChip(chip::kWr0, word);
    return static_cast<int32_t>(Chip(chip::kRr7) << 16 | Chip(chip::kRr6));
  }
  int EventRequest(void* device, uint32_t code, uint64_t event) {
    uint32_t returned;
    return ops_->io_control(device, code, &event, 8, nullptr, 0, &returned);  // little-endian
  }

  const rvx_driver_ops* ops_ = DriverEntry(&kHost);
  std::vector<void*> devices_;
  void* d_ = nullptr;
};

TEST_F(SimTest, AxisSelectionDataRegistersAndChipReset) {
  Open();
  for (uint32_t a = 0; a < 4; ++a) SetErrorStatus(0, a, static_cast<uint16_t>(0x10 + a));
  Command(cmd::kAllAxes | cmd::kSelect);
  SetChip(chip::kWr2, 0x0044);
  Command(AxisSelectBit(2) | cmd::kSelect);
  SetChip(chip::kWr1, 0x1234);
  Command(0x0600 | cmd::kSelect);  // axes 1 and 2
  SetChip(chip::kWr3, 0x0080);
  const uint64_t expected[] = {0x0000'0044'0000, 0x0000'0044'0080, 0x1234'0044'0080, 0x44'0000};
  for (uint32_t a = 0; a < 4; ++a) {
    const AxisState s = Axis(0, a);
    EXPECT_EQ(uint64_t{s.wr1} << 32 | s.wr2 << 16 | s.wr3, expected[a]) << a;  // WR1'WR2'WR3
  }
  EXPECT_EQ(Chip(chip::kRr2), 0x11);  // reads come from the lowest selected axis

  for (int32_t value : {1, -2, 0x7FFFFFFF, 0x12345678}) {
    Command(AxisSelectBit(1) | cmd::kSetLogical, value);
    Command(AxisSelectBit(1) | cmd::kSetReal, -value);
    EXPECT_EQ(Read32(AxisSelectBit(1) | cmd::kReadLogical), value);
    EXPECT_EQ(Read32(AxisSelectBit(1) | cmd::kReadReal), -value);
  }
  SetCurrentSpeed(0, 3, 4321);
  EXPECT_EQ(Read32(AxisSelectBit(3) | cmd::kReadSpeed), 4321);
  Command(AxisSelectBit(2) | cmd::kExtension, static_cast<int32_t>(0xC94F6500));
  EXPECT_EQ(Axis(0, 2).em6 | Axis(0, 2).em7 << 16, 0xC94F6500);
  Command(cmd::kAllAxes | cmd::kSetReal, 77);
  EXPECT_EQ(Axis(0, 0).logical, 0);
  EXPECT_EQ(Axis(0, 3).real, 77);
  SetInputs(0, 0, 0x01);
  SetChip(chip::kWr0, cmd::kChipReset);
  EXPECT_EQ(Axis(0, 3).real | Axis(0, 2).wr1, 0);  // what the chip computes is reset
  EXPECT_EQ(Chip(chip::kRr4), 0xFFFE);             // the outside world is not; inputs active low
}

TEST_F(SimTest, PldIdentityModulesAndBusTest) {
  // Type, module bits, byte swap; the identity byte and the fitted modules (bit m).
  const std::tuple<uint8_t, uint8_t, bool, uint8_t, uint8_t> cases[] = {
      {1, 0, false, 0x10, 0b00010}, {3, 0xF, false, 0x3F, 0b11110}, {1, 3, true, 0x93, 0b01110}};
  for (const auto& [type, bits, swap, identity, fitted] : cases) {
    Config config;
    config.board[0] = {true, type, bits, swap, 1u << 5, 6};
    Open(config);
    for (uint32_t r : {pld::kIdentity, pld::kBoardId, pld::kVersion, pld::kLhome0}) SetPld(r, 0xA5);
    EXPECT_EQ(Pld(pld::kIdentity), identity);
    EXPECT_EQ(Pld(pld::kBoardId), 6);
    EXPECT_EQ(Pld(pld::kVersion), 0x21);
    EXPECT_EQ(Pld(pld::kLhome0), 0xA5);
    SetDiBytes(0, 2, 0x12, 0x34);
    for (uint32_t m = 1; m <= 4; ++m) {
      const uint32_t base = pld::ModuleBase(m);
      const bool on = fitted >> m & 1;
      SetPld(base + pld::kModuleDo + 1, 0xC3);
      SetPld(base + pld::kModuleDi, 0x00);  // inputs cannot be written
      SetPld(base + pld::kModuleDi + 1, 0x00);
      const int di = Pld(base + pld::kModuleDi) | Pld(base + pld::kModuleDi + 1) << 8;
      EXPECT_EQ(di, !on ? 0 : m == 2 ? 0x3412 : 0xFFFF) << m;
      EXPECT_EQ(Pld(base + pld::kModuleDo + 1), on ? 0xC3 : 0) << m;
      EXPECT_EQ(sim::Pld(0, base + pld::kModuleDo + 1), on ? 0xC3 : 0) << m;
    }
    for (uint32_t bit : {4, 5, 6}) {  // bit 5 of the bus-test register is stuck at 0
      Io(ioctl::kWriteDword, 0, local::kBusTest, 1u << bit);
      EXPECT_EQ(Io(ioctl::kReadDword, 0, local::kBusTest), bit == 5 ? 0 : 1u << bit);
    }
  }
}

TEST_F(SimTest, DrivesStayBusyForTheirPollsHeldOnesWaitInterpolationsMoveTheirGroup) {
  // Drive command, RR0 polls it lasts, travel of the counters.
  const std::tuple<uint16_t, uint32_t, int32_t> cases[] = {
      {cmd::kFixedPlus, 0, 100}, {cmd::kFixedMinus, 2, -100}, {cmd::kContinuousPlus, 1, 0}};
  for (const auto& [command, polls, travel] : cases) {
    Open();
    SetDriveDuration(0, 2, polls);
    Command(AxisSelectBit(2) | cmd::kPulseCount, 100);
    Command(AxisSelectBit(2) | command);
    for (uint32_t poll = 0; poll < polls; ++poll) EXPECT_EQ(Chip(chip::kRr0), 0x4) << poll;
    EXPECT_EQ(Chip(chip::kRr0), 0) << command;
    EXPECT_EQ(Axis(0, 2).logical, travel) << command;
  }
  Open();
  const uint16_t pair = AxisSelectBit(0) | AxisSelectBit(3);
  Command(pair | cmd::kHold);
  Command(AxisSelectBit(0) | cmd::kPulseCount, 10);
  Command(AxisSelectBit(0) | cmd::kFixedPlus);
  Command(AxisSelectBit(3) | cmd::kPulseCount, 20);
  Command(AxisSelectBit(3) | cmd::kFixedMinus);
  EXPECT_EQ(Axis(0, 0).logical | Axis(0, 3).logical, 0);  // held
  Command(pair | cmd::kRelease);
  EXPECT_EQ(Axis(0, 0).logical, 10);
  EXPECT_EQ(Axis(0, 3).logical, -20);
  Open();
  SetDriveDuration(0, 3, 1);
  SetChip(chip::kWr5, 3 | 1 << 2);  // a line of axis 3 (its duration rules) and axis 1
  Command(AxisSelectBit(3) | cmd::kPulseCount, -40);
  Command(AxisSelectBit(1) | cmd::kPulseCount, 30);
  Command(cmd::kLine2);
  EXPECT_EQ(Chip(chip::kRr0), 0x10A);  // both axes and the interpolation busy
  EXPECT_EQ(Chip(chip::kRr0), 0);
  EXPECT_EQ(Axis(0, 3).logical, -40);
  EXPECT_EQ(Axis(0, 1).logical, 30);
}

TEST_F(SimTest, InterruptsSignalRegisteredEnabledEvents) {
  Config config;
  config.board_count = 2;
  void* first = Open(config);
  devices_.push_back(ops_->open_device(0));  // the same board, never registered
  devices_.push_back(ops_->open_device(1));
  ASSERT_NE(EventRequest(first, ioctl::kRegisterEvent, 0x1122334455667788), 0);
  ASSERT_NE(EventRequest(devices_[1], ioctl::kEnableEvent, 0), 0);
  ASSERT_NE(EventRequest(devices_[2], ioctl::kRegisterEvent, 0x99), 0);
  RaiseInterrupt(0, 0x0005);
  EXPECT_EQ(SignalsOnce(1), 1);
  EXPECT_EQ(last_signalled, 0x1122334455667788u);
  // Raised while notification is off: held until it is on again, then once.
  EventRequest(first, ioctl::kDisableEvent, 0);
  RaiseInterrupt(0, 0x0003);
  EXPECT_EQ(SignalsOnce(2, 50), 1);
  EventRequest(first, ioctl::kEnableEvent, 0);
  EXPECT_EQ(SignalsOnce(3, 50), 2);
  EXPECT_EQ(Io(ioctl::kEventReadWord, 0, 10), 0x0003u);
}

TEST_F(SimTest, TraceRecordsTheNewestRequestsInOrder) {
  Open();
  StartTrace();
  SetChip(chip::kWr0, 0x010F);
  Pld(pld::kIdentity);
  Io(ioctl::kReadDword, 0, local::kBusTest);
  Io(ioctl::kEventWriteByte, 0, 20, 0);
  Io(ioctl::kEventReadWord, 0, 10);
  EventRequest(d_, ioctl::kRegisterEvent, 5);
  StopTrace();
  SetPld(pld::kLhome0, 2);
  std::vector<std::string> lines;
  for (const Request& r : Trace()) lines.push_back(r.ToString());
  EXPECT_EQ(lines, (std::vector<std::string>{"W1 00 0x010F", "R2 01 0x10", "R0 30 0x00000000",
                                             "EW 14 0x00", "ER 0A 0x0000", "C 0xE0003878"}));
  StartTrace();
  for (uint32_t i = 0; i < 65536 + 10; ++i) Io(ioctl::kWriteDword, 0, 0, i);
  const std::vector<Request> trace = Trace();
  ASSERT_EQ(trace.size(), 65536u);
  EXPECT_EQ(trace.front().value, 10u);
}

}  // namespace
}  // namespace rvx::sim
