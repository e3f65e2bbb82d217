#include <gtest/gtest.h>

#include <string>

#include "platform/foundation/log.h"
#include "support/temp_dir.h"
#include "support/tnef_writer.h"
#include "tnefkit/TnefKit.h"
#include "tnefkit/parse_budget.h"
#include "tnefkit/tnef_test_util.h"

using namespace testsupport;
using tneftest::parseFile;

namespace {

const char kBudgetLine[] = "passed the parse limit";

// Lowers the floor of the parse limit while it lives, so that small fixtures reach it.
struct BudgetFloor {
  explicit BudgetFloor(std::uint64_t bytes) { tnefkit::setParseBudgetFloor(bytes); }
  ~BudgetFloor() { tnefkit::setParseBudgetFloor(0); }
};

std::string repeated(const std::string& records, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += records;
  return out;
}

std::string recordsOf(const TnefWriter& w) { return w.bytes().substr(6); }

}  // namespace

TEST(TnefBudget, FloodsOfTinyRecordsStopAtTheLimitKeepingWhatCameFirst) {
  const int n = 12000;
  MapiBlock emptyValues;
  emptyValues.property(0x0102, 0x3000).counted(std::vector<std::string>(n, ""));
  // The message's block reads the values of its bodies alone.
  MapiBlock emptyBodyValues;
  emptyBodyValues.property(0x0102, 0x1013).counted(std::vector<std::string>(n, ""));
  MapiBlock longs;
  for (int i = 0; i < n; ++i) longs.long32(0x0E21, static_cast<std::uint32_t>(i));
  MapiBlock emptyBodies;
  for (int i = 0; i < n; ++i) emptyBodies.property(0x0102, 0x1013).counted({});
  struct Case {
    const char* name;
    std::string records;
    std::size_t sentBodies;        // bodies the flood would add without a limit
    std::size_t sentAttachments;   // attachments the flood would add without a limit
  } cases[] = {
      {"attachment starts", repeated(recordsOf(TnefWriter(0, 0).attachment(0x9002, "")), n), 0, n},
      {"empty bodies", repeated(recordsOf(TnefWriter(0, 0).message(0x800C, "", 2)), n), n, 0},
      {"empty values", recordsOf(TnefWriter(0, 0).message(0x9003, emptyBodyValues.bytes())), 1, 0},
      {"small properties", recordsOf(TnefWriter(0, 0).message(0x9003, longs.bytes())), 0, 0},
      {"empty HTML bodies", recordsOf(TnefWriter(0, 0).message(0x9003, emptyBodies.bytes())), n, 0},
      {"values of an attachment",
       recordsOf(TnefWriter(0, 0).attachment(0x9002, "").attachment(0x9005, emptyValues.bytes())), 0, 1},
  };
  BudgetFloor floor(64 << 10);
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TnefWriter w;
    w.message(0x800C, "first body", 2).raw(c.records);
    foundation::ScopedLogCapture log;
    auto run = parseFile(dir.write("flood.dat", w.bytes()));
    ASSERT_TRUE(run.completed());
    EXPECT_EQ(run.result(), QFParserResultCodeFailed);
    EXPECT_TRUE(log.contains(kBudgetLine));
    // What came before the flood is kept; the flood itself is cut short.
    auto bodies = run.parser->messageBodys();
    ASSERT_FALSE(bodies.empty());
    EXPECT_EQ(bodies.front()->textBody(), "first body");
    EXPECT_LT(bodies.size(), c.sentBodies / 2 + 2);
    EXPECT_LE(run.parser->attachments().size(), c.sentAttachments / 2 + 1);
  }
}

TEST(TnefBudget, DataHeavyContainersStayWellUnderFourTimesTheirSize) {
  // The floor out of the way: the limit is the file-size multiple alone.
  BudgetFloor floor(1);
  std::string data(300000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  TnefWriter w;
  w.message(0x9003, MapiBlock().binary(0x1013, data).bytes());
  for (int i = 0; i < 3; ++i) {
    // Data both in its record and in the MAPI block, as some writers store it.
    w.attachment(0x9002, std::string(14, '\0'))
        .attachment(0x800F, data)
        .attachment(0x9005, MapiBlock().binary(0x3701, data).string8(0x3707, "a.bin").bytes());
  }
  TempDir dir;
  foundation::ScopedLogCapture log;
  auto run = parseFile(dir.write("heavy.dat", w.bytes()));
  ASSERT_EQ(run.result(), QFParserResultCodeSuccess);
  EXPECT_FALSE(log.contains(kBudgetLine));
  ASSERT_EQ(run.parser->attachments().size(), 3u);
  for (const auto& a : run.parser->attachments()) {
    EXPECT_EQ(std::string(a->fileData().begin(), a->fileData().end()), data);
  }
  ASSERT_EQ(run.parser->messageBodys().size(), 1u);
  EXPECT_EQ(run.parser->messageBodys()[0]->datas().at(0).size(), data.size());
}
