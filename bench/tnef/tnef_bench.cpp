// Benchmark driver.
//   tnef_bench generate FILE COUNT BYTES   writes a container with COUNT attachments of BYTES each
//                                          in their data records
//   tnef_bench generate-mapi FILE BYTES RTF TEXT
//                                          writes a container with one attachment of BYTES in its
//                                          MAPI block, a compressed-RTF body of RTF bytes and a
//                                          UTF-16 text of TEXT bytes that no body is made of
//   tnef_bench unpack FILE FOLDER [--bodies]
//                                          parses FILE and writes every attachment (and with
//                                          --bodies every body) into FOLDER
//   tnef_bench peak COMMAND...             runs COMMAND (its output dropped) and prints its peak
//                                          resident size in KiB; fails when COMMAND fails
//   tnef_bench parse FILE                  parses FILE only and prints the result and counts
//   tnef_bench hostile FILE MIB KIND       writes a container of about MIB MiB made of the
//                                          smallest records that each add an object to the
//                                          decoded model: KIND is values (empty MAPI values),
//                                          attachments (empty attachment starts), bodies
//                                          (empty body records), properties (8-byte MAPI
//                                          properties) or mixed (all four)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Pseudo-random bytes handed to `out` a MiB at a time, so that no container is built whole.
class Noise {
 public:
  template <class Out>
  void write(std::uint64_t size, Out&& out) {
    std::string chunk;
    while (size > 0) {
      chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, 1 << 20)));
      for (std::size_t j = 0; j < chunk.size(); j += 8) {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        std::memcpy(&chunk[j], &state_, std::min<std::size_t>(8, chunk.size() - j));
      }
      out(chunk);
      size -= chunk.size();
    }
  }

 private:
  std::uint64_t state_ = 0x9E3779B97F4A7C15ull;
};

std::string head() {
  TnefWriter w;
  w.message(0x9006, le32(0x00010000), 8).message(0x9007, le32(1252) + le32(0), 6);
  return w.bytes();
}

int generate(const char* path, int count, std::uint64_t bytes) {
  std::ofstream out(path, std::ios::binary);
  out << head();
  Noise noise;
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "file%04d.bin", i);
    TnefWriter w(0, 0);
    w.attachment(0x9002, std::string(14, '\0')).attachment(0x8010, std::string(name) + '\0', 1);
    out << w.bytes().substr(6);
    RecordStream data(out, 2, 6, 0x800F, static_cast<std::uint32_t>(bytes));
    noise.write(bytes, [&](const std::string& chunk) { data.write(chunk); });
    data.end();
    TnefWriter tail(0, 0);
    tail.attachment(0x9005, MapiBlock().long32(0x0E21, static_cast<std::uint32_t>(i)).string8(0x3707, name).bytes());
    out << tail.bytes().substr(6);
  }
  return out ? 0 : 1;
}

int generateMapi(const char* path, std::uint64_t bytes, std::uint64_t rtfBytes, std::uint64_t textBytes) {
  std::ofstream out(path, std::ios::binary);
  out << head();
  std::string text = "{\\rtf1\\ansi\\deff0 ";
  for (std::uint64_t n = 0; text.size() + 16 < rtfBytes; ++n) text += "word " + std::to_string(n % 100000) + " ";
  text += "}";
  TnefWriter body(0, 0);
  body.message(0x9003, MapiBlock()
                           .unicode(0x1000, std::u16string(static_cast<std::size_t>(textBytes / 2), u'\u00e9'))
                           .binary(0x1009, lzfuLiterals(text))
                           .bytes());
  out << body.bytes().substr(6);
  TnefWriter start(0, 0);
  start.attachment(0x9002, std::string(14, '\0')).attachment(0x8010, "BIG.BIN\0", 1);
  out << start.bytes().substr(6);
  // The data is the last value of the block: its count, type, id, value count and length,
  // then the bytes and their padding.
  const std::string before = MapiBlock().long32(0x0E21, 1).string8(0x3707, "big.bin").bytesWithCount(3) +
                             le16(0x0102) + le16(0x3701) + le32(1) + le32(static_cast<std::uint32_t>(bytes));
  const std::string padding((4 - bytes % 4) % 4, '\0');
  RecordStream block(out, 2, 6, 0x9005, static_cast<std::uint32_t>(before.size() + bytes + padding.size()));
  block.write(before);
  Noise().write(bytes, [&](const std::string& chunk) { block.write(chunk); });
  block.write(padding);
  block.end();
  return out ? 0 : 1;
}

// Runs `argv` with its output dropped; prints its peak resident size in KiB.
int peak(char** argv) {
  const pid_t pid = ::fork();
  if (pid < 0) return 1;
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::execvp(argv[0], argv);
    std::_Exit(127);
  }
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
  std::printf("%ld\n", usage.ru_maxrss);
  return 0;
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

int unpack(const char* path, const std::filesystem::path& folder, bool bodies) {
  std::int64_t result = QFParserResultCodeFailed;
  auto parser = parseToEnd(path, result);
  if (!parser || result != QFParserResultCodeSuccess) return 1;
  int n = 1;
  for (const auto& body : bodies ? parser->messageBodys() : std::vector<std::shared_ptr<QFMessageBody>>()) {
    const std::string name = "message body " + std::to_string(n++) + "." + body->messageBodyTypeInfo().extension();
    if (!body->writeToFile(folder / name)) return 1;
  }
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
  if (mode == "generate-mapi" && argc == 6) {
    return generateMapi(argv[2], std::strtoull(argv[3], nullptr, 10), std::strtoull(argv[4], nullptr, 10),
                        std::strtoull(argv[5], nullptr, 10));
  }
  if (mode == "unpack" && (argc == 4 || (argc == 5 && std::string(argv[4]) == "--bodies"))) {
    return foundation::WorkerThreads::endProcess(unpack(argv[2], argv[3], argc == 5));
  }
  if (mode == "peak" && argc >= 3) return peak(argv + 2);
  if (mode == "parse" && argc == 3) return foundation::WorkerThreads::endProcess(parseOnly(argv[2]));
  if (mode == "hostile" && argc == 5)
    return foundation::WorkerThreads::endProcess(hostile(argv[2], std::strtoull(argv[3], nullptr, 10), argv[4]));
  std::fprintf(stderr,
               "usage: tnef_bench generate FILE COUNT BYTES | generate-mapi FILE BYTES RTF TEXT | unpack FILE FOLDER "
               "[--bodies] | peak COMMAND... | parse FILE | hostile FILE MIB KIND\n");
  return 2;
}
