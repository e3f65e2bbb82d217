#include "platform/markupkit/markupkit.h"

#include <QImage>
#include <QString>

#include <GfxState.h>
#include <GlobalParams.h>
#include <goo/GooString.h>
#include <OutputDev.h>
#include <PDFDoc.h>
#include <Stream.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

std::mutex& callMutex() {
  static std::mutex m;
  return m;
}

// Images past this many pixels are not written (and take no number).
constexpr qint64 kMaxPixels = qint64(1) << 26;

// The decoded samples of one image: `height` rows of `width` pixels of `comps` components, one
// byte each. Empty when the stream ended before the last row or the image is too large.
struct Samples {
  int width = 0;
  int height = 0;
  int comps = 0;
  std::vector<unsigned char> data;
  bool ok() const { return !data.empty(); }
  const unsigned char* row(int y) const { return data.data() + static_cast<size_t>(y) * width * comps; }
};

Samples readSamples(Stream* str, int width, int height, int comps, int bits) {
  Samples s;
  if (width <= 0 || height <= 0 || comps <= 0 || bits <= 0 || bits > 16) return s;
  if (qint64(width) * height > kMaxPixels || qint64(width) * comps * bits > (qint64(1) << 31)) return s;
  const qint64 rowBytes = (qint64(width) * comps * bits + 7) / 8;
  const qint64 total = rowBytes * height;
  // Read the encoded rows in full first: a stream that ends early is a broken image, not one
  // to pad.
  std::vector<char> raw(static_cast<size_t>(total));
  str->reset();
  qint64 got = 0;
  while (got < total) {
    const int want = static_cast<int>(std::min<qint64>(total - got, 1 << 20));
    const int n = str->doGetChars(want, reinterpret_cast<unsigned char*>(raw.data() + got));
    if (n <= 0) break;
    got += n;
  }
  str->close();
  if (got < total) return s;

  MemStream mem(raw.data(), 0, total, Object(objNull));
  ImageStream image(&mem, width, comps, bits);
  image.reset();
  s.width = width;
  s.height = height;
  s.comps = comps;
  s.data.resize(static_cast<size_t>(width) * height * comps);
  for (int y = 0; y < height; ++y) {
    const unsigned char* line = image.getLine();
    if (!line) {
      s.data.clear();
      break;
    }
    std::memcpy(s.data.data() + static_cast<size_t>(y) * width * comps, line, static_cast<size_t>(width) * comps);
  }
  image.close();
  return s;
}

// The pixels of the image in RGB through its colour map; null when it cannot be decoded.
QImage toImage(const Samples& s, GfxImageColorMap* colorMap) {
  if (!s.ok() || !colorMap || !colorMap->isOk()) return QImage();
  QImage out(s.width, s.height, QImage::Format_RGBA8888);
  if (out.isNull()) return QImage();
  std::vector<unsigned char> rgb(static_cast<size_t>(s.width) * 3);
  for (int y = 0; y < s.height; ++y) {
    colorMap->getRGBLine(const_cast<unsigned char*>(s.row(y)), rgb.data(), s.width);
    unsigned char* dst = out.scanLine(y);
    for (int x = 0; x < s.width; ++x) {
      dst[4 * x] = rgb[3 * x];
      dst[4 * x + 1] = rgb[3 * x + 1];
      dst[4 * x + 2] = rgb[3 * x + 2];
      dst[4 * x + 3] = 255;
    }
  }
  return out;
}

// Gives `image` the alpha of `alpha` (one byte a pixel), scaled to the image's size.
void applyAlpha(QImage& image, const std::vector<unsigned char>& alpha, int aw, int ah) {
  if (image.isNull() || aw <= 0 || ah <= 0) return;
  for (int y = 0; y < image.height(); ++y) {
    const int ay = static_cast<int>(qint64(y) * ah / image.height());
    unsigned char* dst = image.scanLine(y);
    for (int x = 0; x < image.width(); ++x) {
      const int ax = static_cast<int>(qint64(x) * aw / image.width());
      dst[4 * x + 3] = alpha[static_cast<size_t>(ay) * aw + ax];
    }
  }
}

class ImageDumpDev : public OutputDev {
 public:
  explicit ImageDumpDev(std::string prefix) : prefix_(std::move(prefix)) {}

  bool upsideDown() override { return true; }
  bool useDrawChar() override { return false; }
  bool interpretType3Chars() override { return false; }
  bool needCharCount() override { return false; }

  void startPage(int, GfxState*, XRef*) override { seen_.clear(); }

  bool writeFailed() const { return writeFailed_; }
  int written() const { return number_; }

  void drawImageMask(GfxState* state, Object* ref, Stream* str, int width, int height, bool invert, bool, bool) override {
    if (!take(ref)) return;
    const Samples s = readSamples(str, width, height, 1, 1);
    if (!s.ok()) return;
    GfxRGB fill{};
    if (state->getFillColorSpace()) state->getFillColorSpace()->getRGB(state->getFillColor(), &fill);
    QImage out(width, height, QImage::Format_RGBA8888);
    if (out.isNull()) return;
    for (int y = 0; y < height; ++y) {
      const unsigned char* src = s.row(y);
      unsigned char* dst = out.scanLine(y);
      for (int x = 0; x < width; ++x) {
        const bool painted = (src[x] != 0) == invert;
        dst[4 * x] = colToByte(fill.r);
        dst[4 * x + 1] = colToByte(fill.g);
        dst[4 * x + 2] = colToByte(fill.b);
        dst[4 * x + 3] = painted ? 255 : 0;
      }
    }
    write(out);
  }

  void drawImage(GfxState*, Object* ref, Stream* str, int width, int height, GfxImageColorMap* colorMap, bool,
                 const int* maskColors, bool) override {
    const int comps = colorMap ? colorMap->getNumPixelComps() : 0;
    const int bits = colorMap ? colorMap->getBits() : 0;
    if (!take(ref)) return;
    const Samples s = readSamples(str, width, height, comps, bits);
    QImage out = toImage(s, colorMap);
    if (out.isNull()) return;
    if (maskColors) {
      // Colour-key masking: a pixel whose every component lies in its range is not painted.
      for (int y = 0; y < height; ++y) {
        const unsigned char* src = s.row(y);
        unsigned char* dst = out.scanLine(y);
        for (int x = 0; x < width; ++x) {
          bool inside = true;
          for (int c = 0; c < comps && inside; ++c) {
            const int v = src[x * comps + c];
            inside = v >= maskColors[2 * c] && v <= maskColors[2 * c + 1];
          }
          if (inside) dst[4 * x + 3] = 0;
        }
      }
    }
    write(out);
  }

  void drawMaskedImage(GfxState*, Object* ref, Stream* str, int width, int height, GfxImageColorMap* colorMap, bool,
                       Stream* maskStr, int maskWidth, int maskHeight, bool maskInvert, bool) override {
    const int comps = colorMap ? colorMap->getNumPixelComps() : 0;
    const int bits = colorMap ? colorMap->getBits() : 0;
    if (!take(ref)) return;
    const Samples s = readSamples(str, width, height, comps, bits);
    QImage out = toImage(s, colorMap);
    if (out.isNull()) return;
    // A mask that cannot be read leaves the image opaque.
    const Samples m = readSamples(maskStr, maskWidth, maskHeight, 1, 1);
    if (m.ok()) {
      std::vector<unsigned char> alpha(m.data.size());
      for (size_t i = 0; i < alpha.size(); ++i) alpha[i] = ((m.data[i] != 0) != maskInvert) ? 0 : 255;
      applyAlpha(out, alpha, maskWidth, maskHeight);
    }
    write(out);
  }

  void drawSoftMaskedImage(GfxState*, Object* ref, Stream* str, int width, int height, GfxImageColorMap* colorMap, bool,
                           Stream* maskStr, int maskWidth, int maskHeight, GfxImageColorMap* maskColorMap, bool) override {
    const int comps = colorMap ? colorMap->getNumPixelComps() : 0;
    const int bits = colorMap ? colorMap->getBits() : 0;
    if (!take(ref)) return;
    const Samples s = readSamples(str, width, height, comps, bits);
    QImage out = toImage(s, colorMap);
    if (out.isNull()) return;
    if (maskColorMap && maskColorMap->isOk()) {
      const Samples m = readSamples(maskStr, maskWidth, maskHeight, maskColorMap->getNumPixelComps(), maskColorMap->getBits());
      if (m.ok()) {
        std::vector<unsigned char> alpha(static_cast<size_t>(maskWidth) * maskHeight);
        for (int y = 0; y < maskHeight; ++y)
          maskColorMap->getGrayLine(const_cast<unsigned char*>(m.row(y)), alpha.data() + static_cast<size_t>(y) * maskWidth,
                                    maskWidth);
        applyAlpha(out, alpha, maskWidth, maskHeight);
      }
    }
    write(out);
  }

 private:
  // Whether the image is one to write: an image object drawn before on this page is not.
  // Inline images have no object and are always read (the page's content goes on after them).
  bool take(Object* ref) {
    if (ref && ref->isRef()) {
      if (writeFailed_) return false;
      const Ref r = ref->getRef();
      return seen_.insert({r.num, r.gen}).second;
    }
    return true;
  }

  void write(const QImage& image) {
    if (writeFailed_) return;
    char name[32];
    std::snprintf(name, sizeof name, "-%03d.png", number_ + 1);
    QImage out = image;
    // Fully opaque images are written without an alpha channel.
    bool opaque = true;
    for (int y = 0; y < out.height() && opaque; ++y) {
      const unsigned char* p = out.constScanLine(y);
      for (int x = 0; x < out.width(); ++x) {
        if (p[4 * x + 3] != 255) {
          opaque = false;
          break;
        }
      }
    }
    if (opaque) out = out.convertToFormat(QImage::Format_RGB888);
    if (!out.save(QString::fromStdString(prefix_ + name), "PNG")) {
      writeFailed_ = true;
      return;
    }
    ++number_;
  }

  std::string prefix_;
  std::set<std::pair<int, int>> seen_;
  int number_ = 0;
  bool writeFailed_ = false;
};

}  // namespace

int extractHtml(int argc, const char* const* argv) {
  if (argc < 3 || !argv || !argv[1] || !argv[2] || !*argv[1] || !*argv[2]) return markupkit::ExtractBadArguments;
  int page = 0;  // every page
  for (int i = 3; i < argc; ++i) {
    if (!argv[i]) return markupkit::ExtractBadArguments;
    const std::string option = argv[i];
    if (option == "-R") {
      if (i + 1 >= argc || !argv[i + 1]) return markupkit::ExtractBadArguments;
      bool ok = false;
      page = QString::fromUtf8(argv[++i]).toInt(&ok);
      if (!ok || page < 1) return markupkit::ExtractNoSuchPage;
    } else if (option != "IMAGE") {
      return markupkit::ExtractBadArguments;
    }
  }

  std::lock_guard lock(callMutex());
  // Poppler's settings are process-wide; another user of Poppler may have made them already.
  if (!globalParams) {
    globalParams = std::make_unique<GlobalParams>();
    globalParams->setErrQuiet(true);
  }
  PDFDoc doc(std::make_unique<GooString>(argv[1]));
  if (!doc.isOk()) return markupkit::ExtractUnreadable;
  const int count = doc.getNumPages();
  if (page > count) return markupkit::ExtractNoSuchPage;
  ImageDumpDev dev(argv[2]);
  const int first = page ? page : 1;
  const int last = page ? page : count;
  for (int p = first; p <= last && !dev.writeFailed(); ++p) doc.displayPage(&dev, p, 72, 72, 0, true, false, false);
  return dev.writeFailed() ? markupkit::ExtractWriteFailed : markupkit::ExtractOk;
}
