// Converts a DjVu file to PDF with the converter the application uses, on the calling thread.
// `djvu_bench IN OUT` converts once and prints the number of pages written; `--repeat N IN OUT` prints the
// best wall time of N conversions in nanoseconds.
#include <cstdio>
#include <string>

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

}  // namespace

int main(int argc, char** argv) { return convertBenchMain(argc, argv, "djvu_bench", convertOnce); }
