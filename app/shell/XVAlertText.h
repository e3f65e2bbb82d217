#pragma once
// Alerts sized to their text, shared by the shell and the format modules.

#include <QString>

class QLabel;
class QWidget;
class QMessageBox;

// Sizes an alert to its texts: each line on one line up to XVAlertMaxWidth() and wrapped
// beyond it; a word wider than that (a long file name) breaks anywhere instead of widening
// the box or leaving it a narrow column. Call after setting the texts, and again after
// changing them while the alert is up. A word broken so holds zero-width spaces.
void XVFitAlertToText(QMessageBox* box);
// The widest an alert's text runs before it wraps: 600 px, less on a small screen.
int XVAlertMaxWidth(const QWidget* alert);
// Shows `text` in `label` on one line up to `widest` px and wrapped beyond it; a word wider
// than that breaks anywhere (it gets zero-width spaces).
void XVSetWrappedText(QLabel* label, const QString& text, int widest);
