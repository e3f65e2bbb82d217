#pragma once
// What the Works and WordPerfect converters share: one conversion on a thread of its own,
// kept alive by that thread until its end; start, progress as a percentage that only grows,
// and exactly one end, also after a cancel or a failure.

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/revengekit/ConverterStream.h"
#include "platform/wpskit/QFConverterFormat.h"
#include "platform/wpskit/QFExportObject.h"

class QFConverterRun : public std::enable_shared_from_this<QFConverterRun> {
 public:
  virtual ~QFConverterRun();
  QFConverterRun(const QFConverterRun&) = delete;
  QFConverterRun& operator=(const QFConverterRun&) = delete;

  // Begins the conversion on its own thread and returns at once; false when it was started
  // before or there is nothing to convert (no end is sent then).
  bool start();
  // Asks the running conversion to stop; its end (code 0) follows soon. May come any time,
  // more than once.
  void cancel();
  bool isCancelled() const { return control_->cancelled.load(); }
  std::shared_ptr<QFConverterFormat> format() const { return format_; }

 protected:
  struct Outcome {
    int32_t code = QFConverterEndFailed;
    std::shared_ptr<QFExportObject> exportObject;
  };

  explicit QFConverterRun(std::shared_ptr<QFConverterFormat> format);

  // The conversion itself, on the conversion's thread.
  virtual Outcome convert(revengekit::ConverterStream& stream) = 0;
  // Report to the delegate, on the conversion's thread; the delegate is let go after the end.
  virtual void reportStart() = 0;
  virtual void reportProgress(double percent) = 0;
  virtual void reportEnd(int32_t code, std::shared_ptr<QFExportObject> exportObject) = 0;
  virtual void releaseDelegate() = 0;

 private:
  void run();

  std::shared_ptr<QFConverterFormat> format_;
  std::shared_ptr<revengekit::ConverterStream::Control> control_;
  std::atomic<bool> started_{false};
};
