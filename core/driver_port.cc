#include "core/driver_port.h"

#include <string>

#include "core/process.h"
#include "core/registers.h"
#include "platform/platform.h"

namespace rvx {
namespace {

void* KernelOpen(uint32_t board) { return os::OpenDevice(board); }

int KernelControl(void* device, uint32_t code, void* in, uint32_t in_size, void* out,
                  uint32_t out_size, uint32_t* returned) {
  return os::DeviceControl(device, code, in, in_size, out, out_size, returned);
}

void KernelClose(void* device) { os::CloseDevice(device); }

constexpr rvx_driver_ops kKernelDriver = {RVX_DRIVER_ABI_VERSION, KernelOpen, KernelControl,
                                          KernelClose};

// A driver signals a board event by the value it was given at registration.
// It may do so while the event is being closed: a slot emptied before the
// count went up is not signalled, one emptied after waits for the signal
// (the count and the slots are sequentially consistent, see CloseBoardEvent).
void SignalBoardEvent(uint64_t value) {
  Process& p = process();
  p.signalling.fetch_add(1);
  for (auto& slot : p.event) {
    os::Handle event = slot.load();
    if (event != nullptr && os::EventValue(event) == value) os::SetEvent(event);
  }
  p.signalling.fetch_sub(1);
}

constexpr rvx_driver_host kHost = {RVX_DRIVER_ABI_VERSION, SignalBoardEvent};

const rvx_driver_ops* LoadModuleDriver(const std::string& path) {
  os::Handle module = os::LoadModule(path.c_str());
  if (module == nullptr) return nullptr;
  auto entry = reinterpret_cast<rvx_driver_entry_fn>(os::ModuleSymbol(module, "rvx_driver_entry"));
  if (entry == nullptr) return nullptr;
  const rvx_driver_ops* ops = entry(&kHost);
  if (ops == nullptr || ops->abi_version != RVX_DRIVER_ABI_VERSION) return nullptr;
  return ops;
}

}  // namespace

const rvx_driver_ops* DriverPort() {
  Process& p = process();
  if (p.driver_chosen) return p.driver;
  const std::string choice = os::GetEnv("RVX_DRIVER");
  if (choice.empty()) {
    p.driver = &kKernelDriver;
  } else if (choice == "sim") {
    p.driver = BuiltinSimEntry(&kHost);
  } else {
    p.driver = LoadModuleDriver(choice);
  }
  p.driver_chosen = true;
  return p.driver;
}

void CloseBoardEvent(u32 board) {
  Process& p = process();
  os::Handle event = p.event[board].exchange(nullptr);
  if (event == nullptr) return;
  while (p.signalling.load() != 0) os::YieldThread();
  os::CloseEvent(event);
}

void SendEventRequest(void* device, u32 code, os::Handle event) {
  u64 value = os::EventValue(event);
  BoardIo(device).Request(code, &value, sizeof value, false);
}

}  // namespace rvx
