#pragma once
// The modal password prompt: one shared dialog with a password field. Every member runs on the
// GUI thread; a converter thread asks through PasswordPrompt, which marshals the question there
// and waits for the answer.

#include <QDialog>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class PasswordWindow;

class PasswordWindowDelegate {
 public:
  virtual ~PasswordWindowDelegate() = default;
  // The user entered `password` in `window`.
  virtual void PasswordWindowDelegate_password(const QString& password, PasswordWindow* window) = 0;
};

class PasswordWindow : public QDialog {
  Q_OBJECT

 public:
  // The one shared prompt, made on first use; it lives until the application goes.
  static PasswordWindow* passwordWindowCtrl();

  // Runs the prompt modally; returns when the modal run is stopped. Yes when it was stopped by
  // an entered password, no when it was cancelled or closed.
  bool showPasswordWindowForModal();
  // Stops the modal run (and hides the prompt); without a run, nothing happens.
  void closePasswordWindow();

  // Not owned; cleared by the prompt when the delegate goes first (see PasswordPrompt).
  PasswordWindowDelegate* delegate() const { return delegate_; }
  void setDelegate(PasswordWindowDelegate* delegate) { delegate_ = delegate; }

  QLineEdit* passwordField() const { return field_; }
  // What the prompt asks; after a password that did not fit, it says so.
  QString promptText() const;
  void setIncorrectPassword(bool incorrect);

 public slots:
  // The password field's action: hands the field's text to the delegate, then stops the run.
  void passwordText();

 private:
  PasswordWindow();

  QLabel* label_ = nullptr;
  QLineEdit* field_ = nullptr;
  PasswordWindowDelegate* delegate_ = nullptr;
  bool answered_ = false;
};

// One converter's questions for a password. ask() may be called from any thread: it runs the
// shared prompt on the GUI thread and blocks the caller until the user answers or cancels, or
// cancel() is called (from any thread). The answer goes to the delegate given to ask(). A
// converter asks again only when the password did not fit: every ask after an answered one
// (until reset()) says the last password was incorrect.
class PasswordPrompt : public std::enable_shared_from_this<PasswordPrompt> {
 public:
  // Yes when a password was entered (and handed to `delegate`); no when the prompt was
  // cancelled, cancel() came, or there is no GUI thread to ask on.
  bool ask(PasswordWindowDelegate* delegate);
  // The same, answering the entered password as UTF-8.
  std::optional<std::string> askUtf8();
  // Ends a waiting ask() at once (with no) and closes its prompt; later asks answer no until
  // reset().
  void cancel();
  void reset();
  bool isCancelled() const;

 private:
  struct Question;
  bool runOnGuiThread(PasswordWindowDelegate* delegate, bool retry);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool cancelled_ = false;
  int answered_ = 0;  // asks answered since the last reset()
  std::shared_ptr<Question> pending_;
};
