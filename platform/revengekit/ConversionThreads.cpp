#include "platform/revengekit/ConversionThreads.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/foundation/worker_threads.h"

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define REVENGEKIT_NO_EVENT_DISPATCHER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define REVENGEKIT_NO_EVENT_DISPATCHER 1
#endif

namespace revengekit {

namespace {

struct Threads {
  std::mutex mutex;
  std::vector<std::shared_ptr<foundation::Worker>> workers;  // started, not yet joined here
};

Threads& threads() {
  static auto* t = new Threads;  // outlives every conversion thread
  return *t;
}

// The text layout of a conversion's documents starts timers, which need an event dispatcher on
// the thread; making an event loop gives the thread one (it is never run: the printer finishes
// every layout itself). Under ThreadSanitizer, which does not see into Qt, the dispatcher's
// set-up reads as races: there Qt only warns that the timers cannot start.
void prepareThread() {
#ifndef REVENGEKIT_NO_EVENT_DISPATCHER
  if (QCoreApplication::instance()) QEventLoop ensureDispatcher;
#endif
}

}  // namespace

bool runConversionThread(std::function<void()> work) {
  auto worker = foundation::WorkerThreads::start("conversion", [work = std::move(work)]() mutable {
    prepareThread();
    work();
  });
  if (!worker) return false;
  Threads& t = threads();
  std::lock_guard lock(t.mutex);
  std::erase_if(t.workers, [](const auto& w) { return w->join(std::chrono::milliseconds(0)); });
  t.workers.push_back(std::move(worker));
  return true;
}

bool waitConversionThreadsIdle(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  Threads& t = threads();
  std::vector<std::shared_ptr<foundation::Worker>> workers;
  {
    std::lock_guard lock(t.mutex);
    workers.swap(t.workers);
  }
  std::vector<std::shared_ptr<foundation::Worker>> running;
  for (auto& w : workers) {
    const auto left = std::max(std::chrono::steady_clock::duration::zero(), deadline - std::chrono::steady_clock::now());
    if (!w->join(std::chrono::duration_cast<std::chrono::milliseconds>(left))) running.push_back(std::move(w));
  }
  if (running.empty()) return true;
  std::lock_guard lock(t.mutex);
  t.workers.insert(t.workers.end(), running.begin(), running.end());
  return false;
}

}  // namespace revengekit
