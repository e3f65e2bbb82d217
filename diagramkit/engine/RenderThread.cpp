#include "diagramkit/engine/RenderThread.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "platform/foundation/log.h"

namespace diagramkit {

namespace {

struct RenderQueue {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::function<void()>> tasks;
  std::thread::id id;

  void run() {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock lock(mutex);
        wake.wait(lock, [&] { return !tasks.empty(); });
        task = std::move(tasks.front());
        tasks.pop_front();
      }
      try {
        task();
      } catch (const std::exception& e) {
        foundation::log(foundation::LogLevel::Error, "diagramkit", std::string("render task failed: ") + e.what());
      }
    }
  }
};

// Made once and never destroyed: the thread may still wait on it while the process exits.
RenderQueue& queue() {
  static RenderQueue* q = [] {
    auto* made = new RenderQueue();
    std::thread worker([made] { made->run(); });
    {
      std::lock_guard lock(made->mutex);
      made->id = worker.get_id();
    }
    worker.detach();
    return made;
  }();
  return *q;
}

}  // namespace

void postRender(std::function<void()> task) {
  RenderQueue& q = queue();
  {
    std::lock_guard lock(q.mutex);
    q.tasks.push_back(std::move(task));
  }
  q.wake.notify_one();
}

bool isRenderThread() {
  RenderQueue& q = queue();
  std::lock_guard lock(q.mutex);
  return q.id == std::this_thread::get_id();
}

}  // namespace diagramkit
