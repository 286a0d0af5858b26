// The operating-system layer. Everything above it is OS-neutral; each OS has
// one implementation directory (posix/, win32/) with the same behaviour.
//
// Handles are opaque and null when absent. Named objects follow Windows
// lifetime rules on every system: a named mutex or section exists while some
// process holds it and vanishes when the last holder closes it or dies.
#ifndef RVX_PLATFORM_PLATFORM_H_
#define RVX_PLATFORM_PLATFORM_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace rvx::os {

using Handle = void*;

// ---- Named cross-process objects ----

// A recursive mutex shared by name across processes. `initial_owner` asks for
// ownership at creation; it is granted only when the mutex did not exist yet.
// `already_existed` tells whether a live process held the mutex before.
Handle CreateNamedMutex(const char* name, bool initial_owner, bool* already_existed);
// Waits without time-out. A mutex left by a dead owner counts as acquired.
// Ownership is per thread: the owner's waits return at once and count.
bool WaitMutex(Handle mutex);
// Gives up one successful wait; only for the owning thread.
void ReleaseMutex(Handle mutex);
void CloseMutex(Handle mutex);

struct Section {
  Handle handle = nullptr;
  void* view = nullptr;  // the whole section, read-write
  bool created = false;  // this process created it; only the creator zero-fills
};
// Creates the named section of `size` bytes, or opens it when it exists.
// On failure handle and view are null. A created section reads as zeros.
// A process maps each section once: its view, and with it the section under
// its name, stays for the life of the process, and a later call for the same
// name returns a new handle on that view.
Section CreateOrOpenSection(const char* name, size_t size);
// Closes the handle; the view stays mapped for the life of the process.
void CloseSection(Handle section);
void FlushView(void* view, size_t size);
// Why this thread's last named-object call failed: the object's name, the
// system call and its reason; "" when none failed since the last take.
std::string TakeNamedObjectFailure();
// Removes a leftover named object that no process holds any more, so tests
// leave nothing behind (POSIX keeps such objects as files; Windows does not).
void RemoveNamedObject(const char* name);

// ---- The board family's kernel driver ----

// Opens "\\.\rvxPciBrd<board>" (Windows) or "/dev/rvxPciBrd<board>" (POSIX).
Handle OpenDevice(uint32_t board);
// DeviceIoControl's contract; nonzero on success.
int DeviceControl(Handle device, uint32_t code, void* in, uint32_t in_size, void* out,
                  uint32_t out_size, uint32_t* bytes_returned);
void CloseDevice(Handle device);

// The device OpenDevice opens for `board`.
std::string DevicePath(uint32_t board);
// Why the device of `board` does not open, in the system's words; "" when
// it opens (it is closed again).
std::string DeviceOpenFailure(uint32_t board);

// ---- Loadable modules ----
Handle LoadModule(const char* path);
void* ModuleSymbol(Handle module, const char* name);
// Why the module at `path` does not load, in the system's words; "" when it
// loads.
std::string ModuleLoadFailure(const char* path);
// The file name of this library's shared object: "librvxMApiBrd.so" or
// "rvxMApiBrd.dll".
const char* LibraryFileName();

// ---- Events and threads ----

// A recursive lock among the threads of this process; usable with
// std::lock_guard and std::unique_lock.
class ThreadLock {
 public:
  ThreadLock();
  ~ThreadLock();
  ThreadLock(const ThreadLock&) = delete;
  ThreadLock& operator=(const ThreadLock&) = delete;
  void lock();
  void unlock();

 private:
  alignas(16) unsigned char storage_[64];
};

// Unnamed, auto-reset, initially not signalled.
Handle CreateEvent();
void SetEvent(Handle event);
// Waits without time-out; false when the wait itself failed.
bool WaitEvent(Handle event);
void CloseEvent(Handle event);
// The value a driver is given to name the event (request 0xE0003878): the
// event's handle on Windows, its eventfd descriptor on POSIX. Either way a
// kernel driver can signal it.
uint64_t EventValue(Handle event);

using ThreadProc = uint32_t (*)(void* arg);
Handle CreateThread(ThreadProc proc, void* arg);
// True when the thread ended within `timeout_ms`.
bool WaitThread(Handle thread, uint32_t timeout_ms);
void TerminateThread(Handle thread);
void CloseThread(Handle thread);
// 1 = above normal, 0 = normal; 2 = time-critical, for a thread that keeps
// time as hardware would: above every normal thread, yet on POSIX below the
// threads raised above normal, so that one it wakes on its own processor
// runs there at once.
bool SetThreadPriority(Handle thread, int priority);
// The processor the calling thread runs on now; -1 when the system cannot
// tell.
int CurrentProcessor();
// Keeps the calling thread to one processor, or lets it run on every
// processor it could run on before (-1).
bool RunOnProcessor(int processor);

// A 32-bit word in memory that several processes map (a shared section)
// doubles as a wake-up: WaitSharedWord sleeps while the word still holds
// `expected`, for at most `timeout_ms`; WakeSharedWord, called by any
// process after changing the word, wakes every waiter of every process.
// Waiters must tolerate waking early and recheck the word.
void WaitSharedWord(std::atomic<uint32_t>* word, uint32_t expected, uint32_t timeout_ms);
// The same to the microsecond, as far as the system can time it.
void WaitSharedWordMicros(std::atomic<uint32_t>* word, uint32_t expected, uint64_t timeout_us);
void WakeSharedWord(std::atomic<uint32_t>* word);

// How a taker that finds a lock word held waits for it to change: the first
// `spins` rounds pause the processor and retry, the next `yields` let
// another ready thread run, and every round after sleeps on the word until
// it no longer holds what the taker saw, a WakeSharedWord comes or `nap_us`
// ends (Windows looks at the word every millisecond instead). The sleeping
// rounds are what free the processor for a holder that the taker, at a
// higher priority, preempted there: spinning or yielding never would.
struct Backoff {
  uint32_t spins;
  uint32_t yields;
  uint64_t nap_us;
};
// Round `round` (0 first) of such a wait on `word`, which the taker last saw
// holding `seen`. The caller retries its take after each round.
void WaitOnWord(std::atomic<uint32_t>* word, uint32_t seen, uint32_t round, const Backoff& backoff);

// A lock within one process for a few instructions' worth of work. A taker
// that finds it held sleeps on the word at once: its release wakes sleepers.
class WordLock {
 public:
  void lock() {
    uint32_t free = kFree;
    if (word_.compare_exchange_strong(free, kHeld, std::memory_order_acquire)) return;
    // From here on the word says there may be sleepers, so that the unlock
    // wakes them; a wake that is lost costs one nap at most.
    for (uint32_t round = 0; word_.exchange(kContended, std::memory_order_acquire) != kFree;
         ++round) {
      WaitOnWord(&word_, kContended, round, kBackoff);
    }
  }
  void unlock() {
    if (word_.exchange(kFree, std::memory_order_release) == kContended) WakeSharedWord(&word_);
  }

 private:
  static constexpr uint32_t kFree = 0, kHeld = 1, kContended = 2;
  static constexpr Backoff kBackoff{0, 0, 1000};
  std::atomic<uint32_t> word_{kFree};
};

void Sleep(uint32_t ms);
// Lets another thread that is ready run first.
void YieldThread();
// Tells the processor that this thread waits in a loop on memory or a clock.
void SpinPause();
uint32_t TickCount();  // milliseconds, wrapping
// Microseconds of a clock that every process of the machine shares and that
// never goes back.
uint64_t MonotonicMicros();

struct LocalTime {
  uint16_t year, month, day, hour, minute, second, millisecond;
};
LocalTime GetLocalTime();

// ---- System ----

// Windows PROCESSOR_ARCHITECTURE_* of the machine: 0 x86, 9 x64, 6 IA-64,
// 12 ARM64, 0xFFFF unknown.
uint16_t NativeArchitecture();
// The environment variable, or "" when unset.
std::string GetEnv(const char* name);
void SetEnv(const char* name, const char* value);
// Separator of path components: '\\' on Windows, '/' on POSIX.
char PathSeparator();
// The fixed default install directory, with a trailing separator.
const char* DefaultInstallDir();

// ---- Processes ----

uint32_t CurrentProcessId();
// Whether the process still runs: false once it has ended, even while its
// exit status waits to be collected.
bool ProcessRunning(uint32_t pid);
// The file of the running program.
std::string ExecutablePath();
// Starts `args` (args[0] the program file) on its own, outside this
// process's session or console, its standard streams on the null device, so
// that it outlives this process and holds none of its pipes. Its process id,
// or 0 when it could not be started.
uint32_t StartDetachedProcess(const std::vector<std::string>& args);
// Whether the standard error stream is a terminal (a console on Windows).
bool StderrIsTerminal();
// The signals by which a user or the system asks a program to end: Ctrl-C,
// a closed terminal or session, kill. SIGINT, SIGHUP and SIGTERM on POSIX;
// SIGINT, SIGBREAK and SIGTERM on Windows.
std::vector<int> TerminationSignals();

// ---- INI files, with GetPrivateProfileIntA semantics ----

// Sections and keys match without regard to case; the value's leading integer,
// or `default_value` when the key is absent.
int32_t ReadIniInt(const char* section, const char* key, int32_t default_value, const char* path);
// Rewrites one key and keeps the rest of the file; creates file and section.
bool WriteIniString(const char* section, const char* key, const char* value, const char* path);
constexpr uint32_t kFileAttributeReadOnly = 0x01;
constexpr uint32_t kFileAttributeSystem = 0x04;
constexpr uint32_t kFileAttributeNormal = 0x80;
bool SetFileAttributes(const char* path, uint32_t attributes);
uint32_t GetFileAttributes(const char* path);  // 0 when the file is missing
// Makes what was written to `file` durable, so that a rename of it never
// publishes a file whose contents are still in flight.
bool SyncFile(FILE* file);
// Puts `from` in the place of `to` in one step: a reader, or a process that
// dies meanwhile, sees either the old file or the new one.
bool MoveFileOver(const char* from, const char* to);

// ---- File version resource ----

// The string value "\StringFileInfo\<lang>\<name>" of the file's version
// resource; false when the file has no version resource or no such value.
bool GetFileVersionString(const char* path, const char* sub_block, std::string* value);

// ---- Window messages ----

struct Message {
  Handle window;
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
};
constexpr uint32_t kWmQuit = 0x0012;
// Takes one message of any window of the calling thread, or a thread message.
bool PeekMessage(Message* msg);
// TranslateMessage and DispatchMessageA.
void DispatchMessage(const Message& msg);
void PostQuitMessage(int exit_code);
bool PostMessage(Handle window, uint32_t message, uintptr_t wparam, intptr_t lparam);

}  // namespace rvx::os

#endif  // RVX_PLATFORM_PLATFORM_H_
