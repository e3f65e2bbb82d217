#include "platform/foundation/notification_center.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using foundation::Notification;
using foundation::NotificationCenter;
using foundation::ObserverToken;

TEST(NotificationCenter, FiltersByNameAndSender) {
  NotificationCenter center;
  int a = 0, b = 0;
  int senderA = 0, senderB = 0;
  std::vector<std::string> all;
  auto t1 = center.addObserver("X", [&](const Notification&) { ++a; });
  auto t2 = center.addObserver("X", &senderA, [&](const Notification&) { ++b; });
  auto t3 = center.addObserver("", [&](const Notification& n) { all.push_back(n.name); });
  center.post("X", &senderB);
  center.post("X", &senderA, {{"N", 7}});
  center.post("Y");
  EXPECT_EQ(a, 2);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(all, (std::vector<std::string>{"X", "X", "Y"}));
}

TEST(NotificationCenter, CarriesUserInfoOnThePostingThread) {
  NotificationCenter center;
  std::thread::id seen;
  int value = 0;
  auto t = center.addObserver("N", [&](const Notification& n) {
    seen = std::this_thread::get_id();
    if (const int* v = n.value<int>("count")) value = *v;
    EXPECT_EQ(n.value<std::string>("count"), nullptr);
  });
  std::thread th([&] { center.post("N", nullptr, {{"count", 42}}); });
  const auto id = th.get_id();
  th.join();
  EXPECT_EQ(seen, id);
  EXPECT_EQ(value, 42);
}

TEST(NotificationCenter, ResetStopsDeliveryAndObserverMayRemoveItselfAndPost) {
  NotificationCenter center;
  int calls = 0;
  ObserverToken token;
  token = center.addObserver("N", [&](const Notification&) {
    ++calls;
    token.reset();        // from inside the observer: no deadlock
    center.post("Other");  // no lock is held while observers run
  });
  center.post("N");
  center.post("N");
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(token);
}

TEST(NotificationCenter, ManyThreadsPostWhileObserversComeAndGo) {
  NotificationCenter center;
  std::atomic<int> stable{0};
  auto keep = center.addObserver("N", [&](const Notification&) { ++stable; });
  std::atomic<bool> stop{false};
  std::atomic<int> afterReset{0};
  std::thread churn([&] {
    while (!stop) {
      std::atomic<bool> removed{false};
      auto t = center.addObserver("N", [&](const Notification&) {
        if (removed) ++afterReset;
      });
      t.reset();
      removed = true;
    }
  });
  constexpr int kThreads = 8, kPosts = 2000;
  std::vector<std::thread> posters;
  for (int i = 0; i < kThreads; ++i) {
    posters.emplace_back([&] {
      for (int j = 0; j < kPosts; ++j) center.post("N");
    });
  }
  for (auto& p : posters) p.join();
  stop = true;
  churn.join();
  EXPECT_EQ(stable.load(), kThreads * kPosts);
  EXPECT_EQ(afterReset.load(), 0);
}

TEST(NotificationCenter, TokenOutlivingCenterIsHarmless) {
  ObserverToken token;
  {
    NotificationCenter center;
    token = center.addObserver("N", [](const Notification&) {});
  }
  token.reset();
  SUCCEED();
}
