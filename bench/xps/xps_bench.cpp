// Converts an XPS file to PDF the way the application does (XpsKit's converter thread).
// `xps_bench IN OUT` converts once and prints the number of pages written; `--repeat N IN OUT` prints the
// best wall time of N conversions in nanoseconds.
#include <cstdio>
#include <string>

#include "bench/convert_main.h"
#include "platform/xpskit/XpsKit.h"

namespace {

bool convertOnce(const std::string& src, const std::string& out, int* pages) {
  using namespace xpskit;
  auto param = QFXpsConverterParam::paramWithFormat(QFXpsConverterFormat::formatWithType(0));
  param->setOutPath(out);
  std::string error;
  auto document = QFXpsDocument::documentWithPath(src, &error);
  if (!document) {
    std::fprintf(stderr, "%s: %s\n", src.c_str(), error.c_str());
    return false;
  }
  if (pages) *pages = document->pageCount();
  param->addConverterSource(QFXpsConverterSource::converterSourceWithDocument(document));
  auto converter = QFXpsConverter::converterWithParam(param);
  converter->start();
  converter->wait();
  if (!converter->errorInfo().empty()) std::fprintf(stderr, "%s: %s\n", src.c_str(), converter->errorInfo().c_str());
  return converter->errorInfo().empty();
}

}  // namespace

int main(int argc, char** argv) { return convertBenchMain(argc, argv, "xps_bench", convertOnce); }
