#include "platform/markupkit/markupkit.h"

#include <QString>

#include <GfxState.h>
#include <GlobalParams.h>
#include <goo/GooString.h>
#include <OutputDev.h>
#include <PDFDoc.h>
#include <Stream.h>

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
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

thread_local std::vector<markupkit::SkippedImage> lastSkipped;

// Rows of one image's samples, read from its stream one row at a time and unpacked to one
// byte a component (Poppler's ImageStream over the row's bytes). Nothing but a row is held.
class RowReader {
 public:
  RowReader(Stream* str, int width, int comps, int bits) : str_(str), width_(width), comps_(comps) {
    if (!str || width <= 0 || comps <= 0 || bits <= 0 || bits > 16) return;
    if (qint64(width) * comps * bits > std::numeric_limits<int>::max() - 7) return;
    rowBytes_ = static_cast<int>((qint64(width) * comps * bits + 7) / 8);
    raw_.resize(static_cast<size_t>(rowBytes_));
    mem_ = std::make_unique<MemStream>(raw_.data(), 0, rowBytes_, Object(objNull));
    image_ = std::make_unique<ImageStream>(mem_.get(), width, comps, bits);
    str_->reset();
    open_ = true;
  }
  ~RowReader() {
    if (open_) str_->close();
  }
  RowReader(const RowReader&) = delete;
  RowReader& operator=(const RowReader&) = delete;

  bool ok() const { return open_; }
  int width() const { return width_; }
  int comps() const { return comps_; }

  // The next row, `width` x `comps` bytes; null once the stream has ended before it (a broken
  // image is not padded).
  const unsigned char* next() {
    if (!open_ || ended_) return nullptr;
    int got = 0;
    while (got < rowBytes_) {
      const int n = str_->doGetChars(rowBytes_ - got, reinterpret_cast<unsigned char*>(raw_.data()) + got);
      if (n <= 0) break;
      got += n;
    }
    if (got < rowBytes_) {
      ended_ = true;
      return nullptr;
    }
    image_->reset();
    return image_->getLine();
  }

 private:
  Stream* str_;
  int width_;
  int comps_;
  int rowBytes_ = 0;
  std::vector<char> raw_;
  std::unique_ptr<MemStream> mem_;
  std::unique_ptr<ImageStream> image_;
  bool open_ = false;
  bool ended_ = false;
};

// A PNG file written row by row (8-bit RGB or RGBA). Every libpng call sits in a function
// of its own that catches libpng's long jump and holds nothing that needs destroying.
class PngFile {
 public:
  ~PngFile() { discard(); }

  bool open(const std::string& path, int width, int height, bool alpha) {
    path_ = path;
    file_ = std::fopen(path.c_str(), "wbe");
    if (!file_) return false;
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, &PngFile::onError, &PngFile::onWarning);
    if (!png_) return false;
    info_ = png_create_info_struct(png_);
    if (!info_) return false;
    if (setjmp(png_jmpbuf(png_))) return false;
    png_init_io(png_, file_);
    // The files are read back at once: fast compression, which also reads back faster.
    png_set_compression_level(png_, 1);
    png_set_IHDR(png_, info_, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png_, info_);
    return true;
  }

  bool writeRow(unsigned char* row) {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_write_row(png_, row);
    return true;
  }

  // Completes the file; NO when it could not be written in full.
  bool finish() {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_write_end(png_, info_);
    png_destroy_write_struct(&png_, &info_);
    FILE* f = file_;
    file_ = nullptr;
    if (std::fflush(f) != 0 || std::ferror(f)) {
      std::fclose(f);
      std::remove(path_.c_str());
      return false;
    }
    return std::fclose(f) == 0;
  }

  // Closes and removes an unfinished file.
  void discard() {
    if (png_) png_destroy_write_struct(&png_, info_ ? &info_ : nullptr);
    if (file_) {
      std::fclose(file_);
      file_ = nullptr;
      std::remove(path_.c_str());
    }
  }

 private:
  static void onError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
  static void onWarning(png_structp, png_const_charp) {}

  std::string path_;
  FILE* file_ = nullptr;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

// Follows the rows of a mask while the image's rows go by: mask row y * maskHeight / height
// for image row y, and column x * maskWidth / width for pixel x. Rows past the end of a
// mask whose data ends early are opaque.
class MaskRows {
 public:
  MaskRows(Stream* str, int maskWidth, int maskHeight, int comps, int bits, int width, int height)
      : reader_(str, maskWidth, comps, bits), maskHeight_(maskHeight), height_(height) {
    columns_.resize(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x) columns_[static_cast<size_t>(x)] = static_cast<int>(qint64(x) * maskWidth / width);
    alpha_.assign(static_cast<size_t>(std::max(maskWidth, 0)), 255);
  }
  bool ok() const { return reader_.ok(); }

  // The alpha of image row `y` (rows come in order), one byte a mask column, through
  // `toAlpha(samples, alpha)`.
  template <class ToAlpha>
  const std::vector<unsigned char>& row(int y, ToAlpha toAlpha) {
    const int want = static_cast<int>(qint64(y) * maskHeight_ / height_);
    while (current_ < want) {
      ++current_;
      const unsigned char* samples = reader_.next();
      if (!samples) {
        std::fill(alpha_.begin(), alpha_.end(), 255);
        continue;
      }
      toAlpha(samples, alpha_.data());
    }
    return alpha_;
  }
  int column(int x) const { return columns_[static_cast<size_t>(x)]; }

 private:
  RowReader reader_;
  int maskHeight_;
  int height_;
  int current_ = -1;
  std::vector<int> columns_;
  std::vector<unsigned char> alpha_;
};

class ImageDumpDev : public OutputDev {
 public:
  explicit ImageDumpDev(std::string prefix) : prefix_(std::move(prefix)) {}

  bool upsideDown() override { return true; }
  bool useDrawChar() override { return false; }
  bool interpretType3Chars() override { return false; }
  bool needCharCount() override { return false; }

  void startPage(int pageNum, GfxState*, XRef*) override {
    seen_.clear();
    page_ = pageNum;
  }

  bool writeFailed() const { return writeFailed_; }
  int written() const { return number_; }
  const std::vector<markupkit::SkippedImage>& skipped() const { return skipped_; }

  void drawImageMask(GfxState* state, Object* ref, Stream* str, int width, int height, bool invert, bool, bool) override {
    if (!take(ref) || !fits(width, height)) return;
    RowReader rows(str, width, 1, 1);
    GfxRGB fill{};
    if (state->getFillColorSpace()) state->getFillColorSpace()->getRGB(state->getFillColor(), &fill);
    const unsigned char r = colToByte(fill.r), g = colToByte(fill.g), b = colToByte(fill.b);
    write(width, height, true, [&](int, unsigned char* dst) {
      const unsigned char* src = rows.next();
      if (!src) return false;
      for (int x = 0; x < width; ++x) {
        const bool painted = (src[x] != 0) == invert;
        dst[4 * x] = r;
        dst[4 * x + 1] = g;
        dst[4 * x + 2] = b;
        dst[4 * x + 3] = painted ? 255 : 0;
      }
      return true;
    });
  }

  void drawImage(GfxState*, Object* ref, Stream* str, int width, int height, GfxImageColorMap* colorMap, bool,
                 const int* maskColors, bool) override {
    if (!take(ref) || !fits(width, height)) return;
    if (!colorMap || !colorMap->isOk()) return undecodable(width, height);
    const int comps = colorMap->getNumPixelComps();
    RowReader rows(str, width, comps, colorMap->getBits());
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * 3);
    const bool alpha = maskColors != nullptr;
    write(width, height, alpha, [&](int, unsigned char* dst) {
      const unsigned char* src = rows.next();
      if (!src) return false;
      if (!alpha) {
        colorMap->getRGBLine(const_cast<unsigned char*>(src), dst, width);
        return true;
      }
      colorMap->getRGBLine(const_cast<unsigned char*>(src), rgb.data(), width);
      for (int x = 0; x < width; ++x) {
        // Colour-key masking: a pixel whose every component lies in its range is not painted.
        bool inside = true;
        for (int c = 0; c < comps && inside; ++c) {
          const int v = src[x * comps + c];
          inside = v >= maskColors[2 * c] && v <= maskColors[2 * c + 1];
        }
        std::memcpy(dst + 4 * x, rgb.data() + 3 * x, 3);
        dst[4 * x + 3] = inside ? 0 : 255;
      }
      return true;
    });
  }

  void drawMaskedImage(GfxState*, Object* ref, Stream* str, int width, int height, GfxImageColorMap* colorMap, bool,
                       Stream* maskStr, int maskWidth, int maskHeight, bool maskInvert, bool) override {
    if (!take(ref) || !fits(width, height)) return;
    if (!colorMap || !colorMap->isOk()) return undecodable(width, height);
    // A mask that cannot be read leaves the image opaque.
    MaskRows mask(maskStr, maskWidth, maskHeight, 1, 1, width, height);
    writeMasked(str, width, height, colorMap, mask, [&](const unsigned char* samples, unsigned char* alpha) {
      for (int x = 0; x < maskWidth; ++x) alpha[x] = ((samples[x] != 0) != maskInvert) ? 0 : 255;
    });
  }

  void drawSoftMaskedImage(GfxState*, Object* ref, Stream* str, int width, int height, GfxImageColorMap* colorMap, bool,
                           Stream* maskStr, int maskWidth, int maskHeight, GfxImageColorMap* maskColorMap, bool) override {
    if (!take(ref) || !fits(width, height)) return;
    if (!colorMap || !colorMap->isOk()) return undecodable(width, height);
    const bool maskOk = maskColorMap && maskColorMap->isOk();
    MaskRows mask(maskOk ? maskStr : nullptr, maskWidth, maskHeight, maskOk ? maskColorMap->getNumPixelComps() : 0,
                  maskOk ? maskColorMap->getBits() : 0, width, height);
    writeMasked(str, width, height, colorMap, mask, [&](const unsigned char* samples, unsigned char* alpha) {
      maskColorMap->getGrayLine(const_cast<unsigned char*>(samples), alpha, maskWidth);
    });
  }

 private:
  // Whether the image is one to write: an image object drawn before on this page is not.
  // Inline images have no object and are always read (the page's content goes on after them).
  bool take(Object* ref) {
    if (writeFailed_) return false;
    if (ref && ref->isRef()) {
      const Ref r = ref->getRef();
      return seen_.insert({r.num, r.gen}).second;
    }
    return true;
  }

  // Whether an image of this size may be written; one that may not is noted as too large.
  bool fits(int width, int height) {
    if (width > 0 && height > 0 && width <= markupkit::kMaxImageSide && height <= markupkit::kMaxImageSide &&
        qint64(width) * height <= markupkit::kMaxImagePixels)
      return true;
    skipped_.push_back({page_, width, height, markupkit::SkipReason::TooLarge});
    return false;
  }

  void undecodable(int width, int height) {
    skipped_.push_back({page_, width, height, markupkit::SkipReason::Undecodable});
  }

  template <class ToAlpha>
  void writeMasked(Stream* str, int width, int height, GfxImageColorMap* colorMap, MaskRows& mask, ToAlpha toAlpha) {
    RowReader rows(str, width, colorMap->getNumPixelComps(), colorMap->getBits());
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * 3);
    write(width, height, true, [&](int y, unsigned char* dst) {
      const unsigned char* src = rows.next();
      if (!src) return false;
      colorMap->getRGBLine(const_cast<unsigned char*>(src), rgb.data(), width);
      const std::vector<unsigned char>* alpha = mask.ok() ? &mask.row(y, toAlpha) : nullptr;
      for (int x = 0; x < width; ++x) {
        std::memcpy(dst + 4 * x, rgb.data() + 3 * x, 3);
        dst[4 * x + 3] = alpha ? (*alpha)[static_cast<size_t>(mask.column(x))] : 255;
      }
      return true;
    });
  }

  // Writes the next numbered file from `fill(y, row)`, which answers NO when the image's data
  // ends before row y: the file is then removed, the image noted, and the number kept for the
  // next image.
  template <class Fill>
  void write(int width, int height, bool alpha, Fill fill) {
    char name[32];
    std::snprintf(name, sizeof name, "-%03d.png", number_ + 1);
    PngFile png;
    if (!png.open(prefix_ + name, width, height, alpha)) {
      writeFailed_ = true;
      return;
    }
    std::vector<unsigned char> row(static_cast<size_t>(width) * (alpha ? 4 : 3));
    for (int y = 0; y < height; ++y) {
      if (!fill(y, row.data())) {
        png.discard();
        undecodable(width, height);
        return;
      }
      if (!png.writeRow(row.data())) {
        writeFailed_ = true;
        return;
      }
    }
    if (!png.finish()) {
      writeFailed_ = true;
      return;
    }
    ++number_;
  }

  std::string prefix_;
  std::set<std::pair<int, int>> seen_;
  std::vector<markupkit::SkippedImage> skipped_;
  int page_ = 0;
  int number_ = 0;
  bool writeFailed_ = false;
};

}  // namespace

std::vector<markupkit::SkippedImage> markupkit::lastSkippedImages() { return lastSkipped; }

int extractHtml(int argc, const char* const* argv) {
  lastSkipped.clear();
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
  lastSkipped = dev.skipped();
  if (dev.writeFailed()) return markupkit::ExtractWriteFailed;
  return lastSkipped.empty() ? markupkit::ExtractOk : markupkit::ExtractImagesSkipped;
}
