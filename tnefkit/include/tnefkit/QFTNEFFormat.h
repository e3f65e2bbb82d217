#pragma once
// The parser of one TNEF file: checks the signature on the caller's thread, reads the
// records on a background thread and reports start, progress and completion on the main
// queue (foundation::Dispatcher::postMain).

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tnefkit/QFAttachment.h"
#include "tnefkit/QFMessageBody.h"
#include "tnefkit/QFReadType.h"
#include "tnefkit/export.h"

class QFFileHandle;
class QFModifyFlag;

TNEFKIT_EXPORT extern const std::int64_t QFBytesPerGUID;
TNEFKIT_EXPORT extern const std::int64_t QFNumberOfBytesForData4;
TNEFKIT_EXPORT extern const std::int64_t QFParserFlagStart;
TNEFKIT_EXPORT extern const std::int64_t QFParserFlagProgress;
TNEFKIT_EXPORT extern const std::int64_t QFParserFlagComplete;
TNEFKIT_EXPORT extern const std::int64_t QFParserResultCodeFailed;
TNEFKIT_EXPORT extern const std::int64_t QFParserResultCodeSuccess;

// (flag, code): (QFParserFlagStart, 0), then (QFParserFlagProgress, percent) any number of
// times, then exactly one (QFParserFlagComplete, QFParserResultCodeSuccess or Failed).
using QFParserBlock = std::function<void(std::uint64_t flag, std::int64_t code)>;

class QFTNEFFormat : public std::enable_shared_from_this<QFTNEFFormat> {
  struct Key {};

 public:
  // A parser for the file at `fileURL`; null (with a log line) for an empty path. The file
  // is not opened here.
  TNEFKIT_EXPORT static std::shared_ptr<QFTNEFFormat> initWithURL(const std::filesystem::path& fileURL);
  QFTNEFFormat(Key, std::filesystem::path fileURL);

  static std::vector<std::string> supportFormats() { return {"dat"}; }
  static std::uint32_t markFlag() { return 0x223E9F78; }

  // Opens the file and checks its signature here; then parses on a background thread and
  // calls `block` on the main queue. False (and `block` is never called) when the file
  // cannot be opened, is not TNEF, or a parse of this object is still running.
  TNEFKIT_EXPORT bool startParserWithBlock(QFParserBlock block);

  // The results of the last parse, in stream order. Empty from the start of a parse until
  // its results are published, on the main queue, just before the completion callback.
  // Their larger data stays in the file, which is kept open while any of them lives.
  TNEFKIT_EXPORT std::vector<std::shared_ptr<QFMessageBody>> messageBodys() const;
  TNEFKIT_EXPORT std::vector<std::shared_ptr<QFAttachment>> attachments() const;
  const std::filesystem::path& fileURL() const { return fileURL_; }
  std::uint16_t tnefKey() const { return tnefKey_.load(); }
  bool isParsing() const { return parsing_.load(); }

  // Whether another record can follow: 8 or more bytes remain. 1 to 7 bytes log as garbage.
  // Used by the parser (not exported).
  static bool hasValidateDataLeft(QFFileHandle& handle);

 private:
  struct Results {
    std::vector<std::shared_ptr<QFMessageBody>> bodies;
    std::vector<std::shared_ptr<QFAttachment>> attachments;
  };
  using SharedBlock = std::shared_ptr<const QFParserBlock>;
  void parse(std::shared_ptr<QFFileHandle> handle, std::shared_ptr<QFModifyFlag> flag, const SharedBlock& block);
  static std::int64_t readRecords(QFFileHandle& handle, const std::shared_ptr<QFModifyFlag>& flag,
                                  const SharedBlock& block, Results& results);

  const std::filesystem::path fileURL_;
  std::atomic<std::uint16_t> tnefKey_{0};
  std::atomic<bool> parsing_{false};
  mutable std::mutex mutex_;
  std::shared_ptr<QFModifyFlag> modifyflag_;
  std::vector<std::shared_ptr<QFMessageBody>> messageBodys_;
  std::vector<std::shared_ptr<QFAttachment>> attachments_;
};
