#include "modules/export/XVPDFExtractImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <system_error>
#include <thread>

#include "core/XVBaseFunction.h"
#include "core/XVErrorTexts.h"
#include "platform/foundation/log.h"
#include "platform/markupkit/markupkit.h"
#include "platform/pdfkit/PDFDocument.h"

namespace {

QString fdPath(int fd) { return QStringLiteral("/proc/self/fd/%1").arg(fd); }

}  // namespace

XVPDFExtractImage::Run::~Run() {
  if (fd >= 0) ::close(fd);
}

std::shared_ptr<XVPDFExtractImage> XVPDFExtractImage::pdfExtractImage() {
  return std::shared_ptr<XVPDFExtractImage>(new XVPDFExtractImage());
}

XVPDFExtractImage::~XVPDFExtractImage() = default;

void XVPDFExtractImage::start() {
  {
    std::lock_guard lock(mutex_);
    if (running_) return;
    running_ = true;
  }
  extracting_ = true;
  cancelled_ = false;
  auto run = std::make_unique<Run>();
  if (auto source = source_.lock()) {
    const QString path = source->XVPDFExtractImageSource_documentPath(this);
    // Our own descriptor: the file stays readable whatever happens to it while the thread runs.
    run->fd = path.isEmpty() ? -1 : ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (run->fd < 0) {
      run->refusal = XVErrorText::exportDocumentUnreadable();
    } else {
      const quint64 n = source->XVPDFExtractImageSource_pageCount(this);
      run->pages.reserve(static_cast<size_t>(n));
      for (quint64 i = 0; i < n; ++i) {
        pdfkit::PDFPage* page = source->XVPDFExtractImageSource_pageAtIndex(i, this);
        run->pages.push_back(page ? page->index() : -1);
      }
    }
  } else {
    run->noSource = true;
  }
  begin(std::move(run));
}

void XVPDFExtractImage::startRefusing(const QString& reason) {
  {
    std::lock_guard lock(mutex_);
    if (running_) return;
    running_ = true;
  }
  extracting_ = true;
  cancelled_ = false;
  auto run = std::make_unique<Run>();
  run->refusal = reason.isEmpty() ? XVErrorText::conversionFailed() : reason;
  begin(std::move(run));
}

void XVPDFExtractImage::begin(std::unique_ptr<Run> run) {
  {
    std::lock_guard lock(mutex_);
    errorInfo_.clear();
    imageCache_.clear();
  }
  auto self = shared_from_this();
  auto body = [self](std::unique_ptr<Run> run) {
    {
      auto delegate = self->delegate_.lock();
      // The source is held for the run too: it is the caller's extractor, which must outlive
      // the reports it hears.
      auto source = self->source_.lock();
      self->extractThreed(run, delegate);
      self->extracting_ = false;
      run.reset();
    }
    std::lock_guard lock(self->mutex_);
    self->running_ = false;
    self->endedCondition_.notify_all();
  };
  auto shared = std::make_shared<std::unique_ptr<Run>>(std::move(run));
  try {
    std::thread([body, shared]() mutable { body(std::move(*shared)); }).detach();
  } catch (const std::system_error&) {
    auto refused = std::make_unique<Run>();
    refused->refusal = XVErrorText::conversionFailed();
    body(std::move(refused));
  }
}

void XVPDFExtractImage::cancel() { cancelled_ = true; }

bool XVPDFExtractImage::waitUntilEnded(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return endedCondition_.wait_for(lock, timeout, [this] { return !running_; });
}

QString XVPDFExtractImage::errorInfo() const {
  std::lock_guard lock(mutex_);
  return errorInfo_;
}

void XVPDFExtractImage::setError(const QString& why) {
  foundation::log(foundation::LogLevel::Error, "extract", why.toStdString());
  std::lock_guard lock(mutex_);
  errorInfo_ = why;
}

quint64 XVPDFExtractImage::imageCacheCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<quint64>(imageCache_.size());
}

QImage XVPDFExtractImage::imageDeleteCacheAtIndex(quint64 index) {
  std::lock_guard lock(mutex_);
  if (index >= static_cast<quint64>(imageCache_.size())) return QImage();
  return imageCache_.takeAt(static_cast<qsizetype>(index));
}

QString XVPDFExtractImage::outPath() const {
  std::lock_guard lock(mutex_);
  return outPath_;
}

QString XVPDFExtractImage::outPathFile() const {
  const QString folder = outPath();
  return folder.isEmpty() ? QString() : QStringLiteral("%1/%2").arg(folder, QStringLiteral("Temp"));
}

bool XVPDFExtractImage::extractPage(const QString& file, int index) {
  const QString folder = outPath();
  const QString prefix = outPathFile();
  // The folder holds only this page's files while they are read.
  QDir dir(folder);
  for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) dir.remove(name);

  const QByteArray fileArg = QFile::encodeName(file);
  const QByteArray prefixArg = QFile::encodeName(prefix);
  const QByteArray pageArg = QByteArray::number(index + 1);
  const char* argv[] = {"", fileArg.constData(), prefixArg.constData(), "-R", pageArg.constData(), "IMAGE"};
  const int result = extractHtml(6, argv);
  if (result == markupkit::ExtractUnreadable) {
    setError(XVErrorText::exportDocumentUnreadable());
    return false;
  }
  if (result == markupkit::ExtractWriteFailed) {
    setError(XVErrorText::extractWorkFolderFailed(folder));
    return false;
  }
  for (int k = 1;; ++k) {
    const QString path = QStringLiteral("%1-%2.png").arg(prefix).arg(k, 3, 10, QLatin1Char('0'));
    if (!QFileInfo::exists(path)) break;
    QImageReader reader(path, "png");
    QImage image = reader.read();
    // A file that does not read back is passed over; the page's other images are kept.
    if (image.isNull()) continue;
    std::lock_guard lock(mutex_);
    imageCache_.append(std::move(image));
  }
  return true;
}

void XVPDFExtractImage::extractThreed(const std::unique_ptr<Run>& run,
                                      const std::shared_ptr<XVPDFExtractImageDelegate>& delegate) {
  auto end = [&](bool success) {
    {
      std::lock_guard lock(mutex_);
      outPath_.clear();
    }
    if (delegate) delegate->XVPDFExtractImageDelegate_End(success, this);
  };
  if (delegate) delegate->XVPDFExtractImageDelegate_Start(this);
  if (run->noSource) {
    setError(XVErrorText::conversionFailed());
    return end(false);
  }
  if (!run->refusal.isEmpty()) {
    setError(run->refusal);
    return end(false);
  }
  const QString file = fdPath(run->fd);
  // A document of the same file for the whole run: it checks that the file is a PDF, gives the
  // page count, and keeps Poppler's process-wide settings in place while MarkupKit uses them.
  auto pin = pdfkit::PDFDocument::initWithURL(file);
  if (!pin) {
    setError(XVErrorText::exportDocumentUnreadable());
    return end(false);
  }
  const int pageCount = pin->pageCount();
  // A folder of this run's own, removed with its files at the end.
  const QString base = XVBaseFunction::TempDirectory();
  QTemporaryDir work(QDir(base.isEmpty() ? QDir::tempPath() : base).filePath(QStringLiteral("Temp-XXXXXX")));
  if (!work.isValid()) {
    setError(XVErrorText::extractWorkFolderFailed(work.path()));
    return end(false);
  }
  {
    std::lock_guard lock(mutex_);
    outPath_ = work.path();
  }
  const quint64 n = run->pages.size();
  for (quint64 i = 0; i < n; ++i) {
    if (cancelled_.load()) return end(false);
    const int index = run->pages[static_cast<size_t>(i)];
    if (index >= 0 && index < pageCount && !extractPage(file, index)) return end(false);
    const float p = static_cast<float>(i + 1) * 100.0f / static_cast<float>(n);
    if (delegate) delegate->XVPDFExtractImageDelegate_ExtractProgress(static_cast<double>(p), this);
  }
  end(true);
}
