#include "shell/XVControls.h"

#include <QApplication>
#include <QFile>
#include <QFontMetricsF>
#include <QHash>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>

#include "shell/XVShellLogic.h"

static void loadLecternResources() { Q_INIT_RESOURCE(lectern); }

QPixmap XVImageNamed(const QString& name) {
  static bool loaded = (loadLecternResources(), true);
  (void)loaded;
  if (name.isEmpty()) return QPixmap();  // only registers the resources
  // Pixmaps must not outlive the application object: the cache empties with it.
  static auto* cache = [] {
    auto* c = new QHash<QString, QPixmap>();
    if (qApp) QObject::connect(qApp, &QObject::destroyed, [c] { c->clear(); });
    return c;
  }();
  auto it = cache->constFind(name);
  if (it != cache->constEnd()) return *it;
  QString file = name;
  file.remove(u' ');
  QSvgRenderer renderer(QStringLiteral(":/images/%1.svg").arg(file));
  QPixmap pixmap;
  if (renderer.isValid()) {
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    pixmap = QPixmap(renderer.defaultSize() * ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    pixmap.setDevicePixelRatio(ratio);
  }
  cache->insert(name, pixmap);
  return pixmap;
}

// ---------------------------------------------------------------------------------------

XVChangeButton::XVChangeButton(QWidget* parent) : QToolButton(parent) {
  setCheckable(true);
  setChecked(true);
  setAutoRaise(true);
  setFocusPolicy(Qt::NoFocus);
  setChangeImage();
}

void XVChangeButton::setOn(bool on) {
  setChecked(on);
  setChangeImage();
}

void XVChangeButton::setOnNormalImage(const QPixmap& normal, const QPixmap& pressed) {
  onNormalImage_ = normal;
  onPressedImage_ = pressed;
  setChangeImage();
}

void XVChangeButton::setOffNormalImage(const QPixmap& normal, const QPixmap& pressed) {
  offNormalImage_ = normal;
  offPressedImage_ = pressed;
  setChangeImage();
}

void XVChangeButton::setChangeImage() {
  image_ = On() ? onNormalImage_ : offNormalImage_;
  pressedImage_ = On() ? onPressedImage_ : offPressedImage_;
  updateGeometry();
  update();
}

void XVChangeButton::nextCheckState() {
  // Runs before clicked() is emitted: the receiver sees the new state.
  setChecked(!isChecked());
  if (isEnabled()) QMetaObject::invokeMethod(this, &XVChangeButton::afterClick, Qt::QueuedConnection);
}

void XVChangeButton::afterClick() { setChangeImage(); }

QSize XVChangeButton::sizeHint() const {
  if (image_.isNull()) return QToolButton::sizeHint();
  return (image_.deviceIndependentSize().toSize()).expandedTo(QSize(16, 16));
}

void XVChangeButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPixmap pixmap = shownImage();
  if (pixmap.isNull()) return;
  if (!isEnabled()) painter.setOpacity(0.4);
  const QSizeF size = pixmap.deviceIndependentSize();
  const QPointF at((width() - size.width()) / 2.0, (height() - size.height()) / 2.0);
  painter.drawPixmap(at, pixmap);
}

// ---------------------------------------------------------------------------------------

XVTextField::XVTextField(QWidget* parent) : QLabel(parent) { setMinimumWidth(1); }

void XVTextField::setStringValue(const QString& text) {
  realString_ = text;
  resetStringValue();
}

QString XVTextField::needShowString() const {
  const QFontMetricsF metrics(font());
  return XVTailTruncate(realString_, width() - 2.0, [&](const QString& s) { return metrics.horizontalAdvance(s); });
}

void XVTextField::resetStringValue() { QLabel::setText(needShowString()); }

void XVTextField::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  resetStringValue();
}

// ---------------------------------------------------------------------------------------

LTTextFiled::LTTextFiled(QWidget* parent) : QLineEdit(parent) {}

bool LTTextFiled::event(QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->keyCombination() == QKeyCombination(Qt::CTRL, Qt::Key_Home) ||
        key->keyCombination() == QKeyCombination(Qt::CTRL, Qt::Key_End)) {
      event->ignore();  // left to the window's shortcuts
      return true;
    }
  }
  return QLineEdit::event(event);
}

void LTTextFiled::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    emit escapePressed();
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

// ---------------------------------------------------------------------------------------

XVOutlineView::XVOutlineView(QWidget* parent) : QTreeView(parent) {}

void XVOutlineView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (delegate_ && event->button() == Qt::LeftButton)
    delegate_->outlineView_doubleClickItem(this, itemAtPoint(event->position().toPoint()));
  QTreeView::mouseDoubleClickEvent(event);
}

void XVOutlineView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::RightButton) {
    QTreeView::mousePressEvent(event);
    return;
  }
  const QModelIndex item = itemAtPoint(event->position().toPoint());
  if (item.isValid() && selectionModel()) {
    selectionModel()->setCurrentIndex(item, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  if (delegate_) delegate_->outlineView_rightClickItem(this, item);
  event->accept();
}
