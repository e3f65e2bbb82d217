#pragma once
// Where a fuzz target puts its input as a file: a folder of the process's own, made on first
// use and removed at exit.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace testsupport {

inline const std::filesystem::path& fuzzScratch() {
  static const std::filesystem::path dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "lectern-fuzz-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    return std::filesystem::path(tmpl);
  }();
  // Registered once dir is made, so that it runs before dir is destroyed.
  static const bool cleanup = (std::atexit([] { std::filesystem::remove_all(dir); }), true);
  (void)cleanup;
  return dir;
}

// Writes the input to `name` in the scratch folder, replacing the last one, and answers its path.
inline std::filesystem::path writeFuzzInput(std::string_view name, const std::uint8_t* data, std::size_t size) {
  const auto path = fuzzScratch() / name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  return path;
}

}  // namespace testsupport
