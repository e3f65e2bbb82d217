#pragma once
// Safe file names and exclusive, all-or-nothing file creation.

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tnefkit/QFReadType.h"
#include "tnefkit/payload.h"

namespace tnefkit {

// `name` reduced to one safe file-name component: the part after the last "/" or "\",
// without control characters, NUL or "..", at most 255 bytes (keeping the extension);
// "Untitled" when nothing is left.
std::string safeFileName(std::string_view name);

// The last extension of a file name ("" when there is none; a leading dot starts no extension).
std::string_view pathExtension(std::string_view name);
// The name without pathExtension() and its dot.
std::string_view deletingPathExtension(std::string_view name);

enum class OnExisting { Fail, Number };

// Creates `path` (its file name made safe, inside its folder) holding `chunks`, with mode
// 0644, never following a link and never replacing a file. With OnExisting::Number a taken
// name becomes "name (2).ext", "name (3).ext" and so on. The file appears whole or not at
// all. Answers the path written, or nothing (with a log line).
std::optional<std::filesystem::path> writeNewFile(const std::filesystem::path& path, std::span<const QFBytes> chunks,
                                                  OnExisting onExisting);

// The same with the contents made while the file is written: `produce` hands them to the
// sink it is given, slice by slice. When it answers false (having logged why), or a write
// fails, no file is left.
using Producer = std::function<bool(const SliceSink& sink)>;
std::optional<std::filesystem::path> writeNewFile(const std::filesystem::path& path, const Producer& produce,
                                                  OnExisting onExisting);

}  // namespace tnefkit
