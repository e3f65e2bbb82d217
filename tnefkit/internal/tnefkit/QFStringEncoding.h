#pragma once
// Decoding of the container's 8-bit strings.

#include <cstdint>
#include <string>

#include "tnefkit/QFReadType.h"

class QFStringEncoding {
 public:
  // The ICU converter name used for 8-bit text that carries no code page and is not UTF-8,
  // chosen from the default locale's language and country.
  static std::string defaultStringEncoding();

  // `bytes` as UTF-8: with the container's code page when `codePage` is non-zero and known,
  // else as they are when they are valid UTF-8, else with defaultStringEncoding().
  // Unconvertible bytes become U+FFFD; never fails.
  static std::string decode(QFBytes bytes, std::uint32_t codePage = 0);

  // The ICU converter name for a Windows code page number, or "" when ICU has none.
  static std::string converterNameForCodePage(std::uint32_t codePage);
};
