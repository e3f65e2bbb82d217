#pragma once
// What qpdf reports goes to the log sink, never to stderr. For the units that drive qpdf (the
// header needs qpdf's headers; foundation itself does not link qpdf).
//
//   QPDF pdf;
//   foundation::QpdfWarnings warnings(pdf, "reading " + path);  // after pdf: logs before it goes
//   pdf.processFile(path.c_str());
//
// A QPDF object's warnings are held back (qpdf stores them) and logged as one line when the
// guard goes: how many, and the first few. Output qpdf writes to its process-wide logger (warnings
// of objects that belong to no document) becomes one log line per line.

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFLogger.hh>

#include <cstddef>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/log.h"

namespace foundation {

namespace qpdf_detail {

// Lines written to it become log records; a line is held per thread until its end arrives.
template <LogLevel Level>
class LogPipeline : public Pipeline {
 public:
  LogPipeline() : Pipeline("log sink", nullptr) {}
  void write(unsigned char const* data, size_t len) override {
    std::string& line = pending();
    for (size_t i = 0; i < len; ++i) {
      const char c = static_cast<char>(data[i]);
      if (c == '\n') {
        emit(line);
      } else if (line.size() < 4096) {
        line += c;
      }
    }
  }
  void finish() override { emit(pending()); }

 private:
  static std::string& pending() {
    thread_local std::string line;
    return line;
  }
  static void emit(std::string& line) {
    if (!line.empty()) log(Level, "qpdf", line);
    line.clear();
  }
};

// qpdf's process-wide logger, which every QPDF object writes to unless given another, sent to
// the log sink (once, on first use).
inline void routeDefaultLogger() {
  static const bool routed = [] {
    const std::shared_ptr<QPDFLogger> logger = QPDFLogger::defaultLogger();
    logger->setInfo(std::make_shared<LogPipeline<LogLevel::Info>>());
    logger->setWarn(std::make_shared<LogPipeline<LogLevel::Warning>>());
    logger->setError(std::make_shared<LogPipeline<LogLevel::Error>>());
    return true;
  }();
  (void)routed;
}

}  // namespace qpdf_detail

// The warnings of one QPDF object, logged as one line when the guard goes (or at flush()).
class QpdfWarnings {
 public:
  // How many warnings the log line quotes.
  static constexpr size_t kQuoted = 3;

  QpdfWarnings(QPDF& pdf, std::string what) : pdf_(pdf), what_(std::move(what)) {
    qpdf_detail::routeDefaultLogger();
    pdf_.setSuppressWarnings(true);
  }
  ~QpdfWarnings() { flush(); }
  QpdfWarnings(const QpdfWarnings&) = delete;
  QpdfWarnings& operator=(const QpdfWarnings&) = delete;

  // Logs the warnings held so far, if any, and forgets them.
  void flush() {
    try {
      const std::vector<QPDFExc> warnings = pdf_.getWarnings();
      if (warnings.empty()) return;
      std::string line = what_ + ": " + std::to_string(warnings.size()) +
                         (warnings.size() == 1 ? " warning: " : " warnings: ");
      for (size_t i = 0; i < warnings.size() && i < kQuoted; ++i) line += (i ? "; " : "") + std::string(warnings[i].what());
      if (warnings.size() > kQuoted) line += "; ...";
      log(LogLevel::Warning, "qpdf", line);
    } catch (const std::exception&) {
      // Nothing to report with.
    }
  }

 private:
  QPDF& pdf_;
  std::string what_;
};

}  // namespace foundation
