#pragma once
// A PDF document over Poppler (reading, rendering, text, find) and qpdf (writing rotations).
//
// Threads: a document may be opened on any thread and is then used from one thread at a time
// (the GUI thread); renders and finds run on their own Poppler documents on worker threads.
// Find callbacks and the end-of-find notification are delivered on the main queue
// (foundation::Dispatcher::postMain).

#include <QImage>
#include <QList>
#include <QRect>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace foundation {
class Worker;
}

class QPainter;

namespace Poppler {
class Document;
}

namespace pdfkit {

class PDFDocument;
class PDFPage;

// Posted on foundation::NotificationCenter::defaultCenter() with the document as sender when
// a find started by beginFindString() has run through every page (never for a cancelled find).
inline const std::string PDFDocumentDidEndFindNotification = "PDFDocumentDidEndFindNotification";

// Find options.
enum FindOption : int { CaseInsensitiveSearch = 1 };

// Multiples of 90 in [0, 360); other angles go to the nearest multiple of 90.
int normalizedRotation(int degrees);

// A stretch of text on one page. Bounds are in page points, top-left origin, in the page's
// own orientation (its /Rotate applied, the user's rotation not).
class PDFSelection {
 public:
  PDFSelection() = default;
  PDFSelection(PDFPage* page, const QRectF& bounds, const QString& string)
      : page_(page), bounds_(bounds), string_(string) {}
  // A find's match, with the page's text just before and after it (one line, blanks for breaks).
  PDFSelection(PDFPage* page, const QRectF& bounds, const QString& string, const QString& before, const QString& after)
      : page_(page), bounds_(bounds), string_(string), before_(before), after_(after) {}

  bool isNull() const { return page_ == nullptr; }
  PDFPage* page() const { return page_; }
  QList<PDFPage*> pages() const { return page_ ? QList<PDFPage*>{page_} : QList<PDFPage*>{}; }
  QRectF boundsForPage(const PDFPage* page) const { return page == page_ ? bounds_ : QRectF(); }
  QRectF bounds() const { return bounds_; }
  QString string() const { return string_; }
  QString contextBefore() const { return before_; }
  QString contextAfter() const { return after_; }
  bool operator==(const PDFSelection& o) const {
    return page_ == o.page_ && bounds_ == o.bounds_ && string_ == o.string_;
  }

 private:
  PDFPage* page_ = nullptr;
  QRectF bounds_;
  QString string_;
  QString before_, after_;
};

// One occurrence of a find on a page, in the page's text.
struct PageMatch {
  QRectF bounds;  // page points, as PDFSelection::bounds
  QString string;
  QString before, after;
};

// Receives the matches of an asynchronous find, on the main queue.
class PDFDocumentDelegate {
 public:
  virtual ~PDFDocumentDelegate() = default;
  virtual void didMatchString(const PDFSelection& selection) = 0;
};

class PDFPage {
 public:
  PDFPage(const PDFPage&) = delete;
  PDFPage& operator=(const PDFPage&) = delete;

  PDFDocument* document() const { return document_; }
  int index() const { return index_; }

  // The shown rotation: the file's /Rotate plus the user's changes, in [0, 360).
  int rotation() const;
  void setRotation(int degrees);
  // The rotation the file gives the page.
  int fileRotation() const;

  // The page's size in points with the file's /Rotate applied.
  QSizeF size() const;
  // The size as shown, with rotation() applied.
  QSizeF displaySize() const;

  // The document's label for the page; its number from 1 when it has none.
  QString label() const;
  // The page's whole text in reading order.
  QString string() const;
  // The text inside `rect` (page points, as PDFSelection::bounds).
  PDFSelection selectionForRect(const QRectF& rect) const;

  // Renders the page at `scale` (1.0 = one pixel per point) with rotation() applied.
  QImage render(double scale) const;

 private:
  friend class PDFDocument;
  PDFPage(PDFDocument* document, int index) : document_(document), index_(index) {}

  PDFDocument* document_;
  int index_;
};

class PDFDocument {
 public:
  // An empty document without pages.
  PDFDocument();
  ~PDFDocument();
  PDFDocument(const PDFDocument&) = delete;
  PDFDocument& operator=(const PDFDocument&) = delete;

  // Why a file did not open.
  enum class OpenFailure { None, Unreadable, Locked };
  // nullptr when the file cannot be read as an unlocked PDF; `why` then says which.
  static std::unique_ptr<PDFDocument> initWithURL(const QString& path, OpenFailure* why = nullptr);

  QString documentPath() const { return path_; }
  // Where workers open the document's own content: the file as it was opened, even after it
  // was renamed, replaced or removed (the documentPath() when that cannot be had).
  QString contentPath() const;
  int pageCount() const;
  PDFPage* pageAtIndex(int index) const;
  // -1 for a page of another document.
  int indexForPage(const PDFPage* page) const;
  QString string() const;

  // Writes the document with its current rotations to `path`: a temporary file in the same
  // folder, checked, then renamed over `path`. On failure `path` is left as it was.
  bool writeToFile(const QString& path, QString* error = nullptr) const;
  // The same, with the pages read from `contentFile`, a copy of the document's file (the same
  // pages), in place of the document's own content.
  bool writeToFile(const QString& path, const QString& contentFile, QString* error = nullptr) const;
  // Writes back the rotations this document changed: pages whose rotation differs from what they
  // had when it was opened (or last written back here) take their shown rotation; every other
  // page stays as `path` holds it when this runs, so changes another document of the same file
  // wrote there are kept. With no file at `path`, the whole document is written as shown.
  // Nothing is written when no page changed. On failure `path` is left as it was.
  bool writeRotationChangesToFile(const QString& path, QString* error = nullptr);
  // Writes a print of the document to `path` as writeToFile does: sheet n shows page
  // pages[n] as shown, unchanged (vectors and text), centred in `area` of a `paper`-sized sheet
  // (points, top-left origin); `fit` scales it to fill the area. A page in `turned` is laid on
  // a landscape sheet turned upright.
  bool writePrintToFile(const QString& path, const QList<int>& pages, const QSizeF& paper, const QRectF& area, bool fit,
                        const QList<int>& turned = {}, QString* error = nullptr) const;

  // Finds every occurrence of `text` (synchronously, on the calling thread).
  QList<PDFSelection> findString(const QString& text, int options = CaseInsensitiveSearch) const;
  // Starts an asynchronous find; cancels a running one. Matches go to the delegate in page order
  // (as the pages are searched, several at a time); the end is posted as
  // PDFDocumentDidEndFindNotification.
  void beginFindString(const QString& text, int options = CaseInsensitiveSearch);
  bool isFinding() const;
  // Stops the running find; its later results are dropped and it posts no end.
  void cancelFindString();
  void setDelegate(PDFDocumentDelegate* delegate);
  PDFDocumentDelegate* delegate() const;

  // Rendering and text on worker threads use their own Poppler document of the same file.
  static std::unique_ptr<Poppler::Document> loadPoppler(const QString& path);
  // Renders page `index` of `doc` at `scale` with `extraRotation` (degrees) on top of /Rotate;
  // a non-empty `region` (pixels of the whole rendered page) renders only that part.
  // Answers a null image when `abort` is raised before the render is done.
  static QImage renderPage(Poppler::Document& doc, int index, double scale, int extraRotation, QRect region = QRect(),
                           const std::atomic<bool>* abort = nullptr);
  // Every occurrence of `text` in the page's words, in reading order; matches never span lines.
  static QList<PageMatch> searchPage(Poppler::Document& doc, int index, const QString& text, int options);
  // Characters of context kept on each side of a match.
  static constexpr int kContextLength = 80;
  // An asynchronous find searches on up to kFindThreads threads (no more than the cores), one
  // for every kFindPagesPerThread pages.
  static constexpr int kFindThreads = 4;
  static constexpr int kFindPagesPerThread = 8;
  static int findThreadCount(int pages);

  // The user's rotation of page `index` (thread-safe); renderers read it.
  int userRotation(int index) const;

 private:
  friend class PDFPage;
  struct FindState;
  struct FindRun;
  struct PageInfo {
    bool known = false;
    int fileRotation = 0;
    QSizeF size;
  };

  const PageInfo& info(int index) const;  // requires mutex_
  // writeToFile() with page i of `source` turned to rotations[i] (detail::kKeepRotation: as it is).
  bool writeRotations(const QString& path, const QString& source, const std::vector<int>& rotations,
                      QString* error) const;
  // Runs `write` (a temporary file name to a failure reason, "" for success) and moves the
  // checked, flushed result onto `path`.
  bool writeAtomically(const QString& path, const std::function<std::string(const std::string&)>& write,
                       QString* error) const;
  void joinFinishedFinds();
  static void reportFind(const std::shared_ptr<FindState>& state, std::uint64_t gen, FindRun& run);

  QString path_;
  int fd_ = -1;  // the opened file, held for contentPath()
  std::unique_ptr<Poppler::Document> poppler_;
  std::vector<std::unique_ptr<PDFPage>> pages_;
  mutable std::vector<PageInfo> infos_;
  std::unique_ptr<std::atomic<int>[]> userRotation_;
  std::vector<int> writtenUserRotation_;  // the user's rotations as last written back (0 at open)
  mutable std::recursive_mutex mutex_;  // guards poppler_ and infos_

  std::shared_ptr<FindState> find_;
  std::vector<std::shared_ptr<foundation::Worker>> findThreads_;
};

// Draws pages as vector graphics and text onto a painter (a printer, a PDF writer), from its
// own Poppler document of the content. Used on one thread at a time.
class PDFPagePainter {
 public:
  explicit PDFPagePainter(const PDFDocument& document);
  ~PDFPagePainter();
  PDFPagePainter(const PDFPagePainter&) = delete;
  PDFPagePainter& operator=(const PDFPagePainter&) = delete;

  bool isValid() const { return doc_ != nullptr; }
  // Draws page `index` as shown (its rotation() applied) into `target`, in the painter's
  // coordinates; the page is stretched to the rectangle, so give it the page's proportions.
  bool drawPage(int index, QPainter& painter, const QRectF& target) const;

 private:
  const PDFDocument& document_;
  std::unique_ptr<Poppler::Document> doc_;
};

}  // namespace pdfkit
