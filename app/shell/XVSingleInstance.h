#pragma once
// One running instance per user and display: a later launch hands its paths to the running one over a
// local socket and exits.

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

class XVSingleInstance : public QObject {
  Q_OBJECT
 public:
  // The server name for this user, display and application, in the user's runtime folder.
  static QString defaultServerName();

  explicit XVSingleInstance(QString serverName, QObject* parent = nullptr);
  ~XVSingleInstance() override;

  // Hands `paths` to a running instance; YES when one took them.
  bool sendToRunningInstance(const QStringList& paths, int timeoutMs = 1000) const;
  // Becomes the running instance; NO when the name cannot be taken, also when a live
  // instance holds it. A stale socket of an instance that ended uncleanly is replaced.
  bool listen();

 signals:
  void pathsReceived(const QStringList& paths);

 private:
  QString serverName_;
  QLocalServer* server_ = nullptr;
};
