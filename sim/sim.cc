// The simulator's shared state, its driver entry points and its control
// interface. All boards of one IPC namespace live in one named section; the
// named simulator lock serialises every request and control call of every
// process. Per-process state (open devices, the section each namespace maps
// to) is guarded by a small lock of our own: std::mutex is missing from some
// Windows toolchains, and a named lock per process would be overkill.
#include "sim/sim.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "core/driver_port.h"
#include "core/registers.h"
#include "platform/platform.h"
#include "sim/board.h"

namespace rvx::sim {
namespace {

constexpr char kSectionName[] = "RVXSIM-7C21";
constexpr char kLockName[] = "RVXSIM-LOCK";
constexpr uint32_t kMagic = 0x4D495352;  // "RSIM": the section has been initialised
constexpr uint32_t kBoards = sizeof(Config{}.board) / sizeof(BoardConfig);
constexpr uint32_t kTraceCapacity = 65536;
constexpr uint32_t kForwarderSlots = 32;
constexpr uint32_t kBoardConfigSize = 168;

static_assert(std::is_trivially_copyable_v<Request>, "trace entries live in shared memory");

constexpr uint32_t kForwardTimeoutMs = 1000;  // a missed wake costs at most this

// Simulated time in microseconds. In real time it follows the machine's
// monotonic clock from `origin`; in stepped time it moves only when told.
struct Time {
  Clock clock;
  uint64_t micros;
  uint64_t origin;
  // Real time: the monotonic moment since which the boards have stood at an
  // interrupt no forwarder has passed on yet (0: they run).
  uint64_t held_since;
};

struct Shared {
  uint32_t magic;
  uint32_t size;  // sizeof(Shared) of the creator, so a foreign layout counts as fresh
  Config config;
  Time time;
  BoardModel board[kBoards];
  // Interrupts raised per board, and a word bumped with each of them that
  // the forwarders of every process sleep on.
  std::atomic<uint32_t> interrupts[kBoards];
  std::atomic<uint32_t> wake;
  // The processes whose forwarder runs, one slot each (0: free).
  uint32_t forwarders[kForwarderSlots];
  // Interrupts raised per cause bit of each board, never reset, so that a
  // reader's count of what it has seen stays valid across a reset.
  uint32_t causes[kBoards][16];
  uint32_t tracing;
  uint64_t trace_count;  // requests recorded since StartTrace
  Request trace[kTraceCapacity];
};

void Initialise(const Config& config, Shared* shared) {
  shared->config = config;
  if (shared->config.board_count > kBoards) shared->config.board_count = kBoards;
  for (uint32_t b = 0; b < kBoards; ++b) {
    PowerOn(config.board[b], &shared->board[b]);
    shared->board[b].chip.polled = config.polled_drives;
    shared->board[b].chip.emergency = (config.emergency >> b & 1) != 0;
  }
  shared->time = {config.clock, 0, os::MonotonicMicros(), 0};
  shared->tracing = 0;
  shared->trace_count = 0;
  for (auto& raised : shared->interrupts) raised.store(0);
  shared->size = sizeof(Shared);
  shared->magic = kMagic;
}

// The boards an application asked for through RVX_SIM, over the default
// machine. A text that cannot be used builds no boards: a run on boards other
// than the ones asked for would mislead more than a refusal.
bool ConfigFromEnvironment(Config* config) {
  *config = DefaultBoards();
  const std::string error = ParseConfig(os::GetEnv("RVX_SIM"), config);
  if (!error.empty()) std::fprintf(stderr, "RVX_SIM: %s; no simulated board\n", error.c_str());
  return error.empty();
}

// This process's handles on one namespace's simulator. Never freed: devices
// and the forwarder may still point at a connection after
// RemoveNamedObjects closed it (the view stays mapped).
struct Connection {
  std::string ipc_namespace;
  os::Handle lock = nullptr;
  os::Handle section = nullptr;
  Shared* shared = nullptr;
  bool forwarding = false;  // the forwarder runs; set with the first registered event
  os::Handle forwarder = nullptr;
  std::atomic<bool> closing{false};
};

struct Device {
  Connection* connection;
  uint32_t board;
  uint64_t event = 0;
  bool registered = false;
  bool notify = false;
  uint32_t seen = 0;              // interrupts of the board already passed on
  bool pending = false;           // one arrived while notification was off
  uint32_t causes_seen[16] = {};  // the board's cause counts at this device's last read
  int processor = -1;             // where the thread that enabled notification last ran
};

// Guards the per-process tables below. Held only briefly, never while
// waiting on the simulator lock.
class TablesGuard {
 public:
  TablesGuard() { lock_.lock(); }
  ~TablesGuard() { lock_.unlock(); }
  TablesGuard(const TablesGuard&) = delete;
  TablesGuard& operator=(const TablesGuard&) = delete;

 private:
  static os::WordLock lock_;
};
os::WordLock TablesGuard::lock_;

std::vector<Connection*>& Connections() {
  static auto* connections = new std::vector<Connection*>;
  return *connections;
}
// Closed connections stay allocated: open devices may still point at them.
std::vector<Connection*>& Retired() {
  static auto* retired = new std::vector<Connection*>;
  return *retired;
}
std::vector<Device*>& Devices() {
  static auto* devices = new std::vector<Device*>;
  return *devices;
}
std::atomic<void (*)(uint64_t)> g_signal_event{nullptr};

Connection* Find(const std::string& ipc_namespace) {
  for (Connection* c : Connections()) {
    if (c->ipc_namespace == ipc_namespace) return c;
  }
  return nullptr;
}

// Opens the namespace's lock and section; a section without the magic word
// is new and gets the boards of `fresh`, or else of RVX_SIM.
Connection* Connect(const std::string& ipc_namespace, const Config* fresh) {
  auto* c = new Connection{ipc_namespace};
  bool existed = false;
  c->lock = os::CreateNamedMutex((ipc_namespace + kLockName).c_str(), false, &existed);
  if (c->lock && os::WaitMutex(c->lock)) {
    const os::Section section =
        os::CreateOrOpenSection((ipc_namespace + kSectionName).c_str(), sizeof(Shared));
    if (section.view) {
      c->section = section.handle;
      c->shared = static_cast<Shared*>(section.view);
      Config config = fresh != nullptr ? *fresh : Config{};
      if (c->shared->magic != kMagic || c->shared->size != sizeof(Shared)) {
        if (fresh != nullptr || ConfigFromEnvironment(&config)) {
          // A reset keeps them: they run on.
          std::memset(c->shared->forwarders, 0, sizeof c->shared->forwarders);
          Initialise(config, c->shared);
        } else {
          os::CloseSection(c->section);
          c->shared = nullptr;
        }
      }
    }
    os::ReleaseMutex(c->lock);
  }
  if (!c->shared) {
    if (c->lock) os::CloseMutex(c->lock);
    delete c;
    return nullptr;
  }
  return c;
}

Connection* Current(const Config* config = nullptr) {
  const std::string ipc_namespace = os::GetEnv("RVX_IPC_NAMESPACE");
  {
    TablesGuard guard;
    if (Connection* c = Find(ipc_namespace)) return c;
  }
  Connection* fresh = Connect(ipc_namespace, config);
  if (!fresh) return nullptr;
  TablesGuard guard;
  if (Connection* c = Find(ipc_namespace)) {  // another thread was quicker
    os::CloseSection(fresh->section);
    os::CloseMutex(fresh->lock);
    delete fresh;
    return c;
  }
  Connections().push_back(fresh);
  return fresh;
}

void Elapse(Shared* shared);

// Holds the simulator lock of a connection for one request or control call;
// the boards have moved on to the present when it begins.
class Session {
 public:
  explicit Session(Connection* c) {
    if (c && c->lock && os::WaitMutex(c->lock)) connection_ = c;
    if (connection_) Elapse(connection_->shared);
  }
  ~Session() {
    if (connection_) os::ReleaseMutex(connection_->lock);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  explicit operator bool() const { return connection_ != nullptr; }
  Shared* operator->() const { return connection_->shared; }
  Shared* get() const { return connection_->shared; }

 private:
  Connection* connection_ = nullptr;
};

// Whether a forwarder will pass an interrupt on: this process's, or one of
// another process that still runs (a slot of one that ended is freed here).
// Under the simulator lock.
bool ForwarderRuns(Shared* shared) {
  const uint32_t self = os::CurrentProcessId();
  for (uint32_t pid : shared->forwarders) {
    if (pid == self) return true;
  }
  bool runs = false;
  for (uint32_t& pid : shared->forwarders) {
    if (pid == 0) continue;
    if (os::ProcessRunning(pid)) {
      runs = true;
    } else {
      pid = 0;
    }
  }
  return runs;
}

// Latches the cause beside those not yet read and tells every process. The
// caller holds the simulator lock.
void Interrupt(Shared* shared, uint32_t board, uint16_t cause) {
  Time& time = shared->time;
  if (time.clock == Clock::kReal && time.held_since == 0 && ForwarderRuns(shared)) {
    time.held_since = os::MonotonicMicros();
  }
  LatchCause(&shared->board[board], cause);
  for (uint32_t bit = 0; bit < 16; ++bit) shared->causes[board][bit] += cause >> bit & 1u;
  shared->interrupts[board].fetch_add(1, std::memory_order_release);
  shared->wake.fetch_add(1, std::memory_order_release);
  os::WakeSharedWord(&shared->wake);
}

void ScanBoard(Shared* shared, uint32_t board, bool passing = false) {
  if (const uint8_t cause = ScanInterrupts(&shared->board[board], passing)) {
    Interrupt(shared, board, cause);
  }
}

bool Moving(const Shared& shared) {
  for (uint32_t b = 0; b < shared.config.board_count && b < kBoards; ++b) {
    if (ProfiledDriveRunning(shared.board[b].chip)) return true;
  }
  return false;
}

// Lets `micros` pass on every board, a tick at most at a time. The
// interrupt logic looks after each step, so that no event of a moving axis
// is missed; idle time passes at once. Stops at a tick that held the boards.
void Run(Shared* shared, uint64_t micros) {
  uint64_t passed = 0;
  while (passed < micros && shared->time.held_since == 0) {
    const uint64_t step = std::min<uint64_t>(micros - passed, kTickMicros);
    bool moved = false;
    for (uint32_t b = 0; b < shared->config.board_count && b < kBoards; ++b) {
      if (!ProfiledDriveRunning(shared->board[b].chip)) continue;
      moved = true;
      AdvanceChip(&shared->board[b].chip, static_cast<double>(step) * 1e-6);
      ScanBoard(shared, b, true);
    }
    passed = moved ? passed + step : micros;
  }
  shared->time.micros += passed;
}

// A board interrupts the moment its cause arises; here a thread of the
// simulator must wake to pass the interrupt on, and a busy machine may wake
// it milliseconds late. The boards stand at the interrupt until a forwarder
// has passed it on, at most kMaxHoldMicros, so that what the library sees
// follows the interrupt as closely as it would on a board: time lost to the
// simulator's own wake-up slips the boards' clock, not the axes past their
// next compare window.
constexpr uint64_t kMaxHoldMicros = 20000;

// The boards run again from where they stand from the monotonic moment
// `now` on. Under the simulator lock.
void Release(Time* time, uint64_t now) {
  if (time->held_since == 0) return;
  time->origin = now - time->micros;
  time->held_since = 0;
}

// Real time: the boards move on to the present, to the microsecond, so that
// whatever a request or control call does acts where the axes are now.
void Elapse(Shared* shared) {
  Time& time = shared->time;
  if (time.clock != Clock::kReal) return;
  const uint64_t clock = os::MonotonicMicros();
  if (time.held_since != 0) {
    if (clock - time.held_since < kMaxHoldMicros) return;
    Release(&time, time.held_since + kMaxHoldMicros);
  }
  const uint64_t now = clock - time.origin;
  if (now > time.micros) Run(shared, now - time.micros);
}

template <typename Fn>
void UpdateBoard(uint32_t board, Fn fn) {
  Session session(Current());
  if (!session || board >= kBoards) return;
  fn(&session->board[board]);
  ScanBoard(session.get(), board);
}

template <typename T, typename Fn>
T QueryBoard(uint32_t board, Fn fn) {
  Session session(Current());
  return session && board < kBoards ? fn(session->board[board]) : T{};
}

template <typename Fn>
void UpdateAxis(uint32_t board, uint32_t axis, Fn fn) {
  UpdateBoard(board, [&](BoardModel* b) {
    if (axis < kAxes) fn(&b->chip.axis[axis]);
  });
}

void Record(Shared* shared, const Request& request) {
  if (!shared->tracing) return;
  shared->trace[shared->trace_count % kTraceCapacity] = request;
  shared->trace[shared->trace_count % kTraceCapacity].time = shared->time.micros;
  ++shared->trace_count;
}

bool ReadRecord(const void* in, uint32_t in_size, PortRecord* record) {
  if (!in || in_size < sizeof(PortRecord)) return false;
  std::memcpy(record, in, sizeof(PortRecord));
  return true;
}

bool ReadEventValue(const void* in, uint32_t in_size, uint64_t* value) {
  if (!in || in_size < 8) return false;
  const auto* bytes = static_cast<const uint8_t*>(in);
  *value = 0;
  for (int i = 7; i >= 0; --i) *value = *value << 8 | bytes[i];
  return true;
}

bool IsEventWindow(uint32_t code) {
  return code == ioctl::kEventReadByte || code == ioctl::kEventReadWord ||
         code == ioctl::kEventWriteByte || code == ioctl::kEventWriteWord;
}

// The cause word as a device reads it: every cause raised since that
// device's own last read, as if the word were latched for it alone, so that
// the watchers of several processes each learn of every interrupt.
uint32_t CausesSeen(Device* device, const Shared& shared, uint32_t offset, int bytes,
                    uint32_t value) {
  constexpr uint32_t kCauseWord = 10;
  for (int i = 0; i < bytes; ++i) {
    const uint32_t at = offset + static_cast<uint32_t>(i);
    if (at != kCauseWord && at != kCauseWord + 1) continue;
    uint32_t byte = 0;
    for (uint32_t bit = 0; bit < 8; ++bit) {
      const uint32_t k = (at - kCauseWord) * 8 + bit;
      const uint32_t raised = shared.causes[device->board][k];
      if (raised != device->causes_seen[k]) byte |= 1u << bit;
      device->causes_seen[k] = raised;
    }
    value = (value & ~(0xFFu << (8 * i))) | byte << (8 * i);
  }
  return value;
}

void Signal(uint64_t event) {
  if (void (*signal)(uint64_t) = g_signal_event.load()) signal(event);
}

// Passes the interrupts raised since the last look, by any process, on to
// this process's devices. The events are signalled once the tables are let
// go: a watcher woken by one would otherwise wait for them with its first
// request. The library closes no event while a signal is under way.
void Forward(Connection* c, std::vector<uint64_t>* events) {
  events->clear();
  {
    TablesGuard guard;
    for (Device* d : Devices()) {
      if (d->connection != c || !d->registered) continue;
      const uint32_t raised = c->shared->interrupts[d->board].load(std::memory_order_acquire);
      if (raised == d->seen) continue;
      d->seen = raised;
      if (d->notify) {
        events->push_back(d->event);
      } else {
        d->pending = true;  // a level interrupt stays asserted until served
      }
    }
  }
  for (uint64_t event : *events) Signal(event);
}

// The processor on which the thread waiting on an event of this process
// last enabled it: a wake on the processor that is awake anyway costs no
// second one woken from idle, which can take milliseconds in a virtual
// machine.
int WaiterProcessor(const Connection* c) {
  TablesGuard guard;
  for (const Device* d : Devices()) {
    if (d->connection == c && d->registered && d->processor >= 0) return d->processor;
  }
  return -1;
}

// How far ahead the forwarder looks for the next interrupt of a moving
// board.
constexpr uint64_t kLookAheadMicros = 2000;

// Microseconds until `board` (a copy, run ahead) interrupts: found tick by
// tick, then to the microsecond within the tick; kLookAheadMicros when not
// within that.
uint64_t NextInterruptIn(BoardModel board) {
  for (uint64_t at = 0; at < kLookAheadMicros; at += kTickMicros) {
    const BoardModel before = board;
    const bool moving = AdvanceChip(&board.chip, kTickMicros * 1e-6);
    if (ScanInterrupts(&board, true) != 0) {
      // The first microsecond of the tick by which it has interrupted.
      uint64_t quiet = 0, loud = kTickMicros;
      while (loud - quiet > 1) {
        const uint64_t mid = (quiet + loud) / 2;
        BoardModel probe = before;
        AdvanceChip(&probe.chip, static_cast<double>(mid) * 1e-6);
        (ScanInterrupts(&probe, true) != 0 ? loud : quiet) = mid;
      }
      return at + loud;
    }
    if (!moving) break;
  }
  return kLookAheadMicros;
}

// The system's timed waits end late: by tens of microseconds on a quiet
// machine, by hundreds on a busy one. The forwarder wakes early by what
// recent waits overran, within bounds, and waits out the rest on the clock.
constexpr uint64_t kMinEarlyMicros = 20;
constexpr uint64_t kMaxEarlyMicros = 250;

class WakeMargin {
 public:
  uint64_t micros() const { return margin_; }
  // A timed wait meant to end at `meant` ended at `ended`: a late end widens
  // the margin at once, which then narrows slowly again.
  void Learn(uint64_t meant, uint64_t ended) {
    const uint64_t late = ended > meant ? ended - meant : 0;
    margin_ -= margin_ / 64;
    margin_ = std::clamp(std::max(margin_, late + late / 4), kMinEarlyMicros, kMaxEarlyMicros);
  }

 private:
  uint64_t margin_ = kMaxEarlyMicros;
};

// Sleeps until `at` (monotonic microseconds) or until the wake word moves
// from `seen`. When `exact`, the last stretch is waited out on the clock.
void WaitUntil(std::atomic<uint32_t>* wake, uint32_t seen, uint64_t at, bool exact,
               WakeMargin* margin) {
  const uint64_t early = exact ? margin->micros() : 0;
  uint64_t clock = os::MonotonicMicros();
  if (at > clock + early) {
    os::WaitSharedWordMicros(wake, seen, at - early - clock);
    const uint64_t woke = os::MonotonicMicros();
    if (wake->load(std::memory_order_acquire) != seen) return;
    margin->Learn(at - early, woke);
    clock = woke;
  }
  while (exact && clock < at && wake->load(std::memory_order_acquire) == seen) {
    os::SpinPause();
    clock = os::MonotonicMicros();
  }
}

// Enters this process's forwarder in the shared slots, or takes it out: the
// boards stand at an interrupt only while one runs to pass it on.
void Count(Connection* c, bool runs) {
  Session session(c);
  if (!session) return;
  const uint32_t self = os::CurrentProcessId();
  for (uint32_t& pid : session->forwarders) {
    if (pid == self) pid = 0;
  }
  if (!runs) return;
  for (uint32_t& pid : session->forwarders) {
    if (pid == 0 || !os::ProcessRunning(pid)) {
      pid = self;
      return;
    }
  }
}

// In real time the forwarder also keeps moving axes going while nobody else
// looks: it runs a copy of the moving boards ahead to find when the next
// interrupt is due and raises it just then, so that it comes on time
// without polling. A command written to a chip wakes it to look again.
uint32_t ForwardInterrupts(void* arg) {
  auto* c = static_cast<Connection*>(arg);
  std::atomic<uint32_t>* wake = &c->shared->wake;
  std::vector<BoardModel> moving;
  std::vector<uint64_t> events;
  WakeMargin margin;
  Count(c, true);
  for (;;) {
    const uint32_t seen = wake->load(std::memory_order_acquire);
    if (c->closing.load()) {
      Count(c, false);
      return 0;
    }
    moving.clear();
    uint64_t origin = 0, now = 0;
    {
      Session session(c);
      // What held the boards is passed on right below.
      if (session) Release(&session->time, os::MonotonicMicros());
      if (session && session->time.clock == Clock::kReal) {
        for (uint32_t b = 0; b < session->config.board_count && b < kBoards; ++b) {
          if (ProfiledDriveRunning(session->board[b].chip)) moving.push_back(session->board[b]);
        }
        origin = session->time.origin;
        now = session->time.micros;
      }
    }
    Forward(c, &events);
    if (moving.empty()) {
      os::WaitSharedWord(wake, seen, kForwardTimeoutMs);
      continue;
    }
    uint64_t due = kLookAheadMicros;
    for (const BoardModel& board : moving) due = std::min(due, NextInterruptIn(board));
    // Past the look-ahead, the next look begins early enough to be exact.
    const uint64_t at = origin + now + (due < kLookAheadMicros ? due : due - kMaxEarlyMicros);
    // An interrupt is waited out beside its waiter, which then preempts the
    // forwarder there. Kept to that processor, the forwarder would make the
    // system send the waiter elsewhere so as not to starve it, so it is
    // free again when it raises the interrupt.
    const bool exact = due < kLookAheadMicros;
    const int processor = exact ? WaiterProcessor(c) : -1;
    const bool kept = processor >= 0 && os::RunOnProcessor(processor);
    WaitUntil(wake, seen, at, exact, &margin);
    if (kept) os::RunOnProcessor(-1);
  }
}

// Event requests change only this process's device.
bool EventRequest(Device* device, uint32_t code, uint64_t event) {
  bool start_forwarder = false;
  bool signal = false;
  uint64_t signalled = 0;
  {
    TablesGuard guard;
    switch (code) {
      case ioctl::kRegisterEvent:
        device->event = event;
        device->registered = true;
        device->notify = true;
        device->pending = false;
        device->seen = device->connection->shared->interrupts[device->board].load();
        start_forwarder = !device->connection->forwarding;
        device->connection->forwarding = true;
        break;
      case ioctl::kEnableEvent:
        device->notify = true;
        device->processor = os::CurrentProcessor();
        signal = device->pending && device->registered;
        signalled = device->event;
        device->pending = false;
        break;
      case ioctl::kDisableEvent:
        device->notify = false;
        break;
      default:
        return false;
    }
  }
  if (signal) Signal(signalled);
  // The forwarder ends when the connection closes, which waits for it.
  // The forwarder keeps the board's time: it runs before the busy threads
  // of the machine, where the system allows.
  if (start_forwarder) {
    device->connection->forwarder = os::CreateThread(ForwardInterrupts, device->connection);
    os::SetThreadPriority(device->connection->forwarder, 2);
  }
  return true;
}

void* OpenDevice(uint32_t board) {
  Connection* c = Current();
  auto* device = new Device{c, board};
  {
    Session session(c);
    if (!session || board >= kBoards || board >= session->config.board_count ||
        !session->config.board[board].present) {
      delete device;
      return nullptr;
    }
    // Causes raised before the device was opened are not news to it.
    std::memcpy(device->causes_seen, session->causes[board], sizeof device->causes_seen);
  }
  TablesGuard guard;
  Devices().push_back(device);
  return device;
}

void CloseDevice(void* handle) {
  if (!handle) return;
  auto* device = static_cast<Device*>(handle);
  {
    TablesGuard guard;
    std::vector<Device*>& devices = Devices();
    for (size_t i = 0; i < devices.size(); ++i) {
      if (devices[i] == device) {
        devices.erase(devices.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
  }
  delete device;
}

int IoControl(void* handle, uint32_t code, void* in, uint32_t in_size, void* out, uint32_t out_size,
              uint32_t* bytes_returned) {
  if (bytes_returned) *bytes_returned = 0;
  if (!handle) return 0;
  auto* device = static_cast<Device*>(handle);
  Session session(device->connection);
  if (!session) return 0;
  Request request{device->board, code, Op::kOther, 0, 0, 0};
  uint32_t returned = 0;
  switch (code) {
    case ioctl::kBoardConfig:  // accepted; the simulated board needs no configuration
      returned = out && out_size >= kBoardConfigSize ? kBoardConfigSize : 0;
      break;
    case ioctl::kRegisterEvent:
    case ioctl::kEnableEvent:
    case ioctl::kDisableEvent: {
      uint64_t event = 0;
      if (!ReadEventValue(in, in_size, &event) || !EventRequest(device, code, event)) return 0;
      request.value = static_cast<uint32_t>(event);
      break;
    }
    default: {
      PortRecord record{};
      if (!ReadRecord(in, in_size, &record)) return 0;
      const BusAccess access = BusRequest(&session->board[device->board], code, record.space,
                                          record.offset, &record.value, true);
      if (access == BusAccess::kRefused) return 0;
      request.op = access == BusAccess::kRead ? Op::kRead : Op::kWrite;
      if (IsEventWindow(code) && request.op == Op::kRead) {
        record.value =
            CausesSeen(device, *session.get(), record.offset, RequestWidth(code), record.value);
      }
      // A command may start a drive or move a compare window: the
      // forwarders look ahead again.
      if (!IsEventWindow(code) && request.op == Op::kWrite && record.space == 1 &&
          record.offset == chip::kWr0 && session->time.clock == Clock::kReal &&
          Moving(*session.get())) {
        session->wake.fetch_add(1, std::memory_order_release);
        os::WakeSharedWord(&session->wake);
      }
      ScanBoard(session.get(), device->board);
      if (request.op == Op::kRead && (!out || out_size < sizeof(PortRecord))) return 0;
      if (out && out_size >= sizeof(PortRecord)) {
        std::memcpy(out, &record, sizeof(record));
        returned = sizeof(record);
      }
      request.space = record.space;
      request.offset = record.offset;
      request.value = record.value;
      break;
    }
  }
  Record(session.get(), request);
  if (bytes_returned) *bytes_returned = returned;
  return 1;
}

const rvx_driver_ops kOps = {RVX_DRIVER_ABI_VERSION, OpenDevice, IoControl, CloseDevice};

}  // namespace

const rvx_driver_ops* DriverEntry(const rvx_driver_host* host) {
  if (host && host->abi_version == RVX_DRIVER_ABI_VERSION) {
    g_signal_event.store(host->signal_event);
  }
  return &kOps;
}

// ---- Configuration ----

void Reset(const Config& config) {
  Session session(Current(&config));
  if (session) Initialise(config, session.get());
}

Config CurrentConfig() {
  Session session(Current());
  return session ? session->config : Config{};
}

// The OS layer offers no unlink: named objects vanish once no process holds
// them. All this process can do is give up its own handles; other processes
// that still hold them keep the boards alive.
void RemoveNamedObjects() {
  const std::string ipc_namespace = os::GetEnv("RVX_IPC_NAMESPACE");
  Connection* c = nullptr;
  {
    TablesGuard guard;
    std::vector<Connection*>& connections = Connections();
    for (size_t i = 0; i < connections.size(); ++i) {
      if (connections[i]->ipc_namespace == ipc_namespace) {
        c = connections[i];
        connections.erase(connections.begin() + static_cast<std::ptrdiff_t>(i));
        Retired().push_back(c);
        break;
      }
    }
  }
  if (!c) return;
  c->closing = true;
  os::WakeSharedWord(&c->shared->wake);
  if (c->forwarder) {
    os::WaitThread(c->forwarder, 0xFFFFFFFF);
    os::CloseThread(c->forwarder);
    c->forwarder = nullptr;
  }
  os::CloseSection(c->section);
  os::CloseMutex(c->lock);
  c->section = c->lock = nullptr;  // devices still open on it now fail every request
}

// ---- Registers ----

uint8_t Pld(uint32_t board, uint32_t offset) {
  return QueryBoard<uint8_t>(
      board, [&](const BoardModel& b) { return offset < kPldSize ? b.pld[offset] : 0; });
}

void SetPld(uint32_t board, uint32_t offset, uint8_t value) {
  UpdateBoard(board, [&](BoardModel* b) {
    if (offset < kPldSize) b->pld[offset] = value;
  });
}

uint32_t Local(uint32_t board, uint32_t offset) {
  return QueryBoard<uint32_t>(
      board, [&](const BoardModel& b) { return offset < kLocalSize ? b.local[offset / 4] : 0; });
}

void SetLocal(uint32_t board, uint32_t offset, uint32_t value) {
  UpdateBoard(board, [&](BoardModel* b) {
    if (offset < kLocalSize) b->local[offset / 4] = value;
  });
}

uint8_t EventByte(uint32_t board, uint32_t offset) {
  return QueryBoard<uint8_t>(
      board, [&](const BoardModel& b) { return static_cast<uint8_t>(EventRead(b, offset, 1)); });
}

void SetEventByte(uint32_t board, uint32_t offset, uint8_t value) {
  Session session(Current());
  if (!session || board >= kBoards) return;
  EventWrite(&session->board[board], offset, value, 1);
  // A cause set from outside counts as latched: every reader sees it once.
  if (offset == 10 || offset == 11) {
    for (uint32_t bit = 0; bit < 8; ++bit) {
      session->causes[board][(offset - 10) * 8 + bit] += value >> bit & 1u;
    }
  }
  ScanBoard(session.get(), board);
}

AxisState Axis(uint32_t board, uint32_t axis) {
  return QueryBoard<AxisState>(board, [&](const BoardModel& b) {
    return axis < kAxes ? b.chip.axis[axis].reg : AxisState{};
  });
}

uint16_t Wr4(uint32_t board) {
  return QueryBoard<uint16_t>(board, [](const BoardModel& b) { return b.chip.wr4; });
}

uint16_t Wr5(uint32_t board) {
  return QueryBoard<uint16_t>(board, [](const BoardModel& b) { return b.chip.wr5; });
}

// ---- Inputs and status ----

void SetInputs(uint32_t board, uint32_t axis, uint8_t active_high) {
  UpdateAxis(board, axis, [&](AxisModel* a) { a->inputs = static_cast<uint8_t>(~active_high); });
}

void SetDriving(uint32_t board, uint32_t axis, bool driving) {
  UpdateBoard(board, [&](BoardModel* b) {
    if (axis < kAxes) ForceDriving(&b->chip, axis, driving);
  });
}

void SetMainStatusBits(uint32_t board, uint16_t bits) {
  UpdateBoard(board, [&](BoardModel* b) { b->chip.main_bits = bits & 0x7FF0u; });
}

void SetDriveStatus(uint32_t board, uint32_t axis, uint16_t rr1) {
  UpdateAxis(board, axis, [&](AxisModel* a) { a->reg.rr1 = rr1; });
}

void SetErrorStatus(uint32_t board, uint32_t axis, uint16_t rr2) {
  UpdateAxis(board, axis, [&](AxisModel* a) { a->reg.rr2 = rr2; });
}

void SetEventStatus(uint32_t board, uint32_t axis, uint16_t rr3) {
  UpdateAxis(board, axis, [&](AxisModel* a) { a->reg.rr3 = rr3; });
}

void SetPosition(uint32_t board, uint32_t axis, int32_t logical, int32_t real) {
  UpdateAxis(board, axis, [&](AxisModel* a) {
    a->reg.logical = logical;
    a->reg.real = a->place = real;
  });
}

int32_t MachinePosition(uint32_t board, uint32_t axis) {
  return QueryBoard<int32_t>(
      board, [&](const BoardModel& b) { return axis < kAxes ? b.chip.axis[axis].place : 0; });
}

void SetCurrentSpeed(uint32_t board, uint32_t axis, int32_t speed) {
  UpdateAxis(board, axis, [&](AxisModel* a) { a->speed = speed; });
}

void SetDriveDuration(uint32_t board, uint32_t axis, uint32_t polls) {
  UpdateAxis(board, axis, [&](AxisModel* a) { a->duration = polls; });
}

bool SetMachine(uint32_t board, uint32_t axis, const MachineModel& machine, std::string* error) {
  const std::string why = CheckMachine(machine);
  if (error) *error = why;
  if (!why.empty()) return false;
  UpdateAxis(board, axis, [&](AxisModel* a) { a->machine = machine; });
  return true;
}

MachineModel Machine(uint32_t board, uint32_t axis) {
  return QueryBoard<MachineModel>(board, [&](const BoardModel& b) {
    return axis < kAxes ? b.chip.axis[axis].machine : MachineModel{};
  });
}

void SetAlarm(uint32_t board, uint32_t axis, bool on) {
  UpdateBoard(board, [&](BoardModel* b) {
    if (axis < kAxes) SetChipAlarm(&b->chip, axis, on);
  });
}

void SetEmergency(uint32_t board, bool on) {
  UpdateBoard(board, [&](BoardModel* b) { SetChipEmergency(&b->chip, on); });
}

void SetDiBytes(uint32_t board, uint32_t module, uint8_t low, uint8_t high) {
  UpdateBoard(board, [&](BoardModel* b) {
    if (module < 1 || module > kModules) return;
    b->pld[pld::ModuleBase(module) + pld::kModuleDi] = low;
    b->pld[pld::ModuleBase(module) + pld::kModuleDi + 1] = high;
  });
}

// Every process's forwarder passes the interrupt on to the events its own
// devices registered, as a real board interrupts every process using it.
void RaiseInterrupt(uint32_t board, uint16_t cause) {
  Session session(Current());
  if (session && board < kBoards) Interrupt(session.get(), board, cause);
}

void SetMotionEvents(uint32_t board, uint32_t axis, uint8_t events) {
  UpdateAxis(board, axis, [&](AxisModel* a) { a->events |= events; });
}

// ---- Time ----

void SetClock(Clock clock) {
  Session session(Current());
  if (!session) return;
  Time& time = session->time;
  time.clock = clock;
  time.origin = os::MonotonicMicros() - time.micros;
}

Clock CurrentClock() {
  Session session(Current());
  return session ? session->time.clock : Clock::kReal;
}

uint64_t Now() {
  Session session(Current());
  return session ? session->time.micros : 0;
}

void AdvanceTime(uint64_t micros) {
  Session session(Current());
  if (session && session->time.clock == Clock::kStepped) Run(session.get(), micros);
}

uint64_t Settle(uint64_t limit_micros) {
  Session session(Current());
  if (!session || session->time.clock != Clock::kStepped) return 0;
  const uint64_t start = session->time.micros;
  for (uint64_t passed = 0; passed < limit_micros && Moving(*session.get());
       passed += kTickMicros) {
    Run(session.get(), kTickMicros);
  }
  return session->time.micros - start;
}

// ---- Trace ----

std::string Request::ToString() const {
  const int digits = 2 * RequestWidth(code);
  const char op_letter = op == Op::kRead ? 'R' : 'W';
  char text[48];
  if (op == Op::kOther) {
    std::snprintf(text, sizeof(text), "C 0x%08X", code);
  } else if (IsEventWindow(code)) {
    std::snprintf(text, sizeof(text), "E%c %02X 0x%0*X", op_letter, offset, digits, value);
  } else {
    std::snprintf(text, sizeof(text), "%c%u %02X 0x%0*X", op_letter, space, offset, digits, value);
  }
  return text;
}

void StartTrace() {
  Session session(Current());
  if (!session) return;
  session->trace_count = 0;
  session->tracing = 1;
}

std::vector<Request> Trace() {
  Session session(Current());
  std::vector<Request> requests;
  if (!session) return requests;
  const uint64_t count = session->trace_count;
  const uint64_t first = count > kTraceCapacity ? count - kTraceCapacity : 0;
  requests.reserve(static_cast<size_t>(count - first));
  for (uint64_t i = first; i < count; ++i) requests.push_back(session->trace[i % kTraceCapacity]);
  return requests;
}

void StopTrace() {
  Session session(Current());
  if (session) session->tracing = 0;
}

}  // namespace rvx::sim

namespace rvx {

const rvx_driver_ops* BuiltinSimEntry(const rvx_driver_host* host) {
  return sim::DriverEntry(host);
}

}  // namespace rvx
