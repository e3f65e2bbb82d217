#include <gtest/gtest.h>

#include "platform/foundation/log.h"
#include "support/tnef_writer.h"
#include "tnefkit/QFRTFParser.h"
#include "tnefkit/TnefKit.h"

using namespace testsupport;

namespace {

QFData bytes(std::string_view s) { return QFData(s.begin(), s.end()); }
std::string str(const QFData& d) { return std::string(d.begin(), d.end()); }

std::optional<std::string> decodeStream(const std::string& s) {
  auto d = QFRTFParser::rtfDataFromBuf(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  if (!d) return std::nullopt;
  return str(*d);
}

// The two compressed examples published with the compression format.
const std::string kSimple(
    "\x2d\x00\x00\x00\x2b\x00\x00\x00\x4c\x5a\x46\x75\xf1\xc5\xc7\xa7\x03\x00\x0a\x00\x72\x63\x70\x67\x31\x32"
    "\x35\x42\x32\x0a\xf3\x20\x68\x65\x6c\x09\x00\x20\x62\x77\x05\xb0\x6c\x64\x7d\x0a\x80\x0f\xa0",
    49);
const std::string kCrossing(
    "\x1a\x00\x00\x00\x1c\x00\x00\x00\x4c\x5a\x46\x75\xe2\xd4\x4b\x51\x41\x00\x04\x20\x57\x58\x59\x5a\x0d\x6e"
    "\x7d\x01\x0e\xb0",
    30);

}  // namespace

TEST(CompressedRtf, PublishedExamplesDecodeExactly) {
  foundation::ScopedLogCapture log;
  EXPECT_EQ(decodeStream(kSimple), "{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n");
  EXPECT_EQ(decodeStream(kCrossing), "{\\rtf1 WXYZWXYZWXYZWXYZWXYZ}");
  EXPECT_EQ(QFRTFParser::generateCRC(reinterpret_cast<const std::uint8_t*>(kSimple.data()) + 16, kSimple.size() - 16),
            0xA7C7C5F1u);
  EXPECT_EQ(QFRTFParser::generateCRC(nullptr, 0), 0u);
  EXPECT_TRUE(log.records().empty());
}

TEST(CompressedRtf, StreamOutcomes) {
  std::string flipped = kSimple;
  flipped[20] ^= 0x01;
  std::string badType = kSimple;
  badType[8] = 'X';
  struct Case {
    const char* name;
    std::string stream;
    std::optional<std::string> result;
    const char* message;
  } cases[] = {
      {"end reference first", lzfuStream(std::string("\x01\x0C\xF0", 3), 100), std::string(), nullptr},
      {"literals", lzfuLiterals("{\\rtf1 abc}"), std::string("{\\rtf1 abc}"), nullptr},
      {"uncompressed", melaStream("{\\rtf1 k}", 9), std::string("{\\rtf1 k}"), nullptr},
      {"uncompressed, short of rawSize", melaStream("{\\rtf1", 100), std::string("{\\rtf1"), nullptr},
      {"uncompressed, longer than rawSize", melaStream("{\\rtf1 more}", 3), std::string("{\\r"), nullptr},
      {"crc fails", flipped, std::nullopt, "Invalid RTF CRC, input file may be corrupted"},
      {"unknown type", badType, std::nullopt, "Unknown rtf stream."},
      {"compSize inconsistent", kSimple + "x", std::nullopt, "RTF sanity check failed."},
      {"shorter than the header", kSimple.substr(0, 14), std::nullopt, "RTF sanity check failed."},
      // A reference whose length runs past rawSize keeps the bytes decoded before it.
      {"overrun", lzfuStream(std::string("\x02" "a\x00\x0F", 4), 2), std::string("a"),
       "RTF buffer overrun, input file may be corrupted"},
      {"no end reference", lzfuStream(std::string("\x00" "abc", 4), 10), std::string("abc"),
       "RTF buffer overrun, input file may be corrupted"},
  };
  for (const auto& c : cases) {
    foundation::ScopedLogCapture log;
    EXPECT_EQ(decodeStream(c.stream), c.result) << c.name;
    if (c.message) {
      EXPECT_TRUE(log.contains(c.message)) << c.name;
    } else {
      EXPECT_TRUE(log.records().empty()) << c.name;
    }
  }
}

TEST(CompressedRtf, OutputIsBoundedByTheInputNotTheHeader) {
  // rawSize claims 4 GiB - 1; the tokens can produce only what they encode.
  foundation::ScopedLogCapture log;
  auto out = decodeStream(lzfuStream(lzfuLiteralTokens("{\\rtf1 x}"), 0xFFFFFFFF));
  EXPECT_EQ(out, "{\\rtf1 x}");
  // A run of maximal references stays within what the input can produce.
  std::string tokens;
  for (int i = 0; i < 64; ++i) tokens += std::string("\xFF") + std::string(16, '\x00');
  auto run = QFRTFParser::decompressRTFData(reinterpret_cast<const std::uint8_t*>(tokens.data()), tokens.size(),
                                            0xFFFFFFFF);
  EXPECT_EQ(run.size(), 64u * 8 * 2);
  EXPECT_LE(run.size(), (tokens.size() / 17 + 1) * 136);
  EXPECT_TRUE(QFRTFParser::decompressRTFData(nullptr, 0, 1000).empty());
}

TEST(CompressedRtf, ParserOverBlocks) {
  foundation::ScopedLogCapture log;
  EXPECT_EQ(QFRTFParser::initWithValues({}), nullptr);
  EXPECT_TRUE(log.contains("No data for RTF parser."));

  std::string flipped = kSimple;
  flipped[20] ^= 0x01;
  auto parser = QFRTFParser::initWithValues({bytes(kSimple.substr(0, 11)), bytes(flipped), bytes(kCrossing),
                                             bytes(kSimple.substr(0, 13)), bytes("not rtf at all")});
  ASSERT_TRUE(parser);
  ASSERT_EQ(parser->rtfDatas().size(), 1u);
  EXPECT_EQ(str(parser->rtfDatas()[0]), "{\\rtf1 WXYZWXYZWXYZWXYZWXYZ}");
  EXPECT_FALSE(QFRTFParser::isRTFData(reinterpret_cast<const std::uint8_t*>(kSimple.data()), 11));
  EXPECT_TRUE(QFRTFParser::isRTFData(reinterpret_cast<const std::uint8_t*>(kSimple.data()), 12));
}

TEST(CompressedRtf, TokensFedInSlicesDecodeAsInOneGo) {
  std::string references;
  for (int i = 0; i < 64; ++i) references += std::string("\xFF") + std::string(16, '\x00');
  struct Case {
    const char* name;
    std::string tokens;
    std::uint64_t rawSize;
  } cases[] = {
      {"simple", kSimple.substr(16), 0x2B},
      {"a reference crossing its own end", kCrossing.substr(16), 0x1C},
      {"literals", lzfuLiteralTokens("{\\rtf1 some literal text, longer than one group}"), 200},
      {"overrun", std::string("\x02" "a\x00\x0F", 4), 2},
      {"no end reference", std::string("\x00" "abc", 4), 10},
      {"a run of references cut by rawSize", references, 1000},
      {"a run of references cut by what the tokens can produce", references, 0xFFFFFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QFData tokens = bytes(c.tokens);
    QFData expected;
    bool overran = false;
    {
      foundation::ScopedLogCapture whole;
      expected = QFRTFParser::decompressRTFData(tokens.data(), tokens.size(), c.rawSize);
      overran = whole.contains("RTF buffer overrun");
    }
    for (std::size_t step : {1, 2, 3, 17}) {
      foundation::ScopedLogCapture sliced;
      QFRTFDecompressor decoder(tokens.size(), c.rawSize);
      QFData out;
      for (std::size_t at = 0; at < tokens.size(); at += step) {
        decoder.add(QFBytes(tokens).subspan(at, std::min(step, tokens.size() - at)), out);
      }
      decoder.finish();
      EXPECT_EQ(out, expected) << step;
      EXPECT_EQ(sliced.contains("RTF buffer overrun"), overran) << step;
    }
  }
}
