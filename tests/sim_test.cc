// The simulated board driven through its driver ops exactly as the library
// drives a board: port records through io_control.
#include "sim/sim.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/registers.h"
#include "platform/platform.h"

namespace rvx::sim {
namespace {

std::vector<uint64_t>& Signalled() {
  static std::vector<uint64_t> signalled;
  return signalled;
}
void RecordSignal(uint64_t event) { Signalled().push_back(event); }
const rvx_driver_host kHost = {RVX_DRIVER_ABI_VERSION, RecordSignal};

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::string ipc_namespace = "simtest-" + name + "-" + std::to_string(getpid()) + "-";
    setenv("RVX_IPC_NAMESPACE", ipc_namespace.c_str(), 1);
    ops_ = DriverEntry(&kHost);
    Signalled().clear();
  }
  void TearDown() override {
    for (void* device : devices_) ops_->close_device(device);
    RemoveNamedObjects();
  }

  void* Open(uint32_t board) {
    void* device = ops_->open_device(board);
    if (device) devices_.push_back(device);
    return device;
  }
  uint32_t Read(void* device, uint32_t code, uint32_t space, uint32_t offset) {
    PortRecord record{space, offset, 0xDEADBEEF, 0};
    uint32_t returned = 0;
    EXPECT_NE(
        ops_->io_control(device, code, &record, sizeof(record), &record, sizeof(record), &returned),
        0);
    EXPECT_EQ(returned, sizeof(record));
    return record.value;
  }
  void Write(void* device, uint32_t code, uint32_t space, uint32_t offset, uint32_t value) {
    PortRecord record{space, offset, value, 0};
    uint32_t returned = 0;
    EXPECT_NE(
        ops_->io_control(device, code, &record, sizeof(record), &record, sizeof(record), &returned),
        0);
  }
  int EventRequest(void* device, uint32_t code, uint64_t event) {
    uint8_t buffer[8];
    for (int i = 0; i < 8; ++i) buffer[i] = static_cast<uint8_t>(event >> (8 * i));
    uint32_t returned = 0;
    return ops_->io_control(device, code, buffer, sizeof(buffer), nullptr, 0, &returned);
  }

  uint16_t Chip(void* d, uint32_t offset) { return Read(d, ioctl::kReadWord, 1, offset); }
  void SetChip(void* d, uint32_t offset, uint16_t value) {
    Write(d, ioctl::kWriteWord, 1, offset, value);
  }
  uint8_t Pld(void* d, uint32_t offset) { return Read(d, ioctl::kReadByte, 2, offset); }
  void SetPld(void* d, uint32_t offset, uint8_t v) { Write(d, ioctl::kWriteByte, 2, offset, v); }
  void Write32(void* d, uint16_t word, int32_t value) {
    SetChip(d, chip::kWr7, static_cast<uint16_t>(value >> 16));
    SetChip(d, chip::kWr6, static_cast<uint16_t>(value));
    SetChip(d, chip::kWr0, word);
  }
  int32_t Read32(void* d, uint16_t word) {
    SetChip(d, chip::kWr0, word);
    const uint32_t high = Chip(d, chip::kRr7);
    return static_cast<int32_t>(high << 16 | Chip(d, chip::kRr6));
  }

  const rvx_driver_ops* ops_ = nullptr;
  std::vector<void*> devices_;
};

TEST_F(SimTest, OpenDeviceFollowsBoardConfiguration) {
  EXPECT_EQ(CurrentConfig().board_count, 1u);  // a fresh namespace has the default board
  EXPECT_EQ(Open(1), nullptr);
  Config config;
  config.board_count = 3;
  config.board[1].present = false;
  Reset(config);
  const struct {
    uint32_t board;
    bool opens;
  } cases[] = {{0, true}, {1, false}, {2, true}, {3, false}, {16, false}};
  for (const auto& c : cases) EXPECT_EQ(Open(c.board) != nullptr, c.opens) << c.board;

  void* device = Open(0);
  uint8_t config_record[168] = {};
  uint32_t returned = 0;
  EXPECT_NE(ops_->io_control(device, ioctl::kBoardConfig, config_record, 168, config_record, 168,
                             &returned),
            0);
  PortRecord record{};
  EXPECT_EQ(ops_->io_control(device, 0xE0003999, &record, 16, &record, 16, &returned), 0);
  EXPECT_EQ(ops_->io_control(nullptr, ioctl::kReadWord, &record, 16, &record, 16, &returned), 0);
  record.space = 7;
  EXPECT_EQ(ops_->io_control(device, ioctl::kReadWord, &record, 16, &record, 16, &returned), 0);
}

TEST_F(SimTest, AxisSelectionRoutesModeAndStatusRegisters) {
  void* d = Open(0);
  for (uint32_t a = 0; a < 4; ++a) SetErrorStatus(0, a, static_cast<uint16_t>(0x10 + a));
  SetChip(d, chip::kWr0, cmd::kAllAxes | cmd::kSelect);
  SetChip(d, chip::kWr2, 0x0044);
  SetChip(d, chip::kWr0, AxisSelectBit(2) | cmd::kSelect);
  SetChip(d, chip::kWr1, 0x1234);
  SetChip(d, chip::kWr0, 0x0600 | cmd::kSelect);  // axes 1 and 2
  SetChip(d, chip::kWr3, 0x0080);
  const struct {
    uint32_t axis;
    uint16_t wr1, wr2, wr3;
  } expected[] = {{0, 0, 0x44, 0}, {1, 0, 0x44, 0x80}, {2, 0x1234, 0x44, 0x80}, {3, 0, 0x44, 0}};
  for (const auto& e : expected) {
    const AxisState axis = Axis(0, e.axis);
    EXPECT_EQ(axis.wr1, e.wr1) << e.axis;
    EXPECT_EQ(axis.wr2, e.wr2) << e.axis;
    EXPECT_EQ(axis.wr3, e.wr3) << e.axis;
  }
  EXPECT_EQ(Chip(d, chip::kRr2), 0x11);  // reads come from the lowest selected axis
  SetChip(d, chip::kWr0, AxisSelectBit(3) | cmd::kSelect);
  EXPECT_EQ(Chip(d, chip::kRr2), 0x13);
}

TEST_F(SimTest, ParametersPassThroughDataRegisters) {
  void* d = Open(0);
  for (int32_t value : {0, 1, -1, -2, -1073741824, 0x7FFFFFFF, 0x12345678}) {
    Write32(d, AxisSelectBit(1) | cmd::kSetLogical, value);
    Write32(d, AxisSelectBit(1) | cmd::kSetReal, -value);
    EXPECT_EQ(Read32(d, AxisSelectBit(1) | cmd::kReadLogical), value);
    EXPECT_EQ(Read32(d, AxisSelectBit(1) | cmd::kReadReal), -value);
    EXPECT_EQ(Axis(0, 0).logical, 0);
  }
  SetCurrentSpeed(0, 3, 4321);
  EXPECT_EQ(Read32(d, AxisSelectBit(3) | cmd::kReadSpeed), 4321);

  const struct {
    uint16_t code;
    uint16_t AxisState::*field;
  } params16[] = {{cmd::kAcc, &AxisState::acc},
                  {cmd::kDriveSpeed, &AxisState::drive},
                  {cmd::kDecJerk, &AxisState::dec_jerk},
                  {cmd::kHomeLowSpeed, &AxisState::home_low}};
  uint16_t value = 100;
  for (const auto& p : params16) {
    SetChip(d, chip::kWr6, ++value);
    SetChip(d, chip::kWr0, AxisSelectBit(2) | p.code);
    EXPECT_EQ(Axis(0, 2).*p.field, value) << p.code;
    EXPECT_EQ(Axis(0, 1).*p.field, 0) << p.code;
  }

  Write32(d, AxisSelectBit(0) | cmd::kRange, 8000000);
  Write32(d, AxisSelectBit(0) | cmd::kPulseCount, 268435455);
  Write32(d, AxisSelectBit(0) | cmd::kCompMinus, -1073741823);
  Write32(d, AxisSelectBit(0) | cmd::kCenter, -5);
  Write32(d, AxisSelectBit(0) | cmd::kAccOffset, -3);
  Write32(d, AxisSelectBit(0) | cmd::kExtension, static_cast<int32_t>(0xC94F6500));
  const AxisState axis = Axis(0, 0);
  EXPECT_EQ(axis.range, 8000000u);
  EXPECT_EQ(axis.pulse_count, 268435455u);
  EXPECT_EQ(axis.comp_minus, -1073741823);
  EXPECT_EQ(axis.center, -5);
  EXPECT_EQ(axis.acc_offset, -3);
  EXPECT_EQ(axis.em6, 0x6500);
  EXPECT_EQ(axis.em7, 0xC94F);

  Write32(d, cmd::kAllAxes | cmd::kSetReal, 77);
  for (uint32_t a = 0; a < 4; ++a) EXPECT_EQ(Axis(0, a).real, 77) << a;
}

TEST_F(SimTest, PldIdentityIsComposedAndReadOnly) {
  const struct {
    uint8_t type_code, module_bits;
    bool byte_swap;
    uint8_t identity;
  } cases[] = {
      {1, 0, false, 0x10}, {3, 0xF, false, 0x3F}, {1, 0x3, true, 0x93}, {9, 0x1F, true, 0x9F}};
  for (const auto& c : cases) {
    Config config;
    config.board[0].type_code = c.type_code;
    config.board[0].module_bits = c.module_bits;
    config.board[0].byte_swap = c.byte_swap;
    config.board[0].board_id = 6;
    Reset(config);
    void* d = Open(0);
    EXPECT_EQ(Pld(d, pld::kIdentity), c.identity);
    SetPld(d, pld::kIdentity, 0x00);
    SetPld(d, pld::kBoardId, 0x55);
    SetPld(d, pld::kVersion, 0x55);
    SetPld(d, pld::kLhome0, 0xA5);
    EXPECT_EQ(Pld(d, pld::kIdentity), c.identity);
    EXPECT_EQ(Pld(d, pld::kBoardId), 6);
    EXPECT_EQ(Pld(d, pld::kVersion), 0x21);
    EXPECT_EQ(Pld(d, pld::kLhome0), 0xA5);
  }
}

TEST_F(SimTest, BusTestRegisterHasStuckBits) {
  Config config;
  config.board[0].stuck_bus_bits = 1u << 5;
  Reset(config);
  void* d = Open(0);
  for (uint32_t bit = 0; bit < 32; ++bit) {
    Write(d, ioctl::kWriteDword, 0, local::kBusTest, 1u << bit);
    const uint32_t expected = bit == 5 ? 0 : 1u << bit;
    EXPECT_EQ(Read(d, ioctl::kReadDword, 0, local::kBusTest), expected) << bit;
  }
  Write(d, ioctl::kWriteDword, 0, local::kServoRun, 0x100);
  EXPECT_EQ(Local(0, local::kServoRun), 0x100u);
}

TEST_F(SimTest, ExpansionModulesHoldOutputsAndReportInputs) {
  Config config;
  config.board[0].module_bits = 0x1;  // type 1: modules 1 and 2
  Reset(config);
  void* d = Open(0);
  SetDiBytes(0, 2, 0x12, 0x34);
  const struct {
    uint32_t module;
    bool fitted;
    uint8_t di_low, di_high;
  } cases[] = {{1, true, 0xFF, 0xFF}, {2, true, 0x12, 0x34}, {3, false, 0, 0}, {4, false, 0, 0}};
  for (const auto& c : cases) {
    const uint32_t base = pld::ModuleBase(c.module);
    SetPld(d, base + pld::kModuleDo, 0x5A);
    SetPld(d, base + pld::kModuleDo + 1, 0xC3);
    SetPld(d, base + pld::kModuleDi, 0x00);  // inputs cannot be written
    SetPld(d, base + pld::kModuleDataLow, 0xAA);
    SetPld(d, base + pld::kModuleDataHigh, 10);
    SetPld(d, base + pld::kModuleCommand, 0xC2);
    EXPECT_EQ(Pld(d, base + pld::kModuleDi), c.di_low) << c.module;
    EXPECT_EQ(Pld(d, base + pld::kModuleDi + 1), c.di_high) << c.module;
    EXPECT_EQ(Pld(d, base + pld::kModuleDo), c.fitted ? 0x5A : 0) << c.module;
    EXPECT_EQ(Pld(d, base + pld::kModuleDo + 1), c.fitted ? 0xC3 : 0) << c.module;
    EXPECT_EQ(sim::Pld(0, base + pld::kModuleCommand), c.fitted ? 0xC2 : 0) << c.module;
    EXPECT_EQ(sim::Pld(0, base + pld::kModuleDataHigh), c.fitted ? 10 : 0) << c.module;
  }
}

TEST_F(SimTest, InputsAreReportedActiveLow) {
  void* d = Open(0);
  EXPECT_EQ(Chip(d, chip::kRr4), 0xFFFF);
  SetInputs(0, 1, 0x05);
  SetInputs(0, 2, 0x80);
  EXPECT_EQ(Chip(d, chip::kRr4), 0xFAFF);
  EXPECT_EQ(Chip(d, chip::kRr5), 0xFF7F);
}

TEST_F(SimTest, DrivesMoveAndStayBusyForTheirPolls) {
  const struct {
    uint16_t command;
    uint32_t polls;
    int32_t travel;
  } cases[] = {{cmd::kFixedPlus, 0, 100},   {cmd::kFixedMinus, 0, -100},  {cmd::kFixedPlus, 3, 100},
               {cmd::kFixedMinus, 2, -100}, {cmd::kContinuousPlus, 2, 0}, {cmd::kHomeSearch, 1, 0}};
  for (const auto& c : cases) {
    Reset(Config{});
    void* d = Open(0);
    SetDriveDuration(0, 2, c.polls);
    Write32(d, AxisSelectBit(2) | cmd::kPulseCount, 100);
    SetChip(d, chip::kWr0, AxisSelectBit(2) | c.command);
    EXPECT_EQ(Axis(0, 2).last_drive_command, c.command);
    for (uint32_t poll = 0; poll < c.polls; ++poll) {
      EXPECT_EQ(Chip(d, chip::kRr0) & 0xF, 0x4) << c.command << " poll " << poll;
    }
    EXPECT_EQ(Chip(d, chip::kRr0) & 0xF, 0) << c.command;
    EXPECT_EQ(Axis(0, 2).logical, c.travel) << c.command;
    EXPECT_EQ(Axis(0, 2).real, c.travel) << c.command;
  }
}

TEST_F(SimTest, StopsEndDrivesWithoutReachingTheTarget) {
  void* d = Open(0);
  for (uint16_t stop : {cmd::kDecelStop, cmd::kSuddenStop}) {
    SetDriveDuration(0, 0, 100);
    Write32(d, AxisSelectBit(0) | cmd::kPulseCount, 50);
    SetChip(d, chip::kWr0, AxisSelectBit(0) | cmd::kFixedPlus);
    EXPECT_EQ(Chip(d, chip::kRr0) & 1, 1);
    SetChip(d, chip::kWr0, AxisSelectBit(0) | stop);
    EXPECT_EQ(Chip(d, chip::kRr0) & 1, 0);
    EXPECT_EQ(Axis(0, 0).logical, 0);
  }
  SetDriving(0, 1, true);  // forced busy lasts until cleared
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Chip(d, chip::kRr0) & 2, 2);
  SetDriving(0, 1, false);
  EXPECT_EQ(Chip(d, chip::kRr0) & 2, 0);
  SetMainStatusBits(0, 0x0130);
  EXPECT_EQ(Chip(d, chip::kRr0), 0x0130);
}

TEST_F(SimTest, HeldDrivesStartTogetherOnRelease) {
  void* d = Open(0);
  const uint16_t pair = AxisSelectBit(0) | AxisSelectBit(3);
  SetChip(d, chip::kWr0, pair | cmd::kHold);
  Write32(d, AxisSelectBit(0) | cmd::kPulseCount, 10);
  SetChip(d, chip::kWr0, AxisSelectBit(0) | cmd::kFixedPlus);
  Write32(d, AxisSelectBit(3) | cmd::kPulseCount, 20);
  SetChip(d, chip::kWr0, AxisSelectBit(3) | cmd::kFixedMinus);
  EXPECT_TRUE(Axis(0, 0).held);
  EXPECT_EQ(Axis(0, 0).logical, 0);
  EXPECT_EQ(Axis(0, 3).logical, 0);
  SetChip(d, chip::kWr0, pair | cmd::kRelease);
  EXPECT_FALSE(Axis(0, 3).held);
  EXPECT_EQ(Axis(0, 0).logical, 10);
  EXPECT_EQ(Axis(0, 3).logical, -20);
}

TEST_F(SimTest, InterpolationDrivesItsGroup) {
  void* d = Open(0);
  SetDriveDuration(0, 3, 2);
  SetChip(d, chip::kWr5, 3 | 1 << 2);  // axis 3 first, axis 1 second
  Write32(d, AxisSelectBit(3) | cmd::kPulseCount, -40);
  Write32(d, AxisSelectBit(1) | cmd::kPulseCount, 30);
  SetChip(d, chip::kWr0, cmd::kLineStart);
  SetChip(d, chip::kWr0, cmd::kLine2);
  EXPECT_EQ(Chip(d, chip::kRr0), 0x10A);
  EXPECT_EQ(Chip(d, chip::kRr0), 0x10A);
  EXPECT_EQ(Chip(d, chip::kRr0), 0);
  EXPECT_EQ(Axis(0, 3).logical, -40);
  EXPECT_EQ(Axis(0, 1).real, 30);
  EXPECT_EQ(Axis(0, 0).logical, 0);
}

TEST_F(SimTest, ChipResetRestoresPowerOnValues) {
  void* d = Open(0);
  SetInputs(0, 0, 0x01);
  Write32(d, cmd::kAllAxes | cmd::kSetLogical, 99);
  SetChip(d, chip::kWr0, cmd::kAllAxes | cmd::kSelect);
  SetChip(d, chip::kWr1, 0xE000);
  SetChip(d, chip::kWr4, 0x0F0F);
  SetDriving(0, 2, true);
  SetChip(d, chip::kWr0, cmd::kChipReset);
  EXPECT_EQ(Chip(d, chip::kRr0), 0);
  EXPECT_EQ(Wr4(0), 0);
  EXPECT_EQ(Axis(0, 1).logical, 0);
  EXPECT_EQ(Axis(0, 1).wr1, 0);
  EXPECT_EQ(Chip(d, chip::kRr4) & 0xFF, 0xFE);  // the outside world is unchanged
}

TEST_F(SimTest, InterruptsSignalRegisteredEnabledEvents) {
  Config config;
  config.board_count = 2;
  Reset(config);
  void* first = Open(0);
  void* second = Open(0);
  void* other_board = Open(1);
  ASSERT_NE(EventRequest(first, ioctl::kRegisterEvent, 0x1122334455667788), 0);
  ASSERT_NE(EventRequest(other_board, ioctl::kRegisterEvent, 0x99), 0);
  ASSERT_NE(second, nullptr);  // opened on the same board, never registered

  const struct {
    uint32_t code;  // notification request sent before the interrupt
    size_t signals;
  } steps[] = {{0, 1}, {ioctl::kDisableEvent, 0}, {ioctl::kEnableEvent, 1}};
  for (const auto& step : steps) {
    if (step.code) {
      ASSERT_NE(EventRequest(first, step.code, 0x1122334455667788), 0);
    }
    Signalled().clear();
    RaiseInterrupt(0, 0x0005);
    ASSERT_EQ(Signalled().size(), step.signals) << std::hex << step.code;
    if (step.signals) {
      EXPECT_EQ(Signalled()[0], 0x1122334455667788u);
    }
  }
  EXPECT_EQ(Read(first, ioctl::kEventReadWord, 0, 10), 0x0005u);
  uint8_t short_buffer[4] = {};
  uint32_t returned = 0;
  EXPECT_EQ(ops_->io_control(first, ioctl::kEnableEvent, short_buffer, 4, nullptr, 0, &returned),
            0);
}

TEST_F(SimTest, EventWindowIsLittleEndian) {
  void* d = Open(0);
  Write(d, ioctl::kEventWriteWord, 0, 12, 0x1234);
  Write(d, ioctl::kEventWriteByte, 0, 21, 0x80);
  EXPECT_EQ(EventByte(0, 12), 0x34);
  EXPECT_EQ(EventByte(0, 13), 0x12);
  EXPECT_EQ(Read(d, ioctl::kEventReadWord, 0, 20), 0x8000u);
  SetEventByte(0, 27, 0x7F);
  EXPECT_EQ(Read(d, ioctl::kEventReadByte, 0, 27), 0x7Fu);
}

TEST_F(SimTest, OtherProcessesSeeTheSameBoards) {
  void* d = Open(0);
  SetPld(d, pld::kLhome1, 0x3C);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    void* c = ops_->open_device(0);
    const bool seen = Pld(c, pld::kLhome1) == 0x3C;
    Write32(c, AxisSelectBit(1) | cmd::kSetReal, -123456);
    _exit(seen ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Read32(d, AxisSelectBit(1) | cmd::kReadReal), -123456);
}

TEST_F(SimTest, TraceRecordsRequestsInOrder) {
  void* d = Open(0);
  SetPld(d, pld::kLhome0, 1);  // before the trace: not recorded
  StartTrace();
  SetChip(d, chip::kWr0, 0x010F);
  Pld(d, pld::kIdentity);
  Read(d, ioctl::kReadDword, 0, local::kBusTest);
  Write(d, ioctl::kEventWriteByte, 0, 20, 0);
  Read(d, ioctl::kEventReadWord, 0, 10);
  EventRequest(d, ioctl::kRegisterEvent, 5);
  StopTrace();
  SetPld(d, pld::kLhome0, 2);
  std::vector<std::string> lines;
  for (const Request& r : Trace()) lines.push_back(r.ToString());
  const std::vector<std::string> expected = {"W1 00 0x010F", "R2 01 0x10",   "R0 30 0x00000000",
                                             "EW 14 0x00",   "ER 0A 0x0000", "C 0xE0003878"};
  EXPECT_EQ(lines, expected);
  Reset(Config{});
  EXPECT_TRUE(Trace().empty());
}

TEST_F(SimTest, TraceKeepsTheNewestWhenTheRingOverflows) {
  void* d = Open(0);
  StartTrace();
  const uint32_t total = 65536 + 10;
  for (uint32_t i = 0; i < total; ++i) Write(d, ioctl::kWriteDword, 0, 0, i);
  const std::vector<Request> trace = Trace();
  ASSERT_EQ(trace.size(), 65536u);
  EXPECT_EQ(trace.front().value, 10u);
  EXPECT_EQ(trace.back().value, total - 1);
}

#ifdef RVX_SIM_MODULE_PATH
TEST_F(SimTest, ModuleSharesTheBuiltInBoards) {
  void* module = os::LoadModule(RVX_SIM_MODULE_PATH);
  ASSERT_NE(module, nullptr);
  auto entry = reinterpret_cast<rvx_driver_entry_fn>(os::ModuleSymbol(module, "rvx_driver_entry"));
  ASSERT_NE(entry, nullptr);
  const rvx_driver_ops* module_ops = entry(&kHost);
  ASSERT_NE(module_ops, ops_);
  void* d = module_ops->open_device(0);
  ASSERT_NE(d, nullptr);
  PortRecord record{2, pld::kOrgSel, 0x42, 0};
  uint32_t returned = 0;
  EXPECT_NE(module_ops->io_control(d, ioctl::kWriteByte, &record, 16, &record, 16, &returned), 0);
  module_ops->close_device(d);
  EXPECT_EQ(sim::Pld(0, pld::kOrgSel), 0x42);
}
#endif

}  // namespace
}  // namespace rvx::sim
