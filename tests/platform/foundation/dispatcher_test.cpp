#include "platform/foundation/dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using foundation::Dispatcher;
using namespace std::chrono_literals;

TEST(Dispatcher, MainQueueRunsInPostingOrderOnTheDrainingThread) {
  Dispatcher::drainMain();
  std::vector<int> order;
  for (int i = 0; i < 100; ++i) {
    Dispatcher::postMain([&order, i] {
      order.push_back(i);
      if (i == 0) Dispatcher::postMain([&order] { order.push_back(1000); });
    });
  }
  EXPECT_EQ(Dispatcher::drainMain(), 101u);
  ASSERT_EQ(order.size(), 101u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
  EXPECT_EQ(order.back(), 1000);
  EXPECT_TRUE(Dispatcher::isMainThread());
}

TEST(Dispatcher, PostsFromOneWorkerKeepTheirOrder) {
  Dispatcher::drainMain();
  std::vector<int> order;
  std::thread worker([&] {
    EXPECT_FALSE(Dispatcher::isMainThread());
    for (int i = 0; i < 500; ++i) Dispatcher::postMain([&order, i] { order.push_back(i); });
  });
  worker.join();
  Dispatcher::drainMain();
  ASSERT_EQ(order.size(), 500u);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(order[i], i);
}

TEST(Dispatcher, RunMainUntilWaitsForBackgroundWork) {
  std::atomic<bool> ranOnMain{false};
  bool done = false;
  Dispatcher::postBackground([&] {
    std::this_thread::sleep_for(20ms);
    Dispatcher::postMain([&] {
      ranOnMain = Dispatcher::isMainThread();
      done = true;
    });
  });
  EXPECT_TRUE(Dispatcher::runMainUntil([&] { return done; }, 5s));
  EXPECT_TRUE(ranOnMain);
  EXPECT_FALSE(Dispatcher::runMainUntil([] { return false; }, 10ms));
}

TEST(Dispatcher, BoundExecutorIsWokenOncePerBatch) {
  std::atomic<int> wakes{0};
  Dispatcher::bindMainExecutor([&] { ++wakes; });
  int ran = 0;
  Dispatcher::postMain([&] { ++ran; });
  Dispatcher::postMain([&] { ++ran; });
  EXPECT_EQ(wakes.load(), 1);
  Dispatcher::drainMain();
  EXPECT_EQ(ran, 2);
  Dispatcher::postMain([&] { ++ran; });
  EXPECT_EQ(wakes.load(), 2);
  Dispatcher::bindMainExecutor(nullptr);
  Dispatcher::drainMain();
  EXPECT_EQ(ran, 3);
}

TEST(Dispatcher, ThrowingTaskDoesNotStopTheQueue) {
  int ran = 0;
  Dispatcher::postMain([] { throw std::runtime_error("boom"); });
  Dispatcher::postMain([&] { ++ran; });
  Dispatcher::drainMain();
  EXPECT_EQ(ran, 1);
  std::atomic<int> bg{0};
  for (int i = 0; i < 50; ++i) Dispatcher::postBackground([&] { ++bg; });
  EXPECT_TRUE(Dispatcher::waitBackgroundIdle(5s));
  EXPECT_EQ(bg.load(), 50);
}
