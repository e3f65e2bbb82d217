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

QString XVExtract::imagePath(qint64 index) const { return numberedPath(index, format_.extension()); }

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

QString XVExtract::refusal() const { return settingsRefusal(); }

void XVExtract::startExtract() {
  if (extractImage_->extracting()) return;
  clearResults();
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

QString XVExtract::XVPDFExtractImageSource_documentPath(XVPDFExtractImage*) { return outFilePath_; }

quint64 XVExtract::XVPDFExtractImageSource_pageCount(XVPDFExtractImage*) { return rangePageCount(); }

pdfkit::PDFPage* XVExtract::XVPDFExtractImageSource_pageAtIndex(quint64 index, XVPDFExtractImage*) {
  return rangePageAtIndex(index);
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
      addUrl(path);
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
