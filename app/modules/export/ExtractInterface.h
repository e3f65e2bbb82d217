#pragma once
// The contract of an image extractor (Extract Images), and of the object that watches one (the
// browser). The browser calls, in this order: setDelegate, setExtractDocument, setOutDirector,
// setOutFilePath, setOutFileName, setExtractStartPage, then (after asking the user once about
// existingOutputFiles()) setReplaceExisting and startExtract; stopExtract only while the run
// goes. Every startExtract() ends with exactly one ExtractProgressDelegate_end.

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <memory>

namespace pdfkit {
class PDFDocument;
}

// Reports of an extractor, on its worker thread; the receiver moves them to the GUI thread.
class ExtractProgressDelegate {
 public:
  virtual ~ExtractProgressDelegate() = default;
  virtual void ExtractProgressDelegate_start() {}
  // Percent 0 to 100, after each page.
  virtual void ExtractProgressDelegate_Progress(double percent) { (void)percent; }
  // The image files written in this run, in order; NO when the run did not finish (errorInfo()
  // says why, empty after a cancel). YES with no files: the pages hold no images.
  virtual void ExtractProgressDelegate_end(bool success, const QList<QUrl>& outUrlArray) {
    (void)success;
    (void)outUrlArray;
  }
};

class ExtractInterface {
 public:
  virtual ~ExtractInterface() = default;

  virtual void setDelegate(std::weak_ptr<ExtractProgressDelegate> delegate) = 0;
  // Gives the pages; read only by startExtract(), on the caller's thread.
  virtual void setExtractDocument(pdfkit::PDFDocument* document) = 0;
  virtual void setOutDirector(const QString& folder) = 0;
  virtual void setOutFileName(const QString& name) = 0;
  // The PDF file whose images are extracted (the document's converted PDF).
  virtual void setOutFilePath(const QString& path) = 0;
  // 0-based first and last page, both included.
  virtual void setExtractStartPage(qint64 startPage, qint64 endpage) = 0;
  // Existing files are replaced only after this was set (default: no).
  virtual void setReplaceExisting(bool replace) = 0;
  // Files in the output folder that a run with this name and format may write over.
  virtual QStringList existingOutputFiles() const = 0;
  // Returns at once.
  virtual void startExtract() = 0;
  virtual void stopExtract() = 0;
  // Waits until the running extraction has sent its end; NO on timeout.
  virtual bool waitUntilEnded(std::chrono::milliseconds timeout) const = 0;
  // Why the last run ended with NO; empty after a success or a cancel.
  virtual QString errorInfo() const = 0;
};
