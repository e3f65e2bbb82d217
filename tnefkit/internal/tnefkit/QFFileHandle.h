#pragma once
// Bounded little-endian readers over byte buffers, and a buffered read handle on a file.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "tnefkit/QFReadType.h"
#include "tnefkit/payload.h"

// The little-endian value at the start of `data`; 0 when `data` is shorter than the value.
std::uint32_t readUint32(QFBytes data);
std::uint16_t readUint16(QFBytes data);
std::uint8_t readUint8(QFBytes data);

// A buffered read handle on one file. Reads never return more than the file holds.
class QFFileHandle {
 public:
  // Null when the file cannot be opened for reading (or is not a regular file).
  static std::unique_ptr<QFFileHandle> fileHandleForReadingAtPath(const std::filesystem::path& path);
  ~QFFileHandle();
  QFFileHandle(const QFFileHandle&) = delete;
  QFFileHandle& operator=(const QFFileHandle&) = delete;

  // The value read at the position (0 when fewer bytes remain); the position advances by
  // the bytes actually read.
  std::uint32_t readUint32();
  std::uint16_t readUint16();
  std::uint8_t readUint8();

  // Reads up to `length` bytes into `out`; answers how many were read.
  std::size_t readBytes(void* out, std::size_t length);
  // Up to `length` bytes; never allocates more than the bytes that remain.
  QFData readDataOfLength(std::uint64_t length);
  // Hands the next `length` bytes to `sink` slice by slice, through the read buffer, without
  // keeping them; answers how many were read (fewer at the end of the file).
  std::uint64_t consume(std::uint64_t length, const std::function<void(QFBytes)>& sink);

  // The open file itself, for data left in it.
  const std::shared_ptr<const tnefkit::SourceFile>& file() const { return file_; }

  std::uint64_t offsetInFile() const { return offset_; }
  // The file's size when it was opened.
  std::uint64_t fileSize() const { return size_; }
  std::uint64_t bytesRemaining() const { return offset_ < size_ ? size_ - offset_ : 0; }
  void seekToFileOffset(std::uint64_t offset);

 private:
  QFFileHandle(std::shared_ptr<const tnefkit::SourceFile> file, std::uint64_t size);
  bool fill();

  std::shared_ptr<const tnefkit::SourceFile> file_;
  std::uint64_t size_;
  std::uint64_t offset_ = 0;      // logical position
  std::uint64_t bufStart_ = 0;    // file offset of buf_[0]
  std::size_t bufLen_ = 0;
  std::unique_ptr<std::uint8_t[]> buf_;
};
