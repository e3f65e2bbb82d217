#pragma once
// WordPerfect documents (wpd, wp, wp4-wp7) to rich text.
//
// Callbacks come on the conversion's own thread, in order: start, progress (0 to 100,
// growing), exactly one end. A protected document asks the delegate for its password, when
// the delegate answers password requests: passwordStart, then password (until one matches,
// the delegate gives none, or three did not match), then passwordStop; the conversion waits
// meanwhile.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/wpskit/QFConverterRun.h"

class QFWpdConverter;

class QFWpdConverterDelegate {
 public:
  virtual ~QFWpdConverterDelegate() = default;
  virtual void QFWpdConverterDelegate_converterStart(QFWpdConverter* converter) { (void)converter; }
  virtual void QFWpdConverterDelegate_converterProcess(double progress, QFWpdConverter* converter) {
    (void)progress;
    (void)converter;
  }
  // Code 3 with the export object on success; any other code (QFConverterEndCode) without.
  virtual void QFWpdConverterDelegate_converterEnd(int32_t code, std::shared_ptr<QFExportObject> exportObject,
                                                   QFWpdConverter* converter) {
    (void)code;
    (void)exportObject;
    (void)converter;
  }

  // Whether the delegate answers the password requests below; without, a protected document
  // ends with code 4.
  virtual bool QFWpdConverterDelegate_answersPassword() const { return false; }
  virtual void QFWpdConverterDelegate_passwordStart(QFWpdConverter* converter) { (void)converter; }
  // The password (UTF-8), or none to give up.
  virtual std::optional<std::string> QFWpdConverterDelegate_password(QFWpdConverter* converter) {
    (void)converter;
    return std::nullopt;
  }
  virtual void QFWpdConverterDelegate_passwordStop(QFWpdConverter* converter) { (void)converter; }
};

class QFWpdConverter : public QFConverterRun {
 public:
  static constexpr int kPasswordAttempts = 3;

  static std::shared_ptr<QFWpdConverter> converterWithType(std::shared_ptr<QFConverterFormat> format);
  // Held until the end has been sent.
  void setDelegate(std::shared_ptr<QFWpdConverterDelegate> delegate);

  // For a delegate's password request: runs `prompt` on the main queue and waits for its
  // answer; none when the conversion is cancelled meanwhile. Runs it at once when called on
  // the main thread.
  std::optional<std::string> passwordFromMainQueue(std::function<std::optional<std::string>()> prompt);

 protected:
  Outcome convert(revengekit::ConverterStream& stream) override;
  void reportStart() override;
  void reportProgress(double percent) override;
  void reportEnd(int32_t code, std::shared_ptr<QFExportObject> exportObject) override;
  void releaseDelegate() override;

 private:
  using QFConverterRun::QFConverterRun;
  std::shared_ptr<QFWpdConverterDelegate> delegate() const;
  // The matching password, or none.
  std::optional<std::string> askPassword(revengekit::ConverterStream& stream);

  mutable std::mutex mutex_;
  std::shared_ptr<QFWpdConverterDelegate> delegate_;
};
