#pragma once
// Decoder of compressed RTF streams (LZFu compressed and MELA uncompressed).

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "tnefkit/QFReadType.h"

class QFRTFParser {
 public:
  // Upper bound of one decoded stream, whatever its header says.
  static constexpr std::uint64_t kMaxDecodedSize = 256ull << 20;

  // Decodes every block at once; null (with a log line) for an empty list. Blocks that are
  // not RTF streams, or that yield nothing, add nothing.
  static std::unique_ptr<QFRTFParser> initWithValues(const std::vector<QFData>& values);

  const std::vector<QFData>& rtfDatas() const { return rtfDatas_; }

  // At least 12 bytes and a known compression type.
  static bool isRTFData(const std::uint8_t* bytes, std::uint64_t length);
  // One stream: empty (with a log line) when its header is inconsistent, its CRC fails or
  // its type is unknown.
  static std::optional<QFData> rtfDataFromBuf(const std::uint8_t* bytes, std::uint64_t length);
  // The decoded tokens: at most `outLength` bytes, and never more than the tokens can
  // produce or kMaxDecodedSize. Ends at the end reference; an overrun or a missing end
  // reference logs and keeps what was decoded.
  static QFData decompressRTFData(const std::uint8_t* src, std::uint64_t srcLength, std::uint64_t outLength);
  static std::uint32_t generateCRC(const std::uint8_t* bytes, std::uint64_t length);

 private:
  std::vector<QFData> rtfDatas_;
};
