#include "diagramkit/engine/RenderThread.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <memory>

#include "platform/foundation/log.h"
#include "platform/foundation/worker_threads.h"

namespace diagramkit {

namespace {

struct RenderQueue {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::function<void()>> tasks;
  std::shared_ptr<foundation::Worker> worker;
  bool accepting = false;  // the thread runs and has not been asked to stop

  // Runs the tasks until asked to stop, then those already queued: every accepted task runs.
  void run() {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock lock(mutex);
        wake.wait(lock, [&] { return !tasks.empty() || !accepting; });
        if (tasks.empty()) return;
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
  void stop() {
    std::lock_guard lock(mutex);
    accepting = false;
    wake.notify_all();
  }
};

// Made once and never destroyed: the thread may still be leaving it while the process exits.
RenderQueue& queue() {
  static RenderQueue* q = [] {
    auto* made = new RenderQueue();
    std::lock_guard lock(made->mutex);
    made->worker = foundation::WorkerThreads::startService("render", [made] { made->run(); }, [made] { made->stop(); });
    made->accepting = made->worker != nullptr;
    return made;
  }();
  return *q;
}

}  // namespace

bool postRender(std::function<void()> task) {
  RenderQueue& q = queue();
  {
    std::lock_guard lock(q.mutex);
    if (!q.accepting) return false;
    q.tasks.push_back(std::move(task));
  }
  q.wake.notify_one();
  return true;
}

bool isRenderThread() {
  RenderQueue& q = queue();
  std::shared_ptr<foundation::Worker> worker;
  {
    std::lock_guard lock(q.mutex);
    worker = q.worker;
  }
  return worker && worker->isCurrent();
}

}  // namespace diagramkit
