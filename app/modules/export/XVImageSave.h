#pragma once
// Writes one image as a PNG, JPEG, BMP, GIF or TIFF file. PNG, JPEG, BMP and TIFF go through
// Qt's image writers with their default settings; GIF through giflib, with a palette of at
// most 256 colours chosen from the image. JPEG, BMP and GIF have no partial transparency:
// there the image is laid over white. Each file is written to a temporary file in the target
// folder and renamed.

#include <QImage>
#include <QString>

#include <memory>

class XVImageSave {
 public:
  // Null for a null image.
  static std::unique_ptr<XVImageSave> imageSaveWith(const QImage& image);

  QImage image() const { return image_; }
  // Existing files are replaced only after this was set (default: no).
  void setReplaceExisting(bool replace) { replaceExisting_ = replace; }
  bool replaceExisting() const { return replaceExisting_; }

  // Each answers whether the file was written; `error` says why not.
  bool saveToPNGAtPath(const QString& path, QString* error = nullptr) const;
  bool saveToJPEGAtPath(const QString& path, QString* error = nullptr) const;
  bool saveToBMPAtPath(const QString& path, QString* error = nullptr) const;
  bool saveToGIFAtPath(const QString& path, QString* error = nullptr) const;
  bool saveToTIFFAtPath(const QString& path, QString* error = nullptr) const;
  // By format name ("PNG", "JPEG", "BMP", "GIF", "TIFF", exact); NO for any other name.
  bool saveAtPath(const QString& formatName, const QString& path, QString* error = nullptr) const;

  // The GIF encoding of `image` (empty when it cannot be encoded).
  static QByteArray encodeGIF(const QImage& image);

 private:
  explicit XVImageSave(const QImage& image) : image_(image) {}
  bool saveWithWriter(const char* format, const QImage& image, const QString& path, QString* error) const;

  QImage image_;
  bool replaceExisting_ = false;
};
