#include "modules/export/XVExtract.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include "core/XVErrorTexts.h"
#include "modules/export/ExportFile.h"
#include "modules/export/XVImageSave.h"
#include "platform/pdfkit/PDFDocument.h"

std::shared_ptr<XVExtract> XVExtract::extractWithFormat(const Format& format) {
  std::shared_ptr<XVExtract> extract(new XVExtract(format));
  extract->extractImage_->setExtractSource(extract);
  extract->extractImage_->setDelegate(extract);
  return extract;
}

XVExtract::XVExtract(const Format& format) : format_(format), extractImage_(XVPDFExtractImage::pdfExtractImage()) {}

void XVExtract::setExtractStartPage(qint64 startPage, qint64 endpage) {
  startPage_ = startPage;
  endPage_ = endpage;
}

QString XVExtract::imagePath(qint64 index) const {
  return QStringLiteral("%1/%2_%3.%4").arg(outDirector_, outFileName_, QString::number(index + 1), format_.extension());
}

QStringList XVExtract::existingOutputFiles() const {
  // How many images a run gives is known only once it has run: every file of the run's
  // pattern counts.
  QStringList existing;
  if (outFileName_.isEmpty() || format_.extension().isEmpty()) return existing;
  const QRegularExpression pattern(QStringLiteral("^%1_[1-9][0-9]*\\.%2$")
                                       .arg(QRegularExpression::escape(outFileName_), QRegularExpression::escape(format_.extension())));
  const QDir dir(outDirector_);
  for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
    if (pattern.match(name).hasMatch()) existing << dir.filePath(name);
  }
  return existing;
}

QString XVExtract::refusal() const {
  if (!document_) return XVErrorText::exportDocumentUnreadable();
  if (startPage_ < 0 || startPage_ > endPage_ || endPage_ >= document_->pageCount())
    return XVErrorText::exportRangeOutsideDocument();
  if (outFileName_.isEmpty() || outFileName_.contains(QLatin1Char('/')) || outFileName_ == QLatin1String(".") ||
      outFileName_ == QLatin1String(".."))
    return XVErrorText::exportWriteFailed(outFileName_, QStringLiteral("not a file name"));
  if (!QFileInfo(outDirector_).isDir()) return XVErrorText::exportWriteFailed(outDirector_, QStringLiteral("no such folder"));
  return QString();
}

void XVExtract::startExtract() {
  if (extractImage_->extracting()) return;
  {
    std::lock_guard lock(mutex_);
    urlArray_.clear();
    errorInfo_.clear();
  }
  pageIndex_ = 0;
  const QString why = refusal();
  if (why.isEmpty()) {
    extractImage_->start();
  } else {
    extractImage_->startRefusing(why);
  }
}

void XVExtract::stopExtract() { extractImage_->cancel(); }

bool XVExtract::waitUntilEnded(std::chrono::milliseconds timeout) const { return extractImage_->waitUntilEnded(timeout); }

QString XVExtract::errorInfo() const {
  std::lock_guard lock(mutex_);
  return errorInfo_;
}

QList<QUrl> XVExtract::urlArray() const {
  std::lock_guard lock(mutex_);
  return urlArray_;
}

void XVExtract::fail(const QString& why) {
  std::lock_guard lock(mutex_);
  if (errorInfo_.isEmpty()) errorInfo_ = why;
}

QString XVExtract::XVPDFExtractImageSource_documentPath(XVPDFExtractImage*) { return outFilePath_; }

quint64 XVExtract::XVPDFExtractImageSource_pageCount(XVPDFExtractImage*) {
  return endPage_ < startPage_ ? 0 : static_cast<quint64>(endPage_ + 1 - startPage_);
}

pdfkit::PDFPage* XVExtract::XVPDFExtractImageSource_pageAtIndex(quint64 index, XVPDFExtractImage*) {
  if (!document_) return nullptr;
  return document_->pageAtIndex(static_cast<int>(startPage_ + static_cast<qint64>(index)));
}

void XVExtract::XVPDFExtractImageDelegate_Start(XVPDFExtractImage*) {
  if (auto d = delegate_.lock()) d->ExtractProgressDelegate_start();
}

void XVExtract::saveImages() {
  while (extractImage_->imageCacheCount() > 0) {
    const QImage image = extractImage_->imageDeleteCacheAtIndex(0);
    if (!errorInfo().isEmpty()) continue;  // after a failed write the rest is dropped
    auto saver = XVImageSave::imageSaveWith(image);
    if (!saver) continue;
    saver->setReplaceExisting(replaceExisting_);
    const QString path = imagePath(pageIndex_);
    const QString name = QFileInfo(path).fileName();
    QString why;
    if (exportfile::sameFile(path, outFilePath_) || (document_ && exportfile::sameFile(path, document_->documentPath()))) {
      fail(XVErrorText::exportReplacesDocument(name));
    } else if (saver->saveAtPath(format_.formatName(), path, &why)) {
      std::lock_guard lock(mutex_);
      urlArray_.append(QUrl::fromLocalFile(path));
      ++pageIndex_;
      continue;
    } else {
      fail(!replaceExisting_ && QFileInfo::exists(path) ? XVErrorText::exportFileExists(name)
                                                         : XVErrorText::exportWriteFailed(name, why));
    }
    extractImage_->cancel();
  }
}

void XVExtract::XVPDFExtractImageDelegate_ExtractProgress(double percent, XVPDFExtractImage*) {
  saveImages();
  if (auto d = delegate_.lock()) d->ExtractProgressDelegate_Progress(percent);
}

void XVExtract::XVPDFExtractImageDelegate_End(bool success, XVPDFExtractImage* worker) {
  if (!success) fail(worker->errorInfo());
  const bool ok = success && errorInfo().isEmpty();
  if (auto d = delegate_.lock()) d->ExtractProgressDelegate_end(ok, urlArray());
}
