#pragma once
// Byte buffers and the little-endian readers every decoder of the library uses.

#include <cstdint>
#include <span>
#include <vector>

#include "tnefkit/export.h"

using QFData = std::vector<std::uint8_t>;
using QFBytes = std::span<const std::uint8_t>;

// The little-endian value at `pointer`; the caller guarantees the bytes exist.
TNEFKIT_EXPORT std::uint32_t uint32Value(const void* pointer);
TNEFKIT_EXPORT std::uint16_t uint16Value(const void* pointer);
