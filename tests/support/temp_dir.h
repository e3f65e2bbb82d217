#pragma once
// A private temporary folder for one test, removed afterwards.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace testsupport {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "lectern-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

  // Writes `bytes` to `name` inside the folder and answers its path.
  std::filesystem::path write(std::string_view name, std::string_view bytes) const {
    auto p = path_ / name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return p;
  }

 private:
  std::filesystem::path path_;
};

// Points TMPDIR at `dir` (made if need be) while it lives, so that a test sees the temporary
// files the code under test makes.
class TmpdirOverride {
 public:
  explicit TmpdirOverride(const std::filesystem::path& dir) {
    if (const char* old = std::getenv("TMPDIR")) old_ = old;
    std::filesystem::create_directories(dir);
    ::setenv("TMPDIR", dir.c_str(), 1);
  }
  ~TmpdirOverride() {
    if (old_) {
      ::setenv("TMPDIR", old_->c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }
  TmpdirOverride(const TmpdirOverride&) = delete;
  TmpdirOverride& operator=(const TmpdirOverride&) = delete;

 private:
  std::optional<std::string> old_;
};

inline std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testsupport
