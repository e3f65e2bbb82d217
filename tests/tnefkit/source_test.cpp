// Data that a parse leaves in the container file: written exactly, and never taken from a file
// that no longer holds what was parsed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <future>

#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"
#include "support/temp_dir.h"
#include "support/tnef_writer.h"
#include "tnefkit/TnefKit.h"
#include "tnefkit/payload.h"
#include "tnefkit/tnef_test_util.h"

using namespace testsupport;
using tneftest::parseFile;
using namespace std::string_literals;

namespace {

// Bytes that differ from those of every other seed, so that each lies once in a container.
std::string pattern(std::size_t size, std::uint32_t seed) {
  std::string out(size, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (char& c : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x >> 24);
  }
  return out;
}

std::string repeated(std::string_view s, std::size_t times) {
  std::string out;
  out.reserve(s.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += s;
  return out;
}

// Whether this process has the file at `path` open.
bool isOpen(const std::filesystem::path& path) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (std::filesystem::read_symlink(entry.path(), ec) == path) return true;
  }
  return false;
}

struct Written {
  bool ok = false;
  std::filesystem::path path;
};

// Every body and attachment of `parser`, each written into `folder`, in order.
std::vector<Written> writeAll(const QFTNEFFormat& parser, const std::filesystem::path& folder) {
  std::vector<Written> out;
  int n = 1;
  for (const auto& body : parser.messageBodys()) {
    Written w;
    const std::string name = "body " + std::to_string(n++) + "." + body->messageBodyTypeInfo().extension();
    w.ok = body->writeToFile(folder / name, &w.path);
    out.push_back(w);
  }
  for (const auto& attachment : parser.attachments()) {
    Written w;
    w.ok = attachment->writeToFile(folder / (attachment->filename() + "." + *attachment->extension()), &w.path);
    out.push_back(w);
  }
  return out;
}

// A container with one body of each kind and attachments with their data in a record and
// in the MAPI block, all larger than what a parse holds in memory; and what each writes.
struct Container {
  std::string bytes;
  std::vector<std::string> payloads;  // as stored, each once in `bytes`
  std::vector<std::string> expected;  // what each body, then each attachment, writes
};

Container makeContainer(std::size_t size) {
  Container c;
  const std::string text = repeated("caf\xE9 cr\xE8me ", size / 11) + std::string(3, '\0');
  const std::string html = "<p>" + pattern(size, 1) + "</p>";
  const std::string rtfText = "{\\rtf1 " + repeated("word ", size / 5) + "}";
  const std::string rtf = lzfuLiterals(rtfText);
  const std::string inRecord = pattern(size, 2);
  const std::string inBlock = pattern(size + 3, 3);
  TnefWriter w;
  w.message(0x9007, le32(1252) + le32(0))
      .message(0x800C, text, 2)
      .message(0x9003, MapiBlock()
                           .binary(0x1013, html)
                           .string8(0x1000, pattern(size, 4))  // a plain-text copy nothing reads
                           .binary(0x1009, rtf)
                           .bytes())
      .attachment(0x9002, std::string(14, '\0'))
      .attachment(0x8010, "record.bin"s + '\0', 1)
      .attachment(0x800F, inRecord)
      .attachment(0x9002, std::string(14, '\0'))
      .attachment(0x9005, MapiBlock().binary(0x3701, inBlock).string8(0x3707, "block.bin").bytes());
  c.bytes = w.bytes();
  c.payloads = {text, html, rtf, inRecord, inBlock};
  c.expected = {repeated("caf\xC3\xA9 cr\xC3\xA8me ", size / 11), html, rtfText, inRecord, inBlock};
  return c;
}

}  // namespace

TEST(TnefSource, DataOfEverySizeIsWrittenExactly) {
  // Around what a parse holds in memory, and across the slices it reads the file in.
  const std::size_t held = tnefkit::Payload::kHeldInMemory;
  const std::size_t slice = tnefkit::Payload::kSlice;
  const std::size_t sizes[] = {1, held - 1, held, held + 1, slice - 1, slice, slice + 1, 3 * slice + 7};
  TnefWriter w;
  std::vector<std::string> data;
  for (std::size_t i = 0; i < std::size(sizes); ++i) {
    const std::string a = pattern(sizes[i], static_cast<std::uint32_t>(10 + 2 * i));
    const std::string b = pattern(sizes[i], static_cast<std::uint32_t>(11 + 2 * i));
    w.attachment(0x9002, std::string(14, '\0'))
        .attachment(0x8010, "r" + std::to_string(i) + ".bin" + '\0', 1)
        .attachment(0x800F, a)
        .attachment(0x9002, std::string(14, '\0'))
        .attachment(0x9005, MapiBlock().string8(0x3707, "m" + std::to_string(i) + ".bin").binary(0x3701, b).bytes());
    data.push_back(a);
    data.push_back(b);
  }
  TempDir dir;
  auto run = parseFile(dir.write("sizes.dat", w.bytes()));
  ASSERT_EQ(run.result(), QFParserResultCodeSuccess);
  const auto attachments = run.parser->attachments();
  ASSERT_EQ(attachments.size(), data.size());
  std::filesystem::create_directory(dir / "out");
  for (std::size_t i = 0; i < data.size(); ++i) {
    SCOPED_TRACE(std::to_string(data[i].size()) + (i % 2 ? " bytes in the MAPI block" : " bytes in a record"));
    std::filesystem::path written;
    ASSERT_TRUE(attachments[i]->writeToFile(dir / "out" / "x.bin", &written));
    EXPECT_EQ(written.filename().string().substr(0, 1), "x");
    EXPECT_TRUE(readFile(written) == data[i]);
    EXPECT_TRUE(std::string(attachments[i]->fileData().begin(), attachments[i]->fileData().end()) == data[i]);
  }
}

TEST(TnefSource, LargeBodiesAndAttachmentsAreWrittenExactly) {
  const Container c = makeContainer(3 * tnefkit::Payload::kSlice + 5);
  TempDir dir;
  const auto path = dir.write("large.dat", c.bytes);
  auto run = parseFile(path);
  ASSERT_EQ(run.result(), QFParserResultCodeSuccess);
  ASSERT_EQ(run.parser->messageBodys().size(), 3u);
  ASSERT_EQ(run.parser->attachments().size(), 2u);
  EXPECT_EQ(run.parser->attachments()[1]->filename(), "block");
  std::filesystem::create_directory(dir / "out");
  const auto written = writeAll(*run.parser, dir / "out");
  ASSERT_EQ(written.size(), c.expected.size());
  for (std::size_t i = 0; i < written.size(); ++i) {
    SCOPED_TRACE(written[i].path.filename().string());
    ASSERT_TRUE(written[i].ok);
    EXPECT_TRUE(readFile(written[i].path) == c.expected[i]);
  }
  EXPECT_EQ(run.parser->messageBodys()[0]->textBody(), c.expected[0]);
  EXPECT_TRUE(run.parser->messageBodys()[1]->datas().at(0) == QFData(c.payloads[1].begin(), c.payloads[1].end()));

  // The container stays open while data left in it is wanted, and no longer.
  EXPECT_TRUE(isOpen(path));
  run.parser.reset();
  EXPECT_FALSE(isOpen(path));
}

TEST(TnefSource, AContainerChangedAfterTheParseGivesNoFileButOneReplacedOrRemovedStillDoes) {
  using Offsets = std::vector<std::size_t>;
  const auto flip = [](const std::filesystem::path& p, std::size_t offset) {
    std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
    char c = 0;
    f.seekg(static_cast<std::streamoff>(offset)).get(c);
    f.seekp(static_cast<std::streamoff>(offset)).put(static_cast<char>(c ^ 0x55));
  };
  struct Case {
    const char* name;
    // Changes the container at `path`, where `at` gives the offset of each payload.
    std::function<void(const std::filesystem::path& path, const Offsets& at)> change;
    // Per body and attachment, in order (text, HTML, RTF, record, block): '1' when written.
    const char* written;
    const char* message;
  } cases[] = {
      {"truncated before the data",
       [](const std::filesystem::path& p, const Offsets& at) { std::filesystem::resize_file(p, at[0]); }, "00000",
       "was truncated after it was read"},
      {"truncated inside the last attachment's data",
       [](const std::filesystem::path& p, const Offsets& at) { std::filesystem::resize_file(p, at[4] + 1000); },
       "11110", "was truncated after it was read"},
      {"one byte of each payload changed",
       [&](const std::filesystem::path& p, const Offsets& at) {
         for (std::size_t offset : at) flip(p, offset + 5000);
       },
       "00000", "was changed after it was read"},
      // Swapped bytes keep the records' checksums.
      {"two bytes of each payload swapped",
       [](const std::filesystem::path& p, const Offsets& at) {
         std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
         for (std::size_t offset : at) {
           char two[2];
           f.seekg(static_cast<std::streamoff>(offset + 6000)).read(two, 2);
           ASSERT_NE(two[0], two[1]);
           f.seekp(static_cast<std::streamoff>(offset + 6000)).put(two[1]).put(two[0]);
         }
       },
       "00000", "was changed after it was read"},
      {"grown at its end",
       [](const std::filesystem::path& p, const Offsets&) {
         std::ofstream(p, std::ios::app | std::ios::binary) << std::string(4096, 'z');
       },
       "11111", nullptr},
      {"replaced by another file",
       [](const std::filesystem::path& p, const Offsets&) {
         const auto other = p.parent_path() / "other";
         std::ofstream(other, std::ios::binary) << std::string(64, 'x');
         std::filesystem::rename(other, p);
       },
       "11111", nullptr},
      {"removed", [](const std::filesystem::path& p, const Offsets&) { std::filesystem::remove(p); }, "11111",
       nullptr},
  };
  const Container c = makeContainer(2 * tnefkit::Payload::kSlice);
  Offsets at;
  for (const std::string& payload : c.payloads) {
    at.push_back(c.bytes.find(payload));
    ASSERT_NE(at.back(), std::string::npos);
  }
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    TempDir dir;
    const auto path = dir.write("m.dat", c.bytes);
    auto run = parseFile(path);
    ASSERT_EQ(run.result(), QFParserResultCodeSuccess);
    k.change(path, at);
    std::filesystem::create_directory(dir / "out");
    foundation::ScopedLogCapture log;
    const auto written = writeAll(*run.parser, dir / "out");
    ASSERT_EQ(written.size(), c.expected.size());
    std::size_t files = 0;
    for (std::size_t i = 0; i < written.size(); ++i) {
      const bool wanted = k.written[i] == '1';
      EXPECT_EQ(written[i].ok, wanted) << i;
      if (wanted) {
        ++files;
        EXPECT_TRUE(readFile(written[i].path) == c.expected[i]) << i;
      } else {
        EXPECT_TRUE(written[i].path.empty()) << i;
      }
    }
    // Nothing else is left behind, not even a part of a file.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir / "out")) ++entries;
    EXPECT_EQ(entries, files);
    if (k.message) {
      EXPECT_TRUE(log.contains(k.message));
      EXPECT_TRUE(log.contains("Could not write file("));
      EXPECT_FALSE(log.contains("Message body is empty."));
    }
    if (k.written[0] == '0') {
      // Asked for in memory, the data is not made up either.
      EXPECT_EQ(run.parser->messageBodys()[0]->textBody(), std::nullopt);
      EXPECT_TRUE(run.parser->messageBodys()[1]->datas().at(0).empty());
    }
    if (k.written[4] == '0') {
      EXPECT_TRUE(run.parser->attachments()[1]->fileData().empty());
    }
  }
}

TEST(TnefSource, ARecordCutShortByTheFileShrinkingUnderTheParseAddsNothing) {
  const std::string large = pattern(300000, 7);
  struct Case {
    const char* name;
    std::string bytes;
    std::string cutInside;  // the file ends in the middle of these bytes
    std::size_t bodies;
    std::string filename;
  } cases[] = {
      {"an attachment's MAPI block",
       TnefWriter()
           .message(0x800C, "plain", 2)
           .attachment(0x9002, std::string(14, '\0'))
           .attachment(0x8010, "a.txt"s + '\0', 1)
           .attachment(0x9005, MapiBlock().string8(0x3707, "long.bin").binary(0x3701, large).bytes())
           .bytes(),
       large, 1, "a"},
      {"the message's MAPI block",
       TnefWriter()
           .message(0x800C, "plain", 2)
           .attachment(0x9002, std::string(14, '\0'))
           .attachment(0x8010, "a.txt"s + '\0', 1)
           .message(0x9003, MapiBlock().binary(0x1013, "<p>x</p>").binary(0x1009, large).bytes())
           .bytes(),
       large, 1, "a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const auto path = dir.write("m.dat", c.bytes);
    // The workers are held until the file has shrunk, so the parse starts only then, with
    // the size the file had when it was opened.
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    for (int i = 0; i < 64; ++i) foundation::Dispatcher::postBackground([gate] { gate.wait(); });
    foundation::ScopedLogCapture log;
    auto parser = QFTNEFFormat::initWithURL(path);
    std::int64_t result = 99;
    bool done = false;
    const bool started = parser->startParserWithBlock([&](std::uint64_t flag, std::int64_t code) {
      if (flag == std::uint64_t(QFParserFlagComplete)) {
        result = code;
        done = true;
      }
    });
    std::filesystem::resize_file(path, c.bytes.find(c.cutInside) + c.cutInside.size() / 2);
    release.set_value();
    ASSERT_TRUE(started);
    ASSERT_TRUE(foundation::Dispatcher::runMainUntil([&] { return done; }, std::chrono::seconds(60)));
    EXPECT_EQ(result, QFParserResultCodeSuccess);
    EXPECT_TRUE(log.contains("truncated attribute record"));
    ASSERT_EQ(parser->messageBodys().size(), c.bodies);
    EXPECT_EQ(parser->messageBodys()[0]->textBody(), "plain");
    ASSERT_EQ(parser->attachments().size(), 1u);
    EXPECT_EQ(parser->attachments()[0]->filename(), c.filename);
    EXPECT_FALSE(parser->attachments()[0]->hasFileData());
  }
}
