// The SVG writer: every record that draws writes its piece of the document; the drawing state
// lives in the context's SVGSTATE and is reset at the header.
#include <charconv>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string_view>

#include "diagramkit/emf/devicecontext.h"
#include "diagramkit/emf/emf.h"

namespace EMF {

namespace {

// Formats into a local buffer and hands it to the stream in large writes. Numbers are formatted
// with to_chars, so the output does not depend on the C locale.
class SvgText {
 public:
  explicit SvgText(FILE* out) : out_(out) {}
  ~SvgText() { flush(); }
  SvgText(const SvgText&) = delete;
  SvgText& operator=(const SvgText&) = delete;

  SvgText& operator<<(std::string_view s) {
    if (s.size() > sizeof buf_ - n_) flush();
    if (s.size() > sizeof buf_) {
      (void)std::fwrite(s.data(), 1, s.size(), out_);
      return *this;
    }
    std::memcpy(buf_ + n_, s.data(), s.size());
    n_ += s.size();
    return *this;
  }

  // printf "%.<precision>f"
  void fixed(float v, int precision) {
    reserve(400);
    auto r = std::to_chars(buf_ + n_, buf_ + sizeof buf_, static_cast<double>(v), std::chars_format::fixed, precision);
    n_ = static_cast<std::size_t>(r.ptr - buf_);
  }
  void integer(std::int64_t v) {
    reserve(24);
    auto r = std::to_chars(buf_ + n_, buf_ + sizeof buf_, v);
    n_ = static_cast<std::size_t>(r.ptr - buf_);
  }
  // "%02x%02x%02x" of a COLORREF's red, green and blue bytes.
  void rgb(COLORREF c) {
    static const char digits[] = "0123456789abcdef";
    reserve(6);
    for (int shift = 0; shift <= 16; shift += 8) {
      const unsigned b = (c >> shift) & 0xFF;
      buf_[n_++] = digits[b >> 4];
      buf_[n_++] = digits[b & 0xF];
    }
  }
  // "%f %f " of a point under the world transform.
  void point(const XFORM& f, float x, float y) {
    const float px = f.eM11 * x + f.eM21 * y + f.eDx;
    const float py = f.eM12 * x + f.eM22 * y + f.eDy;
    fixed(px, 6);
    *this << " ";
    fixed(py, 6);
    *this << " ";
  }

 private:
  void reserve(std::size_t n) {
    if (sizeof buf_ - n_ < n) flush();
  }
  void flush() {
    if (n_) (void)std::fwrite(buf_, 1, n_, out_);
    n_ = 0;
  }

  FILE* out_;
  std::size_t n_ = 0;
  char buf_[16384];
};

constexpr std::string_view kElementStart = "<svg:path \nd=\"";
constexpr std::string_view kBracketStart = "<svg:path d=\" ";
constexpr std::string_view kDataEnd = "\" ";
constexpr std::string_view kFigureEnd = "z \n";

void writeStyle(SVGSTATE& s, SvgText& t) {
  t << "style=\"";
  if (!s.staticBushIsUsed) {
    t << "fill:#";
    t.rgb(s.staticBush.lbColor);
    t << ";";
    t << "fill-rule:nonzero;";
    if (s.staticBush.lbStyle == 0) t << "fill-opacity:1;";
    t << "stroke:none;\" />\n";
  } else {
    const DWORD style = s.staticPen.elpPenStyle;
    if ((style & 0xF) == 0) {
      t << "fill:none;";
      t << "stroke:#";
      t.rgb(s.staticPen.elpColor);
      t << ";";
    }
    t << "stroke-width:";
    t.fixed(static_cast<float>(s.staticPen.elpWidth) * s.staticForm.eM11, 2);
    t << "px;";
    if ((style & 0xF00) == 0) t << "stroke-linecap:round;";
    if ((style & 0xF000) == 0) t << "stroke-linejoin:round;";
    if (((style >> 16) & 0xF) == 1) t << "stroke-dasharray:none;";
    if (s.staticPen.elpBrushStyle == 0) t << "stroke-opacity:1;";
    t << "\" />\n";
  }
  s.isInPath = false;
}

void elementStart(SVGSTATE& s, SvgText& t) {
  if (!s.isInPath) t << kElementStart;
}

void movePoint(const SVGSTATE& s, SvgText& t, const POINT16& p) {
  t << "M ";
  t.point(s.staticForm, p.x, p.y);
}

void linePoint(const SVGSTATE& s, SvgText& t, const POINT16& p) {
  t << "L ";
  t.point(s.staticForm, p.x, p.y);
}

void curves(const SVGSTATE& s, SvgText& t, const POINT16* p, DWORD n) {
  DWORD i = 0;
  for (; i + 3 <= n; i += 3) {
    t << "C ";
    for (DWORD k = 0; k < 3; ++k) t.point(s.staticForm, p[i + k].x, p[i + k].y);
  }
  for (; i < n; ++i) linePoint(s, t, p[i]);
}

// One element of the points joined by lines, its data ended by `end`, then its style.
void polyShape(SVGSTATE& s, FILE* out, const std::vector<POINT16>& points, std::string_view end) {
  if (points.empty()) return;
  SvgText t(out);
  elementStart(s, t);
  movePoint(s, t, points[0]);
  for (std::size_t i = 1; i < points.size(); ++i) linePoint(s, t, points[i]);
  t << end;
  writeStyle(s, t);
}

}  // namespace

void ENHMETAHEADER::output(METAFILEDEVICECONTEXT* source, FILE* out) const {
  source->svg.initStaticForm();
  SvgText t(out);
  t << "<svg:svg version=\"1.1\" xmlns:svg=\"" << "http://www.w3.org/2000/svg" << "\" xmlns:xlink=\""
    << "http://www.w3.org/1999/xlink" << "\" width=\"";
  t.integer(std::int64_t{rclBounds.right} - rclBounds.left);
  t << "\" height=\"";
  t.integer(std::int64_t{rclBounds.bottom} - rclBounds.top);
  t << "\" >\n";
}

void EMRPOLYGON16::output(METAFILEDEVICECONTEXT* source, FILE* out) const {
  polyShape(source->svg, out, apts, "z\" ");
}

void EMRPOLYLINE16::output(METAFILEDEVICECONTEXT* source, FILE* out) const {
  polyShape(source->svg, out, apts, kDataEnd);
}

void EMRPOLYPOLYGON16::output(METAFILEDEVICECONTEXT* source, FILE* out) const {
  SVGSTATE& s = source->svg;
  SvgText t(out);
  elementStart(s, t);
  // Polygons take their points one after the other; a count past the array is cut short.
  DWORD next = 0;
  for (DWORD count : aPolyCounts) {
    const DWORD n = count < cpts - next ? count : cpts - next;
    if (n == 0) continue;
    movePoint(s, t, apts[next]);
    for (DWORD i = 1; i < n; ++i) linePoint(s, t, apts[next + i]);
    t << kFigureEnd;
    next += n;
  }
  t << "\"\n";
  writeStyle(s, t);
}

void EMRPOLYBEZIER16::output(METAFILEDEVICECONTEXT* source, FILE* out) const {
  if (cpts == 0) return;
  SVGSTATE& s = source->svg;
  SvgText t(out);
  elementStart(s, t);
  movePoint(s, t, apts[0]);
  curves(s, t, apts.data() + 1, cpts - 1);
  t << kDataEnd;
  writeStyle(s, t);
}

void EMRPOLYBEZIERTO16::output(METAFILEDEVICECONTEXT* source, FILE* out) const {
  SvgText t(out);
  curves(source->svg, t, apts.data(), cpts);
}

void EMRPOLYLINETO16::output(METAFILEDEVICECONTEXT* source, FILE* out) const {
  SvgText t(out);
  for (DWORD i = 0; i < cpts; ++i) linePoint(source->svg, t, apts[i]);
}

void EMRMOVETOEX::output(METAFILEDEVICECONTEXT* source, FILE* out) const {
  SvgText t(out);
  t << "M ";
  t.point(source->svg.staticForm, static_cast<float>(ptl.x), static_cast<float>(ptl.y));
}

void EMRLINETO::output(METAFILEDEVICECONTEXT* source, FILE* out) const {
  SvgText t(out);
  t << "L ";
  t.point(source->svg.staticForm, static_cast<float>(ptl.x), static_cast<float>(ptl.y));
}

void EMRBEGINPATH::output(METAFILEDEVICECONTEXT* source, FILE* out) const {
  SVGSTATE& s = source->svg;
  SvgText t(out);
  if (s.isInPath) {  // a bracket opened twice: finish the first element so the markup stays whole
    t << kDataEnd;
    writeStyle(s, t);
  }
  t << kBracketStart;
  s.isInPath = true;
}

void EMRENDPATH::output(METAFILEDEVICECONTEXT* source, FILE* out) const {
  SvgText t(out);
  t << kDataEnd;
  writeStyle(source->svg, t);
}

void EMRCLOSEFIGURE::output(METAFILEDEVICECONTEXT*, FILE* out) const {
  SvgText t(out);
  t << kFigureEnd;
}

void EMRMODIFYWORLDTRANSFORM::output(METAFILEDEVICECONTEXT* source, FILE*) const {
  XFORM& s = source->svg.staticForm;
  const XFORM& r = xform;
  if (iMode == MWT_IDENTITY) {
    s = XFORM{1, 0, 0, 1, 0, 0};
  } else if (iMode == MWT_RIGHTMULTIPLY) {
    s = multiplyXform(s, r);
  } else {
    source->svg.myMultiply(r);
  }
}

void EMRCREATEBRUSHINDIRECT::output(METAFILEDEVICECONTEXT* source, FILE*) const {
  SVGSTATE& s = source->svg;
  s.staticBush = lb;
  s.staticBushIsUsed = false;
  s.staticPenIsUsed = true;
}

void EMREXTCREATEPEN::output(METAFILEDEVICECONTEXT* source, FILE*) const {
  SVGSTATE& s = source->svg;
  s.staticPen = elp;
  s.staticPenIsUsed = false;
  s.staticBushIsUsed = true;
}

}  // namespace EMF

int outputEnhMetaFile(FILE* out, unsigned int handle) {
  std::lock_guard<std::recursive_mutex> lock(EMF::libraryMutex());
  EMF::METAFILEDEVICECONTEXT* c = EMF::findContext(handle);
  if (!c || !out) return 0;
  c->emf_handles.clear();
  c->svg.initStaticForm();
  for (const EMF::METARECORD* r : c->records) r->output(c, out);
  if (c->svg.isInPath) {  // an unended bracket: close its element before the document ends
    const EMF::EMRENDPATH closing;
    closing.output(c, out);
  }
  static const char documentEnd[] = "</svg:svg>";
  (void)std::fwrite(documentEnd, 1, sizeof documentEnd - 1, out);
  return 1;
}
