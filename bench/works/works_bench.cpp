// Driver of bench/works/run.sh.
//   works_bench make FILE PARAGRAPHS     a WordPerfect document of that many paragraphs
//   works_bench convert FILE PDF [RUNS]  converts it to PDF as the module does (the converter
//                                        on its thread, then the print); prints the best time in
//                                        nanoseconds and the page count

#include <QElapsedTimer>
#include <QGuiApplication>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "platform/wpdkit/QFWpdConverter.h"
#include "support/wordperfect_builder.h"

namespace {

class Waiter : public QFWpdConverterDelegate {
 public:
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  int pages = 0;
  QString out;
  void QFWpdConverterDelegate_converterEnd(int32_t code, std::shared_ptr<QFExportObject> e, QFWpdConverter*) override {
    if (code == QFConverterEndSucceeded && e) {
      const auto printed = e->print(out);
      pages = printed.ok ? printed.pages : 0;
    }
    std::lock_guard lock(mutex);
    done = true;
    cv.notify_all();
  }
};

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
    auto converter = QFWpdConverter::converterWithType(QFConverterFormat::formatWithType(1, file));
    converter->setDelegate(waiter);
    converter->start();
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
  if (argc >= 4 && std::string(argv[1]) == "convert")
    return convert(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), argc >= 5 ? std::max(1, std::atoi(argv[4])) : 1);
  std::fprintf(stderr, "usage: works_bench make FILE PARAGRAPHS | convert FILE PDF [RUNS]\n");
  return 2;
}
