#pragma once
// Collects what the process writes to stderr (file descriptor 2) while it lives, then puts
// stderr back. Only for a test that nothing else writes stderr from at the same time.

#include <cstdio>
#include <string>

#include <unistd.h>

namespace testsupport {

class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    saved_ = ::dup(2);
    file_ = std::tmpfile();
    if (saved_ >= 0 && file_) ::dup2(::fileno(file_), 2);
  }
  ~StderrCapture() {
    restore();
    if (file_) std::fclose(file_);
  }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Everything written so far.
  std::string text() {
    std::fflush(stderr);
    std::string out;
    if (!file_) return out;
    std::rewind(file_);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) out.append(buffer, n);
    std::fseek(file_, 0, SEEK_END);
    return out;
  }

  // Puts stderr back; text() still answers what was captured.
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
  }

 private:
  int saved_ = -1;
  std::FILE* file_ = nullptr;
};

}  // namespace testsupport
