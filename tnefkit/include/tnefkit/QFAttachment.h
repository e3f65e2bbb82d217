#pragma once
// One attachment of a container, filled by the attachment-level records that follow its
// rendering record.

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tnefkit/QFDate.h"
#include "tnefkit/QFReadType.h"
#include "tnefkit/export.h"

class QFAttrObject;
class QFMAPIAttrObject;
class QFModifyFlag;

class QFAttachment {
 public:
  TNEFKIT_EXPORT explicit QFAttachment(std::shared_ptr<QFModifyFlag> modifyFlag);

  // The parser fills the attachment (not exported). One attachment-level record: the data,
  // the title, the modification date, MAPI properties, the code page.
  void addAttrObject(QFAttrObject record);
  // Takes the data, long file name, MIME type and content ID from decoded properties.
  void addMAPIAttriObject(std::vector<QFMAPIAttrObject> properties);

  // The long file name, else the title, made a safe file name, without its extension;
  // "Untitled" when there is neither.
  TNEFKIT_EXPORT std::string filename() const;
  // The name's extension as written, else the preferred extension of the MIME type, else
  // nothing.
  TNEFKIT_EXPORT std::optional<std::string> extension() const;

  const std::shared_ptr<QFDate>& modifyDate() const { return modifyDate_; }
  // The creation date record, as written (the sender's clock, no time zone).
  const std::shared_ptr<QFDate>& createDate() const { return createDate_; }
  // The creation and last modification times among the MAPI properties, in UTC; empty when
  // the container carries none (or a value the clock cannot hold).
  std::optional<std::chrono::system_clock::time_point> creationTime() const { return creationTime_; }
  std::optional<std::chrono::system_clock::time_point> lastModificationTime() const { return lastModificationTime_; }
  TNEFKIT_EXPORT std::optional<std::string> mimeType() const;
  TNEFKIT_EXPORT std::optional<std::string> contentID() const;
  TNEFKIT_EXPORT std::optional<std::string> fileTitle() const;
  TNEFKIT_EXPORT std::optional<std::string> fileInternalName() const;
  const QFData& fileData() const { return fileData_; }
  bool hasFileData() const { return hasFileData_; }

  // Writes the data to `path` (its extension replaced by extension() when they differ),
  // inside the path's folder. A taken name becomes "name (2).ext" and so on; nothing is
  // replaced. Answers false (keeping an empty file) when there is no data, and false with
  // no file when writing fails. `writtenPath` receives the path written.
  TNEFKIT_EXPORT bool writeToFile(const std::filesystem::path& path, std::filesystem::path* writtenPath = nullptr) const;

  TNEFKIT_EXPORT std::string description() const;

 private:
  // A string as stored: 8-bit text decoded with the container's code page, or UTF-8.
  struct Text {
    QFData bytes;
    bool unicode = false;
  };
  std::optional<std::string> decoded(const std::optional<Text>& text) const;
  std::optional<std::string> bestName() const;

  std::shared_ptr<QFDate> modifyDate_;
  std::shared_ptr<QFDate> createDate_;
  std::optional<std::chrono::system_clock::time_point> creationTime_;
  std::optional<std::chrono::system_clock::time_point> lastModificationTime_;
  std::shared_ptr<QFModifyFlag> flag_;
  std::optional<Text> fileInternalName_;
  QFData fileData_;
  bool hasFileData_ = false;
  std::optional<Text> mimeType_;
  std::optional<Text> contentID_;
  std::optional<Text> fileTitle_;
};
