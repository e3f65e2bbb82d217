// Converts every FILE on a thread of its own, all released at the same moment, ROUNDS times;
// FILE number k is written to OUTDIR/k.pdf. Run as a fresh process, so that the decoder's first
// use in the process is among what the threads do at once. Exits 1, with the reasons on
// stderr, when any conversion fails.
//   djvukit_stress ROUNDS OUTDIR FILE...
#include <barrier>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/djvukit/DjvuKit.h"
#include "platform/foundation/log.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s ROUNDS OUTDIR FILE...\n", argv[0]);
    return 2;
  }
  foundation::setLogSink([](const foundation::LogRecord&) {});
  const int rounds = std::atoi(argv[1]);
  const std::filesystem::path outDir = argv[2];
  const int files = argc - 3;
  std::vector<std::string> errors(static_cast<size_t>(files));
  std::barrier start(files);
  std::vector<std::thread> threads;
  for (int k = 0; k < files; ++k) {
    threads.emplace_back([&, k] {
      const std::string out = (outDir / (std::to_string(k) + ".pdf")).string();
      for (int r = 0; r < rounds; ++r) {
        start.arrive_and_wait();
        std::string error;
        if (!djvukit::convertDjvuToPdf(argv[k + 3], out, {}, &error) && errors[k].empty())
          errors[k] = std::string(argv[k + 3]) + " (round " + std::to_string(r + 1) + "): " + error;
      }
    });
  }
  for (auto& t : threads) t.join();
  int failed = 0;
  for (const auto& e : errors) {
    if (e.empty()) continue;
    std::fprintf(stderr, "%s\n", e.c_str());
    ++failed;
  }
  return failed ? 1 : 0;
}
