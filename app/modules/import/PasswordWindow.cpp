#include "modules/import/PasswordWindow.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QPointer<PasswordWindow>& sharedWindow() {
  static QPointer<PasswordWindow> window;
  return window;
}

// Widgets go before the application's GUI does.
void deleteSharedWindow() { delete sharedWindow().data(); }

bool onGuiThread() { return qApp && QThread::currentThread() == qApp->thread(); }

QString askText() { return QObject::tr("This document is protected. Enter its password:"); }
QString askAgainText() { return QObject::tr("The password is incorrect. Enter the document's password again:"); }

}  // namespace

PasswordWindow::PasswordWindow() {
  setObjectName(QStringLiteral("PasswordWindow"));
  setWindowTitle(tr("Password"));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  label_ = new QLabel(askText(), this);
  layout->addWidget(label_);
  field_ = new QLineEdit(this);
  field_->setObjectName(QStringLiteral("passwordField"));
  field_->setEchoMode(QLineEdit::Password);
  layout->addWidget(field_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(field_, &QLineEdit::returnPressed, this, &PasswordWindow::passwordText);
  connect(buttons, &QDialogButtonBox::accepted, this, &PasswordWindow::passwordText);
  connect(buttons, &QDialogButtonBox::rejected, this, &PasswordWindow::closePasswordWindow);
}

PasswordWindow* PasswordWindow::passwordWindowCtrl() {
  Q_ASSERT(onGuiThread());
  QPointer<PasswordWindow>& window = sharedWindow();
  if (!window) {
    window = new PasswordWindow();
    static const bool cleanup = (qAddPostRoutine(deleteSharedWindow), true);
    (void)cleanup;
  }
  return window;
}

QString PasswordWindow::promptText() const { return label_->text(); }

void PasswordWindow::setIncorrectPassword(bool incorrect) { label_->setText(incorrect ? askAgainText() : askText()); }

bool PasswordWindow::showPasswordWindowForModal() {
  answered_ = false;
  field_->clear();
  field_->setFocus();
  exec();
  field_->clear();
  return answered_;
}

void PasswordWindow::passwordText() {
  if (delegate_) {
    answered_ = true;
    delegate_->PasswordWindowDelegate_password(field_->text(), this);
  }
  closePasswordWindow();
}

void PasswordWindow::closePasswordWindow() {
  if (isVisible()) done(answered_ ? QDialog::Accepted : QDialog::Rejected);
}

// The GUI thread's side of one ask(): forwards the entered password to the asker while it
// still waits.
struct PasswordPrompt::Question : PasswordWindowDelegate {
  std::mutex mutex;
  PasswordWindowDelegate* target = nullptr;  // cleared when the asker stops waiting
  bool done = false;
  bool answered = false;

  void PasswordWindowDelegate_password(const QString& password, PasswordWindow* window) override {
    std::lock_guard lock(mutex);
    if (!target) return;
    target->PasswordWindowDelegate_password(password, window);
    answered = true;
  }
};

bool PasswordPrompt::ask(PasswordWindowDelegate* delegate) {
  if (!qApp || !delegate) return false;
  bool retry = false;
  {
    std::lock_guard lock(mutex_);
    retry = answered_ > 0;
  }
  if (onGuiThread()) return runOnGuiThread(delegate, retry);

  auto question = std::make_shared<Question>();
  question->target = delegate;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return false;
    pending_ = question;
  }
  const std::weak_ptr<PasswordPrompt> weak = weak_from_this();
  // Runs the prompt once no other prompt is up; a cancelled question is dropped unasked.
  auto run = std::make_shared<std::function<void()>>();
  *run = [weak, question, run, retry] {
    auto self = weak.lock();
    bool skip = !self || self->isCancelled();
    if (!skip) {
      PasswordWindow* window = PasswordWindow::passwordWindowCtrl();
      if (window->isVisible()) {
        QTimer::singleShot(50, qApp, [run] { (*run)(); });
        return;
      }
      window->setDelegate(question.get());
      window->setIncorrectPassword(retry);
      window->showPasswordWindowForModal();
      if (window->delegate() == question.get()) window->setDelegate(nullptr);
    }
    *run = nullptr;  // breaks the cycle
    if (!self) return;  // nobody waits
    {
      std::lock_guard lock(self->mutex_);
      std::lock_guard q(question->mutex);
      question->done = true;
    }
    self->changed_.notify_all();
  };
  QMetaObject::invokeMethod(qApp, [run] { (*run)(); }, Qt::QueuedConnection);

  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] {
    std::lock_guard q(question->mutex);
    return question->done || cancelled_;
  });
  if (pending_ == question) pending_.reset();
  std::lock_guard q(question->mutex);
  question->target = nullptr;
  if (question->answered) ++answered_;
  return question->answered;
}

bool PasswordPrompt::runOnGuiThread(PasswordWindowDelegate* delegate, bool retry) {
  PasswordWindow* window = PasswordWindow::passwordWindowCtrl();
  if (window->isVisible()) return false;  // one modal prompt at a time on the GUI thread
  auto question = std::make_shared<Question>();
  question->target = delegate;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return false;
    pending_ = question;
  }
  window->setDelegate(question.get());
  window->setIncorrectPassword(retry);
  window->showPasswordWindowForModal();
  if (window->delegate() == question.get()) window->setDelegate(nullptr);
  std::lock_guard lock(mutex_);
  if (pending_ == question) pending_.reset();
  std::lock_guard q(question->mutex);
  question->target = nullptr;
  if (question->answered) ++answered_;
  return question->answered;
}

std::optional<std::string> PasswordPrompt::askUtf8() {
  struct Keeper : PasswordWindowDelegate {
    std::mutex mutex;
    QString password;
    void PasswordWindowDelegate_password(const QString& p, PasswordWindow*) override {
      std::lock_guard lock(mutex);
      password = p;
    }
  } keeper;
  if (!ask(&keeper)) return std::nullopt;
  std::lock_guard lock(keeper.mutex);
  return keeper.password.toStdString();
}

void PasswordPrompt::cancel() {
  std::shared_ptr<Question> pending;
  {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    pending = pending_;
  }
  changed_.notify_all();
  if (!pending || !qApp) return;
  {
    std::lock_guard q(pending->mutex);
    pending->target = nullptr;
  }
  QMetaObject::invokeMethod(
      qApp,
      [pending] {
        PasswordWindow* window = sharedWindow().data();
        if (window && window->delegate() == pending.get()) window->closePasswordWindow();
      },
      Qt::QueuedConnection);
}

void PasswordPrompt::reset() {
  std::lock_guard lock(mutex_);
  cancelled_ = false;
  answered_ = 0;
}

bool PasswordPrompt::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}
