#include "shell/XVControls.h"

#include <QApplication>
#include <QFile>
#include <QFontMetricsF>
#include <QHash>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTextBoundaryFinder>
#include <QSvgRenderer>

#include <algorithm>

#include "shell/XVShellLogic.h"

static void loadLecternResources() { Q_INIT_RESOURCE(lectern); }

int XVAlertMaxWidth(const QWidget* alert) {
  constexpr int kWidest = 600;
  const QScreen* screen = alert && alert->screen() ? alert->screen() : QGuiApplication::primaryScreen();
  if (!screen) return kWidest;
  return std::max(120, std::min(kWidest, screen->availableGeometry().width() * 3 / 4));
}

namespace {

constexpr QChar kBreak(0x200B);  // zero-width space: a place a line may break

// `text` with a break between the characters of each word wider than `width`.
QString breakLongWords(const QString& text, int width, const QFontMetrics& metrics) {
  QString out;
  QString word;
  auto flush = [&] {
    if (metrics.horizontalAdvance(word) > width) {
      QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, word);
      qsizetype from = 0;
      for (qsizetype at = graphemes.toNextBoundary(); at > 0; at = graphemes.toNextBoundary()) {
        if (from > 0) out += kBreak;
        out += word.mid(from, at - from);
        from = at;
      }
    } else {
      out += word;
    }
    word.clear();
  };
  for (const QChar c : text) {
    if (c.isSpace()) {
      flush();
      out += c;
    } else {
      word += c;
    }
  }
  flush();
  return out;
}

}  // namespace

void XVSetWrappedText(QLabel* label, const QString& text, int widest) {
  if (!label) return;
  QString plain = text;
  plain.remove(kBreak);
  const QFontMetrics metrics(label->font());
  // The width of its widest line as the label itself lays it out, unwrapped.
  label->setText(plain);
  label->setWordWrap(false);
  int width = label->sizeHint().width();
  label->setWordWrap(true);
  // A wrapping label may need a pixel or two more than that to keep a line whole.
  const int oneLine = label->heightForWidth(QWIDGETSIZE_MAX / 2);
  for (const int most = width + metrics.averageCharWidth() * 2; width < most && label->heightForWidth(width) > oneLine;) ++width;
  label->setMinimumWidth(std::min(width, widest));
  label->setMaximumWidth(std::max(widest, label->minimumWidth()));
  label->setText(breakLongWords(plain, widest, metrics));
}

void XVFitAlertToText(QMessageBox* box) {
  if (!box) return;
  const int widest = XVAlertMaxWidth(box);
  QLabel* message = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
  QLabel* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
  XVSetWrappedText(message, box->text(), widest);
  XVSetWrappedText(informative, box->informativeText(), widest);
  // Set again, the texts lay out an alert that is up; the box itself wraps them.
  if (message) box->setText(message->text());
  if (informative) box->setInformativeText(informative->text());
}

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
