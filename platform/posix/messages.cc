// Window messages without a window system. Every thread has a message queue,
// made on first use. A "window" is a procedure registered by a thread; what
// is posted to it queues on that thread until the thread takes and dispatches
// it. Thread messages (WM_QUIT) have no window and dispatch to nothing.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "include/rvx406a.h"
#include "platform/platform.h"

namespace rvx::os {
namespace {

class Queue {
 public:
  void Push(const Message& message) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back(message);
    }
    ready_.notify_one();
  }

  bool Take(Message* message, uint32_t timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!ready_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                         [this] { return !messages_.empty(); })) {
      return false;
    }
    *message = messages_.front();
    messages_.pop_front();
    return true;
  }

  // What is still queued for a destroyed window is never delivered.
  void Drop(Handle window) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = messages_.begin(); it != messages_.end();) {
      it = it->window == window ? messages_.erase(it) : it + 1;
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Message> messages_;
};

struct Window {
  RVX_WNDPROC proc;
  std::shared_ptr<Queue> queue;  // of the owning thread
};

// Live windows by handle. Handles are numbers never reused, so a stale handle
// finds nothing rather than another window. Lock order: registry, then queue.
struct Registry {
  std::mutex mutex;
  std::unordered_map<Handle, Window> windows;
  uintptr_t last_id = 0;
};

Registry& registry() {
  static auto* registry = new Registry;  // outlives every thread's exit
  return *registry;
}

// The calling thread's queue. When the thread ends its windows go with it.
class ThreadQueue {
 public:
  ~ThreadQueue() {
    if (queue_ == nullptr) return;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (auto it = r.windows.begin(); it != r.windows.end();) {
      it = it->second.queue == queue_ ? r.windows.erase(it) : std::next(it);
    }
  }
  const std::shared_ptr<Queue>& get() {
    if (queue_ == nullptr) queue_ = std::make_shared<Queue>();
    return queue_;
  }

 private:
  std::shared_ptr<Queue> queue_;
};

const std::shared_ptr<Queue>& ThisThreadQueue() {
  thread_local ThreadQueue queue;
  return queue.get();
}

}  // namespace

bool PeekMessage(Message* msg) { return msg != nullptr && ThisThreadQueue()->Take(msg, 0); }

void DispatchMessage(const Message& msg) {
  RVX_WNDPROC proc = nullptr;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.windows.find(msg.window);
    if (it != r.windows.end()) proc = it->second.proc;
  }
  // Called unlocked: the procedure may post, create or destroy windows.
  if (proc != nullptr) proc(msg.window, msg.message, msg.wparam, msg.lparam);
}

void PostQuitMessage(int exit_code) {
  ThisThreadQueue()->Push(Message{nullptr, kWmQuit, static_cast<uintptr_t>(exit_code), 0});
}

bool PostMessage(Handle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.windows.find(window);
  if (it == r.windows.end()) return false;
  it->second.queue->Push(Message{window, message, wparam, lparam});
  return true;
}

}  // namespace rvx::os

// The public face of the same queues, declared in rvx406a.h.
using rvx::os::Handle;
using rvx::os::Message;

namespace {

RVX_MSG ToPublic(const Message& m) { return RVX_MSG{m.window, m.message, m.wparam, m.lparam}; }

}  // namespace

extern "C" {

RVX406A_API void* rvx_create_window(RVX_WNDPROC proc) {
  if (proc == nullptr) return nullptr;
  rvx::os::Registry& r = rvx::os::registry();
  std::shared_ptr<rvx::os::Queue> queue = rvx::os::ThisThreadQueue();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto window = reinterpret_cast<Handle>(++r.last_id);
  r.windows.emplace(window, rvx::os::Window{proc, std::move(queue)});
  return window;
}

RVX406A_API void rvx_destroy_window(void* hwnd) {
  rvx::os::Registry& r = rvx::os::registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.windows.find(hwnd);
  if (it == r.windows.end()) return;
  it->second.queue->Drop(hwnd);
  r.windows.erase(it);
}

RVX406A_API int rvx_post_message(void* hwnd, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return rvx::os::PostMessage(hwnd, message, wparam, lparam) ? 1 : 0;
}

RVX406A_API void rvx_post_quit_message(int exit_code) { rvx::os::PostQuitMessage(exit_code); }

RVX406A_API int rvx_get_message(RVX_MSG* msg, uint32_t timeout_ms) {
  Message m;
  if (msg == nullptr || !rvx::os::ThisThreadQueue()->Take(&m, timeout_ms)) return 0;
  *msg = ToPublic(m);
  return 1;
}

RVX406A_API void rvx_dispatch_message(const RVX_MSG* msg) {
  if (msg != nullptr) {
    rvx::os::DispatchMessage(Message{msg->hwnd, msg->message, msg->wparam, msg->lparam});
  }
}

}  // extern "C"
