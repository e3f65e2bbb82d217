#pragma once
// The bookmark manager window: every bookmark of the shared library as a two-level outline
// (documents, then their bookmarks, newest first), with Open, Delete and Rename, context menus
// and inline rename. It holds no copy of the library: the outline is rebuilt from it on each
// reloadOutline(). Main thread only.

#include <QString>
#include <QWidget>

#include <memory>

#include "shell/XVBookmarkLib.h"

class QDialog;
class QLineEdit;
class QMenu;
class QModelIndex;
class QPushButton;
class QTreeView;
class XVBookmarkOutlineModel;

// What the manager asks of the browser. A delegate that does not override a message answers
// as if it were not there: no document is open, and going to a bookmark does nothing.
class XVBookmarkControlDelegate {
 public:
  virtual ~XVBookmarkControlDelegate() = default;
  // Shows the bookmark's document (the current tab's) at the bookmark's page.
  virtual void XVBookmarkControlDelegate_goBookmark(const std::shared_ptr<XVBookmark>& bookmark) { (void)bookmark; }
  // Yes when the current tab shows the document at `filePath`.
  virtual bool XVBookmarkControlDelegate_isOpen(const QString& filePath) {
    (void)filePath;
    return false;
  }
};

// One row of the outline: a document (its group) or one of its bookmarks; null for no row.
struct XVBookmarkOutlineItem {
  std::shared_ptr<XVBookmarkGrop> grop;
  std::shared_ptr<XVBookmark> bookmark;

  bool isGrop() const { return grop != nullptr; }
  bool isBookmark() const { return bookmark != nullptr; }
  bool isNull() const { return !grop && !bookmark; }
  bool operator==(const XVBookmarkOutlineItem&) const = default;
};

class XVBookmarkControl : public QWidget {
  Q_OBJECT

 public:
  explicit XVBookmarkControl(QWidget* parent = nullptr);
  ~XVBookmarkControl() override;

  // Not owned; the browser outlives its manager window.
  XVBookmarkControlDelegate* delegate() const { return delegate_; }
  void setDelegate(XVBookmarkControlDelegate* delegate) { delegate_ = delegate; }

  // The row the last context menu was opened on.
  XVBookmarkOutlineItem rightClickItem() const { return rightClickItem_; }
  bool isShown() const { return shown_; }

  // Reloads the outline; with a path, expands and selects that document; shows the window in
  // front. `sender` is not read.
  void showBookmarksWindow(QWidget* sender, const QString& expandDocmentByPath);

  // Buttons.
  void clickOpenBookmark();
  void clickDelete();
  void clickRename();
  // Outline clicks.
  void outlineView_doubleClickItem(const XVBookmarkOutlineItem& item);
  void outlineView_rightClickItem(const XVBookmarkOutlineItem& item);
  // The context menu for an item: a document's, an open document's bookmark's or a closed
  // document's bookmark's; null for no item.
  QMenu* contextMenuForItem(const XVBookmarkOutlineItem& item) const;
  // Context menu commands.
  void clickMenuOpenBookmark();
  void clickMenuDelete();
  void clickMenuRename();
  // Rename sheet.
  void clicRenameSave();
  void clicRenameCancel();
  void closeRenameWindow();

  void reloadOutline();
  void updateUI();

  // Data source. A row's text: the document's file name or the bookmark's name; null for an
  // item that is no longer in the library.
  QString outlineView_objectValueForItem(const XVBookmarkOutlineItem& item) const;
  QString outlineView_toolTipForItem(const XVBookmarkOutlineItem& item) const;
  // Only a bookmark still in the library, and only while a rename is under way.
  bool outlineView_shouldEditTableColumn(const XVBookmarkOutlineItem& item) const;
  // Renames a bookmark still in the library to a non-empty text (which saves the library);
  // documents keep their names.
  void outlineView_setObjectValue(const QString& value, const XVBookmarkOutlineItem& item);

  XVBookmarkOutlineItem selectedItem() const;
  XVBookmarkOutlineItem itemAtIndex(const QModelIndex& index) const;
  QModelIndex indexOfItem(const XVBookmarkOutlineItem& item) const;

  QTreeView* outlineView() const { return outlineView_; }
  QMenu* gropMenu() const { return gropMenu_; }
  QMenu* markMenu() const { return markMenu_; }
  QMenu* notOpenBookMenu() const { return notOpenBookMenu_; }
  QDialog* windowRename() const { return windowRename_; }
  QLineEdit* txtRename() const { return txtRename_; }
  QPushButton* btnDelete() const { return btnDelete_; }
  QPushButton* btnRename() const { return btnRename_; }
  QPushButton* btnOpen() const { return btnOpen_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  bool windowShouldClose();
  // Asks the delegate, now, whether the bookmark's document is the current tab's; only then
  // sends it to the bookmark.
  void goBookmark(const std::shared_ptr<XVBookmark>& bookmark);
  bool isDocumentOpen(const std::shared_ptr<XVBookmark>& bookmark) const;
  void deleteItem(const XVBookmarkOutlineItem& item);
  bool isLive(const XVBookmarkOutlineItem& item) const;
  void startRename();

  XVBookmarkControlDelegate* delegate_ = nullptr;
  XVBookmarkOutlineItem rightClickItem_;
  bool shown_ = false;
  bool editing_ = false;

  XVBookmarkOutlineModel* model_ = nullptr;
  QTreeView* outlineView_ = nullptr;
  QMenu* gropMenu_ = nullptr;
  QMenu* markMenu_ = nullptr;
  QMenu* notOpenBookMenu_ = nullptr;
  QDialog* windowRename_ = nullptr;
  QLineEdit* txtRename_ = nullptr;
  QPushButton* btnDelete_ = nullptr;
  QPushButton* btnRename_ = nullptr;
  QPushButton* btnOpen_ = nullptr;
};
