#pragma once
// Unpacking and packing ZIP packages in process (libzip); no tool and no shell is involved.

#include <filesystem>
#include <string>
#include <vector>

namespace diagramkit {

// Unpacks `archive` into the existing folder `into`. An entry with an absolute name, a ".."
// component, a link or a name already taken is refused and left out; the rest is written.
// Answers false (with `error`) when the archive cannot be read at all.
bool unzipInto(const std::filesystem::path& archive, const std::filesystem::path& into, std::string* error = nullptr,
               std::vector<std::string>* refused = nullptr);

// Packs `items` (names relative to `folder`; folders recursively, in name order) into the new
// archive `archive`, which must not exist, with no extra file attributes. Once the archive is
// written the packed files and folders are removed from `folder`. Items that do not exist are
// skipped. Answers false (removing nothing, leaving no archive) when it cannot write it.
bool zipMove(const std::filesystem::path& folder, const std::vector<std::string>& items,
             const std::filesystem::path& archive, std::string* error = nullptr);

}  // namespace diagramkit
