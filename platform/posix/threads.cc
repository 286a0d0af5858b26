// Events, threads, sleeping and clocks.
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <new>
#include <thread>

#include "platform/platform.h"

namespace rvx::os {
namespace {

// Raw pthread primitives: a watcher thread is cancelled while it waits here,
// and pthread_cond_wait is the cancellation point that leaves the mutex in a
// known state (re-acquired, then released by the cleanup handler).
struct Event {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t cond = PTHREAD_COND_INITIALIZER;
  bool signalled = false;
};

void UnlockMutex(void* mutex) { pthread_mutex_unlock(static_cast<pthread_mutex_t*>(mutex)); }

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

Handle CreateEvent() { return new Event; }

void SetEvent(Handle event) {
  if (event == nullptr) return;
  auto* e = static_cast<Event*>(event);
  pthread_mutex_lock(&e->mutex);
  e->signalled = true;
  pthread_cond_signal(&e->cond);
  pthread_mutex_unlock(&e->mutex);
}

bool WaitEvent(Handle event) {
  if (event == nullptr) return false;
  auto* e = static_cast<Event*>(event);
  pthread_mutex_lock(&e->mutex);
  pthread_cleanup_push(UnlockMutex, &e->mutex);
  while (!e->signalled) pthread_cond_wait(&e->cond, &e->mutex);
  e->signalled = false;  // auto-reset: one wake per signal
  pthread_cleanup_pop(1);
  return true;
}

void CloseEvent(Handle event) {
  if (event == nullptr) return;
  auto* e = static_cast<Event*>(event);
  pthread_cond_destroy(&e->cond);
  pthread_mutex_destroy(&e->mutex);
  delete e;
}

uint64_t EventValue(Handle event) { return reinterpret_cast<uintptr_t>(event); }

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
  // Raising a thread above normal needs privileges most processes lack; the
  // request is best effort, as the thread runs correctly either way.
  setpriority(PRIO_PROCESS, static_cast<id_t>(t->tid), t->normal_nice - (priority > 0 ? 1 : 0));
  return true;
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

void WakeSharedWord(std::atomic<uint32_t>* word) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE, INT32_MAX, nullptr, nullptr, 0);
}

void Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void YieldThread() { sched_yield(); }

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
