#include "platform/foundation/worker_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include <unistd.h>

#include "platform/foundation/dispatcher.h"

using foundation::WorkerThreads;
using namespace std::chrono_literals;

namespace {

// Set by the destructor of a worker's thread-local object, which runs as the thread ends,
// after its work has returned.
std::atomic<int> threadsEnded{0};
struct EndsSlowly {
  ~EndsSlowly() {
    std::this_thread::sleep_for(50ms);
    ++threadsEnded;
  }
};
thread_local EndsSlowly* touch = nullptr;

void workThatEndsSlowly() {
  static thread_local EndsSlowly ending;
  touch = &ending;
}

}  // namespace

TEST(WorkerThreads, EveryWayOfWaitingWaitsUntilTheThreadHasEnded) {
  struct Case {
    const char* how;
    std::function<bool(foundation::Worker&)> wait;
  };
  const Case cases[] = {
      {"join", [](foundation::Worker& w) { return w.join(), true; }},
      {"join within a time", [](foundation::Worker& w) { return w.join(10s); }},
      {"wait until idle", [](foundation::Worker&) { return WorkerThreads::waitIdle(10s); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    const int before = threadsEnded;
    auto worker = WorkerThreads::start("ends slowly", workThatEndsSlowly);
    ASSERT_NE(worker, nullptr);
    EXPECT_TRUE(c.wait(*worker));
    EXPECT_EQ(threadsEnded, before + 1);
  }
}

TEST(WorkerThreads, AJoinWithinATimeAnswersNoWhileTheWorkRuns) {
  std::mutex mutex;
  std::condition_variable cv;
  bool release = false;
  auto worker = WorkerThreads::start("held", [&] {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return release; });
  });
  ASSERT_NE(worker, nullptr);
  EXPECT_FALSE(worker->join(20ms));
  EXPECT_FALSE(WorkerThreads::waitIdle(20ms));
  EXPECT_GE(WorkerThreads::runningTasks(), 1u);
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  cv.notify_all();
  EXPECT_TRUE(worker->join(10s));
}

TEST(WorkerThreads, AWorkerThatLetsGoOfItsOwnHandleIsJoinedByTheRegistry) {
  // The last holder of a converter is often its own conversion: its join must not wait for
  // itself, and the thread is still joined.
  auto holder = std::make_shared<std::shared_ptr<foundation::Worker>>();
  std::mutex mutex;
  std::unique_lock started(mutex);
  *holder = WorkerThreads::start("own handle", [holder, &mutex] {
    std::lock_guard lock(mutex);  // until the handle is stored
    auto self = std::move(*holder);
    EXPECT_TRUE(self->isCurrent());
    self->join();  // returns at once on the worker itself
  });
  ASSERT_NE(*holder, nullptr);
  started.unlock();
  EXPECT_TRUE(WorkerThreads::waitIdle(10s));
}

TEST(WorkerThreads, AnExceptionLeavingTheWorkEndsOnlyThatWorker) {
  auto worker = WorkerThreads::start("throws", [] { throw std::runtime_error("no"); });
  ASSERT_NE(worker, nullptr);
  EXPECT_TRUE(worker->join(10s));
}

// The end of the process, each in a process of its own (the registry stays shut afterwards).
class WorkerThreadsEnd : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(WorkerThreadsEnd, ShutdownStopsTheServicesRefusesNewWorkersAndDropsLaterBackgroundTasks) {
  EXPECT_EXIT(
      {
        std::mutex mutex;
        std::condition_variable cv;
        bool stop = false;
        auto service = WorkerThreads::startService(
            "service",
            [&] {
              std::unique_lock lock(mutex);
              cv.wait(lock, [&] { return stop; });
            },
            [&] {
              std::lock_guard lock(mutex);
              stop = true;
              cv.notify_all();
            });
        std::atomic<bool> background{false};
        foundation::Dispatcher::postBackground([&] { background = true; });
        const bool idle = WorkerThreads::waitIdle(10s) && foundation::Dispatcher::waitBackgroundIdle(10s);
        const bool ended = WorkerThreads::shutdown(10s);
        const bool refused = WorkerThreads::start("late", [] {}) == nullptr;
        std::atomic<bool> late{false};
        foundation::Dispatcher::postBackground([&] { late = true; });
        std::this_thread::sleep_for(50ms);
        const bool ok = service && idle && background && ended && refused && !late && WorkerThreads::names().empty();
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(WorkerThreadsEnd, AWorkerThatOutlivesTheWaitEndsTheProcessWithItsStatusAndNoDestructors) {
  EXPECT_EXIT(
      {
        WorkerThreads::start("never ends", [] {
          for (;;) std::this_thread::sleep_for(1s);
        });
        // What exit() would run ends the process another way.
        std::atexit([] { std::_Exit(99); });
        std::exit(WorkerThreads::endProcess(7, 50ms));
      },
      ::testing::ExitedWithCode(7), "");
}

// A file named after the test process (the death test's parent).
std::filesystem::path doneFile(pid_t testProcess) {
  return std::filesystem::temp_directory_path() / ("lectern-worker-exit-" + std::to_string(testProcess));
}

TEST_F(WorkerThreadsEnd, ExitWaitsForTheWorkersAProgramLeftRunning) {
  const std::filesystem::path done = doneFile(::getpid());
  std::filesystem::remove(done);
  EXPECT_EXIT(
      {
        WorkerThreads::start("finishing", [done = doneFile(::getppid())] {
          std::this_thread::sleep_for(200ms);
          std::ofstream(done) << "written";
        });
        std::exit(3);
      },
      ::testing::ExitedWithCode(3), "");
  EXPECT_TRUE(std::filesystem::exists(done));
  std::filesystem::remove(done);
}
