// Converts arbitrary bytes as a Visio drawing to PDF. Every run ends once, leaves no work
// folder, and writes an output only when it is a readable PDF of the announced page count.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine_test_support.h"
#include "platform/foundation/log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = (foundation::setLogSink([](const foundation::LogRecord&) {}), true);
  (void)quiet;
  static const std::filesystem::path dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "visio-fuzz-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    return std::filesystem::path(tmpl);
  }();
  static const bool cleanup = (std::atexit([] { std::filesystem::remove_all(dir); }), true);
  (void)cleanup;
  const auto src = dir / "input.vsd";
  const auto out = dir / "out.pdf";
  std::filesystem::remove(out);
  {
    std::FILE* f = std::fopen(src.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size != 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
  }
  if (!enginetest::convertedSoundly(enginetest::convert(src, out), out)) std::abort();
  return 0;
}
