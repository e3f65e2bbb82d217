#include <gtest/gtest.h>

#include <QApplication>
#include <QPrinter>
#include <QScrollBar>

#include <cmath>

#include "platform/pdfkit/PDFView.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

using namespace pdfkit;
using testsupport::pumpUntil;

namespace {

class PDFViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString path = QString::fromStdString((dir / "doc.pdf").string());
    std::vector<testsupport::PdfPageContent> pages;
    for (int i = 0; i < 7; ++i) pages.push_back({{QStringLiteral("Page %1").arg(i + 1)}, false});
    ASSERT_TRUE(testsupport::writePdf(path, pages));
    doc = PDFDocument::initWithURL(path);
    ASSERT_TRUE(doc);
    view.resize(700, 500);
    view.show();
    view.setDocument(doc.get());
    QObject::connect(&view, &PDFView::pageChanged, [this] { ++changes; });
  }
  int current() const { return view.currentPage() ? view.currentPage()->index() : -1; }

  testsupport::TempDir dir;
  std::unique_ptr<PDFDocument> doc;
  PDFView view;
  int changes = 0;
};

}  // namespace

TEST_F(PDFViewTest, LayoutsPlacePagesByMode) {
  struct Case {
    PDFView::DisplayMode mode;
    std::vector<int> laidOut;  // pages with a place while page 2 is current
    bool pairs;
  };
  const Case cases[] = {
      {PDFView::kPDFDisplaySinglePage, {2}, false},
      {PDFView::kPDFDisplaySinglePageContinuous, {0, 1, 2, 3, 4, 5, 6}, false},
      {PDFView::kPDFDisplayTwoUp, {2, 3}, true},
      {PDFView::kPDFDisplayTwoUpContinuous, {0, 1, 2, 3, 4, 5, 6}, true},
  };
  for (const Case& c : cases) {
    view.setDisplayMode(c.mode);
    view.goToPage(doc->pageAtIndex(2));
    EXPECT_EQ(current(), 2) << c.mode;
    for (int i = 0; i < doc->pageCount(); ++i) {
      const bool expected = std::find(c.laidOut.begin(), c.laidOut.end(), i) != c.laidOut.end();
      EXPECT_EQ(!view.pageRect(i).isNull(), expected) << "mode " << c.mode << " page " << i;
    }
    if (c.pairs) {
      EXPECT_EQ(view.pageRect(2).top(), view.pageRect(3).top());
      EXPECT_GT(view.pageRect(3).left(), view.pageRect(2).right());
    } else if (c.laidOut.size() > 1) {
      EXPECT_GT(view.pageRect(3).top(), view.pageRect(2).bottom());
      EXPECT_EQ(view.pageRect(2).left(), view.pageRect(3).left());
    }
  }
}

TEST_F(PDFViewTest, ZoomIsClampedAndFitWidthFollowsTheView) {
  view.setScaleFactor(2.0);
  EXPECT_DOUBLE_EQ(view.scaleFactor(), 2.0);
  EXPECT_NEAR(view.pageRect(0).width(), 595 * 2, 2);
  view.setScaleFactor(1000);
  EXPECT_DOUBLE_EQ(view.scaleFactor(), PDFView::kMaxScale);
  view.setScaleFactor(0.0001);
  EXPECT_DOUBLE_EQ(view.scaleFactor(), PDFView::kMinScale);
  view.setScaleFactor(std::nan(""));
  EXPECT_DOUBLE_EQ(view.scaleFactor(), PDFView::kMinScale);

  view.setAutoScales(true);
  const int vw = view.viewport()->width();
  EXPECT_LE(view.pageRect(0).width(), vw);
  EXPECT_GT(view.pageRect(0).width(), vw - 60);
  view.resize(1000, 500);
  QApplication::processEvents();
  EXPECT_GT(view.pageRect(0).width(), 900 - 60);
  EXPECT_LE(view.pageRect(0).width(), view.viewport()->width());

  // Two pages side by side share the width.
  view.setDisplayMode(PDFView::kPDFDisplayTwoUpContinuous);
  EXPECT_LE(view.pageRect(1).right(), view.viewport()->width());
  view.setScaleFactor(1.0);
  EXPECT_FALSE(view.autoScales());
}

TEST_F(PDFViewTest, NavigationMovesTheCurrentPageAndSignalsEachChange) {
  EXPECT_EQ(current(), 0);
  view.goToNextPage();
  view.goToNextPage();
  EXPECT_EQ(current(), 2);
  view.goToLastPage();
  EXPECT_EQ(current(), 6);  // stays the last page although the view cannot scroll that far
  view.goToNextPage();
  EXPECT_EQ(current(), 6);
  view.goToPreviousPage();
  EXPECT_EQ(current(), 5);
  view.goToFirstPage();
  view.goToPreviousPage();
  EXPECT_EQ(current(), 0);
  EXPECT_EQ(changes, 5);

  view.setDisplayMode(PDFView::kPDFDisplayTwoUp);
  view.goToNextPage();
  EXPECT_EQ(current(), 2);
  view.goToNextPage();
  view.goToNextPage();
  view.goToNextPage();
  EXPECT_EQ(current(), 6);  // last pair holds page 6 alone
  view.goToPreviousPage();
  EXPECT_EQ(current(), 4);
}

TEST_F(PDFViewTest, ScrollingChangesTheCurrentPage) {
  view.setScaleFactor(0.5);
  const int before = changes;
  view.verticalScrollBar()->setValue(static_cast<int>(view.pageRect(4).top()));
  EXPECT_EQ(current(), 4);
  EXPECT_EQ(changes, before + 1);
}

TEST_F(PDFViewTest, SelectionsMapThroughTheUserRotation) {
  const QRectF bounds(10, 20, 30, 40);
  const QSizeF size = doc->pageAtIndex(0)->size();
  const QRectF plain = view.rectForPageBounds(0, bounds);
  EXPECT_NEAR(plain.left() - view.pageRect(0).left(), 10, 1);
  EXPECT_NEAR(plain.top() - view.pageRect(0).top(), 20, 1);

  doc->pageAtIndex(0)->setRotation(90);
  view.layoutDocumentView();
  const QRectF turned = view.rectForPageBounds(0, bounds);
  EXPECT_NEAR(view.pageRect(0).width(), size.height(), 1);
  EXPECT_NEAR(turned.left() - view.pageRect(0).left(), size.height() - 60, 1);
  EXPECT_NEAR(turned.top() - view.pageRect(0).top(), 10, 1);
  EXPECT_NEAR(turned.width(), 40, 1);
  EXPECT_NEAR(turned.height(), 30, 1);

  const PDFSelection sel(doc->pageAtIndex(5), bounds, "x");
  view.goToSelection(sel);
  EXPECT_EQ(current(), 5);
  view.setCurrentSelection(sel, true);
  EXPECT_EQ(view.currentSelection(), sel);
}

TEST_F(PDFViewTest, VisiblePagesAreRenderedInTheBackground) {
  EXPECT_FALSE(view.isPageRendered(0));
  view.viewport()->repaint();
  ASSERT_TRUE(pumpUntil([&] {
    view.viewport()->repaint();
    return view.isPageRendered(0);
  }));
  EXPECT_FALSE(view.isPageRendered(6));  // far below the view
  // A hidden view (a tab in the background) holds no tiles; shown again, it renders again.
  ASSERT_GT(view.renderCacheCost(), 0);
  view.hide();
  testsupport::pumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(view.renderCacheCost(), 0);
  view.show();
  ASSERT_TRUE(pumpUntil([&] {
    view.viewport()->repaint();
    return view.isPageRendered(0);
  }));
  // A rotation needs a new render.
  doc->pageAtIndex(0)->setRotation(180);
  EXPECT_FALSE(view.isPageRendered(0));
}

TEST_F(PDFViewTest, AtHighZoomOnlyTheVisibleTilesAreRendered) {
  view.setScaleFactor(PDFView::kMaxScale);
  view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum() / 2);
  view.verticalScrollBar()->setValue(static_cast<int>(view.pageRect(1).center().y()));
  ASSERT_TRUE(pumpUntil([&] {
    view.viewport()->repaint();
    return view.isPageRendered(1);
  }));
  const double pageKiB = view.pageRect(1).width() * view.pageRect(1).height() * 4 / 1024;
  EXPECT_LT(view.renderCacheCost(), pageKiB / 3);
}

TEST_F(PDFViewTest, PrintsEveryPageToAPdfFile) {
  const QString out = QString::fromStdString((dir / "printed.pdf").string());
  QPrinter printer(QPrinter::ScreenResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(out);
  ASSERT_TRUE(view.printWithInfo(&printer, false, PDFView::kPDFPrintPageScaleToFit));
  auto printed = PDFDocument::initWithURL(out);
  ASSERT_TRUE(printed);
  EXPECT_EQ(printed->pageCount(), 7);
  // The sheet carries the page's ink.
  const QImage img = printed->pageAtIndex(0)->render(0.5);
  int dark = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) dark += qGray(img.pixel(x, y)) < 128;
  EXPECT_GT(dark, 5);

  PDFView empty;
  EXPECT_FALSE(empty.printWithInfo(&printer, false, PDFView::kPDFPrintPageScaleToFit));
}

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
