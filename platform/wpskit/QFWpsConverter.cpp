#include "platform/wpskit/QFWpsConverter.h"

#include <libwps/libwps.h>

#include "platform/foundation/log.h"
#include "platform/revengekit/RichTextGenerator.h"

std::shared_ptr<QFWpsConverter> QFWpsConverter::converterWithType(std::shared_ptr<QFConverterFormat> format) {
  return std::shared_ptr<QFWpsConverter>(new QFWpsConverter(std::move(format)));
}

void QFWpsConverter::setDelegate(std::shared_ptr<QFWpsConverterDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

std::shared_ptr<QFWpsConverterDelegate> QFWpsConverter::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}

void QFWpsConverter::releaseDelegate() {
  std::shared_ptr<QFWpsConverterDelegate> gone;
  std::lock_guard lock(mutex_);
  gone.swap(delegate_);
}

void QFWpsConverter::reportStart() {
  if (auto d = delegate()) d->QFWpsConverterDelegate_converterStart(this);
}

void QFWpsConverter::reportProgress(double percent) {
  if (auto d = delegate()) d->QFWpsConverterDelegate_converterProcess(percent, this);
}

void QFWpsConverter::reportEnd(int32_t code, std::shared_ptr<QFExportObject> exportObject) {
  if (auto d = delegate()) d->QFWpsConverterDelegate_converterEnd(code, std::move(exportObject), this);
}

QFConverterRun::Outcome QFWpsConverter::convert(revengekit::ConverterStream& stream) {
  libwps::WPSKind kind = libwps::WPS_TEXT;
  libwps::WPSCreator creator = libwps::WPS_MSWORKS;
  bool needEncoding = false;
  const libwps::WPSConfidence confidence = libwps::WPSDocument::isFileFormatSupported(&stream, kind, creator, needEncoding);
  if (isCancelled()) return {QFConverterEndCancelled, nullptr};
  if (confidence == libwps::WPS_CONFIDENCE_NONE) return {QFConverterEndUnsupported, nullptr};
  if (confidence == libwps::WPS_CONFIDENCE_SUPPORTED_ENCRYPTION) return {QFConverterEndPasswordRequired, nullptr};

  revengekit::RichTextGenerator generator;
  libwps::WPSResult result = libwps::WPS_UNKNOWN_ERROR;
  if (kind == libwps::WPS_TEXT)
    result = libwps::WPSDocument::parse(&stream, static_cast<librevenge::RVNGTextInterface*>(&generator));
  else if (kind == libwps::WPS_SPREADSHEET || kind == libwps::WPS_DATABASE)
    result = libwps::WPSDocument::parse(&stream, static_cast<librevenge::RVNGSpreadsheetInterface*>(&generator));
  else
    return {QFConverterEndUnsupported, nullptr};
  if (isCancelled()) {
    generator.abandon();
    return {QFConverterEndCancelled, nullptr};
  }
  switch (result) {
    case libwps::WPS_OK: break;
    case libwps::WPS_ENCRYPTION_ERROR: return {QFConverterEndPasswordRequired, nullptr};
    default:
      foundation::log(foundation::LogLevel::Warning, "wpskit", "libwps could not read " + format()->filePath().toStdString());
      return {QFConverterEndFailed, nullptr};
  }
  const revengekit::PageSetup page = generator.pageSetup();
  return {QFConverterEndSucceeded, std::make_shared<QFExportObject>(generator.takeDocument(), page)};
}
