#pragma once
// The page view: shows a PDFDocument in one of four layouts, zooms, navigates, highlights
// selections and prints. Only the visible pages are drawn; they are rendered off the GUI
// thread into a bounded cache, and the GUI thread never waits for a render.

#include <QAbstractScrollArea>
#include <QCache>
#include <QList>
#include <QSet>
#include <QVector>

#include <memory>

#include "platform/pdfkit/PDFDocument.h"

class QPrinter;

namespace pdfkit {

class PageRenderQueue;

class PDFView : public QAbstractScrollArea {
  Q_OBJECT
 public:
  enum DisplayMode {
    kPDFDisplaySinglePage = 0,
    kPDFDisplaySinglePageContinuous = 1,
    kPDFDisplayTwoUp = 2,
    kPDFDisplayTwoUpContinuous = 3,
  };
  enum PageScaling { kPDFPrintPageScaleNone = 0, kPDFPrintPageScaleToFit = 1 };
  static constexpr double kMinScale = 0.1;
  static constexpr double kMaxScale = 10.0;
  static constexpr int kPageSpacing = 10;

  explicit PDFView(QWidget* parent = nullptr);
  ~PDFView() override;

  // The view keeps a plain reference; the owner keeps the document alive while it is shown.
  void setDocument(PDFDocument* document);
  PDFDocument* document() const { return document_; }

  DisplayMode displayMode() const { return mode_; }
  void setDisplayMode(DisplayMode mode);

  double scaleFactor() const { return scale_; }
  // Clamped to [kMinScale, kMaxScale]; ends automatic scaling.
  void setScaleFactor(double scale);
  bool autoScales() const { return autoScales_; }
  // Fits the widest row of pages to the view's width, also after every resize.
  void setAutoScales(bool on);

  PDFPage* currentPage() const;
  void goToPage(PDFPage* page);
  void goToFirstPage();
  void goToPreviousPage();
  void goToNextPage();
  void goToLastPage();
  void goToSelection(const PDFSelection& selection);

  PDFSelection currentSelection() const { return currentSelection_; }
  void setCurrentSelection(const PDFSelection& selection, bool animate = false);
  QList<PDFSelection> highlightedSelections() const { return highlights_; }
  void setHighlightedSelections(const QList<PDFSelection>& selections);

  // Recomputes the layout after pages changed size or rotation.
  void layoutDocumentView();

  // Prints the pages the printer's settings ask for (all, a range, the current page; copies
  // and collation), each on its own sheet, centred, as vectors and text at the printer's
  // resolution. No for nothing to print or a failed sheet.
  bool printWithInfo(QPrinter* printer, bool autoRotate, PageScaling scaling);
  // The page indexes, sheet by sheet, that `printer` asks for out of `pageCount` pages.
  // Copies are repeated here only where the print system does not make them itself.
  static QList<int> printedPages(const QPrinter& printer, int pageCount, int currentIndex);

  // Where page `index` lies in the scrolled content (empty when it is not laid out).
  QRectF pageRect(int index) const;
  // Where `bounds` (page points) of page `index` lies in the scrolled content.
  QRectF rectForPageBounds(int index, const QRectF& bounds) const;
  // Yes when the visible part of page `index` is drawn from finished renders at the current
  // scale (no for a page out of view).
  bool isPageRendered(int index) const;
  // KiB of rendered tiles held (none while the view is hidden).
  int renderCacheCost() const { return static_cast<int>(cache_.totalCost()); }
  // Pages are rendered in square tiles of this many device pixels.
  static constexpr int kTileSize = 2048;

 signals:
  // The current page changed.
  void pageChanged();
  void scaleChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void keyPressEvent(QKeyEvent* event) override;
  // A hidden view (another tab's) gives its rendered tiles back.
  void hideEvent(QHideEvent* event) override;

 private:
  struct CacheKey;
  void relayout();
  void updateScrollBars();
  void setCurrentIndex(int index, bool emitChange = true);
  void scrollToPage(int index);
  void updateCurrentFromScroll();
  int step() const;
  bool continuous() const;
  bool twoUp() const;
  struct Tile {
    int index;
    int tx, ty;
    QRect pixels;   // in the whole rendered page
    QRectF target;  // in the scrolled content
  };
  QList<Tile> visibleTiles(int index, const QRectF& visible) const;
  QRectF visibleContent() const;
  quint64 cacheKey(const Tile& tile) const;
  double pixelScale() const;
  void requestRender(const Tile& tile);

  PDFDocument* document_ = nullptr;
  std::unique_ptr<PageRenderQueue> queue_;
  quint64 documentGeneration_ = 0;
  DisplayMode mode_ = kPDFDisplaySinglePageContinuous;
  double scale_ = 1.0;
  bool autoScales_ = false;
  int current_ = -1;
  bool scrollingByCode_ = false;
  QVector<QRectF> rects_;
  QSizeF contentSize_;
  QCache<quint64, QImage> cache_;
  QSet<quint64> pending_;
  QList<PDFSelection> highlights_;
  PDFSelection currentSelection_;
};

}  // namespace pdfkit
