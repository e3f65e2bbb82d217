#pragma once
// The threads the conversions run on: one thread of its own for each conversion, counted so
// that a caller (quit, a test) can wait until every one has finished.

#include <chrono>
#include <functional>

namespace revengekit {

// Runs `work` on a new thread; false (and `work` not run) when no thread can be made.
bool runConversionThread(std::function<void()> work);
// Waits until no conversion thread is running, or `timeout` passes; answers whether none runs.
bool waitConversionThreadsIdle(std::chrono::milliseconds timeout);

}  // namespace revengekit
