#include "tnefkit/mime_table.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <mutex>

namespace tnefkit {
namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

struct Choice {
  int weight = -1;
  std::string extension;
};

// weight:type:glob[:flags]; the heaviest "*.ext" glob wins, the first one on a tie.
void readGlobs2(const char* path, std::map<std::string, Choice>& table) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    auto a = line.find(':');
    auto b = a == std::string::npos ? a : line.find(':', a + 1);
    if (b == std::string::npos) continue;
    auto c = line.find(':', b + 1);
    std::string glob = line.substr(b + 1, c == std::string::npos ? std::string::npos : c - b - 1);
    if (glob.size() < 3 || glob.compare(0, 2, "*.") != 0) continue;
    std::string ext = glob.substr(2);
    if (ext.find_first_of("*?[]") != std::string::npos) continue;
    int weight = std::atoi(line.substr(0, a).c_str());
    Choice& slot = table[lower(line.substr(a + 1, b - a - 1))];
    if (weight > slot.weight) slot = {weight, ext};
  }
}

const std::map<std::string, Choice>& table() {
  static std::map<std::string, Choice>* t = [] {
    auto* m = new std::map<std::string, Choice>();
    readGlobs2("/usr/share/mime/globs2", *m);
    readGlobs2("/usr/local/share/mime/globs2", *m);
    // Common types first, so the answer does not depend on the system's database.
    const std::pair<const char*, const char*> builtIn[] = {
        {"text/plain", "txt"},          {"text/html", "html"},        {"text/rtf", "rtf"},
        {"application/rtf", "rtf"},     {"text/xml", "xml"},          {"application/xml", "xml"},
        {"text/csv", "csv"},            {"text/calendar", "ics"},     {"text/vcard", "vcf"},
        {"image/png", "png"},           {"image/jpeg", "jpg"},        {"image/jpg", "jpg"},
        {"image/gif", "gif"},           {"image/bmp", "bmp"},         {"image/tiff", "tiff"},
        {"image/svg+xml", "svg"},       {"application/pdf", "pdf"},   {"application/zip", "zip"},
        {"application/msword", "doc"},  {"application/vnd.ms-excel", "xls"},
        {"application/vnd.ms-powerpoint", "ppt"},
        {"application/vnd.openxmlformats-officedocument.wordprocessingml.document", "docx"},
        {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", "xlsx"},
        {"application/vnd.openxmlformats-officedocument.presentationml.presentation", "pptx"},
        {"message/rfc822", "eml"},      {"audio/mpeg", "mp3"},        {"audio/wav", "wav"},
        {"video/mp4", "mp4"},
    };
    for (auto [type, ext] : builtIn) (*m)[type] = {1000, ext};
    // Bytes of unknown kind have no preferred extension.
    m->erase("application/octet-stream");
    return m;
  }();
  return *t;
}

}  // namespace

std::optional<std::string> extensionForMimeType(std::string_view mimeType) {
  const auto& t = table();
  std::string key = lower(mimeType);
  while (!key.empty() && (key.back() == ' ' || key.back() == '\0')) key.pop_back();
  auto semicolon = key.find(';');
  if (semicolon != std::string::npos) key.erase(semicolon);
  auto it = t.find(key);
  if (it == t.end() || it->second.extension.empty()) return std::nullopt;
  return it->second.extension;
}

}  // namespace tnefkit
