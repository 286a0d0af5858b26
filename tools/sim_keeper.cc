#include "tools/sim_keeper.h"

#include <atomic>
#include <cstdio>

#include "platform/platform.h"

namespace rvxctl {
namespace {

namespace os = rvx::os;

enum State : uint32_t { kNone, kStarting, kServing, kFailed, kStopped };

struct Block {
  std::atomic<uint32_t> state;
  std::atomic<uint32_t> stop;  // set by StopKeeper
  std::atomic<uint32_t> process;
};

constexpr uint32_t kStartTimeoutMs = 20000;  // loading includes the library's own start-up
constexpr uint32_t kStopTimeoutMs = 20000;

std::string SectionName() { return os::GetEnv("RVX_IPC_NAMESPACE") + kKeeperSectionName; }

// Views stay mapped for the life of the process, so one lookup serves all.
Block* Open() {
  const os::Section section = os::CreateOrOpenSection(SectionName().c_str(), sizeof(Block));
  if (section.view == nullptr) return nullptr;
  os::CloseSection(section.handle);
  return static_cast<Block*>(section.view);
}

void Publish(Block* block, State state) {
  block->state.store(state);
  os::WakeSharedWord(&block->state);
}

// Waits while the state holds `from`, at most `timeout_ms`.
uint32_t WaitWhile(Block* block, uint32_t from, uint32_t timeout_ms) {
  const uint32_t start = os::TickCount();
  uint32_t state = block->state.load();
  while (state == from && os::TickCount() - start < timeout_ms) {
    os::WaitSharedWord(&block->state, from, 100);
    state = block->state.load();
  }
  return state;
}

}  // namespace

uint32_t KeeperProcess() {
  Block* block = Open();
  return block != nullptr && block->state.load() == kServing ? block->process.load() : 0;
}

int StartKeeper(const std::vector<std::string>& args) {
  Block* block = Open();
  if (block == nullptr) {
    fprintf(stderr, "rvxctl: %s\n", os::TakeNamedObjectFailure().c_str());
    return 1;
  }
  const uint32_t state = block->state.load();
  if (state == kStarting || state == kServing) {
    fprintf(stderr, "rvxctl: a simulated board already runs (process %u)\n", block->process.load());
    return 1;
  }
  block->stop.store(0);
  Publish(block, kStarting);
  const uint32_t id = os::StartDetachedProcess(args);
  if (id == 0) {
    Publish(block, kNone);
    fprintf(stderr, "rvxctl: cannot start %s\n", args[0].c_str());
    return 1;
  }
  if (WaitWhile(block, kStarting, kStartTimeoutMs) != kServing) {
    Publish(block, kNone);
    fprintf(stderr, "rvxctl: the simulated board did not start (process %u)\n", id);
    return 1;
  }
  printf("simulated board started (process %u); rvxctl --sim joins it, rvxctl sim stop ends it\n",
         block->process.load());
  return 0;
}

void ServeUntilStopped() {
  Block* block = Open();
  if (block == nullptr) return;
  block->process.store(os::CurrentProcessId());
  Publish(block, kServing);
  while (block->stop.load() == 0) os::WaitSharedWord(&block->stop, 0, 1000);
}

void KeeperFailed() {
  if (Block* block = Open()) Publish(block, kFailed);
}

bool StopKeeper() {
  Block* block = Open();
  if (block == nullptr || block->state.load() != kServing) return false;
  block->stop.store(1);
  os::WakeSharedWord(&block->stop);
  // The keeper says it is gone once it has unloaded the boards.
  WaitWhile(block, kServing, kStopTimeoutMs);
  return true;
}

void KeeperStopped() {
  if (Block* block = Open()) Publish(block, kStopped);
}

}  // namespace rvxctl
