#pragma once
// Runs a parse to completion on the calling thread, which acts as the main thread.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "platform/foundation/dispatcher.h"
#include "tnefkit/TnefKit.h"

namespace tneftest {

struct ParseRun {
  bool started = false;
  std::shared_ptr<QFTNEFFormat> parser;
  std::vector<std::pair<std::uint64_t, std::int64_t>> calls;

  bool completed() const { return !calls.empty() && calls.back().first == std::uint64_t(QFParserFlagComplete); }
  std::int64_t result() const { return completed() ? calls.back().second : 99; }
};

inline ParseRun parseFile(const std::filesystem::path& path) {
  ParseRun run;
  run.parser = QFTNEFFormat::initWithURL(path);
  if (!run.parser) return run;
  auto calls = std::make_shared<std::vector<std::pair<std::uint64_t, std::int64_t>>>();
  run.started = run.parser->startParserWithBlock([calls](std::uint64_t f, std::int64_t c) { calls->emplace_back(f, c); });
  if (run.started) {
    foundation::Dispatcher::runMainUntil(
        [&] { return !calls->empty() && calls->back().first == std::uint64_t(QFParserFlagComplete); },
        std::chrono::seconds(60));
  }
  run.calls = *calls;
  return run;
}

}  // namespace tneftest
