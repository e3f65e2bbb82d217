#pragma once
// The worker of Extract Images: for each page of a run, MarkupKit dumps the page's embedded
// images as numbered PNG files into a work folder of this run's own, and the worker reads them
// back into its image cache, on a thread of its own.
//
// start() runs on the caller's thread: it asks the source for the file and the pages and keeps
// the file open and each page's index, so the thread never touches the caller's document and
// the pages are named by their place in the file, whatever their labels. Every report (start,
// one progress per page, one end) comes on the worker's thread.

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

#include <memory>
#include <vector>

#include "modules/export/XVExportWorker.h"

namespace pdfkit {
class PDFPage;
}

class XVPDFExtractImage;

// Gives the worker its file and pages; asked on the thread that calls start().
class XVPDFExtractImageSource {
 public:
  virtual ~XVPDFExtractImageSource() = default;
  virtual QString XVPDFExtractImageSource_documentPath(XVPDFExtractImage* worker) = 0;
  virtual quint64 XVPDFExtractImageSource_pageCount(XVPDFExtractImage* worker) = 0;
  // Null for a page that is not there: it gives no images, and progress still advances.
  virtual pdfkit::PDFPage* XVPDFExtractImageSource_pageAtIndex(quint64 index, XVPDFExtractImage* worker) = 0;
};

// Hears the worker, on the worker's thread. No lock of the worker is held during a report.
class XVPDFExtractImageDelegate {
 public:
  virtual ~XVPDFExtractImageDelegate() = default;
  virtual void XVPDFExtractImageDelegate_Start(XVPDFExtractImage* worker) = 0;
  virtual void XVPDFExtractImageDelegate_ExtractProgress(double percent, XVPDFExtractImage* worker) = 0;
  virtual void XVPDFExtractImageDelegate_End(bool success, XVPDFExtractImage* worker) = 0;
};

namespace xvpdfextractimage {
struct Run {
  int fd = -1;              // the file, held open from start() until the thread is done
  std::vector<int> pages;   // each page's index in the file; -1 for a missing page
  QString refusal;
  bool noSource = false;
  ~Run();
};
}  // namespace xvpdfextractimage

class XVPDFExtractImage
    : public XVExportWorker<XVPDFExtractImage, xvpdfextractimage::Run, XVPDFExtractImageSource,
                            XVPDFExtractImageDelegate>,
      public std::enable_shared_from_this<XVPDFExtractImage> {
  using Worker =
      XVExportWorker<XVPDFExtractImage, xvpdfextractimage::Run, XVPDFExtractImageSource, XVPDFExtractImageDelegate>;
  friend Worker;

 public:
  static std::shared_ptr<XVPDFExtractImage> pdfExtractImage();
  ~XVPDFExtractImage();

  void setExtractSource(std::weak_ptr<XVPDFExtractImageSource> source) { source_ = std::move(source); }
  void setDelegate(std::weak_ptr<XVPDFExtractImageDelegate> delegate) { delegate_ = std::move(delegate); }

  // Starts a run on a new thread and returns at once; does nothing while a run is going.
  // startRefusing(), cancel(), waitUntilEnded() and errorInfo() come with the worker.
  void start();
  // YES from start() until the thread has sent its end.
  bool extracting() const { return busy_.load(); }

  // Images of the current page not yet taken, in the order of their numbers. They are read
  // from their files when taken, so one image is held at a time; those not taken before the
  // next page are dropped with their files.
  quint64 imageCacheCount() const;
  // Removes and answers the image at `index`; a null image when there is none, or when its
  // file does not read back (the run then ends with NO naming its page).
  QImage imageDeleteCacheAtIndex(quint64 index);

  // The work folder of the running (or last) run, and the prefix of its image files; empty
  // outside a run.
  QString outPath() const;
  QString outPathFile() const;

 private:
  using Run = xvpdfextractimage::Run;

  XVPDFExtractImage() : Worker("extract") {}
  void clearResults();
  void threadBody(const std::unique_ptr<Run>& run, const std::shared_ptr<XVPDFExtractImageDelegate>& delegate) {
    extractThreed(run, delegate);
  }
  void extractThreed(const std::unique_ptr<Run>& run, const std::shared_ptr<XVPDFExtractImageDelegate>& delegate);
  // Reads the page's images into the cache; NO (with the reason set) when the run must stop.
  bool extractPage(const QString& file, int index);

  struct CachedImage {
    QString path;
    int page = 0;  // 1-based page number in the file
  };
  // Notes an image of `page` that was not written, for the end report.
  void noteSkipped(int page, QSize size, bool tooLarge);

  // Guarded by mutex_.
  QList<CachedImage> imageCache_;
  QString outPath_;
  int tooLarge_ = 0, broken_ = 0;
  QList<int> tooLargePages_, brokenPages_;
  QSize largest_;
};
