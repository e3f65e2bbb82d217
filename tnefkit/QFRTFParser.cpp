#include "tnefkit/QFRTFParser.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "tnefkit/tnef_log.h"

namespace {

constexpr std::uint32_t kCompressed = 0x75465A4C;    // "LZFu"
constexpr std::uint32_t kUncompressed = 0x414C454D;  // "MELA"

constexpr std::string_view kInitialDictionary =
    "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss \\fmodern \\fscript "
    "\\fdecor MS Sans SerifSymbolArialTimes New RomanCourier{\\colortbl\\red0\\green0\\blue0\r\n\\par "
    "\\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
static_assert(kInitialDictionary.size() == 207);

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr auto kCrcTable = makeCrcTable();

}  // namespace

std::unique_ptr<QFRTFParser> QFRTFParser::initWithValues(const std::vector<QFData>& values) {
  if (values.empty()) {
    tnefkit::logError("No data for RTF parser.");
    return nullptr;
  }
  auto parser = std::make_unique<QFRTFParser>();
  for (const QFData& block : values) {
    if (!isRTFData(block.data(), block.size())) continue;
    auto decoded = rtfDataFromBuf(block.data(), block.size());
    if (decoded && !decoded->empty()) parser->rtfDatas_.push_back(std::move(*decoded));
  }
  return parser;
}

bool QFRTFParser::isRTFData(const std::uint8_t* bytes, std::uint64_t length) {
  if (bytes == nullptr || length < 12) return false;
  std::uint32_t type = uint32Value(bytes + 8);
  return type == kCompressed || type == kUncompressed;
}

std::optional<QFData> QFRTFParser::rtfDataFromBuf(const std::uint8_t* bytes, std::uint64_t length) {
  if (bytes == nullptr || length < 16 || std::uint64_t(uint32Value(bytes)) + 4 != length) {
    tnefkit::logError("RTF sanity check failed.");
    return std::nullopt;
  }
  const std::uint64_t rawSize = uint32Value(bytes + 4);
  const std::uint32_t type = uint32Value(bytes + 8);
  const std::uint32_t crc = uint32Value(bytes + 12);
  if (type == kCompressed) {
    if (generateCRC(bytes + 16, length - 16) != crc) {
      tnefkit::logError("Invalid RTF CRC, input file may be corrupted");
      return std::nullopt;
    }
    return decompressRTFData(bytes + 16, length - 16, rawSize);
  }
  if (type == kUncompressed) {
    std::uint64_t n = std::min({rawSize, length - 16, kMaxDecodedSize});
    return QFData(bytes + 16, bytes + 16 + n);
  }
  tnefkit::logError("Unknown rtf stream.");
  return std::nullopt;
}

std::uint32_t QFRTFParser::generateCRC(const std::uint8_t* bytes, std::uint64_t length) {
  std::uint32_t crc = 0;
  for (std::uint64_t i = 0; i < length; ++i) crc = kCrcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

QFData QFRTFParser::decompressRTFData(const std::uint8_t* src, std::uint64_t srcLength, std::uint64_t outLength) {
  // A control byte and eight references of 17 bytes each: at most 136 bytes per 17 input bytes.
  const std::uint64_t producible = (srcLength / 17 + 1) * 136;
  const std::uint64_t limit = std::min({outLength, producible, kMaxDecodedSize});
  QFData out;
  if (srcLength == 0 || src == nullptr) return out;
  out.reserve(static_cast<std::size_t>(limit));

  std::uint8_t dict[4096] = {};
  std::memcpy(dict, kInitialDictionary.data(), kInitialDictionary.size());
  std::uint32_t write = static_cast<std::uint32_t>(kInitialDictionary.size());
  std::uint64_t in = 0;
  bool overrun = true;

  while (in < srcLength) {
    const std::uint8_t control = src[in++];
    for (int bit = 0; bit < 8; ++bit) {
      if (control & (1u << bit)) {
        if (in + 2 > srcLength) goto done;
        const std::uint32_t word = std::uint32_t(src[in]) << 8 | src[in + 1];
        in += 2;
        std::uint32_t offset = word >> 4;
        const std::uint32_t length = (word & 0xF) + 2;
        if (offset == write) {
          overrun = false;
          goto done;
        }
        if (out.size() + length > limit) goto done;
        for (std::uint32_t i = 0; i < length; ++i) {
          const std::uint8_t b = dict[offset];
          offset = (offset + 1) & 0xFFF;
          out.push_back(b);
          dict[write] = b;
          write = (write + 1) & 0xFFF;
        }
      } else {
        if (in >= srcLength) goto done;
        if (out.size() + 1 > limit) goto done;
        const std::uint8_t b = src[in++];
        out.push_back(b);
        dict[write] = b;
        write = (write + 1) & 0xFFF;
      }
    }
  }
done:
  if (overrun) tnefkit::logError("RTF buffer overrun, input file may be corrupted\n");
  return out;
}
