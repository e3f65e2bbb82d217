#include "diagramkit/engine/ZipFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>

#include "platform/foundation/log.h"

namespace fs = std::filesystem;

namespace diagramkit {

namespace {

void setError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

// The name's components, or nothing when the name is absolute, empty or climbs out. A name
// made on Windows may climb out between backslashes, so ".." there is refused too; otherwise a
// backslash is an ordinary character of the name.
bool safeComponents(std::string_view name, std::vector<std::string>& parts) {
  parts.clear();
  if (name.empty() || name.front() == '/' || name.front() == '\\') return false;
  std::string part;
  std::string segment;
  for (char c : name) {
    if (c == '/' || c == '\\') {
      if (segment == "..") return false;
      segment.clear();
    } else {
      segment += c;
    }
    if (c == '/') {
      if (!part.empty() && part != ".") parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (segment == ".." || part == "..") return false;
  if (!part.empty() && part != ".") parts.push_back(part);
  return !parts.empty();
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

bool isLink(zip_t* za, zip_uint64_t index) {
  zip_uint8_t opsys = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(za, index, 0, &opsys, &attributes) != 0) return false;
  return opsys == ZIP_OPSYS_UNIX && S_ISLNK(static_cast<mode_t>(attributes >> 16));
}

// An entry that unpacks to more than this is refused: a package of a few kilobytes can claim
// gigabytes.
constexpr zip_int64_t kMaxEntryBytes = zip_int64_t{256} << 20;

bool extractEntry(zip_t* za, zip_uint64_t index, const fs::path& target, std::string& why) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    why = errno == EEXIST ? "the name is taken" : std::generic_category().message(errno);
    return false;
  }
  zip_file_t* in = zip_fopen_index(za, index, 0);
  bool ok = in != nullptr;
  zip_int64_t total = 0;
  char buffer[1 << 16];
  while (ok) {
    const zip_int64_t n = zip_fread(in, buffer, sizeof buffer);
    if (n < 0) {
      ok = false;
      why = zip_file_strerror(in);
      break;
    }
    if (n == 0) break;
    total += n;
    if (total > kMaxEntryBytes) {
      ok = false;
      why = "larger than " + std::to_string(kMaxEntryBytes) + " bytes";
      break;
    }
    for (zip_int64_t done = 0; done < n;) {
      const ssize_t w = ::write(fd, buffer + done, static_cast<std::size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        ok = false;
        why = std::generic_category().message(errno);
        break;
      }
      done += w;
    }
  }
  if (in == nullptr) why = zip_strerror(za);
  if (in != nullptr) zip_fclose(in);
  if (::close(fd) != 0) ok = false;
  if (!ok) ::unlink(target.c_str());
  return ok;
}


// Opens a package for reading; on failure says why under `error`.
zip_t* openForReading(const fs::path& archive, std::string* error) {
  int code = 0;
  zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY, &code);
  if (za == nullptr) {
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    setError(error, archive.string() + ": " + zip_error_strerror(&e));
    zip_error_fini(&e);
  }
  return za;
}

}  // namespace

bool unzipInto(const fs::path& archive, const fs::path& into, std::string* error, std::vector<std::string>* refused) {
  zip_t* za = openForReading(archive, error);
  if (za == nullptr) return false;
  const zip_int64_t count = zip_get_num_entries(za, 0);
  std::vector<std::string> parts;
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    const char* raw = zip_get_name(za, index, 0);
    const std::string name = raw != nullptr ? raw : "";
    auto refuse = [&](const std::string& why) {
      foundation::log(foundation::LogLevel::Warning, "diagramkit", "package entry refused (" + why + "): " + name);
      if (refused) refused->push_back(name);
    };
    if (!safeComponents(name, parts)) {
      refuse("absolute or outside the folder");
      continue;
    }
    if (isLink(za, index)) {
      refuse("a link");
      continue;
    }
    const bool folder = name.back() == '/';
    fs::path parent;
    if (!makeFolders(into, parts, folder ? parts.size() : parts.size() - 1, parent)) {
      refuse("its folder cannot be made");
      continue;
    }
    if (folder) continue;
    std::string why;
    if (!extractEntry(za, index, parent / parts.back(), why)) refuse(why);
  }
  zip_discard(za);
  return true;
}

std::unique_ptr<ZipPackage> ZipPackage::open(const fs::path& archive, std::string* error) {
  zip_t* za = openForReading(archive, error);
  if (za == nullptr) return nullptr;
  std::unique_ptr<ZipPackage> p(new ZipPackage());
  p->za_ = za;
  const zip_int64_t count = zip_get_num_entries(za, 0);
  std::vector<std::string> parts;
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    const char* raw = zip_get_name(za, index, 0);
    const std::string name = raw != nullptr ? raw : "";
    auto refuse = [&](const std::string& why) {
      foundation::log(foundation::LogLevel::Warning, "diagramkit", "package entry refused (" + why + "): " + name);
      p->refused_.push_back(name);
    };
    if (!safeComponents(name, parts)) {
      refuse("absolute or outside the folder");
    } else if (isLink(za, index)) {
      refuse("a link");
    } else if (name.back() != '/') {
      std::string clean;
      for (const std::string& part : parts) clean += (clean.empty() ? "" : "/") + part;
      if (!p->index_.emplace(clean, index).second) {
        refuse("the name is taken");
        continue;
      }
      p->names_.push_back(clean);
    }
  }
  std::sort(p->names_.begin(), p->names_.end(), [](const std::string& a, const std::string& b) { return fs::path(a) < fs::path(b); });
  return p;
}

ZipPackage::~ZipPackage() {
  if (za_ != nullptr) zip_discard(za_);
}

fs::path ZipPackage::extract(const std::string& name, const fs::path& into, std::string* error) const {
  const auto it = index_.find(name);
  if (it == index_.end()) {
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
  std::string why;
  const fs::path target = parent / parts.back();
  if (!extractEntry(za_, it->second, target, why)) {
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

bool ZipPackage::packInto(const fs::path& archive, const std::vector<std::string>& items,
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
        source = zip_source_zip(out, za_, index_.at(name), ZIP_FL_COMPRESSED, 0, -1);
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

}  // namespace diagramkit
