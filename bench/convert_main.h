#pragma once
// The command line of the one-file converter benchmarks:
//   NAME IN OUT              converts once and prints the number of pages written
//   NAME --repeat N IN OUT   prints the best wall time of N conversions in nanoseconds

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/foundation/log.h"
#include "platform/foundation/worker_threads.h"

// `convertOnce` converts IN to OUT, setting *pages when pages is not null, and answers whether
// it succeeded (having said why on stderr when not).
inline int convertBenchRun(int argc, char** argv, const char* name,
                           bool (*convertOnce)(const std::string& src, const std::string& out, int* pages)) {
  foundation::setLogSink([](const foundation::LogRecord&) {});
  int repeat = 0;
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "--repeat") == 0) {
    repeat = std::atoi(argv[2]);
    first = 3;
  }
  if (argc - first != 2) {
    std::fprintf(stderr, "usage: %s [--repeat N] IN OUT\n", name);
    return 2;
  }
  const std::string in = argv[first], out = argv[first + 1];
  if (repeat <= 0) {
    int pages = 0;
    if (!convertOnce(in, out, &pages)) return 1;
    std::printf("%d\n", pages);
    return 0;
  }
  long long best = -1;
  for (int i = 0; i < repeat; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    if (!convertOnce(in, out, nullptr)) return 1;
    const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0).count();
    if (best < 0 || ns < best) best = ns;
  }
  std::printf("%lld\n", best);
  return 0;
}

// convertBenchRun(), then the end of every worker thread before the statics go.
inline int convertBenchMain(int argc, char** argv, const char* name,
                            bool (*convertOnce)(const std::string& src, const std::string& out, int* pages)) {
  return foundation::WorkerThreads::endProcess(convertBenchRun(argc, argv, name, convertOnce));
}
