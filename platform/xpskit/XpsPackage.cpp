#include "platform/xpskit/XpsPackage.h"

#include <zip.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <vector>

namespace xpskit {

namespace {

uint32_t le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

std::string zipError(zip_error_t* e) {
  std::string s = zip_error_strerror(e);
  zip_error_fini(e);
  return s;
}

}  // namespace

bool zipHasDataDescriptors(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 22) return false;
  const std::streamoff tail = std::min<std::streamoff>(size, 22 + 65535);
  std::vector<unsigned char> buf(static_cast<size_t>(tail));
  in.seekg(size - tail);
  if (!in.read(reinterpret_cast<char*>(buf.data()), tail)) return false;
  std::streamoff eocd = -1;
  for (std::streamoff i = tail - 22; i >= 0; --i) {
    if (le32(&buf[i]) == 0x06054b50) {
      eocd = i;
      break;
    }
  }
  if (eocd < 0) return false;
  const unsigned char* e = &buf[eocd];
  const uint16_t entries = le16(e + 10);
  const uint32_t cdSize = le32(e + 12);
  const uint32_t cdOffset = le32(e + 16);
  if (entries == 0xFFFF || cdSize == 0xFFFFFFFF || cdOffset == 0xFFFFFFFF) return true;
  if (std::streamoff(cdOffset) + cdSize > size) return true;
  std::vector<unsigned char> cd(cdSize);
  in.seekg(cdOffset);
  if (!in.read(reinterpret_cast<char*>(cd.data()), cdSize)) return true;
  size_t pos = 0;
  for (uint16_t n = 0; n < entries; ++n) {
    if (pos + 46 > cd.size() || le32(&cd[pos]) != 0x02014b50) return true;
    if (le16(&cd[pos + 8]) & 0x0008) return true;
    pos += 46 + le16(&cd[pos + 28]) + le16(&cd[pos + 30]) + le16(&cd[pos + 32]);
  }
  return false;
}

bool isXpsPackage(const std::string& path) {
  int code = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &code);
  if (!zip) return false;
  std::string rels;
  if (zip_file_t* f = zip_fopen(zip, "_rels/.rels", ZIP_FL_NOCASE)) {
    char buf[4096];
    zip_int64_t n;
    // The relationships of a package are small; a few pages of them are plenty.
    while (rels.size() < (1u << 20) && (n = zip_fread(f, buf, sizeof buf)) > 0) rels.append(buf, static_cast<size_t>(n));
    zip_fclose(f);
  }
  zip_discard(zip);
  // XPS names the relationship ".../fixedrepresentation" in both its namespaces.
  return rels.find("/fixedrepresentation") != std::string::npos;
}

bool repackZip(const std::string& source, const std::string& destination, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  int code = 0;
  zip_t* in = zip_open(source.c_str(), ZIP_RDONLY, &code);
  if (!in) {
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    return fail(zipError(&e));
  }
  zip_t* out = zip_open(destination.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (!out) {
    zip_close(in);
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    return fail(zipError(&e));
  }
  const zip_int64_t count = zip_get_num_entries(in, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* name = zip_get_name(in, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
    zip_source_t* src = name ? zip_source_zip(out, in, static_cast<zip_uint64_t>(i), 0, 0, -1) : nullptr;
    if (!src || zip_file_add(out, name, src, ZIP_FL_ENC_RAW) < 0) {
      if (src) zip_source_free(src);
      const std::string why = zip_strerror(out);
      zip_discard(out);
      zip_close(in);
      std::remove(destination.c_str());
      return fail(why);
    }
  }
  if (zip_close(out) < 0) {
    const std::string why = zip_strerror(out);
    zip_discard(out);
    zip_close(in);
    std::remove(destination.c_str());
    return fail(why);
  }
  zip_discard(in);
  return true;
}

}  // namespace xpskit
