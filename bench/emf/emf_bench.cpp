// EMF benchmark driver.
//   emf_bench generate OUT.emf COUNT     writes COUNT POLYLINE16 records through the GDI calls
//   emf_bench convert IN.emf OUT.svg [--repeat N]
//                                        converts as the application does (read, SVG, delete) and
//                                        prints the best wall time of N runs in nanoseconds
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "diagramkit/emf/emf.h"

namespace {

int generate(const char* path, long count) {
  const HDC dc = CreateEnhMetaFileA(0, path, nullptr, nullptr);
  if (!dc) return 1;
  const EMF::LOGBRUSH brush{0, 0x204080, 0};
  const HPEN pen = ExtCreatePen(0x10000, 2, &brush, 0, nullptr);
  SelectObject(dc, pen);
  unsigned seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<EMF::SHORT>((seed >> 16) % 2000);
  };
  EMF::POINT16 points[6];
  for (long i = 0; i < count; ++i) {
    for (auto& p : points) p = EMF::POINT16{next(), next()};
    Polyline16(dc, points, 6);
  }
  return CloseEnhMetaFile(dc) ? 0 : 1;
}

bool convertOnce(const char* in, const char* out) {
  const HENHMETAFILE h = GetEnhMetaFileA(in);
  if (!h) return false;
  FILE* f = std::fopen(out, "w");
  if (!f) return false;
  const int ok = outputEnhMetaFile(f, h);
  std::fclose(f);
  DeleteEnhMetaFile(h);
  DeleteDC(h);
  return ok == 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "generate") == 0) return generate(argv[2], std::atol(argv[3]));
  if (argc >= 4 && std::strcmp(argv[1], "convert") == 0) {
    const int repeat = argc >= 6 && std::strcmp(argv[4], "--repeat") == 0 ? std::atoi(argv[5]) : 1;
    long long best = -1;
    for (int i = 0; i < repeat; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      if (!convertOnce(argv[2], argv[3])) return 1;
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0).count();
      if (best < 0 || ns < best) best = ns;
    }
    std::printf("%lld\n", best);
    return 0;
  }
  std::fprintf(stderr, "usage: emf_bench generate OUT.emf COUNT | convert IN.emf OUT.svg [--repeat N]\n");
  return 2;
}
