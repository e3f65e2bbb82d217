#include "shell/XVBookmarkControl.h"

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

#include <cstdlib>
#include <functional>
#include <memory>

#include "core/XVBaseFunction.h"
#include "support/temp_dir.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

class GuiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<testsupport::TempDir>();
    for (const char* var : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"}) {
      ::setenv(var, (dir_->path() / var).c_str(), 1);
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "bookmark_control_tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override {
    XVBaseFunction::releaseAppEndObjects();
    app_.reset();
    dir_.reset();
  }

 private:
  std::unique_ptr<testsupport::TempDir> dir_;
  std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] auto* const guiEnvironment = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

// The browser as the manager sees it: one current tab, and the bookmarks it was sent to.
class FakeBrowser : public XVBookmarkControlDelegate {
 public:
  void XVBookmarkControlDelegate_goBookmark(const std::shared_ptr<XVBookmark>& bookmark) override {
    went.append(bookmark);
  }
  bool XVBookmarkControlDelegate_isOpen(const QString& filePath) override { return filePath == currentPath; }

  QString currentPath;
  QList<std::shared_ptr<XVBookmark>> went;
};

class BookmarkControl : public ::testing::Test {
 protected:
  void SetUp() override {
    XVBaseFunction::releaseAppEndObjects();
    XVBaseFunction::userDefaults()->clear();
    lib = XVBookmarkLib::ShareBookmarkLib();
    a1 = lib->addBookmarkNamed("a first", "/docs/a.pdf", 0);
    a2 = lib->addBookmarkNamed("a second", "/docs/a.pdf", 5);
    b1 = lib->addBookmarkNamed("b only", "/docs/b.pdf", 2);
    lib->removeBookmark(lib->addBookmarkNamed("gone", "/docs/empty.pdf", 1));
    c1 = lib->addBookmarkNamed("c only", "/docs/c.pdf", 3);
    browser.currentPath = "/docs/a.pdf";
    control = std::make_unique<XVBookmarkControl>();
    control->setDelegate(&browser);
    control->showBookmarksWindow(nullptr, QString());
  }
  void TearDown() override {
    control.reset();
    lib.reset();
    XVBaseFunction::releaseAppEndObjects();
    XVBaseFunction::userDefaults()->clear();
  }

  QAbstractItemModel* model() const { return control->outlineView()->model(); }
  QModelIndex indexOf(const std::shared_ptr<XVBookmark>& m) const { return control->indexOfItem({nullptr, m}); }
  QModelIndex indexOf(const QString& path) const { return control->indexOfItem({lib->gropByFilePath(path), nullptr}); }
  void select(const QModelIndex& index) {
    ASSERT_TRUE(index.isValid());
    control->outlineView()->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  }
  QPoint centre(const QModelIndex& index) const {
    if (index.parent().isValid()) control->outlineView()->expand(index.parent());
    control->outlineView()->scrollTo(index);
    return control->outlineView()->visualRect(index).center();
  }
  void rightClick(const QModelIndex& index) {
    QWidget* viewport = control->outlineView()->viewport();
    const QPoint pos = centre(index);
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, viewport->mapToGlobal(pos));
    QApplication::sendEvent(viewport, &event);
  }
  void doubleClick(const QModelIndex& index) {
    QWidget* viewport = control->outlineView()->viewport();
    const QPoint pos = centre(index);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, pos);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, pos);
  }
  static QString text(const QModelIndex& index) { return index.data(Qt::DisplayRole).toString(); }
  struct Buttons {
    bool del, rename, open;
    bool operator==(const Buttons&) const = default;
  };
  Buttons buttons() const {
    return {control->btnDelete()->isEnabled(), control->btnRename()->isEnabled(), control->btnOpen()->isEnabled()};
  }

  std::shared_ptr<XVBookmarkLib> lib;
  std::shared_ptr<XVBookmark> a1, a2, b1, c1;
  FakeBrowser browser;
  std::unique_ptr<XVBookmarkControl> control;
};

TEST_F(BookmarkControl, OutlineListsDocumentsWithBookmarksNewestFirst) {
  ASSERT_EQ(model()->rowCount(), 3);  // the emptied document is not listed
  const QModelIndex a = model()->index(0, 0);
  EXPECT_EQ(text(a), "a.pdf");
  EXPECT_EQ(a.data(Qt::ToolTipRole).toString(), "/docs/a.pdf");
  ASSERT_EQ(model()->rowCount(a), 2);
  EXPECT_EQ(text(model()->index(0, 0, a)), "a second");
  EXPECT_EQ(model()->index(0, 0, a).data(Qt::ToolTipRole).toString(), "a second");
  EXPECT_EQ(text(model()->index(1, 0, a)), "a first");
  EXPECT_EQ(model()->rowCount(model()->index(0, 0, a)), 0);
  EXPECT_EQ(text(model()->index(1, 0)), "b.pdf");
  EXPECT_EQ(text(model()->index(2, 0)), "c.pdf");
  EXPECT_TRUE(control->isShown());
  EXPECT_TRUE(control->selectedItem().isNull());

  // Shown for a document: its row is expanded and selected.
  control->showBookmarksWindow(nullptr, "/docs/c.pdf");
  EXPECT_TRUE(control->outlineView()->isExpanded(indexOf("/docs/c.pdf")));
  EXPECT_FALSE(control->outlineView()->isExpanded(indexOf("/docs/a.pdf")));
  EXPECT_EQ(control->selectedItem().grop, lib->gropByFilePath("/docs/c.pdf"));
  // A document without bookmarks selects nothing.
  control->showBookmarksWindow(nullptr, "/docs/empty.pdf");
  EXPECT_TRUE(control->selectedItem().isNull());

  // Esc closes it, from the outline as from anywhere in it.
  ASSERT_TRUE(QTest::qWaitForWindowActive(control.get()));
  control->outlineView()->setFocus();
  QTest::keyClick(control->outlineView(), Qt::Key_Escape);
  EXPECT_FALSE(control->isShown());
  EXPECT_FALSE(control->isVisible());
}

TEST_F(BookmarkControl, ButtonsFollowTheSelection) {
  EXPECT_EQ(buttons(), (Buttons{false, false, false}));
  select(indexOf("/docs/a.pdf"));
  EXPECT_EQ(buttons(), (Buttons{true, false, false}));
  select(indexOf(a1));
  EXPECT_EQ(buttons(), (Buttons{true, true, true}));
  select(indexOf(b1));
  EXPECT_EQ(buttons(), (Buttons{true, true, false}));
  control->setDelegate(nullptr);
  select(indexOf(a2));
  EXPECT_EQ(buttons(), (Buttons{true, true, false}));
}

TEST_F(BookmarkControl, EveryWayToOpenAsksWhetherTheDocumentIsCurrentWhenItRuns) {
  // Open button, double click and the context menu's Open, each with the document current.
  select(indexOf(a1));
  control->clickOpenBookmark();
  doubleClick(indexOf(a2));
  rightClick(indexOf(a1));
  EXPECT_EQ(control->rightClickItem().bookmark, a1);
  QMenu* menu = control->markMenu();
  EXPECT_TRUE(menu->isVisible());
  menu->actions().first()->trigger();  // Open
  menu->hide();
  EXPECT_TRUE(control->rightClickItem().isNull());
  EXPECT_EQ(browser.went, (QList<std::shared_ptr<XVBookmark>>{a1, a2, a1}));

  // The same, after the browser switched to another tab while the window stayed as it was.
  browser.went.clear();
  select(indexOf(a1));
  EXPECT_TRUE(control->btnOpen()->isEnabled());
  rightClick(indexOf(a2));
  EXPECT_TRUE(control->markMenu()->isVisible());
  control->markMenu()->hide();
  browser.currentPath = "/docs/b.pdf";
  control->clickOpenBookmark();
  control->clickMenuOpenBookmark();
  control->outlineView_doubleClickItem({nullptr, a1});
  EXPECT_TRUE(browser.went.isEmpty());

  // Nothing to go to: a document row, or no delegate.
  control->outlineView_doubleClickItem({lib->gropByFilePath("/docs/b.pdf"), nullptr});
  control->setDelegate(nullptr);
  control->outlineView_doubleClickItem({nullptr, b1});
  EXPECT_TRUE(browser.went.isEmpty());
}

TEST_F(BookmarkControl, ContextMenuDependsOnTheRowAndSelectsIt) {
  struct Case {
    std::function<QModelIndex()> row;
    QMenu* (XVBookmarkControl::*menu)() const;
  } cases[] = {{[&] { return indexOf("/docs/b.pdf"); }, &XVBookmarkControl::gropMenu},
               {[&] { return indexOf(a2); }, &XVBookmarkControl::markMenu},
               {[&] { return indexOf(c1); }, &XVBookmarkControl::notOpenBookMenu}};
  control->outlineView()->expandAll();
  for (const auto& c : cases) {
    const QModelIndex row = c.row();
    rightClick(row);
    QMenu* menu = (control.get()->*c.menu)();
    EXPECT_TRUE(menu->isVisible()) << text(row).toStdString();
    EXPECT_EQ(control->selectedItem(), control->itemAtIndex(row));
    EXPECT_EQ(control->rightClickItem(), control->itemAtIndex(row));
    menu->hide();
  }
  // Only an open document's bookmark offers Open.
  for (QMenu* menu : {control->gropMenu(), control->notOpenBookMenu()}) {
    for (QAction* action : menu->actions()) EXPECT_NE(action->text(), "Open");
  }
}

TEST_F(BookmarkControl, DeletedItemsLeaveTheOutlineAndCannotBeRenamed) {
  select(indexOf(a2));
  control->clickDelete();
  EXPECT_FALSE(lib->bookmarkByID(a2->ID()));
  EXPECT_FALSE(indexOf(a2).isValid());
  EXPECT_EQ(model()->rowCount(indexOf("/docs/a.pdf")), 1);
  EXPECT_TRUE(control->outlineView_objectValueForItem({nullptr, a2}).isNull());
  EXPECT_FALSE(control->outlineView_shouldEditTableColumn({nullptr, a2}));
  control->outlineView_setObjectValue("revived", {nullptr, a2});
  EXPECT_EQ(a2->name(), "a second");
  EXPECT_EQ(buttons(), (Buttons{false, false, false}));

  // A document: all its bookmarks go, it leaves the outline, its group stays.
  const auto grop = lib->gropByFilePath("/docs/a.pdf");
  select(indexOf("/docs/a.pdf"));
  control->clickDelete();
  EXPECT_FALSE(lib->bookmarkByID(a1->ID()));
  EXPECT_EQ(lib->gropByFilePath("/docs/a.pdf"), grop);
  EXPECT_EQ(grop->bookmarkCount(), 0);
  EXPECT_EQ(model()->rowCount(), 2);
  EXPECT_TRUE(control->outlineView_objectValueForItem({grop, nullptr}).isNull());

  // The context menu's Delete acts on the row it was opened on.
  rightClick(indexOf(QString("/docs/b.pdf")));
  control->gropMenu()->hide();
  select(indexOf("/docs/c.pdf"));
  control->clickMenuDelete();
  EXPECT_EQ(lib->gropByFilePath("/docs/b.pdf")->bookmarkCount(), 0);
  EXPECT_EQ(lib->bookmarkByID(c1->ID()), c1);
  EXPECT_TRUE(control->rightClickItem().isNull());
  EXPECT_EQ(model()->rowCount(), 1);

  // All of it is in the stored library.
  XVBaseFunction::releaseAppEndObjects();
  lib = XVBookmarkLib::ShareBookmarkLib();
  EXPECT_EQ(lib->gropCount(), 4);
  EXPECT_EQ(lib->gropNonEmptyCount(), 1);
}

TEST_F(BookmarkControl, OnlyBookmarksAreRenamedAndRenamesAreSaved) {
  // Inline: Rename opens an editor on the selected bookmark with its text selected.
  select(indexOf(b1));
  control->clickRename();
  auto* editor = control->outlineView()->viewport()->findChild<QLineEdit*>();
  ASSERT_TRUE(editor);
  EXPECT_EQ(editor->selectedText(), "b only");
  editor->setText("b renamed");
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();  // the view commits on a queued call
  EXPECT_EQ(b1->name(), "b renamed");
  EXPECT_EQ(text(indexOf(b1)), "b renamed");
  EXPECT_FALSE(control->outlineView_shouldEditTableColumn({nullptr, b1}));  // the edit has ended

  // An empty text keeps the name.
  control->outlineView_setObjectValue("", {nullptr, b1});
  EXPECT_EQ(b1->name(), "b renamed");

  // A document row neither opens an editor nor takes a new name.
  const auto grop = lib->gropByFilePath("/docs/a.pdf");
  select(indexOf("/docs/a.pdf"));
  control->clickRename();
  control->clickMenuRename();
  EXPECT_FALSE(control->outlineView_shouldEditTableColumn({grop, nullptr}));
  EXPECT_FALSE(model()->flags(indexOf("/docs/a.pdf")) & Qt::ItemIsEditable);
  control->outlineView_setObjectValue("x.pdf", {grop, nullptr});
  EXPECT_EQ(grop->name(), "a.pdf");

  // The rename sheet renames the right-clicked bookmark; an empty text leaves it open.
  rightClick(indexOf(c1));
  control->notOpenBookMenu()->hide();
  control->windowRename()->show();
  control->txtRename()->clear();
  control->clicRenameSave();
  EXPECT_TRUE(control->windowRename()->isVisible());
  control->txtRename()->setText("c renamed");
  control->clicRenameSave();
  EXPECT_FALSE(control->windowRename()->isVisible());
  EXPECT_EQ(c1->name(), "c renamed");
  EXPECT_TRUE(control->rightClickItem().isNull());
  // ... and never a document.
  rightClick(indexOf("/docs/a.pdf"));
  control->gropMenu()->hide();
  control->txtRename()->setText("y.pdf");
  control->clicRenameSave();
  EXPECT_EQ(grop->name(), "a.pdf");

  XVBaseFunction::releaseAppEndObjects();
  lib = XVBookmarkLib::ShareBookmarkLib();
  EXPECT_EQ(lib->bookmarkByID(b1->ID())->name(), "b renamed");
  EXPECT_EQ(lib->bookmarkByID(c1->ID())->name(), "c renamed");
  EXPECT_EQ(lib->gropByFilePath("/docs/a.pdf")->name(), "a.pdf");
}

}  // namespace
