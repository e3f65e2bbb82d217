// Driver of bench/batch/run.sh: opens every FILE at once through the load manager, as the
// browser does when several documents are opened together (a fresh cache in CACHE, so every
// one is converted), and waits for every end. Prints the wall time from the requests to the
// last end in nanoseconds, the process's peak resident size in kB and the most conversions that
// ran at once; fails when a document did not open.
//
//   batch_bench CACHE FILE...

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>

#include "modules/djvu/DjVuModul.h"
#include "modules/pdf/PDFModul.h"
#include "modules/visio/VisioModul.h"
#include "modules/winmail/WinmailModul.h"
#include "modules/works/RichTextModuls.h"
#include "modules/xps/XPSModul.h"
#include "platform/foundation/log.h"
#include "platform/foundation/worker_threads.h"
#include "shell/MainQueueBridge.h"
#include "shell/XVDocumentLoadManager.h"

namespace {

class Requester : public XVloadDocumentProgressDelegate {
 public:
  std::atomic<int> ended{0};
  std::atomic<int> failed{0};
  void XVLoad_End(std::shared_ptr<ImportInterface> import, const QString& path, const QString& error) override {
    if (!import || !error.isEmpty()) {
      std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(error));
      ++failed;
    }
    ++ended;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: batch_bench CACHE FILE...\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  foundation::setLogSink([](const foundation::LogRecord& r) {
    if (r.level == foundation::LogLevel::Error) std::fprintf(stderr, "%s\n", r.message.c_str());
  });
  QApplication app(argc, argv);
  MainQueueBridge::install();
  PDFModul::registerModul();
  registerRichTextModuls();
  XPSModul::registerModul();
  DjVuModul::registerModul();
  VisioModul::registerModul();
  WinmailModul::registerModul();
  auto manager = XVDocumentLoadManager::initWithCacheLibPath(QString::fromLocal8Bit(argv[1]));
  auto requester = std::make_shared<Requester>();
  const int count = argc - 2;

  QElapsedTimer clock;
  clock.start();
  for (int i = 2; i < argc; ++i) {
    manager->loadDocumentByFilePath(QFileInfo(QString::fromLocal8Bit(argv[i])).absoluteFilePath(), requester);
  }
  int most = 0;
  while (requester->ended < count) {
    QApplication::processEvents();
    most = std::max(most, manager->runningConversions());
    QThread::msleep(1);
  }
  const qint64 ns = clock.nsecsElapsed();
  manager->waitUntilIdle(std::chrono::minutes(1));
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("%lld %ld %d\n", static_cast<long long>(ns), usage.ru_maxrss, most);
  MainQueueBridge::uninstall();
  const int status = requester->failed == 0 ? 0 : 1;
  return foundation::WorkerThreads::endProcess(status);
}
