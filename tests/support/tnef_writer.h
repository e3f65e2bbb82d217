#pragma once
// Builders of TNEF streams, MAPI property blocks and compressed-RTF streams for tests.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

inline std::string le16(std::uint16_t v) { return {char(v & 0xFF), char(v >> 8)}; }
inline std::string le32(std::uint32_t v) {
  return {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
}
inline std::string utf16le(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out += le16(static_cast<std::uint16_t>(c));
  return out;
}
inline std::string padded4(std::string s) {
  s.append((4 - s.size() % 4) % 4, '\0');
  return s;
}
inline std::uint16_t byteSum(std::string_view data) {
  std::uint32_t sum = 0;
  for (unsigned char c : data) sum += c;
  return static_cast<std::uint16_t>(sum);
}

// A TNEF stream: signature and key, then attribute records.
class TnefWriter {
 public:
  explicit TnefWriter(std::uint32_t signature = 0x223E9F78, std::uint16_t key = 0x0001) {
    out_ = le32(signature) + le16(key);
  }
  // One record; the checksum is the data's byte sum unless given.
  TnefWriter& record(std::uint8_t level, std::uint16_t type, std::uint16_t id, std::string_view data,
                     std::optional<std::uint16_t> checksum = std::nullopt) {
    out_ += char(level);
    out_ += le32(std::uint32_t(type) << 16 | id);
    out_ += le32(static_cast<std::uint32_t>(data.size()));
    out_ += data;
    out_ += le16(checksum ? *checksum : byteSum(data));
    return *this;
  }
  TnefWriter& message(std::uint16_t id, std::string_view data, std::uint16_t type = 6) {
    return record(1, type, id, data);
  }
  TnefWriter& attachment(std::uint16_t id, std::string_view data, std::uint16_t type = 6) {
    return record(2, type, id, data);
  }
  TnefWriter& raw(std::string_view bytes) {
    out_ += bytes;
    return *this;
  }
  const std::string& bytes() const { return out_; }

 private:
  std::string out_;
};

// One record written to a stream piece by piece, for data too large to build in memory: the
// fixed part with the length given, the pieces as they come, then the checksum of what was
// written (end() or the destructor).
class RecordStream {
 public:
  RecordStream(std::ostream& out, std::uint8_t level, std::uint16_t type, std::uint16_t id, std::uint32_t length)
      : out_(out) {
    out_ << char(level) << le32(std::uint32_t(type) << 16 | id) << le32(length);
  }
  ~RecordStream() { end(); }
  RecordStream(const RecordStream&) = delete;
  RecordStream& operator=(const RecordStream&) = delete;

  RecordStream& write(std::string_view piece) {
    for (unsigned char c : piece) sum_ = static_cast<std::uint16_t>(sum_ + c);
    out_ << piece;
    return *this;
  }
  void end() {
    if (ended_) return;
    ended_ = true;
    out_ << le16(sum_);
  }

 private:
  std::ostream& out_;
  std::uint16_t sum_ = 0;
  bool ended_ = false;
};

// A MAPI property block: the property count, then the properties added.
class MapiBlock {
 public:
  // A property header; the values follow with the calls below.
  MapiBlock& property(std::uint16_t type, std::uint16_t id) {
    ++count_;
    body_ += le16(type) + le16(id);
    return *this;
  }
  // The name part of a named property (id with bit 0x8000): GUID, then a numeric id.
  MapiBlock& numericName(std::uint32_t numericId, std::string guid = std::string(16, '\x11')) {
    body_ += guid + le32(0) + le32(numericId);
    return *this;
  }
  // The name part with UTF-16LE names (each stored with its NUL unit).
  MapiBlock& stringNames(const std::vector<std::u16string>& names, std::string guid = std::string(16, '\x22')) {
    body_ += guid + le32(static_cast<std::uint32_t>(names.size()));
    for (const auto& n : names) {
      std::string bytes = utf16le(n) + le16(0);
      body_ += le32(static_cast<std::uint32_t>(bytes.size())) + padded4(bytes);
    }
    return *this;
  }
  // Values of a counted type (13, 30, 31, 258): count, then length and padded bytes each.
  MapiBlock& counted(const std::vector<std::string>& values) {
    body_ += le32(static_cast<std::uint32_t>(values.size()));
    for (const auto& v : values) body_ += le32(static_cast<std::uint32_t>(v.size())) + padded4(v);
    return *this;
  }
  MapiBlock& raw(std::string_view bytes) {
    body_ += bytes;
    return *this;
  }
  // Convenience: one single-valued counted property.
  MapiBlock& binary(std::uint16_t id, const std::string& value, std::uint16_t type = 0x0102) {
    return property(type, id).counted({value});
  }
  MapiBlock& string8(std::uint16_t id, const std::string& value) { return binary(id, value + '\0', 0x001E); }
  MapiBlock& unicode(std::uint16_t id, std::u16string_view value) {
    return binary(id, utf16le(value) + le16(0), 0x001F);
  }
  MapiBlock& long32(std::uint16_t id, std::uint32_t value) { return property(0x0003, id).raw(le32(value)); }

  std::string bytes() const { return le32(count_) + body_; }
  // The block with a count word that differs from the properties present.
  std::string bytesWithCount(std::uint32_t count) const { return le32(count) + body_; }

 private:
  std::uint32_t count_ = 0;
  std::string body_;
};

inline std::uint32_t rtfCrc(std::string_view data) {
  std::uint32_t table[256];
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  std::uint32_t crc = 0;
  for (unsigned char b : data) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc;
}

// A compressed-RTF stream around `tokens`: header with compSize, rawSize, "LZFu" and the CRC.
inline std::string lzfuStream(const std::string& tokens, std::uint32_t rawSize) {
  return le32(static_cast<std::uint32_t>(tokens.size() + 12)) + le32(rawSize) + "LZFu" + le32(rtfCrc(tokens)) + tokens;
}

// Tokens that spell `text` as literals and end with the end reference.
inline std::string lzfuLiteralTokens(std::string_view text) {
  std::string out;
  std::size_t i = 0;
  std::uint32_t write = 207;
  for (;;) {
    std::string group;
    std::uint8_t control = 0;
    int bit = 0;
    for (; bit < 8 && i < text.size(); ++bit, ++i) {
      group += text[i];
      write = (write + 1) % 4096;
    }
    if (bit < 8) {
      control |= std::uint8_t(1u << bit);
      std::uint16_t word = static_cast<std::uint16_t>(write << 4);
      group += char(word >> 8);
      group += char(word & 0xFF);
      out += char(control);
      out += group;
      return out;
    }
    out += char(control);
    out += group;
  }
}

inline std::string lzfuLiterals(std::string_view text) {
  return lzfuStream(lzfuLiteralTokens(text), static_cast<std::uint32_t>(text.size()));
}

// An uncompressed ("MELA") stream.
inline std::string melaStream(std::string_view text, std::uint32_t rawSize) {
  return le32(static_cast<std::uint32_t>(text.size() + 12)) + le32(rawSize) + "MELA" + le32(0) + std::string(text);
}

}  // namespace testsupport
