#pragma once
// The contract of every Save As converter, and of the object that watches one (the browser).
//
// The browser calls, in this order: setOutFilePath, setDelegate, setConvertDocument,
// setOutDirector, setOutFileName, setConvertStartPage, then (after asking the user once about
// existingOutputFiles()) setReplaceExisting and startConvert; stopConvert only while the
// export runs. Every startConvert() ends with exactly one ConverterProgressDelegate_end.

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <memory>

namespace pdfkit {
class PDFDocument;
}

// Reports of a converter, on the converter's worker thread; the receiver moves them to the
// GUI thread. A receiver may drop its converter from inside the end report.
class ConverterProgressDelegate {
 public:
  virtual ~ConverterProgressDelegate() = default;
  virtual void ConverterProgressDelegate_start() {}
  // Percent 0 to 100, after each page.
  virtual void ConverterProgressDelegate_Progress(double percent) { (void)percent; }
  // The files written in this run, in the order written; NO when the export did not finish
  // (errorInfo() says why, empty after a cancel).
  virtual void ConverterProgressDelegate_end(bool success, const QList<QUrl>& outUrlArray) {
    (void)success;
    (void)outUrlArray;
  }
};

class ConverterInterface {
 public:
  virtual ~ConverterInterface() = default;

  virtual void setDelegate(std::weak_ptr<ConverterProgressDelegate> delegate) = 0;
  // Read only by startConvert(), on the caller's thread.
  virtual void setConvertDocument(pdfkit::PDFDocument* document) = 0;
  virtual void setOutDirector(const QString& folder) = 0;
  virtual void setOutFileName(const QString& name) = 0;
  // The document's source file; never written.
  virtual void setOutFilePath(const QString& path) = 0;
  // 0-based first and last page, both included.
  virtual void setConvertStartPage(qint64 startPage, qint64 endpage) = 0;
  // Existing files are replaced only after this was set (default: no).
  virtual void setReplaceExisting(bool replace) = 0;
  // The files the export would write that exist already.
  virtual QStringList existingOutputFiles() const = 0;
  // Returns at once.
  virtual void startConvert() = 0;
  virtual void stopConvert() = 0;
  // Waits until the running export has sent its end; NO on timeout.
  virtual bool waitUntilEnded(std::chrono::milliseconds timeout) const = 0;
  // Why the last export ended with NO; empty after a success or a cancel.
  virtual QString errorInfo() const = 0;
};
