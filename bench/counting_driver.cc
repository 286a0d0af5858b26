// A driver module that stands in for the kernel driver at no cost: it counts
// every request and answers just enough for RVX406A_LoadDevice to succeed, so
// that a benchmark measures the library's own work per call.
// RVX_DRIVER=<path of this module>; rvx_counting_requests() reads the count.
#include <atomic>
#include <cstdint>
#include <cstring>

#include "include/rvx406a_driver.h"

#if defined(__GNUC__)
#define RVX_COUNTING_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define RVX_COUNTING_EXPORT extern "C"
#endif

namespace {

constexpr uint32_t kReadDword = 0xE0003830;
constexpr uint32_t kWriteDword = 0xE0003844;
constexpr uint32_t kReadByte = 0xE0003828;
constexpr uint32_t kSpaceLocal = 0, kSpacePld = 2;
constexpr uint32_t kPldIdentity = 1;
// Type 1 (identity bits 4..6): four axes and module 1 on board.
constexpr uint32_t kIdentityType1 = 0x10;
constexpr uint32_t kLocalWords = 64;  // the 32-bit local space, by offset / 4

struct Board {
  // Local registers read back what was written, which is all the bus test asks.
  std::atomic<uint32_t> local[kLocalWords];
};

Board board0;
std::atomic<uint64_t> requests{0};

void* OpenDevice(uint32_t board) { return board == 0 ? &board0 : nullptr; }

int IoControl(void* device, uint32_t code, void* in, uint32_t in_size, void* out, uint32_t out_size,
              uint32_t* returned) {
  requests.fetch_add(1, std::memory_order_relaxed);
  Board& b = *static_cast<Board*>(device);
  uint32_t record[4] = {};
  if (in != nullptr && in_size >= sizeof record) memcpy(record, in, sizeof record);
  const uint32_t space = record[0], offset = record[1];
  const bool local = space == kSpaceLocal && offset / 4 < kLocalWords;
  if (code == kWriteDword && local) b.local[offset / 4].store(record[2]);
  if (out != nullptr && out_size >= sizeof record) {
    record[2] = 0;
    if (code == kReadDword && local) record[2] = b.local[offset / 4].load();
    if (code == kReadByte && space == kSpacePld && offset == kPldIdentity) {
      record[2] = kIdentityType1;
    }
    memcpy(out, record, sizeof record);
  } else if (out != nullptr) {
    memset(out, 0, out_size);
  }
  if (returned != nullptr) *returned = out_size;
  return 1;
}

void CloseDevice(void*) {}

constexpr rvx_driver_ops kOps = {RVX_DRIVER_ABI_VERSION, OpenDevice, IoControl, CloseDevice};

}  // namespace

RVX_COUNTING_EXPORT const rvx_driver_ops* rvx_driver_entry(const rvx_driver_host*) { return &kOps; }

// Requests this process has sent since the module was loaded.
RVX_COUNTING_EXPORT uint64_t rvx_counting_requests() {
  return requests.load(std::memory_order_relaxed);
}
