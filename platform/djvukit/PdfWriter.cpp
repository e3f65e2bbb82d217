#include "platform/djvukit/PdfWriter.h"

#include <jpeglib.h>
#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/foundation/log.h"

namespace djvukit {

namespace {

// Locale-independent number text.
std::string num(double v) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 3);
  std::string s(buf, r.ptr);
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

std::string num(long v) { return std::to_string(v); }

std::string deflate(const std::string& in) {
  uLongf size = compressBound(in.size());
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(in.data()), in.size(),
                Z_BEST_COMPRESSION) != Z_OK)
    return {};
  out.resize(size);
  return out;
}

// The ToUnicode map of the codes given out: code -> character, as UTF-16.
std::string toUnicodeCMap(const std::map<char32_t, unsigned>& codes) {
  std::string s =
      "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
      "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
      "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
      "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
  std::vector<std::pair<unsigned, char32_t>> byCode;
  for (const auto& [c, code] : codes) byCode.emplace_back(code, c);
  std::sort(byCode.begin(), byCode.end());
  char line[48];
  for (size_t i = 0; i < byCode.size(); i += 100) {
    const size_t n = std::min<size_t>(100, byCode.size() - i);
    s += std::to_string(n) + " beginbfchar\n";
    for (size_t j = i; j < i + n; ++j) {
      const auto [code, c] = byCode[j];
      if (c > 0xFFFF) {
        const char32_t v = c - 0x10000;
        std::snprintf(line, sizeof line, "<%04X> <%04X%04X>\n", code, 0xD800u + unsigned(v >> 10), 0xDC00u + unsigned(v & 0x3FF));
      } else {
        std::snprintf(line, sizeof line, "<%04X> <%04X>\n", code, unsigned(c));
      }
      s += line;
    }
    s += "endbfchar\n";
  }
  s += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
  return s;
}

// ---- CCITT group 4 through libtiff, in memory ---------------------------------------------

struct MemTiff {
  std::string data;
  toff_t pos = 0;
};

tsize_t memRead(thandle_t h, tdata_t buf, tsize_t size) {
  auto* m = static_cast<MemTiff*>(h);
  if (m->pos >= m->data.size()) return 0;
  const tsize_t n = std::min<tsize_t>(size, static_cast<tsize_t>(m->data.size() - m->pos));
  std::memcpy(buf, m->data.data() + m->pos, static_cast<size_t>(n));
  m->pos += static_cast<toff_t>(n);
  return n;
}
tsize_t memWrite(thandle_t h, tdata_t buf, tsize_t size) {
  auto* m = static_cast<MemTiff*>(h);
  if (m->pos + size > m->data.size()) m->data.resize(static_cast<size_t>(m->pos + size));
  std::memcpy(m->data.data() + m->pos, buf, static_cast<size_t>(size));
  m->pos += static_cast<toff_t>(size);
  return size;
}
toff_t memSeek(thandle_t h, toff_t off, int whence) {
  auto* m = static_cast<MemTiff*>(h);
  if (whence == SEEK_SET) m->pos = off;
  else if (whence == SEEK_CUR) m->pos += off;
  else m->pos = m->data.size() + off;
  return m->pos;
}
int memClose(thandle_t) { return 0; }
toff_t memSize(thandle_t h) { return static_cast<MemTiff*>(h)->data.size(); }
int memMap(thandle_t, tdata_t*, toff_t*) { return 0; }
void memUnmap(thandle_t, tdata_t, toff_t) {}

std::string formatted(const char* module, const char* fmt, va_list ap) {
  char text[512];
  std::vsnprintf(text, sizeof text, fmt, ap);
  return module && *module ? std::string(module) + ": " + text : std::string(text);
}

// The handle's own handlers: libtiff's process-wide ones, which another library may replace
// for a while from another thread, are never called for it.
int keepError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  auto* error = static_cast<std::string*>(user);
  if (error->empty()) *error = formatted(module, fmt, ap);
  return 1;
}
int logWarning(TIFF*, void*, const char* module, const char* fmt, va_list ap) {
  foundation::log(foundation::LogLevel::Warning, "djvukit", "libtiff: " + formatted(module, fmt, ap));
  return 1;
}

// ---- JPEG through libjpeg -----------------------------------------------------------------

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

void jpegFail(j_common_ptr c) { std::longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1); }

}  // namespace

struct CcittG4Encoder::State {
  MemTiff memory;
  TIFF* tiff = nullptr;
  int height = 0;
  int row = 0;
  bool ok = false;
  std::string scratch;  // libtiff may change the row it is given
  ~State() {
    if (tiff) TIFFClose(tiff);
  }
};

CcittG4Encoder::CcittG4Encoder() = default;
CcittG4Encoder::~CcittG4Encoder() = default;

bool CcittG4Encoder::start(int width, int height) {
  error_.clear();
  state_ = std::make_unique<State>();
  State& s = *state_;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return false;
  TIFFOpenOptionsSetErrorHandlerExtR(options, keepError, &error_);
  TIFFOpenOptionsSetWarningHandlerExtR(options, logWarning, nullptr);
  s.tiff = TIFFClientOpenExt("g4", "w", &s.memory, memRead, memWrite, memSeek, memClose, memSize, memMap, memUnmap,
                             options);
  TIFFOpenOptionsFree(options);
  if (!s.tiff) return false;
  const bool set = TIFFSetField(s.tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width)) &&
                   TIFFSetField(s.tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height)) &&
                   TIFFSetField(s.tiff, TIFFTAG_BITSPERSAMPLE, 1) && TIFFSetField(s.tiff, TIFFTAG_SAMPLESPERPIXEL, 1) &&
                   TIFFSetField(s.tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) &&
                   TIFFSetField(s.tiff, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) &&
                   TIFFSetField(s.tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4) &&
                   TIFFSetField(s.tiff, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(height)) &&
                   TIFFSetField(s.tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  if (!set) return false;
  s.height = height;
  s.scratch.assign((static_cast<size_t>(width) + 7) / 8, '\0');
  s.ok = true;
  return true;
}

bool CcittG4Encoder::addRows(const unsigned char* rows, int count, size_t rowBytes) {
  if (!state_ || !state_->ok) return false;
  State& s = *state_;
  for (int y = 0; y < count && s.ok; ++y, ++s.row) {
    std::memcpy(s.scratch.data(), rows + static_cast<size_t>(y) * rowBytes, s.scratch.size());
    s.ok = s.row < s.height && TIFFWriteScanline(s.tiff, s.scratch.data(), static_cast<uint32_t>(s.row), 0) == 1;
  }
  return s.ok;
}

bool CcittG4Encoder::finish(std::string* out) {
  if (!state_ || !state_->ok || state_->row != state_->height) return false;
  State& s = *state_;
  // Flushes the strip's code but keeps the directory, whose strip fields say where it is.
  bool ok = TIFFFlushData(s.tiff) == 1;
  if (ok) {
    // The one strip holds the whole page's code.
    toff_t* offsets = nullptr;
    toff_t* counts = nullptr;
    ok = TIFFGetField(s.tiff, TIFFTAG_STRIPOFFSETS, &offsets) && TIFFGetField(s.tiff, TIFFTAG_STRIPBYTECOUNTS, &counts) &&
         offsets && counts && offsets[0] + counts[0] <= s.memory.data.size();
    if (ok) out->assign(s.memory.data, static_cast<size_t>(offsets[0]), static_cast<size_t>(counts[0]));
  }
  state_.reset();
  return ok;
}

struct JpegEncoder::State {
  jpeg_compress_struct c;
  JpegError err;
  // The code goes to `code` through `chunk`.
  jpeg_destination_mgr destination;
  std::string code;
  unsigned char chunk[16384];
  bool created = false;
  bool ok = false;
  ~State() {
    if (created) jpeg_destroy_compress(&c);
  }
  static State* of(j_compress_ptr c) { return reinterpret_cast<State*>(c->client_data); }
  static void begin(j_compress_ptr c) {
    c->dest->next_output_byte = of(c)->chunk;
    c->dest->free_in_buffer = sizeof chunk;
  }
  static boolean full(j_compress_ptr c) {
    of(c)->code.append(reinterpret_cast<const char*>(of(c)->chunk), sizeof chunk);
    begin(c);
    return TRUE;
  }
  static void end(j_compress_ptr c) {
    of(c)->code.append(reinterpret_cast<const char*>(of(c)->chunk), sizeof chunk - c->dest->free_in_buffer);
  }
};

JpegEncoder::JpegEncoder() = default;
JpegEncoder::~JpegEncoder() = default;

bool JpegEncoder::start(int width, int height, int components, int quality) {
  state_ = std::make_unique<State>();
  State& s = *state_;
  s.c.err = jpeg_std_error(&s.err.mgr);
  s.err.mgr.error_exit = jpegFail;
  if (setjmp(s.err.jump)) {
    s.ok = false;
    return false;
  }
  jpeg_create_compress(&s.c);
  s.created = true;
  s.c.client_data = &s;
  s.destination.init_destination = State::begin;
  s.destination.empty_output_buffer = State::full;
  s.destination.term_destination = State::end;
  s.c.dest = &s.destination;
  s.c.image_width = static_cast<JDIMENSION>(width);
  s.c.image_height = static_cast<JDIMENSION>(height);
  s.c.input_components = components;
  s.c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&s.c);
  jpeg_set_quality(&s.c, quality, TRUE);
  jpeg_start_compress(&s.c, TRUE);
  s.ok = true;
  return true;
}

bool JpegEncoder::addRows(const unsigned char* rows, int count, size_t rowBytes) {
  if (!state_ || !state_->ok) return false;
  State& s = *state_;
  if (setjmp(s.err.jump)) {
    s.ok = false;
    return false;
  }
  for (int y = 0; y < count; ++y) {
    if (s.c.next_scanline >= s.c.image_height) {
      s.ok = false;
      return false;
    }
    JSAMPROW row = const_cast<JSAMPROW>(rows + static_cast<size_t>(y) * rowBytes);
    jpeg_write_scanlines(&s.c, &row, 1);
  }
  return true;
}

bool JpegEncoder::finish(std::string* out) {
  if (!state_ || !state_->ok || state_->c.next_scanline != state_->c.image_height) return false;
  State& s = *state_;
  if (setjmp(s.err.jump)) {
    state_.reset();
    return false;
  }
  jpeg_finish_compress(&s.c);
  *out = std::move(s.code);
  state_.reset();
  return true;
}

// ---- writer -------------------------------------------------------------------------------

PdfWriter::~PdfWriter() { abandon(); }

bool PdfWriter::open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) return false;
  offsets_.assign(2, -1);  // 1: catalogue, 2: page tree
  write("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
  return ok_;
}

void PdfWriter::abandon() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

void PdfWriter::write(const std::string& s) {
  if (!file_ || !ok_) return;
  if (std::fwrite(s.data(), 1, s.size(), file_) != s.size()) ok_ = false;
  offset_ += static_cast<long>(s.size());
}

int PdfWriter::newObject() {
  offsets_.push_back(-1);
  return static_cast<int>(offsets_.size());
}

void PdfWriter::beginObject(int number) {
  offsets_[static_cast<size_t>(number - 1)] = offset_;
  write(std::to_string(number) + " 0 obj\n");
}

void PdfWriter::writeStream(int number, const std::string& dict, const std::string& data) {
  beginObject(number);
  write("<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n");
  write(data);
  write("\nendstream\nendobj\n");
}

int PdfWriter::fontObject() {
  // Written by finish(), once every code is known.
  if (!font_) font_ = newObject();
  return font_;
}

void PdfWriter::writeFont() {
  const int cid = newObject();
  const int descriptor = newObject();
  const int cmap = newObject();
  beginObject(font_);
  write("<< /Type /Font /Subtype /Type0 /BaseFont /Helvetica /Encoding /Identity-H /DescendantFonts [" +
        std::to_string(cid) + " 0 R] /ToUnicode " + std::to_string(cmap) + " 0 R >>\nendobj\n");
  beginObject(cid);
  write("<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Helvetica /CIDSystemInfo << /Registry (Adobe) "
        "/Ordering (Identity) /Supplement 0 >> /FontDescriptor " +
        std::to_string(descriptor) + " 0 R /DW 500 /CIDToGIDMap /Identity >>\nendobj\n");
  beginObject(descriptor);
  write("<< /Type /FontDescriptor /FontName /Helvetica /Flags 32 /FontBBox [0 -200 1000 900] /ItalicAngle 0 "
        "/Ascent 900 /Descent -200 /CapHeight 700 /StemV 80 >>\nendobj\n");
  writeStream(cmap, "/Filter /FlateDecode", deflate(toUnicodeCMap(codes_)));
}

bool PdfWriter::addPage(double widthPt, double heightPt, int rotation, const PdfImage& image,
                        const std::vector<PdfWord>& words) {
  if (!file_) return false;
  const int page = newObject();
  const int contents = newObject();
  const int xobject = newObject();

  std::string dict = "/Type /XObject /Subtype /Image /Width " + std::to_string(image.width) + " /Height " +
                     std::to_string(image.height);
  switch (image.kind) {
    case PdfImage::Kind::CcittG4:
      dict += " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /CCITTFaxDecode /DecodeParms << /K -1 /Columns " +
              std::to_string(image.width) + " /Rows " + std::to_string(image.height) + " >>";
      break;
    case PdfImage::Kind::JpegGray: dict += " /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /DCTDecode"; break;
    case PdfImage::Kind::JpegRgb: dict += " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode"; break;
  }
  writeStream(xobject, dict, image.data);

  std::string content = "q " + num(widthPt) + " 0 0 " + num(heightPt) + " 0 0 cm /Im0 Do Q\n";
  auto drawn = [](const PdfWord& w) { return !w.text.empty() && w.x1 > w.x0 && w.y1 > w.y0; };
  size_t last = words.size();
  for (size_t i = 0; i < words.size(); ++i)
    if (drawn(words[i])) last = i;
  bool text = false;
  char hex[8];
  auto glyph = [&](char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    auto it = codes_.find(c);
    if (it == codes_.end()) {
      if (codes_.size() >= 0xFFFF) return;  // two-byte codes are all given out
      it = codes_.emplace(c, static_cast<unsigned>(codes_.size() + 1)).first;
    }
    std::snprintf(hex, sizeof hex, "%04X", it->second);
    content += hex;
  };
  for (size_t i = 0; i < words.size(); ++i) {
    const PdfWord& w = words[i];
    if (!drawn(w)) continue;
    if (!text) {
      content += "BT 3 Tr /F0 1 Tf\n";
      text = true;
    }
    // Each glyph is half a text unit wide: the word fills its box. Every word but the last is
    // followed by a space, so that a text reader never joins two words; where the next word
    // of the line begins inside this one's box, the space too is inside it, leaving a gap.
    double x1 = w.x1;
    size_t glyphs = w.text.size();
    size_t next = i + 1;
    while (next < words.size() && !drawn(words[next])) ++next;
    if (i != last) {
      const PdfWord& n = words[next];
      const bool sameLine = std::min(w.y1, n.y1) - std::max(w.y0, n.y0) > 0.5 * std::min(w.y1 - w.y0, n.y1 - n.y0);
      if (sameLine && n.x0 > w.x0 && n.x0 <= w.x1) {
        x1 = n.x0;
        ++glyphs;
      }
    }
    const double size = w.y1 - w.y0;
    const double scaleX = (x1 - w.x0) / (0.5 * static_cast<double>(glyphs));
    content += num(scaleX) + " 0 0 " + num(size) + " " + num(w.x0) + " " + num(w.y0 + 0.2 * size) + " Tm <";
    for (char32_t c : w.text) glyph(c);
    if (i != last) glyph(U' ');
    content += "> Tj\n";
  }
  if (text) content += "ET\n";
  const int font = text ? fontObject() : 0;
  writeStream(contents, "/Filter /FlateDecode", deflate(content));

  beginObject(page);
  std::string resources = "<< /XObject << /Im0 " + std::to_string(xobject) + " 0 R >>";
  if (font) resources += " /Font << /F0 " + std::to_string(font) + " 0 R >>";
  resources += " >>";
  write("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + num(widthPt) + " " + num(heightPt) + "] /Resources " +
        resources + (rotation ? " /Rotate " + std::to_string(rotation) : std::string()) + " /Contents " +
        std::to_string(contents) + " 0 R >>\nendobj\n");
  pages_.push_back(page);
  // Each page leaves the process as it is written.
  if (ok_ && std::fflush(file_) != 0) ok_ = false;
  return ok_;
}

bool PdfWriter::finish() {
  if (!file_) return false;
  if (font_) writeFont();
  beginObject(1);
  write("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
  beginObject(2);
  std::string kids;
  for (int p : pages_) kids += std::to_string(p) + " 0 R ";
  write("<< /Type /Pages /Count " + std::to_string(pages_.size()) + " /Kids [" + kids + "] >>\nendobj\n");
  const long xref = offset_;
  write("xref\n0 " + std::to_string(offsets_.size() + 1) + "\n0000000000 65535 f \n");
  char line[32];
  for (long o : offsets_) {
    std::snprintf(line, sizeof line, "%010ld 00000 n \n", o < 0 ? 0 : o);
    write(line);
  }
  write("trailer\n<< /Size " + std::to_string(offsets_.size() + 1) + " /Root 1 0 R >>\nstartxref\n" + num(xref) +
        "\n%%EOF\n");
  const bool flushed = std::fflush(file_) == 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return ok_ && flushed && closed;
}

}  // namespace djvukit
