#pragma once
// Parse options shared by every decoder of one parse, and the container's code page.

#include <atomic>
#include <cstdint>

class QFModifyFlag {
 public:
  explicit QFModifyFlag(std::uint64_t modifyFlag = 0) : modifyFlag_(modifyFlag) {}

  std::uint64_t modifyFlag() const { return modifyFlag_; }
  bool verboseOn() const { return modifyFlag_ & 0x01; }
  bool debugOn() const { return modifyFlag_ & 0x02; }
  bool listOnly() const { return modifyFlag_ & 0x04; }
  bool usePaths() const { return modifyFlag_ & 0x08; }
  bool overwriteFiles() const { return modifyFlag_ & 0x10; }
  bool interactive() const { return modifyFlag_ & 0x20; }
  bool numberFiles() const { return modifyFlag_ & 0x40; }
  bool showMime() const { return false; }
  bool skipChecksum() const { return false; }
  bool skipEncode() const { return false; }
  bool skipCruft() const { return false; }
  bool unixPaths() const { return false; }
  bool absolutePaths() const { return false; }

  // The container's code page (attribute 0x9007); 0 until the parse has read one.
  std::uint32_t oemCodePage() const { return codePage_.load(std::memory_order_relaxed); }
  void setOEMCodePage(std::uint32_t codePage) { codePage_.store(codePage, std::memory_order_relaxed); }

 private:
  std::uint64_t modifyFlag_;
  std::atomic<std::uint32_t> codePage_{0};
};
