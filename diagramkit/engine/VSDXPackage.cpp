#include "diagramkit/engine/VSDXPackage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "platform/foundation/log.h"

namespace fs = std::filesystem;

namespace diagramkit {

namespace {

constexpr std::string_view kLog = "diagramkit";

void setError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

// The name's components without "." and empty ones, or nothing when the name is absolute,
// climbs out, holds a backslash (a separator where the package was made) or names nothing.
bool safeComponents(std::string_view name, std::vector<std::string>& parts) {
  parts.clear();
  if (name.empty() || name.front() == '/' || name.find('\\') != std::string_view::npos) return false;
  while (!name.empty()) {
    const std::size_t slash = name.find('/');
    const std::string_view part = name.substr(0, slash);
    name = slash == std::string_view::npos ? std::string_view{} : name.substr(slash + 1);
    if (part == "..") return false;
    if (!part.empty() && part != ".") parts.emplace_back(part);
  }
  return !parts.empty();
}

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : "/") + part;
  return out;
}

bool isLink(zip_t* za, zip_uint64_t index) {
  zip_uint8_t opsys = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(za, index, 0, &opsys, &attributes) != 0) return false;
  return opsys == ZIP_OPSYS_UNIX && S_ISLNK(static_cast<mode_t>(attributes >> 16));
}

// Makes (or walks into) each folder; a component that is not a real folder stops it.
bool makeFolders(const fs::path& base, const std::vector<std::string>& parts, std::size_t count, fs::path& out) {
  out = base;
  for (std::size_t i = 0; i < count; ++i) {
    out /= parts[i];
    if (::mkdir(out.c_str(), 0755) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(out.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<VSDXPackage> VSDXPackage::open(const fs::path& path, std::string* error) {
  int code = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &code);
  if (archive == nullptr) {
    zip_error_t ze;
    zip_error_init_with_code(&ze, code);
    setError(error, "cannot open " + path.string() + " as a package: " + zip_error_strerror(&ze));
    zip_error_fini(&ze);
    return nullptr;
  }
  std::unique_ptr<VSDXPackage> p(new VSDXPackage(archive));
  auto fail = [&](const std::string& why) {
    setError(error, path.string() + " is refused: " + why);
    return nullptr;
  };
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  if (count < 0 || static_cast<zip_uint64_t>(count) > kMaxEntries)
    return fail("it holds more than " + std::to_string(kMaxEntries) + " entries");
  std::uint64_t total = 0;
  std::vector<std::string> parts;
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    const char* raw = zip_get_name(archive, index, 0);
    const std::string name = raw != nullptr ? raw : "";
    auto refuse = [&](const std::string& why) {
      foundation::log(foundation::LogLevel::Warning, kLog, "package entry refused (" + why + "): " + name);
      p->refused_.push_back(name);
    };
    if (!safeComponents(name, parts)) {
      refuse("absolute, outside the package or with a backslash");
      continue;
    }
    if (isLink(archive, index)) {
      refuse("a link");
      continue;
    }
    if (name.back() == '/') continue;  // a folder: made where its files need it
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive, index, 0, &st) != 0 || (st.valid & ZIP_STAT_SIZE) == 0 ||
        (st.valid & ZIP_STAT_COMP_SIZE) == 0) {
      refuse("no size");
      continue;
    }
    std::string clean = joined(parts);
    if (p->entries_.count(clean) != 0) {
      refuse("the name is taken");
      continue;
    }
    if (st.size > kMaxPartBytes)
      return fail("the entry " + name + " unpacks to more than " + std::to_string(kMaxPartBytes) + " bytes");
    if (st.size >= kRatioFloorBytes && st.comp_size < st.size / kMaxRatio)
      return fail("the entry " + name + " unpacks to more than " + std::to_string(kMaxRatio) +
                  " times its packed size");
    total += st.size;
    if (total > kMaxTotalBytes)
      return fail("its entries unpack to more than " + std::to_string(kMaxTotalBytes) + " bytes");
    p->entries_.emplace(clean, Entry{index, st.size});
    p->names_.push_back(std::move(clean));
  }
  std::sort(p->names_.begin(), p->names_.end(),
            [](const std::string& a, const std::string& b) { return fs::path(a) < fs::path(b); });
  return p;
}

VSDXPackage::~VSDXPackage() { zip_discard(archive_); }

std::optional<std::string> VSDXPackage::read(std::string_view name, std::size_t maxBytes) const {
  const auto it = entries_.find(name);
  if (it == entries_.end() || it->second.size > maxBytes) return std::nullopt;
  zip_file_t* file = zip_fopen_index(archive_, it->second.index, 0);
  if (file == nullptr) return std::nullopt;
  std::string out(static_cast<std::size_t>(it->second.size), '\0');
  std::size_t done = 0;
  while (done < out.size()) {
    const zip_int64_t n = zip_fread(file, out.data() + done, out.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  // Read on to the end: nothing more may come, and the checksum is checked there.
  char more = 0;
  const bool ok = done == out.size() && zip_fread(file, &more, 1) == 0;
  zip_fclose(file);
  if (!ok) return std::nullopt;
  return out;
}

fs::path VSDXPackage::extract(const std::string& name, const fs::path& into, std::string* error) const {
  const auto it = entries_.find(name);
  if (it == entries_.end()) {
    setError(error, "no entry " + name);
    return {};
  }
  std::vector<std::string> parts;
  safeComponents(name, parts);
  fs::path parent;
  if (!makeFolders(into, parts, parts.size() - 1, parent)) {
    setError(error, "cannot make the folder of " + name);
    return {};
  }
  const fs::path target = parent / parts.back();
  const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    setError(error, name + ": " + (errno == EEXIST ? "the name is taken" : std::generic_category().message(errno)));
    return {};
  }
  std::string why;
  zip_file_t* in = zip_fopen_index(archive_, it->second.index, 0);
  if (in == nullptr) why = zip_strerror(archive_);
  std::uint64_t total = 0;
  char buffer[1 << 16];
  while (in != nullptr && why.empty()) {
    const zip_int64_t n = zip_fread(in, buffer, sizeof buffer);
    if (n < 0) {
      why = zip_file_strerror(in);
      break;
    }
    if (n == 0) break;
    total += static_cast<std::uint64_t>(n);
    if (total > it->second.size) {
      why = "more data than its stated " + std::to_string(it->second.size) + " bytes";
      break;
    }
    for (zip_int64_t done = 0; done < n;) {
      const ssize_t w = ::write(fd, buffer + done, static_cast<std::size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        why = std::generic_category().message(errno);
        break;
      }
      done += w;
    }
  }
  if (in != nullptr) zip_fclose(in);
  if (::close(fd) != 0 && why.empty()) why = std::generic_category().message(errno);
  if (why.empty() && total != it->second.size) why = "less data than its stated size";
  if (!why.empty()) {
    ::unlink(target.c_str());
    setError(error, name + ": " + why);
    return {};
  }
  return target;
}

namespace {

// The packed names as a tree: a folder maps its children's names to them.
struct Node {
  std::map<std::string, Node> children;
  bool file = false;
};

void addPath(Node& root, const std::string& name) {
  Node* n = &root;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = name.find('/', start);
    n = &n->children[name.substr(start, slash == std::string::npos ? std::string::npos : slash - start)];
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  n->file = true;
}

void order(const Node& n, const std::string& name, std::vector<std::pair<std::string, bool>>& out) {
  if (n.file) {
    out.emplace_back(name, false);
    return;
  }
  out.emplace_back(name + "/", true);
  for (const auto& [child, node] : n.children) order(node, name + "/" + child, out);
}

}  // namespace

bool VSDXPackage::packInto(const fs::path& archive, const std::vector<std::string>& items,
                           const std::map<std::string, fs::path>& added, std::string* error) const {
  Node root;
  auto firstComponent = [](const std::string& name) { return name.substr(0, name.find('/')); };
  auto wanted = [&](const std::string& name) {
    return std::find(items.begin(), items.end(), firstComponent(name)) != items.end();
  };
  for (const std::string& name : names_)
    if (wanted(name)) addPath(root, name);
  for (const auto& [name, path] : added)
    if (wanted(name)) addPath(root, name);
  std::vector<std::pair<std::string, bool>> packed;
  for (const std::string& item : items) {
    auto it = root.children.find(item);
    if (it != root.children.end()) order(it->second, item, packed);
  }
  if (packed.empty()) {  // libzip writes no file for an archive without entries
    setError(error, "the package holds none of a drawing's parts");
    return false;
  }
  int code = 0;
  zip_t* out = zip_open(archive.c_str(), ZIP_CREATE | ZIP_EXCL, &code);
  if (out == nullptr) {
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    setError(error, archive.string() + ": " + zip_error_strerror(&e));
    zip_error_fini(&e);
    return false;
  }
  auto fail = [&](const std::string& why) {
    setError(error, why);
    zip_discard(out);
    std::error_code ec;
    fs::remove(archive, ec);
    return false;
  };
  for (const auto& [name, folder] : packed) {
    zip_int64_t index = -1;
    if (folder) {
      index = zip_dir_add(out, name.c_str(), ZIP_FL_ENC_UTF_8);
    } else {
      zip_source_t* source = nullptr;
      if (auto a = added.find(name); a != added.end()) {
        source = zip_source_file(out, a->second.c_str(), 0, -1);
      } else {
        // The entry's data as it is stored, not unpacked and packed again.
        source = zip_source_zip(out, archive_, entries_.find(name)->second.index, ZIP_FL_COMPRESSED, 0, -1);
      }
      if (source == nullptr) return fail(name + ": " + zip_strerror(out));
      index = zip_file_add(out, name.c_str(), source, ZIP_FL_ENC_UTF_8);
      if (index < 0) zip_source_free(source);
    }
    if (index < 0) return fail(name + ": " + zip_strerror(out));
    // No attributes of the packing system travel with the entry.
    zip_file_set_external_attributes(out, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_DOS, 0);
  }
  if (zip_close(out) != 0) return fail(archive.string() + ": " + zip_strerror(out));
  return true;
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
