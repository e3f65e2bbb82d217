#pragma once
// The worker threads of the process. Every thread that a library or the application starts for
// background work is made here, so that all of them can be joined before the process ends: a
// thread still running while `main` returns meets the static destructors (Qt's among them) and
// crashes the process.
//
// - A task runs one piece of work and ends (a conversion, a load, an export).
// - A service (started with a `stop` function) runs until it is asked to stop: a pool, a queue.
// - Whoever holds a worker may join it; the registry joins the rest: those that have returned
//   when the next worker starts, and all of them in waitIdle() and shutdown().
// - The end of the process: shutdown() refuses new workers, stops the services and joins every
//   worker that ends within the time given; endProcess() does that and, when one still runs,
//   ends the process at once (_exit) so that no destructor runs beneath it. A program calls
//   endProcess() before its application object goes. As a last guard, exit() does the same
//   when workers are left.
//
// A forked child must exec before it uses the registry.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/dispatcher.h"
#include "platform/foundation/export.h"

namespace foundation {

class FOUNDATION_EXPORT Worker {
 public:
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  ~Worker();

  // Waits until the work has returned and the thread has ended. Returns at once on the
  // worker's own thread (the registry joins it later).
  void join();
  // The same within `timeout`; false when the work still runs then.
  bool join(std::chrono::milliseconds timeout);
  // Yes on the worker's own thread.
  bool isCurrent() const;
  const std::string& name() const { return name_; }

 private:
  friend class WorkerThreads;
  enum class State { Running, Returned, Joining, Joined };
  Worker(std::string name, Task stop);

  const std::string name_;
  std::thread thread_;                 // guarded by the registry's mutex
  State state_ = State::Running;       // guarded by the registry's mutex
  std::thread::id id_;                 // guarded by the registry's mutex
  std::mutex stopMutex_;
  Task stop_;                          // a service's stop, until its work has returned
  const bool service_;
};

class FOUNDATION_EXPORT WorkerThreads {
 public:
  // Runs `work` on a new thread named `name` (at most 15 bytes are shown). Null, and `work`
  // not run, when no thread can be made or after shutdown(). Exceptions leaving `work` are
  // logged. Whatever `work` holds is released on the worker before it counts as returned.
  static std::shared_ptr<Worker> start(std::string name, Task work);
  // A service: `loop` runs until `stop` (called from another thread, at most while `loop`
  // runs) makes it return. waitIdle() does not wait for services.
  static std::shared_ptr<Worker> startService(std::string name, Task loop, Task stop);

  // Tasks whose work has not returned.
  static std::size_t runningTasks();
  // Waits up to `timeout` until no task runs (but the caller's own), and joins every worker
  // that has returned. Answers whether no task runs.
  static bool waitIdle(std::chrono::milliseconds timeout);

  // Refuses new workers from now on, stops the services and waits up to `timeout` for every
  // worker (but the caller's own), joining them. Answers whether all of them ended.
  static bool shutdown(std::chrono::milliseconds timeout);
  static bool isShutDown();
  // shutdown(timeout), then `status` when every worker ended; otherwise logs which still run,
  // flushes the standard streams and ends the process with `status` at once, without running
  // static destructors. Write settings and records before calling it.
  static int endProcess(int status, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // The names of the workers not yet joined.
  static std::vector<std::string> names();

 private:
  static void joinReturned(std::chrono::steady_clock::time_point deadline);
};

}  // namespace foundation
