// Fuzz target: a file as an XPS package: the zip scan, the re-pack, the open and its page count.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/foundation/log.h"
#include "platform/xpskit/XpsKit.h"
#include "platform/xpskit/XpsPackage.h"

namespace {
const std::filesystem::path& scratch() {
  static const std::filesystem::path dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "xpskit-fuzz-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    return std::filesystem::path(tmpl);
  }();
  // Registered once dir is made, so that it runs before dir is destroyed.
  static const bool cleanup = (std::atexit([] { std::filesystem::remove_all(dir); }), true);
  (void)cleanup;
  return dir;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool quiet = (foundation::setLogSink([](const foundation::LogRecord&) {}), true);
  (void)quiet;
  const auto path = scratch() / "input.xps";
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  (void)xpskit::zipHasDataDescriptors(path.string());
  std::string error;
  if (auto doc = xpskit::QFXpsDocument::documentWithPath(path.string(), &error)) {
    if (doc->pageCount() < 0) std::abort();
  } else if (error.empty()) {
    std::abort();  // a refusal always says why
  }
  return 0;
}
