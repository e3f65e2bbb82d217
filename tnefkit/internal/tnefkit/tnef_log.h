#pragma once
// Log lines of the library (category "TnefKit") and a printf-style formatter.

#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/foundation/log.h"

namespace tnefkit {

inline void logError(std::string_view message) { foundation::log(foundation::LogLevel::Error, "TnefKit", message); }
inline void logWarning(std::string_view message) { foundation::log(foundation::LogLevel::Warning, "TnefKit", message); }
inline void logDebug(std::string_view message) { foundation::log(foundation::LogLevel::Debug, "TnefKit", message); }

[[gnu::format(printf, 1, 2)]] inline std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, args);
  va_end(args);
  return out;
}

}  // namespace tnefkit
