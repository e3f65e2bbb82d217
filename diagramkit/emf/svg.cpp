// The SVG writer: every record that draws writes its piece of the document; the drawing state
// lives in the context's SVGSTATE and is reset at the header.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

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
  // "%f %f " of a logical point in the picture's coordinates.
  void point(const SVGSTATE& s, float x, float y) {
    double px = 0;
    double py = 0;
    s.toPicture(x, y, px, py);
    fixedD(px, 6);
    *this << " ";
    fixedD(py, 6);
    *this << " ";
  }
  void fixedD(double v, int precision) {
    reserve(400);
    auto r = std::to_chars(buf_ + n_, buf_ + sizeof buf_, static_cast<double>(static_cast<float>(v)),
                           std::chars_format::fixed, precision);
    n_ = static_cast<std::size_t>(r.ptr - buf_);
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

constexpr UINT kBrushNull = 1;  // BS_NULL, BS_HOLLOW
constexpr DWORD kPenNull = 5;   // PS_NULL

// The stroke width in picture units: the pen's width under the world transform and the
// mapping; a zero width is one device pixel.
double penWidth(const SVGSTATE& s) {
  if (s.staticPen.elpWidth == 0) return 1.0;
  double sx = 1;
  double sy = 1;
  s.pageScale(sx, sy);
  return static_cast<double>(s.staticPen.elpWidth) * std::fabs(static_cast<double>(s.staticForm.eM11)) * std::fabs(sx);
}

// The style of the element: the selected brush fills it (when `fill`), the selected pen
// strokes it (when `stroke`), the fill rule follows the polygon fill mode.
void writeStyle(SVGSTATE& s, SvgText& t, bool fill = true, bool stroke = true) {
  t << "style=\"";
  const LOGBRUSH& brush = s.staticBush;
  if (fill && brush.lbStyle != kBrushNull) {
    t << "fill:#";
    t.rgb(brush.lbColor);
    t << ";";
    t << (s.current.polyfill_mode == 2 ? "fill-rule:nonzero;" : "fill-rule:evenodd;");
    if (brush.lbStyle == 0) t << "fill-opacity:1;";
  } else {
    t << "fill:none;";
  }
  const EXTLOGPEN& pen = s.staticPen;
  const DWORD style = pen.elpPenStyle;
  if (stroke && (style & 0xF) != kPenNull) {
    const double w = penWidth(s);
    t << "stroke:#";
    t.rgb(pen.elpColor);
    t << ";";
    t << "stroke-width:";
    t.fixedD(w, 2);
    t << "px;";
    switch (style & 0xF00) {
      case 0x100: t << "stroke-linecap:square;"; break;
      case 0x200: t << "stroke-linecap:butt;"; break;
      default: t << "stroke-linecap:round;"; break;
    }
    switch (style & 0xF000) {
      case 0x1000: t << "stroke-linejoin:bevel;"; break;
      case 0x2000: t << "stroke-linejoin:miter;"; break;
      default: t << "stroke-linejoin:round;"; break;
    }
    // Dashes and gaps in pen widths.
    static const std::vector<int> dashes[] = {{}, {3, 1}, {1, 1}, {3, 1, 1, 1}, {3, 1, 1, 1, 1, 1}};
    const DWORD kind = style & 0xF;
    if (kind >= 1 && kind <= 4) {
      t << "stroke-dasharray:";
      const std::vector<int>& d = dashes[kind];
      for (std::size_t i = 0; i < d.size(); ++i) {
        if (i) t << ",";
        t.fixedD(d[i] * std::max(w, 1.0), 2);
      }
      t << ";";
    } else {
      t << "stroke-dasharray:none;";
    }
    if (pen.elpBrushStyle == 0) t << "stroke-opacity:1;";
  } else {
    t << "stroke:none;";
  }
  t << "\" />\n";
  s.isInPath = false;
}

// An ended bracket that no fill or stroke record followed draws nothing.
void closeUnstyledPath(SVGSTATE& s, FILE* out) {
  if (!s.pathAwaitingStyle) return;
  s.pathAwaitingStyle = false;
  SvgText t(out);
  t << "style=\"fill:none;stroke:none;\" />\n";
}

void pathStyle(SVGSTATE& s, FILE* out, bool fill, bool stroke) {
  if (!s.pathAwaitingStyle) return;
  s.pathAwaitingStyle = false;
  SvgText t(out);
  writeStyle(s, t, fill, stroke);
}

void elementStart(SVGSTATE& s, SvgText& t) {
  if (!s.isInPath) t << kElementStart;
}

void movePoint(const SVGSTATE& s, SvgText& t, const POINT16& p) {
  t << "M ";
  t.point(s, p.x, p.y);
}

void linePoint(const SVGSTATE& s, SvgText& t, const POINT16& p) {
  t << "L ";
  t.point(s, p.x, p.y);
}

void curves(const SVGSTATE& s, SvgText& t, const POINT16* p, DWORD n) {
  DWORD i = 0;
  for (; i + 3 <= n; i += 3) {
    t << "C ";
    for (DWORD k = 0; k < 3; ++k) t.point(s, p[i + k].x, p[i + k].y);
  }
  for (; i < n; ++i) linePoint(s, t, p[i]);
}

// One element of the points joined by lines, its data ended by `end`, then its style; an
// open shape is not filled.
void polyShape(SVGSTATE& s, FILE* out, const std::vector<POINT16>& points, std::string_view end, bool fill) {
  if (points.empty()) return;
  SvgText t(out);
  elementStart(s, t);
  movePoint(s, t, points[0]);
  for (std::size_t i = 1; i < points.size(); ++i) linePoint(s, t, points[i]);
  t << end;
  writeStyle(s, t, fill);
}

// The brushes and pens the system has from the start, by stock index.
void selectStock(SVGSTATE& s, DWORD index) {
  static const COLORREF brushColours[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0x000000};
  if (index <= 4) {
    s.staticBush = LOGBRUSH{0, brushColours[index], 0};
  } else if (index == 5) {
    s.staticBush = LOGBRUSH{kBrushNull, 0, 0};
  } else if (index == 6 || index == 7) {
    s.staticPen = EXTLOGPEN{0, 0, 0, index == 6 ? 0xFFFFFFu : 0u, 0, 0};
  } else if (index == 8) {
    s.staticPen = EXTLOGPEN{kPenNull, 0, 0, 0, 0, 0};
  } else if (index == 18) {  // DC_BRUSH
    s.staticBush = LOGBRUSH{0, 0xFFFFFF, 0};
  } else if (index == 19) {  // DC_PEN
    s.staticPen = EXTLOGPEN{0, 0, 0, 0, 0, 0};
  }
}

}  // namespace

void ENHMETAHEADER::output(METAFILEDEVICECONTEXT* source, FILE* out) const {
  SVGSTATE& s = source->svg;
  s.initStaticForm();
  const double devX = szlDevice.cx > 0 ? szlDevice.cx : 1024;
  const double devY = szlDevice.cy > 0 ? szlDevice.cy : 768;
  const double mmX = szlMillimeters.cx > 0 ? szlMillimeters.cx : 320;
  const double mmY = szlMillimeters.cy > 0 ? szlMillimeters.cy : 240;
  s.pixelsPerMmX = devX / mmX;
  s.pixelsPerMmY = devY / mmY;
  // The picture is the bounds (device units); without them, the frame (0.01 mm).
  double width = 1;
  double height = 1;
  if (rclBounds.right > rclBounds.left && rclBounds.bottom > rclBounds.top) {
    s.originX = rclBounds.left;
    s.originY = rclBounds.top;
    width = static_cast<double>(rclBounds.right) - rclBounds.left;
    height = static_cast<double>(rclBounds.bottom) - rclBounds.top;
  } else if (rclFrame.right > rclFrame.left && rclFrame.bottom > rclFrame.top) {
    s.originX = rclFrame.left / 100.0 * s.pixelsPerMmX;
    s.originY = rclFrame.top / 100.0 * s.pixelsPerMmY;
    width = std::ceil((static_cast<double>(rclFrame.right) - rclFrame.left) / 100.0 * s.pixelsPerMmX);
    height = std::ceil((static_cast<double>(rclFrame.bottom) - rclFrame.top) / 100.0 * s.pixelsPerMmY);
  }
  SvgText t(out);
  t << "<svg:svg version=\"1.1\" xmlns:svg=\"" << "http://www.w3.org/2000/svg" << "\" xmlns:xlink=\""
    << "http://www.w3.org/1999/xlink" << "\" width=\"";
  t.integer(static_cast<std::int64_t>(std::max(1.0, width)));
  t << "\" height=\"";
  t.integer(static_cast<std::int64_t>(std::max(1.0, height)));
  t << "\" >\n";
}

void EMRPOLYGON16::output(METAFILEDEVICECONTEXT* source, FILE* out) const {
  polyShape(source->svg, out, apts, "z\" ", true);
}

void EMRPOLYLINE16::output(METAFILEDEVICECONTEXT* source, FILE* out) const {
  polyShape(source->svg, out, apts, kDataEnd, false);
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
  writeStyle(s, t, false);
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
  t.point(source->svg, static_cast<float>(ptl.x), static_cast<float>(ptl.y));
}

void EMRLINETO::output(METAFILEDEVICECONTEXT* source, FILE* out) const {
  SvgText t(out);
  t << "L ";
  t.point(source->svg, static_cast<float>(ptl.x), static_cast<float>(ptl.y));
}

void EMRBEGINPATH::output(METAFILEDEVICECONTEXT* source, FILE* out) const {
  SVGSTATE& s = source->svg;
  SvgText t(out);
  if (s.isInPath) {  // a bracket opened twice: the first path is dropped, the markup stays whole
    t << kDataEnd << "style=\"fill:none;stroke:none;\" />\n";
  }
  t << kBracketStart;
  s.isInPath = true;
}

// The style comes with the record that fills or strokes the path.
void EMRENDPATH::output(METAFILEDEVICECONTEXT* source, FILE* out) const {
  SvgText t(out);
  t << kDataEnd;
  source->svg.isInPath = false;
  source->svg.pathAwaitingStyle = true;
}

void EMRFILLPATH::output(METAFILEDEVICECONTEXT* source, FILE* out) const { pathStyle(source->svg, out, true, false); }

void EMRSTROKEPATH::output(METAFILEDEVICECONTEXT* source, FILE* out) const { pathStyle(source->svg, out, false, true); }

void EMRSTROKEANDFILLPATH::output(METAFILEDEVICECONTEXT* source, FILE* out) const {
  pathStyle(source->svg, out, true, true);
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

void EMRSETWORLDTRANSFORM::output(METAFILEDEVICECONTEXT* source, FILE*) const { source->svg.staticForm = xform; }

void EMRCREATEBRUSHINDIRECT::output(METAFILEDEVICECONTEXT* source, FILE*) const {
  SVGSTATE::Created& c = source->svg.created[ihBrush];
  c.isPen = false;
  c.brush = lb;
}

void EMREXTCREATEPEN::output(METAFILEDEVICECONTEXT* source, FILE*) const {
  SVGSTATE::Created& c = source->svg.created[ihPen];
  c.isPen = true;
  c.pen = elp;
}

void EMRCREATEPEN::output(METAFILEDEVICECONTEXT* source, FILE*) const {
  SVGSTATE::Created& c = source->svg.created[ihPen];
  c.isPen = true;
  const DWORD width = lopn.lopnWidth.x > 0 ? static_cast<DWORD>(lopn.lopnWidth.x) : 0;
  c.pen = EXTLOGPEN{(lopn.lopnStyle & 0xFFFF) | (width > 1 ? 0x10000u : 0u), width, 0, lopn.lopnColor, 0, 0};
}

void EMRSELECTOBJECT::output(METAFILEDEVICECONTEXT* source, FILE*) const {
  SVGSTATE& s = source->svg;
  if (ihObject & 0x80000000u) {
    selectStock(s, ihObject & 0x7FFFFFFFu);
    return;
  }
  auto it = s.created.find(ihObject);
  if (it == s.created.end()) return;
  if (it->second.isPen) {
    s.staticPen = it->second.pen;
  } else {
    s.staticBush = it->second.brush;
  }
}

void EMRDELETEOBJECT::output(METAFILEDEVICECONTEXT* source, FILE*) const { source->svg.created.erase(ihObject); }

void EMRSETPOLYFILLMODE::output(METAFILEDEVICECONTEXT* source, FILE*) const {
  source->svg.current.polyfill_mode = static_cast<INT>(iMode);
}

void EMRSETMAPMODE::output(METAFILEDEVICECONTEXT* source, FILE*) const {
  source->svg.current.map_mode = static_cast<INT>(iMode);
}

void EMRSETWINDOWEXTEX::output(METAFILEDEVICECONTEXT* source, FILE*) const { source->svg.current.window_ext = szlExtent; }

void EMRSETVIEWPORTEXTEX::output(METAFILEDEVICECONTEXT* source, FILE*) const {
  source->svg.current.viewport_ext = szlExtent;
}

void EMRSETWINDOWORGEX::output(METAFILEDEVICECONTEXT* source, FILE*) const { source->svg.current.window_org = ptlOrigin; }

void EMRSETVIEWPORTORGEX::output(METAFILEDEVICECONTEXT* source, FILE*) const {
  source->svg.current.viewport_org = ptlOrigin;
}

namespace {
void scaleExtent(SIZEL& ext, LONG xNum, LONG xDenom, LONG yNum, LONG yDenom) {
  if (xDenom != 0) ext.cx = static_cast<LONG>(static_cast<std::int64_t>(ext.cx) * xNum / xDenom);
  if (yDenom != 0) ext.cy = static_cast<LONG>(static_cast<std::int64_t>(ext.cy) * yNum / yDenom);
}
}  // namespace

void EMRSCALEVIEWPORTEXTEX::output(METAFILEDEVICECONTEXT* source, FILE*) const {
  scaleExtent(source->svg.current.viewport_ext, xNum, xDenom, yNum, yDenom);
}

void EMRSCALEWINDOWEXTEX::output(METAFILEDEVICECONTEXT* source, FILE*) const {
  scaleExtent(source->svg.current.window_ext, xNum, xDenom, yNum, yDenom);
}

void EMRSAVEDC::output(METAFILEDEVICECONTEXT* source, FILE*) const {
  SVGSTATE& s = source->svg;
  s.saved.push_back(s.current);
}

void EMRRESTOREDC::output(METAFILEDEVICECONTEXT* source, FILE*) const {
  SVGSTATE& s = source->svg;
  const auto depth = static_cast<std::int64_t>(s.saved.size());
  // Negative: that many levels back; positive: that level, counted from 1.
  const std::int64_t level = iRelative < 0 ? depth + iRelative : static_cast<std::int64_t>(iRelative) - 1;
  if (level < 0 || level >= depth) return;
  s.current = s.saved[static_cast<std::size_t>(level)];
  s.saved.resize(static_cast<std::size_t>(level));
}

}  // namespace EMF

int outputEnhMetaFile(FILE* out, unsigned int handle) {
  std::lock_guard<std::recursive_mutex> lock(EMF::libraryMutex());
  EMF::METAFILEDEVICECONTEXT* c = EMF::findContext(handle);
  if (!c || !out) return 0;
  c->emf_handles.clear();
  c->svg.initStaticForm();
  for (const EMF::METARECORD* r : c->records) {
    if (c->svg.pathAwaitingStyle && !dynamic_cast<const EMF::EMRFILLPATH*>(r) &&
        !dynamic_cast<const EMF::EMRSTROKEPATH*>(r) && !dynamic_cast<const EMF::EMRSTROKEANDFILLPATH*>(r))
      EMF::closeUnstyledPath(c->svg, out);
    r->output(c, out);
  }
  if (c->svg.isInPath) {  // an unended bracket: close its element before the document ends
    const EMF::EMRENDPATH closing;
    closing.output(c, out);
  }
  EMF::closeUnstyledPath(c->svg, out);
  static const char documentEnd[] = "</svg:svg>";
  (void)std::fwrite(documentEnd, 1, sizeof documentEnd - 1, out);
  return 1;
}
