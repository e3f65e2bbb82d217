#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <memory>

#include "shell/AppDelegate.h"
#include "shell/MainQueueBridge.h"
#include "shell/ProductInfo.h"
#include "shell/XVBaseFunction.h"
#include "shell/XVBrowserControl.h"
#include "shell/XVSingleInstance.h"
#include "shell/XVloadDocumentProgressDelegate.h"

namespace {

// Stands in while no document loader is linked in: every file fails, one by one.
class UnavailableDocumentLoader : public XVDocumentLoader {
 public:
  void loadDocumentByFilePath(const QString& filePath, std::shared_ptr<XVloadDocumentProgressDelegate> delegate) override {
    if (delegate) delegate->XVLoad_End(nullptr, filePath, QStringLiteral("No document loader is available"));
  }
};

std::shared_ptr<XVDocumentLoader> documentLoader() {
  // DOCUMENT LOADER: hand the real load manager to the browser here.
  return std::make_shared<UnavailableDocumentLoader>();
}

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
    instance.listen();

    MainQueueBridge::install();
    // FORMAT MODULES: register the module classes (DocumentModul::registerModuleClass) here.
    {
      AppDelegate delegate;
      delegate.browserControl()->setDocumentLoader(documentLoader());
      QObject::connect(&instance, &XVSingleInstance::pathsReceived, &delegate, [&delegate](const QStringList& received) {
        for (const QString& path : received) delegate.application_openFile(path);
        delegate.window()->raise();
        delegate.window()->activateWindow();
      });
      delegate.window()->show();
      delegate.applicationDidFinishLaunching();
      for (const QString& path : paths) delegate.application_openFile(path);
      status = QApplication::exec();
    }
    MainQueueBridge::uninstall();
    XVBaseFunction::releaseAppEndObjects();
    XVBaseFunction::userDefaults()->sync();
  }
  return status;
}
