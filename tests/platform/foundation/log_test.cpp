#include "platform/foundation/log.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace foundation;

TEST(Log, CaptureCollectsFromAllThreadsAndRestores) {
  {
    ScopedLogCapture outer;
    {
      ScopedLogCapture capture;
      std::vector<std::thread> ts;
      for (int i = 0; i < 4; ++i) {
        ts.emplace_back([i] { log(LogLevel::Warning, "test", "line " + std::to_string(i)); });
      }
      for (auto& t : ts) t.join();
      EXPECT_EQ(capture.records().size(), 4u);
      EXPECT_TRUE(capture.contains("line 3"));
      EXPECT_FALSE(capture.contains("absent"));
    }
    log(LogLevel::Info, "test", "after inner");
    ASSERT_EQ(outer.records().size(), 1u);
    EXPECT_EQ(outer.records()[0].category, "test");
    EXPECT_EQ(outer.records()[0].level, LogLevel::Info);
  }
}
