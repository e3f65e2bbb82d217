#pragma once
// The tab strip of the browser: one XVTabItem per open document, laid out side by side, with
// an add button. The strip asks its delegate (the browser) before a selection or a close.

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

#include "shell/XVOpenDocuments.h"

class QLabel;
class QToolButton;
class XVTab;
class XVTabItem;
class XVTextField;

// Answered by the browser. The defaults are the answers of a delegate that does not answer.
class XVTabDelegate {
 public:
  virtual ~XVTabDelegate() = default;
  // YES lets the selection happen.
  virtual bool XVTabDelegate_selectItemFilePath(const QString& path, XVTab* tab) {
    (void)path;
    (void)tab;
    return false;
  }
  // YES lets the tab go.
  virtual bool XVTabDelegate_DeleteItemFromXVTab(XVTabItem* item, XVTab* tab) {
    (void)item;
    (void)tab;
    return false;
  }
  virtual void XVTabDelegate_AddItem(XVTab* tab) { (void)tab; }
};

// Answered by the strip.
class XVTabItemDelegate {
 public:
  virtual ~XVTabItemDelegate() = default;
  virtual bool XVTabItemDelegate_IsSelect(XVTabItem* item) = 0;
  virtual bool XVTabItemDelegate_DeleteItem(XVTabItem* item) = 0;
  virtual void XVTabItemDelegate_MouseUp(XVTabItem* item) = 0;
};

// One tab: the file it shows. The browser hands it the open document it stands for, whose
// module and load state it shows.
class XVTabItem : public QWidget {
  Q_OBJECT
 public:
  explicit XVTabItem(const QString& filePath, QWidget* parent = nullptr);
  ~XVTabItem() override;

  QString filepath() const { return filepath_; }
  void setOpenDocument(std::shared_ptr<const XVOpenDocument> document) { document_ = std::move(document); }
  const std::shared_ptr<const XVOpenDocument>& openDocument() const { return document_; }
  // The document's module once its load has ended.
  std::shared_ptr<ImportInterface> documentModul() const { return document_ ? document_->module() : nullptr; }
  // Yes once a load has been requested for the document.
  bool getDecodSymbol() const { return document_ && document_->loadRequested(); }

  void setDelegate(XVTabItemDelegate* delegate) { delegate_ = delegate; }
  XVTabItemDelegate* delegate() const { return delegate_; }

  XVTextField* title() const { return title_; }
  QToolButton* closeButton() const { return closeButton_; }

  // Closes the tab, as its close button or a middle click does.
  void clickDeleteButton();
  void updateView() { update(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void drawTab(QPainter& painter);

  QString filepath_;
  std::shared_ptr<const XVOpenDocument> document_;
  XVTabItemDelegate* delegate_ = nullptr;
  XVTextField* title_ = nullptr;
  QToolButton* closeButton_ = nullptr;
};

class XVTab : public QWidget, public XVTabItemDelegate {
  Q_OBJECT
 public:
  static constexpr int kStripHeight = 32;
  static constexpr int kTabTop = 7;

  explicit XVTab(QWidget* parent = nullptr);
  ~XVTab() override;

  void setDelegate(XVTabDelegate* delegate) { delegate_ = delegate; }
  XVTabDelegate* delegate() const { return delegate_; }

  const QList<XVTabItem*>& TableItemArray() const { return itemArray_; }
  XVTabItem* currentSeletedItem() const { return current_; }
  XVTabItem* oldItem() const { return oldItem_; }
  QWidget* tabView() const { return tabView_; }
  QToolButton* addButtonView() const { return addButton_; }

  // Adds a tab for the path at the right end; it is not selected.
  XVTabItem* addItemWithItemFilePath(const QString& path);
  void resetItemFrame();
  void setSelectByItem(XVTabItem* item);
  void setSelectByItemFilePath(const QString& path);
  void setSelectItemAndSendDelegate(XVTabItem* item, const QString& path);
  void removeItem(XVTabItem* item);
  XVTabItem* itemByFilePath(const QString& path) const;
  XVTabItem* nextItem(XVTabItem* item) const;
  XVTabItem* previousItem(XVTabItem* item) const;
  QString itemDataSourcePathAtIndex(qsizetype index) const;
  qsizetype itemCount() const { return itemArray_.size(); }
  void clickAddButton();

  bool XVTabItemDelegate_IsSelect(XVTabItem* item) override { return item && item == current_; }
  bool XVTabItemDelegate_DeleteItem(XVTabItem* item) override;
  void XVTabItemDelegate_MouseUp(XVTabItem* item) override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QList<XVTabItem*> itemArray_;
  XVTabItem* current_ = nullptr;
  XVTabItem* oldItem_ = nullptr;
  XVTabDelegate* delegate_ = nullptr;
  QWidget* tabView_ = nullptr;
  QToolButton* addButton_ = nullptr;
  QLabel* bottomImageView_ = nullptr;
};
