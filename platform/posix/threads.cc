// Events, threads, sleeping and clocks.
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <new>
#include <thread>

#include "platform/platform.h"

namespace rvx::os {
namespace {

// Shared by the thread and its handle; the last of the two frees it.
struct Thread {
  Thread(ThreadProc p, void* a) : proc(p), arg(a) {}
  ThreadProc proc;
  void* arg;
  pthread_t id{};
  pid_t tid = 0;        // the kernel's id, for priority changes
  int normal_nice = 0;  // the nice value it started with
  std::mutex mutex;
  std::condition_variable changed;
  bool started = false;
  bool ended = false;
  std::atomic<int> refs{2};
};

void Unref(Thread* thread) {
  if (thread->refs.fetch_sub(1) == 1) delete thread;
}

// Runs when the procedure returns and when the thread is cancelled.
void Finish(void* arg) {
  auto* thread = static_cast<Thread*>(arg);
  {
    std::lock_guard<std::mutex> lock(thread->mutex);
    thread->ended = true;
  }
  thread->changed.notify_all();
  Unref(thread);
}

void* RunThread(void* arg) {
  auto* thread = static_cast<Thread*>(arg);
  {
    std::lock_guard<std::mutex> lock(thread->mutex);
    thread->tid = static_cast<pid_t>(syscall(SYS_gettid));
    thread->normal_nice = getpriority(PRIO_PROCESS, 0);  // this thread's, on Linux
    thread->started = true;
  }
  thread->changed.notify_all();
  pthread_cleanup_push(Finish, thread);
  thread->proc(thread->arg);
  pthread_cleanup_pop(1);
  return nullptr;
}

}  // namespace

// A board event is an eventfd, so that a kernel driver handed its descriptor
// (request 0xE0003878) can signal it as well as this process can. Reading
// takes every signal given since the last read at once: auto-reset, and two
// signals before a wait are one. The descriptor travels as descriptor + 1,
// so that descriptor 0 is not a null handle.
Handle CreateEvent() {
  const int fd = eventfd(0, EFD_CLOEXEC);
  return fd < 0 ? nullptr : reinterpret_cast<Handle>(static_cast<intptr_t>(fd) + 1);
}

namespace {
int EventFd(Handle event) { return static_cast<int>(reinterpret_cast<intptr_t>(event) - 1); }
}  // namespace

void SetEvent(Handle event) {
  if (event == nullptr) return;
  const uint64_t one = 1;
  while (write(EventFd(event), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

// read() is a cancellation point, so a watcher thread cancelled while it
// waits here leaves nothing held.
bool WaitEvent(Handle event) {
  if (event == nullptr) return false;
  uint64_t count = 0;
  for (;;) {
    if (read(EventFd(event), &count, sizeof count) == sizeof count) return true;
    if (errno != EINTR) return false;
  }
}

void CloseEvent(Handle event) {
  if (event != nullptr) close(EventFd(event));
}

uint64_t EventValue(Handle event) {
  return event == nullptr ? 0 : static_cast<uint64_t>(EventFd(event));
}

Handle CreateThread(ThreadProc proc, void* arg) {
  if (proc == nullptr) return nullptr;
  auto* thread = new Thread(proc, arg);
  if (pthread_create(&thread->id, nullptr, RunThread, thread) != 0) {
    delete thread;
    return nullptr;
  }
  // Wait for the kernel id, so that a priority can be set right away.
  std::unique_lock<std::mutex> lock(thread->mutex);
  thread->changed.wait(lock, [thread] { return thread->started; });
  return thread;
}

bool WaitThread(Handle thread, uint32_t timeout_ms) {
  if (thread == nullptr) return false;
  auto* t = static_cast<Thread*>(thread);
  std::unique_lock<std::mutex> lock(t->mutex);
  if (timeout_ms == UINT32_MAX) {  // INFINITE
    t->changed.wait(lock, [t] { return t->ended; });
    return true;
  }
  return t->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [t] { return t->ended; });
}

void TerminateThread(Handle thread) {
  if (thread != nullptr) pthread_cancel(static_cast<Thread*>(thread)->id);
}

void CloseThread(Handle thread) {
  if (thread == nullptr) return;
  auto* t = static_cast<Thread*>(thread);
  bool ended;
  {
    std::lock_guard<std::mutex> lock(t->mutex);
    ended = t->ended;
  }
  if (ended) {
    pthread_join(t->id, nullptr);  // it is past its procedure; reclaim it now
  } else {
    pthread_detach(t->id);
  }
  Unref(t);
}

bool SetThreadPriority(Handle thread, int priority) {
  if (thread == nullptr) return false;
  auto* t = static_cast<Thread*>(thread);
  // Above normal takes a real-time class where the system grants one: a
  // thread that must answer an interrupt within a millisecond cannot wait
  // for the time slices of a busy machine. Elsewhere the request is best
  // effort, as the thread runs correctly either way.
  sched_param param{};
  if (priority > 0) {
    param.sched_priority = priority > 1 ? 5 : 10;
    if (pthread_setschedparam(t->id, SCHED_FIFO, &param) == 0) return true;
    setpriority(PRIO_PROCESS, static_cast<id_t>(t->tid), t->normal_nice - 1);
    return true;
  }
  pthread_setschedparam(t->id, SCHED_OTHER, &param);
  setpriority(PRIO_PROCESS, static_cast<id_t>(t->tid), t->normal_nice);
  return true;
}

int CurrentProcessor() { return sched_getcpu(); }

bool RunOnProcessor(int processor) {
  // The processors the thread had before it was first kept to one.
  static thread_local cpu_set_t everywhere;
  static thread_local bool saved = false;
  if (!saved) saved = sched_getaffinity(0, sizeof everywhere, &everywhere) == 0;
  if (!saved) return false;
  if (processor < 0) return sched_setaffinity(0, sizeof everywhere, &everywhere) == 0;
  if (processor >= CPU_SETSIZE) return false;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(processor, &one);
  return sched_setaffinity(0, sizeof one, &one) == 0;
}

// A futex without FUTEX_PRIVATE_FLAG keys on the physical page, so it works
// across processes mapping the same object, and a waiter that dies leaves
// nothing behind.
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));

void WaitSharedWord(std::atomic<uint32_t>* word, uint32_t expected, uint32_t timeout_ms) {
  const timespec timeout{static_cast<time_t>(timeout_ms / 1000),
                         static_cast<long>(timeout_ms % 1000) * 1000000L};
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT, expected, &timeout, nullptr, 0);
}

void WaitSharedWordMicros(std::atomic<uint32_t>* word, uint32_t expected, uint64_t timeout_us) {
  // The default timer slack (50 us) would be most of the wait.
  static thread_local bool precise = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
  (void)precise;
  const timespec timeout{static_cast<time_t>(timeout_us / 1000000),
                         static_cast<long>(timeout_us % 1000000) * 1000L};
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT, expected, &timeout, nullptr, 0);
}

void WakeSharedWord(std::atomic<uint32_t>* word) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE, INT32_MAX, nullptr, nullptr, 0);
}

void WaitOnWord(std::atomic<uint32_t>* word, uint32_t seen, uint32_t round,
                const Backoff& backoff) {
  if (round < backoff.spins) {
    SpinPause();
  } else if (round - backoff.spins < backoff.yields) {
    sched_yield();
  } else {
    WaitSharedWordMicros(word, seen, backoff.nap_us);
  }
}

void Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void YieldThread() { sched_yield(); }

void SpinPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

uint32_t TickCount() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000 +
                               static_cast<uint64_t>(now.tv_nsec) / 1000000);
}

uint64_t MonotonicMicros() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
}

LocalTime GetLocalTime() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm local;
  localtime_r(&now.tv_sec, &local);
  return LocalTime{
      static_cast<uint16_t>(local.tm_year + 1900), static_cast<uint16_t>(local.tm_mon + 1),
      static_cast<uint16_t>(local.tm_mday),        static_cast<uint16_t>(local.tm_hour),
      static_cast<uint16_t>(local.tm_min),         static_cast<uint16_t>(local.tm_sec),
      static_cast<uint16_t>(now.tv_nsec / 1000000)};
}

// The call lock of every call: a futex word (0 free, 1 taken, 2 taken with
// sleepers) with an owner and a depth beside it. pthread's recursive kind
// costs a call several times as much; a release enters the kernel only for
// a sleeper.
struct RecursiveLock {
  std::atomic<uint32_t> word{0};
  std::atomic<pthread_t> owner{};
  uint32_t depth = 0;
};

ThreadLock::ThreadLock() {
  static_assert(sizeof storage_ >= sizeof(RecursiveLock), "lock storage too small");
  new (storage_) RecursiveLock;
}
ThreadLock::~ThreadLock() { reinterpret_cast<RecursiveLock*>(storage_)->~RecursiveLock(); }

void ThreadLock::lock() {
  auto* l = reinterpret_cast<RecursiveLock*>(storage_);
  const pthread_t self = pthread_self();
  if (pthread_equal(l->owner.load(std::memory_order_relaxed), self)) {
    ++l->depth;
    return;
  }
  uint32_t free = 0;
  if (!l->word.compare_exchange_strong(free, 1, std::memory_order_acquire)) {
    while (l->word.exchange(2, std::memory_order_acquire) != 0) {
      syscall(SYS_futex, reinterpret_cast<uint32_t*>(&l->word), FUTEX_WAIT_PRIVATE, 2, nullptr,
              nullptr, 0);
    }
  }
  l->owner.store(self, std::memory_order_relaxed);
  l->depth = 1;
}

void ThreadLock::unlock() {
  auto* l = reinterpret_cast<RecursiveLock*>(storage_);
  if (--l->depth != 0) return;
  l->owner.store(pthread_t(), std::memory_order_relaxed);
  if (l->word.exchange(0, std::memory_order_release) == 2) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&l->word), FUTEX_WAKE_PRIVATE, 1, nullptr,
            nullptr, 0);
  }
}

}  // namespace rvx::os
