#pragma once
// The bytes the decoders hand to the model: small ones held in memory, large ones left in
// the container file, which stays open, and read again (and checked) when they are wanted.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "tnefkit/QFReadType.h"

namespace tnefkit {

// The container file of one parse, open for reading for as long as anything decoded from it
// lives, so that its data can be copied from it after the parse. A file replaced or removed
// meanwhile is still read as it was; one changed in place no longer matches its digests.
class SourceFile {
 public:
  // Takes `fd`, an open descriptor of the file at `path`.
  SourceFile(int fd, std::filesystem::path path);
  ~SourceFile();
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Up to `length` bytes at `offset`; answers how many were read (fewer at the end of the
  // file or on a read error).
  std::size_t readAt(void* out, std::size_t length, std::uint64_t offset) const;

 private:
  int fd_;
  std::filesystem::path path_;
};

// The 16-bit byte sum of the records' checksums, continued from `sum`.
std::uint16_t byteSum(QFBytes bytes, std::uint16_t sum = 0);

// A 64-bit digest of a run of bytes, the same however the run is cut into slices. It tells
// whether a file still holds what was read from it, not whether anyone tampered with it.
class Digest {
 public:
  Digest();
  void add(QFBytes bytes);
  std::uint64_t value() const;

 private:
  void stripe(const std::uint8_t* p);

  std::uint64_t lanes_[4];
  std::uint8_t pending_[32];
  std::size_t pendingSize_ = 0;
  std::uint64_t total_ = 0;
};

// Receives the bytes of a payload slice by slice; false stops the reading.
using SliceSink = std::function<bool(QFBytes)>;

class Payload {
 public:
  // The largest value or record that a parse holds in memory. Larger ones (attachment data,
  // bodies, anything nothing reads) stay in the file; names, dates and code pages are smaller.
  static constexpr std::uint64_t kHeldInMemory = 1024;
  // The largest slice read() hands over.
  static constexpr std::size_t kSlice = 256 * 1024;

  Payload() = default;
  Payload(QFData bytes);
  // `length` bytes at `offset` of `file`, whose digest was `digest` when the parse read them.
  static Payload inFile(std::shared_ptr<const SourceFile> file, std::uint64_t offset, std::uint64_t length,
                        std::uint64_t digest);

  // What a payload left in the file holds in memory, whatever its size.
  static std::uint64_t inFileCost();

  std::uint64_t size() const { return file_ ? length_ : memory_.size(); }
  bool empty() const { return size() == 0; }
  bool isInFile() const { return file_ != nullptr; }

  // Hands every byte to `sink`, in order: bytes in memory at once, bytes in the file in
  // slices of at most kSlice, read from it; those must still have their digest for read() to
  // answer true. False
  // (with a log line, and `why` set) when the file no longer holds them, or when `sink`
  // answers false. A caller that must not act on changed bytes keeps what it was handed
  // provisional until read() answers.
  bool read(const SliceSink& sink, std::string* why = nullptr) const;
  // The bytes in memory: those held, or the range read once (charged to the parse running on
  // this thread, if any) and kept. Empty when the file no longer holds them.
  const QFData& bytes() const;
  // A copy of the bytes in memory, read from the file each time (empty when the file no
  // longer holds them).
  QFData copy() const;
  // Up to `n` leading bytes, unchecked: for descriptions.
  QFData prefix(std::size_t n) const;

 private:
  struct Loaded {
    std::once_flag once;
    QFData bytes;
  };

  QFData memory_;
  std::shared_ptr<const SourceFile> file_;
  std::uint64_t offset_ = 0;
  std::uint64_t length_ = 0;
  std::uint64_t digest_ = 0;
  std::shared_ptr<Loaded> loaded_;
};

}  // namespace tnefkit
