#include "modules/pdf/PDFModul.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPrintDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QThread>
#include <QWidget>

#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"
#include "platform/pdfkit/PDFView.h"
#include "core/XVErrorTexts.h"
#include "core/XVNotifications.h"
#include "core/XVPreviewInfo.h"

namespace {
void logLine(const QString& line) { foundation::log(foundation::LogLevel::Debug, "pdfmodul", line.toStdString()); }
}  // namespace

bool copyFileAtomically(const QString& source, const QString& destination, QString* error) {
  auto fail = [&](const QString& why) {
    foundation::log(foundation::LogLevel::Error, "pdfmodul",
                    QStringLiteral("copy %1 -> %2 failed: %3").arg(source, destination, why).toStdString());
    if (error) *error = why;
    return false;
  };
  QFile in(source);
  if (!in.open(QIODevice::ReadOnly)) return fail(in.errorString());
  QSaveFile out(destination);
  if (!out.open(QIODevice::WriteOnly)) return fail(out.errorString());
  qint64 copied = 0;
  QByteArray buffer;
  for (;;) {
    buffer = in.read(1 << 20);
    if (buffer.isEmpty()) break;
    if (out.write(buffer) != buffer.size()) {
      out.cancelWriting();
      return fail(out.errorString());
    }
    copied += buffer.size();
  }
  if (in.error() != QFileDevice::NoError || copied != in.size()) {
    out.cancelWriting();
    return fail(QStringLiteral("short read of the source"));
  }
  if (!out.commit()) return fail(out.errorString());
  return true;
}

PDFModul::PDFModul(const QString&) {}

PDFModul::~PDFModul() {
  endFindObserver_.stop();
  if (document_) document_->setDelegate(nullptr);
  auto* app = QCoreApplication::instance();
  if (controller_ && controller_->isViewLoaded() && app && QThread::currentThread() != app->thread()) {
    // Released off the GUI thread: the widgets may still paint the documents, so both go on
    // the GUI thread, the widgets first.
    struct Remains {
      std::unique_ptr<pdfkit::PDFDocument> document;
      std::vector<std::unique_ptr<pdfkit::PDFDocument>> retired;
      std::shared_ptr<DocumentViewController> controller;
    };
    auto remains = std::make_shared<Remains>(Remains{std::move(document_), std::move(retired_), std::move(controller_)});
    foundation::Dispatcher::postMain([remains]() mutable { remains.reset(); });
    return;
  }
  controller_.reset();
}

void PDFModul::registerModul() {
  DocumentModul::registerModuleClass(Kind::PDF, [](const QString& path) { return std::make_shared<PDFModul>(path); });
}

std::shared_ptr<DocumentViewController> PDFModul::makeDocumentView() { return std::make_shared<PDFDocumentView>(); }

// ---- import -------------------------------------------------------------------------------

void PDFModul::doStartImport() {
  const QString source = sourcePath();
  const QString out = outPath();
  if (!out.isEmpty()) {
    QString error;
    if (!copyFileAtomically(source, out, &error)) {
      sendEnd(false, error.isEmpty() ? XVErrorText::conversionFailed() : error);
      return;
    }
  }
  // The module shows the source; the cached copy takes the rotations when the tab closes.
  finishImport(source, XVErrorText::conversionFailed());
}

bool PDFModul::importWithResultPath(const QString& path) {
  auto why = pdfkit::PDFDocument::OpenFailure::None;
  auto document = pdfkit::PDFDocument::initWithURL(path, &why);
  if (!document) {
    logLine(QStringLiteral("cannot open %1").arg(path));
    if (why == pdfkit::PDFDocument::OpenFailure::Locked) setOpenFailureReason(XVErrorText::passwordProtected());
    return false;
  }
  if (document->pageCount() <= 0) {
    logLine(QStringLiteral("no pages in %1").arg(path));
    setOpenFailureReason(XVErrorText::noPages());
    return false;
  }
  if (document_) {
    // The view may still show the old document until the refresh below has run.
    document_->cancelFindString();
    document_->setDelegate(nullptr);
    retired_.push_back(std::move(document_));
  }
  document_ = std::move(document);
  endFindObserver_.setDocument(document_.get());
  if (!controller_) controller_ = makeDocumentView();
  controller_->setPDFDocumentViewData(document_.get());
  if (refreshesViewOnOpen()) controller_->refreshdata();
  return true;
}

// ---- view placement -----------------------------------------------------------------------

QWidget* PDFModul::documentView() {
  if (!document_ || !controller_) return nullptr;
  QWidget* view = controller_->view();
  if (!view) return nullptr;
  controller_->ChangeDidView(sideListHidden_);
  if (viewFrame().isValid()) view->setGeometry(viewFrame().toRect());
  return view;
}

void PDFModul::ResetViewSize(const QRectF& frame) {
  ImportInterface::ResetViewSize(frame);
  std::weak_ptr<DocumentViewController> weak = controller_;
  auto apply = [weak, frame] {
    if (auto c = weak.lock(); c && c->isViewLoaded()) c->view()->setGeometry(frame.toRect());
  };
  if (foundation::Dispatcher::isMainThread()) {
    apply();
  } else {
    foundation::Dispatcher::postMain(apply);
  }
}

void PDFModul::reloadDocumentViewData() {
  if (controller_) controller_->refreshdata();
}

pdfkit::PDFView* PDFModul::pageView() { return document_ && controller_ ? controller_->pdfView() : nullptr; }

// ---- navigation ---------------------------------------------------------------------------

pdfkit::PDFPage* PDFModul::currentPage() {
  auto* v = pageView();
  return v ? v->currentPage() : nullptr;
}

qint64 PDFModul::currentNumberPage() {
  pdfkit::PDFPage* page = currentPage();
  return page && document_ ? document_->indexForPage(page) : 0;
}

qint64 PDFModul::DocumentcountPage() { return document_ ? document_->pageCount() : 0; }

void PDFModul::goFirstPage() { if (auto* v = pageView()) v->goToFirstPage(); }
void PDFModul::goPreviousPage() { if (auto* v = pageView()) v->goToPreviousPage(); }
void PDFModul::goNextPage() { if (auto* v = pageView()) v->goToNextPage(); }
void PDFModul::goLastPage() { if (auto* v = pageView()) v->goToLastPage(); }

void PDFModul::goPageAtIndex(qint64 index) {
  if (!document_ || index < 0 || index >= document_->pageCount()) return;
  pdfkit::PDFPage* page = document_->pageAtIndex(static_cast<int>(index));
  if (auto* v = pageView(); v && page) v->goToPage(page);
}

qint64 PDFModul::curPageIndex() {
  pdfkit::PDFPage* page = currentPage();
  return page ? page->label().toLongLong() - 1 : -1;
}

// ---- side list and display modes ----------------------------------------------------------

void PDFModul::setShowThumbnailList(bool hideSideList) {
  sideListHidden_ = hideSideList;
  if (controller_) controller_->ChangeDidView(hideSideList);
}

int PDFModul::displayModeFor(bool one, bool continuous) {
  if (one) return continuous ? pdfkit::PDFView::kPDFDisplaySinglePageContinuous : pdfkit::PDFView::kPDFDisplaySinglePage;
  return continuous ? pdfkit::PDFView::kPDFDisplayTwoUpContinuous : pdfkit::PDFView::kPDFDisplayTwoUp;
}

void PDFModul::applyDisplayMode() {
  auto* v = pageView();
  if (!v) return;
  pdfkit::PDFPage* page = v->currentPage();
  v->setDisplayMode(static_cast<pdfkit::PDFView::DisplayMode>(displayModeFor(oneOrTwoPageIsOne_, pageContinue_)));
  if (page) v->goToPage(page);
}

void PDFModul::setshowPageContinue(bool on) {
  pageContinue_ = on;
  applyDisplayMode();
}

void PDFModul::setshowOneOrTwoPageIsOne(bool one) {
  const bool changed = one != oneOrTwoPageIsOne_;
  oneOrTwoPageIsOne_ = one;
  applyDisplayMode();
  // A row of two pages at the old scale runs off the side: fit the new rows to the width.
  if (changed) setAutoResize(true);
}

// ---- zoom ---------------------------------------------------------------------------------

void PDFModul::setZoomIn() {
  if (auto* v = pageView()) setScale(v->scaleFactor() * kZoomStep);
}

void PDFModul::setZoomOut() {
  if (auto* v = pageView()) setScale(v->scaleFactor() / kZoomStep);
}

void PDFModul::setScale(double scale) {
  auto* v = pageView();
  if (!v) return;
  v->setScaleFactor(scale);
  if (previewInfo_) {
    previewInfo_->setZoomValue(v->scaleFactor());
    previewInfo_->setWidthStretch(false);
  }
}

void PDFModul::setAutoResize(bool fitWidth) {
  auto* v = pageView();
  if (!v) return;
  v->setAutoScales(fitWidth);
  if (previewInfo_) previewInfo_->setWidthStretch(fitWidth);
}

// ---- rotation and write-back --------------------------------------------------------------

void PDFModul::rotatePage(pdfkit::PDFPage* page, qint64 plusAngle) {
  if (!page) return;
  page->setRotation(page->rotation() + static_cast<int>(plusAngle % 360));
}

void PDFModul::refreshAfterRotation(pdfkit::PDFPage* goBackTo) {
  auto* v = pageView();
  if (!v) return;
  v->layoutDocumentView();
  controller_->setPDFDocumentViewData(document_.get());
  controller_->setNeedShow();
  if (goBackTo) v->goToPage(goBackTo);
}

void PDFModul::rotateCurPageleft() { rotateCurPage(-90); }

void PDFModul::rotateCurPage(qint64 degrees) {
  if (!document_) return;
  pdfkit::PDFPage* page = currentPage();
  if (!page) return;
  rotatePage(page, degrees);
  refreshAfterRotation(page);
}

void PDFModul::rotateAllPageleft() { rotateAllPage(-90); }

void PDFModul::rotateAllPage(qint64 degrees) {
  if (!document_) return;
  pdfkit::PDFPage* page = currentPage();
  for (int i = 0; i < document_->pageCount(); ++i) rotatePage(document_->pageAtIndex(i), degrees);
  refreshAfterRotation(page);
}

bool PDFModul::needSaveDocument() {
  logLine(QStringLiteral("writing the changed document back to %1").arg(outPath()));
  if (!document_ || outPath().isEmpty()) return false;
  // Only the pages this tab turned, onto the cached copy as it is now: the source may have
  // changed or gone since, and another tab of the same content may have written its own pages.
  QString error;
  if (!document_->writeRotationChangesToFile(outPath(), &error)) return false;
  needSave_ = false;
  return true;
}

// ---- printing -----------------------------------------------------------------------------

void PDFModul::print() {
  auto* v = pageView();
  if (!v) return;
  // The printer's own resolution: pages go out as vectors, not as a screen-sized raster.
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(QFileInfo(sourcePath()).fileName());
  QPrintDialog dialog(&printer, v->window());
  dialog.setMinMax(1, static_cast<int>(document_->pageCount()));
  dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintPageRange |
                    QAbstractPrintDialog::PrintCollateCopies | QAbstractPrintDialog::PrintCurrentPage |
                    QAbstractPrintDialog::PrintShowPageSize);
  if (dialog.exec() != QDialog::Accepted) return;
  printWithPrinter(&printer);
}

bool PDFModul::printWithPrinter(QPrinter* printer) {
  auto* v = pageView();
  return v && v->printWithInfo(printer, false, pdfkit::PDFView::kPDFPrintPageScaleToFit);
}

// ---- search -------------------------------------------------------------------------------

void PDFModul::searchContent(const QString& text) {
  SearchContent_ = text;
  if (!document_) return;
  if (!searchString_.isNull() && searchString_ == text) return;
  if (document_->isFinding()) document_->cancelFindString();
  searchResultArray_.clear();
  if (!text.isEmpty()) {
    if (previewInfo_) previewInfo_->setSearchString(text);
    searchString_ = text;
    document_->setDelegate(this);
    document_->beginFindString(text, pdfkit::CaseInsensitiveSearch);
    return;
  }
  setShowThumbnailList(sideListHidden_);
  setHideSearchView(true);
  if (auto* v = pageView()) v->setHighlightedSelections({});
  searchString_ = QString();
  if (previewInfo_) previewInfo_->setSearchString(QString());
}

void PDFModul::setHideSearchView(bool hide) {
  if (controller_) controller_->setPDFBrowser(!hide);
}

void PDFModul::didMatchString(const pdfkit::PDFSelection& selection) {
  logLine(QStringLiteral("MatchString : %1").arg(selection.string()));
  searchResultArray_.append(selection);
}

void PDFModul::endFind() {
  if (!controller_) return;
  controller_->setSearchResultViewState();
  controller_->setSearchResultViewData(searchResultArray_);
  if (auto* v = pageView()) v->setHighlightedSelections(searchResultArray_);
  setShowThumbnailList(false);
  foundation::NotificationCenter::defaultCenter().post(SearchForThunbnailNotification);
}

void PDFModul::searchEndState() {
  if (controller_) controller_->setSearchResultViewHidden();
}

// ---- formats ------------------------------------------------------------------------------

QList<Format> PDFModul::SupportSaveFormats() const {
  QList<Format> out;
  for (const char* name : {"PDF", "TEXT", "PNG", "JPEG", "BMP", "GIF", "TIFF"}) out.append(Format::formatNamed(QLatin1String(name)));
  return out;
}

QList<Format> PDFModul::SupportExtractFormats() const {
  QList<Format> out;
  for (const char* name : {"PNG", "JPEG", "BMP", "GIF", "TIFF"}) out.append(Format::formatNamed(QLatin1String(name)));
  return out;
}
