#include "modules/export/XVImageSave.h"

#include <QFile>
#include <QHash>
#include <QImageWriter>
#include <QPainter>

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "modules/export/ExportFile.h"

std::unique_ptr<XVImageSave> XVImageSave::imageSaveWith(const QImage& image) {
  if (image.isNull()) return nullptr;
  return std::unique_ptr<XVImageSave>(new XVImageSave(image));
}

namespace {

// The image laid over white, opaque; the image itself when it has no alpha channel.
QImage overWhite(const QImage& image) {
  if (!image.hasAlphaChannel()) return image;
  QImage flat(image.size(), QImage::Format_RGB32);
  flat.fill(Qt::white);
  QPainter painter(&flat);
  painter.drawImage(0, 0, image);
  painter.end();
  return flat;
}

}  // namespace

bool XVImageSave::saveWithWriter(const char* format, const QImage& image, const QString& path, QString* error) const {
  // Encoded straight into the temporary file: a large image is not held twice.
  exportfile::PendingFile pending(path);
  QString why = pending.error();
  if (!pending.path().isEmpty()) {
    QFile file(pending.path());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
      why = file.errorString();
    } else {
      QImageWriter writer(&file, format);
      if (!writer.write(image)) {
        why = writer.errorString();
      } else if (!file.flush()) {
        why = file.errorString();
      } else {
        file.close();
        if (pending.commit(replaceExisting_)) return true;
        why = pending.error();
      }
    }
  }
  if (error) *error = why;
  return false;
}

bool XVImageSave::saveToPNGAtPath(const QString& path, QString* error) const {
  return saveWithWriter("png", image_, path, error);
}
// JPEG and BMP have no alpha: translucent pixels are laid over white, as for GIF.
bool XVImageSave::saveToJPEGAtPath(const QString& path, QString* error) const {
  return saveWithWriter("jpeg", overWhite(image_), path, error);
}
bool XVImageSave::saveToBMPAtPath(const QString& path, QString* error) const {
  return saveWithWriter("bmp", overWhite(image_), path, error);
}
bool XVImageSave::saveToTIFFAtPath(const QString& path, QString* error) const {
  return saveWithWriter("tiff", image_, path, error);
}

bool XVImageSave::saveToGIFAtPath(const QString& path, QString* error) const {
  const QByteArray data = encodeGIF(image_);
  if (data.isEmpty()) {
    if (error) *error = QStringLiteral("the image cannot be encoded as GIF");
    return false;
  }
  return exportfile::writeFile(path, data, replaceExisting_, error);
}

bool XVImageSave::saveAtPath(const QString& formatName, const QString& path, QString* error) const {
  if (formatName == QLatin1String("PNG")) return saveToPNGAtPath(path, error);
  if (formatName == QLatin1String("JPEG")) return saveToJPEGAtPath(path, error);
  if (formatName == QLatin1String("BMP")) return saveToBMPAtPath(path, error);
  if (formatName == QLatin1String("GIF")) return saveToGIFAtPath(path, error);
  if (formatName == QLatin1String("TIFF")) return saveToTIFFAtPath(path, error);
  if (error) *error = QStringLiteral("no image format named %1").arg(formatName);
  return false;
}

// ---- GIF ----------------------------------------------------------------------------------

namespace {

// Median cut over a 5-bit-per-channel histogram; each palette entry is the mean of the real
// colours that fall into its box.
class Quantiser {
 public:
  explicit Quantiser(const QImage& rgb) {
    for (int y = 0; y < rgb.height(); ++y) {
      const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
      for (int x = 0; x < rgb.width(); ++x) {
        Cell& c = cells_[cellOf(line[x])];
        c.count++;
        c.r += qRed(line[x]);
        c.g += qGreen(line[x]);
        c.b += qBlue(line[x]);
      }
    }
  }

  std::vector<QRgb> palette(int maxColours) {
    std::vector<int> used;
    for (int i = 0; i < kCells; ++i) {
      if (cells_[i].count) used.push_back(i);
    }
    std::vector<Box> boxes{Box{0, static_cast<int>(used.size())}};
    order_ = used;
    shrink(boxes[0]);
    while (static_cast<int>(boxes.size()) < maxColours) {
      // Split the box that holds the most pixels among those that can still be split.
      int pick = -1;
      for (int i = 0; i < static_cast<int>(boxes.size()); ++i) {
        if (boxes[i].end - boxes[i].begin < 2) continue;
        if (pick < 0 || boxes[i].pixels > boxes[pick].pixels) pick = i;
      }
      if (pick < 0) break;
      Box& b = boxes[pick];
      const int axis = b.longestAxis();
      std::sort(order_.begin() + b.begin, order_.begin() + b.end,
                [axis](int l, int r) { return component(l, axis) < component(r, axis); });
      std::uint64_t half = 0;
      int mid = b.begin;
      while (mid < b.end - 1 && half + cells_[order_[mid]].count <= b.pixels / 2) half += cells_[order_[mid++]].count;
      if (mid == b.begin) mid++;
      Box upper{mid, b.end};
      b.end = mid;
      shrink(b);
      shrink(upper);
      boxes.push_back(upper);
    }
    std::vector<QRgb> colours;
    for (const Box& b : boxes) {
      std::uint64_t n = 0, r = 0, g = 0, bl = 0;
      for (int i = b.begin; i < b.end; ++i) {
        const Cell& c = cells_[order_[i]];
        n += c.count;
        r += c.r;
        g += c.g;
        bl += c.b;
      }
      colours.push_back(qRgb(static_cast<int>(r / n), static_cast<int>(g / n), static_cast<int>(bl / n)));
    }
    return colours;
  }

  static int cellOf(QRgb c) { return ((qRed(c) >> 3) << 10) | ((qGreen(c) >> 3) << 5) | (qBlue(c) >> 3); }

 private:
  static constexpr int kCells = 1 << 15;
  struct Cell {
    std::uint64_t count = 0, r = 0, g = 0, b = 0;
  };
  struct Box {
    int begin, end;
    std::uint64_t pixels = 0;
    std::array<int, 3> lo{}, hi{};
    int longestAxis() const {
      int axis = 0;
      for (int a = 1; a < 3; ++a) {
        if (hi[a] - lo[a] > hi[axis] - lo[axis]) axis = a;
      }
      return axis;
    }
  };
  static int component(int cell, int axis) { return (cell >> (10 - 5 * axis)) & 31; }
  void shrink(Box& b) const {
    b.pixels = 0;
    b.lo = {31, 31, 31};
    b.hi = {0, 0, 0};
    for (int i = b.begin; i < b.end; ++i) {
      b.pixels += cells_[order_[i]].count;
      for (int a = 0; a < 3; ++a) {
        b.lo[a] = std::min(b.lo[a], component(order_[i], a));
        b.hi[a] = std::max(b.hi[a], component(order_[i], a));
      }
    }
  }

  std::vector<Cell> cells_ = std::vector<Cell>(kCells);
  std::vector<int> order_;
};

int nearest(const std::vector<QRgb>& palette, QRgb c) {
  int best = 0;
  int bestDistance = INT32_MAX;
  for (int i = 0; i < static_cast<int>(palette.size()); ++i) {
    const int dr = qRed(c) - qRed(palette[i]), dg = qGreen(c) - qGreen(palette[i]), db = qBlue(c) - qBlue(palette[i]);
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

int writeToBuffer(GifFileType* gif, const GifByteType* bytes, int length) {
  static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(bytes), length);
  return length;
}

}  // namespace

QByteArray XVImageSave::encodeGIF(const QImage& image) {
  if (image.isNull() || image.width() > 65535 || image.height() > 65535) return QByteArray();
  // GIF has no partial transparency: translucent pixels are laid over white.
  const QImage rgb = overWhite(image).convertToFormat(QImage::Format_RGB32);

  std::vector<QRgb> palette;
  QHash<QRgb, int> exact;
  for (int y = 0; y < rgb.height() && exact.size() <= 256; ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    for (int x = 0; x < rgb.width() && exact.size() <= 256; ++x) {
      const QRgb c = line[x] | 0xff000000u;
      if (!exact.contains(c)) exact.insert(c, static_cast<int>(exact.size()));
    }
  }
  const bool fits = exact.size() <= 256;
  if (fits) {
    palette.resize(static_cast<size_t>(exact.size()));
    for (auto it = exact.cbegin(); it != exact.cend(); ++it) palette[static_cast<size_t>(it.value())] = it.key();
  } else {
    palette = Quantiser(rgb).palette(256);
  }

  const int bits = std::max(1, GifBitSize(static_cast<int>(palette.size())));
  std::vector<GifColorType> colours(static_cast<size_t>(1) << bits, GifColorType{0, 0, 0});
  for (size_t i = 0; i < palette.size(); ++i) {
    colours[i] = GifColorType{static_cast<GifByteType>(qRed(palette[i])), static_cast<GifByteType>(qGreen(palette[i])),
                              static_cast<GifByteType>(qBlue(palette[i]))};
  }

  QByteArray out;
  int err = 0;
  GifFileType* gif = EGifOpen(&out, writeToBuffer, &err);
  if (!gif) return QByteArray();
  ColorMapObject* map = GifMakeMapObject(1 << bits, colours.data());
  bool ok = map && EGifPutScreenDesc(gif, rgb.width(), rgb.height(), bits, 0, map) == GIF_OK &&
            EGifPutImageDesc(gif, 0, 0, rgb.width(), rgb.height(), false, nullptr) == GIF_OK;
  std::vector<std::int16_t> cellIndex(fits ? 0 : (1 << 15), -1);
  std::vector<GifPixelType> row(static_cast<size_t>(rgb.width()));
  for (int y = 0; ok && y < rgb.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    for (int x = 0; x < rgb.width(); ++x) {
      const QRgb c = line[x] | 0xff000000u;
      if (fits) {
        row[static_cast<size_t>(x)] = static_cast<GifPixelType>(exact.value(c));
      } else {
        std::int16_t& idx = cellIndex[static_cast<size_t>(Quantiser::cellOf(c))];
        if (idx < 0) idx = static_cast<std::int16_t>(nearest(palette, c));
        row[static_cast<size_t>(x)] = static_cast<GifPixelType>(idx);
      }
    }
    ok = EGifPutLine(gif, row.data(), rgb.width()) == GIF_OK;
  }
  GifFreeMapObject(map);
  if (EGifCloseFile(gif, &err) != GIF_OK) ok = false;
  return ok ? out : QByteArray();
}
