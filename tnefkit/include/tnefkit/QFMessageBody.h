#pragma once
// Message bodies found in a container: plain text, HTML or compressed RTF.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tnefkit/QFDate.h"
#include "tnefkit/QFReadType.h"
#include "tnefkit/export.h"

class QFModifyFlag;
namespace tnefkit {
class Payload;
}

enum QFMessageBodyType : std::int32_t {
  QFMessageBodyTypePlainText = 0,
  QFMessageBodyTypeHTML = 1,
  QFMessageBodyTypeRTF = 2,
};

class QFMessageBodyTypeInfo {
 public:
  explicit QFMessageBodyTypeInfo(std::int32_t type) : type_(type) {}
  std::int32_t type() const { return type_; }
  // "txt", "html", "rtf"; "unknown" for any other type.
  TNEFKIT_EXPORT std::string extension() const;
  // "text/plain", "text/html", "text/rtf"; "text/unknown".
  TNEFKIT_EXPORT std::string description() const;
  // 't', 'h', 'r'; 'u'.
  TNEFKIT_EXPORT char markFlag() const;

 private:
  std::int32_t type_;
};

class QFMessageBody {
 public:
  // `modifyFlag` carries the container's code page for plain text; it may be null.
  TNEFKIT_EXPORT QFMessageBody(std::int32_t type, std::vector<QFData> datas, std::shared_ptr<const QFModifyFlag> modifyFlag = nullptr);
  // A body whose blocks may have been left in the container file (the parser makes these;
  // not exported).
  static std::shared_ptr<QFMessageBody> withBlocks(std::int32_t type, std::vector<tnefkit::Payload> blocks,
                                                   std::shared_ptr<const QFModifyFlag> modifyFlag);

  std::int32_t messageFormatType() const { return type_; }
  // The blocks in memory. Blocks the parse left in the container file are read from it on
  // the first call and kept for the body's life; writeToFile copies them without keeping them.
  TNEFKIT_EXPORT const std::vector<QFData>& datas() const;
  QFMessageBodyTypeInfo messageBodyTypeInfo() const { return QFMessageBodyTypeInfo(type_); }

  const std::optional<std::string>& sentFor() const { return sentFor_; }
  const std::optional<std::string>& from() const { return from_; }
  const std::optional<std::string>& subject() const { return subject_; }
  const std::shared_ptr<QFDate>& dateReceived() const { return dateReceived_; }
  const std::shared_ptr<QFDate>& dateSent() const { return dateSent_; }
  void setSentFor(std::optional<std::string> v) { sentFor_ = std::move(v); }
  void setFrom(std::optional<std::string> v) { from_ = std::move(v); }
  void setSubject(std::optional<std::string> v) { subject_ = std::move(v); }
  void setDateReceived(std::shared_ptr<QFDate> v) { dateReceived_ = std::move(v); }
  void setDateSent(std::shared_ptr<QFDate> v) { dateSent_ = std::move(v); }

  // Plain text with at least one block: the first block as UTF-8 text; otherwise nothing
  // (also when its data is no longer in the container file).
  TNEFKIT_EXPORT std::optional<std::string> textBody() const;

  // Writes the body to `path`, its extension replaced by the type's when they differ:
  // plain text as UTF-8, HTML as stored, RTF decompressed. Never replaces a file. A body
  // that decodes to nothing, or whose data the container file no longer holds as it was
  // parsed, writes no file and answers false. `writtenPath` receives the path written.
  TNEFKIT_EXPORT bool writeToFile(const std::filesystem::path& path, std::filesystem::path* writtenPath = nullptr) const;

  TNEFKIT_EXPORT std::string description() const;

 private:
  struct Blocks;
  std::int32_t type_;
  std::shared_ptr<Blocks> blocks_;
  std::shared_ptr<const QFModifyFlag> flag_;
  std::optional<std::string> sentFor_, from_, subject_;
  std::shared_ptr<QFDate> dateReceived_, dateSent_;
};
