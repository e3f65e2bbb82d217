// Driver of bench/works/run.sh.
//   works_bench make FILE PARAGRAPHS     a WordPerfect document of that many paragraphs
//   works_bench farcell SHEET OUT COLUMN a Quattro sheet with its first cell-format record moved
//                                        to COLUMN
//   works_bench convert FILE PDF [RUNS]  converts a WordPerfect (.wp, .wpd) or Works file to PDF
//                                        as the module does (the converter on its thread, then
//                                        the print); prints the best time in nanoseconds and the
//                                        page count

#include <QElapsedTimer>
#include <QGuiApplication>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "platform/wpdkit/QFWpdConverter.h"
#include "platform/wpskit/QFWpsConverter.h"
#include "support/wordperfect_builder.h"
#include "platform/foundation/worker_threads.h"

namespace {

class Waiter : public QFWpdConverterDelegate, public QFWpsConverterDelegate {
 public:
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  int pages = 0;
  QString out;
  void QFWpdConverterDelegate_converterEnd(int32_t code, std::shared_ptr<QFExportObject> e, QFWpdConverter*) override {
    finish(code, e);
  }
  void QFWpsConverterDelegate_converterEnd(int32_t code, std::shared_ptr<QFExportObject> e, QFWpsConverter*) override {
    finish(code, e);
  }

 private:
  void finish(int32_t code, const std::shared_ptr<QFExportObject>& e) {
    if (code == QFConverterEndSucceeded && e) {
      const auto printed = e->print(out);
      pages = printed.ok ? printed.pages : 0;
    }
    std::lock_guard lock(mutex);
    done = true;
    cv.notify_all();
  }
};

template <class Converter, class Delegate>
void start(const QString& file, const std::shared_ptr<Waiter>& waiter) {
  auto converter = Converter::converterWithType(QFConverterFormat::formatWithType(1, file));
  converter->setDelegate(std::shared_ptr<Delegate>(waiter, waiter.get()));
  converter->start();
}

int farCell(const char* source, const char* out, int column) {
  std::ifstream in(source, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (size_t at = 0; at + 4 <= bytes.size();) {
    const int type = static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
    const int size = static_cast<unsigned char>(bytes[at + 2]) | static_cast<unsigned char>(bytes[at + 3]) << 8;
    if (type == 0x9d && size == 7) {
      bytes[at + 5] = static_cast<char>(column & 0xff);
      bytes[at + 6] = static_cast<char>(column >> 8);
      std::ofstream(out, std::ios::binary) << bytes;
      return 0;
    }
    at += 4 + static_cast<size_t>(size);
  }
  std::fprintf(stderr, "works_bench: %s holds no cell-format record\n", source);
  return 1;
}

int make(const char* path, int paragraphs) {
  static const char* words[] = {"conversion", "of", "the", "old", "letter", "into", "pages", "with", "margins", "and",
                                "text", "that", "a", "reader", "can", "search", "for", "later", "on"};
  std::vector<std::string> text;
  for (int p = 0; p < paragraphs; ++p) {
    std::string s = "Paragraph " + std::to_string(p + 1) + ":";
    for (int w = 0; w < 70; ++w) s += std::string(" ") + words[(p * 7 + w) % 19];
    text.push_back(s + ".");
  }
  std::ofstream(path, std::ios::binary) << testsupport::wp5Document(text);
  return 0;
}

int convert(const QString& file, const QString& pdf, int runs) {
  qint64 best = -1;
  int pages = 0;
  for (int i = 0; i < runs; ++i) {
    QElapsedTimer clock;
    clock.start();
    auto waiter = std::make_shared<Waiter>();
    waiter->out = pdf;
    const QString ext = file.section(QLatin1Char('.'), -1).toLower();
    if (ext == QLatin1String("wp") || ext == QLatin1String("wpd")) start<QFWpdConverter, QFWpdConverterDelegate>(file, waiter);
    else start<QFWpsConverter, QFWpsConverterDelegate>(file, waiter);
    {
      std::unique_lock lock(waiter->mutex);
      waiter->cv.wait(lock, [&] { return waiter->done; });
    }
    const qint64 ns = clock.nsecsElapsed();
    if (waiter->pages == 0) return 1;
    pages = waiter->pages;
    if (best < 0 || ns < best) best = ns;
  }
  std::printf("%lld %d\n", static_cast<long long>(best), pages);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc >= 4 && std::string(argv[1]) == "make") return make(argv[2], std::atoi(argv[3]));
  if (argc >= 5 && std::string(argv[1]) == "farcell") return farCell(argv[2], argv[3], std::atoi(argv[4]));
  if (argc >= 4 && std::string(argv[1]) == "convert")
    return foundation::WorkerThreads::endProcess(convert(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                                                         argc >= 5 ? std::max(1, std::atoi(argv[4])) : 1));
  std::fprintf(stderr, "usage: works_bench make FILE PARAGRAPHS | farcell SHEET OUT COLUMN | convert FILE PDF [RUNS]\n");
  return 2;
}
