#include "modules/export/XVPDFExtractImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include "core/XVBaseFunction.h"
#include "core/XVErrorTexts.h"
#include "platform/markupkit/markupkit.h"
#include "platform/pdfkit/PDFDocument.h"

xvpdfextractimage::Run::~Run() {
  if (fd >= 0) ::close(fd);
}

std::shared_ptr<XVPDFExtractImage> XVPDFExtractImage::pdfExtractImage() {
  return std::shared_ptr<XVPDFExtractImage>(new XVPDFExtractImage());
}

XVPDFExtractImage::~XVPDFExtractImage() = default;

void XVPDFExtractImage::start() {
  if (!claim()) return;
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

void XVPDFExtractImage::clearResults() {
  imageCache_.clear();
  tooLarge_ = broken_ = 0;
  tooLargePages_.clear();
  brokenPages_.clear();
  largest_ = QSize();
}

quint64 XVPDFExtractImage::imageCacheCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<quint64>(imageCache_.size());
}

QImage XVPDFExtractImage::imageDeleteCacheAtIndex(quint64 index) {
  CachedImage entry;
  {
    std::lock_guard lock(mutex_);
    if (index >= static_cast<quint64>(imageCache_.size())) return QImage();
    entry = imageCache_.takeAt(static_cast<qsizetype>(index));
  }
  QImageReader reader(entry.path, "png");
  // The largest image MarkupKit writes, as 32-bit pixels.
  reader.setAllocationLimit(static_cast<int>(markupkit::kMaxImagePixels * 4 / (1024 * 1024)) + 1);
  const QSize size = reader.size();
  QImage image = reader.read();
  if (image.isNull()) noteSkipped(entry.page, size, false);
  return image;
}

void XVPDFExtractImage::noteSkipped(int page, QSize size, bool tooLarge) {
  std::lock_guard lock(mutex_);
  QList<int>& pages = tooLarge ? tooLargePages_ : brokenPages_;
  if (pages.isEmpty() || pages.last() != page) pages.append(page);
  if (tooLarge) {
    ++tooLarge_;
    if (!largest_.isValid() || qint64(size.width()) * size.height() > qint64(largest_.width()) * largest_.height())
      largest_ = size;
  } else {
    ++broken_;
  }
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
  {
    std::lock_guard lock(mutex_);
    imageCache_.clear();
  }
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
  if (result == markupkit::ExtractImagesSkipped) {
    for (const markupkit::SkippedImage& skipped : markupkit::lastSkippedImages())
      noteSkipped(index + 1, QSize(skipped.width, skipped.height), skipped.reason == markupkit::SkipReason::TooLarge);
  }
  for (int k = 1;; ++k) {
    const QString path = QStringLiteral("%1-%2.png").arg(prefix).arg(k, 3, 10, QLatin1Char('0'));
    if (!QImageReader(path, "png").canRead()) break;
    std::lock_guard lock(mutex_);
    imageCache_.append(CachedImage{path, index + 1});
  }
  return true;
}

void XVPDFExtractImage::extractThreed(const std::unique_ptr<Run>& run,
                                      const std::shared_ptr<XVPDFExtractImageDelegate>& delegate) {
  auto end = [&](bool success) {
    {
      std::lock_guard lock(mutex_);
      outPath_.clear();
      imageCache_.clear();  // their files go with the work folder
    }
    if (delegate) delegate->XVPDFExtractImageDelegate_End(success, this);
  };
  if (delegate) delegate->XVPDFExtractImageDelegate_Start(this);
  if (refused(*run)) return end(false);
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
    if (delegate) delegate->XVPDFExtractImageDelegate_ExtractProgress(progressAfter(i, n), this);
  }
  QString skipped;
  {
    std::lock_guard lock(mutex_);
    if (tooLarge_ || broken_)
      skipped = XVErrorText::extractImagesSkipped(tooLarge_, tooLargePages_, largest_, broken_, brokenPages_);
  }
  if (!skipped.isEmpty()) {
    setError(skipped);
    return end(false);
  }
  end(true);
}
