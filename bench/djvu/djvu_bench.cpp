// Converts DjVu files to PDF with the converter the application uses.
//   djvu_bench IN OUT              converts on the calling thread and prints the number of pages written
//   djvu_bench --repeat N IN OUT   prints the best wall time of N such conversions in nanoseconds
//   djvu_bench --together OUTDIR IN...
//                                  converts every IN at once, each by a converter of the application
//                                  (a thread of its own), to OUTDIR/K.pdf; prints the wall time in
//                                  nanoseconds and the process's peak resident size in kilobytes
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/convert_main.h"
#include "platform/djvukit/DjvuKit.h"

namespace {

bool convertOnce(const std::string& src, const std::string& out, int* pages) {
  std::string error;
  djvukit::ConversionCallbacks callbacks;
  if (pages) callbacks.pageDone = [pages](int32_t k) { *pages = k; };
  if (djvukit::convertDjvuToPdf(src, out, callbacks, &error)) return true;
  std::fprintf(stderr, "%s: %s\n", src.c_str(), error.c_str());
  return false;
}

struct Outcome : djvukit::DjvuKitDelegate {
  std::string source;
  std::string error;
  bool ended = false;
  void endDjVuPageNoti() override { ended = true; }
  void sendErrorInfo(const std::string& reason) override { error = reason; }
};

int convertTogether(const std::string& outDir, const std::vector<std::string>& sources) {
  const auto t0 = std::chrono::steady_clock::now();
  std::vector<std::shared_ptr<Outcome>> outcomes;
  std::vector<std::shared_ptr<djvukit::DjvuKit>> kits;
  for (size_t k = 0; k < sources.size(); ++k) {
    outcomes.push_back(std::make_shared<Outcome>());
    outcomes.back()->source = sources[k];
    kits.push_back(djvukit::DjvuKit::create());
    kits.back()->setDelegate(outcomes.back());
    kits.back()->DjvuToPDFSrc(sources[k], outDir + "/" + std::to_string(k) + ".pdf");
  }
  for (auto& kit : kits) kit->wait();
  const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0).count();
  int failed = 0;
  for (const auto& o : outcomes) {
    if (o->ended) continue;
    std::fprintf(stderr, "%s: %s\n", o->source.c_str(), o->error.c_str());
    ++failed;
  }
  if (failed) return 1;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%lld %ld\n", ns, usage.ru_maxrss);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 3 && std::strcmp(argv[1], "--together") == 0) {
    foundation::setLogSink([](const foundation::LogRecord&) {});
    return convertTogether(argv[2], std::vector<std::string>(argv + 3, argv + argc));
  }
  return convertBenchMain(argc, argv, "djvu_bench", convertOnce);
}
