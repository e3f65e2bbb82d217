#include "platform/wpdkit/QFWpdConverter.h"

#include <libwpd/libwpd.h>

#include <chrono>
#include <condition_variable>

#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"
#include "platform/revengekit/RichTextGenerator.h"

std::shared_ptr<QFWpdConverter> QFWpdConverter::converterWithType(std::shared_ptr<QFConverterFormat> format) {
  return std::shared_ptr<QFWpdConverter>(new QFWpdConverter(std::move(format)));
}

void QFWpdConverter::setDelegate(std::shared_ptr<QFWpdConverterDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

std::shared_ptr<QFWpdConverterDelegate> QFWpdConverter::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}

void QFWpdConverter::releaseDelegate() {
  std::shared_ptr<QFWpdConverterDelegate> gone;
  std::lock_guard lock(mutex_);
  gone.swap(delegate_);
}

void QFWpdConverter::reportStart() {
  if (auto d = delegate()) d->QFWpdConverterDelegate_converterStart(this);
}

void QFWpdConverter::reportProgress(double percent) {
  if (auto d = delegate()) d->QFWpdConverterDelegate_converterProcess(percent, this);
}

void QFWpdConverter::reportEnd(int32_t code, std::shared_ptr<QFExportObject> exportObject) {
  if (auto d = delegate()) d->QFWpdConverterDelegate_converterEnd(code, std::move(exportObject), this);
}

std::optional<std::string> QFWpdConverter::passwordFromMainQueue(std::function<std::optional<std::string>()> prompt) {
  if (foundation::Dispatcher::isMainThread()) return prompt();
  struct Answer {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    std::optional<std::string> password;
  };
  auto answer = std::make_shared<Answer>();
  foundation::Dispatcher::postMain([answer, prompt = std::move(prompt)] {
    std::optional<std::string> password = prompt();
    std::lock_guard lock(answer->mutex);
    answer->password = std::move(password);
    answer->done = true;
    answer->cv.notify_all();
  });
  std::unique_lock lock(answer->mutex);
  while (!answer->done) {
    if (isCancelled()) return std::nullopt;
    answer->cv.wait_for(lock, std::chrono::milliseconds(100));
  }
  return answer->password;
}

std::optional<std::string> QFWpdConverter::askPassword(revengekit::ConverterStream& stream) {
  auto d = delegate();
  if (!d || !d->QFWpdConverterDelegate_answersPassword()) return std::nullopt;
  d->QFWpdConverterDelegate_passwordStart(this);
  std::optional<std::string> matching;
  for (int attempt = 0; attempt < kPasswordAttempts && !isCancelled(); ++attempt) {
    std::optional<std::string> password = d->QFWpdConverterDelegate_password(this);
    if (!password || isCancelled()) break;
    if (libwpd::WPDocument::verifyPassword(&stream, password->c_str()) == libwpd::WPD_PASSWORD_MATCH_OK) {
      matching = std::move(password);
      break;
    }
  }
  d->QFWpdConverterDelegate_passwordStop(this);
  return matching;
}

QFConverterRun::Outcome QFWpdConverter::convert(revengekit::ConverterStream& stream) {
  const libwpd::WPDConfidence confidence = libwpd::WPDocument::isFileFormatSupported(&stream);
  if (isCancelled()) return {QFConverterEndCancelled, nullptr};
  std::optional<std::string> password;
  switch (confidence) {
    case libwpd::WPD_CONFIDENCE_EXCELLENT: break;
    case libwpd::WPD_CONFIDENCE_SUPPORTED_ENCRYPTION:
      password = askPassword(stream);
      if (isCancelled()) return {QFConverterEndCancelled, nullptr};
      if (!password) return {QFConverterEndPasswordRequired, nullptr};
      break;
    case libwpd::WPD_CONFIDENCE_UNSUPPORTED_ENCRYPTION: return {QFConverterEndEncryptionUnsupported, nullptr};
    default: return {QFConverterEndUnsupported, nullptr};
  }
  revengekit::RichTextGenerator generator;
  const libwpd::WPDResult result = libwpd::WPDocument::parse(&stream, &generator, password ? password->c_str() : nullptr);
  if (isCancelled()) {
    generator.abandon();
    return {QFConverterEndCancelled, nullptr};
  }
  switch (result) {
    case libwpd::WPD_OK: break;
    case libwpd::WPD_PASSWORD_MISSMATCH_ERROR: return {QFConverterEndPasswordRequired, nullptr};
    case libwpd::WPD_UNSUPPORTED_ENCRYPTION_ERROR: return {QFConverterEndEncryptionUnsupported, nullptr};
    default:
      foundation::log(foundation::LogLevel::Warning, "wpdkit", "libwpd could not read " + format()->filePath().toStdString());
      return {QFConverterEndFailed, nullptr};
  }
  const revengekit::PageSetup page = generator.pageSetup();
  return {QFConverterEndSucceeded, std::make_shared<QFExportObject>(generator.takeDocument(), page)};
}
