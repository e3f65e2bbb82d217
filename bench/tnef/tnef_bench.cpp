// Benchmark driver.
//   tnef_bench generate FILE COUNT BYTES   writes a container with COUNT attachments of BYTES each
//   tnef_bench unpack FILE FOLDER          parses FILE and writes every attachment into FOLDER
#include <chrono>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"
#include "support/tnef_writer.h"
#include "tnefkit/TnefKit.h"

using namespace testsupport;

namespace {

int generate(const char* path, int count, std::size_t bytes) {
  std::ofstream out(path, std::ios::binary);
  TnefWriter head;
  head.message(0x9006, le32(0x00010000), 8).message(0x9007, le32(1252) + le32(0), 6);
  out << head.bytes();
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  std::string data(bytes, '\0');
  for (int i = 0; i < count; ++i) {
    for (std::size_t j = 0; j + 8 <= data.size(); j += 8) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      std::memcpy(&data[j], &state, 8);
    }
    char name[32];
    std::snprintf(name, sizeof name, "file%04d.bin", i);
    TnefWriter w(0, 0);
    w.attachment(0x9002, std::string(14, '\0'))
        .attachment(0x8010, std::string(name) + '\0', 1)
        .attachment(0x800F, data)
        .attachment(0x9005, MapiBlock().long32(0x0E21, static_cast<std::uint32_t>(i)).string8(0x3707, name).bytes());
    out << w.bytes().substr(6);
  }
  return out ? 0 : 1;
}

int unpack(const char* path, const std::filesystem::path& folder) {
  foundation::setLogSink([](const foundation::LogRecord& r) {
    if (r.level == foundation::LogLevel::Error) std::fprintf(stderr, "%s\n", r.message.c_str());
  });
  auto parser = QFTNEFFormat::initWithURL(path);
  bool done = false;
  std::int64_t result = QFParserResultCodeFailed;
  if (!parser->startParserWithBlock([&](std::uint64_t flag, std::int64_t code) {
        if (flag == std::uint64_t(QFParserFlagComplete)) {
          result = code;
          done = true;
        }
      })) {
    return 1;
  }
  foundation::Dispatcher::runMainUntil([&] { return done; }, std::chrono::minutes(10));
  if (result != QFParserResultCodeSuccess) return 1;
  int written = 0;
  for (const auto& a : parser->attachments()) {
    std::string name = a->filename();
    if (auto ext = a->extension()) name += "." + *ext;
    written += a->writeToFile(folder / name) ? 1 : 0;
  }
  std::printf("%d attachments written\n", written);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "generate" && argc == 5) return generate(argv[2], std::atoi(argv[3]), std::strtoull(argv[4], nullptr, 10));
  if (mode == "unpack" && argc == 4) return unpack(argv[2], argv[3]);
  std::fprintf(stderr, "usage: tnef_bench generate FILE COUNT BYTES | unpack FILE FOLDER\n");
  return 2;
}
