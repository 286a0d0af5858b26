// Named mutex and paging-file section: the Windows kernel objects themselves,
// whose lifetime (alive while any process holds a handle) is the contract.
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/win32.h"

namespace rvx::os {
namespace {

// Sections this process has mapped: each once, for the life of the process,
// with a handle of its own. Windows drops an object's name with its last
// handle even while views stay mapped; the kept handle holds the name as long
// as the view, and later opens of the name get a new handle on the same view.
struct MappedView {
  std::string name;
  void* view;
  size_t size;
  HANDLE keeper;
};
struct ViewTable {
  ThreadLock lock;
  std::vector<MappedView> views;
};
ViewTable& Views() {
  static ViewTable table;
  return table;
}

std::string& FailureText() {
  thread_local std::string text;
  return text;
}

void NoteFailure(const char* name, const char* operation) {
  FailureText() =
      std::string("\"") + name + "\" " + operation + ": error " + std::to_string(::GetLastError());
}

}  // namespace

Handle CreateNamedMutex(const char* name, bool initial_owner, bool* already_existed) {
  HANDLE mutex = ::CreateMutexA(nullptr, initial_owner ? TRUE : FALSE, name);
  // Read at once: any later call may overwrite the last error.
  const bool existed = mutex != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS;
  if (mutex == nullptr) NoteFailure(name, "CreateMutexA");
  if (already_existed != nullptr) *already_existed = existed;
  return mutex;
}

// A contended wait polls a little, then yields, before it blocks: calls hold
// the mutex for microseconds, less than a blocked wait and its wake-up cost.
// A poll is a system call here, so there are fewer than on POSIX.
constexpr int kPolls = 20;
constexpr int kYields = 10;

bool WaitMutex(Handle mutex) {
  DWORD result = ::WaitForSingleObject(mutex, 0);
  for (int i = 0; result == WAIT_TIMEOUT && i < kPolls; ++i) {
    ::YieldProcessor();
    result = ::WaitForSingleObject(mutex, 0);
  }
  for (int i = 0; result == WAIT_TIMEOUT && i < kYields; ++i) {
    ::SwitchToThread();
    result = ::WaitForSingleObject(mutex, 0);
  }
  if (result == WAIT_TIMEOUT) result = ::WaitForSingleObject(mutex, INFINITE);
  // WAIT_ABANDONED: the previous owner died holding it; we own it now.
  return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void ReleaseMutex(Handle mutex) { ::ReleaseMutex(mutex); }

void CloseMutex(Handle mutex) {
  if (mutex != nullptr) ::CloseHandle(mutex);
}

Section CreateOrOpenSection(const char* name, size_t size) {
  if (name == nullptr) return {};
  ViewTable& table = Views();
  std::lock_guard<ThreadLock> hold(table.lock);
  for (const MappedView& mapped : table.views) {
    if (mapped.name != name || mapped.size < size) continue;
    HANDLE handle = ::OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (handle == nullptr) return {};
    Section section;
    section.handle = handle;
    section.view = mapped.view;
    return section;
  }

  const uint64_t size64 = size;
  HANDLE handle =
      ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                           static_cast<DWORD>(size64 >> 32), static_cast<DWORD>(size64), name);
  const bool created = handle != nullptr && ::GetLastError() != ERROR_ALREADY_EXISTS;
  if (!created) {
    // Open before closing the handle we may have, so that the section cannot
    // vanish in between when its other holders close theirs.
    HANDLE opened = ::OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (handle != nullptr) ::CloseHandle(handle);
    handle = opened;
  }
  if (handle == nullptr) {
    NoteFailure(name, "CreateFileMappingA");
    return {};
  }

  void* view = ::MapViewOfFile(handle, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  // A section someone made smaller than asked would let callers run off the
  // end of the view.
  MEMORY_BASIC_INFORMATION region;
  if (view != nullptr &&
      (::VirtualQuery(view, &region, sizeof(region)) == 0 || region.RegionSize < size)) {
    ::UnmapViewOfFile(view);
    view = nullptr;
  }
  HANDLE keeper = nullptr;
  if (view != nullptr && !::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(),
                                            &keeper, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    ::UnmapViewOfFile(view);
    view = nullptr;
  }
  if (view == nullptr) {
    ::CloseHandle(handle);
    return {};
  }
  if (created) std::memset(view, 0, size);
  table.views.push_back(MappedView{name, view, size, keeper});

  Section section;
  section.handle = handle;
  section.view = view;
  section.created = created;
  return section;
}

void CloseSection(Handle section) {
  if (section != nullptr) ::CloseHandle(section);
}

std::string TakeNamedObjectFailure() {
  std::string text;
  text.swap(FailureText());
  return text;
}

void FlushView(void* view, size_t size) {
  if (view != nullptr) ::FlushViewOfFile(view, size);
}

}  // namespace rvx::os
