#pragma once
// MIME type to preferred file-name extension.

#include <optional>
#include <string>
#include <string_view>

namespace tnefkit {

// A small built-in table first, then the system's shared MIME globs. Case-insensitive;
// nothing for an unknown type.
std::optional<std::string> extensionForMimeType(std::string_view mimeType);

}  // namespace tnefkit
