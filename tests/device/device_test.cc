// The library over the kernel driver of the virtual board (rvxPciBrd.sys),
// as an application on a machine with boards reaches them: devices opened
// by name, DeviceIoControl, the board event signalled by the driver. The
// driver must be installed and running (scripts/rvx-driver); its private
// requests count opens, closes and held events, journal the requests it
// serves and raise interrupts.
#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "driver/rvxpcibrd_private.h"
#include "tests/support.h"

// After the library's headers, whose names (PeekMessage) windows.h would
// turn into its own.
#include <windows.h>
#undef PeekMessage

namespace rvx::test {
namespace {

// Handles this process opened for private requests; the driver counts
// them with the library's.
u32 private_opens = 0;

// One private request on device `board`, through a handle of its own.
bool Private(u32 board, u32 code, void* in, u32 in_size, void* out, u32 out_size,
             u32* returned = nullptr) {
  ++private_opens;
  os::Handle device = os::OpenDevice(board);
  if (device == nullptr) return false;
  u32 got = 0;
  const int ok = os::DeviceControl(device, code, in, in_size, out, out_size, &got);
  os::CloseDevice(device);
  if (returned != nullptr) *returned = got;
  return ok != 0;
}

// The driver's counters without the private handles: the asking one is
// still open, the earlier ones are closed. Differences of opens and closes
// between two calls count the library's handles alone.
rvxpci_stats Stats() {
  rvxpci_stats stats{};
  EXPECT_TRUE(Private(0, RVXPCI_STATS, nullptr, 0, &stats, sizeof stats));
  stats.opens -= private_opens;
  stats.closes -= private_opens - 1;
  stats.open_files -= 1;
  return stats;
}

void Interrupt(u32 board, u32 cause) {
  EXPECT_TRUE(Private(board, RVXPCI_INTERRUPT, &cause, sizeof cause, nullptr, 0));
}

bool IsEventWindow(u32 code) {
  return code == ioctl::kEventReadByte || code == ioctl::kEventReadWord ||
         code == ioctl::kEventWriteByte || code == ioctl::kEventWriteWord;
}

sim::Op OpOf(u32 code) {
  switch (code) {
    case ioctl::kReadByte:
    case ioctl::kReadWord:
    case ioctl::kReadDword:
    case ioctl::kEventReadByte:
    case ioctl::kEventReadWord:
      return sim::Op::kRead;
    case ioctl::kWriteByte:
    case ioctl::kWriteWord:
    case ioctl::kWriteDword:
    case ioctl::kEventWriteByte:
    case ioctl::kEventWriteWord:
      return sim::Op::kWrite;
    default:
      return sim::Op::kOther;
  }
}

// The driver's journal rendered as the simulator renders its trace.
std::vector<std::string> TakeJournal() {
  std::vector<rvxpci_journal_entry> entries(RVXPCI_JOURNAL_CAPACITY);
  u32 bytes = 0;
  EXPECT_TRUE(Private(0, RVXPCI_JOURNAL_TAKE, nullptr, 0, entries.data(),
                      static_cast<u32>(entries.size() * sizeof entries[0]), &bytes));
  std::vector<std::string> lines;
  for (u32 i = 0; i < bytes / sizeof entries[0]; ++i) {
    const rvxpci_journal_entry& e = entries[i];
    const sim::Request r{e.board,  e.code, OpOf(e.code), IsEventWindow(e.code) ? 0 : e.space,
                         e.offset, e.value};
    lines.push_back(r.ToString());
  }
  return lines;
}

std::vector<std::string> Rendered(const std::vector<sim::Request>& trace) {
  std::vector<std::string> lines;
  for (const sim::Request& r : trace) lines.push_back(r.ToString());
  return lines;
}

// Waits until the service is in `state` (SERVICE_RUNNING, SERVICE_STOPPED).
bool WaitService(SC_HANDLE service, DWORD state) {
  for (int i = 0; i < 100; ++i) {
    SERVICE_STATUS status{};
    if (::QueryServiceStatus(service, &status) && status.dwCurrentState == state) return true;
    ::Sleep(50);
  }
  return false;
}

// Restarts the driver with `boards` boards, as scripts/rvx-driver would.
bool RestartDriver(DWORD boards) {
  SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return false;
  SC_HANDLE service = ::OpenServiceA(manager, "rvxPciBrd", SERVICE_ALL_ACCESS);
  bool ok = service != nullptr;
  if (ok) {
    SERVICE_STATUS status{};
    ::ControlService(service, SERVICE_CONTROL_STOP, &status);
    ok = WaitService(service, SERVICE_STOPPED);
  }
  HKEY key = nullptr;
  ok = ok && ::RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                               "System\\CurrentControlSet\\Services\\rvxPciBrd\\Parameters", 0,
                               nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS;
  if (key != nullptr) {
    ok = ok && ::RegSetValueExA(key, "BoardCount", 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&boards), sizeof boards) == 0;
    ::RegCloseKey(key);
  }
  ok = ok && ::StartServiceA(service, 0, nullptr) && WaitService(service, SERVICE_RUNNING);
  if (service != nullptr) ::CloseServiceHandle(service);
  ::CloseServiceHandle(manager);
  return ok;
}

std::atomic<u32> deliveries{0};  // one hex digit per callback, kind + 1, latest lowest
void Record(uint32_t board, uint32_t kind) {
  deliveries = deliveries.load() << 4 | (board * 4 + kind + 1);
}
u32 Deliveries(u32 expected, u32 wait_ms = 5000) {
  for (u32 start = os::TickCount(); deliveries != expected && os::TickCount() - start < wait_ms;) {
    os::Sleep(1);
  }
  return deliveries;
}

class DeviceTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    UseDevice();
    ASSERT_TRUE(Private(0, RVXPCI_POWER_ON, nullptr, 0, nullptr, 0))
        << "the driver is not running: scripts/rvx-driver install build-win/rvxPciBrd.sys";
  }
  // The next load goes through the kernel driver (RVX_DRIVER empty).
  static void UseDevice() {
    os::SetEnv("RVX_DRIVER", "");
    process().driver_chosen = false;
  }
  static void UseSimulator() {
    os::SetEnv("RVX_DRIVER", "sim");
    process().driver_chosen = false;
  }
};

TEST_F(DeviceTest, LoadingFindsTheDriversBoardsAndUnloadClosesEveryHandle) {
  for (const u32 boards : {2u, 1u}) {
    SCOPED_TRACE(boards);
    ASSERT_TRUE(RestartDriver(boards));
    const rvxpci_stats before = Stats();
    EXPECT_EQ(before.boards, boards);
    EXPECT_EQ(RVX406A_LoadDevice(), static_cast<int32_t>(boards - 1));
    const rvxpci_stats loaded = Stats();
    // Devices 0..boards-1 open, the open of device `boards` fails in the
    // system without reaching the driver; each board registers one event.
    EXPECT_EQ(loaded.opens - before.opens, boards);
    EXPECT_EQ(loaded.open_files, boards);
    EXPECT_EQ(loaded.events_held, boards);
    RVX406A_UnloadDevice();
    const rvxpci_stats unloaded = Stats();
    EXPECT_EQ(unloaded.closes - before.closes, boards);
    EXPECT_EQ(unloaded.open_files, 0u);
    EXPECT_EQ(unloaded.events_held, 0u);
  }
  EXPECT_TRUE(RestartDriver(2));
}

// Whatever a program sends, the driver refuses what it cannot serve and
// goes on serving.
TEST_F(DeviceTest, RequestsTheDriverCannotServeFailAndLeaveItServing) {
  struct Row {
    const char* what;
    u32 code, in_size, out_size, space;
  };
  const Row rows[] = {
      {"unknown code", 0xE0003FFC, 16, 16, 2},
      {"code of another device type", 0x00223800, 16, 16, 2},
      {"short record", ioctl::kReadByte, 15, 16, 2},
      {"read without room for the value", ioctl::kReadDword, 16, 8, 0},
      {"short write record", ioctl::kWriteWord, 12, 16, 1},
      {"unknown space", ioctl::kReadByte, 16, 16, 7},
      {"short configuration record", ioctl::kBoardConfig, 100, 168, 0},
      {"event value of 4 bytes", ioctl::kRegisterEvent, 4, 0, 0},
      {"enable without a registered event", ioctl::kEnableEvent, 8, 0, 0},
      {"register a value that is no handle", ioctl::kRegisterEvent, 8, 0, 0},
      {"register a handle that is no event", ioctl::kRegisterEvent, 8, 0, 1},
  };
  os::Handle device = os::OpenDevice(0);
  ASSERT_NE(device, nullptr);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    u32 buffer[64] = {row.space, 1, 0, 0};
    if (row.code == ioctl::kRegisterEvent) {  // space 1: the device's own handle
      const uint64_t value = row.space == 1 ? reinterpret_cast<uintptr_t>(device) : 0x7FFFFFF0;
      std::memcpy(buffer, &value, sizeof value);
    }
    u32 returned = 99;
    EXPECT_EQ(
        os::DeviceControl(device, row.code, buffer, row.in_size, buffer, row.out_size, &returned),
        0);
    EXPECT_EQ(returned, 0u);
  }
  u32 record[4] = {2, 1, 0, 0};  // PLD register 1: type 1, no modules
  u32 returned = 0;
  EXPECT_EQ(os::DeviceControl(device, ioctl::kReadByte, record, 16, record, 16, &returned), 1);
  EXPECT_EQ(returned, 16u);
  EXPECT_EQ(record[2], 0x10u);
  os::CloseDevice(device);
  EXPECT_EQ(Stats().events_held, 0u);
}

TEST_F(DeviceTest, TheDriverServesTheRequestsTheSimulatorModuleSees) {
  struct Row {
    const char* call;
    std::function<void()> run;
  };
  const std::vector<Row> rows = {
      {"setter", [] { RVX406A_SetSvAlm(0, 1, 1, 0); }},
      {"getter", [] { RVX406A_GetCommandPos(0, 1); }},
      {"move", [] { RVX406A_Inc_Move(0, 2, 5000); }},
      {"event enable", [] { RVX406A_SetEventEnable(0, 1); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.call);
    UseDevice();
    ASSERT_TRUE(Private(0, RVXPCI_POWER_ON, nullptr, 0, nullptr, 0));
    Load();
    ASSERT_TRUE(Private(0, RVXPCI_JOURNAL_START, nullptr, 0, nullptr, 0));
    row.run();
    const std::vector<std::string> device = TakeJournal();
    RVX406A_UnloadDevice();

    UseSimulator();
    ResetBoards(Boards());
    Load();
    sim::StartTrace();
    row.run();
    const std::vector<std::string> simulated = Rendered(sim::Trace());
    RVX406A_UnloadDevice();
    EXPECT_FALSE(device.empty());
    EXPECT_EQ(device, simulated);
  }
}

TEST_F(DeviceTest, InterruptsReachTheWindowAndTheCallbackAndADriveEndInterrupts) {
  Load();
  void* window = CreateTestWindow([](void*, uint32_t, uintptr_t, intptr_t) {});
  RVX406A_SetEventHandler(0, 0, window, 0x8001);
  RVX406A_SetEventEnable(0, 1);
  Interrupt(0, 0x05);  // motion chip and module 2: two messages
  os::Message m{};
  std::string posted;
  for (u32 start = os::TickCount(); posted.size() < 16 && os::TickCount() - start < 5000;) {
    if (!os::PeekMessage(&m)) continue;
    posted += std::to_string(m.window == window) + std::to_string(m.message) + "," +
              std::to_string(m.wparam) + std::to_string(m.lparam) + " ";
  }
  EXPECT_EQ(posted, "132769,00 132769,00 ");
  DestroyTestWindow(window);

  deliveries = 0;
  RVX406A_SetEventHandler(0, 1, reinterpret_cast<void*>(&Record), 0);
  Interrupt(0, 0x03);  // motion, module 1
  EXPECT_EQ(Deliveries(0x12), 0x12u);

  // A drive of 5000 pulses at the default speed takes its time on the
  // driver's clock, and its end interrupts by itself.
  deliveries = 0;
  RVX406A_SetMotEventMask(0, 2, 1);
  const u32 start = os::TickCount();
  RVX406A_Inc_Move(0, 2, 5000);
  EXPECT_EQ(Deliveries(0x1, 20000), 0x1u);
  EXPECT_GE(os::TickCount() - start, 10u);
  EXPECT_EQ(RVX406A_GetCommandPos(0, 2), 5000);
  u16 status = 0;
  RVX406A_GetMotEventStatus(0, 2, &status);
  EXPECT_EQ(status, 1);
  RVX406A_UnloadDevice();
  EXPECT_EQ(Stats().events_held, 0u);
}

RVX_TEST_CHILD(DeviceRegisteredChild) {
  if (RVX406A_LoadDevice() < 0) return 10;
  RVX406A_SetEventHandler(0, 1, reinterpret_cast<void*>(&Record), 0);
  RVX406A_SetEventEnable(0, 1);
  WriteFile(args[0], "ready");
  if (args.size() > 1) {  // killed while it waits
    os::Sleep(60000);
    return 30;
  }
  const u32 got = Deliveries(0x1, 20000);
  RVX406A_UnloadDevice();
  return got == 0x1 ? 0 : 20;
}

void WaitReady(const std::string& path) {
  for (u32 start = os::TickCount(); ReadFile(path).empty() && os::TickCount() - start < 20000;) {
    os::Sleep(5);
  }
}

TEST_F(DeviceTest, AProcessKilledWhileRegisteredLeavesTheDriverClean) {
  const rvxpci_stats before = Stats();
  const std::string ready = install_dir_ + "ready";
  const ChildProcess child = StartChild("DeviceRegisteredChild", {ready, "wait"});
  WaitReady(ready);
  EXPECT_EQ(Stats().events_held, before.events_held + 2);
  ::TerminateProcess(reinterpret_cast<HANDLE>(child.id), 9);
  EXPECT_EQ(WaitChild(child), 9);
  rvxpci_stats after = Stats();
  for (u32 start = os::TickCount(); after.open_files != 0 && os::TickCount() - start < 5000;) {
    os::Sleep(10);
    after = Stats();
  }
  EXPECT_EQ(after.open_files, 0u);
  EXPECT_EQ(after.events_held, 0u);
  EXPECT_EQ(after.closes - before.closes, 2u);

  // The next process finds the board as the killed one had left it, and the
  // driver signals its event.
  Load();
  deliveries = 0;
  RVX406A_SetEventHandler(0, 1, reinterpret_cast<void*>(&Record), 0);
  RVX406A_SetEventEnable(0, 1);
  Interrupt(0, 0x01);
  EXPECT_EQ(Deliveries(0x1), 0x1u);
}

TEST_F(DeviceTest, TwoProcessesShareOneBoard) {
  Load();
  RVX406A_SetMotEventMask(0, 3, 1);  // drive end, through this process's shadow
  const std::string ready = install_dir_ + "ready";
  const ChildProcess child = StartChild("DeviceRegisteredChild", {ready});
  WaitReady(ready);
  // The child joined the boards this process loaded; its move's end
  // interrupts both processes' watchers.
  deliveries = 0;
  RVX406A_SetEventHandler(0, 1, reinterpret_cast<void*>(&Record), 0);
  RVX406A_SetEventEnable(0, 1);
  RVX406A_Inc_Move(0, 3, 2000);
  EXPECT_EQ(Deliveries(0x1, 20000), 0x1u);
  EXPECT_EQ(WaitChild(child), 0);
  EXPECT_EQ(Stats().events_held, 2u);  // this process's two boards
}

}  // namespace
}  // namespace rvx::test
