#pragma once
// The module for PDF files, and the base of the PDF-based modules (Works, WordPerfect, XPS,
// DjVu, Visio): import, the page view controller and every viewer operation.

#include <QList>
#include <QString>

#include <memory>
#include <vector>

#include "core/DocumentModul.h"
#include "modules/pdf/PDFEndFindObserver.h"
#include "modules/view/DocumentViewController.h"
#include "platform/foundation/notification_center.h"
#include "platform/pdfkit/PDFDocument.h"

class QPrinter;
class XVPreviewInfo;

class PDFModul : public DocumentModul, public pdfkit::PDFDocumentDelegate {
 public:
  // The zoom step: the single-precision 1.2 widened to double.
  static constexpr double kZoomStep = static_cast<double>(1.2f);

  explicit PDFModul(const QString& filePath = QString());
  ~PDFModul() override;

  // Registers the module with the factory for the PDF extensions.
  static void registerModul();

  // Import
  bool importWithResultPath(const QString& path) override;
  pdfkit::PDFDocument* DocumentModulPDFDocument() override { return document_.get(); }

  // View placement
  QWidget* documentView() override;
  void ResetViewSize(const QRectF& frame) override;
  void reloadDocumentViewData() override;
  std::shared_ptr<DocumentViewController> documentViewController() const { return controller_; }

  // Navigation
  pdfkit::PDFPage* currentPage() override;
  qint64 currentNumberPage() override;
  qint64 DocumentcountPage() override;
  void goFirstPage() override;
  void goPreviousPage() override;
  void goNextPage() override;
  void goLastPage() override;
  void goPageAtIndex(qint64 index) override;
  qint64 curPageIndex();

  // Side list and display modes
  void setShowThumbnailList(bool hideSideList) override;
  bool isShow() const override { return sideListHidden_; }
  void setshowPageContinue(bool on) override;
  void setshowOneOrTwoPageIsOne(bool one) override;
  bool pageContinue() const override { return pageContinue_; }
  bool oneOrTwoPageIsOne() const override { return oneOrTwoPageIsOne_; }
  // The page view's display mode for the two flags.
  static int displayModeFor(bool oneOrTwoPageIsOne, bool pageContinue);

  // Zoom
  void setZoomIn() override;
  void setZoomOut() override;
  void setScale(double scale) override;
  void setAutoResize(bool fitWidth) override;

  // Rotation and write-back
  void rotatePage(pdfkit::PDFPage* page, qint64 plusAngle);
  void rotateCurPageleft() override;
  void rotateCurPage(qint64 degrees) override;
  void rotateAllPageleft() override;
  void rotateAllPage(qint64 degrees) override;
  void setNeedSave(bool v) override { needSave_ = v; }
  bool needSave() const override { return needSave_; }
  bool needSaveDocument() override;

  // Printing: the dialog, then every page scaled to fit, no auto-rotation.
  void print() override;
  bool printWithPrinter(QPrinter* printer);

  // Search
  void searchContent(const QString& text) override;
  void searchEndState() override;
  QString getSearchString() const override { return SearchContent_; }
  // The text of the search whose matches are shown; null once the search was cleared.
  QString searchString() const { return searchString_; }
  QList<pdfkit::PDFSelection> searchResultArray() const { return searchResultArray_; }
  void setHideSearchView(bool hide);
  void didMatchString(const pdfkit::PDFSelection& selection) override;

  QList<Format> SupportSaveFormats() const override;
  QList<Format> SupportExtractFormats() const override;

  void setPreviewInfo(std::shared_ptr<XVPreviewInfo> info) { previewInfo_ = std::move(info); }
  std::shared_ptr<XVPreviewInfo> previewInfo() const { return previewInfo_; }

 protected:
  // Copies the source into the cache, opens it and ends.
  void doStartImport() override;
  // The page view controller of the module's format.
  virtual std::shared_ptr<DocumentViewController> makeDocumentView();
  // Whether importWithResultPath() refreshes the view itself (a module may leave it to the
  // browser, which reloads the view afterwards).
  virtual bool refreshesViewOnOpen() const { return true; }
  pdfkit::PDFView* pageView();
  void refreshAfterRotation(pdfkit::PDFPage* goBackTo);
  void applyDisplayMode();
  void endFind();

  std::unique_ptr<pdfkit::PDFDocument> document_;
  // Documents replaced by a later import; the view may still point at them.
  std::vector<std::unique_ptr<pdfkit::PDFDocument>> retired_;
  std::shared_ptr<DocumentViewController> controller_;
  std::shared_ptr<XVPreviewInfo> previewInfo_;
  // The end of a find of the current document; import sets the document on a load thread.
  PDFEndFindObserver endFindObserver_{[this] { endFind(); }};
  bool needSave_ = false;
  bool sideListHidden_ = true;  // isShow()
  bool oneOrTwoPageIsOne_ = true;
  bool pageContinue_ = true;
  QString SearchContent_;  // getSearchString(): the text last handed to searchContent()
  QString searchString_;   // searchString(): the text last searched for
  QList<pdfkit::PDFSelection> searchResultArray_;
};

// Copies `source` to `destination` through a temporary file in the destination's folder and
// checks the copy's size before it takes the destination's name.
bool copyFileAtomically(const QString& source, const QString& destination, QString* error = nullptr);
