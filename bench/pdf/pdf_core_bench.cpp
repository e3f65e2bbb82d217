// Document-layer driver of bench/pdf/run.sh (linked like the load thread: no widgets).
//   pdf_core_bench render FILE OUT.ppm   open and render page 1 at 96 dpi, written as PPM; prints
//                                        the time this took inside the process (ns)
//   pdf_core_bench find FILE WORD        asynchronous find over every page; prints the count
// With PDF_BENCH_VERBOSE set, the in-process times go to stderr.

#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

#include "platform/foundation/dispatcher.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/worker_threads.h"
#include "platform/pdfkit/PDFDocument.h"

namespace {

struct Counter : pdfkit::PDFDocumentDelegate {
  int matches = 0;
  void didMatchString(const pdfkit::PDFSelection&) override { ++matches; }
};

bool writePpm(const QImage& image, const QString& path) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return false;
  f.write(QByteArray("P6\n") + QByteArray::number(rgb.width()) + ' ' + QByteArray::number(rgb.height()) + "\n255\n");
  for (int y = 0; y < rgb.height(); ++y) f.write(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
  return f.error() == QFileDevice::NoError;
}

int render(const QString& path, const QString& out) {
  QElapsedTimer t;
  t.start();
  auto doc = pdfkit::PDFDocument::initWithURL(path);
  if (!doc) return 1;
  const qint64 opened = t.nsecsElapsed();
  const QImage img = doc->pageAtIndex(0)->render(96.0 / 72.0);
  const qint64 rendered = t.nsecsElapsed();
  const bool ok = writePpm(img, out);
  std::printf("%lld\n", static_cast<long long>(t.nsecsElapsed()));
  if (qEnvironmentVariableIsSet("PDF_BENCH_VERBOSE"))
    std::fprintf(stderr, "open %.1f ms, render %.1f ms, save %.1f ms\n", opened / 1e6, (rendered - opened) / 1e6,
                 (t.nsecsElapsed() - rendered) / 1e6);
  return ok ? 0 : 1;
}

int find(const QString& path, const QString& word) {
  auto doc = pdfkit::PDFDocument::initWithURL(path);
  if (!doc) return 1;
  Counter counter;
  doc->setDelegate(&counter);
  bool ended = false;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      pdfkit::PDFDocumentDidEndFindNotification, doc.get(), [&](const foundation::Notification&) { ended = true; });
  doc->beginFindString(word, pdfkit::CaseInsensitiveSearch);
  foundation::Dispatcher::runMainUntil([&] { return ended; }, std::chrono::minutes(10));
  std::printf("%d\n", counter.matches);
  return ended ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && QByteArray(argv[1]) == "render") return render(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
  if (argc >= 4 && QByteArray(argv[1]) == "find")
    return foundation::WorkerThreads::endProcess(find(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3])));
  std::fprintf(stderr, "usage: pdf_core_bench render|find ...\n");
  return 2;
}
