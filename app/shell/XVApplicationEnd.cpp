#include "shell/XVApplicationEnd.h"

#include <QSettings>

#include <algorithm>

#include "core/XVBaseFunction.h"
#include "platform/foundation/worker_threads.h"
#include "shell/XVDocumentLoadManager.h"

namespace {

std::chrono::milliseconds until(std::chrono::steady_clock::time_point deadline) {
  const auto left = deadline - std::chrono::steady_clock::now();
  return std::max(std::chrono::milliseconds(0), std::chrono::duration_cast<std::chrono::milliseconds>(left));
}

}  // namespace

int XVEndApplication(int status, std::chrono::steady_clock::time_point deadline) {
  XVDocumentLoadManager::StopSharedDocumentLoadManager(until(deadline));
  const bool ended = foundation::WorkerThreads::shutdown(until(deadline));
  // With a worker still running, nothing it may use is destroyed.
  if (ended) XVBaseFunction::releaseAppEndObjects();
  XVBaseFunction::userDefaults()->sync();
  if (!ended) foundation::WorkerThreads::endProcess(status, std::chrono::milliseconds(0));
  return status;
}
