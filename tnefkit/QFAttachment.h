#pragma once
// One attachment of a container, filled by the attachment-level records that follow its
// rendering record.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tnefkit/QFAttrObject.h"
#include "tnefkit/QFMAPIAttrObject.h"
#include "tnefkit/QFModifyFlag.h"
#include "tnefkit/QFReadType.h"
#include "tnefkit/export.h"

class TNEFKIT_EXPORT QFAttachment {
 public:
  explicit QFAttachment(std::shared_ptr<QFModifyFlag> modifyFlag);

  // Interprets one attachment-level record: 0x800F data, 0x8010 title, 0x8013 modification
  // date, 0x9005 MAPI properties, 0x9007 code page.
  void addAttrObject(QFAttrObject record);
  // Takes the data (0x3701), long file name (0x3707), MIME type (0x370E) and content ID
  // (0x3712) from decoded properties.
  void addMAPIAttriObject(std::vector<QFMAPIAttrObject> properties);

  // The long file name, else the title, made a safe file name, without its extension;
  // "Untitled" when there is neither.
  std::string filename() const;
  // The name's extension as written, else the preferred extension of the MIME type, else
  // nothing.
  std::optional<std::string> extension() const;

  const std::shared_ptr<QFDate>& modifyDate() const { return modifyDate_; }
  std::optional<std::string> mimeType() const;
  std::optional<std::string> contentID() const;
  std::optional<std::string> fileTitle() const;
  std::optional<std::string> fileInternalName() const;
  const QFData& fileData() const { return fileData_; }
  bool hasFileData() const { return hasFileData_; }

  // Writes the data to `path` (its extension replaced by extension() when they differ),
  // inside the path's folder. A taken name becomes "name (2).ext" and so on; nothing is
  // replaced. Answers false (keeping an empty file) when there is no data, and false with
  // no file when writing fails. `writtenPath` receives the path written.
  bool writeToFile(const std::filesystem::path& path, std::filesystem::path* writtenPath = nullptr) const;

  std::string description() const;

 private:
  // A string as stored: 8-bit text decoded with the container's code page, or UTF-8.
  struct Text {
    QFData bytes;
    bool unicode = false;
  };
  std::optional<std::string> decoded(const std::optional<Text>& text) const;
  std::optional<std::string> bestName() const;

  std::shared_ptr<QFDate> modifyDate_;
  std::shared_ptr<QFModifyFlag> flag_;
  std::optional<Text> fileInternalName_;
  QFData fileData_;
  bool hasFileData_ = false;
  std::optional<Text> mimeType_;
  std::optional<Text> contentID_;
  std::optional<Text> fileTitle_;
};
