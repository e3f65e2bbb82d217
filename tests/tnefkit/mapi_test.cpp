#include <gtest/gtest.h>

#include "platform/foundation/log.h"
#include "support/temp_dir.h"
#include "support/tnef_writer.h"
#include "tnefkit/QFMAPIAttrObject.h"
#include "tnefkit/QFModifyFlag.h"
#include "tnefkit/TnefKit.h"
#include "tnefkit/parse_budget.h"
#include "tnefkit/payload.h"

using namespace testsupport;
using namespace std::string_literals;

namespace {

std::vector<QFMAPIAttrObject> decode(const std::string& block, std::uint64_t flag = 0x80) {
  return QFMAPIAttrObject::mapiAttrObjectsFromData(QFData(block.begin(), block.end()),
                                                   std::make_shared<QFModifyFlag>(flag));
}

std::string text(const QFMAPIValue& v) { return std::string(v.binaryData()->bytes().begin(), v.binaryData()->bytes().end()); }

}  // namespace

TEST(MapiDecoder, FixedAndCountedValues) {
  auto list = decode(MapiBlock()
                         .property(0x0002, 0x0001).raw(le16(0xFFFE) + le16(0))
                         .long32(0x0E07, 0x01020304)
                         .property(0x0040, 0x3007).raw(le32(0x11111111) + le32(0x22222222))
                         .property(0x0048, 0x0002).raw(std::string(16, '\x05'))
                         .string8(0x0037, "Subject")
                         .binary(0x1013, "<b>html</b>")
                         .bytes());
  ASSERT_EQ(list.size(), 6u);
  EXPECT_EQ(list[0].values()[0].dataWord(0), 0xFFFEu);
  EXPECT_EQ(list[0].values()[0].lengthOfData(), 2u);
  EXPECT_EQ(list[1].values()[0].dataWord(0), 0x01020304u);
  EXPECT_EQ(list[2].values()[0].dataWord(0), 0x11111111u);
  EXPECT_EQ(list[2].values()[0].dataWord(1), 0x22222222u);
  ASSERT_TRUE(list[3].values()[0].guid());
  EXPECT_EQ(list[3].values()[0].guid()->data1(), 0x05050505u);
  // A single-valued string still has its value count before the length.
  EXPECT_EQ(text(list[4].values()[0]), std::string("Subject\0", 8));
  EXPECT_EQ(list[4].values()[0].lengthOfData(), 8u);
  EXPECT_EQ(list[5].nameType(), 0x1013);
  EXPECT_EQ(text(list[5].values()[0]), "<b>html</b>");
  EXPECT_FALSE(list[1].values()[0].binaryData());
}

TEST(MapiDecoder, EmptyAndShortBlocks) {
  EXPECT_TRUE(decode(le32(0)).empty());
  EXPECT_TRUE(decode("").empty());
  EXPECT_TRUE(decode("\x01\x00").empty());
}

TEST(MapiDecoder, NamedProperties) {
  auto list = decode(MapiBlock()
                         .property(0x0003, 0x8001).numericName(0x8233).raw(le32(7))
                         .property(0x0003, 0x8002).stringNames({u"ab"}).raw(le32(9))
                         .bytes());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].nameType(), 0x8233);
  EXPECT_TRUE(list[0].names().empty());
  ASSERT_TRUE(list[0].guid());
  EXPECT_EQ(list[0].values()[0].dataWord(0), 7u);
  // "ab" with its NUL is stored as L = 6 and padded to 8; the name keeps one byte per unit.
  ASSERT_EQ(list[1].names().size(), 1u);
  EXPECT_EQ(list[1].names()[0], (QFData{'a', 'b', 0, 0, 0, 0}));
  EXPECT_EQ(list[1].values()[0].dataWord(0), 9u);
}

TEST(MapiDecoder, MultiValuedProperties) {
  foundation::ScopedLogCapture log;
  auto list = decode(MapiBlock()
                         .property(0x1003, 0x0001).raw(le32(2) + le32(10) + le32(20))
                         .property(0x1002, 0x0002).raw(le32(2) + le32(1) + le32(2))
                         .property(0x101E, 0x0003).counted({"one", "three"})
                         .property(0x1040, 0x0004).raw(le32(0))
                         .long32(0x0005, 55)
                         .bytes());
  ASSERT_EQ(list.size(), 5u);
  ASSERT_EQ(list[0].values().size(), 2u);
  EXPECT_EQ(list[0].dataType(), 3);
  EXPECT_EQ(list[0].values()[1].dataWord(0), 20u);
  // Unsupported multi-valued type: logged, kept without values, and stepped over.
  EXPECT_TRUE(log.contains("Error MAPI data for type: MAPI short (signed 16 bits)"));
  EXPECT_TRUE(list[1].values().empty());
  ASSERT_EQ(list[2].values().size(), 2u);
  EXPECT_EQ(text(list[2].values()[1]), "three");
  EXPECT_TRUE(list[3].values().empty());
  EXPECT_EQ(list[4].values()[0].dataWord(0), 55u);
}

TEST(MapiDecoder, RejectedOrUnknownTypeEndsTheBlockKeepingWhatCameBefore) {
  struct Case {
    std::uint16_t type;
    const char* message;
  } cases[] = {{0x0000, "Invalid attribute"}, {0x0001, "Invalid attribute"}, {0x000A, "Invalid attribute"},
               {0x0099, "Undefined attribute"}};
  for (const auto& c : cases) {
    foundation::ScopedLogCapture log;
    // What follows the bad property would decode as an HTML body if read on from there.
    auto list = decode(MapiBlock()
                           .long32(0x0E07, 1)
                           .property(c.type, 0x0E08)
                           .binary(0x1013, "invented")
                           .bytes());
    ASSERT_EQ(list.size(), 1u) << c.type;
    EXPECT_EQ(list[0].nameType(), 0x0E07);
    EXPECT_TRUE(log.contains(c.message)) << c.type;
  }
}

TEST(MapiDecoder, CountsAndLengthsNeverReadPastTheBlock) {
  const std::string cases[] = {
      MapiBlock().long32(0x0E07, 1).bytesWithCount(0xFFFFFFFF),
      MapiBlock().property(0x0102, 0x1013).raw(le32(1) + le32(0x7FFFFFFF) + "abc").bytes(),
      MapiBlock().property(0x0102, 0x1013).raw(le32(0xFFFFFFFF) + le32(2) + "ab\0\0").bytes(),
      MapiBlock().property(0x1003, 0x0001).raw(le32(0x40000000) + le32(1)).bytes(),
      MapiBlock().property(0x1002, 0x0001).raw(le32(0x40000000)).bytes(),
      MapiBlock().property(0x0003, 0x8001).raw(std::string(16, '\0') + le32(3) + le32(0x7FFFFFFF)).bytes(),
      MapiBlock().property(0x0048, 0x0002).raw("short").bytes(),
  };
  // Only the first case has a whole property (before its count runs out); a property cut
  // short is dropped, never kept with made-up values.
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    foundation::ScopedLogCapture log;
    auto list = decode(cases[i]);
    ASSERT_EQ(list.size(), i == 0 ? 1u : 0u) << i;
    if (i == 0) {
      EXPECT_EQ(list[0].nameType(), 0x0E07);
    }
    EXPECT_TRUE(log.contains("MAPI property block ends early")) << i;
  }
  // A huge count over a large block of junk reserves room for what is decoded, not for
  // every property the count and the block size could allow.
  const auto junk =
      decode(MapiBlock().property(0x0099, 0x0001).raw(std::string(1 << 20, '\0')).bytesWithCount(0xFFFFFFFF));
  EXPECT_TRUE(junk.empty());
  EXPECT_LE(junk.capacity(), 1024u);
  // A trailing value whose padding is missing is still whole.
  auto list = decode(MapiBlock().property(0x0102, 0x1013).raw(le32(1) + le32(3) + "abc").bytes());
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(text(list[0].values()[0]), "abc");
}

TEST(MapiDecoder, UnicodeStringsBecomeUtf8) {
  struct Case {
    std::string utf16;
    std::string utf8;
  } cases[] = {
      {"\xE9\x00\x00\x00"s, "\xC3\xA9"},
      {"\xFF\x07\x00\x00"s, "\xDF\xBF"},
      {utf16le(u"A\u20AC"), "A\xE2\x82\xAC"},
      {"\x3D\xD8\x00\xDE\x00\x00"s, "\xF0\x9F\x98\x80"},     // a surrogate pair: U+1F600
      {"\x00\xD8\x41\x00"s, "\xEF\xBF\xBD" "A"},              // a lone high surrogate
      {"a\x00\x00\x00" "b\x00"s, "a"},                      // ends at the first NUL unit
      {"a", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QFMAPIValue::stringFromUnicode(reinterpret_cast<const std::uint8_t*>(c.utf16.data()), c.utf16.size()),
              c.utf8);
  }
  auto list = decode(MapiBlock().unicode(0x3707, u"r\u00e9sum\u00e9.pdf").bytes());
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(text(list[0].values()[0]), "r\xC3\xA9sum\xC3\xA9.pdf");
  // Three UTF-8 bytes per two stored bytes: the text is longer than the whole block.
  const std::string wide = MapiBlock().unicode(0x3707, std::u16string(40, u'\u0800')).bytes();
  list = decode(wide);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_GT(list[0].values()[0].binaryData()->size(), wide.size());
  std::string expected;
  for (int i = 0; i < 40; ++i) expected += "\xE0\xA0\x80";
  EXPECT_EQ(text(list[0].values()[0]), expected);
}

TEST(MapiDecoder, DebugNamesAndDescriptions) {
  EXPECT_EQ(QFMAPIAttrObject::mapiNameTypeName(0x1009), "QFMAPINameTypeRTF_COMPRESSED");
  EXPECT_EQ(QFMAPIAttrObject::mapiNameTypeName(0x3707), "QFMAPINameTypeATTACH_LONG_FILENAME");
  EXPECT_EQ(QFMAPIAttrObject::mapiNameTypeName(0x7FFF), "Unknown MAPI name type");
  EXPECT_EQ(QFMAPIValue::mapiDataTypeName(258), "MAPI binary");
  EXPECT_EQ(QFMAPIValue::mapiDataTypeName(999), "Unknown MAPI data type");
  EXPECT_EQ(QFMAPIAttrObject::padTo4Byte(5), 8u);
  EXPECT_EQ(QFMAPIAttrObject::padTo4Byte(0xFFFFFFFF), 0x100000000u);

  foundation::ScopedLogCapture log;
  decode(MapiBlock().property(0x1003, 0x0E07).raw(le32(1) + le32(4)).bytes(), 0x02);
  EXPECT_TRUE(log.contains("!!MULTI_VALUE_FLAG seen (0xe07 0x03)"));
  EXPECT_TRUE(log.contains("(MAPI) QFMAPINameTypeMESSAGE_FLAGS [type: MAPI integer (signed 32 bits)] [num_values = 1]"));
}

TEST(MapiDecoder, ABlockReadFromItsFileDecodesAsInMemory) {
  const std::string large(3 * tnefkit::Payload::kHeldInMemory + 1, 'L');
  const std::string cases[] = {
      MapiBlock()
          .property(0x0003, 0x8002).stringNames({u"ab", u"name"}).raw(le32(9))
          .property(0x1003, 0x0001).raw(le32(2) + le32(10) + le32(20))
          .property(0x1002, 0x0002).raw(le32(2) + le32(1) + le32(2))
          .property(0x0048, 0x0003).raw(std::string(16, '\x05'))
          .unicode(0x3707, std::u16string(2000, u'\u00e9'))
          .binary(0x3701, large)
          .string8(0x1000, large)
          .property(0x1102, 0x0004).counted({"small", large, ""})
          .binary(0x1013, "<p>html</p>")
          .bytes(),
      // Cut short inside a large value, then after a whole one.
      MapiBlock().long32(0x0E07, 1).binary(0x3701, large).bytes().substr(0, 2000),
      MapiBlock().binary(0x3701, large).long32(0x0E07, 1).bytesWithCount(5),
      MapiBlock().long32(0x0E07, 1).property(0x000A, 0x0E08).binary(0x1013, large).bytes(),
  };
  TempDir dir;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const std::string& block = cases[i];
    std::vector<QFMAPIAttrObject> inMemory, fromFile;
    std::vector<std::string> memoryLog, fileLog;
    {
      foundation::ScopedLogCapture log;
      inMemory = decode(block);
      for (const auto& r : log.records()) memoryLog.push_back(r.message);
    }
    // The block lies behind other bytes, and is followed by more, as in a container.
    auto handle = QFFileHandle::fileHandleForReadingAtPath(dir.write("b" + std::to_string(i), "xyz" + block + "tail"));
    ASSERT_TRUE(handle);
    handle->seekToFileOffset(3);
    QFMAPIFileCursor in(*handle, block.size());
    {
      foundation::ScopedLogCapture log;
      fromFile = QFMAPIAttrObject::mapiAttrObjectsFromCursor(in, std::make_shared<QFModifyFlag>(0x80));
      for (const auto& r : log.records()) fileLog.push_back(r.message);
    }
    EXPECT_TRUE(in.finish());
    EXPECT_EQ(in.sum(), byteSum(block));
    EXPECT_EQ(handle->offsetInFile(), 3 + block.size());
    EXPECT_EQ(fileLog, memoryLog);
    ASSERT_EQ(fromFile.size(), inMemory.size());
    for (std::size_t p = 0; p < fromFile.size(); ++p) {
      EXPECT_EQ(fromFile[p].description(), inMemory[p].description()) << p;
      EXPECT_EQ(fromFile[p].names(), inMemory[p].names()) << p;
      ASSERT_EQ(fromFile[p].values().size(), inMemory[p].values().size()) << p;
      for (std::size_t v = 0; v < fromFile[p].values().size(); ++v) {
        const auto& a = fromFile[p].values()[v];
        const auto& b = inMemory[p].values()[v];
        ASSERT_EQ(a.binaryData().has_value(), b.binaryData().has_value());
        if (a.binaryData()) {
          EXPECT_TRUE(a.binaryData()->bytes() == b.binaryData()->bytes()) << p << " " << v;
        }
      }
    }
  }
  // A file that ends before the block does is told apart from a block that ends early.
  const std::string block = MapiBlock().binary(0x3701, large).bytes();
  auto handle = QFFileHandle::fileHandleForReadingAtPath(dir.write("short", block));
  QFMAPIFileCursor in(*handle, block.size() + 10);
  EXPECT_EQ(QFMAPIAttrObject::mapiAttrObjectsFromCursor(in, nullptr).size(), 1u);
  EXPECT_FALSE(in.finish());
}

TEST(MapiDecoder, CountedValuesOfPropertiesNotWantedAreSteppedOverUnread) {
  // An odd-sized text, so its padding is stepped over too; a multi-valued one; then values
  // that are wanted or not counted.
  const std::string block = MapiBlock()
                                .unicode(0x1000, std::u16string(5001, u'\u00e9'))
                                .property(0x101F, 0x0E1D).counted({utf16le(u"ab") + le16(0), utf16le(u"c") + le16(0)})
                                .binary(0x1009, "rtf")
                                .long32(0x0E07, 7)
                                .bytes();
  struct Run {
    std::vector<QFMAPIAttrObject> properties;
    std::uint64_t charged = 0;
  };
  const auto run = [&](std::uint64_t flag, const QFMAPIAttrObject::NameFilter& wanted) {
    Run r;
    tnefkit::ParseBudget budget(1u << 30);
    tnefkit::ParseBudget::Scope scope(budget);
    const QFData data(block.begin(), block.end());
    QFMAPIMemoryCursor in(data);
    QFMAPIAttrObject::decodeProperties(
        in, std::make_shared<QFModifyFlag>(flag),
        [&](QFMAPIAttrObject& p) {
          r.properties.push_back(std::move(p));
          return true;
        },
        wanted);
    EXPECT_EQ(in.remaining(), 0u);
    r.charged = budget.spent();
    return r;
  };
  const auto onlyRtf = [](std::int32_t nameType) { return nameType == 0x1009; };
  const Run filtered = run(0x80, onlyRtf);
  ASSERT_EQ(filtered.properties.size(), 4u);
  EXPECT_TRUE(filtered.properties[0].values().empty());
  EXPECT_TRUE(filtered.properties[1].values().empty());
  ASSERT_EQ(filtered.properties[2].values().size(), 1u);
  EXPECT_EQ(text(filtered.properties[2].values()[0]), "rtf");
  ASSERT_EQ(filtered.properties[3].values().size(), 1u);
  EXPECT_EQ(filtered.properties[3].values()[0].dataWord(0), 7u);
  // The text was neither converted nor charged.
  EXPECT_LT(filtered.charged, 1000u);
  // With diagnostics on, or with no filter, every value is read, as the description shows.
  for (const Run& all : {run(0x80 | 0x02, onlyRtf), run(0x80, nullptr)}) {
    ASSERT_EQ(all.properties.size(), 4u);
    ASSERT_EQ(all.properties[0].values().size(), 1u);
    EXPECT_EQ(text(all.properties[0].values()[0]).size(), 2 * 5001u);
    EXPECT_EQ(all.properties[1].values().size(), 2u);
    EXPECT_GT(all.charged, 5001u * 3 / 2);
  }
}
