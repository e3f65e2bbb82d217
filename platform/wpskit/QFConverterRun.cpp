#include "platform/wpskit/QFConverterRun.h"

#include <QFile>

#include <exception>
#include <new>

#include "platform/foundation/log.h"
#include "platform/revengekit/ConversionThreads.h"

QFConverterRun::QFConverterRun(std::shared_ptr<QFConverterFormat> format)
    : format_(std::move(format)), control_(std::make_shared<revengekit::ConverterStream::Control>()) {}

QFConverterRun::~QFConverterRun() = default;

bool QFConverterRun::start() {
  if (!format_ || started_.exchange(true)) return false;
  auto self = shared_from_this();
  if (revengekit::runConversionThread([self] { self->run(); })) return true;
  // No thread: the one end still comes, here.
  foundation::log(foundation::LogLevel::Error, "converter", "no thread for the conversion");
  reportStart();
  reportEnd(QFConverterEndFailed, nullptr);
  releaseDelegate();
  return true;
}

void QFConverterRun::cancel() { control_->cancelled = true; }

void QFConverterRun::run() {
  reportStart();
  Outcome outcome;
  try {
    control_->progress = [this](double share) { reportProgress(share * 100.0); };
    const QString path = format_->filePath();
    auto stream = revengekit::ConverterStream::open(QFile::encodeName(path).toStdString(), control_);
    if (!stream) {
      foundation::log(foundation::LogLevel::Warning, "converter", "cannot read " + path.toStdString());
      outcome.code = QFConverterEndFailed;
    } else if (!isCancelled()) {
      outcome = convert(*stream);
    }
  } catch (const std::bad_alloc&) {
    foundation::log(foundation::LogLevel::Error, "converter", "out of memory");
    outcome = Outcome{};
  } catch (const std::exception& e) {
    foundation::log(foundation::LogLevel::Error, "converter", std::string("conversion failed: ") + e.what());
    outcome = Outcome{};
  } catch (...) {
    foundation::log(foundation::LogLevel::Error, "converter", "conversion failed");
    outcome = Outcome{};
  }
  if (isCancelled()) outcome = Outcome{QFConverterEndCancelled, nullptr};
  if (outcome.code == QFConverterEndSucceeded && !outcome.exportObject) outcome.code = QFConverterEndFailed;
  if (outcome.code == QFConverterEndSucceeded) control_->report(1.0);  // 100, unless it was reported already
  control_->progress = nullptr;
  reportEnd(outcome.code, std::move(outcome.exportObject));
  releaseDelegate();
}
