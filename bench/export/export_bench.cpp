// Driver of bench/export/run.sh.
//   export_bench make FILE PAGES            a PDF of PAGES pages of text and a few shapes
//   export_bench save FORMAT FILE FOLDER    Save As of every page (format PDF or PNG, name "out")
//                                           in FOLDER; prints the time from the start of the
//                                           export to its end report inside the process (ns)

#include <QElapsedTimer>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>

#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "modules/export/XVConverter.h"
#include "platform/pdfkit/PDFDocument.h"
#include "platform/foundation/worker_threads.h"

namespace {

int make(const QString& path, int pages) {
  QPdfWriter writer(path);
  writer.setResolution(72);
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setPageMargins(QMarginsF(0, 0, 0, 0));
  QPainter painter;
  if (!painter.begin(&writer)) return 1;
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(10);
  painter.setFont(font);
  for (int i = 0; i < pages; ++i) {
    if (i > 0) writer.newPage();
    painter.fillRect(40, 30, 515, 20, QColor(40, 90, 160));
    for (int line = 0; line < 60; ++line) {
      painter.drawText(50, 80 + line * 12, QStringLiteral("Page %1, line %2: the quick brown fox jumps over the lazy dog 0123456789")
                                               .arg(i + 1)
                                               .arg(line + 1));
    }
    painter.drawEllipse(QRectF(400, 700, 120, 80));
  }
  return painter.end() ? 0 : 1;
}

struct Waiter : ConverterProgressDelegate {
  std::mutex mutex;
  std::condition_variable cv;
  bool ended = false;
  bool success = false;
  void ConverterProgressDelegate_end(bool ok, const QList<QUrl>&) override {
    std::lock_guard lock(mutex);
    ended = true;
    success = ok;
    cv.notify_all();
  }
};

int save(const QString& format, const QString& path, const QString& folder) {
  auto doc = pdfkit::PDFDocument::initWithURL(path);
  if (!doc) return 1;
  auto waiter = std::make_shared<Waiter>();
  auto converter = XVConverter::converterWithFormat(Format::formatNamed(format));
  converter->setDelegate(waiter);
  converter->setConvertDocument(doc.get());
  converter->setOutDirector(folder);
  converter->setOutFileName(QStringLiteral("out"));
  converter->setConvertStartPage(0, doc->pageCount() - 1);
  converter->setReplaceExisting(true);
  QElapsedTimer t;
  t.start();
  converter->startConvert();
  std::unique_lock lock(waiter->mutex);
  waiter->cv.wait(lock, [&] { return waiter->ended; });
  std::printf("%lld\n", static_cast<long long>(t.nsecsElapsed()));
  return waiter->success ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  QStringList args;
  for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  if (args.size() == 4 && args[1] == "make") {
    // Drawing text into a PDF needs the fonts of a GUI application; saving does not.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return make(args[2], args[3].toInt());
  }
  if (args.size() == 5 && args[1] == "save") {
    QCoreApplication app(argc, argv);
    return foundation::WorkerThreads::endProcess(save(args[2], args[3], args[4]));
  }
  std::fprintf(stderr, "usage: export_bench make FILE PAGES | save PDF|PNG FILE FOLDER\n");
  return 2;
}
