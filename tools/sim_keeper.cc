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
  std::atomic<uint32_t> stop;     // set by StopKeeper
  std::atomic<uint32_t> process;  // the keeper, once started
  std::atomic<uint32_t> starter;  // the rvxctl that starts it
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

// Waits while the state holds `from`, at most `timeout_ms`, and no longer
// than `alive` (when given) runs: a process that died says nothing.
uint32_t WaitWhile(Block* block, uint32_t from, uint32_t timeout_ms, uint32_t alive = 0) {
  const uint32_t start = os::TickCount();
  uint32_t state = block->state.load();
  while (state == from && os::TickCount() - start < timeout_ms) {
    if (alive != 0 && !os::ProcessAlive(alive)) return block->state.load();
    os::WaitSharedWord(&block->state, from, 20);
    state = block->state.load();
  }
  return state;
}

// A state that a dead process left behind counts as none: a keeper that
// died, or a start whose starter and keeper both died.
bool Abandoned(const Block* block, uint32_t state) {
  const uint32_t keeper = block->process.load();
  if (state == kServing) return !os::ProcessAlive(keeper);
  if (state != kStarting) return false;
  return !os::ProcessAlive(block->starter.load()) && !os::ProcessAlive(keeper);
}

}  // namespace

uint32_t KeeperProcess() {
  Block* block = Open();
  if (block == nullptr) return 0;
  const uint32_t state = block->state.load();
  return state == kServing && !Abandoned(block, state) ? block->process.load() : 0;
}

uint32_t StartingKeeper(uint32_t* starter) {
  Block* block = Open();
  if (block == nullptr) return 0;
  const uint32_t state = block->state.load();
  if (state != kStarting || Abandoned(block, state)) return 0;
  *starter = block->starter.load();
  return block->process.load() != 0 ? block->process.load() : *starter;
}

int StartKeeper(const std::vector<std::string>& args) {
  Block* block = Open();
  if (block == nullptr) {
    fprintf(stderr, "rvxctl: %s\n", os::TakeNamedObjectFailure().c_str());
    return 1;
  }
  // One starter wins; the others say who is there, or who is bringing it up.
  uint32_t state = block->state.load();
  for (;;) {
    const bool free = !(state == kStarting || state == kServing) || Abandoned(block, state);
    if (free && block->state.compare_exchange_strong(state, kStarting)) break;
    if (free) continue;  // `state` now holds what another starter made of it
    const uint32_t keeper = block->process.load();
    if (state == kServing) {
      fprintf(stderr, "rvxctl: a simulated board already runs (process %u)\n", keeper);
    } else if (keeper != 0) {
      fprintf(stderr, "rvxctl: a simulated board is starting (process %u)\n", keeper);
    } else {
      fprintf(stderr, "rvxctl: a simulated board is being started (by rvxctl process %u)\n",
              block->starter.load());
    }
    return 1;
  }
  block->process.store(0);
  block->starter.store(os::CurrentProcessId());
  block->stop.store(0);
  os::WakeSharedWord(&block->state);
  const uint32_t id = os::StartDetachedProcess(args);
  if (id == 0) {
    Publish(block, kNone);
    fprintf(stderr, "rvxctl: cannot start %s\n", args[0].c_str());
    return 1;
  }
  block->process.store(id);
  const uint32_t reached = WaitWhile(block, kStarting, kStartTimeoutMs, id);
  if (reached != kServing) {
    Publish(block, kNone);
    fprintf(stderr, "rvxctl: the simulated board did not start (process %u %s)\n", id,
            reached == kFailed     ? "could not load it"
            : os::ProcessAlive(id) ? "took too long"
                                   : "ended while starting");
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
  if (block == nullptr || KeeperProcess() == 0) return false;
  block->stop.store(1);
  os::WakeSharedWord(&block->stop);
  // The keeper says it is gone once it has unloaded the boards.
  WaitWhile(block, kServing, kStopTimeoutMs, block->process.load());
  return true;
}

void KeeperStopped() {
  if (Block* block = Open()) Publish(block, kStopped);
}

}  // namespace rvxctl
