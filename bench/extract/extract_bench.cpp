// Driver of bench/extract/run.sh.
//   extract_bench make FILE PAGES     a PDF of PAGES pages, each with three embedded pictures
//   extract_bench make-large FILE     a one-page PDF whose only picture has 10,000 x 10,000 RGB
//                                     pixels (an A3 scan at 600 dpi has 69.6 million)
//   extract_bench run FILE FOLDER     Extract Images of every page as PNG (name "out") into
//                                     FOLDER; prints the time from the start of the run to its
//                                     end report inside the process (ns) and the file count

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>

#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "modules/export/XVExtract.h"
#include "platform/pdfkit/PDFDocument.h"
#include "support/flate_image.h"
#include "support/image_pdf.h"
#include "platform/foundation/worker_threads.h"

namespace {

int make(const QString& path, int pages) {
  QPdfWriter writer(path);
  writer.setResolution(72);
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setPageMargins(QMarginsF(0, 0, 0, 0));
  QPainter painter;
  if (!painter.begin(&writer)) return 1;
  for (int i = 0; i < pages; ++i) {
    if (i > 0) writer.newPage();
    for (int k = 0; k < 3; ++k) {
      QImage picture(320, 240, QImage::Format_RGB32);
      for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) picture.setPixel(x, y, qRgb((x + i) & 255, (y * 3 + k * 80) & 255, (x ^ y) & 255));
      painter.drawImage(QRectF(40, 40 + k * 250, 320, 240), picture);
    }
  }
  return painter.end() ? 0 : 1;
}

int makeLarge(const QString& path) {
  constexpr int kSide = 10000;
  const testsupport::PdfImage picture = testsupport::flateImage(kSide, kSide, "/DeviceRGB", 3, [](int y, unsigned char* row) {
    for (int x = 0; x < kSide; ++x) {
      row[3 * x] = static_cast<unsigned char>(x * 255 / kSide);
      row[3 * x + 1] = static_cast<unsigned char>(y * 255 / kSide);
      row[3 * x + 2] = ((x / 100) + (y / 100)) % 2 ? 40 : 220;
    }
  });
  QFile file(path);
  const std::string bytes = testsupport::imagePdf({{{picture}}});
  return file.open(QIODevice::WriteOnly) && file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
                                                static_cast<qint64>(bytes.size())
             ? 0
             : 1;
}

struct Waiter : ExtractProgressDelegate {
  std::mutex mutex;
  std::condition_variable cv;
  bool ended = false;
  bool success = false;
  int files = 0;
  void ExtractProgressDelegate_end(bool ok, const QList<QUrl>& urls) override {
    std::lock_guard lock(mutex);
    ended = true;
    success = ok;
    files = static_cast<int>(urls.size());
    cv.notify_all();
  }
};

int run(const QString& path, const QString& folder) {
  auto doc = pdfkit::PDFDocument::initWithURL(path);
  if (!doc) return 1;
  auto waiter = std::make_shared<Waiter>();
  auto extract = XVExtract::extractWithFormat(Format::formatNamed(QStringLiteral("PNG")));
  extract->setDelegate(waiter);
  extract->setExtractDocument(doc.get());
  extract->setOutDirector(folder);
  extract->setOutFilePath(path);
  extract->setOutFileName(QStringLiteral("out"));
  extract->setExtractStartPage(0, doc->pageCount() - 1);
  extract->setReplaceExisting(true);
  QElapsedTimer timer;
  timer.start();
  extract->startExtract();
  std::unique_lock lock(waiter->mutex);
  waiter->cv.wait(lock, [&] { return waiter->ended; });
  const qint64 ns = timer.nsecsElapsed();
  lock.unlock();
  extract->waitUntilEnded(std::chrono::seconds(60));
  std::printf("%lld %d\n", static_cast<long long>(ns), waiter->files);
  return waiter->success ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  if (args.size() == 4 && args[1] == QLatin1String("make")) return make(args[2], args[3].toInt());
  if (args.size() == 3 && args[1] == QLatin1String("make-large")) return makeLarge(args[2]);
  if (args.size() == 4 && args[1] == QLatin1String("run")) return foundation::WorkerThreads::endProcess(run(args[2], args[3]));
  std::fprintf(stderr, "usage: extract_bench make FILE PAGES | make-large FILE | run FILE FOLDER\n");
  return 2;
}
