#pragma once
// Collects what the process writes to file descriptor 2 while it lives (from any library and
// any thread), then puts the old stderr back.

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace testsupport {

class StderrCapture {
 public:
  StderrCapture() {
    flushAll();
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

  // Whether fd 2 was taken over.
  bool active() const { return saved_ >= 0 && file_ != nullptr; }

  // Puts stderr back; text() still answers what was captured.
  void restore() {
    if (saved_ < 0) return;
    flushAll();
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
  }

  // What was written so far.
  std::string text() const {
    flushAll();
    std::string out;
    if (!file_) return out;
    const int fd = ::fileno(file_);
    char buffer[4096];
    for (off_t at = 0;;) {
      const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
      if (n <= 0) break;
      out.append(buffer, static_cast<size_t>(n));
      at += n;
    }
    return out;
  }

 private:
  static void flushAll() {
    std::cerr.flush();
    std::clog.flush();
    std::fflush(stderr);
  }

  int saved_ = -1;
  std::FILE* file_ = nullptr;
};

}  // namespace testsupport
