#pragma once
// A small PDF writer for pages that each hold one image and optional invisible text.

#include <cstddef>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace djvukit {

struct PdfImage {
  enum class Kind { CcittG4, JpegGray, JpegRgb };
  Kind kind = Kind::JpegRgb;
  int width = 0;
  int height = 0;
  std::string data;  // the encoded image
};

// A word of the hidden text; the box in PDF points from the page's bottom left corner.
struct PdfWord {
  std::u32string text;
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

class PdfWriter {
 public:
  PdfWriter() = default;
  ~PdfWriter();
  PdfWriter(const PdfWriter&) = delete;
  PdfWriter& operator=(const PdfWriter&) = delete;

  bool open(const std::string& path);
  // `rotation`: clockwise degrees, a multiple of 90.
  bool addPage(double widthPt, double heightPt, int rotation, const PdfImage& image, const std::vector<PdfWord>& words);
  // Writes the page tree, cross-reference table and trailer and closes the file.
  bool finish();
  // Closes without finishing.
  void abandon();

 private:
  int newObject();
  void beginObject(int number);
  void write(const std::string& s);
  void writeStream(int number, const std::string& dict, const std::string& data);
  int fontObject();
  void writeFont();

  FILE* file_ = nullptr;
  bool ok_ = true;
  long offset_ = 0;
  std::vector<long> offsets_;  // by object number - 1; -1 while unwritten
  std::vector<int> pages_;
  int font_ = 0;
  std::map<char32_t, unsigned> codes_;  // the font's codes, given out from 1
};

// Encodes 1-bit rows (most significant bit first, 1 = black) as CCITT group 4, fed a few rows
// at a time, top to bottom; only the code is kept.
class CcittG4Encoder {
 public:
  CcittG4Encoder();
  ~CcittG4Encoder();
  CcittG4Encoder(const CcittG4Encoder&) = delete;
  CcittG4Encoder& operator=(const CcittG4Encoder&) = delete;

  bool start(int width, int height);
  bool addRows(const unsigned char* rows, int count, size_t rowBytes);
  // The code of the whole image once every row was added.
  bool finish(std::string* out);
  // libtiff's first error since start(), empty when it reported none.
  const std::string& error() const { return error_; }

 private:
  struct State;
  std::string error_;  // outlives the state, whose libtiff handle reports to it until closed
  std::unique_ptr<State> state_;
};

// Encodes 8-bit grey (components 1) or RGB (components 3) rows as baseline JPEG, fed a few rows
// at a time, top to bottom; only the code is kept.
class JpegEncoder {
 public:
  JpegEncoder();
  ~JpegEncoder();
  JpegEncoder(const JpegEncoder&) = delete;
  JpegEncoder& operator=(const JpegEncoder&) = delete;

  bool start(int width, int height, int components, int quality);
  bool addRows(const unsigned char* rows, int count, size_t rowBytes);
  // The code of the whole image once every row was added.
  bool finish(std::string* out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace djvukit
