#include "shell/MainQueueBridge.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include "platform/foundation/dispatcher.h"

void MainQueueBridge::install() {
  QPointer<QCoreApplication> app = QCoreApplication::instance();
  foundation::Dispatcher::bindMainExecutor([app] {
    if (!app) return;
    QMetaObject::invokeMethod(app.data(), [] { foundation::Dispatcher::drainMain(); }, Qt::QueuedConnection);
  });
}

void MainQueueBridge::uninstall() {
  foundation::Dispatcher::bindMainExecutor(nullptr);
  foundation::Dispatcher::drainMain();
}
