#pragma once
// Answers the shared password prompt from inside its modal run, on the GUI thread: each time the
// prompt is shown, it enters the next of the given answers, or cancels the prompt when none is
// left. Run the GUI thread's events (pumpUntil) while the asker waits.

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>

#include "modules/import/PasswordWindow.h"

namespace testsupport {

class PasswordAnswerer : public QObject {
 public:
  QStringList answers;
  // When set, acts on each prompt in place of the answers.
  std::function<void(PasswordWindow*)> act;
  std::atomic<int> prompts{0};
  // What each prompt asked, in order (GUI thread).
  QStringList promptTexts;
  std::atomic<bool> onGuiThread{true};

  explicit PasswordAnswerer(QStringList a, std::function<void(PasswordWindow*)> custom = {})
      : answers(std::move(a)), act(std::move(custom)), window_(PasswordWindow::passwordWindowCtrl()) {
    window_->installEventFilter(this);
  }
  ~PasswordAnswerer() override {
    if (window_) window_->removeEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && event->type() == QEvent::Show) {
      if (QThread::currentThread() != qApp->thread() || window_->thread() != qApp->thread()) onGuiThread = false;
      const int index = prompts++;
      promptTexts << window_->promptText();
      // Answered from inside the modal run that is starting.
      QTimer::singleShot(0, this, [this, index] {
        PasswordWindow* window = window_;
        if (!window || !window->isVisible()) return;
        if (act) {
          act(window);
        } else if (index < answers.size()) {
          window->passwordField()->setText(answers[index]);
          window->passwordText();
        } else {
          window->closePasswordWindow();
        }
      });
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QPointer<PasswordWindow> window_;
};

}  // namespace testsupport
