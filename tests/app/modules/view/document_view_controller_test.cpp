#include "modules/view/DocumentViewController.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QTest>

#include "core/XVBaseFunction.h"

#include "platform/pdfkit/PDFView.h"
#include "core/XVNotifications.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

using testsupport::pumpUntil;

namespace {

class ControllerTest : public ::testing::Test {
 protected:
  void open(int pages, std::vector<int> landscape = {}) {
    std::vector<testsupport::PdfPageContent> contents;
    for (int i = 0; i < pages; ++i) {
      const bool wide = std::find(landscape.begin(), landscape.end(), i) != landscape.end();
      contents.push_back({{QStringLiteral("Page %1 needle").arg(i + 1)}, wide});
    }
    const QString path = QString::fromStdString((dir / "doc.pdf").string());
    ASSERT_TRUE(testsupport::writePdf(path, contents));
    doc = pdfkit::PDFDocument::initWithURL(path);
    controller = std::make_shared<PDFDocumentView>();
    controller->setPDFDocumentViewData(doc.get());
    controller->refreshdata();
    QWidget* v = controller->view();
    v->resize(900, 600);
    v->show();
    pumpUntil([&] { return controller->pdfView()->document() == doc.get(); });
  }
  int selectedThumbnail() const {
    const auto rows = controller->thumbnailList()->selectionModel()->selectedIndexes();
    return rows.size() == 1 ? rows.first().row() : -1;
  }
  int current() const { return controller->pdfView()->currentPage()->index(); }
  QModelIndex searchModelIndex(int row, int column) const { return controller->searchModel()->index(row, column); }

  testsupport::TempDir dir;
  std::unique_ptr<pdfkit::PDFDocument> doc;
  std::shared_ptr<DocumentViewController> controller;
};

}  // namespace

TEST(SearchContext, RectangleAndTextOfTheContextColumn) {
  const struct {
    QRectF in, out;
  } rects[] = {
      {QRectF(100, 5, 50, 9), QRectF(0, 5, 310, 9)},
      {QRectF(200, 5, 50, 9), QRectF(40, 5, 370, 9)},
      {QRectF(160, 0, 10, 1), QRectF(0, 0, 330, 1)},
  };
  for (const auto& c : rects) EXPECT_EQ(resetSelectionRect(c.in), c.out);
  EXPECT_EQ(resetSelectionString("one\rtwo\nthree"), "one two\nthree...");
  EXPECT_EQ(resetSelectionString(""), "...");
}

TEST(ThumbnailScroll, FractionOfTheListForAPage) {
  const struct {
    qint64 index, count;
    double f;
  } cases[] = {{2, 5, 0.5}, {4, 5, 1.0}, {0, 5, 0.0}, {0, 1, 0.0}, {0, 0, 0.0}, {1, 2, 1.0}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(thumbnailScrollFraction(c.index, c.count), c.f) << c.index << "/" << c.count;
}

TEST(ThumbnailItems, IdentifiersCountPerItemClass) {
  DjVuImageObject a, b;
  EXPECT_EQ(a.imageUID(), "0");
  EXPECT_EQ(b.imageUID(), "1");
  EXPECT_EQ(a.imageUID(), "2");
  VisioImageObject c;
  EXPECT_EQ(c.imageUID(), "0");
  c.setTitle("7");
  EXPECT_EQ(c.pageIndex(), 6);
}

TEST_F(ControllerTest, ThumbnailItemsAreMadeOnRequestKeyedAndTitled) {
  open(3);
  ThumbnailModel* model = controller->thumbnailModel();
  EXPECT_EQ(model->rowCount(), 3);
  PageImageObject* one = model->itemAtIndex(1);
  EXPECT_EQ(model->itemAtIndex(1), one);
  model->itemAtIndex(0);
  model->itemAtIndex(2);
  QStringList keys = model->items().keys();
  keys.sort();
  EXPECT_EQ(keys, QStringList({"0", "1", "2"}));
  EXPECT_EQ(model->items().value("2")->imageTitle(), "3");
  EXPECT_EQ(model->data(model->index(1), Qt::DisplayRole).toString(), "2");
  EXPECT_FALSE(model->data(model->index(3), Qt::DisplayRole).isValid());
}

TEST_F(ControllerTest, ThumbnailsRenderOffTheGuiThreadFromTheTitledPage) {
  open(8, {6});
  ThumbnailModel* model = controller->thumbnailModel();
  PageImageObject* seven = model->itemAtIndex(6);
  EXPECT_EQ(seven->imageTitle(), "7");
  // First answer: a blank placeholder of the page's shape; the render follows.
  const QImage first = model->data(model->index(6), Qt::DecorationRole).value<QImage>();
  EXPECT_GT(first.width(), first.height());
  ASSERT_TRUE(pumpUntil([&] { return !seven->image().isNull(); }));
  EXPECT_EQ(seven->image().width(), ThumbnailModel::kThumbnailWidth);
  EXPECT_GT(seven->image().width(), seven->image().height());  // the landscape page 7
  // A rotation asks for a new image.
  doc->pageAtIndex(6)->setRotation(90);
  controller->setNeedShow();
  model->data(model->index(6), Qt::DecorationRole);
  ASSERT_TRUE(pumpUntil([&] { return seven->imageRotation == 90 && !seven->image().isNull(); }));
  EXPECT_LT(seven->image().width(), seven->image().height() + 1);
}

TEST_F(ControllerTest, ThumbnailImagesStayWithinTheirBudget) {
  open(6);
  controller->view()->hide();  // from here on only the test asks for images
  ThumbnailModel* model = controller->thumbnailModel();
  ASSERT_TRUE(pumpUntil([&] { return model->pendingRenders() == 0; }));
  auto render = [&](int i) {
    model->data(model->index(i), Qt::DecorationRole);
    return pumpUntil([&] { return !model->itemAtIndex(i)->image().isNull(); });
  };
  ASSERT_TRUE(render(0));
  const qsizetype one = model->itemAtIndex(0)->image().sizeInBytes();
  model->setImageBudget(2 * one);
  for (int i = 1; i < 6; ++i) ASSERT_TRUE(render(i));
  EXPECT_LE(model->imageBytes(), 2 * one);
  int kept = 0;
  for (int i = 0; i < 6; ++i) kept += !model->itemAtIndex(i)->image().isNull();
  EXPECT_EQ(kept, 2);
  EXPECT_TRUE(model->itemAtIndex(0)->image().isNull());  // shown longest ago: dropped
  EXPECT_FALSE(model->itemAtIndex(5)->image().isNull());
  ASSERT_TRUE(render(0));  // asked again: rendered again
  EXPECT_LE(model->imageBytes(), 2 * one);
}

TEST_F(ControllerTest, ThumbnailsOutOfSightKeepNoImages) {
  open(6);
  ThumbnailModel* model = controller->thumbnailModel();
  for (int i = 0; i < 6; ++i) model->data(model->index(i), Qt::DecorationRole);
  ASSERT_TRUE(pumpUntil([&] { return model->pendingRenders() == 0 && !model->itemAtIndex(5)->image().isNull(); }));
  ASSERT_GT(model->imageBytes(), 0);
  // The side panel turns to the search results: the list is out of sight.
  controller->setSearchResultViewState();
  testsupport::pumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(model->imageBytes(), 0);
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(model->itemAtIndex(i)->image().isNull()) << i;
  // Back in sight, the shown thumbnails render again.
  controller->setSearchResultViewHidden();
  QApplication::processEvents();
  model->data(model->index(2), Qt::DecorationRole);
  ASSERT_TRUE(pumpUntil([&] { return !model->itemAtIndex(2)->image().isNull(); }));
  EXPECT_GE(model->imageBytes(), model->itemAtIndex(2)->image().sizeInBytes());
}

TEST_F(ControllerTest, ThumbnailAndPageViewFollowEachOtherAndRetitle) {
  open(6);
  int titles = 0;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      ChangePageForTitleNotification, [&](const foundation::Notification&) { ++titles; });
  QItemSelectionModel* sel = controller->thumbnailList()->selectionModel();
  sel->select(controller->thumbnailModel()->index(4), QItemSelectionModel::ClearAndSelect);
  EXPECT_EQ(current(), 4);
  EXPECT_EQ(selectedThumbnail(), 4);
  EXPECT_EQ(titles, 1);

  controller->pdfView()->goToPage(doc->pageAtIndex(5));
  EXPECT_EQ(selectedThumbnail(), 5);
  EXPECT_EQ(titles, 2);
  QScrollBar* bar = controller->thumbnailList()->verticalScrollBar();
  EXPECT_EQ(bar->value(), bar->maximum());
  controller->pdfView()->goToPage(doc->pageAtIndex(0));
  EXPECT_EQ(bar->value(), 0);

  controller->pdfView()->goToPage(doc->pageAtIndex(3));
  ASSERT_EQ(selectedThumbnail(), 3);
  sel->clearSelection();  // an empty selection changes nothing
  EXPECT_EQ(current(), 3);
  EXPECT_EQ(titles, 4);
}

TEST_F(ControllerTest, OnePageDocumentScrollsWithoutTrouble) {
  open(1);
  controller->pdfView()->goToPage(doc->pageAtIndex(0));
  controller->pdfView()->goToNextPage();
  EXPECT_EQ(current(), 0);
  EXPECT_EQ(controller->thumbnailList()->verticalScrollBar()->value(), 0);
}

TEST_F(ControllerTest, RefreshSelectsTheFirstThumbnailRedisplayDoesNot) {
  open(5);
  controller->pdfView()->goToPage(doc->pageAtIndex(3));
  EXPECT_EQ(selectedThumbnail(), 3);
  controller->setNeedShow();
  testsupport::pumpFor(std::chrono::milliseconds(20));
  EXPECT_EQ(selectedThumbnail(), 3);
  controller->refreshdata();
  ASSERT_TRUE(pumpUntil([&] { return selectedThumbnail() == 0; }));
}

TEST_F(ControllerTest, HidingTheSideListHidesTheWholePanel) {
  open(3);
  QWidget* root = controller->view();
  controller->setSearchResultViewState();
  controller->ChangeDidView(true);
  QApplication::processEvents();
  EXPECT_TRUE(controller->sidePanel()->isHidden());
  EXPECT_EQ(controller->pdfView()->geometry(), root->rect());

  controller->ChangeDidView(false);
  QApplication::processEvents();
  EXPECT_FALSE(controller->sidePanel()->isHidden());
  EXPECT_TRUE(controller->showsSearchResults());  // the panel switch is independent
  const QRect page = controller->pdfView()->geometry();
  EXPECT_GT(page.left(), controller->sidePanel()->geometry().right());
  EXPECT_LE(page.right(), root->rect().right());
  controller->setSearchResultViewHidden();
  EXPECT_FALSE(controller->showsSearchResults());
}

TEST_F(ControllerTest, ResultTableCellsAndRowClicks) {
  open(4);
  const QList<pdfkit::PDFSelection> found = doc->findString("needle");
  ASSERT_EQ(found.size(), 4);
  const QList<pdfkit::PDFSelection> three = found.mid(1, 3);
  controller->setSearchResultViewData(three);
  SearchResultModel* model = controller->searchModel();
  EXPECT_EQ(model->rowCount(), 3);
  EXPECT_EQ(model->data(model->index(0, 0), Qt::DisplayRole).toString(), "2");
  const QString context = model->data(model->index(0, 1), Qt::DisplayRole).toString();
  EXPECT_EQ(context, "Page 2 needle");
  EXPECT_EQ(model->data(model->index(0, 1), SearchResultModel::ContextPartsRole).toStringList(),
            QStringList({"Page 2 ", "needle", ""}));
  EXPECT_EQ(model->data(model->index(2, 2), Qt::DisplayRole).toString(), "needle");
  EXPECT_FALSE(model->data(model->index(10, 0), Qt::DisplayRole).isValid());
  // A selection that carries no context of its own takes the text around its bounds.
  pdfkit::PDFSelection bare(doc->pageAtIndex(0), found[0].bounds(), "needle");
  controller->setSearchResultViewData({bare});
  EXPECT_TRUE(model->data(model->index(0, 1), Qt::DisplayRole).toString().contains("Page 1 needle"));
  controller->setSearchResultViewData(three);

  controller->selectSearchTableIndex(2);
  EXPECT_EQ(current(), 3);
  EXPECT_EQ(controller->pdfView()->currentSelection(), three[2]);
  controller->selectSearchTableIndex(-1);
  EXPECT_TRUE(controller->pdfView()->currentSelection().isNull());
  controller->selectSearchTableIndex(3);
  EXPECT_TRUE(controller->pdfView()->currentSelection().isNull());

  // Clicks on the table itself: a row, then the empty area below the last row.
  controller->setSearchResultViewState();
  QApplication::processEvents();
  QTableView* table = controller->searchTable();
  const QRect row1 = table->visualRect(model->index(1, 0));
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, row1.center());
  EXPECT_EQ(controller->pdfView()->currentSelection(), three[1]);
  const QPoint below(row1.center().x(), table->visualRect(model->index(2, 0)).bottom() + 20);
  ASSERT_FALSE(table->indexAt(below).isValid());
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, below);
  EXPECT_TRUE(controller->pdfView()->currentSelection().isNull());
  EXPECT_TRUE(table->selectionModel()->selectedRows().isEmpty());
}

TEST_F(ControllerTest, TheContextShowsTheMatchWithTextAroundItFromThePanelsFirstWidth) {
  XVBaseFunction::userDefaults()->remove(DocumentViewController::kSidePanelWidthKey);
  const QString path = QString::fromStdString((dir / "strips.pdf").string());
  std::vector<testsupport::PdfPageContent> pages;
  for (int i = 0; i < 40; ++i)
    pages.push_back({{QString::fromUtf8("a long line that tells of the M\u00f6bius strip on page %1 and more").arg(i + 1)}});
  ASSERT_TRUE(testsupport::writePdf(path, pages));
  doc = pdfkit::PDFDocument::initWithURL(path);
  controller = std::make_shared<PDFDocumentView>();
  controller->setPDFDocumentViewData(doc.get());
  controller->view()->resize(900, 600);
  controller->view()->show();
  const QString word = QString::fromUtf8("M\u00f6bius");
  const QList<pdfkit::PDFSelection> found = doc->findString(word);
  ASSERT_EQ(found.size(), 40);
  controller->setSearchResultViewState();
  controller->setSearchResultViewData(found);
  controller->ChangeDidView(false);
  QApplication::processEvents();
  ASSERT_EQ(controller->sidePanelWidth(), DocumentViewController::kSidePanelDefaultWidth);
  QTableView* table = controller->searchTable();
  QHeaderView* header = table->horizontalHeader();
  const struct {
    const char* name;
    int width;  // 0: as the panel opens
    bool matchColumnInView;
    int around;  // characters of context shown at least on each side
  } widths[] = {{"first width", 0, false, 3}, {"wide panel", 480, true, DocumentViewController::kContextCharacters}};
  for (const auto& w : widths) {
    SCOPED_TRACE(w.name);
    if (w.width > 0) controller->splitter()->setSizes({w.width, 10000});
    QApplication::processEvents();
    const int room = table->viewport()->width();
    ASSERT_GT(room, 0);
    for (const int column : {SearchResultModel::PageColumn, SearchResultModel::ContextColumn}) {
      EXPECT_GE(header->sectionSize(column), header->sectionSizeHint(column)) << "header of column " << column << " cut";
      EXPECT_LE(header->sectionViewportPosition(column) + header->sectionSize(column), room) << "column " << column;
    }
    EXPECT_EQ(header->sectionViewportPosition(SearchResultModel::MatchColumn) + header->sectionSize(SearchResultModel::MatchColumn) <= room,
              w.matchColumnInView);
    const QString shown = SearchContextDelegate::shownText(searchModelIndex(0, SearchResultModel::ContextColumn),
                                                           table->fontMetrics(),
                                                           header->sectionSize(SearchResultModel::ContextColumn), table);
    const qsizetype at = shown.indexOf(word);
    ASSERT_GE(at, 0) << shown.toStdString();
    QString before = shown.left(at), after = shown.mid(at + word.size());
    before.remove(QChar(0x2026));
    after.remove(QChar(0x2026));
    EXPECT_GE(before.size(), w.around) << shown.toStdString();
    EXPECT_GE(after.size(), w.around) << shown.toStdString();
  }
}

TEST(SearchContext, MatchStaysInSightWhenTheContextIsCut) {
  const QFont font(QStringLiteral("DejaVu Sans"), 10);
  const QFontMetrics fm(font);
  const QString before = QStringLiteral("a long stretch of words that comes before the match on its line, ");
  const QString after = QStringLiteral(" and more words after it, reaching far beyond the column's edge");
  const QString ellipsis(QChar(0x2026));
  struct Case {
    QString before, after;
    int width;
    bool cutBefore, cutAfter;
  };
  const Case cases[] = {
      {"short ", " tail", 1000, false, false},
      {before, after, fm.horizontalAdvance("NEEDLE") + 120, true, true},
      {"x ", after, fm.horizontalAdvance("x NEEDLE") + 60, false, true},
      {before, " y", fm.horizontalAdvance("NEEDLE y") + 60, true, false},
  };
  for (const Case& c : cases) {
    const QString shown = elideAroundMatch(fm, c.before, "NEEDLE", c.after, c.width);
    EXPECT_TRUE(shown.contains("NEEDLE")) << shown.toStdString();
    EXPECT_LE(fm.horizontalAdvance(shown), c.width) << shown.toStdString();
    EXPECT_EQ(shown.startsWith(ellipsis), c.cutBefore) << shown.toStdString();
    EXPECT_EQ(shown.endsWith(ellipsis), c.cutAfter) << shown.toStdString();
    if (!c.cutBefore) {
      EXPECT_TRUE(shown.startsWith(c.before));
    }
    if (!c.cutAfter) {
      EXPECT_TRUE(shown.endsWith(c.after));
    }
  }
  // No room beside the match: the match alone, cut at its end.
  EXPECT_EQ(elideAroundMatch(fm, before, "NEEDLE", after, fm.horizontalAdvance("NEEDLE")), "NEEDLE");
}

TEST_F(ControllerTest, TheSidePanelWidensAndKeepsItsWidth) {
  XVBaseFunction::userDefaults()->remove(DocumentViewController::kSidePanelWidthKey);
  open(3);
  EXPECT_EQ(controller->sidePanelWidth(), DocumentViewController::kSidePanelDefaultWidth);
  // Drag the splitter's handle 150 pixels to the right.
  QWidget* handle = controller->splitter()->handle(1);
  const QPoint start = handle->rect().center();
  QTest::mousePress(handle, Qt::LeftButton, {}, start);
  QMouseEvent move(QEvent::MouseMove, QPointF(start + QPoint(150, 0)), handle->mapToGlobal(QPointF(start + QPoint(150, 0))),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(handle, &move);
  QTest::mouseRelease(handle, Qt::LeftButton, {}, start + QPoint(150, 0));
  const int widened = controller->sidePanelWidth();
  EXPECT_NEAR(widened, DocumentViewController::kSidePanelDefaultWidth + 150, 2);
  EXPECT_EQ(controller->sidePanel()->width(), widened);
  // The next document view opens with it.
  auto next = std::make_shared<PDFDocumentView>();
  next->setPDFDocumentViewData(doc.get());
  next->view()->resize(900, 600);
  next->view()->show();
  QApplication::processEvents();
  EXPECT_EQ(next->sidePanelWidth(), widened);
  XVBaseFunction::userDefaults()->remove(DocumentViewController::kSidePanelWidthKey);
}

TEST_F(ControllerTest, AnotherDocumentKeepsTheItemsAndRendersFromIt) {
  open(4);
  ThumbnailModel* model = controller->thumbnailModel();
  PageImageObject* item = model->itemAtIndex(3);
  PageImageObject* first = model->itemAtIndex(0);
  model->data(model->index(0), Qt::DecorationRole);
  ASSERT_TRUE(pumpUntil([&] { return !first->image().isNull(); }));
  ASSERT_LT(first->image().width(), first->image().height());  // the first document's portrait page
  // The other document's first page is landscape: its thumbnail is wider than tall.
  const QString path = QString::fromStdString((dir / "two.pdf").string());
  ASSERT_TRUE(testsupport::writePdf(path, {{{"wide"}, true}, {{"tall"}, false}}));
  auto other = pdfkit::PDFDocument::initWithURL(path);
  controller->setPDFDocumentViewData(other.get());
  controller->refreshdata();
  ASSERT_TRUE(pumpUntil([&] { return model->rowCount() == 2; }));
  EXPECT_EQ(model->itemAtIndex(3), item);
  EXPECT_EQ(model->itemAtIndex(0), first);
  EXPECT_EQ(controller->pdfView()->document(), other.get());
  EXPECT_EQ(controller->setPageCount(), 2u);
  model->data(model->index(0), Qt::DecorationRole);
  ASSERT_TRUE(pumpUntil([&] { return !first->image().isNull(); }));
  EXPECT_GT(first->image().width(), first->image().height());
  controller->setPDFDocumentViewData(doc.get());
  controller->refreshdata();
  ASSERT_TRUE(pumpUntil([&] { return model->rowCount() == 4; }));
  EXPECT_EQ(controller->pdfView()->document(), doc.get());
}

TEST(DocumentViewClasses, EveryFormatNamesItsOwnController) {
  EXPECT_EQ(PDFDocumentView().className(), "PDFDocumentView");
  EXPECT_EQ(WPSDocumentView().className(), "WPSDocumentView");
  EXPECT_EQ(WPDDocumentView().className(), "WPDDocumentView");
  EXPECT_EQ(XPSDocumentView().className(), "XPSDocumentView");
  EXPECT_EQ(DjVuDocumentView().className(), "DjVuDocumentView");
  EXPECT_EQ(VisioDocumentView().className(), "VisioDocumentView");
}
