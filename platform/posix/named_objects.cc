// Named mutex and section on POSIX shared memory, with Windows object lifetime.
//
// An object "name" lives in the shm object "/name". Every holder keeps a shared
// flock on its descriptor; the kernel drops it when the holder closes or dies.
// So whoever can take the exclusive lock is alone with the object: a leftover
// from dead processes counts as absent and is created afresh. Creating and
// opening are serialised by an exclusive flock on "/name.guard". The last
// holder removes the object and its guard; whoever locked a guard that was
// removed meanwhile tries again on the current one. Objects are open to their
// owner only.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace rvx::os {
namespace {

int Flock(int fd, int operation) {
  int rc;
  do {
    rc = flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

constexpr mode_t kMode = 0600;

std::string ShmPath(const char* name) { return std::string("/") + name; }

std::string& FailureText() {
  thread_local std::string text;
  return text;
}

// Records why an operation on an object failed, from errno.
void NoteFailure(const std::string& path, const char* operation) {
  FailureText() = "\"" + path + "\" " + operation + ": " + strerror(errno);
}

// Holds the creation guard of one name for its lifetime.
class Guard {
 public:
  explicit Guard(const std::string& path) : path_(path + ".guard") {
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      const int fd = shm_open(path_.c_str(), O_RDWR | O_CREAT, kMode);
      if (fd < 0) {
        NoteFailure(path_, "shm_open");
        return;
      }
      struct stat locked, current;
      if (Flock(fd, LOCK_EX) == 0 && fstat(fd, &locked) == 0) {
        const int now = shm_open(path_.c_str(), O_RDWR, 0);
        const bool same = now >= 0 && fstat(now, &current) == 0 && current.st_ino == locked.st_ino;
        if (now >= 0) close(now);
        if (same) {
          fd_ = fd;
          return;
        }
      }
      close(fd);
    }
  }
  ~Guard() {
    if (fd_ >= 0) close(fd_);  // drops the lock
  }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;
  bool locked() const { return fd_ >= 0; }
  // Removes the object and the guard; only for the object's last holder.
  void Remove(const std::string& path) const {
    shm_unlink(path.c_str());
    shm_unlink(path_.c_str());
  }

 private:
  std::string path_;
  int fd_ = -1;
};

// The descriptors by which this process holds objects. When it exits, it
// removes those it held last, as Windows drops an object with its last
// handle; a process that crashed leaves them to the next one, which finds
// nobody holding them and takes them over.
class Holdings {
 public:
  void Add(const std::string& path, int fd) {
    std::lock_guard<std::mutex> hold(lock_);
    held_.push_back(Holding{path, fd, getpid()});
  }
  void Drop(int fd) {
    std::lock_guard<std::mutex> hold(lock_);
    for (size_t i = 0; i < held_.size(); ++i) {
      if (held_[i].fd == fd) {
        held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(i));
        return;
      }
    }
  }
  ~Holdings() {
    std::lock_guard<std::mutex> hold(lock_);
    for (size_t i = 0; i < held_.size(); ++i) {
      const std::string path = held_[i].path;
      // A forked child shares its parent's locks; they are not its to drop.
      if (path.empty() || held_[i].owner != getpid()) continue;
      int last = -1;
      for (Holding& h : held_) {
        if (h.path != path) continue;
        if (last >= 0) close(last);
        last = h.fd;
        h.path.clear();
      }
      const Guard guard(path);
      if (guard.locked() && Flock(last, LOCK_EX | LOCK_NB) == 0) guard.Remove(path);
      close(last);
    }
  }

 private:
  struct Holding {
    std::string path;
    int fd;
    pid_t owner;
  };
  std::mutex lock_;
  std::vector<Holding> held_;
};
Holdings& Holders() {
  static Holdings holdings;
  return holdings;
}

struct Held {
  int fd = -1;
  void* view = nullptr;
  bool created = false;
};

// Opens or creates the object of `size` bytes, shared-locked and mapped. Runs
// under the guard; a created object reads as zeros.
Held OpenHeld(const std::string& path, size_t size) {
  Held held;
  held.fd = shm_open(path.c_str(), O_RDWR | O_CREAT, kMode);
  if (held.fd < 0) {
    NoteFailure(path, "shm_open");
    return held;
  }
  bool ok;
  if (Flock(held.fd, LOCK_EX | LOCK_NB) == 0) {
    // Nobody holds it: whatever is there is stale.
    held.created = true;
    ok = ftruncate(held.fd, 0) == 0 && ftruncate(held.fd, static_cast<off_t>(size)) == 0;
  } else {
    struct stat st;
    ok = errno == EWOULDBLOCK && fstat(held.fd, &st) == 0 &&
         st.st_size >= static_cast<off_t>(size);  // a shorter object would fault on access
  }
  ok = ok && Flock(held.fd, LOCK_SH) == 0;
  if (ok) {
    held.view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, held.fd, 0);
    ok = held.view != MAP_FAILED;
  }
  if (!ok) {
    NoteFailure(path, "map");
    close(held.fd);
    return Held();
  }
  Holders().Add(path, held.fd);
  return held;
}

// Sections this process has mapped: each once, for the life of the process,
// with a descriptor of its own whose lock keeps the object alive. Later opens
// of the same name get a new handle on the same view, so reloading maps
// nothing new.
struct MappedView {
  std::string path;
  void* view;
  size_t size;
  int keeper;
};
struct ViewTable {
  std::mutex lock;
  std::vector<MappedView> views;
};
ViewTable& Views() {
  static ViewTable table;
  return table;
}

// The object of a named mutex: a robust, error-checking mutex, the process
// that took it last and how often its owning thread has taken it. Counting
// here, where only the owner writes, spares every take and release glibc's
// recursive bookkeeping; the error check tells the owner's repeated take.
struct MutexObject {
  pthread_mutex_t mutex;
  pid_t owner;
  uint32_t depth;
};

struct NamedMutex {
  int fd;
  MutexObject* object;
  std::string path;
  // getpid() is a system call on every take otherwise, which costs as much
  // as the rest of a call; a handle does not outlive its process's image.
  pid_t opener;
};

// Whether a process still holds what it opened. A dying process wakes the
// waiters of its robust mutexes before its descriptors close; a zombie has
// closed them all.
bool HoldsItsObjects(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z' &&
         line[close + 2] != 'X';
}

void InitMutex(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  // A holder preempted by busy threads must not keep a real-time waiter
  // (a watcher answering an interrupt) waiting: it runs at the waiter's priority.
  pthread_mutexattr_setprotocol(&attr, PTHREAD_PRIO_INHERIT);
  pthread_mutex_init(mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

// A contended take spins briefly, then yields, before it sleeps: calls hold
// the mutex for microseconds, whereas a sleeper costs a context switch to
// wake and makes every release until then enter the kernel.
constexpr int kSpins = 100;
constexpr int kYields = 10;

void CpuPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// pthread_mutex_trylock's results, but waits while another thread owns it.
int Take(pthread_mutex_t* mutex) {
  int rc = pthread_mutex_trylock(mutex);
  for (int i = 0; rc == EBUSY && i < kSpins; ++i) {
    CpuPause();
    rc = pthread_mutex_trylock(mutex);
  }
  for (int i = 0; rc == EBUSY && i < kYields; ++i) {
    sched_yield();
    rc = pthread_mutex_trylock(mutex);
  }
  return rc == EBUSY ? pthread_mutex_lock(mutex) : rc;
}

}  // namespace

Handle CreateNamedMutex(const char* name, bool initial_owner, bool* already_existed) {
  if (already_existed != nullptr) *already_existed = false;
  if (name == nullptr) return nullptr;
  const std::string path = ShmPath(name);
  Guard guard(path);
  if (!guard.locked()) return nullptr;
  Held held = OpenHeld(path, sizeof(MutexObject));
  if (held.view == nullptr) return nullptr;
  auto* object = static_cast<MutexObject*>(held.view);
  if (held.created) {
    InitMutex(&object->mutex);
    // Still under the guard, so no other process can take it first.
    if (initial_owner) {
      pthread_mutex_lock(&object->mutex);
      object->owner = getpid();
      object->depth = 1;
    }
  }
  if (already_existed != nullptr) *already_existed = !held.created;
  return new NamedMutex{held.fd, object, path, getpid()};
}

bool WaitMutex(Handle mutex) {
  if (mutex == nullptr) return false;
  NamedMutex* named = static_cast<NamedMutex*>(mutex);
  MutexObject* object = named->object;
  int rc = Take(&object->mutex);
  if (rc == EDEADLK) {  // this thread owns it already
    ++object->depth;
    return true;
  }
  if (rc == EOWNERDEAD) {
    // The owner died inside a call; like an abandoned Windows mutex, go on,
    // once a dead process holds nothing more (at most a few seconds), so that
    // the objects only it held count as absent. A thread of this process
    // that ended holding it leaves nothing to wait for.
    const pid_t owner = object->owner;
    for (int waited = 0; waited < 5000 && owner != named->opener && HoldsItsObjects(owner);
         ++waited) {
      usleep(1000);
    }
    pthread_mutex_consistent(&object->mutex);
    rc = 0;
  }
  if (rc != 0) return false;
  object->owner = named->opener;
  object->depth = 1;
  return true;
}

void ReleaseMutex(Handle mutex) {
  if (mutex == nullptr) return;
  MutexObject* object = static_cast<NamedMutex*>(mutex)->object;
  if (object->depth > 1) {
    --object->depth;
  } else {
    object->depth = 0;
    pthread_mutex_unlock(&object->mutex);
  }
}

void CloseMutex(Handle mutex) {
  if (mutex == nullptr) return;
  auto* m = static_cast<NamedMutex*>(mutex);
  {
    // The last holder removes the object so that nothing is left behind.
    const Guard guard(m->path);
    if (guard.locked() && Flock(m->fd, LOCK_EX | LOCK_NB) == 0) guard.Remove(m->path);
  }
  munmap(m->object, sizeof(MutexObject));
  Holders().Drop(m->fd);
  close(m->fd);
  delete m;
}

Section CreateOrOpenSection(const char* name, size_t size) {
  Section section;
  if (name == nullptr || size == 0) return section;
  const std::string path = ShmPath(name);
  ViewTable& table = Views();
  std::lock_guard<std::mutex> hold(table.lock);
  for (const MappedView& mapped : table.views) {
    if (mapped.path != path || mapped.size < size) continue;
    // Our keeper holds the object, so the name still leads to it.
    const int fd = shm_open(path.c_str(), O_RDWR, 0);
    if (fd < 0) {
      NoteFailure(path, "shm_open");
      return section;
    }
    if (Flock(fd, LOCK_SH) != 0) {
      close(fd);
      return section;
    }
    Holders().Add(path, fd);
    section.handle = new int(fd);
    section.view = mapped.view;
    return section;
  }
  Guard guard(path);
  if (!guard.locked()) return section;
  Held held = OpenHeld(path, size);
  if (held.view == nullptr) return section;
  const int keeper = fcntl(held.fd, F_DUPFD_CLOEXEC, 0);
  if (keeper < 0) {
    munmap(held.view, size);
    Holders().Drop(held.fd);
    close(held.fd);
    return section;
  }
  Holders().Add(path, keeper);
  table.views.push_back(MappedView{path, held.view, size, keeper});
  section.handle = new int(held.fd);
  section.view = held.view;
  section.created = held.created;
  return section;
}

void CloseSection(Handle section) {
  if (section == nullptr) return;
  int* fd = static_cast<int*>(section);
  Holders().Drop(*fd);
  close(*fd);
  delete fd;
}

std::string TakeNamedObjectFailure() {
  std::string text;
  text.swap(FailureText());
  return text;
}

void FlushView(void* view, size_t size) {
  if (view != nullptr && size != 0) msync(view, size, MS_SYNC);
}

}  // namespace rvx::os
