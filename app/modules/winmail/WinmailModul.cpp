#include "modules/winmail/WinmailModul.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <any>
#include <filesystem>
#include <system_error>
#include <utility>

#include "core/XVBaseFunction.h"
#include "core/XVNotifications.h"
#include "modules/winmail/WinmailDocumentView.h"
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

// ---- import -------------------------------------------------------------------------------

void WinmailModul::doStartImport() {
  {
    std::lock_guard lock(mutex_);
    messageBodySavePath_.clear();
    attachmentSavePath_.clear();
    documentbodypath_.clear();
    attachments_.clear();
    opened_ = false;
  }
  parserFile();
}

void WinmailModul::parserFile() {
  const QString source = sourcePath();
  auto parser = QFTNEFFormat::initWithURL(fsPath(source));
  {
    std::lock_guard lock(mutex_);
    parser_ = parser;
  }
  // The block keeps the module alive until the parse reports its end.
  auto self = shared_from_this();
  const bool started = parser && parser->startParserWithBlock([self](std::uint64_t flag, std::int64_t code) {
    if (flag == static_cast<std::uint64_t>(QFParserFlagStart) || flag == static_cast<std::uint64_t>(QFParserFlagProgress)) return;
    if (flag == static_cast<std::uint64_t>(QFParserFlagComplete)) {
      self->completed(code);
      return;
    }
    logLine(foundation::LogLevel::Warning, QStringLiteral("Unknown action."));
  });
  if (started) return;
  logLine(foundation::LogLevel::Warning, QStringLiteral("%1 cannot be read or is not a TNEF container").arg(source));
  {
    std::lock_guard lock(mutex_);
    parser_.reset();
  }
  postOpenFailed(source);
  sendEnd(false, QString());
}

void WinmailModul::completed(std::int64_t code) {
  std::shared_ptr<QFTNEFFormat> parser;
  {
    std::lock_guard lock(mutex_);
    parser = std::exchange(parser_, nullptr);
  }
  if (code == QFParserResultCodeFailed || !parser) {
    logLine(foundation::LogLevel::Warning, QStringLiteral("Failed to parser DAT file"));
    postOpenFailed(sourcePath());
    sendEnd(false, QString());
    return;
  }
  if (!getTempPath()) {
    logLine(foundation::LogLevel::Error, QStringLiteral("cannot make the message folders in %1").arg(outPath()));
    sendEnd(false, QString());
    return;
  }
  writeBodies(*parser);
  writeAttachments(*parser);
  logLine(foundation::LogLevel::Info, QStringLiteral("%1: %2 bodies, %3 attachments")
                                          .arg(sourcePath())
                                          .arg(parser->messageBodys().size())
                                          .arg(parser->attachments().size()));
  sendEnd(importWithResultPath(outPath()), QString());
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
