#include "modules/view/DocumentViewController.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>

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

  sel->clearSelection();  // an empty selection changes nothing
  EXPECT_EQ(current(), 0);
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
  EXPECT_TRUE(context.contains("Page 2 needle")) << context.toStdString();
  EXPECT_TRUE(context.endsWith("..."));
  EXPECT_EQ(model->data(model->index(2, 2), Qt::DisplayRole).toString(), "needle");
  EXPECT_FALSE(model->data(model->index(10, 0), Qt::DisplayRole).isValid());

  controller->selectSearchTableIndex(2);
  EXPECT_EQ(current(), 3);
  EXPECT_EQ(controller->pdfView()->currentSelection(), three[2]);
  controller->selectSearchTableIndex(-1);
  EXPECT_TRUE(controller->pdfView()->currentSelection().isNull());
  controller->selectSearchTableIndex(3);
  EXPECT_TRUE(controller->pdfView()->currentSelection().isNull());
}

TEST_F(ControllerTest, AnotherDocumentKeepsTheItemsAndRendersFromIt) {
  open(4);
  PageImageObject* item = controller->thumbnailModel()->itemAtIndex(3);
  const QString path = QString::fromStdString((dir / "two.pdf").string());
  ASSERT_TRUE(testsupport::writeNumberedPdf(path, 2));
  auto other = pdfkit::PDFDocument::initWithURL(path);
  controller->setPDFDocumentViewData(other.get());
  controller->refreshdata();
  ASSERT_TRUE(pumpUntil([&] { return controller->thumbnailModel()->rowCount() == 2; }));
  EXPECT_EQ(controller->thumbnailModel()->itemAtIndex(3), item);
  EXPECT_EQ(controller->pdfView()->document(), other.get());
  EXPECT_EQ(controller->setPageCount(), 2u);
  controller->setPDFDocumentViewData(doc.get());
  controller->refreshdata();
  pumpUntil([&] { return controller->thumbnailModel()->rowCount() == 4; });
}

TEST(DocumentViewClasses, EveryFormatNamesItsOwnController) {
  EXPECT_EQ(PDFDocumentView().className(), "PDFDocumentView");
  EXPECT_EQ(WPSDocumentView().className(), "WPSDocumentView");
  EXPECT_EQ(WPDDocumentView().className(), "WPDDocumentView");
  EXPECT_EQ(XPSDocumentView().className(), "XPSDocumentView");
  EXPECT_EQ(DjVuDocumentView().className(), "DjVuDocumentView");
  EXPECT_EQ(VisioDocumentView().className(), "VisioDocumentView");
}
