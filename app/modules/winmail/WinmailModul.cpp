#include "modules/winmail/WinmailModul.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QRegularExpression>
#include <QThread>
#include <QTimeZone>

#include <fcntl.h>
#include <sys/stat.h>

#include <any>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <utility>

#include "core/XVBaseFunction.h"
#include "core/XVErrorTexts.h"
#include "core/XVGuarded.h"
#include "core/XVNotifications.h"
#include "core/XVPreviewInfo.h"
#include "modules/winmail/WinmailDocumentView.h"
#include "shell/XVAlertText.h"
#include "platform/foundation/log.h"
#include "platform/foundation/notification_center.h"
#include "tnefkit/QFTNEFFormat.h"

namespace {

const char* const kCategory = "winmail";
const QString kMessageFolder = QStringLiteral("MessagePath");
const QString kAttachmentFolder = QStringLiteral("AttachmentPath");

void logLine(foundation::LogLevel level, const QString& message) {
  foundation::log(level, kCategory, message.toStdString());
}

std::filesystem::path fsPath(const QString& path) { return std::filesystem::path(QFile::encodeName(path).toStdString()); }
QString qPath(const std::filesystem::path& path) { return QFile::decodeName(QByteArray::fromStdString(path.string())); }
QString qUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// Asked before the view pointer is read: only the GUI thread touches it.
bool onGuiThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

void postOpenFailed(const QString& path) {
  foundation::NotificationCenter::defaultCenter().post(Open_Filed_Error_Info, nullptr,
                                                       {{XVFilePathUserInfoKey, std::any(path)}});
}

// A date record as the wall-clock time it writes; invalid when its fields are no date.
QDateTime wallClock(const std::shared_ptr<QFDate>& date) {
  if (!date) return {};
  const QDate day(date->year(), date->month(), date->day());
  const QTime time(date->hour(), date->minute(), date->second());
  if (!day.isValid() || !time.isValid()) return {};
  return QDateTime(day, time, Qt::LocalTime);
}

QDateTime utc(const std::optional<std::chrono::system_clock::time_point>& time) {
  if (!time) return {};
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time->time_since_epoch()).count();
  return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
}

// Gives the file the modification time `when`; its access time stays.
bool setModificationTime(const QString& path, const QDateTime& when) {
  const qint64 ms = when.toMSecsSinceEpoch();
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
  times[1].tv_nsec = static_cast<long>(((ms % 1000) + 1000) % 1000) * 1000000L;
  return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace

WinmailModul::WinmailModul(const QString& filePath) {
  if (!filePath.isEmpty()) setImportSourcePath(filePath);
}

WinmailModul::~WinmailModul() {
  // The last reference may go on a load thread: the view then goes on its own thread.
  if (WinmailDocumentView* view = view_.data()) {
    if (QThread::currentThread() == view->thread()) delete view;
    else view->deleteLater();
  }
}

std::shared_ptr<WinmailModul> WinmailModul::initFilePath(const QUrl& url) {
  auto module = std::make_shared<WinmailModul>();
  module->pathfile_ = url;
  return module;
}

void WinmailModul::registerModul() {
  DocumentModul::registerModuleClass(DocumentModul::Kind::Winmail,
                                     [](const QString& path) { return std::make_shared<WinmailModul>(path); });
}

QString WinmailModul::safeFileName(const QString& name) {
  const QString untitled = QStringLiteral("Untitled");
  if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return untitled;
  if (name.contains(QLatin1Char('/')) || name.contains(QChar(0))) return untitled;
  if (QFile::encodeName(name).size() > 255) return untitled;
  return name;
}

QDateTime WinmailModul::attachmentDate(const QFAttachment& attachment) {
  for (const QDateTime& date : {utc(attachment.lastModificationTime()), wallClock(attachment.modifyDate()),
                                utc(attachment.creationTime()), wallClock(attachment.createDate())}) {
    if (date.isValid()) return date;
  }
  return {};
}

QString WinmailModul::getTimeString() { return getTimeString(QDateTime::currentDateTime()); }

QString WinmailModul::getTimeString(const QDateTime& when) {
  return QLocale::c().toString(when, QStringLiteral("yyyy-MM-dd HH-mm-ss")) + when.timeZoneAbbreviation();
}

QString WinmailModul::chooseBodyFile(const QString& messageFolder) {
  if (messageFolder.isEmpty()) return QString();
  static const QRegularExpression numbered(QStringLiteral("^.* (\\d+)\\.(txt|html|rtf)$"),
                                           QRegularExpression::CaseInsensitiveOption);
  const QDir dir(messageFolder);
  const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
  QString best;
  qlonglong bestCounter = -1;
  for (const QString& entry : entries) {
    if (entry == QLatin1String(".DS_Store")) continue;
    const auto match = numbered.match(entry);
    if (!match.hasMatch()) continue;
    bool ok = false;
    const qlonglong counter = match.captured(1).toLongLong(&ok);
    if (ok && counter > bestCounter) {
      bestCounter = counter;
      best = entry;
    }
  }
  if (best.isEmpty()) {
    for (const QString& entry : entries) {
      if (entry != QLatin1String(".DS_Store")) {
        best = entry;
        break;
      }
    }
  }
  return best.isEmpty() ? QString() : dir.filePath(best);
}

bool WinmailModul::hasOpenResult() {
  std::lock_guard lock(mutex_);
  return opened_;
}

QString WinmailModul::messageBodySavePath() const {
  std::lock_guard lock(mutex_);
  return messageBodySavePath_;
}

QString WinmailModul::attachmentSavePath() const {
  std::lock_guard lock(mutex_);
  return attachmentSavePath_;
}

QString WinmailModul::documentBodyPath() const {
  std::lock_guard lock(mutex_);
  return documentbodypath_;
}

QString WinmailModul::messagetype() const {
  const QString ext = XVBaseFunction::extensionOfPath(documentBodyPath()).toLower();
  if (ext == QLatin1String("txt")) return QStringLiteral("text");
  if (ext == QLatin1String("html") || ext == QLatin1String("rtf")) return ext;
  return QString();
}

int WinmailModul::bodyType() const {
  const QString type = messagetype();
  if (type == QLatin1String("text")) return 0;
  if (type == QLatin1String("html")) return 1;
  if (type == QLatin1String("rtf")) return 2;
  return -1;
}

QList<QUrl> WinmailModul::attachments() const {
  std::lock_guard lock(mutex_);
  return attachments_;
}

QUrl WinmailModul::pathfile() const {
  std::lock_guard lock(mutex_);
  return pathfile_;
}

QString WinmailModul::fileName() const {
  std::lock_guard lock(mutex_);
  return fileName_;
}

std::shared_ptr<XVPreviewInfo> WinmailModul::previewInfo() const {
  std::lock_guard lock(mutex_);
  return previewInfo_;
}

void WinmailModul::setPreviewInfo(std::shared_ptr<XVPreviewInfo> info) {
  std::lock_guard lock(mutex_);
  previewInfo_ = std::move(info);
}

// ---- import -------------------------------------------------------------------------------

bool WinmailModul::acceptsStart(QString* reason) {
  {
    std::lock_guard lock(mutex_);
    if (!std::exchange(running_, true)) return true;
  }
  logLine(foundation::LogLevel::Warning, QStringLiteral("%1 is still being parsed; a second start is refused").arg(sourcePath()));
  *reason = XVErrorText::alreadyOpening();
  return false;
}

void WinmailModul::doStartImport() {
  {
    std::lock_guard lock(mutex_);
    messageBodySavePath_.clear();
    attachmentSavePath_.clear();
    documentbodypath_.clear();
    attachments_.clear();
    opened_ = false;
  }
  if (!XVGuardedRun("winmail", QStringLiteral("starting the parse of %1").arg(sourcePath()), [this] { parserFile(); })) {
    endRun(false, QString());
  }
}

void WinmailModul::endRun(bool success, const QString& errorInfo) {
  sendEnd(success, errorInfo);
  std::lock_guard lock(mutex_);
  running_ = false;
}

void WinmailModul::parserFile() {
  const QString source = sourcePath();
  auto parser = QFTNEFFormat::initWithURL(fsPath(source));
  // The block keeps the module and its own parser until the parse reports its end; the
  // parser keeps no block, so nothing holds itself.
  auto self = shared_from_this();
  const bool started = parser && parser->startParserWithBlock([self, parser](std::uint64_t flag, std::int64_t code) {
    if (flag == static_cast<std::uint64_t>(QFParserFlagStart) || flag == static_cast<std::uint64_t>(QFParserFlagProgress)) return;
    if (flag == static_cast<std::uint64_t>(QFParserFlagComplete)) {
      self->completed(*parser, code);
      return;
    }
    logLine(foundation::LogLevel::Warning, QStringLiteral("Unknown action."));
  });
  if (started) return;
  logLine(foundation::LogLevel::Warning, QStringLiteral("%1 cannot be read or is not a TNEF container").arg(source));
  postOpenFailed(source);
  endRun(false, QString());
}

void WinmailModul::completed(const QFTNEFFormat& parser, std::int64_t code) {
  if (code == QFParserResultCodeFailed) {
    logLine(foundation::LogLevel::Warning, QStringLiteral("Failed to parser DAT file"));
    postOpenFailed(sourcePath());
    endRun(false, QString());
    return;
  }
  if (!getTempPath()) {
    logLine(foundation::LogLevel::Error, QStringLiteral("cannot make the message folders in %1").arg(outPath()));
    endRun(false, QString());
    return;
  }
  writeBodies(parser);
  writeAttachments(parser);
  logLine(foundation::LogLevel::Info, QStringLiteral("%1: %2 bodies, %3 attachments")
                                          .arg(sourcePath())
                                          .arg(parser.messageBodys().size())
                                          .arg(parser.attachments().size()));
  if (chooseBodyFile(messageBodySavePath()).isEmpty() && attachments().isEmpty()) {
    // A damaged container whose records all failed: nothing to show, nothing to keep.
    logLine(foundation::LogLevel::Warning, QStringLiteral("nothing could be read from %1").arg(sourcePath()));
    postOpenFailed(sourcePath());
    endRun(false, XVErrorText::nothingReadable());
    return;
  }
  endRun(importWithResultPath(outPath()), QString());
}

bool WinmailModul::getTempPath() {
  const QString out = outPath();
  if (out.isEmpty()) return false;
  const QString message = QDir(out).filePath(kMessageFolder);
  const QString attachment = QDir(out).filePath(kAttachmentFolder);
  if (!QDir().mkpath(message) || !QDir().mkpath(attachment)) return false;
  std::lock_guard lock(mutex_);
  messageBodySavePath_ = message;
  attachmentSavePath_ = attachment;
  return true;
}

void WinmailModul::writeBodies(const QFTNEFFormat& parser) {
  const QString folder = messageBodySavePath();
  long counter = 1;
  for (const auto& body : parser.messageBodys()) {
    QString extension;
    switch (body->messageFormatType()) {
      case QFMessageBodyTypePlainText: extension = QStringLiteral("txt"); break;
      case QFMessageBodyTypeHTML: extension = QStringLiteral("html"); break;
      case QFMessageBodyTypeRTF: extension = QStringLiteral("rtf"); break;
      default: continue;
    }
    const QString name = safeFileName(body->subject() ? qUtf8(*body->subject()) : QStringLiteral("message body"));
    const QString path = QDir(folder).filePath(QStringLiteral("%1 %2.%3").arg(name).arg(counter).arg(extension));
    ++counter;
    std::filesystem::path written;
    if (!body->writeToFile(fsPath(path), &written)) {
      logLine(foundation::LogLevel::Info, QStringLiteral("no file for the body %1").arg(path));
    }
  }
}

void WinmailModul::writeAttachments(const QFTNEFFormat& parser) {
  const QString folder = attachmentSavePath();
  const std::filesystem::path inside = fsPath(folder).lexically_normal();
  QList<QUrl> written;
  for (const auto& attachment : parser.attachments()) {
    QString name = qUtf8(attachment->filename());
    if (const auto extension = attachment->extension()) name += QLatin1Char('.') + qUtf8(*extension);
    const QString path = QDir(folder).filePath(safeFileName(name));
    std::filesystem::path out;
    const bool ok = attachment->writeToFile(fsPath(path), &out);
    if (out.empty()) {
      logLine(foundation::LogLevel::Warning, QStringLiteral("cannot write the attachment %1").arg(path));
      continue;
    }
    // The writer stays in the folder it is given; make sure of it before listing the file.
    if (out.lexically_normal().parent_path() != inside) {
      logLine(foundation::LogLevel::Error, QStringLiteral("an attachment was written outside %1; removed").arg(folder));
      std::error_code ec;
      std::filesystem::remove(out, ec);
      continue;
    }
    if (!ok) logLine(foundation::LogLevel::Info, QStringLiteral("the attachment %1 has no data").arg(qPath(out)));
    // The file carries the container's date for it; without one it keeps the time it was written.
    const QDateTime date = attachmentDate(*attachment);
    if (date.isValid() && !setModificationTime(qPath(out), date)) {
      logLine(foundation::LogLevel::Info, QStringLiteral("cannot date the attachment %1").arg(qPath(out)));
    }
    written.append(QUrl::fromLocalFile(qPath(out)));
  }
  std::lock_guard lock(mutex_);
  attachments_ = written;
}

bool WinmailModul::importWithResultPath(const QString& path) {
  QString message;
  QString attachment;
  {
    std::lock_guard lock(mutex_);
    message = messageBodySavePath_;
    attachment = attachmentSavePath_;
  }
  if (message.isEmpty() && attachment.isEmpty()) {
    // A cache hit: the folder of an earlier import.
    const QDir dir(path);
    if (QFileInfo(dir.filePath(kMessageFolder)).isDir()) message = dir.filePath(kMessageFolder);
    if (QFileInfo(dir.filePath(kAttachmentFolder)).isDir()) attachment = dir.filePath(kAttachmentFolder);
    if (message.isEmpty() && attachment.isEmpty()) {
      logLine(foundation::LogLevel::Warning, QStringLiteral("%1 holds no message").arg(path));
      return false;
    }
  }
  const QString body = chooseBodyFile(message);
  {
    std::lock_guard lock(mutex_);
    messageBodySavePath_ = message;
    attachmentSavePath_ = attachment;
    documentbodypath_ = body;
    opened_ = true;
  }
  if (onGuiThread()) updateView();
  return true;
}

// ---- view ---------------------------------------------------------------------------------

QWidget* WinmailModul::documentView() {
  if (!view_) {
    view_ = new WinmailDocumentView();
    updateView();
    if (!viewFrame().isEmpty()) view_->setGeometry(viewFrame().toRect());
  }
  return view_.data();
}

WinmailDocumentView* WinmailModul::documentViewController() const { return view_.data(); }

void WinmailModul::updateView() {
  if (!view_) return;
  view_->setWinmailDocumentViewBrowserPath(attachmentSavePath(), documentBodyPath());
}

void WinmailModul::ResetViewSize(const QRectF& frame) {
  ImportInterface::ResetViewSize(frame);
  if (onGuiThread() && view_ && !frame.isEmpty()) view_->setGeometry(frame.toRect());
}

void WinmailModul::reloadDocumentViewData() {
  if (view_) view_->refreshdata();
}

// ---- alerts -------------------------------------------------------------------------------

int WinmailModul::alertReturnCode(const QMessageBox& alert) {
  QAbstractButton* clicked = alert.clickedButton();
  const int index = clicked ? static_cast<int>(alert.buttons().indexOf(clicked)) : -1;
  return index < 0 ? 0 : 1000 + index;
}

void WinmailModul::showAlert(QMessageBox* alert) {
  if (!alert) return;
  QWidget* holder = view_ ? view_->parentWidget() : nullptr;
  QWidget* window = holder ? holder->window() : nullptr;
  if (window) alert->setParent(window, alert->windowFlags() | Qt::Dialog);
  XVFitAlertToText(alert);
  // A module gone before its alert ends leaves the alert to go by itself.
  QObject::connect(alert, &QDialog::finished, alert, [weak = weak_from_this(), alert] {
    if (const auto self = weak.lock()) self->alertDidEnd(alert, alertReturnCode(*alert), nullptr);
    else alert->deleteLater();
  });
  if (window) {
    alert->open();  // window-modal
  } else {
    alert->setWindowModality(Qt::ApplicationModal);
    alert->show();
  }
}

void WinmailModul::alertDidEnd(QMessageBox* alert, int returnCode, void* contextInfo) {
  (void)contextInfo;
  if (returnCode == 1000) {
    foundation::NotificationCenter::defaultCenter().post(XV_DOCUMENT_NEEDTOOLENABLE_NOTIFICATION, nullptr,
                                                         {{"enable", std::any(true)}});
  }
  if (alert) {
    alert->hide();
    alert->deleteLater();
  }
}
