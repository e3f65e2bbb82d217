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

bool extract(zip_t* za, zip_uint64_t index, const fs::path& target, std::string& why) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    why = errno == EEXIST ? "the name is taken" : std::generic_category().message(errno);
    return false;
  }
  zip_file_t* in = zip_fopen_index(za, index, 0);
  bool ok = in != nullptr;
  char buffer[1 << 16];
  while (ok) {
    const zip_int64_t n = zip_fread(in, buffer, sizeof buffer);
    if (n < 0) {
      ok = false;
      why = zip_file_strerror(in);
      break;
    }
    if (n == 0) break;
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

struct Packed {
  std::string name;  // in the archive
  fs::path path;     // on disk
  bool folder = false;
};

void collect(const fs::path& path, const std::string& name, std::vector<Packed>& out) {
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(path, ec);
  if (ec) return;
  if (fs::is_directory(st)) {
    out.push_back({name + "/", path, true});
    std::vector<fs::path> children;
    for (const auto& entry : fs::directory_iterator(path, ec)) children.push_back(entry.path());
    std::sort(children.begin(), children.end());
    for (const fs::path& child : children) collect(child, name + "/" + child.filename().string(), out);
  } else if (fs::is_regular_file(st)) {
    out.push_back({name, path, false});
  }
}

}  // namespace

bool unzipInto(const fs::path& archive, const fs::path& into, std::string* error, std::vector<std::string>* refused) {
  int code = 0;
  zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY, &code);
  if (za == nullptr) {
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    setError(error, archive.string() + ": " + zip_error_strerror(&e));
    zip_error_fini(&e);
    return false;
  }
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
    if (!extract(za, index, parent / parts.back(), why)) refuse(why);
  }
  zip_discard(za);
  return true;
}

bool zipMove(const fs::path& folder, const std::vector<std::string>& items, const fs::path& archive,
             std::string* error) {
  std::vector<Packed> packed;
  for (const std::string& item : items) collect(folder / item, item, packed);
  int code = 0;
  zip_t* za = zip_open(archive.c_str(), ZIP_CREATE | ZIP_EXCL, &code);
  if (za == nullptr) {
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    setError(error, archive.string() + ": " + zip_error_strerror(&e));
    zip_error_fini(&e);
    return false;
  }
  auto fail = [&](const std::string& why) {
    setError(error, why);
    zip_discard(za);
    std::error_code ec;
    fs::remove(archive, ec);
    return false;
  };
  for (const Packed& p : packed) {
    zip_int64_t index = -1;
    if (p.folder) {
      index = zip_dir_add(za, p.name.c_str(), ZIP_FL_ENC_UTF_8);
    } else {
      zip_source_t* source = zip_source_file(za, p.path.c_str(), 0, -1);
      if (source == nullptr) return fail(p.path.string() + ": " + zip_strerror(za));
      index = zip_file_add(za, p.name.c_str(), source, ZIP_FL_ENC_UTF_8);
      if (index < 0) zip_source_free(source);
    }
    if (index < 0) return fail(p.name + ": " + zip_strerror(za));
    // No attributes of the packing system travel with the entry.
    zip_file_set_external_attributes(za, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_DOS, 0);
  }
  if (zip_close(za) != 0) return fail(archive.string() + ": " + zip_strerror(za));
  std::error_code ec;
  for (const std::string& item : items) fs::remove_all(folder / item, ec);
  return true;
}

}  // namespace diagramkit
