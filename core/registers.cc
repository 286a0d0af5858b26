#include "core/registers.h"

#include <atomic>

#include "core/process.h"
#include "platform/platform.h"

namespace rvx {
namespace {

// Settle reads follow every port write: the board needs them before the next access.
constexpr int kWriteSettleReads = 2;

// A chip lock taker first retries at once, then lets others run, then naps
// on the lock word. The release is one store on every setter's path and
// wakes no one, so a sleeper looks again after each nap: a short one, as
// sequences last microseconds. Now and then the taker asks whether the
// holder's process still runs.
constexpr os::Backoff kChipBackoff{64, 128, 100};
constexpr u32 kChipRoundsPerCheck = 64;

}  // namespace

BoardIo::BoardIo(void* device) : device_(device), driver_(process().driver) {}

BoardIo BoardChannel(u32 board) {
  Process& p = process();
  u32* lock =
      p.shared != nullptr && board < kMaxBoards ? &p.shared->board[board].chip_lock : nullptr;
  void* device = board < kMaxBoards ? p.table.board[board].handle : nullptr;
  return BoardIo(device, p.driver, lock, p.pid);
}

void BoardIo::WaitForChip() const {
  static_assert(
      sizeof(std::atomic<u32>) == sizeof(u32) && alignof(std::atomic<u32>) == alignof(u32),
      "the lock word is waited on as an atomic");
  auto* word = reinterpret_cast<std::atomic<u32>*>(chip_lock_);
  for (u32 round = 0;; ++round) {
    u32 holder = __atomic_load_n(chip_lock_, __ATOMIC_RELAXED);
    // A process that died inside a sequence left the chip as any request
    // leaves it: the next sequence starts afresh.
    if (holder != 0 && holder != owner_ && round % kChipRoundsPerCheck == kChipRoundsPerCheck - 1 &&
        !os::ProcessRunning(holder)) {
      if (__atomic_compare_exchange_n(chip_lock_, &holder, owner_, false, __ATOMIC_ACQUIRE,
                                      __ATOMIC_RELAXED)) {
        return;
      }
    }
    u32 free = 0;
    if (holder == 0 && __atomic_compare_exchange_n(chip_lock_, &free, owner_, false,
                                                   __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
      return;
    }
    os::WaitOnWord(word, holder == 0 ? free : holder, round, kChipBackoff);
  }
}

u32 BoardIo::Port(u32 code, u32 space, u32 offset, u32 value) const {
  if (device_ == nullptr || driver_ == nullptr) return 0;
  PortRecord record{space, offset, value, 0};
  u32 returned = 0;
  if (!driver_->io_control(device_, code, &record, sizeof record, &record, sizeof record,
                           &returned)) {
    return 0;
  }
  return record.value;
}

u32 BoardIo::Read(Space space, u32 offset, u32 code) const {
  const u32 value = Port(code, static_cast<u32>(space), offset, 0);
  switch (code) {
    case ioctl::kReadByte:
      return value & 0xFF;
    case ioctl::kReadWord:
      return value & 0xFFFF;
    default:
      return value;
  }
}

void BoardIo::Write(Space space, u32 offset, u32 value, u32 code) const {
  Port(code, static_cast<u32>(space), offset, value);
  Settle(kWriteSettleReads);
}

u8 BoardIo::EventByte(u32 offset) const {
  return static_cast<u8>(Port(ioctl::kEventReadByte, 0, offset, 0));
}

u16 BoardIo::EventWord(u32 offset) const {
  return static_cast<u16>(Port(ioctl::kEventReadWord, 0, offset, 0));
}

void BoardIo::SetEventByte(u32 offset, u8 value) const {
  Port(ioctl::kEventWriteByte, 0, offset, value);
}

void BoardIo::SetEventWord(u32 offset, u16 value) const {
  Port(ioctl::kEventWriteWord, 0, offset, value);
}

void BoardIo::Settle(int count) const {
  for (int i = 0; i < count; ++i) Port(ioctl::kReadByte, 2, pld::kIdentity, 0);
}

void BoardIo::Write32(u16 command_word, i32 value) const {
  const Sequence sequence(*this);
  SetChip(chip::kWr7, static_cast<u16>(value >> 16));  // arithmetic: keeps the sign
  SetChip(chip::kWr6, static_cast<u16>(value & 0xFFFF));
  Command(command_word);
}

i32 BoardIo::Read32(u16 command_word) const {
  const Sequence sequence(*this);
  Command(command_word);
  const u32 high = Chip(chip::kRr7);
  const u32 low = Chip(chip::kRr6);
  return static_cast<i32>((high << 16) | low);
}

void BoardIo::Request(u32 code, void* buffer, u32 size, bool output) const {
  if (device_ == nullptr || driver_ == nullptr) return;
  u32 returned = 0;
  driver_->io_control(device_, code, buffer, size, output ? buffer : nullptr, output ? size : 0,
                      &returned);
}

bool BoardIo::BusTest() const {
  const u32 kept = Local(local::kBusTest);
  bool pass = true;
  for (u32 bit = 0; bit < 32 && pass; ++bit) {
    SetLocal(local::kBusTest, 1u << bit);
    pass = Local(local::kBusTest) == (1u << bit);
    if (!pass) break;
    SetLocal(local::kBusTest, 0);
    pass = Local(local::kBusTest) == 0;
  }
  SetLocal(local::kBusTest, kept);
  return pass;
}

}  // namespace rvx
