#pragma once
// A VSDX package read in place: its parts come straight out of the zip file, nothing is unpacked.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct zip;

namespace diagramkit {

class VSDXPackage {
 public:
  // Nothing when the file is not a zip package; `error` says why.
  static std::unique_ptr<VSDXPackage> open(const std::filesystem::path& path, std::string* error = nullptr);
  ~VSDXPackage();
  VSDXPackage(const VSDXPackage&) = delete;
  VSDXPackage& operator=(const VSDXPackage&) = delete;

  // The bytes of the part `name` ("visio/pages/page1.xml"); nothing when it is absent,
  // unreadable or larger than `maxBytes`.
  std::optional<std::string> read(std::string_view name, std::size_t maxBytes = kMaxPartBytes) const;

  static constexpr std::size_t kMaxPartBytes = std::size_t{256} << 20;

 private:
  explicit VSDXPackage(struct zip* archive) : archive_(archive) {}
  struct zip* archive_;
};

// The part a relationship of `sourcePart` points at: `target` taken relative to the source's
// folder (or to the package root when it starts with "/"), with "." and ".." folded. Nothing for
// a target that leaves the package, names a scheme ("http:", "file:") or is empty.
std::optional<std::string> resolvePartTarget(std::string_view sourcePart, std::string_view target);

}  // namespace diagramkit
