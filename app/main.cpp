#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <chrono>
#include <memory>

#include "shell/AppDelegate.h"
#include "shell/MainQueueBridge.h"
#include "core/ProductInfo.h"
#include "core/XVBaseFunction.h"
#include "shell/XVApplicationEnd.h"
#include "shell/XVBrowserControl.h"
#include "shell/XVBrowserExport.h"
#include "shell/XVDocumentLoadManager.h"
#include "shell/XVModulPlugins.h"
#include "shell/XVSingleInstance.h"

namespace {

QStringList absolutePaths(const QStringList& arguments) {
  QStringList paths;
  for (const QString& argument : arguments) {
    if (argument.isEmpty()) continue;
    paths << QFileInfo(argument).absoluteFilePath();
  }
  return paths;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  std::chrono::steady_clock::time_point quitDeadline;
  {
    QApplication app(argc, argv);
    QApplication::setApplicationName(ProductInfo::AppName());
    QApplication::setApplicationVersion(ProductInfo::Version());
    QApplication::setOrganizationDomain(XVBaseFunction::applicationId());
    QApplication::setDesktopFileName(XVBaseFunction::applicationId());
    QApplication::setQuitOnLastWindowClosed(false);

    const QStringList paths = absolutePaths(QApplication::arguments().mid(1));
    XVSingleInstance instance(XVSingleInstance::defaultServerName());
    if (instance.sendToRunningInstance(paths)) return 0;
    // Another launch may have become the running instance meanwhile, or the running one was
    // too busy to answer at once: hand over to it after all.
    if (!instance.listen() && instance.sendToRunningInstance(paths, 5000)) return 0;

    MainQueueBridge::install();
    registerModulPlugins();
    {
      AppDelegate delegate;
      delegate.browserControl()->setDocumentLoader(XVDocumentLoadManager::ShareDocumentLoadManager());
      XVBrowserExport::install(delegate.browserControl());
      QObject::connect(&instance, &XVSingleInstance::pathsReceived, &delegate, [&delegate](const QStringList& received) {
        for (const QString& path : received) delegate.application_openFile(path);
        delegate.window()->raise();
        delegate.window()->activateWindow();
      });
      delegate.window()->show();
      delegate.applicationDidFinishLaunching();
      for (const QString& path : paths) delegate.application_openFile(path);
      status = QApplication::exec();
      // The tabs still open write back their changes, then running conversions are asked to
      // stop and every worker thread is waited for: all within the one quit wait.
      quitDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      delegate.browserControl()->writeBackOpenDocuments(quitDeadline);
    }
    MainQueueBridge::uninstall();
    status = XVEndApplication(status, quitDeadline);
  }
  return status;
}
