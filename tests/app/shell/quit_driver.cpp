// The application's start and end around conversions that are still running, for
// application_end_test: registers the modules, opens every FILE through the load manager (and
// saves every PDF among them as page images), and once each has begun, quits the way `main`
// does with a quit wait of WAIT_MS. Its exit status must be 0, whatever was still running.
// Without files it only opens the cache and quits.
//
//   quit_driver WAIT_MS [FILE...]

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "core/Format.h"
#include "core/XVBaseFunction.h"
#include "modules/djvu/DjVuModul.h"
#include "modules/export/XVConverter.h"
#include "modules/pdf/PDFModul.h"
#include "modules/visio/VisioModul.h"
#include "modules/winmail/WinmailModul.h"
#include "modules/works/RichTextModuls.h"
#include "modules/xps/XPSModul.h"
#include "platform/foundation/log.h"
#include "platform/pdfkit/PDFDocument.h"
#include "shell/MainQueueBridge.h"
#include "shell/XVApplicationEnd.h"
#include "shell/XVDocumentLoadManager.h"

namespace {

// Counts the loads that have begun: reported their start, progress or (without either) end.
class Requester : public XVloadDocumentProgressDelegate {
 public:
  std::atomic<int> begun{0};
  void XVLoad_Start(const QString& path) override { note(path); }
  void XVLoad_progress(double, const QString& path) override { note(path); }
  void XVLoad_End(std::shared_ptr<ImportInterface>, const QString& path, const QString&) override { note(path); }

 private:
  void note(const QString& path) {
    std::lock_guard lock(mutex_);
    if (!seen_.contains(path)) {
      seen_.insert(path);
      ++begun;
    }
  }
  std::mutex mutex_;
  QSet<QString> seen_;
};

class ExportWatcher : public ConverterProgressDelegate {
 public:
  std::atomic<bool> begun{false};
  void ConverterProgressDelegate_start() override { begun = true; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: quit_driver WAIT_MS FILE...\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  foundation::setLogSink([](const foundation::LogRecord&) {});
  int status = 0;
  {
    QApplication app(argc, argv);
    const auto wait = std::chrono::milliseconds(std::atoi(argv[1]));
    MainQueueBridge::install();
    PDFModul::registerModul();
    registerRichTextModuls();
    XPSModul::registerModul();
    DjVuModul::registerModul();
    VisioModul::registerModul();
    WinmailModul::registerModul();

    auto manager = XVDocumentLoadManager::ShareDocumentLoadManager();
    auto requester = std::make_shared<Requester>();
    std::vector<std::shared_ptr<pdfkit::PDFDocument>> documents;
    std::vector<std::shared_ptr<ConverterInterface>> exports;
    auto watcher = std::make_shared<ExportWatcher>();
    int loads = 0;
    for (int i = 2; i < argc; ++i) {
      const QString path = QFileInfo(QString::fromLocal8Bit(argv[i])).absoluteFilePath();
      manager->loadDocumentByFilePath(path, requester);
      ++loads;
      if (!path.endsWith(QLatin1String(".pdf"))) continue;
      auto document = pdfkit::PDFDocument::initWithURL(path);
      auto converter = XVConverter::converterWithFormat(Format::formatNamed(QStringLiteral("PNG")));
      if (!document || !converter) return 3;
      converter->setDelegate(watcher);
      converter->setConvertDocument(document.get());
      converter->setOutDirector(QFileInfo(path).absolutePath());
      converter->setOutFileName(QFileInfo(path).completeBaseName());
      converter->setConvertStartPage(0, document->pageCount() - 1);
      converter->setReplaceExisting(true);
      converter->startConvert();
      documents.push_back(std::move(document));
      exports.push_back(converter);
    }
    // Quit once every load and export has begun: the conversions are running now.
    QElapsedTimer clock;
    clock.start();
    while ((requester->begun < loads || (!exports.empty() && !watcher->begun)) && clock.elapsed() < 60000) {
      QApplication::processEvents();
      QThread::msleep(1);
    }
    XVBaseFunction::userDefaults()->setValue(QStringLiteral("quitDriver/begun"), requester->begun.load());
    MainQueueBridge::uninstall();
    status = XVEndApplication(0, std::chrono::steady_clock::now() + wait);
    exports.clear();
    documents.clear();
  }
  return status;
}
