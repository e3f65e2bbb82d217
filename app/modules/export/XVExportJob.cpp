#include "modules/export/XVExportJob.h"

#include <QFileInfo>

#include "core/XVErrorTexts.h"
#include "platform/pdfkit/PDFDocument.h"

QList<QUrl> XVExportJob::urlArray() const {
  std::lock_guard lock(mutex_);
  return urlArray_;
}

QString XVExportJob::numberedPath(qint64 index, const QString& extension) const {
  return QStringLiteral("%1/%2_%3.%4").arg(outDirector_, outFileName_, QString::number(index + 1), extension);
}

QString XVExportJob::settingsRefusal() const {
  if (!document_) return XVErrorText::exportDocumentUnreadable();
  if (startPage_ < 0 || startPage_ > endPage_ || endPage_ >= document_->pageCount())
    return XVErrorText::exportRangeOutsideDocument();
  if (outFileName_.isEmpty() || outFileName_.contains(QLatin1Char('/')) || outFileName_ == QLatin1String(".") ||
      outFileName_ == QLatin1String(".."))
    return XVErrorText::exportWriteFailed(outFileName_, QStringLiteral("not a file name"));
  if (!QFileInfo(outDirector_).isDir())
    return XVErrorText::exportWriteFailed(outDirector_, QStringLiteral("no such folder"));
  return QString();
}

quint64 XVExportJob::rangePageCount() const {
  return endPage_ < startPage_ ? 0 : static_cast<quint64>(endPage_ + 1 - startPage_);
}

pdfkit::PDFPage* XVExportJob::rangePageAtIndex(quint64 index) const {
  if (!document_) return nullptr;
  return document_->pageAtIndex(static_cast<int>(startPage_ + static_cast<qint64>(index)));
}

void XVExportJob::clearResults() {
  std::lock_guard lock(mutex_);
  urlArray_.clear();
  errorInfo_.clear();
}

QString XVExportJob::firstError() const {
  std::lock_guard lock(mutex_);
  return errorInfo_;
}

void XVExportJob::fail(const QString& why) {
  std::lock_guard lock(mutex_);
  if (errorInfo_.isEmpty()) errorInfo_ = why;
}

void XVExportJob::addUrl(const QString& path) {
  std::lock_guard lock(mutex_);
  urlArray_.append(QUrl::fromLocalFile(path));
}
