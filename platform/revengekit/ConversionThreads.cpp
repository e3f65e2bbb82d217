#include "platform/revengekit/ConversionThreads.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace revengekit {

namespace {
std::mutex& mutex() {
  static std::mutex m;
  return m;
}
std::condition_variable& idle() {
  static std::condition_variable cv;
  return cv;
}
int running = 0;
}  // namespace

bool runConversionThread(std::function<void()> work) {
  {
    std::lock_guard lock(mutex());
    ++running;
  }
  try {
    std::thread([work = std::move(work)]() mutable {
      work();
      work = nullptr;  // whatever the work held goes before the thread counts as finished
      std::lock_guard lock(mutex());
      if (--running == 0) idle().notify_all();
    }).detach();
    return true;
  } catch (const std::system_error&) {
    std::lock_guard lock(mutex());
    if (--running == 0) idle().notify_all();
    return false;
  }
}

bool waitConversionThreadsIdle(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex());
  return idle().wait_for(lock, timeout, [] { return running == 0; });
}

}  // namespace revengekit
