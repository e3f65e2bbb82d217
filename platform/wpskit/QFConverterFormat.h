#pragma once
// The conversion request both kits take: a type (1: rich text) and the source document's path.
// End codes of a conversion: 3 is success.

#include <QString>

#include <cstdint>
#include <memory>

enum QFConverterEndCode : int32_t {
  QFConverterEndCancelled = 0,
  QFConverterEndUnsupported = 1,          // not a format (or version) the libraries read
  QFConverterEndFailed = 2,               // unreadable or damaged
  QFConverterEndSucceeded = 3,
  QFConverterEndPasswordRequired = 4,     // protected, and no matching password was given
  QFConverterEndEncryptionUnsupported = 5 // protected in a way the libraries cannot read
};

class QFConverterFormat {
 public:
  static std::shared_ptr<QFConverterFormat> formatWithType(int32_t type, const QString& FilePath);

  int32_t type() const { return type_; }
  QString filePath() const { return filePath_; }

 private:
  QFConverterFormat(int32_t type, QString path) : type_(type), filePath_(std::move(path)) {}
  int32_t type_;
  QString filePath_;
};
