// Opening and closing the boards: the library mutex and shared section, board
// enumeration and identification, first-loader initialisation, board events
// and watcher threads.
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/call.h"
#include "core/driver_port.h"
#include "core/message_pump.h"
#include "core/param_file.h"

namespace rvx {
namespace {

constexpr char kSectionName[] = "B83F0D57-2E6A-4C19-A4D8-51F7E902C3BA";
constexpr char kMutexName[] = "5A1C7E20-93D4-4F6B-8E2A-7C0D41B9E635";
constexpr char kLoadedMarkerName[] = "5A1C7E20-93D4-4F6B-8E2A-7C0D41B9E635.loaded";
constexpr u32 kBoardKind = 196;
constexpr int kMaxWatchedBoards = 8;
constexpr u32 kWatcherStopMs = 5000;
constexpr u32 kWatcherGraceMs = 300;
constexpr u32 kUnloadPumpMs = 5;

// Architectures whose systems install to the default directory.
constexpr u16 kArchX86 = 0, kArchIa64 = 6, kArchX64 = 9, kArchUnknown = 0xFFFF;

std::string IpcName(const char* name) { return os::GetEnv("RVX_IPC_NAMESPACE") + name; }

void SetDefaultInstallDir(Process& p) {
  std::string dir = os::GetEnv("RVX_INSTALL_DIR");
  if (dir.empty()) dir = os::DefaultInstallDir();
  const char last = dir.back();
  if (last != '/' && last != os::PathSeparator()) dir += os::PathSeparator();
  snprintf(p.install_dir, sizeof p.install_dir, "%s", dir.c_str());
}

u16 Architecture(const Process& p) {
  return p.seams.architecture >= 0 ? static_cast<u16>(p.seams.architecture)
                                   : os::NativeArchitecture();
}

// Reads the board's identity byte and records its axes and modules.
i32 IdentifyBoard(Process& p, void* handle, u32 n) {
  const BoardIo io(handle);
  const u8 identity = io.Pld(pld::kIdentity);
  const u32 type = (identity >> 4) & 7;
  if (type != 1 && type != 3) return ERR_HW_TYPE;

  BoardRecord& r = p.table.board[n];
  r.axis_count = kAxesPerBoard;
  r.kind = kBoardKind;
  r.first_axis = 0;
  r.di_base = r.do_base = 0;
  // Type 1 carries module 1 itself; identity bits 0..2 then add modules 2..4.
  // Type 3 carries none; bits 0..3 add modules 1..4.
  const u32 first_module = type == 1 ? 2 : 1;
  if (type == 1) {
    r.module_present[0] = 1;
    r.di_count = r.do_count = 16;
  }
  for (u32 m = first_module; m <= 4; ++m) {
    if (Bit(identity, m - first_module)) {
      r.module_present[m - 1] = 1;
      r.di_count = r.do_count = 16 * m;
    }
  }
  p.table.total_axes += r.axis_count;
  p.table.total_di += r.di_count;
  p.table.total_do += r.do_count;
  r.handle = handle;

  AxisBlock& shared = p.shared->board[n].axis[0];
  shared.driver_handle = reinterpret_cast<uintptr_t>(handle);
  shared.board_kind = r.kind;
  shared.axis_count = r.axis_count;
  shared.first_axis = 0;
  shared.di_count = r.di_count;
  shared.di_base = r.di_base;
  shared.do_count = r.do_count;
  shared.do_base = r.do_base;

  const u32* present = r.module_present;
  if ((present[2] && !present[1]) || (present[3] && !present[1]) || (present[3] && !present[2])) {
    return ERR_UPBOARD_LOAD;
  }
  return ERR_SUCCESS;
}

// Creates or opens the library mutex, owned; the process that creates it is
// the first loader. A reload keeps one handle. False when it cannot.
bool OpenLibraryMutex(Process& p) {
  bool existed = false;
  os::Handle mutex = p.seams.Fails(OsCall::kCreateMutex)
                         ? nullptr
                         : os::CreateNamedMutex(IpcName(kMutexName).c_str(), true, &existed);
  if (mutex == nullptr) return false;
  if (p.mutex != nullptr) os::CloseMutex(p.mutex);
  p.mutex = mutex;
  // The call frame takes it like any other call.
  if (!existed) os::ReleaseMutex(mutex);
  return true;
}

// Decides, under the library mutex, whether this process does the first
// load: only a process that has never joined, and then only when no live
// process holds the marker that every loaded process holds. A process that
// takes the mutex over from a first loader that died mid-load finds no
// marker (it went with its only holder) and loads the files itself; a
// process that once joined stays a joiner for its whole life, also when it
// later finds the boards left by everyone. A reload keeps its marker. False
// when the marker cannot be held.
bool HoldLoadedMarker(Process& p) {
  if (p.loaded != nullptr) {
    p.first_loader = false;
    return true;
  }
  bool existed = false;
  p.loaded = p.seams.Fails(OsCall::kCreateMutex)
                 ? nullptr
                 : os::CreateNamedMutex(IpcName(kLoadedMarkerName).c_str(), false, &existed);
  if (existed) p.first_loader = false;  // never set again in this process
  return p.loaded != nullptr;
}

void DropLoadedMarker(Process& p) {
  if (p.loaded != nullptr) os::CloseMutex(p.loaded);
  p.loaded = nullptr;
}

// Maps the shared section, zeroed when this process creates it. A reload
// keeps one handle. False when it cannot.
bool MapSharedSection(Process& p) {
  const os::Section section =
      p.seams.Fails(OsCall::kOpenSection)
          ? os::Section{}
          : os::CreateOrOpenSection(IpcName(kSectionName).c_str(), kSharedSectionSize);
  if (section.handle == nullptr || section.view == nullptr) return false;
  if (p.section != nullptr) os::CloseSection(p.section);
  p.section = section.handle;
  p.shared = static_cast<SharedSection*>(section.view);
  if (section.created) memset(section.view, 0, kSharedSectionSize);
  return true;
}

// A named object the system refused: the log file names it and the reason,
// whatever the log level, as no result code can.
void ReportObjectFailure(Process& p) {
  const std::string reason = os::TakeNamedObjectFailure();
  if (reason.empty()) return;
  if (p.install_dir[0] == '\0') SetDefaultInstallDir(p);
  WriteLogLine((" RVX406A_LoadDevice: " + reason).c_str());
}

// Opens, checks, identifies and (as first loader) initialises the boards.
i32 OpenBoards(Process& p) {
  const rvx_driver_ops* driver = DriverPort();
  p.driver = driver;
  for (u32 n = 0; n < kMaxBoards && driver != nullptr; ++n) {
    void* handle = driver->open_device(n);
    if (handle == nullptr) break;
    const BoardIo io(handle, driver, &p.shared->board[n].chip_lock, p.pid);
    memset(p.board_config[n], 0, kBoardConfigSize);
    io.Request(ioctl::kBoardConfig, p.board_config[n], kBoardConfigSize, true);
    if (p.first_loader && !io.BusTest()) return ERR_DEVICE_PCI_BUS;
    const i32 identified = IdentifyBoard(p, handle, n);
    if (identified != ERR_SUCCESS) return identified;
    if (p.first_loader) {
      if (!LoadParameterFile(n)) return ERR_PRM_LOAD;
      io.SetLocal(local::kServoRun, io.Local(local::kServoRun) & ~(1u << local::kServoRunOffBit));
    }
    os::Handle event = os::CreateEvent();
    p.event[n] = event;
    SendEventRequest(handle, ioctl::kRegisterEvent, event);
    ++p.table.count;
  }
  return p.table.count == 0 ? ERR_DEVICE_LOAD : ERR_SUCCESS;
}

void StartWatchers(Process& p) {
  const u32 count = p.table.count;
  p.watcher_run = 1;
  free(p.board_numbers);
  p.board_numbers = static_cast<u32*>(calloc(count, sizeof(u32)));
  if (count > kMaxWatchedBoards || p.board_numbers == nullptr) return;
  for (u32 k = 0; k < count; ++k) p.board_numbers[k] = k;
  for (u32 k = 0; k < count; ++k) {
    if (p.watcher[k] != nullptr) os::CloseThread(p.watcher[k]);
    p.watcher[k] = p.seams.Fails(OsCall::kCreateThread)
                       ? nullptr
                       : os::CreateThread(WatchBoard, &p.board_numbers[k]);
  }
}

// The 5 ms message pump of UnloadDevice; a quit message ends it.
void PumpMessages() {
  const u32 start = os::TickCount();
  while (os::TickCount() - start < kUnloadPumpMs) {
    if (!PumpOneMessage()) return;
  }
}

}  // namespace
}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

RVX406A_API int32_t RVX406A_LoadDevice(void) {
  Process& p = process();
  const std::lock_guard<os::ThreadLock> serial(p.calls);
  os::TakeNamedObjectFailure();
  p.pid = os::CurrentProcessId();
  const bool have_mutex = OpenLibraryMutex(p);
  Call call(LogRule::kLifecycle, Boards::kNotRequired);
  if (!call.Check(have_mutex && HoldLoadedMarker(p), ERR_CREATE_KERNEL_DRIVER_FAIL)) {
    ReportObjectFailure(p);
  } else {
    if (p.first_loader && p.seams.in_first_load != nullptr) p.seams.in_first_load();
    const u16 arch = Architecture(p);
    if (call.Check(arch != kArchX86, ERR_SUPPORT_PROCESS)) {
      if (arch == kArchIa64 || arch == kArchX64 || arch == kArchUnknown) SetDefaultInstallDir(p);
      if (call.Check(MapSharedSection(p), ERR_CREATE_MEM_FAIL)) {
        memset(&p.table, 0, sizeof p.table);
        call.Fail(OpenBoards(p));
        if (call.ok()) {
          StartWatchers(p);
        } else {
          memset(&p.table, 0, sizeof p.table);
        }
      } else {
        ReportObjectFailure(p);
      }
    }
  }
  // A failed load holds no marker: after a failed first load the next loader
  // tries again.
  if (!call.ok()) DropLoadedMarker(p);
  call.Log(" RV = %5d : RVX406A_LoadDevice (%ld, %ld)", p.table.count, p.table.total_axes);
  return call.ok() ? static_cast<i32>(p.table.count) - 1 : call.result();
}

RVX406A_API void RVX406A_UnloadDevice(void) {
  Process& p = process();
  const std::lock_guard<os::ThreadLock> serial(p.calls);
  os::Handle mutex = p.mutex;
  {
    Call call(LogRule::kLifecycle);
    if (call.ok()) {
      for (u32 n = 0; n < kMaxBoards; ++n) {
        BoardRecord& r = p.table.board[n];
        if (r.handle == nullptr) continue;
        p.watcher_run = 0;
        os::Handle event = p.event[n];
        if (event != nullptr) os::SetEvent(event);
        if (p.watcher[n] != nullptr) {
          if (!os::WaitThread(p.watcher[n], kWatcherStopMs)) os::TerminateThread(p.watcher[n]);
          os::Sleep(kWatcherGraceMs);
          os::CloseThread(p.watcher[n]);
          p.watcher[n] = nullptr;
        }
        if (event != nullptr) {
          SendEventRequest(r.handle, ioctl::kDisableEvent, event);
          CloseBoardEvent(n);
        }
        if (p.driver != nullptr) p.driver->close_device(r.handle);
        memset(&r, 0, sizeof r);
      }
      free(p.board_numbers);
      p.board_numbers = nullptr;
      if (p.section != nullptr) os::CloseSection(p.section);
      p.section = nullptr;
      DropLoadedMarker(p);
      PumpMessages();
    }
    call.Log(" RV = %5d : RVX406A_UnloadDevice ()");
  }
  if (mutex != nullptr) {
    p.mutex = nullptr;
    os::CloseMutex(mutex);
  }
}

RVX406A_API int32_t RVX406A_LoadDeviceEx(uint16_t) { return ERR_CREATE_KERNEL_DRIVER_FAIL; }
RVX406A_API void RVX406A_UnloadDeviceEx(uint16_t) {}
RVX406A_API void RVX406A_PutINSTB(uint16_t) {}
RVX406A_API void RVX406A_PutOTSTB(uint16_t) {}
RVX406A_API void RVX406A_SetINSTB(uint16_t) {}

}  // extern "C"
