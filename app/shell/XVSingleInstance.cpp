#include "shell/XVSingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

#include "platform/foundation/log.h"
#include "core/XVBaseFunction.h"

namespace {
// One path a line, UTF-8; the sender closes the connection when done.
constexpr qint64 kMaximumMessage = 1 << 20;

// Whether a server takes connections under `name` (a stale socket file refuses them).
bool serverAnswers(const QString& name) {
  QLocalSocket probe;
  probe.connectToServer(name);
  const bool connected = probe.waitForConnected(500);
  probe.abort();
  return connected;
}

QString lockPathFor(const QString& serverName) {
  const QString file = serverName + QStringLiteral(".lock");
  return serverName.contains(u'/') ? file : QDir::temp().filePath(file);
}
}  // namespace

QString XVSingleInstance::defaultServerName() {
  // One instance per user and display, in the user's private runtime folder.
  QByteArray seat = QDir::homePath().toUtf8();
  seat += '\n' + qgetenv("WAYLAND_DISPLAY") + '\n' + qgetenv("DISPLAY");
  const QString name = XVBaseFunction::applicationId() + QLatin1Char('-') +
                       QString::fromLatin1(QCryptographicHash::hash(seat, QCryptographicHash::Md5).toHex().left(12));
  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  return runtime.isEmpty() ? name : QDir(runtime).filePath(name);
}

XVSingleInstance::XVSingleInstance(QString serverName, QObject* parent)
    : QObject(parent), serverName_(std::move(serverName)) {}

XVSingleInstance::~XVSingleInstance() {
  if (server_) server_->close();
}

bool XVSingleInstance::sendToRunningInstance(const QStringList& paths, int timeoutMs) const {
  QLocalSocket socket;
  socket.connectToServer(serverName_);
  if (!socket.waitForConnected(timeoutMs)) return false;
  QByteArray message;
  for (const QString& path : paths) {
    if (path.contains(u'\n')) continue;  // cannot be framed; never split into two paths
    message += path.toUtf8() + '\n';
  }
  message += '\n';  // end of message
  socket.write(message);
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  // The running instance answers once it has the paths.
  if (!socket.waitForReadyRead(timeoutMs)) return false;
  const bool ok = socket.readAll().startsWith("ok");
  socket.disconnectFromServer();
  return ok;
}

bool XVSingleInstance::listen() {
  // Launches racing for the name take turns; a name that a live instance answers on is never
  // taken over, only a stale socket left by an instance that ended without cleaning up.
  QLockFile lock(lockPathFor(serverName_));
  if (!lock.tryLock(3000))
    foundation::log(foundation::LogLevel::Warning, "instance", "cannot lock " + lock.fileName().toStdString());
  // Listening with access options replaces whatever socket file has the name, so ask first.
  if (serverAnswers(serverName_)) return false;
  QLocalServer::removeServer(serverName_);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  const bool listening = server_->listen(serverName_);
  if (!listening) {
    foundation::log(foundation::LogLevel::Warning, "instance", server_->errorString().toStdString());
    delete server_;
    server_ = nullptr;
    return false;
  }
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      auto buffer = std::make_shared<QByteArray>();
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
        *buffer += socket->readAll();
        if (buffer->size() > kMaximumMessage) {
          socket->abort();
          return;
        }
        if (!buffer->endsWith("\n\n") && *buffer != "\n") return;
        QStringList paths;
        for (const QByteArray& line : buffer->split('\n'))
          if (!line.isEmpty()) paths << QString::fromUtf8(line);
        buffer->clear();
        socket->write("ok\n");
        socket->flush();
        emit pathsReceived(paths);
      });
    }
  });
  return true;
}
