// Converts each drawing to PDF the way the application does (a ".vsdx" is pre-processed first;
// the load on a worker thread, the pages reported on the main queue drained here). Without
// options it prints the page count of each; with --repeat N, the best wall time of N
// conversions in nanoseconds and the longest main-queue stall seen, in nanoseconds; with
// --pdf OUT, the PDF of one drawing.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "diagramkit/engine/PreProcessVSDX.h"
#include "diagramkit/engine/SVG2PDF.h"
#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/worker_threads.h"

namespace {

using Clock = std::chrono::steady_clock;

bool isVsdx(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".vsdx";
}

// Answers the pages done when every announced page was done, else -1. `stall` gets the
// longest time the main queue spent in one go.
int convertOnce(const std::string& src, const std::string& out, long long* stall = nullptr) {
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
  std::thread worker([&] {
    if (isVsdx(src)) preProcessVSDX(src);
    SVG2PDF::initWithSrc(src, out, &tag)->createPDF();
  });
  long long longest = 0;
  const auto deadline = Clock::now() + std::chrono::minutes(5);
  while (!ended && Clock::now() < deadline) {
    const auto t0 = Clock::now();
    foundation::Dispatcher::drainMain();
    longest = std::max<long long>(longest, std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count());
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  worker.join();
  foundation::Dispatcher::drainMain();
  if (stall) *stall = longest;
  return ended && all > 0 && done == all ? done.load() : -1;
}

}  // namespace

int main(int argc, char** argv) {
  foundation::setLogSink([](const foundation::LogRecord& r) {
    if (r.level == foundation::LogLevel::Error) std::fprintf(stderr, "%s\n", r.message.c_str());
  });
  foundation::Dispatcher::drainMain();
  if (argc == 4 && std::strcmp(argv[1], "--pdf") == 0)
    return foundation::WorkerThreads::endProcess(convertOnce(argv[3], argv[2]) > 0 ? 0 : 1);
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
    long long stall = 0;
    for (int r = 0; r < repeat; ++r) {
      const auto t0 = Clock::now();
      long long s = 0;
      convertOnce(argv[i], out, &s);
      const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count();
      if (best < 0 || ns < best) best = ns;
      stall = std::max(stall, s);
    }
    if (repeat > 0) {
      std::printf("%lld %lld\n", best, stall);
    } else {
      std::printf("%d pages  %s\n", pages, argv[i]);
    }
  }
  std::filesystem::remove_all(tmpl);
  return foundation::WorkerThreads::endProcess(status);
}
