// How late the board's interrupts reach the library on the simulated board
// in real time: from the moment an interrupt is due (the last pulse of a
// drive, in simulated time) to the watcher thread's first request after it
// woke, and to the application's callback. Prints p50, p99 and the maximum
// of each in microseconds, over a series of short drives of one axis that
// each end with a drive-end event: with the watcher at normal priority, and
// raised above normal as an armed compare trigger has it. Both in the
// boards' time, which stands at an interrupt until the simulator has passed
// it on.
//
//   rvx_latency [DRIVES]      (default 1000)
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "include/rvx406a.h"
#include "platform/platform.h"
#include "sim/sim.h"

namespace {

namespace os = rvx::os;
namespace sim = rvx::sim;

constexpr uint32_t kPps = 20000;  // start and drive speed: no ramp
constexpr int32_t kPulses = 25;   // a drive lasts 1.25 ms
constexpr uint32_t kDisableEvent = 0xE0003890;
constexpr uint32_t kFixedPlus = 0x20;

std::atomic<uint64_t> called{0};  // simulated microseconds of the last callback
void Callback(uint32_t, uint32_t kind) {
  if (kind == 0) called = sim::Now();
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t at = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[at];
}

void Report(const char* priority, const char* what, const std::vector<double>& us) {
  printf("| %s | %s | %zu | %.1f | %.1f | %.1f |\n", priority, what, us.size(), Percentile(us, 0.5),
         Percentile(us, 0.99), us.empty() ? 0.0 : *std::max_element(us.begin(), us.end()));
}

}  // namespace

int main(int argc, char** argv) {
  const int drives = argc > 1 ? atoi(argv[1]) : 1000;
  const std::string dir = "/tmp/rvx_latency_" + std::to_string(os::CurrentProcessId()) + "/";
  os::SetEnv("RVX_DRIVER", "sim");
  os::SetEnv("RVX_IPC_NAMESPACE", ("rvxlatency" + std::to_string(os::CurrentProcessId())).c_str());
  os::SetEnv("RVX_INSTALL_DIR", dir.c_str());
  for (const std::string& d : {dir, dir + "Parameter", dir + "Debug"}) mkdir(d.c_str(), 0700);
  sim::Reset(sim::Config{});
  if (RVX406A_LoadDevice() < 0) {
    fprintf(stderr, "rvx_latency: LoadDevice failed\n");
    return 1;
  }
  RVX406A_SetPosSpeed(0, 0, kPps, kPps, 1, 1);
  RVX406A_SetEventHandler(0, 1, reinterpret_cast<void*>(&Callback), 0);
  RVX406A_SetMotEventMask(0, 0, 1);  // drive end
  RVX406A_SetEventEnable(0, 1);

  printf(
      "| watcher priority | from the interrupt to | events | p50 us | p99 us | max us |\n"
      "|---|---|---|---|---|---|\n");
  for (const bool raised : {false, true}) {
    // Arming the compare trigger raises the watcher above normal.
    if (raised) RVX406A_SetInitCompTrg(0);
    std::vector<double> watcher, callback;
    for (int i = 0; i < drives; ++i) {
      called = 0;
      sim::StartTrace();
      RVX406A_Inc_Move(0, 0, kPulses);
      for (uint32_t start = os::TickCount(); called == 0 && os::TickCount() - start < 1000;) {
        os::Sleep(0);
      }
      const uint64_t at = called;
      os::Sleep(1);  // the watcher re-enables notification
      uint64_t started = 0, woke = 0;
      for (const sim::Request& r : sim::Trace()) {
        if (r.op == sim::Op::kWrite && r.space == 1 && r.offset == 0 &&
            (r.value & 0xFF) == kFixedPlus)
          started = r.time;
        if (started != 0 && woke == 0 && r.code == kDisableEvent) woke = r.time;
      }
      sim::StopTrace();
      if (started == 0 || woke == 0 || at == 0) {
        fprintf(stderr, "rvx_latency: drive %d: no event\n", i);
        continue;
      }
      const double due = static_cast<double>(started) + kPulses * 1e6 / kPps;
      watcher.push_back(static_cast<double>(woke) - due);
      callback.push_back(static_cast<double>(at) - due);
    }
    const char* priority = raised ? "above normal" : "normal";
    Report(priority, "the watcher's first request", watcher);
    Report(priority, "the callback", callback);
  }
  RVX406A_UnloadDevice();
  sim::RemoveNamedObjects();
  return 0;
}
