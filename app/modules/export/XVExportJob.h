#pragma once
// What Save As and Extract Images share around their worker: the document and the page range
// to run over, where the files go, and, guarded for the worker's thread, the files written and
// the first error.

#include <QList>
#include <QString>
#include <QUrl>

#include <mutex>

namespace pdfkit {
class PDFDocument;
class PDFPage;
}  // namespace pdfkit

class XVExportJob {
 public:
  QList<QUrl> urlArray() const;

 protected:
  XVExportJob() = default;
  ~XVExportJob() = default;

  // "%1/%2_%3.%4" with `index` + 1.
  QString numberedPath(qint64 index, const QString& extension) const;
  // Why the document, range, name or folder do not allow a run; empty when they do.
  QString settingsRefusal() const;
  // The range as the worker's source sees it.
  quint64 rangePageCount() const;
  pdfkit::PDFPage* rangePageAtIndex(quint64 index) const;

  // Forgets the files and the error of the last run.
  void clearResults();
  QString firstError() const;
  // Keeps `why` unless an error came first.
  void fail(const QString& why);
  void addUrl(const QString& path);

  pdfkit::PDFDocument* document_ = nullptr;
  QString outDirector_;
  QString outFileName_;
  QString outFilePath_;
  qint64 startPage_ = 0;
  qint64 endPage_ = 0;
  bool replaceExisting_ = false;

 private:
  mutable std::mutex mutex_;  // guards the fields below
  QList<QUrl> urlArray_;
  QString errorInfo_;
};
