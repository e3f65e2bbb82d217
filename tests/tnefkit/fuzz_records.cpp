// Fuzz target: a whole TNEF stream through the parser, then every name, text and body.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"
#include "tnefkit/TnefKit.h"
#include "support/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool quiet = (foundation::setLogSink([](const foundation::LogRecord&) {}), true);
  (void)quiet;
  const auto path = testsupport::writeFuzzInput("input.dat", data, size);
  auto parser = QFTNEFFormat::initWithURL(path);
  bool done = false;
  if (!parser->startParserWithBlock([&](std::uint64_t flag, std::int64_t) {
        if (flag == std::uint64_t(QFParserFlagComplete)) done = true;
      })) {
    return 0;
  }
  if (!foundation::Dispatcher::runMainUntil([&] { return done; }, std::chrono::seconds(60))) std::abort();
  const auto out = testsupport::fuzzScratch() / "out";
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
