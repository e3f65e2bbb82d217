#pragma once
// Unpacking and packing ZIP packages in process (libzip); no tool and no shell is involved.
// Entry names never leave the folder they are unpacked into.

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct zip;

namespace diagramkit {

// Unpacks `archive` into the existing folder `into`. An entry with an absolute name, a ".."
// component, a link or a name already taken is refused and left out; the rest is written.
// Answers false (with `error`) when the archive cannot be read at all.
bool unzipInto(const std::filesystem::path& archive, const std::filesystem::path& into, std::string* error = nullptr,
               std::vector<std::string>* refused = nullptr);

// An open package, read in place: entries are unpacked one by one, and a new package is made
// by copying entries straight from this one.
class ZipPackage {
 public:
  // Nothing (with `error`) when the archive cannot be read.
  static std::unique_ptr<ZipPackage> open(const std::filesystem::path& archive, std::string* error = nullptr);
  ~ZipPackage();
  ZipPackage(const ZipPackage&) = delete;
  ZipPackage& operator=(const ZipPackage&) = delete;

  // The file entries that may be unpacked (no absolute name, no "..", no link; the first of
  // two with one name), in path order. The others are refused, with a log line.
  const std::vector<std::string>& names() const { return names_; }
  const std::vector<std::string>& refused() const { return refused_; }

  // Unpacks the entry `name` below `into`, never over an existing file; answers its path, or
  // an empty path (with `error`).
  std::filesystem::path extract(const std::string& name, const std::filesystem::path& into,
                                std::string* error = nullptr) const;

  // Writes the new archive `archive` (which must not exist): the entries under `items` (an
  // item is a first name component, or a whole name), in the order of `items` and then of
  // their paths, each folder with an entry of its own, plus the files of `added` (name in the
  // archive -> file on disk) in their places; no extra file attributes. Answers false, leaving
  // no archive, when it cannot.
  bool packInto(const std::filesystem::path& archive, const std::vector<std::string>& items,
                const std::map<std::string, std::filesystem::path>& added, std::string* error = nullptr) const;

 private:
  ZipPackage() = default;
  struct zip* za_ = nullptr;
  std::vector<std::string> names_;
  std::vector<std::string> refused_;
  std::map<std::string, unsigned long long> index_;  // name -> entry
};

}  // namespace diagramkit
