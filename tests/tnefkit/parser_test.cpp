#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"
#include "support/sha256.h"
#include "support/temp_dir.h"
#include "support/tnef_writer.h"
#include "tnefkit/TnefKit.h"
#include "tnefkit/parse_budget.h"
#include "tnefkit/tnef_test_util.h"

using namespace testsupport;
using tneftest::parseFile;
using namespace std::string_literals;

namespace {

const std::filesystem::path kCorpus = std::filesystem::path(LECTERN_CORPUS_DIR) / "tnef";

std::string attachmentBlock(const std::string& longName, const std::string& mime = {}) {
  MapiBlock b;
  b.unicode(0x3707, std::u16string(longName.begin(), longName.end()));
  if (!mime.empty()) b.string8(0x370E, mime);
  return b.bytes();
}

}  // namespace

TEST(TnefParser, SignatureAndKeyAloneCompleteEmpty) {
  TempDir dir;
  auto run = parseFile(dir.write("a.dat", TnefWriter().bytes()));
  ASSERT_TRUE(run.started);
  ASSERT_EQ(run.calls.size(), 2u);
  EXPECT_EQ(run.calls[0], std::make_pair(std::uint64_t(QFParserFlagStart), std::int64_t(0)));
  EXPECT_EQ(run.calls[1], std::make_pair(std::uint64_t(QFParserFlagComplete), QFParserResultCodeSuccess));
  EXPECT_TRUE(run.parser->messageBodys().empty());
  EXPECT_TRUE(run.parser->attachments().empty());
  EXPECT_EQ(run.parser->tnefKey(), 1);
}

TEST(TnefParser, RefusesWhatItCannotReadWithoutCallingBack) {
  TempDir dir;
  foundation::ScopedLogCapture log;
  struct Case {
    std::string name;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"wrong signature", TnefWriter(0x223E9F79).bytes(), "Seems not to be a TNEF file"},
      {"three bytes", std::string("\x78\x9F\x3E", 3), "Seems not to be a TNEF file"},
      {"empty", "", "Seems not to be a TNEF file"},
  };
  for (const auto& c : cases) {
    auto parser = QFTNEFFormat::initWithURL(dir.write(c.name, c.bytes));
    bool called = false;
    EXPECT_FALSE(parser->startParserWithBlock([&](std::uint64_t, std::int64_t) { called = true; })) << c.name;
    foundation::Dispatcher::drainMain();
    EXPECT_FALSE(called) << c.name;
    EXPECT_TRUE(log.contains(c.message)) << c.name;
  }
  auto missing = QFTNEFFormat::initWithURL(dir / "missing.dat");
  EXPECT_FALSE(missing->startParserWithBlock(nullptr));
  EXPECT_TRUE(log.contains("Failed open winmail file."));
  EXPECT_FALSE(QFTNEFFormat::initWithURL(dir.path())->startParserWithBlock(nullptr));
  EXPECT_EQ(QFTNEFFormat::initWithURL(""), nullptr);
  EXPECT_TRUE(log.contains("MUST be a winmail file exist"));
}

TEST(TnefParser, CollectsBodiesAndAttachmentsInStreamOrder) {
  const std::string rtf = lzfuLiterals("{\\rtf1 hi}");
  const std::string mapi = MapiBlock()
                               .binary(0x1013, "<p>x</p>")
                               .long32(0x0E07, 1)
                               .binary(0x1009, rtf)
                               .bytes();
  TnefWriter w;
  w.attachment(0x8010, "dropped.txt")  // before any attachment: dropped
      .message(0x800C, "plain", 2)
      .message(0x9003, mapi)
      .attachment(0x9002, std::string(14, '\0'))
      .attachment(0x8010, std::string("a.txt\0", 6), 1)
      .attachment(0x800F, "first")
      .attachment(0x9002, std::string(14, '\0'))
      .attachment(0x9005, attachmentBlock("b.png"))
      .attachment(0x800F, "second");
  TempDir dir;
  auto run = parseFile(dir.write("m.dat", w.bytes()));
  ASSERT_EQ(run.result(), QFParserResultCodeSuccess);
  auto bodies = run.parser->messageBodys();
  ASSERT_EQ(bodies.size(), 3u);
  EXPECT_EQ(bodies[0]->messageFormatType(), 0);
  EXPECT_EQ(bodies[0]->textBody(), "plain");
  EXPECT_EQ(bodies[1]->messageFormatType(), 1);
  EXPECT_EQ(bodies[2]->messageFormatType(), 2);
  ASSERT_EQ(bodies[2]->datas().size(), 1u);
  EXPECT_EQ(std::string(bodies[2]->datas()[0].begin(), bodies[2]->datas()[0].end()), rtf);
  auto atts = run.parser->attachments();
  ASSERT_EQ(atts.size(), 2u);
  EXPECT_EQ(atts[0]->filename(), "a");
  EXPECT_EQ(atts[0]->extension(), "txt");
  EXPECT_EQ(std::string(atts[0]->fileData().begin(), atts[0]->fileData().end()), "first");
  EXPECT_EQ(atts[1]->filename(), "b");
  EXPECT_EQ(atts[1]->extension(), "png");
  EXPECT_EQ(std::string(atts[1]->fileData().begin(), atts[1]->fileData().end()), "second");
}

TEST(TnefParser, ProgressIsAWholePercentBeforeEachRecord) {
  TnefWriter w;
  for (int i = 0; i < 4; ++i) w.message(0x8004, std::string(100, 'x'));
  TempDir dir;
  auto run = parseFile(dir.write("p.dat", w.bytes()));
  ASSERT_EQ(run.result(), QFParserResultCodeSuccess);
  std::vector<std::int64_t> progress;
  for (auto [f, c] : run.calls) {
    if (f == std::uint64_t(QFParserFlagProgress)) progress.push_back(c);
  }
  const std::int64_t size = static_cast<std::int64_t>(w.bytes().size());
  const std::int64_t record = 111;
  ASSERT_EQ(progress.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(progress[i], (6 + i * record) * 100 / size);
  EXPECT_LT(progress.back(), 100);

  // Many tiny records: one callback per new percentage, rising.
  TnefWriter many;
  for (int i = 0; i < 5000; ++i) many.message(0x8004, "");
  auto tiny = parseFile(dir.write("many.dat", many.bytes()));
  ASSERT_EQ(tiny.result(), QFParserResultCodeSuccess);
  progress.clear();
  for (auto [f, c] : tiny.calls) {
    if (f == std::uint64_t(QFParserFlagProgress)) progress.push_back(c);
  }
  EXPECT_EQ(progress.size(), 100u);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(std::adjacent_find(progress.begin(), progress.end()), progress.end());
}

TEST(TnefParser, StopsAtABadRecordKeepingWhatCameBefore) {
  struct Case {
    std::string name;
    std::string tail;
    const char* message;
  } cases[] = {
      {"bad level", std::string("\x03", 1) + std::string(20, '\0'), "Error object type or can't find tnef object."},
      {"length past the end", std::string("\x01", 1) + le32(0x0006800C) + le32(0x7FFFFFF0) + "abcdefgh",
       "truncated attribute record"},
      {"garbage at end", std::string("\x01\x02\x03", 3), "ERROR: garbage at end of file."},
  };
  TempDir dir;
  for (const auto& c : cases) {
    foundation::ScopedLogCapture log;
    std::string bytes = TnefWriter()
                            .attachment(0x9002, "")
                            .attachment(0x800F, "kept")
                            .message(0x800C, "body", 2)
                            .raw(c.tail)
                            .bytes();
    auto run = parseFile(dir.write(c.name, bytes));
    ASSERT_EQ(run.result(), QFParserResultCodeSuccess) << c.name;
    EXPECT_EQ(run.parser->attachments().size(), 1u) << c.name;
    ASSERT_EQ(run.parser->messageBodys().size(), 1u) << c.name;
    EXPECT_EQ(run.parser->messageBodys()[0]->textBody(), "body") << c.name;
    EXPECT_TRUE(log.contains(c.message)) << c.name;
  }
}

TEST(TnefParser, ABadChecksumInTheMiddleKeepsTheRecordAndWhatFollows) {
  foundation::ScopedLogCapture log;
  TempDir dir;
  std::string bytes = TnefWriter()
                          .attachment(0x9002, "")
                          .attachment(0x800F, "first")
                          .record(1, 2, 0x800C, "body", std::uint16_t{0x1234})
                          .attachment(0x9002, "")
                          .attachment(0x800F, "second")
                          .bytes();
  auto run = parseFile(dir.write("sum.dat", bytes));
  ASSERT_EQ(run.result(), QFParserResultCodeSuccess);
  ASSERT_EQ(run.parser->messageBodys().size(), 1u);
  EXPECT_EQ(run.parser->messageBodys()[0]->textBody(), "body");
  ASSERT_EQ(run.parser->attachments().size(), 2u);
  EXPECT_EQ(run.parser->attachments()[1]->fileData(), (QFData{'s', 'e', 'c', 'o', 'n', 'd'}));
  EXPECT_TRUE(log.contains("ERROR: invalid checksum, input file may be corrupted"));
}

TEST(TnefParser, EightTrailingBytesAreReadAsARecord) {
  foundation::ScopedLogCapture log;
  TempDir dir;
  auto run = parseFile(dir.write("t.dat", TnefWriter().message(0x8004, "s").raw(std::string(8, '\0')).bytes()));
  EXPECT_EQ(run.result(), QFParserResultCodeSuccess);
  EXPECT_TRUE(log.contains("Error object type or can't find tnef object."));
  EXPECT_FALSE(log.contains("garbage at end"));
}

TEST(TnefParser, ResultsArePublishedBeforeCompletionAndASecondStartIsRefused) {
  TempDir dir;
  auto path = dir.write("a.dat", TnefWriter().attachment(0x9002, "").attachment(0x800F, "x").bytes());
  auto parser = QFTNEFFormat::initWithURL(path);
  std::size_t seenAtCompletion = 99;
  bool done = false;
  ASSERT_TRUE(parser->startParserWithBlock([&](std::uint64_t f, std::int64_t) {
    if (f == std::uint64_t(QFParserFlagComplete)) {
      seenAtCompletion = parser->attachments().size();
      done = true;
    }
  }));
  // The completion waits for the main queue, so the parse is still running here.
  EXPECT_FALSE(parser->startParserWithBlock(nullptr));
  EXPECT_TRUE(parser->attachments().empty());
  foundation::Dispatcher::runMainUntil([&] { return done; }, std::chrono::seconds(10));
  EXPECT_EQ(seenAtCompletion, 1u);
  // A later parse starts from empty arrays again and ends with the same result.
  auto again = parseFile(path);
  EXPECT_EQ(again.parser->attachments().size(), 1u);
  EXPECT_TRUE(parser->startParserWithBlock(nullptr));
  foundation::Dispatcher::runMainUntil([&] { return !parser->isParsing(); }, std::chrono::seconds(10));
  EXPECT_EQ(parser->attachments().size(), 1u);
}

namespace {
// A callback whose copies throw: the parse must still reach its completion.
struct CopyThrows {
  std::shared_ptr<std::vector<std::uint64_t>> flags = std::make_shared<std::vector<std::uint64_t>>();
  CopyThrows() = default;
  CopyThrows(CopyThrows&&) noexcept = default;
  CopyThrows(const CopyThrows&) { throw std::runtime_error("copy"); }
  void operator()(std::uint64_t f, std::int64_t) const { flags->push_back(f); }
};
}  // namespace

TEST(TnefParser, CompletesWhateverTheCallbackDoesOnACopy) {
  TempDir dir;
  auto parser = QFTNEFFormat::initWithURL(dir.write("a.dat", TnefWriter().message(0x8004, "s").bytes()));
  CopyThrows callback;
  auto flags = callback.flags;
  ASSERT_TRUE(parser->startParserWithBlock(QFParserBlock(std::move(callback))));
  foundation::Dispatcher::runMainUntil([&] { return !parser->isParsing(); }, std::chrono::seconds(10));
  EXPECT_FALSE(parser->isParsing());
  ASSERT_FALSE(flags->empty());
  EXPECT_EQ(flags->front(), std::uint64_t(QFParserFlagStart));
  EXPECT_EQ(flags->back(), std::uint64_t(QFParserFlagComplete));
}

TEST(TnefParser, CallbacksArriveOnTheMainThread) {
  TempDir dir;
  auto path = dir.write("a.dat", TnefWriter().message(0x8004, "s").bytes());
  auto parser = QFTNEFFormat::initWithURL(path);
  std::atomic<int> offMain{0};
  bool done = false;
  const auto mainId = std::this_thread::get_id();
  foundation::Dispatcher::drainMain();
  ASSERT_TRUE(parser->startParserWithBlock([&](std::uint64_t f, std::int64_t) {
    if (std::this_thread::get_id() != mainId) ++offMain;
    if (f == std::uint64_t(QFParserFlagComplete)) done = true;
  }));
  ASSERT_TRUE(foundation::Dispatcher::runMainUntil([&] { return done; }, std::chrono::seconds(10)));
  EXPECT_EQ(offMain.load(), 0);
}

// ---- real files

namespace {

struct Expected {
  std::string sha;
  std::uint64_t size;
  std::string name;
};

std::vector<Expected> readManifest(const std::filesystem::path& p) {
  std::vector<Expected> out;
  std::ifstream in(p);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Expected e;
    fields >> e.sha >> e.size;
    std::getline(fields >> std::ws, e.name);
    out.push_back(e);
  }
  return out;
}

std::vector<std::filesystem::path> corpusContainers() {
  std::vector<std::filesystem::path> out;
  for (const auto& e : std::filesystem::directory_iterator(kCorpus)) {
    auto ext = e.path().extension();
    if (e.is_regular_file() && (ext == ".tnef" || ext == ".dat")) out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

TEST(TnefCorpus, EveryContainerParsesAndItsAttachmentsMatchTheManifest) {
  auto files = corpusContainers();
  ASSERT_GE(files.size(), 17u);
  for (const auto& file : files) {
    SCOPED_TRACE(file.filename().string());
    auto run = parseFile(file);
    ASSERT_TRUE(run.started);
    ASSERT_EQ(run.result(), QFParserResultCodeSuccess);
    auto manifest = readManifest(kCorpus / "expected" / (file.filename().string() + ".attachments"));
    std::multiset<std::string> expected, actual;
    for (const auto& e : manifest) expected.insert(e.sha + " " + std::to_string(e.size));
    TempDir out;
    for (const auto& a : run.parser->attachments()) {
      std::string data(a->fileData().begin(), a->fileData().end());
      actual.insert(sha256Hex(data) + " " + std::to_string(data.size()));
      // Named attachments are written under their own names, byte for byte.
      std::string name = a->filename() + (a->extension() ? "." + *a->extension() : "");
      std::filesystem::path written;
      a->writeToFile(out / name, &written);
      ASSERT_FALSE(written.empty()) << name;
      EXPECT_EQ(written.parent_path(), out.path());
      EXPECT_EQ(readFile(written), data);
      bool named = a->fileInternalName() || a->fileTitle();
      if (named) {
        std::set<std::string> names;
        for (const auto& e : manifest) {
          if (e.sha == sha256Hex(data) && e.size == data.size()) names.insert(e.name);
        }
        EXPECT_TRUE(names.count(written.filename().string())) << written.filename();
      }
    }
    EXPECT_EQ(actual, expected);
  }
}

// With a floor of 64 KiB, 4096 times below the real one, the limit of every container over
// 16 KiB is four times its size: all of them still parse exactly as with the real floor.
TEST(TnefCorpus, EveryContainerParsesTheSameUnderAFarLowerLimit) {
  for (const auto& file : corpusContainers()) {
    SCOPED_TRACE(file.filename().string());
    auto normal = parseFile(file);
    tnefkit::setParseBudgetFloor(64 << 10);
    auto limited = parseFile(file);
    tnefkit::setParseBudgetFloor(0);
    EXPECT_EQ(limited.result(), normal.result());
    ASSERT_EQ(limited.parser->attachments().size(), normal.parser->attachments().size());
    for (std::size_t i = 0; i < normal.parser->attachments().size(); ++i) {
      EXPECT_EQ(limited.parser->attachments()[i]->fileData(), normal.parser->attachments()[i]->fileData());
    }
    ASSERT_EQ(limited.parser->messageBodys().size(), normal.parser->messageBodys().size());
    for (std::size_t i = 0; i < normal.parser->messageBodys().size(); ++i) {
      EXPECT_EQ(limited.parser->messageBodys()[i]->datas(), normal.parser->messageBodys()[i]->datas());
    }
  }
}

TEST(TnefCorpus, QuickWinmailRtfBodyDecodesToTheKnownText) {
  auto run = parseFile(kCorpus / "quick-winmail.dat");
  ASSERT_EQ(run.result(), QFParserResultCodeSuccess);
  std::shared_ptr<QFMessageBody> rtf;
  for (const auto& b : run.parser->messageBodys()) {
    if (b->messageFormatType() == QFMessageBodyTypeRTF) rtf = b;
  }
  ASSERT_NE(rtf, nullptr);
  TempDir dir;
  std::filesystem::path written;
  ASSERT_TRUE(rtf->writeToFile(dir / "message body 1.rtf", &written));
  EXPECT_EQ(readFile(written), readFile(kCorpus / "quick-contents" / "message.rtf"));
}

TEST(TnefParser, TheContainersCodePageDecodesItsNames) {
  TempDir dir;
  auto run = parseFile(dir.write("cp.dat", TnefWriter()
                                               .message(0x9006, le32(0x00010000), 8)
                                               .message(0x9007, le32(1251) + le32(0), 6)
                                               .attachment(0x9002, "")
                                               .attachment(0x8010, "\xD2\xE5\xF1\xF2.doc\0"s, 1)
                                               .attachment(0x800F, "d")
                                               .bytes()));
  ASSERT_EQ(run.result(), QFParserResultCodeSuccess);
  ASSERT_EQ(run.parser->attachments().size(), 1u);
  EXPECT_EQ(run.parser->attachments()[0]->filename(), "\xD0\xA2\xD0\xB5\xD1\x81\xD1\x82");
}
