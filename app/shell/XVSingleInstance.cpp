#include "shell/XVSingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#include "platform/foundation/log.h"
#include "shell/XVBaseFunction.h"

namespace {
// One path a line, UTF-8; the sender closes the connection when done.
constexpr qint64 kMaximumMessage = 1 << 20;
}  // namespace

QString XVSingleInstance::defaultServerName() {
  const QByteArray home = QDir::homePath().toUtf8();
  return XVBaseFunction::applicationId() + QLatin1Char('-') +
         QString::fromLatin1(QCryptographicHash::hash(home, QCryptographicHash::Md5).toHex().left(12));
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
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(serverName_)) {
    // A stale socket of an instance that ended without cleaning up.
    QLocalServer::removeServer(serverName_);
    if (!server_->listen(serverName_)) {
      foundation::log(foundation::LogLevel::Warning, "instance", server_->errorString().toStdString());
      return false;
    }
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
