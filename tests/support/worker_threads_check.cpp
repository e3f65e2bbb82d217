// Linked into every test binary: after the last test, every worker thread the tests started
// must end (and is joined) before main returns, so that none runs while the application object
// and the statics go.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/foundation/worker_threads.h"

namespace {

class WorkerThreadsEnd : public ::testing::Environment {
 public:
  void TearDown() override {
    if (foundation::WorkerThreads::shutdown(std::chrono::minutes(2))) return;
    std::string names;
    for (const auto& name : foundation::WorkerThreads::names()) names += " " + name;
    ADD_FAILURE() << "worker threads still run after the tests:" << names;
  }
};

[[maybe_unused]] ::testing::Environment* const kRegistered = ::testing::AddGlobalTestEnvironment(new WorkerThreadsEnd);

}  // namespace
