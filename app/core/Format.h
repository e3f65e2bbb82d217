#pragma once
// An export format of Save As or Extract Images.

#include <QList>
#include <QString>

class Format {
 public:
  // A record with hasProgress and canRangePage set and the other fields empty.
  static Format format() { return Format(); }

  // The fixed records, looked up by exact (case-sensitive) name; an empty record for any other.
  static Format formatNamed(const QString& formatName);
  static QList<Format> allFormats();

  QString formatName() const { return formatName_; }
  void setFormatName(const QString& v) { formatName_ = v; }
  QString extension() const { return extension_; }
  void setExtension(const QString& v) { extension_ = v; }
  // Resource path of the icon beside the name in the format pop-up.
  QString formatThumbnail() const { return formatThumbnail_; }
  void setFormatThumbnail(const QString& v) { formatThumbnail_ = v; }
  bool hasProgress() const { return hasProgress_; }
  void setHasProgress(bool v) { hasProgress_ = v; }
  bool canRangePage() const { return canRangePage_; }
  void setCanRangePage(bool v) { canRangePage_ = v; }

  bool isNull() const { return formatName_.isEmpty(); }
  bool operator==(const Format& o) const = default;

 private:
  QString formatName_;
  QString extension_;
  QString formatThumbnail_;
  bool hasProgress_ = true;
  bool canRangePage_ = true;
};
