// Converts each drawing to PDF the way the application does (load on a worker thread, pages
// on the main queue drained here). Without options it prints the page count of each; with
// --repeat N, the best wall time of N conversions in nanoseconds.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "diagramkit/engine/SVG2PDF.h"
#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"
#include "platform/foundation/notification_center.h"

namespace {

// Answers the pages done when every announced page was done, else -1.
int convertOnce(const std::string& src, const std::string& out) {
  static int tag;
  std::atomic<int> all{-1}, done{0};
  std::atomic<bool> ended{false};
  auto& center = foundation::NotificationCenter::defaultCenter();
  auto a = center.addObserver(VSD_ALL_PAGE_NOTI, &tag, [&](const foundation::Notification& n) {
    if (const int* v = n.value<int>(VSD_ALL_PAGE_NUM)) all = *v;
  });
  auto p = center.addObserver(END_VSD_PAGE_NOTI, &tag, [&](const foundation::Notification& n) {
    if (const int* v = n.value<int>(END_VSD_PAGE_NUM)) done = *v;
  });
  auto e = center.addObserver(END_VSD_FILE_NOTI, &tag, [&](const foundation::Notification&) { ended = true; });
  std::thread worker([&] { SVG2PDF::initWithSrc(src, out, &tag)->createPDF(); });
  worker.join();
  foundation::Dispatcher::runMainUntil([&] { return ended.load(); }, std::chrono::minutes(5));
  return ended && all > 0 && done == all ? done.load() : -1;
}

}  // namespace

int main(int argc, char** argv) {
  foundation::setLogSink([](const foundation::LogRecord& r) {
    if (r.level == foundation::LogLevel::Error) std::fprintf(stderr, "%s\n", r.message.c_str());
  });
  foundation::Dispatcher::drainMain();
  int repeat = 0;
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "--repeat") == 0) {
    repeat = std::atoi(argv[2]);
    first = 3;
  }
  char tmpl[] = "/tmp/visio-bench-XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) return 2;
  const std::string out = std::string(tmpl) + "/out.pdf";
  int status = 0;
  for (int i = first; i < argc; ++i) {
    const int pages = convertOnce(argv[i], out);
    if (pages < 0) {
      std::fprintf(stderr, "conversion failed: %s\n", argv[i]);
      status = 1;
      continue;
    }
    long long best = -1;
    for (int r = 0; r < repeat; ++r) {
      const auto t0 = std::chrono::steady_clock::now();
      convertOnce(argv[i], out);
      const long long ns =
          std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0).count();
      if (best < 0 || ns < best) best = ns;
    }
    if (repeat > 0) {
      std::printf("%lld\n", best);
    } else {
      std::printf("%d pages  %s\n", pages, argv[i]);
    }
  }
  std::filesystem::remove_all(tmpl);
  return status;
}
