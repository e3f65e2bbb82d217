#include "platform/foundation/dispatcher.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/foundation/log.h"
#include "platform/foundation/worker_threads.h"

namespace foundation {
namespace {

struct MainQueue {
  std::mutex mutex;
  std::condition_variable posted;
  std::deque<Task> tasks;
  std::function<void()> wake;
  bool wakePending = false;
  std::atomic<std::thread::id> mainThread{};
};

MainQueue& mainQueue() {
  static auto* q = new MainQueue();  // outlives every static user
  return *q;
}

void runGuarded(Task& t, const char* where) {
  try {
    t();
  } catch (const std::exception& e) {
    log(LogLevel::Error, "dispatch", std::string("task threw on ") + where + ": " + e.what());
  } catch (...) {
    log(LogLevel::Error, "dispatch", std::string("task threw on ") + where);
  }
}

// The background threads are services of the worker registry: at the end of the process they
// finish the task they run and return; tasks still queued then are left undone.
class Pool {
 public:
  Pool() {
    unsigned n = std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
    for (unsigned i = 0; i < n; ++i) {
      if (WorkerThreads::startService("background", [this] { work(); }, [this] { stop(); })) ++threads_;
    }
  }
  void post(Task t) {
    {
      std::lock_guard lock(mutex_);
      if (!stopping_ && threads_ > 0) {
        tasks_.push_back(std::move(t));
        t = nullptr;
      }
    }
    if (t) {
      log(LogLevel::Warning, "dispatch", "no background thread runs: a task is dropped");
      return;
    }
    cv_.notify_one();
  }
  bool waitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, timeout, [&] { return tasks_.empty() && running_ == 0; });
  }

 private:
  void stop() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    cv_.notify_all();
  }
  void work() {
    for (;;) {
      Task t;
      {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
        if (stopping_) return;
        t = std::move(tasks_.front());
        tasks_.pop_front();
        ++running_;
      }
      runGuarded(t, "a background queue");
      t = nullptr;
      {
        std::lock_guard lock(mutex_);
        --running_;
        if (tasks_.empty() && running_ == 0) idle_.notify_all();
      }
    }
  }
  std::mutex mutex_;
  std::condition_variable cv_;
  std::condition_variable idle_;
  std::deque<Task> tasks_;
  int running_ = 0;
  unsigned threads_ = 0;  // set before the first post
  bool stopping_ = false;
};

Pool& pool() {
  static auto* p = new Pool();  // never destroyed: a stopped worker may still be leaving it
  return *p;
}

}  // namespace

void Dispatcher::postMain(Task task) {
  auto& q = mainQueue();
  std::function<void()> wake;
  {
    std::lock_guard lock(q.mutex);
    q.tasks.push_back(std::move(task));
    if (q.wake && !q.wakePending) {
      q.wakePending = true;
      wake = q.wake;
    }
  }
  q.posted.notify_all();
  if (wake) wake();
}

void Dispatcher::bindMainExecutor(std::function<void()> wake) {
  auto& q = mainQueue();
  std::function<void()> now;
  {
    std::lock_guard lock(q.mutex);
    q.wake = std::move(wake);
    q.wakePending = false;
    q.mainThread = std::this_thread::get_id();
    if (q.wake && !q.tasks.empty()) {
      q.wakePending = true;
      now = q.wake;
    }
  }
  if (now) now();
}

std::size_t Dispatcher::drainMain() {
  auto& q = mainQueue();
  q.mainThread = std::this_thread::get_id();
  std::size_t ran = 0;
  for (;;) {
    Task t;
    {
      std::lock_guard lock(q.mutex);
      if (q.tasks.empty()) {
        q.wakePending = false;
        return ran;
      }
      t = std::move(q.tasks.front());
      q.tasks.pop_front();
    }
    runGuarded(t, "the main queue");
    ++ran;
  }
}

bool Dispatcher::runMainUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  auto& q = mainQueue();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    drainMain();
    if (done()) return true;
    std::unique_lock lock(q.mutex);
    if (q.tasks.empty()) {
      if (q.posted.wait_until(lock, deadline) == std::cv_status::timeout && q.tasks.empty()) {
        lock.unlock();
        drainMain();
        return done();
      }
    }
  }
}

bool Dispatcher::isMainThread() { return mainQueue().mainThread.load() == std::this_thread::get_id(); }

void Dispatcher::postBackground(Task task) { pool().post(std::move(task)); }

bool Dispatcher::waitBackgroundIdle(std::chrono::milliseconds timeout) { return pool().waitIdle(timeout); }

}  // namespace foundation
