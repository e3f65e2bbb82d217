// Fuzz target: a file as an XPS package: the zip scan, the re-pack, the markup check (and the safe
// copy), the open and its page count.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/foundation/log.h"
#include "platform/xpskit/XpsKit.h"
#include "platform/xpskit/XpsPackage.h"
#include "support/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool quiet = (foundation::setLogSink([](const foundation::LogRecord&) {}), true);
  (void)quiet;
  const auto path = testsupport::writeFuzzInput("input.xps", data, size);
  (void)xpskit::zipHasDataDescriptors(path.string());
  std::string error;
  if (auto doc = xpskit::QFXpsDocument::documentWithPath(path.string(), &error)) {
    if (doc->pageCount() < 0) std::abort();
  } else if (error.empty()) {
    std::abort();  // a refusal always says why
  }
  return 0;
}
