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

std::optional<QFRTFParser::Header> QFRTFParser::checkHeader(const std::uint8_t* header, std::uint64_t length,
                                                             std::uint32_t tokensCrc) {
  if (header == nullptr || length < 16 || std::uint64_t(uint32Value(header)) + 4 != length) {
    tnefkit::logError("RTF sanity check failed.");
    return std::nullopt;
  }
  const std::uint32_t type = uint32Value(header + 8);
  if (type == kCompressed) {
    if (tokensCrc != uint32Value(header + 12)) {
      tnefkit::logError("Invalid RTF CRC, input file may be corrupted");
      return std::nullopt;
    }
    return Header{uint32Value(header + 4), true};
  }
  if (type == kUncompressed) return Header{uint32Value(header + 4), false};
  tnefkit::logError("Unknown rtf stream.");
  return std::nullopt;
}

std::optional<QFData> QFRTFParser::rtfDataFromBuf(const std::uint8_t* bytes, std::uint64_t length) {
  const std::uint32_t crc = bytes != nullptr && length >= 16 ? generateCRC(bytes + 16, length - 16) : 0;
  const auto header = checkHeader(bytes, length, crc);
  if (!header) return std::nullopt;
  if (header->compressed) return decompressRTFData(bytes + 16, length - 16, header->rawSize);
  const std::uint64_t n = std::min({header->rawSize, length - 16, kMaxDecodedSize});
  return QFData(bytes + 16, bytes + 16 + n);
}

std::uint32_t QFRTFParser::generateCRC(const std::uint8_t* bytes, std::uint64_t length, std::uint32_t crc) {
  for (std::uint64_t i = 0; i < length; ++i) crc = kCrcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

QFData QFRTFParser::decompressRTFData(const std::uint8_t* src, std::uint64_t srcLength, std::uint64_t outLength) {
  QFData out;
  if (srcLength == 0 || src == nullptr) return out;
  QFRTFDecompressor decoder(srcLength, outLength);
  out.reserve(static_cast<std::size_t>(decoder.limit()));
  decoder.add(QFBytes(src, static_cast<std::size_t>(srcLength)), out);
  decoder.finish();
  return out;
}

// ---- QFRTFDecompressor

QFRTFDecompressor::QFRTFDecompressor(std::uint64_t srcLength, std::uint64_t outLength) : srcLength_(srcLength) {
  // A control byte and eight references of 17 bytes each: at most 136 bytes per 17 input bytes.
  const std::uint64_t producible = (srcLength / 17 + 1) * 136;
  limit_ = std::min({outLength, producible, QFRTFParser::kMaxDecodedSize});
  std::memset(dict_, 0, sizeof dict_);
  std::memcpy(dict_, kInitialDictionary.data(), kInitialDictionary.size());
  write_ = static_cast<std::uint32_t>(kInitialDictionary.size());
}

void QFRTFDecompressor::add(QFBytes tokens, QFData& out) {
  for (std::size_t in = 0; in < tokens.size() && !ended_;) {
    const std::uint8_t b = tokens[in++];
    if (bit_ == 8) {
      control_ = b;
      bit_ = 0;
      continue;
    }
    if (control_ & (1u << bit_)) {
      if (!haveHigh_) {
        high_ = b;
        haveHigh_ = true;
        continue;
      }
      haveHigh_ = false;
      const std::uint32_t word = std::uint32_t(high_) << 8 | b;
      std::uint32_t offset = word >> 4;
      const std::uint32_t length = (word & 0xF) + 2;
      if (offset == write_) {
        overrun_ = false;
        ended_ = true;
        break;
      }
      if (produced_ + length > limit_) {
        ended_ = true;
        break;
      }
      for (std::uint32_t i = 0; i < length; ++i) {
        const std::uint8_t c = dict_[offset];
        offset = (offset + 1) & 0xFFF;
        out.push_back(c);
        dict_[write_] = c;
        write_ = (write_ + 1) & 0xFFF;
      }
      produced_ += length;
    } else {
      if (produced_ + 1 > limit_) {
        ended_ = true;
        break;
      }
      out.push_back(b);
      dict_[write_] = b;
      write_ = (write_ + 1) & 0xFFF;
      ++produced_;
    }
    ++bit_;
  }
}

void QFRTFDecompressor::finish() {
  ended_ = true;
  if (overrun_ && srcLength_ > 0) tnefkit::logError("RTF buffer overrun, input file may be corrupted\n");
  overrun_ = false;
}
