#include "modules/visio/VisioModul.h"

#include <QFile>

#include <filesystem>

#include "core/XVBaseFunction.h"
#include "core/XVErrorTexts.h"
#include "diagramkit/engine/PreProcessVSDX.h"
#include "diagramkit/engine/SVG2PDF.h"
#include "modules/visio/VisioRetired.h"
#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"

namespace {

void logLine(foundation::LogLevel level, const QString& line) { foundation::log(level, "visiomodul", line.toStdString()); }

std::filesystem::path nativePath(const QString& path) { return std::filesystem::path(QFile::encodeName(path).toStdString()); }

}  // namespace

VisioModul::VisioModul(const QString& filePath) : PDFModul(filePath), tag_(std::make_shared<const char>('v')) {}

namespace {

std::mutex& goingHookMutex() {
  static auto* m = new std::mutex();
  return *m;
}

std::function<void(const void*)>& goingHook() {
  static auto* hook = new std::function<void(const void*)>();
  return *hook;
}

}  // namespace

void VisioModul::setGoingHook(std::function<void(const void* sender)> hook) {
  std::lock_guard lock(goingHookMutex());
  goingHook() = std::move(hook);
}

VisioModul::~VisioModul() {
  std::function<void(const void*)> hook;
  {
    std::lock_guard lock(goingHookMutex());
    hook = goingHook();
  }
  if (hook) hook(tag_.get());
  // A running converter and the tag are with the keeper since the conversion started.
  allPageToken_.reset();
  pageToken_.reset();
  fileToken_.reset();
}

void VisioModul::registerModul() {
  DocumentModul::registerModuleClass(Kind::Visio, [](const QString& path) { return std::make_shared<VisioModul>(path); });
}

std::shared_ptr<DocumentViewController> VisioModul::makeDocumentView() { return std::make_shared<VisioDocumentView>(); }

void VisioModul::setImportSourcePath(const QString& path) {
  registerNotifications();
  PDFModul::setImportSourcePath(path);
}

void VisioModul::setImportStartPage(qint64 startPage, qint64 endpage) {
  startPage_ = startPage;
  endPage_ = endpage;
}

void VisioModul::registerNotifications() {
  auto& center = foundation::NotificationCenter::defaultCenter();
  const std::weak_ptr<VisioModul> weak = weak_from_this();
  const void* sender = tag_.get();
  allPageToken_ = center.addObserver(VSD_ALL_PAGE_NOTI, sender, [weak](const foundation::Notification& n) {
    if (auto self = weak.lock()) self->getVSDAllPageNum(n);
  });
  pageToken_ = center.addObserver(END_VSD_PAGE_NOTI, sender, [weak](const foundation::Notification& n) {
    if (auto self = weak.lock()) self->endVSDPage(n);
  });
  fileToken_ = center.addObserver(END_VSD_FILE_NOTI, sender, [weak](const foundation::Notification&) {
    if (auto self = weak.lock()) self->endVSDFile();
  });
}

void VisioModul::VSDTOPDF() {
  allpage_ = 0;
  currpage_ = 0;
  progress_ = 0;
  state_ = kStateStarted;
  const QString source = sourcePath();
  if (XVBaseFunction::extensionEquals(XVBaseFunction::extensionOfPath(source), QStringLiteral("vsdx"))) {
    // Its result is not used: the converter reads the source itself.
    const std::filesystem::path repacked = preProcessVSDX(nativePath(source));
    if (repacked.empty()) logLine(foundation::LogLevel::Warning, QStringLiteral("%1 was not pre-processed").arg(source));
  }
  auto converter = SVG2PDF::initWithSrc(nativePath(source), nativePath(outPath()), tag_.get());
  // Before the start: the keeper hears the end even when this module is already going then.
  keepUntilVisioEnd(tag_, converter);
  {
    std::lock_guard lock(mutex_);
    converter_ = converter;
  }
  converter->createPDF();
}

void VisioModul::getVSDAllPageNum(const foundation::Notification& n) {
  const int* count = n.value<int>(VSD_ALL_PAGE_NUM);
  allpage_ = count ? *count : 0;
  startPage_ = 1;
  endPage_ = allpage_.load();
}

void VisioModul::endVSDPage(const foundation::Notification& n) {
  const int* done = n.value<int>(END_VSD_PAGE_NUM);
  currpage_ = done ? *done : 0;
  const int all = allpage_.load();
  if (all > 0) {
    progress_ = static_cast<double>(currpage_.load()) / static_cast<double>(all) * 100.0;
    sendProgress(progress_.load());
  }
  state_ = (all > 0 && currpage_.load() == all) ? kStateLastPageDone : kStatePagesMissing;
}

void VisioModul::endVSDFile() {
  // The converter is still posting this notification: let it go afterwards.
  releaseConverter();
  if (state_.load() == kStateLastPageDone) {
    // A PDF that does not open ends the import with NO.
    finishImport(outPath(), XVErrorText::conversionFailed());
  } else {
    sendEnd(false, XVErrorText::conversionFailed());
  }
}

void VisioModul::releaseConverter() {
  std::shared_ptr<SVG2PDF> converter;
  {
    std::lock_guard lock(mutex_);
    converter = std::move(converter_);
  }
  if (converter) foundation::Dispatcher::postMain([converter]() mutable { converter.reset(); });
}

bool VisioModul::holdsConverter() const {
  std::lock_guard lock(mutex_);
  return converter_ != nullptr;
}

std::weak_ptr<SVG2PDF> VisioModul::converter() const {
  std::lock_guard lock(mutex_);
  return converter_;
}
