#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QPrinter>
#include <QProcess>
#include <QScrollBar>

#include <cmath>
#include <functional>

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

namespace {
// The first line of page `page` (from 1) of a PDF, as pdftotext reads it.
QString firstLine(const QString& pdf, int page) {
  QProcess p;
  p.start(QStringLiteral("pdftotext"), {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                                         QString::number(page), pdf, QStringLiteral("-")});
  if (!p.waitForFinished(20000) || p.exitCode() != 0) return QStringLiteral("<pdftotext failed>");
  for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n')))
    if (!line.trimmed().isEmpty()) return line.trimmed();
  return QString();
}

struct Printed {
  QString path;
  std::unique_ptr<PDFDocument> doc;
};

Printed printTo(PDFView& view, const QString& path, const std::function<void(QPrinter&)>& setUp) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(path);
  setUp(printer);
  if (!view.printWithInfo(&printer, false, PDFView::kPDFPrintPageScaleToFit)) return {path, nullptr};
  return {path, PDFDocument::initWithURL(path)};
}
}  // namespace

TEST_F(PDFViewTest, PrintsTheChosenPagesOfARealFileAsText) {
  const QString source = QStringLiteral(LECTERN_CORPUS_DIR "/pdf/pdflatex-4-pages.pdf");
  if (!QFile::exists(source)) GTEST_SKIP() << "corpus not present";
  auto real = PDFDocument::initWithURL(source);
  ASSERT_TRUE(real);
  view.setDocument(real.get());
  QStringList lines;
  for (int i = 1; i <= 4; ++i) lines << firstLine(source, i);
  ASSERT_EQ(lines.size(), 4);
  ASSERT_NE(lines[0], lines[1]);

  struct Case {
    const char* name;
    std::function<void(QPrinter&)> setUp;
    std::vector<int> pages;  // source pages, from 1, sheet by sheet
  };
  const Case cases[] = {
      {"range", [](QPrinter& p) { p.setPrintRange(QPrinter::PageRange); p.setFromTo(2, 3); }, {2, 3}},
      {"all", [](QPrinter& p) { p.setPrintRange(QPrinter::AllPages); }, {1, 2, 3, 4}},
      {"collated copies", [](QPrinter& p) { p.setPrintRange(QPrinter::PageRange); p.setFromTo(3, 4); p.setCopyCount(2); p.setCollateCopies(true); }, {3, 4, 3, 4}},
      {"uncollated copies", [](QPrinter& p) { p.setPrintRange(QPrinter::PageRange); p.setFromTo(3, 4); p.setCopyCount(2); p.setCollateCopies(false); }, {3, 3, 4, 4}},
      {"range past the end", [](QPrinter& p) { p.setPrintRange(QPrinter::PageRange); p.setFromTo(4, 9); }, {4}},
  };
  for (const Case& c : cases) {
    const Printed out = printTo(view, QString::fromStdString((dir / "out.pdf").string()), c.setUp);
    ASSERT_TRUE(out.doc) << c.name;
    ASSERT_EQ(out.doc->pageCount(), static_cast<int>(c.pages.size())) << c.name;
    for (size_t k = 0; k < c.pages.size(); ++k)
      EXPECT_EQ(firstLine(out.path, static_cast<int>(k) + 1), lines[c.pages[k] - 1]) << c.name << " sheet " << k;
    // Readable as any new file (the temporary file it is written through is private).
    EXPECT_TRUE(QFileInfo(out.path).permissions() & QFileDevice::ReadGroup) << c.name;
    // Vectors and fonts, not page-sized images: of the order of the source's size.
    EXPECT_LT(QFileInfo(out.path).size(), 3 * QFileInfo(source).size() * static_cast<qint64>(c.pages.size()) / 4 + 60000)
        << c.name;
  }

  // The current page alone, as the user turned it: scale to fit, not turned back.
  view.goToPage(real->pageAtIndex(2));
  real->pageAtIndex(2)->setRotation(90);
  view.layoutDocumentView();
  const Printed current = printTo(view, QString::fromStdString((dir / "current.pdf").string()),
                                  [](QPrinter& p) { p.setPrintRange(QPrinter::CurrentPage); });
  ASSERT_TRUE(current.doc);
  ASSERT_EQ(current.doc->pageCount(), 1);
  EXPECT_EQ(current.doc->pageAtIndex(0)->rotation(), 0);
  const QList<PDFSelection> word = current.doc->findString(QStringLiteral("Huardest"));
  ASSERT_FALSE(word.isEmpty());
  EXPECT_GT(word[0].bounds().height(), word[0].bounds().width());  // the line runs down the sheet
  EXPECT_TRUE(current.doc->pageAtIndex(0)->string().contains(QStringLiteral("Huardest")));
}

TEST_F(PDFViewTest, PrintedPageIsScaledToFitAndCentred) {
  // A landscape page on a portrait sheet: its width fills the printable width.
  const QString path = QString::fromStdString((dir / "wide.pdf").string());
  ASSERT_TRUE(testsupport::writePdf(path, {{{QStringLiteral("WIDE left"), QStringLiteral("x")}, true}}));
  auto wide = PDFDocument::initWithURL(path);
  view.setDocument(wide.get());
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString((dir / "sheet.pdf").string()));
  printer.setPageSize(QPageSize(QPageSize::A4));
  printer.setPageOrientation(QPageLayout::Portrait);
  ASSERT_TRUE(view.printWithInfo(&printer, false, PDFView::kPDFPrintPageScaleToFit));
  auto sheet = PDFDocument::initWithURL(QString::fromStdString((dir / "sheet.pdf").string()));
  ASSERT_TRUE(sheet);
  ASSERT_EQ(sheet->pageCount(), 1);
  EXPECT_LT(sheet->pageAtIndex(0)->size().width(), sheet->pageAtIndex(0)->size().height());
  const QList<PDFSelection> found = sheet->findString(QStringLiteral("WIDE"));
  ASSERT_EQ(found.size(), 1);
  // On the source the word sits 60 pt from the left of an 842 pt wide page.
  const QRectF paint = printer.pageLayout().paintRect(QPageLayout::Point);
  const double k = paint.width() / 842.0;
  EXPECT_NEAR(found[0].bounds().left(), paint.left() + 60 * k, 3);
  EXPECT_GT(found[0].bounds().top(), paint.top() + (paint.height() - 595 * k) / 2);

  PDFView empty;
  EXPECT_FALSE(empty.printWithInfo(&printer, false, PDFView::kPDFPrintPageScaleToFit));
}

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
