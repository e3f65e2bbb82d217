#pragma once
// Builds small XPS packages: a zip of stored entries.

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
  void add(std::string name, std::string data) { entries_.emplace_back(std::move(name), std::move(data)); }

  std::string bytes() const {
    std::string out, central;
    for (const auto& [name, data] : entries_) {
      const uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
      const uint32_t size = static_cast<uint32_t>(data.size());
      const uint32_t offset = static_cast<uint32_t>(out.size());
      const uint16_t flags = 0;
      put32(out, 0x04034b50);
      put16(out, 20);
      put16(out, flags);
      put16(out, 0);  // stored
      put16(out, 0);
      put16(out, 0x21);
      put32(out, crc);
      put32(out, size);
      put32(out, size);
      put16(out, static_cast<uint16_t>(name.size()));
      put16(out, 0);
      out += name;
      out += data;
      put32(central, 0x02014b50);
      put16(central, 20);
      put16(central, 20);
      put16(central, flags);
      put16(central, 0);
      put16(central, 0);
      put16(central, 0x21);
      put32(central, crc);
      put32(central, size);
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
  static void put16(std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
  }
  static void put32(std::string& s, uint32_t v) {
    put16(s, static_cast<uint16_t>(v & 0xFFFF));
    put16(s, static_cast<uint16_t>(v >> 16));
  }
  std::vector<std::pair<std::string, std::string>> entries_;
};

// One fixed document whose pages have the given sizes (1/96 inch) and a filled rectangle each.
inline bool writeXpsPackage(const std::filesystem::path& path, const std::vector<std::pair<int, int>>& pageSizes) {
  const std::string ns = "http://schemas.microsoft.com/xps/2005/06";
  ZipWriter zip;
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
  for (size_t i = 0; i < pageSizes.size(); ++i) {
    const std::string name = "Documents/1/Pages/" + std::to_string(i + 1) + ".fpage";
    doc += "<PageContent Source=\"/" + name + "\"/>";
    const auto [w, h] = pageSizes[i];
    zip.add(name, "<FixedPage xmlns=\"" + ns + "\" Width=\"" + std::to_string(w) + "\" Height=\"" + std::to_string(h) +
                      "\" xml:lang=\"en-US\"><Path Data=\"M 0,0 L " + std::to_string(w / 2) + ",0 " +
                      std::to_string(w / 2) + "," + std::to_string(h / 2) + " 0," + std::to_string(h / 2) +
                      " Z\" Fill=\"#FF0000\"/></FixedPage>");
  }
  doc += "</FixedDocument>";
  zip.add("Documents/1/FixedDoc.fdoc", doc);
  std::ofstream out(path, std::ios::binary);
  const std::string bytes = zip.bytes();
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace testsupport
