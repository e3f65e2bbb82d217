#pragma once
// Works documents (wps), spreadsheets and databases (wks, wk1-wk5, xlr, wdb, Wq1, Wq2, Wtf;
// also the other sheets libwps reads) to rich text. Sheets and databases become tables.
//
// Callbacks come on the conversion's own thread, in order: start, progress (0 to 100,
// growing), exactly one end.

#include <memory>
#include <mutex>

#include "platform/wpskit/QFConverterRun.h"

class QFWpsConverter;

class QFWpsConverterDelegate {
 public:
  virtual ~QFWpsConverterDelegate() = default;
  virtual void QFWpsConverterDelegate_converterStart(QFWpsConverter* converter) { (void)converter; }
  virtual void QFWpsConverterDelegate_converterProcess(double progress, QFWpsConverter* converter) {
    (void)progress;
    (void)converter;
  }
  // Code 3 with the export object on success; any other code (QFConverterEndCode) without.
  virtual void QFWpsConverterDelegate_converterEnd(int32_t code, std::shared_ptr<QFExportObject> exportObject,
                                                   QFWpsConverter* converter) {
    (void)code;
    (void)exportObject;
    (void)converter;
  }
};

class QFWpsConverter : public QFConverterRun {
 public:
  static std::shared_ptr<QFWpsConverter> converterWithType(std::shared_ptr<QFConverterFormat> format);
  // Held until the end has been sent.
  void setDelegate(std::shared_ptr<QFWpsConverterDelegate> delegate);

 protected:
  Outcome convert(revengekit::ConverterStream& stream) override;
  void reportStart() override;
  void reportProgress(double percent) override;
  void reportEnd(int32_t code, std::shared_ptr<QFExportObject> exportObject) override;
  void releaseDelegate() override;

 private:
  using QFConverterRun::QFConverterRun;
  std::shared_ptr<QFWpsConverterDelegate> delegate() const;

  mutable std::mutex mutex_;
  std::shared_ptr<QFWpsConverterDelegate> delegate_;
};
