#pragma once
// A VSDX package read in place with libzip: parts are read into memory, unpacked one by one
// into a folder, or copied as they are stored into a new package. Every road checks the same
// things once, when the package is opened:
// - an entry with an absolute name, a ".." component, a backslash or a link is refused (left
//   out, with a log line), and so is the second of two entries with one name;
// - a package with more than kMaxEntries entries, an entry that unpacks to more than
//   kMaxPartBytes or to more than kMaxRatio times its packed size (from kRatioFloorBytes up),
//   or entries that unpack to more than kMaxTotalBytes together, is not opened at all.
// Reading and unpacking never give more than an entry's stated size.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct zip;

namespace diagramkit {

class VSDXPackage {
 public:
  static constexpr std::size_t kMaxEntries = 10000;
  static constexpr std::size_t kMaxPartBytes = std::size_t{256} << 20;
  static constexpr std::uint64_t kMaxTotalBytes = std::uint64_t{1} << 30;
  // Above what deflate can reach (about 1032 : 1): a larger ratio is a stated size that lies or
  // a method made to blow up.
  static constexpr std::uint64_t kMaxRatio = 1100;
  static constexpr std::uint64_t kRatioFloorBytes = std::uint64_t{1} << 20;

  // Nothing when the file is not a zip package or is beyond the limits; `error` says why.
  static std::unique_ptr<VSDXPackage> open(const std::filesystem::path& path, std::string* error = nullptr);
  ~VSDXPackage();
  VSDXPackage(const VSDXPackage&) = delete;
  VSDXPackage& operator=(const VSDXPackage&) = delete;

  // The file entries that may be read, by their names with "." and empty components folded
  // away, in path order; and the names of the refused ones.
  const std::vector<std::string>& names() const { return names_; }
  const std::vector<std::string>& refused() const { return refused_; }

  // The bytes of the part `name` ("visio/pages/page1.xml"); nothing when it is absent,
  // unreadable (damaged data, a checksum that does not match) or larger than `maxBytes`.
  std::optional<std::string> read(std::string_view name, std::size_t maxBytes = kMaxPartBytes) const;

  // Unpacks the entry `name` below `into`, never over an existing file nor through a link;
  // answers its path, or an empty path (with `error`), leaving nothing behind.
  std::filesystem::path extract(const std::string& name, const std::filesystem::path& into,
                                std::string* error = nullptr) const;

  // Writes the new archive `archive` (which must not exist): the entries under `items` (an
  // item is a first name component, or a whole name), in the order of `items` and then of
  // their paths, each folder with an entry of its own, plus the files of `added` (name in the
  // archive -> file on disk) in their places; no extra file attributes. Entries are copied as
  // they are stored, never unpacked. Answers false, leaving no archive, when it cannot.
  bool packInto(const std::filesystem::path& archive, const std::vector<std::string>& items,
                const std::map<std::string, std::filesystem::path>& added, std::string* error = nullptr) const;

 private:
  struct Entry {
    std::uint64_t index;
    std::uint64_t size;
  };
  explicit VSDXPackage(struct zip* archive) : archive_(archive) {}
  struct zip* archive_;
  std::vector<std::string> names_;
  std::vector<std::string> refused_;
  std::map<std::string, Entry, std::less<>> entries_;
};

// The part a relationship of `sourcePart` points at: `target` taken relative to the source's
// folder (or to the package root when it starts with "/"), with "." and ".." folded. Nothing for
// a target that leaves the package, names a scheme ("http:", "file:") or is empty.
std::optional<std::string> resolvePartTarget(std::string_view sourcePart, std::string_view target);

}  // namespace diagramkit
