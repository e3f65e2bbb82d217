#include "shell/XVBookmarkControl.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QCloseEvent>
#include <QCursor>
#include <QDialog>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QList>
#include <QMenu>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

// The outline's rows as of the last reload: the library's non-empty groups and their
// bookmarks. Texts are read from the library objects at each request, through the control.
class XVBookmarkOutlineModel : public QAbstractItemModel {
 public:
  explicit XVBookmarkOutlineModel(XVBookmarkControl* control) : QAbstractItemModel(control), control_(control) {}

  void reload() {
    beginResetModel();
    nodes_.clear();
    const auto lib = XVBookmarkLib::ShareBookmarkLib();
    for (qsizetype i = 0, n = lib->gropNonEmptyCount(); i < n; ++i) {
      Node node{lib->gropNonEmptyAtIndex(i), {}};
      for (qsizetype j = 0; j < node.grop->bookmarkCount(); ++j) {
        if (auto mark = lib->bookmarkByID(node.grop->bookmarkIDByIndex(j))) node.marks.append(mark);
      }
      nodes_.append(node);
    }
    endResetModel();
  }

  XVBookmarkOutlineItem itemAt(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) return {};
    if (index.internalId() == 0) {
      return index.row() < nodes_.size() ? XVBookmarkOutlineItem{nodes_.at(index.row()).grop, nullptr}
                                         : XVBookmarkOutlineItem{};
    }
    const qsizetype parentRow = qsizetype(index.internalId()) - 1;
    if (parentRow >= nodes_.size() || index.row() >= nodes_.at(parentRow).marks.size()) return {};
    return {nullptr, nodes_.at(parentRow).marks.at(index.row())};
  }

  QModelIndex indexOf(const XVBookmarkOutlineItem& item) const {
    for (qsizetype i = 0; i < nodes_.size(); ++i) {
      if (item.isGrop() && nodes_.at(i).grop == item.grop) return index(int(i), 0);
      if (item.isBookmark()) {
        const qsizetype j = nodes_.at(i).marks.indexOf(item.bookmark);
        if (j >= 0) return index(int(j), 0, index(int(i), 0));
      }
    }
    return {};
  }

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override {
    if (column != 0 || row < 0) return {};
    if (!parent.isValid()) return row < nodes_.size() ? createIndex(row, 0, quintptr(0)) : QModelIndex();
    if (parent.internalId() != 0 || parent.row() >= nodes_.size()) return {};
    if (row >= nodes_.at(parent.row()).marks.size()) return {};
    return createIndex(row, 0, quintptr(parent.row()) + 1);
  }

  QModelIndex parent(const QModelIndex& child) const override {
    if (!child.isValid() || child.internalId() == 0) return {};
    return createIndex(int(child.internalId() - 1), 0, quintptr(0));
  }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    if (!parent.isValid()) return int(nodes_.size());
    if (parent.internalId() != 0 || parent.row() >= nodes_.size()) return 0;
    return int(nodes_.at(parent.row()).marks.size());
  }

  int columnCount(const QModelIndex& = QModelIndex()) const override { return 1; }

  QVariant data(const QModelIndex& index, int role) const override {
    const XVBookmarkOutlineItem item = itemAt(index);
    if (item.isNull()) return {};
    switch (role) {
      case Qt::DisplayRole:
      case Qt::EditRole: {
        const QString text = control_->outlineView_objectValueForItem(item);
        return text.isNull() ? QVariant() : QVariant(text);
      }
      case Qt::ToolTipRole:
        return control_->outlineView_toolTipForItem(item);
      default:
        return {};
    }
  }

  Qt::ItemFlags flags(const QModelIndex& index) const override {
    const XVBookmarkOutlineItem item = itemAt(index);
    if (item.isNull()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (item.isBookmark()) f |= Qt::ItemNeverHasChildren;
    if (control_->outlineView_shouldEditTableColumn(item)) f |= Qt::ItemIsEditable;
    return f;
  }

  bool setData(const QModelIndex& index, const QVariant& value, int role) override {
    const XVBookmarkOutlineItem item = itemAt(index);
    if (item.isNull() || role != Qt::EditRole) return false;
    control_->outlineView_setObjectValue(value.toString(), item);
    emit dataChanged(index, index);
    return true;
  }

 private:
  struct Node {
    std::shared_ptr<XVBookmarkGrop> grop;
    QList<std::shared_ptr<XVBookmark>> marks;
  };
  XVBookmarkControl* control_;
  QList<Node> nodes_;
};

XVBookmarkControl::XVBookmarkControl(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(tr("Bookmarks"));
  resize(480, 420);
  auto* escape = new QAction(this);
  escape->setShortcut(QKeySequence(Qt::Key_Escape));
  escape->setShortcutContext(Qt::WindowShortcut);
  connect(escape, &QAction::triggered, this, &QWidget::close);
  addAction(escape);

  model_ = new XVBookmarkOutlineModel(this);
  outlineView_ = new QTreeView(this);
  outlineView_->setModel(model_);
  outlineView_->setHeaderHidden(true);
  outlineView_->setSelectionMode(QAbstractItemView::SingleSelection);
  outlineView_->setEditTriggers(QAbstractItemView::NoEditTriggers);  // edits start from Rename only
  outlineView_->setExpandsOnDoubleClick(false);
  outlineView_->setContextMenuPolicy(Qt::CustomContextMenu);

  btnDelete_ = new QPushButton(tr("Delete"), this);
  btnRename_ = new QPushButton(tr("Rename"), this);
  btnOpen_ = new QPushButton(tr("Open"), this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnDelete_);
  buttons->addWidget(btnRename_);
  buttons->addStretch(1);
  buttons->addWidget(btnOpen_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(outlineView_);
  layout->addLayout(buttons);

  gropMenu_ = new QMenu(this);
  gropMenu_->addAction(tr("Delete"), this, &XVBookmarkControl::clickMenuDelete);
  markMenu_ = new QMenu(this);
  markMenu_->addAction(tr("Open"), this, &XVBookmarkControl::clickMenuOpenBookmark);
  markMenu_->addAction(tr("Rename"), this, &XVBookmarkControl::clickMenuRename);
  markMenu_->addAction(tr("Delete"), this, &XVBookmarkControl::clickMenuDelete);
  notOpenBookMenu_ = new QMenu(this);
  notOpenBookMenu_->addAction(tr("Rename"), this, &XVBookmarkControl::clickMenuRename);
  notOpenBookMenu_->addAction(tr("Delete"), this, &XVBookmarkControl::clickMenuDelete);

  windowRename_ = new QDialog(this);
  windowRename_->setWindowModality(Qt::WindowModal);
  windowRename_->setWindowTitle(tr("Rename"));
  txtRename_ = new QLineEdit(windowRename_);
  auto* save = new QPushButton(tr("Save"), windowRename_);
  auto* cancel = new QPushButton(tr("Cancel"), windowRename_);
  save->setDefault(true);
  auto* sheetButtons = new QHBoxLayout;
  sheetButtons->addStretch(1);
  sheetButtons->addWidget(cancel);
  sheetButtons->addWidget(save);
  auto* sheetLayout = new QVBoxLayout(windowRename_);
  sheetLayout->addWidget(txtRename_);
  sheetLayout->addLayout(sheetButtons);
  connect(save, &QPushButton::clicked, this, &XVBookmarkControl::clicRenameSave);
  connect(cancel, &QPushButton::clicked, this, &XVBookmarkControl::clicRenameCancel);
  connect(windowRename_, &QDialog::rejected, this, [this] { rightClickItem_ = {}; });

  connect(btnOpen_, &QPushButton::clicked, this, &XVBookmarkControl::clickOpenBookmark);
  connect(btnDelete_, &QPushButton::clicked, this, &XVBookmarkControl::clickDelete);
  connect(btnRename_, &QPushButton::clicked, this, &XVBookmarkControl::clickRename);
  connect(outlineView_, &QTreeView::doubleClicked, this,
          [this](const QModelIndex& index) { outlineView_doubleClickItem(itemAtIndex(index)); });
  connect(outlineView_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    const QModelIndex index = outlineView_->indexAt(pos);
    if (!index.isValid()) return;
    // The row under the pointer becomes the only selected row before its menu opens.
    outlineView_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    outlineView_rightClickItem(itemAtIndex(index));
  });
  connect(outlineView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &XVBookmarkControl::updateUI);
  connect(outlineView_->itemDelegate(), &QAbstractItemDelegate::closeEditor, this, [this] { editing_ = false; });

  updateUI();
}

XVBookmarkControl::~XVBookmarkControl() = default;

void XVBookmarkControl::showBookmarksWindow(QWidget* sender, const QString& expandDocmentByPath) {
  (void)sender;
  reloadOutline();
  if (!expandDocmentByPath.isEmpty()) {
    const auto grop = XVBookmarkLib::ShareBookmarkLib()->gropByFilePath(expandDocmentByPath);
    const QModelIndex index = grop ? indexOfItem({grop, nullptr}) : QModelIndex();
    if (index.isValid()) {
      outlineView_->expandRecursively(index);
      outlineView_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
      outlineView_->scrollTo(index);
    }
  }
  shown_ = true;
  show();
  raise();
  activateWindow();
  updateUI();
}

bool XVBookmarkControl::windowShouldClose() {
  shown_ = false;
  return true;
}

void XVBookmarkControl::closeEvent(QCloseEvent* event) {
  if (windowShouldClose()) {
    event->accept();
  } else {
    event->ignore();
  }
}

void XVBookmarkControl::clickOpenBookmark() {
  const XVBookmarkOutlineItem item = selectedItem();
  if (item.isBookmark()) goBookmark(item.bookmark);
}

void XVBookmarkControl::outlineView_doubleClickItem(const XVBookmarkOutlineItem& item) {
  if (item.isBookmark()) goBookmark(item.bookmark);
}

void XVBookmarkControl::clickDelete() {
  const XVBookmarkOutlineItem item = selectedItem();
  if (item.isNull()) return;
  deleteItem(item);
  reloadOutline();
}

void XVBookmarkControl::clickRename() {
  startRename();
}

void XVBookmarkControl::outlineView_rightClickItem(const XVBookmarkOutlineItem& item) {
  QMenu* menu = contextMenuForItem(item);
  if (!menu) return;
  rightClickItem_ = item;
  menu->popup(QCursor::pos());
}

QMenu* XVBookmarkControl::contextMenuForItem(const XVBookmarkOutlineItem& item) const {
  if (item.isGrop()) return gropMenu_;
  if (item.isBookmark()) return isDocumentOpen(item.bookmark) ? markMenu_ : notOpenBookMenu_;
  return nullptr;
}

void XVBookmarkControl::clickMenuOpenBookmark() {
  const XVBookmarkOutlineItem item = rightClickItem_;
  rightClickItem_ = {};
  if (item.isBookmark()) goBookmark(item.bookmark);
}

void XVBookmarkControl::clickMenuDelete() {
  const XVBookmarkOutlineItem item = rightClickItem_;
  rightClickItem_ = {};
  if (item.isNull()) return;
  deleteItem(item);
  reloadOutline();
}

void XVBookmarkControl::clickMenuRename() {
  startRename();
}

void XVBookmarkControl::clicRenameSave() {
  const QString text = txtRename_->text();
  if (text.isEmpty()) return;
  outlineView_setObjectValue(text, rightClickItem_);
  reloadOutline();
  closeRenameWindow();
  rightClickItem_ = {};
}

void XVBookmarkControl::clicRenameCancel() {
  closeRenameWindow();
  rightClickItem_ = {};
}

void XVBookmarkControl::closeRenameWindow() { windowRename_->hide(); }

void XVBookmarkControl::reloadOutline() {
  model_->reload();
  updateUI();
}

void XVBookmarkControl::updateUI() {
  const XVBookmarkOutlineItem item = selectedItem();
  btnDelete_->setEnabled(!item.isNull());
  btnRename_->setEnabled(item.isBookmark());
  btnOpen_->setEnabled(item.isBookmark() && isDocumentOpen(item.bookmark));
}

QString XVBookmarkControl::outlineView_objectValueForItem(const XVBookmarkOutlineItem& item) const {
  if (!isLive(item)) return QString();
  return item.isGrop() ? item.grop->name() : item.bookmark->name();
}

QString XVBookmarkControl::outlineView_toolTipForItem(const XVBookmarkOutlineItem& item) const {
  if (item.isGrop()) return item.grop->filePath();
  if (item.isBookmark()) return item.bookmark->name();
  return QString();
}

bool XVBookmarkControl::outlineView_shouldEditTableColumn(const XVBookmarkOutlineItem& item) const {
  return editing_ && item.isBookmark() && isLive(item);
}

void XVBookmarkControl::outlineView_setObjectValue(const QString& value, const XVBookmarkOutlineItem& item) {
  if (item.isBookmark() && isLive(item) && !value.isEmpty()) item.bookmark->setName(value);
  editing_ = false;
}

XVBookmarkOutlineItem XVBookmarkControl::selectedItem() const {
  const QModelIndexList rows = outlineView_->selectionModel()->selectedRows();
  return rows.isEmpty() ? XVBookmarkOutlineItem{} : itemAtIndex(rows.first());
}

XVBookmarkOutlineItem XVBookmarkControl::itemAtIndex(const QModelIndex& index) const { return model_->itemAt(index); }

QModelIndex XVBookmarkControl::indexOfItem(const XVBookmarkOutlineItem& item) const { return model_->indexOf(item); }

void XVBookmarkControl::goBookmark(const std::shared_ptr<XVBookmark>& bookmark) {
  if (!bookmark || !isLive({nullptr, bookmark}) || !isDocumentOpen(bookmark)) return;
  delegate_->XVBookmarkControlDelegate_goBookmark(bookmark);
}

bool XVBookmarkControl::isDocumentOpen(const std::shared_ptr<XVBookmark>& bookmark) const {
  return delegate_ && bookmark && delegate_->XVBookmarkControlDelegate_isOpen(bookmark->filePath());
}

void XVBookmarkControl::deleteItem(const XVBookmarkOutlineItem& item) {
  const auto lib = XVBookmarkLib::ShareBookmarkLib();
  if (item.isBookmark()) {
    lib->removeBookmark(item.bookmark);
  } else if (item.isGrop()) {
    lib->clearBookmarkByGrop(item.grop);  // the group stays, empty, and leaves the outline
  }
}

bool XVBookmarkControl::isLive(const XVBookmarkOutlineItem& item) const {
  const auto lib = XVBookmarkLib::ShareBookmarkLib();
  if (item.isBookmark()) return lib->bookmarkByID(item.bookmark->ID()) == item.bookmark;
  if (item.isGrop()) return item.grop->bookmarkCount() > 0 && lib->gropByFilePath(item.grop->filePath()) == item.grop;
  return false;
}

void XVBookmarkControl::startRename() {
  const QModelIndexList rows = outlineView_->selectionModel()->selectedRows();
  if (rows.isEmpty()) return;
  const XVBookmarkOutlineItem item = itemAtIndex(rows.first());
  if (!item.isBookmark() || !isLive(item)) return;  // documents keep their names
  editing_ = true;
  outlineView_->edit(rows.first());  // the editor's close clears the flag
}
