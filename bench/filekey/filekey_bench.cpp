// Prints the content key of each file and, with --repeat N, the best in-process time of N
// computations in nanoseconds.
#include <QString>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shell/XVFileKey.h"

int main(int argc, char** argv) {
  int repeat = 0;
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "--repeat") == 0) {
    repeat = std::atoi(argv[2]);
    first = 3;
  }
  for (int i = first; i < argc; ++i) {
    const QString path = QString::fromLocal8Bit(argv[i]);
    QString key = XVFileKey::FileKeyByFilePath(path);
    if (key.isNull()) {
      std::fprintf(stderr, "no key for %s\n", argv[i]);
      return 1;
    }
    long long best = -1;
    for (int r = 0; r < repeat; ++r) {
      const auto t0 = std::chrono::steady_clock::now();
      key = XVFileKey::FileKeyByFilePath(path);
      const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0).count();
      if (best < 0 || ns < best) best = ns;
    }
    if (repeat > 0) {
      std::printf("%lld\n", best);
    } else {
      std::printf("%s  %s\n", key.toLatin1().constData(), argv[i]);
    }
  }
  return 0;
}
