#pragma once
// The page worker of Save As: turns a run of PDF pages into a new PDF file (type 1), their
// text (type 2) or one image per page (type 0), on a thread of its own.
//
// start() runs on the caller's thread (the GUI thread): it asks the source for the pages and
// takes a snapshot of each page's file, index and user rotation, so the worker never touches
// the caller's documents; the thread opens its own Poppler and qpdf documents of the same
// files. Every report (start, one progress per page, one end) comes on the worker's thread.

#include <QImage>
#include <QList>
#include <QString>

#include <memory>
#include <vector>

#include "modules/export/XVExportWorker.h"

namespace pdfkit {
class PDFDocument;
class PDFPage;
}  // namespace pdfkit

class XVPDFConverter;

// Gives the worker its pages; asked on the thread that calls start().
class XVPDFConverterSource {
 public:
  virtual ~XVPDFConverterSource() = default;
  virtual quint64 XVPDFConverterSource_pageCount(XVPDFConverter* converter) = 0;
  // Null for a page that is not there: it is skipped, and progress still advances.
  virtual pdfkit::PDFPage* XVPDFConverterSource_pageAtIndex(quint64 index, XVPDFConverter* converter) = 0;
};

// Hears the worker, on the worker's thread. No lock of the worker is held during a report.
class XVPDFConverterDelegate {
 public:
  virtual ~XVPDFConverterDelegate() = default;
  virtual void XVPDFConverterDelegate_Start(XVPDFConverter* converter) = 0;
  virtual void XVPDFConverterDelegate_Progress(double percent, XVPDFConverter* converter) = 0;
  virtual void XVPDFConverterDelegate_End(bool success, XVPDFConverter* converter) = 0;
};

namespace xvpdfconverter {
struct PagePlan {
  int file = -1;      // index into the run's files; -1 for a missing page
  int index = 0;      // the page's index in its file
  int rotation = 0;   // the user's rotation on top of the file's /Rotate
};
struct Run {
  std::vector<int> fds;  // the files, held open from start() until the thread is done
  std::vector<PagePlan> pages;
  QString refusal;
  bool noSource = false;
  ~Run();
};
}  // namespace xvpdfconverter

class XVPDFConverter
    : public XVExportWorker<XVPDFConverter, xvpdfconverter::Run, XVPDFConverterSource, XVPDFConverterDelegate>,
      public std::enable_shared_from_this<XVPDFConverter> {
  using Worker = XVExportWorker<XVPDFConverter, xvpdfconverter::Run, XVPDFConverterSource, XVPDFConverterDelegate>;
  friend Worker;

 public:
  enum Type : int { PageImages = 0, PdfFile = 1, PageText = 2 };

  // An image made from the page at `index` of the run (0-based).
  struct PageImage {
    quint64 index = 0;
    QImage image;
    bool isNull() const { return image.isNull(); }
  };

  static std::shared_ptr<XVPDFConverter> pdfConverterWithType(int type);
  ~XVPDFConverter();

  int type() const { return type_; }
  void setConverterSource(std::weak_ptr<XVPDFConverterSource> source) { source_ = std::move(source); }
  void setDelegate(std::weak_ptr<XVPDFConverterDelegate> delegate) { delegate_ = std::move(delegate); }
  // The PDF file of type 1; set before start().
  QString savePath() const { return savePath_; }
  void setSavePath(const QString& path) { savePath_ = path; }
  // Whether type 1 may replace an existing file at savePath() (default: no).
  void setReplaceExisting(bool replace) { replaceExisting_ = replace; }

  // Starts a run on a new thread and returns at once; does nothing while a run is going.
  // startRefusing(), cancel(), waitUntilEnded() and errorInfo() come with the worker.
  void start();
  // YES from start() until the thread has sent its end.
  bool converting() const { return busy_.load(); }

  // Page images not yet taken (type 0).
  quint64 imageCacheCount() const;
  // Removes and answers the image at `index`; a null image when there is none.
  PageImage imageDeleteCacheAtIndex(quint64 index);
  // The collected text (type 2), made empty on first use; textDeleteCache() answers it and
  // forgets it (a null string when none was made).
  QString textNeedCreate();
  QString textDeleteCache();
  QString text() const;

  // The spare document, for a caller that assembles pages of its own: an empty document made
  // on first use (pdfDocumentNeedCreate), handed over and forgotten (pdfDocumentDeleteCache,
  // null when none was made), or looked at (pdfDocument). Runs neither use nor change it.
  pdfkit::PDFDocument* pdfDocumentNeedCreate();
  std::unique_ptr<pdfkit::PDFDocument> pdfDocumentDeleteCache();
  pdfkit::PDFDocument* pdfDocument() const;

 private:
  using PagePlan = xvpdfconverter::PagePlan;
  using Run = xvpdfconverter::Run;

  explicit XVPDFConverter(int type);
  void clearResults();
  void threadBody(const std::unique_ptr<Run>& run, const std::shared_ptr<XVPDFConverterDelegate>& delegate) {
    converterThreed(run, delegate);
  }
  void converterThreed(const std::unique_ptr<Run>& run, const std::shared_ptr<XVPDFConverterDelegate>& delegate);

  const int type_;
  QString savePath_;
  bool replaceExisting_ = false;

  // Guarded by mutex_.
  QList<PageImage> imageCache_;
  QString text_;
  std::unique_ptr<pdfkit::PDFDocument> spare_;
};
