#pragma once
// What the export workers share: one run at a time on a worker thread of its own, a cancel
// flag read before each page, the error of the last run, and a wait for the run's end.
//
// `Derived` derives from enable_shared_from_this<Derived> too and gives:
//   void clearResults();  // called with `mutex_` held, before a run starts
//   void threadBody(const std::unique_ptr<Run>&, const std::shared_ptr<Delegate>&);  // the run
// `Run` has a `QString refusal` and a `bool noSource`.

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "core/XVErrorTexts.h"
#include "platform/foundation/log.h"
#include "platform/foundation/worker_threads.h"

template <class Derived, class Run, class Source, class Delegate>
class XVExportWorker {
 public:
  XVExportWorker(const XVExportWorker&) = delete;
  XVExportWorker& operator=(const XVExportWorker&) = delete;

  // Starts a run that reports its start and then ends with NO and `reason`, reading no page.
  void startRefusing(const QString& reason) {
    if (!claim()) return;
    auto run = std::make_unique<Run>();
    run->refusal = reason.isEmpty() ? XVErrorText::conversionFailed() : reason;
    begin(std::move(run));
  }
  // Ends the running run with NO before its next page; also when it comes before the thread
  // has begun.
  void cancel() { cancelled_ = true; }
  // Waits until the current run (if any) has sent its end and let go of its source and
  // delegate; answers NO on timeout.
  bool waitUntilEnded(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return endedCondition_.wait_for(lock, timeout, [this] { return !running_; });
  }
  // Why the last run failed (empty after a success or a cancel).
  QString errorInfo() const {
    std::lock_guard lock(mutex_);
    return errorInfo_;
  }

 protected:
  explicit XVExportWorker(const char* logArea) : logArea_(logArea) {}
  ~XVExportWorker() = default;

  static QString fdPath(int fd) { return QStringLiteral("/proc/self/fd/%1").arg(fd); }
  // The percentage done once page `i` of `n` is through.
  static double progressAfter(quint64 i, quint64 n) {
    const float p = static_cast<float>(i + 1) * 100.0f / static_cast<float>(n);
    return static_cast<double>(p);
  }

  // Takes the worker for a new run; NO while one is going.
  bool claim() {
    {
      std::lock_guard lock(mutex_);
      if (running_) return false;
      running_ = true;
    }
    busy_ = true;
    cancelled_ = false;
    return true;
  }

  // Hands a claimed run to a new thread. Without a thread the run still reports its start and
  // its one end, from here.
  void begin(std::unique_ptr<Run> run) {
    {
      std::lock_guard lock(mutex_);
      errorInfo_.clear();
      self().clearResults();
    }
    auto me = self().shared_from_this();
    auto body = [me](std::unique_ptr<Run> run) {
      {
        auto delegate = me->delegate_.lock();
        // The source is held for the run too: it is the caller's object, which must outlive
        // the reports it hears.
        auto source = me->source_.lock();
        me->threadBody(run, delegate);
        me->busy_ = false;
        run.reset();
      }
      std::lock_guard lock(me->mutex_);
      me->running_ = false;
      me->endedCondition_.notify_all();
    };
    auto shared = std::make_shared<std::unique_ptr<Run>>(std::move(run));
    if (!foundation::WorkerThreads::start("export", [body, shared]() mutable { body(std::move(*shared)); })) {
      auto refused = std::make_unique<Run>();
      refused->refusal = XVErrorText::conversionFailed();
      body(std::move(refused));
    }
  }

  // Sets the error of a run that may not read its pages; NO when it may.
  bool refused(const Run& run) {
    if (run.noSource) {
      setError(XVErrorText::conversionFailed());
      return true;
    }
    if (!run.refusal.isEmpty()) {
      setError(run.refusal);
      return true;
    }
    return false;
  }

  void setError(const QString& why) {
    foundation::log(foundation::LogLevel::Error, logArea_, why.toStdString());
    std::lock_guard lock(mutex_);
    errorInfo_ = why;
  }

  std::weak_ptr<Source> source_;
  std::weak_ptr<Delegate> delegate_;

  std::atomic<bool> busy_{false};  // from claim() until the thread has sent its end
  std::atomic<bool> cancelled_{false};

  mutable std::mutex mutex_;  // guards errorInfo_, running_ and the derived worker's results
  QString errorInfo_;

 private:
  Derived& self() { return static_cast<Derived&>(*this); }

  const char* logArea_;
  mutable std::condition_variable endedCondition_;
  bool running_ = false;  // a thread holds this run
};
