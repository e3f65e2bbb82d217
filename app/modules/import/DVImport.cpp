#include "modules/import/DVImport.h"

#include <QFile>

#include <filesystem>
#include <system_error>

#include "core/ProductInfo.h"
#include "core/XVBaseFunction.h"
#include "core/XVErrorTexts.h"
#include "diagramkit/engine/PreProcessVSDX.h"
#include "diagramkit/engine/SVG2PDF.h"
#include "modules/visio/VisioRetired.h"
#include "modules/works/RichTextModul.h"
#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"

namespace {

namespace fs = std::filesystem;

fs::path nativePath(const QString& path) { return fs::path(QFile::encodeName(path).toStdString()); }

void logLine(foundation::LogLevel level, const QString& line) { foundation::log(level, "dvimport", line.toStdString()); }

}  // namespace

std::shared_ptr<::ImportInterface> ProductInfo::ImportInterface() { return DVImport::import(); }

std::shared_ptr<DVImport> DVImport::import() { return std::shared_ptr<DVImport>(new DVImport()); }

DVImport::DVImport() : tag_(std::make_shared<const char>('i')) {}

DVImport::~DVImport() {
  {
    std::lock_guard lock(mutex_);
    allPageToken_.reset();
    pageToken_.reset();
    fileToken_.reset();
  }
  prompt_->cancel();
}

DVImport::Road DVImport::roadForPath(const QString& path) {
  const QString ext = XVBaseFunction::extensionOfPath(path).toLower();
  static const QStringList xps = {"xps", "oxps"};
  static const QStringList works = {"wps", "wks", "xlr", "wdb", "wk1", "wk2", "wk3",
                                    "wk4", "wk5", "wq1", "wq2", "wtf"};
  static const QStringList wordPerfect = {"wpd", "wp", "wp4", "wp5", "wp6", "wp7"};
  if (xps.contains(ext)) return Road::XPS;
  if (works.contains(ext)) return Road::Works;
  if (wordPerfect.contains(ext)) return Road::WordPerfect;
  if (ext == QLatin1String("pdf")) return Road::PDF;
  if (ext == QLatin1String("djvu")) return Road::DjVu;
  return Road::Visio;
}

void DVImport::setImportSourcePath(const QString& path) {
  registerNotifications();
  ImportInterface::setImportSourcePath(path);
}

void DVImport::setImportStartPage(qint64 startPage, qint64 endpage) {
  startPage_ = startPage;
  endPage_ = endpage;
}

bool DVImport::importWithResultPath(const QString&) { return false; }

void DVImport::registerNotifications() {
  std::lock_guard lock(mutex_);
  if (fileToken_) return;
  auto& center = foundation::NotificationCenter::defaultCenter();
  const std::weak_ptr<DVImport> weak = weak_from_this();
  const void* sender = tag_.get();
  allPageToken_ = center.addObserver(VSD_ALL_PAGE_NOTI, sender, [weak](const foundation::Notification& n) {
    const int* count = n.value<int>(VSD_ALL_PAGE_NUM);
    if (auto self = weak.lock()) self->getAllPageNum(count ? *count : 0);
  });
  pageToken_ = center.addObserver(END_VSD_PAGE_NOTI, sender, [weak](const foundation::Notification& n) {
    const int* done = n.value<int>(END_VSD_PAGE_NUM);
    if (auto self = weak.lock()) self->getCurrentPageNum(done ? *done : 0);
  });
  fileToken_ = center.addObserver(END_VSD_FILE_NOTI, sender, [weak](const foundation::Notification&) {
    if (auto self = weak.lock()) self->endDjVuPageNoti();
  });
}

bool DVImport::observesVisio() const {
  std::lock_guard lock(mutex_);
  return fileToken_ && pageToken_ && allPageToken_;
}

void DVImport::resetPages() {
  allpage_ = 0;
  currpage_ = 0;
  progress_ = 0;
  state_ = 0;
}

void DVImport::doStartImport() {
  prompt_->reset();
  resetPages();
  switch (roadForPath(sourcePath())) {
    case Road::XPS: startXps(); break;
    case Road::PDF: copyPdf(); break;
    case Road::DjVu: startDjvu(); break;
    case Road::Visio: startVisio(); break;
    case Road::Works: startRichText(false); break;
    case Road::WordPerfect: startRichText(true); break;
  }
}

void DVImport::startXps() {
  using namespace xpskit;
  auto param = QFXpsConverterParam::paramWithFormat(QFXpsConverterFormat::formatWithType(0));
  param->setDelegate(std::static_pointer_cast<QFXpsConverterDelegate>(shared_from_this()));
  param->setOutPath(outPath().toStdString());
  if (auto document = QFXpsDocument::documentWithPath(sourcePath().toStdString()))
    param->addConverterSource(QFXpsConverterSource::converterSourceWithDocument(document));
  // Without a source the converter still starts and ends with a failure code.
  auto converter = QFXpsConverter::converterWithParam(param);
  {
    std::lock_guard lock(mutex_);
    converter_ = converter;
  }
  converter->start();
}

void DVImport::copyPdf() {
  const fs::path source = nativePath(sourcePath());
  const fs::path target = nativePath(outPath());
  std::error_code ec;
  if (fs::equivalent(source, target, ec)) {
    sendEnd(true, QString());
    return;
  }
  // Through a file beside the target, so a failed copy leaves the target as it was.
  fs::path part = target;
  part += ".part";
  bool copied = fs::is_regular_file(source, ec) &&
                fs::copy_file(source, part, fs::copy_options::overwrite_existing, ec) && !ec;
  if (copied) {
    fs::rename(part, target, ec);
    copied = !ec;
  }
  if (!copied) {
    fs::remove(part, ec);
    logLine(foundation::LogLevel::Warning, QStringLiteral("%1 was not copied to %2").arg(sourcePath(), outPath()));
    sendEnd(false, XVErrorText::conversionFailed());
    return;
  }
  sendEnd(true, QString());
}

void DVImport::startRichText(bool wordPerfect) {
  auto format = QFConverterFormat::formatWithType(1, sourcePath());
  bool started = false;
  if (wordPerfect) {
    auto converter = QFWpdConverter::converterWithType(format);
    converter->setDelegate(std::shared_ptr<QFWpdConverterDelegate>(shared_from_this(), this));
    started = converter->start();
  } else {
    auto converter = QFWpsConverter::converterWithType(format);
    converter->setDelegate(std::shared_ptr<QFWpsConverterDelegate>(shared_from_this(), this));
    started = converter->start();
  }
  // A converter that did not start sends no end.
  if (!started) sendEnd(false, XVErrorText::conversionFailed());
}

void DVImport::endRichText(int32_t code, const std::shared_ptr<QFExportObject>& exportObject) {
  const bool printed = exportObject && RichTextModul::printExportObject(*exportObject, outPath());
  if (code == QFConverterEndSucceeded && printed) {
    sendEnd(true, QString());
  } else {
    sendEnd(false, XVErrorText::conversionFailed());
  }
}

void DVImport::QFWpsConverterDelegate_converterStart(QFWpsConverter*) { sendStart(); }
void DVImport::QFWpsConverterDelegate_converterProcess(double progress, QFWpsConverter*) { sendProgress(progress); }
void DVImport::QFWpsConverterDelegate_converterEnd(int32_t code, std::shared_ptr<QFExportObject> exportObject,
                                                   QFWpsConverter*) {
  endRichText(code, exportObject);
}
void DVImport::QFWpdConverterDelegate_converterStart(QFWpdConverter*) { sendStart(); }
void DVImport::QFWpdConverterDelegate_converterProcess(double progress, QFWpdConverter*) { sendProgress(progress); }
void DVImport::QFWpdConverterDelegate_converterEnd(int32_t code, std::shared_ptr<QFExportObject> exportObject,
                                                   QFWpdConverter*) {
  endRichText(code, exportObject);
}

std::optional<std::string> DVImport::QFWpdConverterDelegate_password(QFWpdConverter*) { return askPassword(); }

void DVImport::startDjvu() {
  auto converter = djvukit::DjvuKit::create();
  converter->setDelegate(std::static_pointer_cast<djvukit::DjvuKitDelegate>(shared_from_this()));
  {
    // An earlier converter has ended: its end is what let this import start.
    std::lock_guard lock(mutex_);
    djvuConverter_ = converter;
  }
  converter->DjvuToPDFSrc(sourcePath().toStdString(), outPath().toStdString());
}

void DVImport::startVisio() {
  registerNotifications();
  const QString source = sourcePath();
  if (XVBaseFunction::extensionEquals(XVBaseFunction::extensionOfPath(source), QStringLiteral("vsdx"))) {
    // Its result is not used: the converter reads the source itself.
    if (preProcessVSDX(nativePath(source)).empty())
      logLine(foundation::LogLevel::Warning, QStringLiteral("%1 was not pre-processed").arg(source));
  }
  // The converter keeps itself alive until its end; the keeper keeps the tag until then.
  auto converter = SVG2PDF::initWithSrc(nativePath(source), nativePath(outPath()), tag_.get());
  keepUntilVisioEnd(tag_, converter);
  converter->createPDF();
}

void DVImport::stopImport() {
  std::shared_ptr<xpskit::QFXpsConverter> converter;
  {
    std::lock_guard lock(mutex_);
    converter = converter_;
  }
  if (converter) converter->cancel();
  prompt_->cancel();
}

void DVImport::QFXpsConverterDelegate_converterStart(xpskit::QFXpsConverter*) { sendStart(); }

void DVImport::QFXpsConverterDelegate_converterProcess(double percent, xpskit::QFXpsConverter*) {
  sendProgress(percent);
}

void DVImport::QFXpsConverterDelegate_converterEnd(int32_t code, const void*, xpskit::QFXpsConverter*) {
  if (code == xpskit::QFXpsConverterEndComplete) {
    sendEnd(true, QString());
  } else {
    sendEnd(false, XVErrorText::loadFailed());
  }
}

void DVImport::getAllPageNum(int32_t count) {
  allpage_ = count;
  startPage_ = 1;
  endPage_ = count;
}

void DVImport::getCurrentPageNum(int32_t page) {
  currpage_ = page;
  const int32_t all = allpage_.load();
  // Without a page count there is no percentage, and the end cannot be a success.
  if (all > 0) {
    progress_ = static_cast<double>(page) / static_cast<double>(all) * 100.0;
    sendProgress(progress_.load());
  }
  state_ = all > 0 && page == all ? kStateLastPageDone : kStatePagesMissing;
}

void DVImport::endDjVuPageNoti() {
  if (state_.load() == kStateLastPageDone) {
    sendEnd(true, QString());
  } else {
    sendEnd(false, XVErrorText::conversionFailed());
  }
}

void DVImport::sendErrorInfo(const std::string&) { sendEnd(false, QString()); }

void DVImport::PasswordWindowDelegate_password(const QString& password, PasswordWindow*) {
  std::lock_guard lock(mutex_);
  passwordString_ = password;
}

std::optional<std::string> DVImport::askPassword() {
  {
    std::lock_guard lock(mutex_);
    passwordString_.clear();
  }
  if (!prompt_->ask(this)) return std::nullopt;
  std::lock_guard lock(mutex_);
  return passwordString_.toStdString();
}
