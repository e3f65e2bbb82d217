#pragma once
// Builds small XPS packages: a zip of stored (or deflated) entries.

#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class ZipWriter {
 public:
  // How entries are written: stored with their sizes in the local headers unless `deflated`
  // compresses them and `dataDescriptors` puts CRC and sizes after each entry's data (general
  // purpose flag bit 3), as streaming writers do.
  struct Options {
    bool deflated = false;
    bool dataDescriptors = false;
  };
  ZipWriter() = default;
  explicit ZipWriter(Options options) : options_(options) {}

  void add(std::string name, std::string data) { entries_.emplace_back(std::move(name), std::move(data)); }

  std::string bytes() const {
    std::string out, central;
    for (const auto& [name, data] : entries_) {
      const uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
      const std::string packed = options_.deflated ? deflateRaw(data) : data;
      const uint32_t size = static_cast<uint32_t>(data.size());
      const uint32_t packedSize = static_cast<uint32_t>(packed.size());
      const uint32_t offset = static_cast<uint32_t>(out.size());
      const uint16_t flags = options_.dataDescriptors ? 0x0008 : 0;
      const uint16_t method = options_.deflated ? 8 : 0;
      put32(out, 0x04034b50);
      put16(out, 20);
      put16(out, flags);
      put16(out, method);
      put16(out, 0);
      put16(out, 0x21);
      put32(out, options_.dataDescriptors ? 0 : crc);
      put32(out, options_.dataDescriptors ? 0 : packedSize);
      put32(out, options_.dataDescriptors ? 0 : size);
      put16(out, static_cast<uint16_t>(name.size()));
      put16(out, 0);
      out += name;
      out += packed;
      if (options_.dataDescriptors) {
        put32(out, 0x08074b50);
        put32(out, crc);
        put32(out, packedSize);
        put32(out, size);
      }
      put32(central, 0x02014b50);
      put16(central, 20);
      put16(central, 20);
      put16(central, flags);
      put16(central, method);
      put16(central, 0);
      put16(central, 0x21);
      put32(central, crc);
      put32(central, packedSize);
      put32(central, size);
      put16(central, static_cast<uint16_t>(name.size()));
      put16(central, 0);
      put16(central, 0);
      put16(central, 0);
      put16(central, 0);
      put32(central, 0);
      put32(central, offset);
      central += name;
    }
    const uint32_t cdOffset = static_cast<uint32_t>(out.size());
    out += central;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<uint16_t>(entries_.size()));
    put16(out, static_cast<uint16_t>(entries_.size()));
    put32(out, static_cast<uint32_t>(central.size()));
    put32(out, cdOffset);
    put16(out, 0);
    return out;
  }

 private:
  static std::string deflateRaw(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
  }
  static void put16(std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
  }
  static void put32(std::string& s, uint32_t v) {
    put16(s, static_cast<uint16_t>(v & 0xFFFF));
    put16(s, static_cast<uint16_t>(v >> 16));
  }
  Options options_;
  std::vector<std::pair<std::string, std::string>> entries_;
};

// `zip` (whole entries) with its end record pointing the central directory past the end of the
// file: a zip that zip libraries refuse and readers that go by the local headers still read.
inline std::string withDirectoryPastTheEnd(std::string zip) {
  const uint32_t past = static_cast<uint32_t>(zip.size() + 100);
  for (size_t i = 0; i < 4; ++i) zip[zip.size() - 6 + i] = static_cast<char>(past >> (8 * i));
  return zip;
}

inline const char* xpsNamespace() { return "http://schemas.microsoft.com/xps/2005/06"; }

// A page of a built package, `width` x `height` in 1/96 inch (also named in the fixed document).
// Its part holds `markup` (a whole FixedPage element) or, when that is empty, a page with a red
// rectangle over its top left quarter; a page that is not `inPackage` is named but has no part.
struct XpsPage {
  int width = 816;
  int height = 1056;
  std::string markup = {};
  bool inPackage = true;
};

// The entries of a package of one fixed document with these pages, added to `zip`.
inline void addXpsPackage(ZipWriter& zip, const std::vector<XpsPage>& pages) {
  const std::string ns = xpsNamespace();
  zip.add("[Content_Types].xml",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
          "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
          "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
          "<Default Extension=\"fdseq\" ContentType=\"application/vnd.ms-package.xps-fixeddocumentsequence+xml\"/>"
          "<Default Extension=\"fdoc\" ContentType=\"application/vnd.ms-package.xps-fixeddocument+xml\"/>"
          "<Default Extension=\"fpage\" ContentType=\"application/vnd.ms-package.xps-fixedpage+xml\"/>"
          "</Types>");
  zip.add("_rels/.rels",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
          "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"R0\" Type=\"http://schemas.microsoft.com/xps/2005/06/fixedrepresentation\" "
          "Target=\"/FixedDocSeq.fdseq\"/></Relationships>");
  zip.add("FixedDocSeq.fdseq", "<FixedDocumentSequence xmlns=\"" + ns +
                                   "\"><DocumentReference Source=\"/Documents/1/FixedDoc.fdoc\"/></FixedDocumentSequence>");
  std::string doc = "<FixedDocument xmlns=\"" + ns + "\">";
  for (size_t i = 0; i < pages.size(); ++i) {
    const std::string name = "Documents/1/Pages/" + std::to_string(i + 1) + ".fpage";
    const XpsPage& page = pages[i];
    const std::string w = std::to_string(page.width), h = std::to_string(page.height);
    doc += "<PageContent Source=\"/" + name + "\" Width=\"" + w + "\" Height=\"" + h + "\"/>";
    if (!page.inPackage) continue;
    if (!page.markup.empty()) {
      zip.add(name, page.markup);
      continue;
    }
    const std::string hw = std::to_string(page.width / 2), hh = std::to_string(page.height / 2);
    zip.add(name, "<FixedPage xmlns=\"" + ns + "\" Width=\"" + w + "\" Height=\"" + h +
                      "\" xml:lang=\"en-US\"><Path Data=\"M 0,0 L " + hw + ",0 " + hw + "," + hh + " 0," + hh +
                      " Z\" Fill=\"#FF0000\"/></FixedPage>");
  }
  doc += "</FixedDocument>";
  zip.add("Documents/1/FixedDoc.fdoc", doc);
}

inline bool writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

inline bool writeXpsPages(const std::filesystem::path& path, const std::vector<XpsPage>& pages, ZipWriter zip = {}) {
  addXpsPackage(zip, pages);
  return writeFile(path, zip.bytes());
}

// One fixed document whose pages have the given sizes (1/96 inch) and a filled rectangle each.
inline bool writeXpsPackage(const std::filesystem::path& path, const std::vector<std::pair<int, int>>& pageSizes) {
  std::vector<XpsPage> pages;
  for (const auto& [w, h] : pageSizes) pages.push_back({w, h});
  return writeXpsPages(path, pages);
}

}  // namespace testsupport
