// Fuzz target: a whole TNEF stream through the parser, then every name, text and body.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"
#include "tnefkit/TnefKit.h"

namespace {
const std::filesystem::path& scratch() {
  static const std::filesystem::path dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tnefkit-fuzz-XXXXXX").string();
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
  const auto path = scratch() / "input.dat";
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  auto parser = QFTNEFFormat::initWithURL(path);
  bool done = false;
  if (!parser->startParserWithBlock([&](std::uint64_t flag, std::int64_t) {
        if (flag == std::uint64_t(QFParserFlagComplete)) done = true;
      })) {
    return 0;
  }
  if (!foundation::Dispatcher::runMainUntil([&] { return done; }, std::chrono::seconds(60))) std::abort();
  const auto out = scratch() / "out";
  std::filesystem::remove_all(out);
  std::filesystem::create_directory(out);
  for (const auto& body : parser->messageBodys()) {
    (void)body->textBody();
    (void)body->description();
    body->writeToFile(out / "message body.txt");
  }
  for (const auto& a : parser->attachments()) {
    std::string name = a->filename();
    if (auto ext = a->extension()) name += "." + *ext;
    (void)a->description();
    std::filesystem::path written;
    if (a->writeToFile(out / name, &written) && written.parent_path() != out) std::abort();
  }
  return 0;
}
