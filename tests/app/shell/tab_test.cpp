#include "shell/XVTab.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QToolButton>

#include "app/shell/gui_test_app.h"
#include "shell/XVControls.h"

namespace {

struct RecordingTabDelegate : XVTabDelegate {
  bool allowSelect = true;
  bool allowDelete = true;
  QStringList selected;
  QStringList deleted;
  int adds = 0;
  bool XVTabDelegate_selectItemFilePath(const QString& path, XVTab*) override {
    selected << path;
    return allowSelect;
  }
  bool XVTabDelegate_DeleteItemFromXVTab(XVTabItem* item, XVTab*) override {
    deleted << item->filepath();
    return allowDelete;
  }
  void XVTabDelegate_AddItem(XVTab*) override { ++adds; }
};

class TabStrip : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::guiApp();
    strip.setDelegate(&delegate);
    strip.resize(1000, XVTab::kStripHeight);
    strip.show();
  }
  void add(std::initializer_list<const char*> paths) {
    for (const char* p : paths) strip.addItemWithItemFilePath(p);
  }
  QString current() const { return strip.currentSeletedItem() ? strip.currentSeletedItem()->filepath() : QString(); }

  QApplication* app = testsupport::guiApp();  // before the widgets, so that a test also runs alone
  XVTab strip;
  RecordingTabDelegate delegate;
};

}  // namespace

TEST_F(TabStrip, AddingDoesNotSelectAndLookupsFollowListOrder) {
  add({"/d/a.pdf", "/d/b.pdf", "/d/c.pdf"});
  EXPECT_EQ(strip.itemCount(), 3);
  EXPECT_EQ(strip.currentSeletedItem(), nullptr);
  EXPECT_TRUE(delegate.selected.isEmpty());
  XVTabItem* b = strip.itemByFilePath("/d/b.pdf");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(strip.nextItem(b)->filepath(), "/d/c.pdf");
  EXPECT_EQ(strip.previousItem(b)->filepath(), "/d/a.pdf");
  EXPECT_EQ(strip.nextItem(strip.itemByFilePath("/d/c.pdf")), nullptr);
  EXPECT_EQ(strip.itemDataSourcePathAtIndex(-1), QString());
  EXPECT_EQ(strip.itemDataSourcePathAtIndex(3), QString());
  EXPECT_EQ(strip.itemDataSourcePathAtIndex(2), "/d/c.pdf");
  EXPECT_EQ(strip.itemByFilePath("/d/none.pdf"), nullptr);
  // Title and tooltip: the file name.
  EXPECT_EQ(b->title()->stringValue(), "b.pdf");
  EXPECT_EQ(b->toolTip(), "b.pdf");
  // Equal shares of 970.
  EXPECT_NEAR(b->width(), 970 / 3, 1);
  EXPECT_EQ(strip.itemByFilePath("/d/a.pdf")->x(), 0);
}

TEST_F(TabStrip, ClickSelectsOnlyWhenTheDelegateAgrees) {
  add({"/d/a.pdf", "/d/b.pdf"});
  XVTabItem* b = strip.itemByFilePath("/d/b.pdf");
  delegate.allowSelect = false;
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(b->width() / 2, 5));
  EXPECT_EQ(delegate.selected, QStringList{"/d/b.pdf"});
  EXPECT_EQ(strip.currentSeletedItem(), nullptr);

  delegate.allowSelect = true;
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(b->width() / 2, 5));
  EXPECT_EQ(current(), "/d/b.pdf");
  EXPECT_TRUE(strip.XVTabItemDelegate_IsSelect(b));
  // Clicking the current tab asks again but changes nothing.
  XVTabItem* before = strip.oldItem();
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(b->width() / 2, 5));
  EXPECT_EQ(delegate.selected.size(), 3);
  EXPECT_EQ(strip.oldItem(), before);

  strip.setSelectByItemFilePath("/d/a.pdf");
  EXPECT_EQ(current(), "/d/a.pdf");
  EXPECT_EQ(strip.oldItem(), b);

  QTest::mouseClick(strip.addButtonView(), Qt::LeftButton);
  EXPECT_EQ(delegate.adds, 1);
}

TEST_F(TabStrip, ClosingPicksTheRightThenTheLeftNeighbour) {
  add({"/d/a.pdf", "/d/b.pdf", "/d/c.pdf"});
  strip.setSelectByItemFilePath("/d/b.pdf");
  delegate.selected.clear();

  // The close button, after the delegate agreed: right neighbour.
  strip.itemByFilePath("/d/b.pdf")->closeButton()->click();
  EXPECT_EQ(delegate.deleted, QStringList{"/d/b.pdf"});
  EXPECT_EQ(delegate.selected, QStringList{"/d/c.pdf"});
  EXPECT_EQ(current(), "/d/c.pdf");
  EXPECT_EQ(strip.itemCount(), 2);
  EXPECT_EQ(strip.oldItem(), nullptr);  // the removed tab is not remembered

  // The rightmost current tab: left neighbour.
  strip.itemByFilePath("/d/c.pdf")->clickDeleteButton();
  EXPECT_EQ(current(), "/d/a.pdf");

  // Refused: nothing goes.
  delegate.allowDelete = false;
  EXPECT_FALSE(strip.XVTabItemDelegate_DeleteItem(strip.itemByFilePath("/d/a.pdf")));
  EXPECT_EQ(strip.itemCount(), 1);

  // The only tab: no current tab afterwards.
  delegate.allowDelete = true;
  strip.itemByFilePath("/d/a.pdf")->clickDeleteButton();
  EXPECT_EQ(strip.itemCount(), 0);
  EXPECT_EQ(strip.currentSeletedItem(), nullptr);
  EXPECT_EQ(strip.oldItem(), nullptr);
}

TEST_F(TabStrip, ClosingWhenTheNeighbourIsRefusedLeavesNoDanglingCurrent) {
  add({"/d/a.pdf", "/d/b.pdf"});
  strip.setSelectByItemFilePath("/d/a.pdf");
  delegate.allowSelect = false;
  strip.itemByFilePath("/d/a.pdf")->clickDeleteButton();
  EXPECT_EQ(strip.itemCount(), 1);
  EXPECT_EQ(strip.currentSeletedItem(), nullptr);
  strip.resetItemFrame();  // must not touch the removed tab
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(strip.itemByFilePath("/d/b.pdf")->width(), 970);
}

TEST_F(TabStrip, ClosingAnotherTabOnlyChangesWidths) {
  add({"/d/a.pdf", "/d/b.pdf", "/d/c.pdf"});
  strip.setSelectByItemFilePath("/d/c.pdf");
  delegate.selected.clear();
  strip.itemByFilePath("/d/a.pdf")->clickDeleteButton();
  EXPECT_TRUE(delegate.selected.isEmpty());
  EXPECT_EQ(current(), "/d/c.pdf");
  EXPECT_EQ(strip.itemByFilePath("/d/c.pdf")->width(), 485);
}

TEST_F(TabStrip, ManyTabsKeepTheCurrentOneFiftyWide) {
  for (int i = 0; i < 25; ++i) strip.addItemWithItemFilePath(QString("/d/%1.pdf").arg(i));
  strip.setSelectByItemFilePath("/d/3.pdf");
  EXPECT_EQ(strip.itemByFilePath("/d/3.pdf")->width(), 50);
  EXPECT_NEAR(strip.itemByFilePath("/d/0.pdf")->width(), 38.33, 1);
  const XVTabItem* last = strip.itemByFilePath("/d/24.pdf");
  EXPECT_EQ(last->x() + last->width(), 970);
  // Narrow tabs are still drawn whole from their slices: the selected one light, the
  // others grey, with no gap of the strip's own colour between their edges.
  const QImage image = strip.grab().toImage();
  ASSERT_FALSE(image.isNull());
  for (int i = 0; i < 25; ++i) {
    const XVTabItem* item = strip.itemByFilePath(QString("/d/%1.pdf").arg(i));
    const char* expected = i == 3 ? "#fbfcfd" : "#dde2e7";
    for (const int x : {item->width() / 3, item->width() / 2, item->width() * 2 / 3}) {
      const QPoint p = item->geometry().topLeft() + QPoint(x, 6);
      EXPECT_EQ(image.pixelColor(p * image.devicePixelRatio()).name(), expected) << "tab " << i << " x " << x;
    }
  }
}

TEST_F(TabStrip, TabsAreDrawnFromTheirSlices) {
  add({"/d/a.pdf", "/d/b.pdf"});
  strip.setSelectByItemFilePath("/d/b.pdf");
  const QImage image = strip.grab().toImage();
  auto colourInside = [&](const char* path) {
    const XVTabItem* item = strip.itemByFilePath(path);
    // Right of the title, left of the right slice, below the top edge.
    const QPoint p = item->geometry().topLeft() + QPoint(item->width() - 16, 6);
    return image.pixelColor(p * image.devicePixelRatio()).name();
  };
  EXPECT_EQ(colourInside("/d/b.pdf"), "#fbfcfd");  // selected slices
  EXPECT_EQ(colourInside("/d/a.pdf"), "#dde2e7");  // unselected slices
  // Outside the tabs: the strip's own grey.
  EXPECT_EQ(image.pixelColor(QPoint(990, 2)).name(), "#c8c8c8");
}
