#pragma once
// The modal about window.

#include <QDialog>

class QLabel;

class XVAbout : public QDialog {
  Q_OBJECT
 public:
  // The one instance, made on first use (GUI thread).
  static XVAbout* ShareAbout();

  // Runs the window application-modal; returns when it closes.
  void showAbout();
  void clickMoreInfo();

  QLabel* textAPPName() const { return textAPPName_; }
  QLabel* textAPPVersion() const { return textAPPVersion_; }

 private:
  XVAbout();

  QLabel* textAPPName_ = nullptr;
  QLabel* textAPPVersion_ = nullptr;
};
