#include "platform/foundation/worker_threads.h"

#include <pthread.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <list>
#include <system_error>

#include "platform/foundation/log.h"

namespace foundation {
namespace {

constexpr const char* kCategory = "threads";
// How long exit() waits for workers a program left running.
constexpr std::chrono::seconds kExitWait{5};

struct Registry {
  std::mutex mutex;
  std::condition_variable changed;
  std::list<std::shared_ptr<Worker>> workers;  // started and not yet joined
  bool closed = false;
  bool exitGuard = false;
};

Registry& registry() {
  static auto* r = new Registry();  // outlives every worker and every static user
  return *r;
}

void exitGuard(int status, void*) {
  if (WorkerThreads::names().empty()) return;
  WorkerThreads::endProcess(status, kExitWait);
}

void nameThread(const std::string& name) {
  ::pthread_setname_np(::pthread_self(), name.substr(0, 15).c_str());
}

}  // namespace

Worker::Worker(std::string name, Task stop) : name_(std::move(name)), stop_(std::move(stop)), service_(bool(stop_)) {}

Worker::~Worker() {
  // Only a joined worker or one whose thread was never made goes; never take the process down.
  if (thread_.joinable()) thread_.detach();
}

bool Worker::isCurrent() const {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  return id_ == std::this_thread::get_id();
}

void Worker::join() {
  Registry& r = registry();
  std::unique_lock lock(r.mutex);
  if (id_ == std::this_thread::get_id()) return;
  for (;;) {
    if (state_ == State::Joined) return;
    if (state_ == State::Returned) break;
    r.changed.wait(lock);
  }
  state_ = State::Joining;
  std::thread thread = std::move(thread_);
  lock.unlock();
  if (thread.joinable()) thread.join();
  lock.lock();
  state_ = State::Joined;
  r.workers.remove_if([this](const std::shared_ptr<Worker>& w) { return w.get() == this; });
  r.changed.notify_all();
}

bool Worker::join(std::chrono::milliseconds timeout) {
  Registry& r = registry();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  {
    std::unique_lock lock(r.mutex);
    if (id_ == std::this_thread::get_id()) return false;
    const bool ready = r.changed.wait_until(lock, deadline, [this] { return state_ != State::Running; });
    if (!ready) return false;
    if (state_ == State::Joining) {
      r.changed.wait_until(lock, deadline, [this] { return state_ == State::Joined; });
      return state_ == State::Joined;
    }
    if (state_ == State::Joined) return true;
  }
  join();  // returned: the thread is ending now
  return true;
}

// Joins the workers that have returned, and waits until `deadline` for those another caller is
// joining. Workers still running are left alone.
void WorkerThreads::joinReturned(std::chrono::steady_clock::time_point deadline) {
  Registry& r = registry();
  std::vector<std::shared_ptr<Worker>> ended;
  {
    std::lock_guard lock(r.mutex);
    for (const auto& w : r.workers) {
      if (w->state_ == Worker::State::Returned || w->state_ == Worker::State::Joining) ended.push_back(w);
    }
  }
  for (const auto& w : ended) {
    const auto left = std::max(std::chrono::steady_clock::duration::zero(), deadline - std::chrono::steady_clock::now());
    w->join(std::chrono::duration_cast<std::chrono::milliseconds>(left));
  }
}

std::shared_ptr<Worker> WorkerThreads::start(std::string name, Task work) {
  return startService(std::move(name), std::move(work), nullptr);
}

std::shared_ptr<Worker> WorkerThreads::startService(std::string name, Task loop, Task stop) {
  Registry& r = registry();
  joinReturned(std::chrono::steady_clock::now());  // what has returned since the last start
  std::shared_ptr<Worker> worker(new Worker(std::move(name), std::move(stop)));
  {
    std::lock_guard lock(r.mutex);
    if (r.closed) {
      log(LogLevel::Info, kCategory, "the process is ending: no thread for " + worker->name_);
      return nullptr;
    }
    Worker* w = worker.get();
    try {
      worker->thread_ = std::thread([w, loop = std::move(loop)]() mutable {
        nameThread(w->name_);
        try {
          loop();
        } catch (const std::exception& e) {
          log(LogLevel::Error, kCategory, w->name_ + " stopped by an exception: " + e.what());
        } catch (...) {
          log(LogLevel::Error, kCategory, w->name_ + " stopped by an exception");
        }
        loop = nullptr;  // what the work held goes before the worker counts as returned
        {
          std::lock_guard stopLock(w->stopMutex_);
          w->stop_ = nullptr;
        }
        Registry& reg = registry();
        std::lock_guard done(reg.mutex);
        w->state_ = Worker::State::Returned;
        reg.changed.notify_all();
      });
    } catch (const std::system_error& e) {
      log(LogLevel::Error, kCategory, "cannot start a thread for " + worker->name_ + ": " + e.what());
      return nullptr;
    }
    worker->id_ = worker->thread_.get_id();
    r.workers.push_back(worker);
    if (!r.exitGuard) r.exitGuard = ::on_exit(exitGuard, nullptr) == 0;
  }
  return worker;
}

std::size_t WorkerThreads::runningTasks() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  return static_cast<std::size_t>(std::count_if(r.workers.begin(), r.workers.end(), [](const auto& w) {
    return !w->service_ && w->state_ == Worker::State::Running;
  }));
}

bool WorkerThreads::waitIdle(std::chrono::milliseconds timeout) {
  Registry& r = registry();
  const auto me = std::this_thread::get_id();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool idle;
  {
    std::unique_lock lock(r.mutex);
    idle = r.changed.wait_until(lock, deadline, [&] {
      return std::none_of(r.workers.begin(), r.workers.end(), [&](const auto& w) {
        return !w->service_ && w->state_ == Worker::State::Running && w->id_ != me;
      });
    });
  }
  joinReturned(deadline);
  return idle;
}

bool WorkerThreads::shutdown(std::chrono::milliseconds timeout) {
  Registry& r = registry();
  const auto me = std::this_thread::get_id();
  std::vector<std::shared_ptr<Worker>> services;
  {
    std::lock_guard lock(r.mutex);
    r.closed = true;
    for (const auto& w : r.workers) {
      if (w->service_) services.push_back(w);
    }
  }
  for (const auto& w : services) {
    std::lock_guard stopLock(w->stopMutex_);
    if (w->stop_) w->stop_();
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool ended;
  {
    std::unique_lock lock(r.mutex);
    ended = r.changed.wait_until(lock, deadline, [&] {
      return std::none_of(r.workers.begin(), r.workers.end(),
                          [&](const auto& w) { return w->state_ == Worker::State::Running && w->id_ != me; });
    });
  }
  joinReturned(deadline);
  return ended;
}

bool WorkerThreads::isShutDown() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  return r.closed;
}

std::vector<std::string> WorkerThreads::names() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  std::vector<std::string> names;
  for (const auto& w : r.workers) names.push_back(w->name_);
  return names;
}

int WorkerThreads::endProcess(int status, std::chrono::milliseconds timeout) {
  if (shutdown(timeout)) return status;
  std::string left;
  const auto me = std::this_thread::get_id();
  {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (const auto& w : r.workers) {
      if (w->id_ == me || w->state_ != Worker::State::Running) continue;
      left += (left.empty() ? "" : ", ") + w->name_;
    }
  }
  log(LogLevel::Warning, kCategory, "leaving with threads still running (" + left + ")");
  std::fflush(nullptr);
  ::_exit(status);
}

}  // namespace foundation
