// Benchmark driver.
//   tnef_bench generate FILE COUNT BYTES   writes a container with COUNT attachments of BYTES each
//   tnef_bench unpack FILE FOLDER          parses FILE and writes every attachment into FOLDER
//   tnef_bench parse FILE                  parses FILE only and prints the result and counts
//   tnef_bench hostile FILE MIB KIND       writes a container of about MIB MiB made of the
//                                          smallest records that each add an object to the
//                                          decoded model: KIND is values (empty MAPI values),
//                                          attachments (empty attachment starts), bodies
//                                          (empty body records), properties (8-byte MAPI
//                                          properties) or mixed (all four)
#include <chrono>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"
#include "platform/foundation/worker_threads.h"
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

int hostile(const char* path, std::uint64_t mib, const std::string& kind) {
  std::ofstream out(path, std::ios::binary);
  out << TnefWriter().bytes();
  const std::uint64_t total = mib << 20;
  const int kinds = kind == "mixed" ? 4 : 1;
  auto wants = [&](const char* k) { return kind == "mixed" || kind == k; };
  if (wants("values")) {
    // Blocks of 4 MiB, each one binary property with a million empty values.
    const std::uint32_t values = 1u << 20;
    std::string block = le32(1) + le16(0x0102) + le16(0x3000) + le32(values) + std::string(4ull * values, '\0');
    TnefWriter w(0, 0);
    w.message(0x9003, block);
    const std::string record = w.bytes().substr(6);
    for (std::uint64_t n = 0; n < total / kinds; n += record.size()) out << record;
  }
  if (wants("properties")) {
    // Blocks of 4 MiB, each half a million 32-bit properties.
    MapiBlock b;
    for (int i = 0; i < (1 << 19); ++i) b.long32(0x0E21, static_cast<std::uint32_t>(i));
    TnefWriter w(0, 0);
    w.message(0x9003, b.bytes());
    const std::string record = w.bytes().substr(6);
    for (std::uint64_t n = 0; n < total / kinds; n += record.size()) out << record;
  }
  if (wants("attachments")) {
    TnefWriter w(0, 0);
    w.attachment(0x9002, "");
    std::string chunk;
    for (int i = 0; i < 4096; ++i) chunk += w.bytes().substr(6);
    for (std::uint64_t n = 0; n < total / kinds; n += chunk.size()) out << chunk;
  }
  if (wants("bodies")) {
    TnefWriter w(0, 0);
    w.message(0x800C, "", 2);
    std::string chunk;
    for (int i = 0; i < 4096; ++i) chunk += w.bytes().substr(6);
    for (std::uint64_t n = 0; n < total / kinds; n += chunk.size()) out << chunk;
  }
  return out ? 0 : 1;
}

std::shared_ptr<QFTNEFFormat> parseToEnd(const char* path, std::int64_t& result) {
  foundation::setLogSink([](const foundation::LogRecord& r) {
    if (r.level == foundation::LogLevel::Error) std::fprintf(stderr, "%s\n", r.message.c_str());
  });
  auto parser = QFTNEFFormat::initWithURL(path);
  bool done = false;
  result = QFParserResultCodeFailed;
  if (!parser->startParserWithBlock([&](std::uint64_t flag, std::int64_t code) {
        if (flag == std::uint64_t(QFParserFlagComplete)) {
          result = code;
          done = true;
        }
      })) {
    return nullptr;
  }
  foundation::Dispatcher::runMainUntil([&] { return done; }, std::chrono::minutes(10));
  return parser;
}

int parseOnly(const char* path) {
  std::int64_t result = QFParserResultCodeFailed;
  auto parser = parseToEnd(path, result);
  if (!parser) return 1;
  std::printf("result %lld, %zu bodies, %zu attachments\n", static_cast<long long>(result),
              parser->messageBodys().size(), parser->attachments().size());
  return 0;
}

int unpack(const char* path, const std::filesystem::path& folder) {
  std::int64_t result = QFParserResultCodeFailed;
  auto parser = parseToEnd(path, result);
  if (!parser || result != QFParserResultCodeSuccess) return 1;
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
  if (mode == "unpack" && argc == 4) return foundation::WorkerThreads::endProcess(unpack(argv[2], argv[3]));
  if (mode == "parse" && argc == 3) return foundation::WorkerThreads::endProcess(parseOnly(argv[2]));
  if (mode == "hostile" && argc == 5)
    return foundation::WorkerThreads::endProcess(hostile(argv[2], std::strtoull(argv[3], nullptr, 10), argv[4]));
  std::fprintf(stderr, "usage: tnef_bench generate FILE COUNT BYTES | unpack FILE FOLDER | parse FILE | hostile FILE MIB KIND\n");
  return 2;
}
