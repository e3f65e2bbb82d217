#include "diagramkit/engine/VSDXPackage.h"

#include <zip.h>

#include <vector>

namespace diagramkit {

std::unique_ptr<VSDXPackage> VSDXPackage::open(const std::filesystem::path& path, std::string* error) {
  int code = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &code);
  if (archive == nullptr) {
    if (error != nullptr) {
      zip_error_t ze;
      zip_error_init_with_code(&ze, code);
      *error = "cannot open " + path.string() + " as a package: " + zip_error_strerror(&ze);
      zip_error_fini(&ze);
    }
    return nullptr;
  }
  return std::unique_ptr<VSDXPackage>(new VSDXPackage(archive));
}

VSDXPackage::~VSDXPackage() { zip_discard(archive_); }

std::optional<std::string> VSDXPackage::read(std::string_view name, std::size_t maxBytes) const {
  const std::string key(name);
  const zip_int64_t index = zip_name_locate(archive_, key.c_str(), 0);
  if (index < 0) return std::nullopt;
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(archive_, static_cast<zip_uint64_t>(index), 0, &st) != 0 || (st.valid & ZIP_STAT_SIZE) == 0 ||
      st.size > maxBytes) {
    return std::nullopt;
  }
  zip_file_t* file = zip_fopen_index(archive_, static_cast<zip_uint64_t>(index), 0);
  if (file == nullptr) return std::nullopt;
  std::string out(static_cast<std::size_t>(st.size), '\0');
  std::size_t done = 0;
  while (done < out.size()) {
    const zip_int64_t n = zip_fread(file, out.data() + done, out.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool ok = done == out.size();
  zip_fclose(file);
  if (!ok) return std::nullopt;
  return out;
}

std::optional<std::string> resolvePartTarget(std::string_view sourcePart, std::string_view target) {
  if (target.empty() || target.find('\\') != std::string_view::npos) return std::nullopt;
  // A scheme ends before the first "/" (a relative path may hold ":" only after one).
  const std::size_t colon = target.find(':');
  if (colon != std::string_view::npos && colon < target.find('/')) return std::nullopt;
  std::vector<std::string_view> segments;
  auto fold = [&segments](std::string_view path) {
    while (!path.empty()) {
      const std::size_t slash = path.find('/');
      const std::string_view seg = path.substr(0, slash);
      path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
      if (seg.empty() || seg == ".") continue;
      if (seg == "..") {
        if (segments.empty()) return false;
        segments.pop_back();
      } else {
        segments.push_back(seg);
      }
    }
    return true;
  };
  if (target.front() != '/') {
    const std::size_t slash = sourcePart.rfind('/');
    if (slash != std::string_view::npos && !fold(sourcePart.substr(0, slash))) return std::nullopt;
  }
  if (!fold(target) || segments.empty()) return std::nullopt;
  std::string out;
  for (std::string_view seg : segments) {
    if (!out.empty()) out += '/';
    out += seg;
  }
  return out;
}

}  // namespace diagramkit
