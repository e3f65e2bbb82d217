#pragma once
// The process-wide log sink: stderr by default; tests capture it. Every record reaches an
// installed sink; stderr shows debug lines only in a debug build (NDEBUG not defined).

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/export.h"

namespace foundation {

enum class LogLevel { Debug, Info, Warning, Error };

struct LogRecord {
  LogLevel level;
  std::string category;
  std::string message;
};

using LogSink = std::function<void(const LogRecord&)>;

FOUNDATION_EXPORT void log(LogLevel level, std::string_view category, std::string_view message);
// Whether stderr, the default sink, shows debug lines.
FOUNDATION_EXPORT bool printsDebugLines();

// Replaces the sink; nullptr restores stderr. Answers the previous sink.
FOUNDATION_EXPORT LogSink setLogSink(LogSink sink);

// Collects every log line while it lives (from any thread), then restores the previous sink.
class FOUNDATION_EXPORT ScopedLogCapture {
 public:
  ScopedLogCapture();
  ~ScopedLogCapture();
  ScopedLogCapture(const ScopedLogCapture&) = delete;
  ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;

  std::vector<LogRecord> records() const;
  // Yes when some captured message contains `text`.
  bool contains(std::string_view text) const;

 private:
  struct State;
  std::shared_ptr<State> state_;
  LogSink previous_;
};

}  // namespace foundation
