#include "tnefkit/QFReadType.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tnefkit/QFFileHandle.h"

namespace {
constexpr std::size_t kBufferSize = 256 * 1024;
}

std::uint32_t uint32Value(const void* pointer) {
  const auto* p = static_cast<const std::uint8_t*>(pointer);
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

std::uint16_t uint16Value(const void* pointer) {
  const auto* p = static_cast<const std::uint8_t*>(pointer);
  return std::uint16_t(p[0] | p[1] << 8);
}

std::uint32_t readUint32(QFBytes data) { return data.size() < 4 ? 0 : uint32Value(data.data()); }
std::uint16_t readUint16(QFBytes data) { return data.size() < 2 ? 0 : uint16Value(data.data()); }
std::uint8_t readUint8(QFBytes data) { return data.empty() ? 0 : data[0]; }

std::unique_ptr<QFFileHandle> QFFileHandle::fileHandleForReadingAtPath(const std::filesystem::path& path) {
  // Non-blocking, so that a FIFO or device is refused instead of waiting for a writer.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  auto file = std::make_shared<const tnefkit::SourceFile>(fd, path);
  return std::unique_ptr<QFFileHandle>(new QFFileHandle(std::move(file), static_cast<std::uint64_t>(st.st_size)));
}

QFFileHandle::QFFileHandle(std::shared_ptr<const tnefkit::SourceFile> file, std::uint64_t size)
    : file_(std::move(file)), size_(size), buf_(new std::uint8_t[kBufferSize]) {}

QFFileHandle::~QFFileHandle() = default;

bool QFFileHandle::fill() {
  bufStart_ = offset_;
  bufLen_ = file_->readAt(buf_.get(), kBufferSize, offset_);
  return bufLen_ > 0;
}

std::size_t QFFileHandle::readBytes(void* out, std::size_t length) {
  auto* dst = static_cast<std::uint8_t*>(out);
  std::size_t done = 0;
  while (done < length) {
    if (offset_ >= bufStart_ && offset_ < bufStart_ + bufLen_) {
      std::size_t at = static_cast<std::size_t>(offset_ - bufStart_);
      std::size_t n = std::min(length - done, bufLen_ - at);
      std::memcpy(dst + done, buf_.get() + at, n);
      done += n;
      offset_ += n;
      continue;
    }
    std::size_t want = length - done;
    if (want >= kBufferSize) {
      // Large reads go straight into the destination.
      const std::size_t n = file_->readAt(dst + done, want, offset_);
      if (n == 0) break;
      done += n;
      offset_ += n;
      continue;
    }
    if (!fill()) break;
  }
  return done;
}

std::uint64_t QFFileHandle::consume(std::uint64_t length, const std::function<void(QFBytes)>& sink) {
  std::uint64_t done = 0;
  while (done < length) {
    if (offset_ < bufStart_ || offset_ >= bufStart_ + bufLen_) {
      if (!fill()) break;
    }
    const auto at = static_cast<std::size_t>(offset_ - bufStart_);
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, bufLen_ - at));
    sink(QFBytes(buf_.get() + at, n));
    done += n;
    offset_ += n;
  }
  return done;
}

QFData QFFileHandle::readDataOfLength(std::uint64_t length) {
  length = std::min(length, bytesRemaining());
  QFData data(static_cast<std::size_t>(length));
  data.resize(readBytes(data.data(), data.size()));
  return data;
}

std::uint32_t QFFileHandle::readUint32() {
  std::uint8_t b[4];
  return readBytes(b, 4) == 4 ? uint32Value(b) : 0;
}

std::uint16_t QFFileHandle::readUint16() {
  std::uint8_t b[2];
  return readBytes(b, 2) == 2 ? uint16Value(b) : 0;
}

std::uint8_t QFFileHandle::readUint8() {
  std::uint8_t b = 0;
  return readBytes(&b, 1) == 1 ? b : 0;
}

void QFFileHandle::seekToFileOffset(std::uint64_t offset) { offset_ = offset; }
