// Loading EMF files: the header, the record loop and its failures.
#include <gtest/gtest.h>

#include "emf_test_util.h"
#include "platform/foundation/log.h"
#include "support/emf_builder.h"

using namespace EMF;
using emftest::Loaded;
using emftest::recordTypes;
using testsupport::EmfBuilder;
using testsupport::Le;

TEST(EmfReader, HeaderDescriptionFollowsItsOffsetAndStaysInsideTheHeader) {
  struct Case {
    const char* name;
    std::uint32_t offDescription;
    std::u16string description;
    std::optional<std::uint32_t> nSize;
    std::size_t units;
    char16_t first;  // first description unit, 0: not checked
  };
  const Case cases[] = {
      {"full header, no description", 108, u"", std::nullopt, 0, 0},
      {"full header with description", 108, std::u16string(u"app\0pic\0\0", 9), std::nullopt, 10, u'a'},
      {"short header", 88, u"ab", std::nullopt, 2, u'a'},
      // No offset: what lies between the fixed fields and the header's end, never more.
      {"offset 0", 0, u"", 108u, 10, 0},
      // An offset past the header is clamped: no description.
      {"offset past header", 400, u"", 108u, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EmfBuilder::Header h;
    h.offDescription = c.offDescription;
    h.description = c.description;
    h.nSize = c.nSize;
    EmfBuilder b(h);
    b.point(27, 5, 6).eof();
    Loaded m(b.bytes());
    ASSERT_NE(m.handle, 0u);
    ENHMETAHEADER* header = m.context()->header;
    ASSERT_EQ(header, m.records()[0]);
    EXPECT_EQ(header->description.size(), c.units);
    if (c.first) {
      EXPECT_EQ(header->description.at(0), c.first);
    }
    // The first record is read from the header's size, whatever the description did.
    EXPECT_EQ(recordTypes(m.handle), (std::vector<std::uint32_t>{1, 27, 14}));
    EXPECT_EQ(header->nRecords, 3u);
    EXPECT_EQ(header->nBytes, header->nSize + 16 + 20);
  }
}

TEST(EmfReader, HugeHeaderSizeDoesNotDriveTheAllocation) {
  EmfBuilder::Header h;
  h.offDescription = 88;
  EmfBuilder b(h);
  std::string bytes = b.bytes();
  bytes[4] = bytes[5] = bytes[6] = '\xFF';
  bytes[7] = '\x7F';  // nSize 0x7FFFFFFF
  Loaded m(bytes);
  ASSERT_NE(m.handle, 0u);
  EXPECT_LE(m.context()->header->description.size(), bytes.size() / 2);
  EXPECT_EQ(m.records().size(), 1u);
}

// A header claiming more bytes than the file holds: the records start past the end, so none is
// read, whether or not the description took the bytes that are there.
TEST(EmfReader, HeaderSizePastTheFileEndLeavesOnlyTheHeader) {
  for (std::uint32_t offDescription : {108u, 88u, 0xFFFFFFF0u}) {
    SCOPED_TRACE(offDescription);
    EmfBuilder::Header h;
    h.offDescription = offDescription;
    h.nSize = 200;
    std::string bytes = EmfBuilder(h).bytes();
    bytes.resize(offDescription >= 108 ? 108 : 88);
    bytes += EmfBuilder().point(27, 5, 6).eof().bytes().substr(108);
    ASSERT_LT(bytes.size(), 200u);
    Loaded m(bytes);
    ASSERT_NE(m.handle, 0u);
    EXPECT_EQ(recordTypes(m.handle), (std::vector<std::uint32_t>{1}));
  }
}

TEST(EmfReader, UnknownRecordsWarnAndAreSkippedInOrder) {
  foundation::ScopedLogCapture log;
  Loaded m(EmfBuilder()
               .point(27, 1, 1)
               .record(81, Le().zeros(12))
               .point(54, 2, 2)
               .record(84, Le().zeros(4))
               .record(49, Le().zeros(12))
               .eof()
               .eof()
               .point(54, 3, 3)
               .bytes());
  ASSERT_NE(m.handle, 0u);
  // Both EOF records and the record after them are kept.
  EXPECT_EQ(recordTypes(m.handle), (std::vector<std::uint32_t>{1, 27, 54, 14, 14, 54}));
  EXPECT_TRUE(log.contains("GetEnhMetaFileW warning: read unknown record type 81 of size 20"));
  EXPECT_TRUE(log.contains("GetEnhMetaFileW warning: read unknown record type 84 of size 12"));
  EXPECT_TRUE(log.contains("GetEnhMetaFileW warning: read unknown record type 49 of size 20"));
}

TEST(EmfReader, FailuresAnswerZeroAndLeaveNoContext) {
  testsupport::TempDir dir;
  const std::size_t before = [] {
    std::size_t n = 0;
    for (auto* o : globalObjects.objects) n += o != nullptr;
    return n;
  }();
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty file", ""},
      {"shorter than a record header", std::string("\x01\x00\x00\x00\x6C", 5)},
      {"first record not a header", Le().u32(14).u32(20).zeros(12).b},
      {"record of size 0", EmfBuilder().point(27, 1, 1).record(27, Le().zeros(8), 0u).bytes()},
  };
  foundation::ScopedLogCapture log;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = dir.write("f.emf", c.bytes);
    EXPECT_EQ(GetEnhMetaFileA(path.c_str()), 0u);
  }
  EXPECT_TRUE(log.contains("GetEnhMetaFileW error: record size == 0. cannot continue"));
  EXPECT_EQ(GetEnhMetaFileA(nullptr), 0u);
  EXPECT_EQ(GetEnhMetaFileA(""), 0u);
  EXPECT_EQ(GetEnhMetaFileA((dir / "missing.emf").c_str()), 0u);
  EXPECT_EQ(GetEnhMetaFileW(nullptr), 0u);
  EXPECT_EQ(GetEnhMetaFileW(u""), 0u);
  std::size_t after = 0;
  for (auto* o : globalObjects.objects) after += o != nullptr;
  EXPECT_EQ(after, before);
}

TEST(EmfReader, TruncatedLastRecordIsKeptWithWhatItHolds) {
  std::string bytes = EmfBuilder().poly16(87, {{1, 2}, {3, 4}, {5, 6}}).bytes();
  bytes.resize(bytes.size() - 6);  // cut into the second point
  Loaded m(bytes);
  ASSERT_NE(m.handle, 0u);
  ASSERT_EQ(m.records().size(), 2u);
  auto* line = dynamic_cast<EMRPOLYLINE16*>(m.records()[1]);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->cpts, 1u);
  EXPECT_EQ(line->apts[0].y, 2);
}

TEST(EmfReader, WidePathIsConvertedToUtf8) {
  testsupport::TempDir dir;
  const auto path = dir.write("caf\xC3\xA9-\xF0\x9F\x93\x90.emf", EmfBuilder().eof().bytes());
  std::u16string wide;
  for (char c : dir.path().string()) wide += static_cast<char16_t>(static_cast<unsigned char>(c));
  wide += u"/caf\u00E9-\U0001F4D0.emf";
  const HENHMETAFILE w = GetEnhMetaFileW(wide.c_str());
  EXPECT_NE(w, 0u);
  // The 8-bit call passes UTF-8 through as it is.
  const HENHMETAFILE a = GetEnhMetaFileA(path.c_str());
  EXPECT_NE(a, 0u);
  DeleteDC(w);
  DeleteDC(a);
}

TEST(EmfReader, DeletedMetafileFailsSafely) {
  Loaded m(EmfBuilder().poly16(87, {{0, 0}, {1, 1}}).eof().bytes());
  ASSERT_EQ(DeleteEnhMetaFile(m.handle), 1);
  EXPECT_TRUE(m.records().empty());
  EXPECT_EQ(m.context()->header, nullptr);
  EXPECT_EQ(m.svg(), "</svg:svg>");
  EXPECT_EQ(LineTo(m.handle, 1, 1), 0);
  EXPECT_EQ(Polyline16(m.handle, nullptr, 0), 0);
  EXPECT_EQ(SelectObject(m.handle, GetStockObject(BLACK_PEN)), 0u);
  EXPECT_EQ(CloseEnhMetaFile(m.handle), 0u);
  char buf[108];
  EXPECT_EQ(GetEnhMetaFileHeader(m.handle, sizeof buf, buf), 0u);
  EXPECT_EQ(GetDeviceCaps(m.handle, 4), 0xFFFFFFFFu);
  EXPECT_EQ(GetDeviceCaps(m.handle, 88), 96u);
  EXPECT_EQ(DeleteEnhMetaFile(m.handle), 1);
}
