#pragma once
// An import delegate that keeps what it hears: the starts, the progress and the end.

#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "core/DocumentModul.h"

namespace testsupport {

struct ImportRecorder : ImportProgressDelegate {
  std::mutex mutex;
  std::condition_variable cv;
  int starts = 0;
  int ends = 0;
  bool success = false;
  QString error;
  std::vector<double> progress;

  void ImportProgressDelegate_start(ImportInterface*) override {
    std::lock_guard l(mutex);
    ++starts;
  }
  void ImportProgressDelegate_Progress(double p, ImportInterface*) override {
    std::lock_guard l(mutex);
    progress.push_back(p);
  }
  void ImportProgressDelegate_end(bool ok, ImportInterface*, const QString& e) override {
    std::lock_guard l(mutex);
    ++ends;
    success = ok;
    error = e;
    cv.notify_all();
  }
  int endCount() {
    std::lock_guard l(mutex);
    return ends;
  }
  // Waits for an end on another thread; NO on timeout.
  bool waitEnd(std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    std::unique_lock l(mutex);
    return cv.wait_for(l, timeout, [&] { return ends > 0; });
  }
};

}  // namespace testsupport
