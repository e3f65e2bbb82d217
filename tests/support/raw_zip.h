#pragma once
// Zip files written byte by byte, for packages no zip library would make: stated sizes that
// lie, links, and entries of many megabytes of zeros that take a few kilobytes to build. Link
// the test with zlib.

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace testsupport {

struct RawZipEntry {
  std::string name;
  std::string data;          // as stored
  std::uint16_t method = 0;  // 0 stored, 8 deflated
  std::uint32_t crc = 0;
  std::uint32_t size = 0;             // the stated unpacked size
  std::uint32_t unixMode = 0100644;   // S_IFLNK | 0777 makes a link
};

inline RawZipEntry storedEntry(std::string name, std::string content) {
  RawZipEntry e;
  e.name = std::move(name);
  e.data = std::move(content);
  e.crc = static_cast<std::uint32_t>(
      ::crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
  e.size = static_cast<std::uint32_t>(e.data.size());
  return e;
}

// `megabytes` MiB of zeros, deflated: one MiB compressed once and its bytes repeated (each
// piece ends with a full flush, so it does not refer to the piece before it).
inline RawZipEntry zeroEntry(std::string name, std::uint32_t megabytes) {
  constexpr uInt kMiB = 1u << 20;
  const std::string zeros(kMiB, '\0');
  z_stream z{};
  if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
  auto run = [&](const std::string& in, int flush) {
    std::string out(deflateBound(&z, static_cast<uLong>(in.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, flush) == Z_STREAM_ERROR || z.avail_in != 0) std::abort();
    out.resize(out.size() - z.avail_out);
    return out;
  };
  const std::string piece = run(zeros, Z_FULL_FLUSH);
  if (run(zeros, Z_FULL_FLUSH) != piece) std::abort();  // the same bytes every time
  const std::string end = run(std::string(), Z_FINISH);
  deflateEnd(&z);
  RawZipEntry e;
  e.name = std::move(name);
  e.method = 8;
  for (std::uint32_t i = 0; i < megabytes; ++i) e.data += piece;
  e.data += end;
  const uLong one = ::crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), kMiB);
  uLong crc = 0;
  for (std::uint32_t i = 0; i < megabytes; ++i) crc = i == 0 ? one : ::crc32_combine(crc, one, kMiB);
  e.crc = static_cast<std::uint32_t>(crc);
  e.size = megabytes * kMiB;
  return e;
}

inline bool writeRawZip(const std::filesystem::path& path, const std::vector<RawZipEntry>& entries) {
  std::string out, central;
  auto u16 = [](std::string& s, std::uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
  };
  auto u32 = [&](std::string& s, std::uint32_t v) {
    u16(s, v & 0xFFFF);
    u16(s, v >> 16);
  };
  for (const RawZipEntry& e : entries) {
    const auto offset = static_cast<std::uint32_t>(out.size());
    auto common = [&](std::string& s) {
      u16(s, 20);     // version needed
      u16(s, 0x800);  // UTF-8 name
      u16(s, e.method);
      u16(s, 0);
      u16(s, 0x21);  // 1980-01-01
      u32(s, e.crc);
      u32(s, static_cast<std::uint32_t>(e.data.size()));
      u32(s, e.size);
      u16(s, static_cast<std::uint32_t>(e.name.size()));
      u16(s, 0);
    };
    u32(out, 0x04034b50);
    common(out);
    out += e.name;
    out += e.data;
    u32(central, 0x02014b50);
    u16(central, (3u << 8) | 20);  // made on Unix
    common(central);
    u16(central, 0);  // comment
    u16(central, 0);  // disk
    u16(central, 0);  // internal attributes
    u32(central, e.unixMode << 16);
    u32(central, offset);
    central += e.name;
  }
  const auto centralOffset = static_cast<std::uint32_t>(out.size());
  out += central;
  u32(out, 0x06054b50);
  u16(out, 0);
  u16(out, 0);
  u16(out, static_cast<std::uint32_t>(entries.size()));
  u16(out, static_cast<std::uint32_t>(entries.size()));
  u32(out, static_cast<std::uint32_t>(central.size()));
  u32(out, centralOffset);
  u16(out, 0);
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(out.data(), static_cast<std::streamsize>(out.size()));
  return static_cast<bool>(f);
}

// The parts of a drawing (from vsdxParts) as stored entries.
inline std::vector<RawZipEntry> storedEntries(const std::vector<std::pair<std::string, std::string>>& parts) {
  std::vector<RawZipEntry> out;
  for (const auto& [name, content] : parts) out.push_back(storedEntry(name, content));
  return out;
}

}  // namespace testsupport
