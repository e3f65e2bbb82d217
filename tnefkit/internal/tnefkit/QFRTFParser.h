#pragma once
// Decoder of compressed RTF streams (LZFu compressed and MELA uncompressed).

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "tnefkit/QFReadType.h"

// The tokens of one compressed stream, decoded slice by slice exactly as decompressRTFData
// decodes them in one go.
class QFRTFDecompressor {
 public:
  // `srcLength`: the length of all the tokens to come; with `outLength` and the parser's
  // kMaxDecodedSize it bounds the output.
  QFRTFDecompressor(std::uint64_t srcLength, std::uint64_t outLength);
  // Decodes `tokens`, appending the output to `out`; nothing more once the stream has ended.
  void add(QFBytes tokens, QFData& out);
  // The tokens are all there: logs an overrun unless the end reference was reached.
  void finish();
  std::uint64_t limit() const { return limit_; }

 private:
  std::uint8_t dict_[4096];
  std::uint32_t write_;
  std::uint64_t srcLength_;
  std::uint64_t limit_;
  std::uint64_t produced_ = 0;
  std::uint8_t control_ = 0;
  int bit_ = 8;  // the next flag bit of `control_`; 8: a control byte comes next
  bool haveHigh_ = false;
  std::uint8_t high_ = 0;
  bool ended_ = false;
  bool overrun_ = true;
};

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
  // The CRC of `length` bytes, continued from `crc`.
  static std::uint32_t generateCRC(const std::uint8_t* bytes, std::uint64_t length, std::uint32_t crc = 0);

  // What the 16-byte header of a stream of `length` bytes says, once it has been checked
  // against the stream: its length, its CRC (`tokensCrc`, of the bytes after the header) and
  // its type. Empty (with the log line of rtfDataFromBuf) when the stream yields nothing.
  struct Header {
    std::uint64_t rawSize;
    bool compressed;
  };
  static std::optional<Header> checkHeader(const std::uint8_t* header, std::uint64_t length, std::uint32_t tokensCrc);

 private:
  std::vector<QFData> rtfDatas_;
};
