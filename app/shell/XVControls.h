#pragma once
// Small controls: the two-state image button, the truncating label, the text field with its
// own editing keys, the outline that reports double and right clicks, and the image lookup.

#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QToolButton>
#include <QTreeView>

#include "shell/XVAlertText.h"


// The application image of that name (":/images/<name>.svg", blanks in the name ignored),
// at its natural size; a null pixmap when there is none. GUI thread only.
QPixmap XVImageNamed(const QString& name);

// A two-state image button. A click flips the state before the button's clicked signal is
// sent, so the receiver sees the new state; the images follow on the next event-loop turn.
class XVChangeButton : public QToolButton {
  Q_OBJECT
 public:
  explicit XVChangeButton(QWidget* parent = nullptr);

  bool On() const { return isChecked(); }
  void setOn(bool on);
  void setOnNormalImage(const QPixmap& normal, const QPixmap& pressed);
  void setOffNormalImage(const QPixmap& normal, const QPixmap& pressed);
  void setChangeImage();
  // The image shown now (state and pressed look).
  QPixmap shownImage() const { return isDown() && !pressedImage_.isNull() ? pressedImage_ : image_; }

  QSize sizeHint() const override;

 protected:
  void nextCheckState() override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void afterClick();

  QPixmap onNormalImage_, onPressedImage_, offNormalImage_, offPressedImage_;
  QPixmap image_, pressedImage_;
};

// A one-line label that keeps its full text and shows it cut at the end with "..." when it
// is wider than the field.
class XVTextField : public QLabel {
  Q_OBJECT
 public:
  explicit XVTextField(QWidget* parent = nullptr);

  void setStringValue(const QString& text);
  // The full text, never the cut one.
  QString stringValue() const { return realString_; }
  QString needShowString() const;
  void resetStringValue();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QString realString_;
};

// The toolbar's text field. Cut, copy, paste, select-all and the word moves are the line
// edit's own keys, which it takes before the window's shortcuts while it has the focus; the
// document's first and last page (Ctrl+Home, Ctrl+End) are not: Home and End do that in one
// line. Esc, when no window shortcut takes it, says the user is done with the field.
class LTTextFiled : public QLineEdit {
  Q_OBJECT
 public:
  explicit LTTextFiled(QWidget* parent = nullptr);

 signals:
  void escapePressed();

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

class XVOutlineView;

// Told of double and right clicks on rows; the index is invalid when no row is under the
// pointer.
class XVOutlineViewDelegate {
 public:
  virtual ~XVOutlineViewDelegate() = default;
  virtual void outlineView_doubleClickItem(XVOutlineView* outline, const QModelIndex& item) {
    (void)outline;
    (void)item;
  }
  virtual void outlineView_rightClickItem(XVOutlineView* outline, const QModelIndex& item) {
    (void)outline;
    (void)item;
  }
};

class XVOutlineView : public QTreeView {
  Q_OBJECT
 public:
  explicit XVOutlineView(QWidget* parent = nullptr);

  void setOutlineDelegate(XVOutlineViewDelegate* delegate) { delegate_ = delegate; }
  XVOutlineViewDelegate* outlineDelegate() const { return delegate_; }
  QModelIndex itemAtPoint(const QPoint& point) const { return indexAt(point); }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  XVOutlineViewDelegate* delegate_ = nullptr;
};
