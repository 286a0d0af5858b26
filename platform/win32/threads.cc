// Events, threads and time.
#include <new>

#include "platform/win32/win32.h"

namespace rvx::os {
namespace {

// ThreadProc is not a WINAPI function, so threads start through this.
struct ThreadStart {
  ThreadProc proc;
  void* arg;
};

DWORD WINAPI ThreadMain(LPVOID param) {
  const ThreadStart start = *static_cast<ThreadStart*>(param);
  delete static_cast<ThreadStart*>(param);
  return start.proc(start.arg);
}

}  // namespace

Handle CreateEvent() { return ::CreateEventA(nullptr, FALSE, FALSE, nullptr); }

void SetEvent(Handle event) { ::SetEvent(event); }

bool WaitEvent(Handle event) { return ::WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0; }

void CloseEvent(Handle event) {
  if (event != nullptr) ::CloseHandle(event);
}

uint64_t EventValue(Handle event) { return reinterpret_cast<uintptr_t>(event); }

Handle CreateThread(ThreadProc proc, void* arg) {
  auto* start = new (std::nothrow) ThreadStart{proc, arg};
  if (start == nullptr) return nullptr;
  HANDLE thread = ::CreateThread(nullptr, 0, ThreadMain, start, 0, nullptr);
  if (thread == nullptr) delete start;
  return thread;
}

bool WaitThread(Handle thread, uint32_t timeout_ms) {
  return ::WaitForSingleObject(thread, timeout_ms) == WAIT_OBJECT_0;
}

void TerminateThread(Handle thread) { ::TerminateThread(thread, 0); }

void CloseThread(Handle thread) {
  if (thread != nullptr) ::CloseHandle(thread);
}

bool SetThreadPriority(Handle thread, int priority) {
  const int level = priority > 1    ? THREAD_PRIORITY_HIGHEST
                    : priority == 1 ? THREAD_PRIORITY_ABOVE_NORMAL
                                    : THREAD_PRIORITY_NORMAL;
  return ::SetThreadPriority(thread, level) != FALSE;
}

int CurrentProcessor() { return static_cast<int>(::GetCurrentProcessorNumber()); }

bool RunOnProcessor(int processor) {
  DWORD_PTR process = 0, system = 0;
  if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system)) return false;
  if (processor >= static_cast<int>(8 * sizeof(DWORD_PTR))) return false;
  const DWORD_PTR mask = processor < 0 ? process : DWORD_PTR{1} << processor;
  return ::SetThreadAffinityMask(::GetCurrentThread(), mask) != 0;
}

// Windows can wait on an address only within one process, so a waiter on
// memory shared between processes looks at the word every millisecond.
void WaitSharedWord(std::atomic<uint32_t>* word, uint32_t expected, uint32_t timeout_ms) {
  const DWORD start = ::GetTickCount();
  while (word->load() == expected && ::GetTickCount() - start < timeout_ms) ::Sleep(1);
}

void WaitSharedWordMicros(std::atomic<uint32_t>* word, uint32_t expected, uint64_t timeout_us) {
  WaitSharedWord(word, expected, static_cast<uint32_t>((timeout_us + 999) / 1000));
}

void WakeSharedWord(std::atomic<uint32_t>*) {}

void WaitOnWord(std::atomic<uint32_t>* word, uint32_t seen, uint32_t round,
                const Backoff& backoff) {
  if (round < backoff.spins) {
    ::YieldProcessor();
  } else if (round - backoff.spins < backoff.yields) {
    ::SwitchToThread();
  } else {
    // Shorter naps than a millisecond are not to be had without raising the
    // system's timer resolution for every process.
    const uint64_t start = MonotonicMicros();
    while (word->load(std::memory_order_acquire) == seen) {
      ::Sleep(1);
      if (MonotonicMicros() - start >= backoff.nap_us) break;
    }
  }
}

void Sleep(uint32_t ms) { ::Sleep(ms); }

void YieldThread() { ::SwitchToThread(); }

void SpinPause() { ::YieldProcessor(); }

uint32_t TickCount() { return ::GetTickCount(); }

uint64_t MonotonicMicros() {
  LARGE_INTEGER frequency, now;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&now);
  const uint64_t f = static_cast<uint64_t>(frequency.QuadPart);
  const uint64_t n = static_cast<uint64_t>(now.QuadPart);
  return n / f * 1000000 + n % f * 1000000 / f;
}

LocalTime GetLocalTime() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

ThreadLock::ThreadLock() {
  static_assert(sizeof storage_ >= sizeof(CRITICAL_SECTION), "lock storage too small");
  ::InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}
ThreadLock::~ThreadLock() {
  ::DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}
void ThreadLock::lock() { ::EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void ThreadLock::unlock() { ::LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }

}  // namespace rvx::os
