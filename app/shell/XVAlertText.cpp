#include "shell/XVAlertText.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTextBoundaryFinder>

#include <algorithm>

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
