#include "platform/foundation/log.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/stderr_capture.h"

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

TEST(Log, StderrShowsDebugLinesOnlyInADebugBuildAndASinkGetsThemAll) {
#ifdef NDEBUG
  EXPECT_FALSE(printsDebugLines());
#else
  EXPECT_TRUE(printsDebugLines());
#endif
  std::string printed;
  {
    testsupport::StderrCapture err;
    log(LogLevel::Debug, "test", "a match at /some/cache/path");
    log(LogLevel::Warning, "test", "kept");
    printed = err.text();
  }
  EXPECT_EQ(printed.find("[debug] test: a match") != std::string::npos, printsDebugLines()) << printed;
  EXPECT_NE(printed.find("[warning] test: kept"), std::string::npos) << printed;

  ScopedLogCapture capture;
  log(LogLevel::Debug, "test", "a match");
  ASSERT_EQ(capture.records().size(), 1u);
  EXPECT_EQ(capture.records()[0].level, LogLevel::Debug);
}
