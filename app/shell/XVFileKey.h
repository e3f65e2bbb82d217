#pragma once
// The content key of a file: the MD5 of its first 10 MiB as 32 lower-case hex digits,
// followed by its size in decimal.

#include <QByteArray>
#include <QString>

class XVFileKey {
 public:
  static constexpr qint64 kHeadBytes = 10485760;

  // The key, or a null string when the path is not a readable regular file.
  static QString FileKeyByFilePath(const QString& filePath);
  // Yes for 32 lower-case hex digits followed by one or more decimal digits.
  static bool isWellFormedKey(const QString& key);
};

class XVHash {
 public:
  // 32 lower-case hex digits of the MD5 of all bytes; null for null data.
  static QString HashValueByData(const QByteArray& data);
};

class XVFilePathKey {
 public:
  // The content key immediately followed by the path; null when either is missing.
  static QString FilePathKeyByFilePath(const QString& filePath);
};
