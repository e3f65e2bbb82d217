#include "diagramkit/engine/VSDXRenderer.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <numbers>
#include <system_error>

#include "diagramkit/engine/PageFile.h"
#include "diagramkit/engine/SVG2PDF.h"
#include "diagramkit/engine/TextMeasurer.h"
#include "diagramkit/engine/VSDXPackage.h"
#include "platform/foundation/log.h"

namespace diagramkit {

namespace {

constexpr std::string_view kLog = "diagramkit";
constexpr double kPi = std::numbers::pi;
constexpr std::string_view kSvgNamespace = "http://www.w3.org/2000/svg";
constexpr std::string_view kXlinkNamespace = "http://www.w3.org/1999/xlink";

// ---- numbers, independent of the locale ----

std::string_view trimFront(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r')) {
    s.remove_prefix(1);
  }
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  return s;
}

// The leading number of a cell value; 0 when there is none or it is not finite.
double cellDouble(std::string_view s) {
  s = trimFront(s);
  double v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc{} && std::isfinite(v) ? v : 0.0;
}

double cellFloat(std::string_view s) {
  const float f = static_cast<float>(cellDouble(s));
  return std::isfinite(f) ? f : 0.0;
}

int cellInt(std::string_view s) {
  s = trimFront(s);
  long long v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec == std::errc::result_out_of_range) return !s.empty() && s.front() == '-' ? INT_MIN : INT_MAX;
  if (r.ec != std::errc{}) return 0;
  return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

std::uint8_t cellByte(std::string_view s) { return static_cast<std::uint8_t>(cellInt(s) & 0xff); }

// Yes for a value starting (after blanks, sign and zeros) with Y, T or a digit 1 to 9.
bool cellBool(std::string_view s) {
  s = trimFront(s);
  if (!s.empty() && s.front() == '-') s.remove_prefix(1);
  while (!s.empty() && s.front() == '0') s.remove_prefix(1);
  if (s.empty()) return false;
  const char c = s.front();
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::string fixed(double v, int decimals) {
  if (!std::isfinite(v)) v = 0;
  char buf[512];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  return r.ec == std::errc{} ? std::string(buf, r.ptr) : std::string("0");
}

std::string f4(double v) { return fixed(v, 4); }
std::string f6(double v) { return fixed(v, 6); }

// Text for element content and attribute values; characters XML cannot hold are dropped.
std::string xmlEscape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') break;
        out += c;
    }
  }
  return out;
}

// Text as well-formed UTF-8 of characters XML can hold: a byte that starts no valid sequence
// becomes U+FFFD, characters XML cannot hold (controls but tab, line feed and carriage return;
// U+FFFE, U+FFFF) are dropped.
std::string xmlCharacters(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b = byte(i);
    std::size_t length = 0;
    char32_t c = 0;
    if (b < 0x80) {
      length = 1, c = b;
    } else if (b >= 0xC2 && b <= 0xDF) {
      length = 2, c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3, c = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4, c = b & 0x07;
    }
    bool valid = length > 0 && i + length <= s.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      valid = (byte(i + k) & 0xC0) == 0x80;
      c = c << 6 | (byte(i + k) & 0x3F);
    }
    // No overlong forms, surrogates or values past U+10FFFF.
    valid = valid && !(length == 3 && c < 0x800) && !(length == 4 && (c < 0x10000 || c > 0x10FFFF)) &&
            !(c >= 0xD800 && c <= 0xDFFF);
    if (!valid) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    const bool allowed = (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') && c != 0xFFFE && c != 0xFFFF;
    if (allowed) out.append(s, i, length);
    i += length;
  }
  return out;
}

// ---- XML, elements matched by local name ----

struct DocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};

xmlDoc* parsePart(const VSDXPackage& package, const std::string& name) {
  const std::optional<std::string> bytes = package.read(name);
  if (!bytes || bytes->size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
  // No network, no DTD loading, no entity expansion; damaged markup is read as far as it goes.
  return xmlReadMemory(bytes->data(), static_cast<int>(bytes->size()), name.c_str(), nullptr,
                       XML_PARSE_NONET | XML_PARSE_RECOVER | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
}

bool named(const xmlNode* node, std::string_view name) {
  return node != nullptr && node->type == XML_ELEMENT_NODE && name == reinterpret_cast<const char*>(node->name);
}

std::vector<const xmlNode*> elementChildren(const xmlNode* node) {
  std::vector<const xmlNode*> out;
  if (node == nullptr) return out;
  for (const xmlNode* c = node->children; c != nullptr; c = c->next) {
    if (c->type == XML_ELEMENT_NODE) out.push_back(c);
  }
  return out;
}

const xmlNode* firstElementChild(const xmlNode* node) {
  if (node == nullptr) return nullptr;
  for (const xmlNode* c = node->children; c != nullptr; c = c->next) {
    if (c->type == XML_ELEMENT_NODE) return c;
  }
  return nullptr;
}

void descendants(const xmlNode* node, std::string_view name, std::vector<const xmlNode*>& out) {
  for (const xmlNode* c = node != nullptr ? node->children : nullptr; c != nullptr; c = c->next) {
    if (c->type != XML_ELEMENT_NODE) continue;
    if (named(c, name)) out.push_back(c);
    descendants(c, name, out);
  }
}

std::string attr(const xmlNode* node, std::string_view name) { return attrStrForName(node, name).value_or(""); }

std::string textContent(const xmlNode* node) {
  xmlChar* s = xmlNodeGetContent(node);
  std::string out = s != nullptr ? reinterpret_cast<const char*>(s) : "";
  xmlFree(s);
  return out;
}

// Byte offsets of the characters of UTF-8 text, and its length at the end; a stray byte counts
// as one character.
std::vector<std::size_t> characterStarts(std::string_view s) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 || starts.empty()) starts.push_back(i);
  }
  starts.push_back(s.size());
  return starts;
}

// Angle into [-pi, pi]; a non-finite one counts as 0.
double normalizedRadians(double a) {
  if (!std::isfinite(a)) return 0;
  a = std::fmod(a, 2 * kPi);
  if (a > kPi) a -= 2 * kPi;
  if (a < -kPi) a += 2 * kPi;
  return a;
}

double normalizedDegrees(double d) {
  if (!std::isfinite(d)) return 0;
  d = std::fmod(d, 360.0);
  if (d > 180) d -= 360;
  if (d < -180) d += 360;
  return d;
}

}  // namespace

void applyTheXForm(double& x, double& y, const XForm* xf) {
  if (xf == nullptr) return;
  x -= xf->pinLocX;
  y -= xf->pinLocY;
  if (xf->flipX) x = -x;
  if (xf->flipY) y = -y;
  if (xf->angle != 0) {
    const double c = std::cos(xf->angle);
    const double s = std::sin(xf->angle);
    const double nx = x * c - y * s;
    const double ny = x * s + y * c;
    x = nx;
    y = ny;
  }
  x += xf->pinX;
  y += xf->pinY;
}

bool usesOwnVSDXRenderer(const std::filesystem::path& src) { return src.filename() == kOwnRendererFileName; }

std::string imageMimeType(std::string_view partName) {
  const std::size_t slash = partName.rfind('/');
  const std::string_view file = slash == std::string_view::npos ? partName : partName.substr(slash + 1);
  const std::size_t dot = file.rfind('.');
  std::string ext = dot == std::string_view::npos ? std::string() : std::string(file.substr(dot + 1));
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  static const std::pair<std::string_view, std::string_view> kTypes[] = {
      {"png", "image/png"},   {"jpg", "image/jpeg"},    {"jpeg", "image/jpeg"}, {"jpe", "image/jpeg"},
      {"gif", "image/gif"},   {"bmp", "image/bmp"},     {"dib", "image/bmp"},   {"tif", "image/tiff"},
      {"tiff", "image/tiff"}, {"svg", "image/svg+xml"}, {"webp", "image/webp"}, {"emf", "image/emf"},
      {"wmf", "image/wmf"},   {"ico", "image/vnd.microsoft.icon"},
  };
  for (const auto& [e, type] : kTypes) {
    if (ext == e) return std::string(type);
  }
  return "application/octet-stream";
}

void appendBase64(std::string& out, std::string_view data) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out.reserve(out.size() + (data.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(data[i]) << 16 | static_cast<unsigned char>(data[i + 1]) << 8 |
                       static_cast<unsigned char>(data[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < data.size()) {
    const bool two = i + 1 < data.size();
    const unsigned v = static_cast<unsigned char>(data[i]) << 16 | (two ? static_cast<unsigned char>(data[i + 1]) << 8 : 0u);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += two ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
}

std::string base64(std::string_view data) {
  std::string out;
  appendBase64(out, data);
  return out;
}

VSDXRenderer::VSDXRenderer(const VSDXPackage& package, TextMeasurer& measurer, std::size_t imageBytes)
    : package_(package), measurer_(measurer), imageBytesLeft_(imageBytes) {}

VSDXRenderer::~VSDXRenderer() {
  if (pageRel_ != nullptr) xmlFreeDoc(pageRel_);
  if (pagesDoc_ != nullptr) xmlFreeDoc(pagesDoc_);
}

bool VSDXRenderer::loadPages() {
  if (pagesDoc_ != nullptr) xmlFreeDoc(pagesDoc_);
  pagesNodes_.clear();
  pagesDoc_ = parsePart(package_, "visio/pages/pages.xml");
  if (pagesDoc_ == nullptr) return false;
  descendants(reinterpret_cast<const xmlNode*>(pagesDoc_), "Page", pagesNodes_);
  xFormStack_.clear();
  textFormStack_.clear();
  textBlockStyleStack_.clear();
  lineStyleStack_.clear();
  fillStyleStack_.clear();
  textSpanDic_.clear();
  return !pagesNodes_.empty();
}

std::string VSDXRenderer::renderPage(int index) {
  bodyStr_.clear();
  textStr_.clear();
  defsStr_.clear();
  pageImages_.clear();
  pageImageBytesLeft_ = kMaxPageImageBytes;
  if (index < 0 || index >= pageCount()) return {};
  bodyStr_ += "<svg:svg version=\"1.1\" ";
  bodyStr_ += "xmlns:svg=\"" + std::string(kSvgNamespace) + "\" ";
  bodyStr_ += "xmlns:xlink=\"" + std::string(kXlinkNamespace) + "\" ";
  processPage(pagesNodes_[static_cast<std::size_t>(index)]);
  bodyStr_ += " >\n";
  std::string out = std::move(bodyStr_);
  bodyStr_.clear();
  processPageDoc(index);
  if (!defsStr_.empty()) {
    out.reserve(out.size() + defsStr_.size() + bodyStr_.size() + textStr_.size() + 40);
    out += "<svg:defs>\n";
    out += defsStr_;
    out += "</svg:defs>\n";
  }
  out += bodyStr_;
  out += textStr_;
  out += "</svg:svg>\n";
  bodyStr_.clear();
  textStr_.clear();
  defsStr_.clear();
  pageImages_.clear();
  return out;
}

void VSDXRenderer::processPage(const xmlNode* page) {
  for (const xmlNode* sheet : elementChildren(page)) {
    if (!named(sheet, "PageSheet")) continue;
    // Each size once, from the sheet's last cell of it: an attribute written twice breaks the page.
    bool width = false, height = false;
    for (const xmlNode* cell : elementChildren(sheet)) {
      if (!named(cell, "Cell")) continue;
      const std::string n = attr(cell, "N");
      if (n == "PageWidth") {
        m_pageWidth = cellFloat(attr(cell, "V"));
        width = true;
      } else if (n == "PageHeight") {
        m_pageHeight = cellFloat(attr(cell, "V"));
        height = true;
      }
    }
    if (width) bodyStr_ += "width=\"" + f4(m_pageWidth * 72) + "\" ";
    if (height) bodyStr_ += "height=\"" + f4(m_pageHeight * 72) + "\" ";
    break;
  }
}

void VSDXRenderer::processPageDoc(int index) {
  const std::string number = std::to_string(index + 1);
  const std::string pagePart = "visio/pages/page" + number + ".xml";
  std::unique_ptr<xmlDoc, DocFree> page(parsePart(package_, pagePart));
  if (pageRel_ != nullptr) xmlFreeDoc(pageRel_);
  pageRel_ = parsePart(package_, "visio/pages/_rels/page" + number + ".xml.rels");
  pageRelSource_ = pagePart;
  if (!page) return;
  const xmlNode* shapes = firstElementChild(xmlDocGetRootElement(page.get()));
  if (!named(shapes, "Shapes")) return;
  for (const xmlNode* shape : elementChildren(shapes)) processShape(shape);
}

void VSDXRenderer::processShape(const xmlNode* shape) {
  xFormStack_.emplace_back();
  lineStyleStack_.emplace_back();
  textBlockStyleStack_.emplace_back();
  textFormStack_.emplace_back();
  fillStyleStack_.emplace_back();
  textSpanDic_.clear();
  for (const xmlNode* child : elementChildren(shape)) {
    if (named(child, "Cell")) {
      readShapeCell(attr(child, "N"), attr(child, "V"));
    } else if (named(child, "ForeignData")) {
      processForeignData(attr(firstElementChild(child), "id"));
    } else if (named(child, "Shapes")) {
      // A nested shape's records end with it, so cells and text after it are this shape's.
      const std::map<std::string, std::string> spans = textSpanDic_;
      for (const xmlNode* inner : elementChildren(child)) processShape(inner);
      textSpanDic_ = spans;
    } else if (named(child, "Section")) {
      const std::string n = attr(child, "N");
      if (n == "Character") {
        processCharacter(child);
      } else if (n == "Geometry") {
        processGeometry(child);
      }
    } else if (named(child, "Text")) {
      processText(xmlCharacters(textContent(child)));
    }
  }
  xFormStack_.pop_back();
  lineStyleStack_.pop_back();
  textBlockStyleStack_.pop_back();
  textFormStack_.pop_back();
  fillStyleStack_.pop_back();
}

void VSDXRenderer::readShapeCell(std::string_view n, std::string_view v) {
  XForm& xf = xFormStack_.back();
  XForm& tf = textFormStack_.back();
  LineStyle& line = lineStyleStack_.back();
  FillStyle& fill = fillStyleStack_.back();
  TextBlockStyle& block = textBlockStyleStack_.back();
  if (n == "PinX") xf.pinX = cellFloat(v);
  else if (n == "PinY") xf.pinY = cellFloat(v);
  else if (n == "Width") xf.width = cellFloat(v);
  else if (n == "Height") xf.height = cellFloat(v);
  else if (n == "LocPinX") xf.pinLocX = cellFloat(v);
  else if (n == "LocPinY") xf.pinLocY = cellFloat(v);
  else if (n == "Angle") xf.angle = cellFloat(v);
  else if (n == "FlipX") xf.flipX = cellBool(v);
  else if (n == "FlipY") xf.flipY = cellBool(v);
  else if (n == "ImgOffsetX") m_foreignOffsetX = cellDouble(v);
  else if (n == "ImgOffsetY") m_foreignOffsetY = cellDouble(v);
  else if (n == "ImgWidth") m_foreignWidth = cellDouble(v);
  else if (n == "ImgHeight") m_foreignHeight = cellDouble(v);
  else if (n == "TxtPinX") tf.pinX = cellDouble(v), tf.isExist = true;
  else if (n == "TxtPinY") tf.pinY = cellDouble(v), tf.isExist = true;
  else if (n == "TxtWidth") tf.width = cellDouble(v), tf.isExist = true;
  else if (n == "TxtHeight") tf.height = cellDouble(v), tf.isExist = true;
  else if (n == "TxtLocPinX") tf.pinLocX = cellDouble(v), tf.isExist = true;
  else if (n == "TxtLocPinY") tf.pinLocY = cellDouble(v), tf.isExist = true;
  else if (n == "TxtAngle") tf.angle = cellDouble(v), tf.isExist = true;
  else if (n == "LineWeight") line.width = cellDouble(v), line.isExist = true;
  else if (n == "LineColor") {
    if (v.size() == 7 && v.front() == '#') line.color = std::string(v);
    line.isExist = true;
  } else if (n == "LinePattern") line.pattern = cellByte(v), line.isExist = true;
  else if (n == "BeginArrow") line.startMarker = cellByte(v), line.isExist = true;
  else if (n == "EndArrow") line.endMarker = cellByte(v), line.isExist = true;
  else if (n == "LineCap") line.cap = cellByte(v), line.isExist = true;
  else if (n == "FillForegnd") fill.fgColor = std::string(v);
  else if (n == "FillBkgnd") fill.bgColor = std::string(v);
  else if (n == "FillPattern") fill.pattern = cellByte(v);
  else if (n == "ShdwPattern") fill.shadowPattern = cellByte(v);
  else if (n == "ShdwForegnd") fill.shadowFgColor = std::string(v);
  else if (n == "FillForegndTrans") fill.fgTransparency = cellDouble(v);
  else if (n == "TopMargin") block.topMargin = cellDouble(v);
  else if (n == "BottomMargin") block.bottomMargin = cellDouble(v);
  else if (n == "LeftMargin") block.leftMargin = cellDouble(v);
  else if (n == "RightMargin") block.rightMargin = cellDouble(v);
  else if (n == "DefaultTabStop") block.defaultTabStop = cellDouble(v);
  else if (n == "VerticalAlign") block.verticalAlign = cellByte(v);
  else if (n == "TextDirection") block.textDirection = cellByte(v);
  else if (n == "TextBkgnd") block.textBkgndColor = std::string(v);
}

void VSDXRenderer::transformPoint(double& x, double& y, const XForm* xf) const {
  applyTheXForm(x, y, xf);
  for (auto it = xFormStack_.rbegin(); it != xFormStack_.rend(); ++it) applyTheXForm(x, y, &*it);
  y = m_pageHeight - y;
}

double VSDXRenderer::transformAngle(double angle, const XForm* xf) const {
  if (xFormStack_.empty()) return 0;
  const XForm& top = xFormStack_.back();
  double x0 = top.pinLocX, y0 = top.pinLocY;
  double x1 = x0 + std::cos(angle), y1 = y0 + std::sin(angle);
  transformPoint(x0, y0, xf);
  transformPoint(x1, y1, xf);
  const double dx = x1 - x0, dy = y1 - y0;
  const double length = std::hypot(dx, dy);
  if (!(length > 0) || !std::isfinite(length)) return 0;
  const double s = y1 > y0 ? 1.0 : -1.0;
  return std::fmod(s * std::acos(std::clamp(dx / length, -1.0, 1.0)) + 2 * kPi, 2 * kPi);
}

void VSDXRenderer::transformFlip(bool& flipX, bool& flipY) const {
  for (const XForm& xf : xFormStack_) {
    if (xf.flipX) flipX = !flipX;
    if (xf.flipY) flipY = !flipY;
  }
}

void VSDXRenderer::processGeometry(const xmlNode* section) {
  bodyStr_ += "<svg:path d=\" ";
  path_x = path_y = path_originalX = path_originalY = 0;
  path_noFill = path_noLine = path_noShow = false;
  for (const xmlNode* child : elementChildren(section)) {
    if (named(child, "Cell")) {
      const std::string n = attr(child, "N");
      if (n == "NoFill") path_noFill = cellBool(attr(child, "V"));
      else if (n == "NoLine") path_noLine = cellBool(attr(child, "V"));
      else if (n == "NoShow") path_noShow = cellBool(attr(child, "V"));
      continue;
    }
    if (!named(child, "Row")) continue;
    double x = 0, y = 0;
    for (const xmlNode* cell : elementChildren(child)) {
      if (!named(cell, "Cell")) continue;
      const std::string n = attr(cell, "N");
      if (n == "X") x = cellDouble(attr(cell, "V"));
      else if (n == "Y") y = cellDouble(attr(cell, "V"));
    }
    const std::string t = attr(child, "T");
    if (t == "MoveTo") processMoveTo(x, y);
    else if (t == "LineTo") processLineTo(x, y);
    else if (t == "RelMoveTo") processRelMoveTo(x, y);
    else if (t == "RelLineTo") processRelLineTo(x, y);
  }
  bodyStr_ += "\" \n";
  bodyStr_ +=
      "style=\"stroke-width: 0.7500; stroke: #000000; stroke-dasharray:  solid; stroke-linecap: round; "
      "stroke-linejoin: round; fill: none; \"";
  bodyStr_ += "/>\n";
}

void VSDXRenderer::processMoveTo(double x, double y) {
  path_originalX = x;
  path_originalY = y;
  transformPoint(x, y, nullptr);
  path_x = x;
  path_y = y;
  bodyStr_ += "\nM" + f4(x * 72) + "," + f4(y * 72);
}

void VSDXRenderer::processLineTo(double x, double y) {
  transformPoint(x, y, nullptr);
  path_x = x;
  path_y = y;
  bodyStr_ += "\nL" + f6(x * 72) + "," + f6(y * 72);
}

void VSDXRenderer::processRelMoveTo(double x, double y) {
  const XForm& top = xFormStack_.back();
  processMoveTo(x * top.width, y * top.height);
}

void VSDXRenderer::processRelLineTo(double x, double y) {
  const XForm& top = xFormStack_.back();
  processLineTo(x * top.width, y * top.height);
}

void VSDXRenderer::processCharacter(const xmlNode* section) {
  m_fontName = "SimSun";
  for (const xmlNode* row : elementChildren(section)) {
    if (!named(row, "Row")) continue;
    for (const xmlNode* cell : elementChildren(row)) {
      if (!named(cell, "Cell")) continue;
      const std::string n = attr(cell, "N");
      const std::string v = attr(cell, "V");
      if (n == "Style") {
        const int style = cellInt(v);
        if (style & 1) textSpanDic_["fo:font-weight"] = "bold";
        if (style & 2) textSpanDic_["fo:font-style"] = "italic";
        if (style & 4) textSpanDic_["style:text-underline-type"] = "single";
        if (style & 8) textSpanDic_["fo:font-variant"] = "small-caps";
      } else if (n == "Size") {
        m_fontHeight = cellFloat(v) * 72;
        textSpanDic_["fo:font-size"] = v;
      }
    }
  }
}

void VSDXRenderer::processMyText(std::string text) {
  textArry_.clear();
  heightArry_.clear();
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (text.empty()) return;
  // A text with an entity-like "&...;" is not wrapped; its paragraphs stay whole.
  const bool wrap = text.find('&') == std::string::npos || text.find(';') == std::string::npos;
  // Paragraphs end at a line feed (a carriage return before it dropped) and at the line and
  // paragraph separators.
  std::size_t begin = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    std::size_t breakLength = 0;
    if (i == text.size() || text[i] == '\n') {
      breakLength = 1;
    } else if (text.compare(i, 3, "\xE2\x80\xA8") == 0 || text.compare(i, 3, "\xE2\x80\xA9") == 0) {
      breakLength = 3;
    } else {
      continue;
    }
    std::size_t end = i;
    if (end > begin && text[end - 1] == '\r') --end;
    breakParagraph(std::string_view(text).substr(begin, end - begin), wrap);
    begin = i + breakLength;
    i = begin - 1;
  }
}

void VSDXRenderer::breakParagraph(std::string_view paragraph, bool wrap) {
  auto measure = [this](std::string_view s) { return measurer_.measure(s, m_fontName, m_fontHeight); };
  const std::size_t first = textArry_.size();
  const std::vector<std::size_t> starts = characterStarts(paragraph);
  const std::size_t count = starts.size() - 1;
  const double available = m_width * 78;
  if (!wrap || count == 0) {
    heightArry_.push_back(measure(paragraph).height);
    textArry_.emplace_back(paragraph);
    return;
  }
  // A line takes the longest piece that fits, at least one character. It is found from a guess
  // by the paragraph's mean character width, moved in growing steps until the bounds are known
  // and then halved: each character is measured a few times, not once for every line before it.
  double perLine = 1;
  if (const double whole = measure(paragraph).width; whole > 0 && available > 0) {
    perLine = std::floor(static_cast<double>(count) * available / whole);
  }
  if (!std::isfinite(perLine)) perLine = 1;
  std::size_t at = 0;
  std::vector<std::pair<std::size_t, TextSize>> probes;
  std::vector<double> ascents;
  while (at < count) {
    const std::size_t rest = count - at;
    probes.clear();
    auto piece = [&](std::size_t n) { return paragraph.substr(starts[at], starts[at + n] - starts[at]); };
    auto fits = [&](std::size_t n) {
      const TextSize size = measure(piece(n));
      probes.emplace_back(n, size);
      return size.width <= available;
    };
    const std::size_t guess = static_cast<std::size_t>(std::clamp(perLine, 1.0, static_cast<double>(rest)));
    // `fitting` fits (0: nothing does yet), `over` does not (rest + 1: all of the rest may fit).
    std::size_t fitting = 0, over = rest + 1;
    if (fits(guess)) {
      fitting = guess;
      for (std::size_t step = 1; fitting < rest; step *= 2) {
        const std::size_t next = std::min(rest, fitting + step);
        if (!fits(next)) {
          over = next;
          break;
        }
        fitting = next;
      }
    } else {
      over = guess;
      for (std::size_t step = 1; over > 1; step *= 2) {
        const std::size_t next = over > step ? over - step : 1;
        if (fits(next)) {
          fitting = next;
          break;
        }
        over = next;
      }
    }
    while (fitting != 0 && over <= rest && over - fitting > 1) {
      const std::size_t middle = fitting + (over - fitting) / 2;
      (fits(middle) ? fitting : over) = middle;
    }
    std::size_t take = std::max<std::size_t>(fitting, 1);
    // A line inside the paragraph ends after a word: the blanks after it stay on it, unseen;
    // a word longer than the line is broken where the line is full.
    if (take < rest) {
      auto blank = [&](std::size_t n) {
        const char c = paragraph[starts[at + n]];
        return c == ' ' || c == '\t';
      };
      if (blank(take)) {
        while (take < rest && blank(take)) ++take;
      } else {
        std::size_t end = take;
        while (end > 1 && !blank(end - 1)) --end;
        if (end > 1) take = end;
      }
    }
    TextSize size;
    bool measured = false;
    for (const auto& [n, probe] : probes) {
      if (n == take) size = probe, measured = true;
    }
    if (!measured) size = measure(piece(take));
    textArry_.emplace_back(piece(take));
    heightArry_.push_back(size.height);
    ascents.push_back(size.baseline);
    at += take;
  }
  // A line is as high as the rest of its paragraph drawn on one line: the highest ascent and
  // the deepest descent of it and the lines after it.
  double ascent = 0, descent = 0;
  for (std::size_t k = ascents.size(); k-- > 0;) {
    ascent = std::max(ascent, ascents[k]);
    descent = std::max(descent, heightArry_[first + k] - ascents[k]);
    heightArry_[first + k] = ascent + descent;
  }
}

void VSDXRenderer::processText(const std::string& text) {
  if (xFormStack_.empty()) return;
  const XForm xf = xFormStack_.back();
  const XForm tf = textFormStack_.back();
  double cx = 0, cy = 0, width = 0, height = 0, angle = 0;
  if (tf.isExist) {
    cx = tf.width / 2;
    cy = tf.height / 2;
    transformPoint(cx, cy, &tf);
    angle = transformAngle(0, &tf);
    width = tf.width;
    height = tf.height;
  } else {
    cx = xf.width / 2;
    cy = xf.height / 2;
    transformPoint(cx, cy, nullptr);
    angle = transformAngle(0, nullptr);
    width = xf.width;
    height = xf.height;
  }
  m_xorigin = cx - width / 2;
  m_yorigin = cy - height / 2;
  m_x = m_xorigin;
  m_y = m_yorigin;
  m_width = width;
  m_height = height;
  m_xmiddle = m_xorigin + width / 2;
  m_ymiddle = m_yorigin + height / 2;
  const TextBlockStyle& block = textBlockStyleStack_.back();
  m_x += block.leftMargin;
  m_width -= block.leftMargin;
  processMyText(text);
  if (textArry_.size() == 1) m_y = m_ymiddle - m_fontHeight / 72;
  bool flipX = false, flipY = false;
  transformFlip(flipX, flipY);
  if (flipX) angle -= kPi;
  const double degrees = normalizedDegrees(normalizedRadians(angle) * 180 / kPi);
  m_isRotated = degrees != 0;
  if (m_isRotated) m_angle = degrees;
  for (std::size_t k = 0; k < textArry_.size(); ++k) {
    m_y += heightArry_[k] / 80;
    m_ymiddle += heightArry_[k] / 80;
    textStr_ += "<svg:text x=\"" + f4(m_x * 72) + "\" y=\"" + f4(m_y * 72) + "\"";
    if (m_isRotated) {
      textStr_ += " transform=\"rotate(" + f4(m_angle) + ", " + f4(m_xmiddle * 72) + ", " + f4(m_ymiddle * 72) + ")\"";
    }
    textStr_ += ">\n";
    startMyTextSpan();
    textStr_ += xmlEscape(textArry_[k]) + "\n";
    textStr_ += "</svg:tspan>\n";
    textStr_ += "</svg:text>\n";
  }
}

void VSDXRenderer::startMyTextSpan() {
  auto value = [this](const std::string& key) -> const std::string* {
    const auto it = textSpanDic_.find(key);
    return it == textSpanDic_.end() ? nullptr : &it->second;
  };
  textStr_ += "<svg:tspan ";
  if (const std::string* family = value("style:font-name")) {
    textStr_ += "font-family=\"" + xmlEscape(*family) + "\" ";
  } else {
    textStr_ += "font-family=\"SimSun\" ";
  }
  if (const std::string* v = value("fo:font-style")) textStr_ += "font-style=\"" + xmlEscape(*v) + "\" ";
  if (const std::string* v = value("fo:font-variant")) textStr_ += "font-variant=\"" + xmlEscape(*v) + "\" ";
  if (const std::string* v = value("fo:font-weight")) textStr_ += "font-weight=\"" + xmlEscape(*v) + "\" ";
  if (const std::string* v = value("fo:font-size")) {
    textStr_ += "font-size=\"" + f6(cellDouble(*v) * 72) + "\" ";
  } else {
    textStr_ += "font-size=\"10.0000\" ";
  }
  textStr_ += "fill=\"#000000\" ";
  textStr_ += "fill-opacity=\"1.0000\" ";
  textStr_ += "stroke-opacity=\"1.0000\" ";
  textStr_ += ">\n";
}

void VSDXRenderer::processForeignData(const std::string& relId) {
  std::optional<std::string> target;
  bool external = false;
  if (pageRel_ != nullptr) {
    std::vector<const xmlNode*> relationships;
    descendants(reinterpret_cast<const xmlNode*>(pageRel_), "Relationship", relationships);
    for (const xmlNode* r : relationships) {
      if (attrStrForName(r, "Id") != relId) continue;
      target = attrStrForName(r, "Target");
      external = attr(r, "TargetMode") == "External";
    }
  }
  std::optional<std::string> part;
  if (target && !external) {
    part = resolvePartTarget(pageRelSource_, *target);
    if (!part) foundation::log(foundation::LogLevel::Warning, kLog, "image target outside the package refused: " + *target);
  }
  const std::string& id = pageImage(part.value_or(""));
  const double w = m_foreignWidth, h = m_foreignHeight;
  double cx = m_foreignOffsetX + w / 2, cy = m_foreignOffsetY + h / 2;
  const double ux = cx, uy = cy;
  transformPoint(cx, cy, nullptr);
  bool flipX = false, flipY = false;
  transformFlip(flipX, flipY);
  const double degrees = normalizedDegrees(transformAngle(0, nullptr) * 180 / kPi);
  // The image is drawn into its box as an image element of that box would draw it.
  bodyStr_ += "<svg:g transform=\" translate(" + f4(ux * 72) + "," + f4(uy * 72) + ") scale(" + (flipX ? "-1" : "1") +
              "," + (flipY ? "-1" : "1") + ") ";
  if (degrees != 0) bodyStr_ += "rotate(" + f4(degrees) + ") ";
  bodyStr_ += "translate(" + f4(-ux * 72) + "," + f4(-uy * 72) + ") \">\n";
  bodyStr_ += "<svg:svg x=\"" + f4((cx - w / 2) * 72) + "\" y=\"" + f4((cy - h / 2) * 72) + "\" width=\"" + f4(w * 72) +
              "\" height=\"" + f4(h * 72) + "\"><svg:use xlink:href=\"#" + id + "\" /></svg:svg>\n";
  bodyStr_ += "</svg:g>\n";
}

const std::string& VSDXRenderer::pageImage(const std::string& part) {
  if (const auto it = pageImages_.find(part); it != pageImages_.end()) return it->second;
  const std::string& id = pageImages_.emplace(part, "image" + std::to_string(pageImages_.size() + 1)).first->second;
  defsStr_ += "<svg:image id=\"" + id + "\" width=\"100%\" height=\"100%\" xlink:href=\"data:";
  defsStr_ += part.empty() ? "application/octet-stream" : imageMimeType(part);
  defsStr_ += ";base64,";
  if (!part.empty()) {
    const std::size_t limit = std::min(imageBytesLeft_, pageImageBytesLeft_);
    if (const std::optional<std::string> bytes = package_.read(part, limit)) {
      appendBase64(defsStr_, *bytes);
      imageBytesLeft_ -= bytes->size();
      pageImageBytesLeft_ -= bytes->size();
    } else {
      foundation::log(foundation::LogLevel::Warning, kLog,
                      "image " + part + " left out: missing, unreadable or larger than the " + std::to_string(limit) +
                          " bytes left for the " + (limit == pageImageBytesLeft_ ? "page's" : "drawing's") + " images");
    }
  }
  defsStr_ += "\" />\n";
  return id;
}

int loadVSDXFile(const std::filesystem::path& src, const std::filesystem::path& workFolder, const void* caller,
                 int& pageCount) {
  std::string error;
  const std::unique_ptr<VSDXPackage> package = VSDXPackage::open(src, &error);
  if (!package) {
    foundation::log(foundation::LogLevel::Error, kLog, error);
    return -1;
  }
  const std::unique_ptr<TextMeasurer> measurer = makePangoTextMeasurer();
  VSDXRenderer renderer(*package, *measurer);
  if (!renderer.loadPages()) {
    foundation::log(foundation::LogLevel::Error, kLog, "no pages in " + src.string());
    return -1;
  }
  const int n = renderer.pageCount();
  setVSDPageNum(n, caller);
  for (int i = 0; i < n; ++i) {
    const std::filesystem::path file = workFolder / (std::to_string(i) + ".svg");
    if (!writePageFile(file, renderer.renderPage(i))) {
      foundation::log(foundation::LogLevel::Error, kLog, "cannot write " + file.string());
    }
  }
  pageCount = n;
  return 1;
}

}  // namespace diagramkit
