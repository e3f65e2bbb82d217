#pragma once
// The threads the conversions run on: one worker thread of its own for each conversion, kept so
// that a caller (a test) can wait until every one has ended.

#include <chrono>
#include <functional>

namespace revengekit {

// Runs `work` on a new thread; false (and `work` not run) when no thread can be made.
bool runConversionThread(std::function<void()> work);
// Waits until every conversion thread has ended (joined), or `timeout` passes; answers whether
// none runs.
bool waitConversionThreadsIdle(std::chrono::milliseconds timeout);

}  // namespace revengekit
