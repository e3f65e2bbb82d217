#include "platform/pdfkit/PDFView.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QPageRanges>
#include <QPrinter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

#include "platform/pdfkit/PageRenderQueue.h"

namespace pdfkit {

namespace {
constexpr int kCacheKiB = 192 * 1024;
constexpr int kMargin = 10;

// Maps a rectangle in page points (the page's own orientation, size `s`) into the page as
// shown after a further clockwise rotation `r`.
QRectF rotateRect(const QRectF& b, const QSizeF& s, int r) {
  switch (r) {
    case 90: return QRectF(s.height() - b.bottom(), b.left(), b.height(), b.width());
    case 180: return QRectF(s.width() - b.right(), s.height() - b.bottom(), b.width(), b.height());
    case 270: return QRectF(b.top(), s.width() - b.right(), b.height(), b.width());
    default: return b;
  }
}
}  // namespace

PDFView::PDFView(QWidget* parent) : QAbstractScrollArea(parent), cache_(kCacheKiB) {
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setBackgroundRole(QPalette::Dark);
  viewport()->setAutoFillBackground(true);
}

PDFView::~PDFView() { queue_.reset(); }

bool PDFView::continuous() const { return mode_ == kPDFDisplaySinglePageContinuous || mode_ == kPDFDisplayTwoUpContinuous; }
bool PDFView::twoUp() const { return mode_ == kPDFDisplayTwoUp || mode_ == kPDFDisplayTwoUpContinuous; }
int PDFView::step() const { return twoUp() ? 2 : 1; }

void PDFView::setDocument(PDFDocument* document) {
  if (document != document_) {
    queue_.reset();
    ++documentGeneration_;
    cache_.clear();
    pending_.clear();
    highlights_.clear();
    currentSelection_ = PDFSelection();
    document_ = document;
    if (document_ && !document_->documentPath().isEmpty())
      queue_ = std::make_unique<PageRenderQueue>(document_->contentPath());
    current_ = -1;
    relayout();
    setCurrentIndex(document_ && document_->pageCount() > 0 ? 0 : -1);
    scrollToPage(current_);
  } else {
    layoutDocumentView();
  }
  viewport()->update();
}

void PDFView::setDisplayMode(DisplayMode mode) {
  if (mode == mode_) return;
  const int keep = current_;
  mode_ = mode;
  relayout();
  scrollToPage(keep);
  viewport()->update();
}

void PDFView::setScaleFactor(double scale) {
  if (!std::isfinite(scale)) return;
  autoScales_ = false;
  const double s = std::clamp(scale, kMinScale, kMaxScale);
  if (s == scale_) return;
  const int keep = current_;
  scale_ = s;
  relayout();
  scrollToPage(keep);
  viewport()->update();
  emit scaleChanged();
}

void PDFView::setAutoScales(bool on) {
  autoScales_ = on;
  if (!on) return;
  const int keep = current_;
  relayout();
  scrollToPage(keep);
  viewport()->update();
}

void PDFView::layoutDocumentView() {
  const int keep = current_;
  relayout();
  scrollToPage(keep);
  viewport()->update();
}

PDFPage* PDFView::currentPage() const { return document_ ? document_->pageAtIndex(current_) : nullptr; }

void PDFView::setCurrentIndex(int index, bool emitChange) {
  if (index == current_) return;
  current_ = index;
  if (emitChange) emit pageChanged();
}

void PDFView::goToPage(PDFPage* page) {
  if (!document_ || !page || document_->indexForPage(page) < 0) return;
  const int index = page->index();
  const bool rowChanged = !continuous() && (current_ < 0 || index / step() != current_ / step());
  setCurrentIndex(index);
  if (rowChanged) relayout();
  scrollToPage(index);
  viewport()->update();
}

void PDFView::goToFirstPage() { if (document_) goToPage(document_->pageAtIndex(0)); }
void PDFView::goToLastPage() { if (document_) goToPage(document_->pageAtIndex(document_->pageCount() - 1)); }

void PDFView::goToPreviousPage() {
  if (!document_ || current_ <= 0) return;
  goToPage(document_->pageAtIndex(std::max(0, (current_ / step()) * step() - step())));
}

void PDFView::goToNextPage() {
  if (!document_) return;
  const int next = (current_ / step()) * step() + step();
  if (next < document_->pageCount()) goToPage(document_->pageAtIndex(next));
}

void PDFView::goToSelection(const PDFSelection& selection) {
  if (!document_ || selection.isNull() || selection.page()->document() != document_) return;
  goToPage(selection.page());
  const QRectF r = rectForPageBounds(selection.page()->index(), selection.bounds());
  if (r.isEmpty()) return;
  scrollingByCode_ = true;
  const QRect vp = viewport()->rect();
  if (r.bottom() > verticalScrollBar()->value() + vp.height() || r.top() < verticalScrollBar()->value())
    verticalScrollBar()->setValue(static_cast<int>(r.center().y() - vp.height() / 2.0));
  if (r.right() > horizontalScrollBar()->value() + vp.width() || r.left() < horizontalScrollBar()->value())
    horizontalScrollBar()->setValue(static_cast<int>(r.center().x() - vp.width() / 2.0));
  scrollingByCode_ = false;
  viewport()->update();
}

void PDFView::setCurrentSelection(const PDFSelection& selection, bool) {
  currentSelection_ = selection;
  viewport()->update();
}

void PDFView::setHighlightedSelections(const QList<PDFSelection>& selections) {
  highlights_ = selections;
  viewport()->update();
}

QRectF PDFView::pageRect(int index) const {
  return index >= 0 && index < rects_.size() ? rects_[index] : QRectF();
}

QRectF PDFView::rectForPageBounds(int index, const QRectF& bounds) const {
  const QRectF pr = pageRect(index);
  PDFPage* page = document_ ? document_->pageAtIndex(index) : nullptr;
  if (pr.isEmpty() || !page) return QRectF();
  const QRectF shown = rotateRect(bounds, page->size(), document_->userRotation(index));
  const QSizeF ds = page->displaySize();
  if (ds.width() <= 0 || ds.height() <= 0) return QRectF();
  const double k = pr.width() / ds.width();
  return QRectF(pr.left() + shown.left() * k, pr.top() + shown.top() * k, shown.width() * k, shown.height() * k);
}

void PDFView::relayout() {
  const int n = document_ ? document_->pageCount() : 0;
  rects_.fill(QRectF(), n);
  if (n == 0) {
    contentSize_ = QSizeF();
    updateScrollBars();
    return;
  }
  const int per = step();
  int firstRow = 0;
  int lastRow = (n - 1) / per;
  if (!continuous()) firstRow = lastRow = std::max(0, current_) / per;

  // Rows in points first; the scale follows for fit-to-width.
  double widest = 0;
  for (int row = firstRow; row <= lastRow; ++row) {
    double w = 0;
    for (int i = row * per; i < std::min(n, row * per + per); ++i) w += document_->pageAtIndex(i)->displaySize().width();
    widest = std::max(widest, w);
  }
  if (autoScales_ && widest > 0) {
    const double avail = viewport()->width() - 2 * kMargin - (per - 1) * kPageSpacing - verticalScrollBar()->sizeHint().width();
    const double s = std::clamp(avail / widest, kMinScale, kMaxScale);
    if (s != scale_) {
      scale_ = s;
      emit scaleChanged();
    }
  }
  const double contentWidth = std::max<double>(widest * scale_ + (per - 1) * kPageSpacing + 2 * kMargin, viewport()->width());
  double y = kMargin;
  for (int row = firstRow; row <= lastRow; ++row) {
    double rowW = 0, rowH = 0;
    const int first = row * per, last = std::min(n, first + per);
    for (int i = first; i < last; ++i) {
      const QSizeF s = document_->pageAtIndex(i)->displaySize() * scale_;
      rowW += s.width();
      rowH = std::max(rowH, s.height());
    }
    rowW += (last - first - 1) * kPageSpacing;
    double x = (contentWidth - rowW) / 2.0;
    for (int i = first; i < last; ++i) {
      const QSizeF s = document_->pageAtIndex(i)->displaySize() * scale_;
      rects_[i] = QRectF(QPointF(std::round(x), std::round(y + (rowH - s.height()) / 2.0)),
                         QSizeF(std::round(s.width()), std::round(s.height())));
      x += s.width() + kPageSpacing;
    }
    y += rowH + kPageSpacing;
  }
  contentSize_ = QSizeF(contentWidth, y - kPageSpacing + kMargin);
  updateScrollBars();
}

void PDFView::updateScrollBars() {
  scrollingByCode_ = true;
  const QSize vp = viewport()->size();
  verticalScrollBar()->setPageStep(vp.height());
  verticalScrollBar()->setSingleStep(20);
  verticalScrollBar()->setRange(0, std::max(0, static_cast<int>(std::ceil(contentSize_.height())) - vp.height()));
  horizontalScrollBar()->setPageStep(vp.width());
  horizontalScrollBar()->setSingleStep(20);
  horizontalScrollBar()->setRange(0, std::max(0, static_cast<int>(std::ceil(contentSize_.width())) - vp.width()));
  scrollingByCode_ = false;
}

void PDFView::scrollToPage(int index) {
  const QRectF r = pageRect(index);
  if (r.isNull()) return;
  scrollingByCode_ = true;
  verticalScrollBar()->setValue(static_cast<int>(r.top()) - kMargin);
  scrollingByCode_ = false;
}

void PDFView::updateCurrentFromScroll() {
  if (!continuous() || rects_.isEmpty()) return;
  const double probe = verticalScrollBar()->value() + viewport()->height() * 0.25;
  int best = -1;
  for (int i = 0; i < rects_.size(); ++i) {
    if (rects_[i].isNull()) continue;
    if (rects_[i].top() <= probe) best = i;
    else break;
  }
  if (best < 0) best = 0;
  best = (best / step()) * step();
  if (current_ < 0 || best / step() != current_ / step()) setCurrentIndex(best);
}

void PDFView::scrollContentsBy(int, int) {
  if (!scrollingByCode_) updateCurrentFromScroll();
  viewport()->update();
}

void PDFView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  const int keep = current_;
  relayout();
  if (autoScales_) scrollToPage(keep);
}

void PDFView::hideEvent(QHideEvent* event) {
  QAbstractScrollArea::hideEvent(event);
  if (queue_) queue_->clear();
  ++documentGeneration_;  // renders still in flight are dropped too
  pending_.clear();
  cache_.clear();
}

void PDFView::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Home: goToFirstPage(); return;
    case Qt::Key_End: goToLastPage(); return;
    case Qt::Key_PageUp:
      if (!continuous()) { goToPreviousPage(); return; }
      break;
    case Qt::Key_PageDown:
      if (!continuous()) { goToNextPage(); return; }
      break;
    default: break;
  }
  QAbstractScrollArea::keyPressEvent(event);
}

QRectF PDFView::visibleContent() const {
  return QRectF(viewport()->rect()).translated(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

QList<PDFView::Tile> PDFView::visibleTiles(int index, const QRectF& visible) const {
  QList<Tile> tiles;
  const QRectF r = pageRect(index);
  PDFPage* page = document_ ? document_->pageAtIndex(index) : nullptr;
  if (r.isNull() || !page) return tiles;
  const QRectF shown = r.intersected(visible);
  if (shown.isEmpty()) return tiles;
  const double ps = pixelScale();
  const QSizeF full = page->displaySize() * ps;
  const int w = std::max(1, static_cast<int>(std::ceil(full.width())));
  const int h = std::max(1, static_cast<int>(std::ceil(full.height())));
  // The shown part in page pixels, then the tiles over it.
  const double k = full.width() / std::max(1.0, r.width());
  const int x0 = std::clamp(static_cast<int>((shown.left() - r.left()) * k), 0, w - 1) / kTileSize;
  const int x1 = std::clamp(static_cast<int>(std::ceil((shown.right() - r.left()) * k)) - 1, 0, w - 1) / kTileSize;
  const int y0 = std::clamp(static_cast<int>((shown.top() - r.top()) * k), 0, h - 1) / kTileSize;
  const int y1 = std::clamp(static_cast<int>(std::ceil((shown.bottom() - r.top()) * k)) - 1, 0, h - 1) / kTileSize;
  for (int ty = y0; ty <= y1; ++ty) {
    for (int tx = x0; tx <= x1; ++tx) {
      const QRect px(tx * kTileSize, ty * kTileSize, std::min(kTileSize, w - tx * kTileSize), std::min(kTileSize, h - ty * kTileSize));
      const QRectF target(r.left() + px.x() / k, r.top() + px.y() / k, px.width() / k, px.height() / k);
      tiles.append(Tile{index, tx, ty, px, target});
    }
  }
  return tiles;
}

double PDFView::pixelScale() const { return scale_ * devicePixelRatioF(); }

quint64 PDFView::cacheKey(const Tile& t) const {
  const quint64 milli = static_cast<quint64>(std::llround(pixelScale() * 1000.0)) & 0xFFFFFF;
  const quint64 rot = static_cast<quint64>(document_->userRotation(t.index) / 90);
  return (milli << 40) | (static_cast<quint64>(t.ty & 0xFF) << 32) | (static_cast<quint64>(t.tx & 0xFF) << 24) |
         (rot << 22) | static_cast<quint64>(t.index & 0x3FFFFF);
}

bool PDFView::isPageRendered(int index) const {
  const QList<Tile> tiles = visibleTiles(index, visibleContent());
  if (tiles.isEmpty()) return false;
  for (const Tile& t : tiles)
    if (!cache_.contains(cacheKey(t))) return false;
  return true;
}

void PDFView::requestRender(const Tile& tile) {
  if (!queue_) return;
  const quint64 key = cacheKey(tile);
  if (pending_.contains(key)) return;
  pending_.insert(key);
  const quint64 generation = documentGeneration_;
  PDFView* view = this;
  queue_->request(tile.index, pixelScale(), document_->userRotation(tile.index), [view, key, generation](QImage image) {
    QMetaObject::invokeMethod(view, [view, key, generation, image = std::move(image)]() mutable {
      if (generation != view->documentGeneration_) return;
      view->pending_.remove(key);
      if (image.isNull()) return;
      image.setDevicePixelRatio(view->devicePixelRatioF());
      const int cost = std::max<qsizetype>(1, image.sizeInBytes() / 1024);
      view->cache_.insert(key, new QImage(std::move(image)), cost);
      view->viewport()->update();
    }, Qt::QueuedConnection);
  }, 0, tile.pixels);
}

void PDFView::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  if (!document_) return;
  const QPointF offset(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
  const QRectF visible = visibleContent();
  QList<Tile> missing;
  for (int i = 0; i < rects_.size(); ++i) {
    const QRectF r = rects_[i];
    if (r.isNull() || !r.intersects(visible)) continue;
    const QRectF target = r.translated(offset);
    p.fillRect(target, Qt::white);
    for (const Tile& t : visibleTiles(i, visible)) {
      if (QImage* img = cache_.object(cacheKey(t))) {
        p.drawImage(t.target.translated(offset), *img);
      } else {
        missing.append(t);
      }
    }
    p.setPen(QColor(0, 0, 0, 60));
    p.drawRect(target.adjusted(-0.5, -0.5, 0.5, 0.5));
  }
  auto drawSelection = [&](const PDFSelection& s, const QColor& color) {
    if (s.isNull() || s.page()->document() != document_) return;
    const QRectF r = rectForPageBounds(s.page()->index(), s.bounds());
    if (!r.isEmpty() && r.intersects(visible)) p.fillRect(r.translated(offset), color);
  };
  for (const PDFSelection& s : highlights_) drawSelection(s, QColor(255, 220, 0, 90));
  drawSelection(currentSelection_, QColor(40, 120, 255, 110));
  if (!missing.isEmpty() && queue_) {
    // Only what is on screen now is worth rendering; the queue serves the last request first.
    queue_->clear();
    pending_.clear();
    for (int i = static_cast<int>(missing.size()) - 1; i >= 0; --i) requestRender(missing[i]);
  }
}

QList<int> PDFView::printedPages(const QPrinter& printer, int pageCount, int currentIndex) {
  QList<int> pages;
  if (pageCount <= 0) return pages;
  const QPageRanges ranges = printer.pageRanges();
  if (printer.printRange() == QPrinter::CurrentPage) {
    if (currentIndex >= 0 && currentIndex < pageCount) pages.append(currentIndex);
  } else if (printer.printRange() == QPrinter::PageRange && !ranges.isEmpty()) {
    for (const QPageRanges::Range& r : ranges.toRangeList())
      for (int p = std::max(r.from, 1); p <= std::min(r.to, pageCount); ++p) pages.append(p - 1);
  } else {
    for (int i = 0; i < pageCount; ++i) pages.append(i);
  }
  // A PDF file, or a queue that cannot make copies, gets them written out.
  const bool system = printer.outputFormat() == QPrinter::NativeFormat && printer.supportsMultipleCopies();
  const int copies = system ? 1 : std::max(1, printer.copyCount());
  if (copies == 1) return pages;
  QList<int> out;
  if (printer.collateCopies()) {
    for (int c = 0; c < copies; ++c) out += pages;
  } else {
    for (const int p : std::as_const(pages))
      for (int c = 0; c < copies; ++c) out.append(p);
  }
  return out;
}

bool PDFView::printWithInfo(QPrinter* printer, bool autoRotate, PageScaling scaling) {
  if (!document_ || !printer) return false;
  const QList<int> pages = printedPages(*printer, document_->pageCount(), current_);
  if (pages.isEmpty()) return false;
  const bool fit = scaling == kPDFPrintPageScaleToFit;
  if (printer->outputFormat() == QPrinter::PdfFormat) {
    // A PDF file gets the pages themselves, text and all.
    const QPageLayout layout = printer->pageLayout();
    const QRectF paper = layout.fullRect(QPageLayout::Point);
    const QRectF area = layout.paintRect(QPageLayout::Point);
    QList<int> turned;
    if (autoRotate) {
      for (const int p : pages) {
        const QSizeF s = document_->pageAtIndex(p)->displaySize();
        if ((s.width() > s.height()) != (area.width() > area.height())) turned.append(p);
      }
    }
    return document_->writePrintToFile(printer->outputFileName(), pages, paper.size(), area, fit, turned);
  }
  const PDFPagePainter source(*document_);
  if (!source.isValid()) return false;
  QPainter painter;
  if (!painter.begin(printer)) return false;
  const QRectF area = printer->pageLayout().paintRectPixels(printer->resolution());
  const double pointToDevice = printer->resolution() / 72.0;
  bool ok = true;
  for (qsizetype n = 0; n < pages.size() && ok; ++n) {
    if (n > 0 && !printer->newPage()) {
      ok = false;
      break;
    }
    const int index = pages[n];
    QSizeF size = document_->pageAtIndex(index)->displaySize() * pointToDevice;
    const bool turn = autoRotate && (size.width() > size.height()) != (area.width() > area.height());
    if (turn) size.transpose();
    double k = 1.0;
    if (fit && size.width() > 0 && size.height() > 0)
      k = std::min(area.width() / size.width(), area.height() / size.height());
    const QSizeF out = size * k;
    painter.save();
    painter.translate((area.width() - out.width()) / 2.0, (area.height() - out.height()) / 2.0);
    QRectF target(QPointF(0, 0), out);
    if (turn) {
      painter.translate(out.width(), 0);
      painter.rotate(90);
      target = QRectF(QPointF(0, 0), out.transposed());
    }
    ok = source.drawPage(index, painter, target);
    painter.restore();
  }
  painter.end();
  return ok;
}

}  // namespace pdfkit
