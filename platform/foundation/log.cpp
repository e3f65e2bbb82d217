#include "platform/foundation/log.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace foundation {
namespace {

// Debug lines (matches, paths, layout steps) are for developers: stderr shows them only in a
// debug build.
#ifdef NDEBUG
constexpr bool kDebugLines = false;
#else
constexpr bool kDebugLines = true;
#endif

struct Sink {
  std::mutex mutex;
  std::shared_ptr<LogSink> sink;
};

Sink& sinkHolder() {
  static auto* s = new Sink();
  return *s;
}

const char* levelName(LogLevel l) {
  switch (l) {
    case LogLevel::Debug: return "debug";
    case LogLevel::Info: return "info";
    case LogLevel::Warning: return "warning";
    case LogLevel::Error: return "error";
  }
  return "?";
}

}  // namespace

bool printsDebugLines() { return kDebugLines; }

void log(LogLevel level, std::string_view category, std::string_view message) {
  std::shared_ptr<LogSink> sink;
  {
    auto& h = sinkHolder();
    std::lock_guard lock(h.mutex);
    sink = h.sink;
  }
  LogRecord r{level, std::string(category), std::string(message)};
  if (sink && *sink) {
    (*sink)(r);
  } else if (level != LogLevel::Debug || kDebugLines) {
    std::fprintf(stderr, "[%s] %s: %s\n", levelName(level), r.category.c_str(), r.message.c_str());
  }
}

LogSink setLogSink(LogSink sink) {
  auto& h = sinkHolder();
  std::lock_guard lock(h.mutex);
  LogSink previous = h.sink ? *h.sink : LogSink();
  h.sink = sink ? std::make_shared<LogSink>(std::move(sink)) : nullptr;
  return previous;
}

struct ScopedLogCapture::State {
  mutable std::mutex mutex;
  std::vector<LogRecord> records;
};

ScopedLogCapture::ScopedLogCapture() : state_(std::make_shared<State>()) {
  std::shared_ptr<State> s = state_;
  previous_ = setLogSink([s](const LogRecord& r) {
    std::lock_guard lock(s->mutex);
    s->records.push_back(r);
  });
}

ScopedLogCapture::~ScopedLogCapture() {
  setLogSink(previous_);
}

std::vector<LogRecord> ScopedLogCapture::records() const {
  std::lock_guard lock(state_->mutex);
  return state_->records;
}

bool ScopedLogCapture::contains(std::string_view text) const {
  std::lock_guard lock(state_->mutex);
  for (const auto& r : state_->records) {
    if (r.message.find(text) != std::string::npos) return true;
  }
  return false;
}

}  // namespace foundation
