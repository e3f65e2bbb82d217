#include "shell/XVTab.h"

#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>

#include <cmath>

#include "shell/XVControls.h"
#include "shell/XVShellLogic.h"

namespace {
constexpr int kCloseSize = 16;
constexpr int kAddButtonWidth = 30;
}  // namespace

XVTabItem::XVTabItem(const QString& filePath, QWidget* parent) : QWidget(parent), filepath_(filePath) {
  title_ = new XVTextField(this);
  title_->setAlignment(Qt::AlignCenter);
  closeButton_ = new QToolButton(this);
  closeButton_->setAutoRaise(true);
  closeButton_->setFocusPolicy(Qt::NoFocus);
  closeButton_->setIcon(QIcon(XVImageNamed(QStringLiteral("pic_tab_close"))));
  closeButton_->setIconSize(QSize(10, 10));
  closeButton_->setToolTip(QStringLiteral("Close"));
  connect(closeButton_, &QToolButton::clicked, this, &XVTabItem::clickDeleteButton);
  const QString name = QFileInfo(filePath).fileName();
  title_->setStringValue(name);
  setToolTip(name);
  title_->setToolTip(name);
}

XVTabItem::~XVTabItem() { delegate_ = nullptr; }

void XVTabItem::clickDeleteButton() {
  if (delegate_) delegate_->XVTabItemDelegate_DeleteItem(this);
}

void XVTabItem::mouseReleaseEvent(QMouseEvent* event) {
  QWidget::mouseReleaseEvent(event);
  if (!rect().contains(event->position().toPoint()) || !delegate_) return;
  if (event->button() == Qt::LeftButton) delegate_->XVTabItemDelegate_MouseUp(this);
  else if (event->button() == Qt::MiddleButton) clickDeleteButton();  // closes, as in other tab strips
}

void XVTabItem::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int h = height();
  closeButton_->setGeometry(6, (h - kCloseSize) / 2, kCloseSize, kCloseSize);
  const int left = 6 + kCloseSize + 2;
  title_->setGeometry(left, 0, std::max(1, width() - left - 8), h);
  closeButton_->setVisible(width() >= left + 8);
}

void XVTabItem::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  drawTab(painter);
}

void XVTabItem::drawTab(QPainter& painter) {
  const bool selected = delegate_ && delegate_->XVTabItemDelegate_IsSelect(this);
  const QString state = selected ? QStringLiteral("selected") : QStringLiteral("unselected");
  const QPixmap left = XVImageNamed(QStringLiteral("pic_tab_%1_1").arg(state));
  const QPixmap right = XVImageNamed(QStringLiteral("pic_tab_%1_3").arg(state));
  const QPixmap middle = XVImageNamed(QStringLiteral("pic_tab_%1_2").arg(state));
  const double W = width();
  const double wl = left.deviceIndependentSize().width();
  const double wr = right.deviceIndependentSize().width();
  // Left, right, then the middle over both seams (one point of overlap each side).
  double leftX, rightX, middleX, m;
  if (selected) {
    leftX = -5;
    rightX = W - wr + 4;
    middleX = wl - 6;
    m = W - (wl - 5) - (wr - 4);
  } else {
    leftX = -2;
    rightX = W - wr;
    middleX = wl - 3;
    m = W - (wl - 2) - wr;
  }
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter.setOpacity(1.0);
  painter.drawPixmap(QPointF(leftX, 0), left);
  painter.drawPixmap(QPointF(rightX, 0), right);
  if (m > 0) {
    painter.drawPixmap(QRectF(middleX, 0, m + 2, middle.deviceIndependentSize().height()), middle,
                       QRectF(QPointF(0, 0), middle.size()));
  }
}

// ---------------------------------------------------------------------------------------

XVTab::XVTab(QWidget* parent) : QWidget(parent) {
  setFixedHeight(kStripHeight);
  tabView_ = new QWidget(this);
  bottomImageView_ = new QLabel(tabView_);
  bottomImageView_->setScaledContents(true);
  bottomImageView_->setPixmap(XVImageNamed(QStringLiteral("pic_tab_bottom")));
  addButton_ = new QToolButton(tabView_);
  addButton_->setAutoRaise(true);
  addButton_->setFocusPolicy(Qt::NoFocus);
  addButton_->setIcon(QIcon(XVImageNamed(QStringLiteral("pic_tab_add"))));
  addButton_->setIconSize(QSize(14, 14));
  addButton_->setToolTip(QStringLiteral("Open"));
  connect(addButton_, &QToolButton::clicked, this, &XVTab::clickAddButton);
}

XVTab::~XVTab() {
  for (XVTabItem* item : itemArray_) item->setDelegate(nullptr);
}

void XVTab::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor::fromRgbF(200.0f / 255.0f, 200.0f / 255.0f, 200.0f / 255.0f, 1.0f));
}

void XVTab::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  tabView_->setGeometry(0, 0, width(), kStripHeight);
  addButton_->setGeometry(width() - kAddButtonWidth, kTabTop, kAddButtonWidth, kStripHeight - kTabTop);
  bottomImageView_->setGeometry(0, kStripHeight - 2, width(), 2);
  resetItemFrame();
}

XVTabItem* XVTab::addItemWithItemFilePath(const QString& path) {
  auto* item = new XVTabItem(path, tabView_);
  item->setGeometry(0, kTabTop, 10, kStripHeight - kTabTop);
  item->stackUnder(bottomImageView_);
  itemArray_.append(item);
  item->setDelegate(this);
  item->show();
  resetItemFrame();
  return item;
}

void XVTab::resetItemFrame() {
  const int currentIndex = static_cast<int>(itemArray_.indexOf(current_));
  const auto frames = XVTabLayout(static_cast<int>(itemArray_.size()), width(), kAddButtonWidth, currentIndex);
  const int h = kStripHeight - kTabTop;
  for (qsizetype i = 0; i < itemArray_.size(); ++i) {
    const auto& s = frames[static_cast<size_t>(i)];
    const int left = static_cast<int>(std::lround(s.x));
    const int right = static_cast<int>(std::lround(s.x + s.width));
    itemArray_[i]->setGeometry(left, kTabTop, right - left, h);
  }
}

void XVTab::setSelectByItem(XVTabItem* item) {
  if (!item || item == current_ || !itemArray_.contains(item)) return;
  oldItem_ = current_;
  current_ = item;
  resetItemFrame();
  if (oldItem_) oldItem_->updateView();
  current_->updateView();
}

void XVTab::setSelectByItemFilePath(const QString& path) { setSelectItemAndSendDelegate(itemByFilePath(path), path); }

void XVTab::setSelectItemAndSendDelegate(XVTabItem* item, const QString& path) {
  if (delegate_ && delegate_->XVTabDelegate_selectItemFilePath(path, this)) setSelectByItem(item);
}

void XVTab::removeItem(XVTabItem* item) {
  if (!item || !itemArray_.contains(item)) return;
  if (item == current_) {
    XVTabItem* neighbour = nextItem(item);
    if (!neighbour) neighbour = previousItem(item);
    if (neighbour) setSelectItemAndSendDelegate(neighbour, neighbour->filepath());
  }
  // No current or previous tab may point at the removed one.
  if (current_ == item) current_ = nullptr;
  if (oldItem_ == item) oldItem_ = nullptr;
  itemArray_.removeOne(item);
  item->setDelegate(nullptr);
  item->hide();
  item->setParent(nullptr);
  item->deleteLater();
  resetItemFrame();
}

XVTabItem* XVTab::itemByFilePath(const QString& path) const {
  for (XVTabItem* item : itemArray_)
    if (item->filepath() == path) return item;
  return nullptr;
}

XVTabItem* XVTab::nextItem(XVTabItem* item) const {
  const qsizetype i = itemArray_.indexOf(item);
  return (i >= 0 && i + 1 < itemArray_.size()) ? itemArray_[i + 1] : nullptr;
}

XVTabItem* XVTab::previousItem(XVTabItem* item) const {
  const qsizetype i = itemArray_.indexOf(item);
  return i > 0 ? itemArray_[i - 1] : nullptr;
}

QString XVTab::itemDataSourcePathAtIndex(qsizetype index) const {
  if (index < 0 || index >= itemArray_.size()) return QString();
  return itemArray_[index]->filepath();
}

void XVTab::clickAddButton() {
  if (delegate_) delegate_->XVTabDelegate_AddItem(this);
}

bool XVTab::XVTabItemDelegate_DeleteItem(XVTabItem* item) {
  if (!delegate_ || !delegate_->XVTabDelegate_DeleteItemFromXVTab(item, this)) return false;
  removeItem(item);
  return true;
}

void XVTab::XVTabItemDelegate_MouseUp(XVTabItem* item) {
  if (delegate_ && delegate_->XVTabDelegate_selectItemFilePath(item->filepath(), this)) setSelectByItem(item);
}
