#include "tnefkit/payload.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tnefkit/parse_budget.h"
#include "tnefkit/tnef_log.h"

namespace tnefkit {
namespace {

constexpr std::uint64_t kP1 = 0x9E3779B185EBCA87ull;
constexpr std::uint64_t kP2 = 0xC2B2AE3D27D4EB4Full;
constexpr std::uint64_t kP3 = 0x165667B19E3779F9ull;
constexpr std::uint64_t kP4 = 0x85EBCA77C2B2AE63ull;
constexpr std::uint64_t kP5 = 0x27D4EB2F165667C5ull;

inline std::uint64_t rotl(std::uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

inline std::uint64_t load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

inline std::uint64_t mixWord(std::uint64_t lane, std::uint64_t word) { return rotl(lane + word * kP2, 31) * kP1; }

}  // namespace

// ---- SourceFile

SourceFile::SourceFile(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}

SourceFile::~SourceFile() { ::close(fd_); }

std::size_t SourceFile::readAt(void* out, std::size_t length, std::uint64_t offset) const {
  auto* dst = static_cast<std::uint8_t*>(out);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd_, dst + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

// ---- sums and digests

std::uint16_t byteSum(QFBytes bytes, std::uint16_t sum) {
  constexpr std::uint64_t kLowBytes = 0x00FF00FF00FF00FFull;
  std::uint64_t total = sum;
  const std::uint8_t* p = bytes.data();
  std::size_t n = bytes.size();
  while (n >= 8) {
    // Four 16-bit lanes, two bytes each per word: 128 words fit before a lane could carry.
    const std::size_t words = std::min<std::size_t>(n / 8, 128);
    std::uint64_t lanes = 0;
    for (std::size_t i = 0; i < words; ++i) {
      const std::uint64_t w = load64(p + 8 * i);
      lanes += (w & kLowBytes) + ((w >> 8) & kLowBytes);
    }
    total += (lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) + ((lanes >> 32) & 0xFFFF) + (lanes >> 48);
    p += 8 * words;
    n -= 8 * words;
  }
  while (n-- > 0) total += *p++;
  return static_cast<std::uint16_t>(total);
}

Digest::Digest() : lanes_{kP1 + kP2, kP2, 0, 0 - kP1}, pending_{} {}

void Digest::stripe(const std::uint8_t* p) {
  for (int i = 0; i < 4; ++i) lanes_[i] = mixWord(lanes_[i], load64(p + 8 * i));
}

void Digest::add(QFBytes bytes) {
  const std::uint8_t* p = bytes.data();
  std::size_t n = bytes.size();
  total_ += n;
  if (pendingSize_ > 0) {
    const std::size_t take = std::min(sizeof pending_ - pendingSize_, n);
    std::memcpy(pending_ + pendingSize_, p, take);
    pendingSize_ += take;
    p += take;
    n -= take;
    if (pendingSize_ < sizeof pending_) return;
    stripe(pending_);
    pendingSize_ = 0;
  }
  for (; n >= sizeof pending_; p += sizeof pending_, n -= sizeof pending_) stripe(p);
  if (n > 0) {
    std::memcpy(pending_, p, n);
    pendingSize_ = n;
  }
}

std::uint64_t Digest::value() const {
  std::uint64_t h = rotl(lanes_[0], 1) + rotl(lanes_[1], 7) + rotl(lanes_[2], 12) + rotl(lanes_[3], 18);
  for (std::uint64_t lane : lanes_) h = (h ^ mixWord(0, lane)) * kP1 + kP4;
  h += total_;
  const std::uint8_t* p = pending_;
  std::size_t n = pendingSize_;
  for (; n >= 8; p += 8, n -= 8) h = rotl(h ^ mixWord(0, load64(p)), 27) * kP1 + kP4;
  for (; n > 0; ++p, --n) h = rotl(h ^ (*p * kP5), 11) * kP1;
  h ^= h >> 33;
  h *= kP2;
  h ^= h >> 29;
  h *= kP3;
  h ^= h >> 32;
  return h;
}

// ---- Payload

Payload::Payload(QFData bytes) : memory_(std::move(bytes)) {}

Payload Payload::inFile(std::shared_ptr<const SourceFile> file, std::uint64_t offset, std::uint64_t length,
                        std::uint64_t digest) {
  Payload p;
  p.file_ = std::move(file);
  p.offset_ = offset;
  p.length_ = length;
  p.digest_ = digest;
  p.loaded_ = std::make_shared<Loaded>();
  return p;
}

std::uint64_t Payload::inFileCost() { return sizeof(Payload) + sizeof(Loaded) + 2 * kAllocationOverhead; }

bool Payload::read(const SliceSink& sink, std::string* why) const {
  if (!file_) return memory_.empty() || sink(memory_);
  auto fail = [&](const char* reason) {
    logError(format("ERROR: %s %s after it was read: %llu bytes at offset %llu are not what they were",
                    file_->path().c_str(), reason, static_cast<unsigned long long>(length_),
                    static_cast<unsigned long long>(offset_)));
    if (why) *why = std::string("the container ") + reason + " after it was read";
    return false;
  };
  const std::size_t bufferSize = static_cast<std::size_t>(std::min<std::uint64_t>(length_, kSlice));
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[std::max<std::size_t>(bufferSize, 1)]);
  Digest digest;
  for (std::uint64_t done = 0; done < length_;) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(bufferSize, length_ - done));
    const std::size_t got = file_->readAt(buffer.get(), want, offset_ + done);
    if (got == 0) return fail("was truncated");
    const QFBytes slice(buffer.get(), got);
    digest.add(slice);
    done += got;
    if (!sink(slice)) return false;
  }
  if (digest.value() != digest_) return fail("was changed");
  return true;
}

const QFData& Payload::bytes() const {
  if (!file_) return memory_;
  std::call_once(loaded_->once, [this] {
    if (chargeModel(length_ + kAllocationOverhead)) loaded_->bytes = copy();
  });
  return loaded_->bytes;
}

QFData Payload::copy() const {
  if (!file_) return memory_;
  QFData out;
  out.reserve(static_cast<std::size_t>(length_));
  const bool whole = read([&out](QFBytes slice) {
    out.insert(out.end(), slice.begin(), slice.end());
    return true;
  });
  return whole ? out : QFData();
}

QFData Payload::prefix(std::size_t n) const {
  if (!file_) return QFData(memory_.begin(), memory_.begin() + static_cast<std::ptrdiff_t>(std::min(n, memory_.size())));
  QFData out(static_cast<std::size_t>(std::min<std::uint64_t>(n, length_)));
  out.resize(file_->readAt(out.data(), out.size(), offset_));
  return out;
}

}  // namespace tnefkit
