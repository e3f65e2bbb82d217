// GUI driver of bench/pdf/run.sh.
//   pdf_bench make FILE PAGES WORD       a PDF with text on every page, WORD on every 10th
//   pdf_bench thumbs FILE                show every thumbnail once; prints peak RSS (MiB), the
//                                        longest GUI-thread stall (ms), stalls over 50 ms, and the
//                                        row shown during the longest
//   pdf_bench find FILE WORD             a tab's find, from the search text to the matches in the
//                                        side panel; prints its time (ms), the longest GUI-thread
//                                        stall (ms), stalls over 50 ms, and the match count

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

#include "core/XVNotifications.h"
#include "modules/pdf/PDFModul.h"
#include "modules/view/DocumentViewController.h"
#include "platform/foundation/dispatcher.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/worker_threads.h"
#include "platform/pdfkit/PDFDocument.h"
#include "support/pdf_fixture.h"

namespace {

int make(const QString& path, int pages, const QString& word) {
  std::vector<testsupport::PdfPageContent> contents(static_cast<size_t>(pages));
  for (int i = 0; i < pages; ++i) {
    auto& lines = contents[static_cast<size_t>(i)].lines;
    for (int l = 0; l < 30; ++l)
      lines << QStringLiteral("Page %1 line %2: the quick brown fox jumps over the lazy dog").arg(i + 1).arg(l + 1);
    if (i % 10 == 0) lines << QStringLiteral("Here is the %1 of page %2").arg(word).arg(i + 1);
  }
  return testsupport::writePdf(path, contents) ? 0 : 1;
}

// The longest gap between two ticks of a 2 ms timer on the GUI thread, while it lives.
class StallClock {
 public:
  StallClock() {
    clock_.start();
    QObject::connect(&tick_, &QTimer::timeout, [this] {
      const qint64 now = clock_.nsecsElapsed();
      if (last_ && now - last_ > 50'000'000) ++over50_;
      if (last_ && now - last_ > worst_) worst_ = now - last_;
      last_ = now;
    });
    tick_.start(2);
  }
  double worstMs() const { return worst_ / 1e6; }
  int over50() const { return over50_; }

 private:
  QElapsedTimer clock_;
  QTimer tick_;
  qint64 last_ = 0, worst_ = 0;
  int over50_ = 0;
};

int find(const QString& path, const QString& word, const QString& cacheCopy) {
  auto m = std::make_shared<PDFModul>();
  m->setImportSourcePath(path);
  m->setImportOutPath(cacheCopy);
  m->startImport();
  QWidget* view = m->documentView();
  if (!view) return 1;
  view->resize(1000, 750);
  view->show();
  testsupport::pumpUntil([&] { return m->currentPage() != nullptr; }, std::chrono::seconds(30));
  bool ended = false;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      SearchForThunbnailNotification, [&](const foundation::Notification&) { ended = true; });
  // Let the first page and thumbnails settle before the clock starts.
  testsupport::pumpFor(std::chrono::milliseconds(300));
  StallClock stalls;
  QElapsedTimer t;
  t.start();
  m->searchContent(word);
  testsupport::pumpUntil([&] { return ended; }, std::chrono::minutes(5));
  const qint64 took = t.nsecsElapsed();
  if (!ended) return 1;
  std::printf("%.1f %.2f %d %lld\n", took / 1e6, stalls.worstMs(), stalls.over50(),
              static_cast<long long>(m->searchResultArray().size()));
  return 0;
}

int thumbs(const QString& path) {
  auto doc = pdfkit::PDFDocument::initWithURL(path);
  if (!doc) return 1;
  auto controller = std::make_shared<PDFDocumentView>();
  controller->setPDFDocumentViewData(doc.get());
  QWidget* view = controller->view();
  view->resize(1000, 750);
  view->show();
  controller->reloadViewdata();
  QListView* list = controller->thumbnailList();
  ThumbnailModel* model = controller->thumbnailModel();

  // The longest gap between two ticks of a 2 ms timer on the GUI thread.
  QElapsedTimer clock;
  clock.start();
  qint64 last = 0, worst = 0;
  int over50 = 0;
  int worstRow = -1, row = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    if (last && now - last > 50'000'000) ++over50;
    if (last && now - last > worst) {
      worst = now - last;
      worstRow = row;
    }
    last = now;
  });
  tick.start(2);

  for (row = 0; row < model->rowCount(); ++row) {
    list->scrollTo(model->index(row));
    PageImageObject* item = model->itemAtIndex(row);
    testsupport::pumpUntil([&] { return !item->image().isNull() || item->imageRotation >= 0; }, std::chrono::seconds(30));
    if (item->image().isNull()) {
      std::fprintf(stderr, "thumbnail %d never arrived\n", row);
      return 1;
    }
  }
  tick.stop();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%.1f %.2f %d %d\n", usage.ru_maxrss / 1024.0, worst / 1e6, over50, worstRow);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QStringList args;
  for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (args.size() >= 5 && args[1] == "make") return make(args[2], args[3].toInt(), args[4]);
  if (args.size() >= 3 && args[1] == "thumbs") return foundation::WorkerThreads::endProcess(thumbs(args[2]));
  if (args.size() >= 4 && args[1] == "find") {
    int status = 0;
    {
      QTemporaryDir cache;
      status = find(args[2], args[3], cache.filePath(QStringLiteral("cached.pdf")));
    }
    return foundation::WorkerThreads::endProcess(status);
  }
  std::fprintf(stderr, "usage: pdf_bench make|thumbs|find ...\n");
  return 2;
}
