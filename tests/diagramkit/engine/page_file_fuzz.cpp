// Reads arbitrary bytes as a page file: parse, find the svg:svg element, take its size and
// serialise it on its own.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "diagramkit/engine/PageFile.h"
#include "support/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto path = testsupport::writeFuzzInput("input.page", data, size);
  std::string error;
  const auto page = diagramkit::readPageFile(path, &error);
  if (!page) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  if (page->svg.empty()) std::abort();
  if ((page->width && !(*page->width > 0)) || (page->height && !(*page->height > 0))) std::abort();
  return 0;
}
