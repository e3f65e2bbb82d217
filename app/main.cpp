#include <QApplication>
#include <QMainWindow>
#include <QSettings>

#include "shell/MainQueueBridge.h"
#include "shell/ProductInfo.h"
#include "shell/XVBaseFunction.h"
#include "shell/XVDocumentLoadManager.h"

int main(int argc, char** argv) {
  int status = 0;
  {
    QApplication app(argc, argv);
    QApplication::setApplicationName(ProductInfo::AppName());
    QApplication::setApplicationVersion(ProductInfo::Version());
    QApplication::setOrganizationDomain(XVBaseFunction::applicationId());
    MainQueueBridge::install();

    QMainWindow window;
    window.setWindowTitle(ProductInfo::AppName());
    window.resize(800, 600);
    window.show();
    status = QApplication::exec();

    XVDocumentLoadManager::StopSharedDocumentLoadManager(std::chrono::seconds(5));
    MainQueueBridge::uninstall();
    XVBaseFunction::releaseAppEndObjects();
    XVBaseFunction::userDefaults()->sync();
  }
  return status;
}
