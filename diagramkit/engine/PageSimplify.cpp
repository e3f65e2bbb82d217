#include "diagramkit/engine/PageSimplify.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "diagramkit/engine/PageFile.h"

namespace diagramkit {

namespace {

constexpr const char* kSvgNamespace = "http://www.w3.org/2000/svg";

struct DocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};

// A shadow: the shape moved by (dx, dy), painted in one colour at `alpha` times its own alpha,
// under the shape.
struct Shadow {
  double dx = 0, dy = 0;
  double r = 0, g = 0, b = 0, alpha = 0;
};

bool isSvg(const xmlNode* n, const char* name) {
  return n != nullptr && n->type == XML_ELEMENT_NODE && n->ns != nullptr && n->ns->href != nullptr &&
         std::strcmp(reinterpret_cast<const char*>(n->ns->href), kSvgNamespace) == 0 &&
         std::strcmp(reinterpret_cast<const char*>(n->name), name) == 0;
}

std::optional<std::string> attr(const xmlNode* n, const char* name) {
  xmlChar* v = xmlGetNoNsProp(n, reinterpret_cast<const xmlChar*>(name));
  if (v == nullptr) return std::nullopt;
  std::string out(reinterpret_cast<const char*>(v));
  xmlFree(v);
  return out;
}

void setAttr(xmlNode* n, const char* name, const std::string& value) {
  xmlSetProp(n, reinterpret_cast<const xmlChar*>(name), reinterpret_cast<const xmlChar*>(value.c_str()));
}

std::vector<xmlNode*> elementChildren(xmlNode* n) {
  std::vector<xmlNode*> out;
  for (xmlNode* c = n->children; c != nullptr; c = c->next)
    if (c->type == XML_ELEMENT_NODE) out.push_back(c);
  return out;
}

std::optional<double> number(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\n' || s.front() == '\t' || s.front() == ',')) s.remove_prefix(1);
  double v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::vector<double> numbers(const std::string& s) {
  std::vector<double> out;
  const char* p = s.data();
  const char* end = p + s.size();
  while (p < end) {
    while (p < end && (*p == ' ' || *p == '\n' || *p == '\t' || *p == '\r' || *p == ',')) ++p;
    if (p == end) break;
    double v = 0;
    auto [q, ec] = std::from_chars(p, end, v);
    if (ec != std::errc() || !std::isfinite(v)) return {};
    out.push_back(v);
    p = q;
  }
  return out;
}

// The filter's shadow, when it is exactly: offset of the source; a colour matrix that gives
// one colour with the source's alpha scaled; a merge of that under the source.
std::optional<Shadow> shadowOf(xmlNode* filter) {
  const std::vector<xmlNode*> steps = elementChildren(filter);
  if (steps.size() != 3 || !isSvg(steps[0], "feOffset") || !isSvg(steps[1], "feColorMatrix") ||
      !isSvg(steps[2], "feMerge"))
    return std::nullopt;
  Shadow s;
  const auto in0 = attr(steps[0], "in");
  if (in0 && *in0 != "SourceGraphic") return std::nullopt;
  const auto offsetResult = attr(steps[0], "result");
  const auto dx = number(attr(steps[0], "dx").value_or("0"));
  const auto dy = number(attr(steps[0], "dy").value_or("0"));
  if (!offsetResult || !dx || !dy) return std::nullopt;
  s.dx = *dx;
  s.dy = *dy;
  const auto in1 = attr(steps[1], "in");
  const auto colourResult = attr(steps[1], "result");
  if (!in1 || *in1 != *offsetResult || !colourResult || attr(steps[1], "type").value_or("matrix") != "matrix")
    return std::nullopt;
  const std::vector<double> m = numbers(attr(steps[1], "values").value_or(""));
  if (m.size() != 20) return std::nullopt;
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 4; ++col)
      if (m[static_cast<std::size_t>(row * 5 + col)] != 0) return std::nullopt;
  if (m[15] != 0 || m[16] != 0 || m[17] != 0 || m[19] != 0) return std::nullopt;
  s.r = m[4];
  s.g = m[9];
  s.b = m[14];
  s.alpha = m[18];
  for (double c : {s.r, s.g, s.b, s.alpha})
    if (c < 0 || c > 1) return std::nullopt;
  // The matrix works in linear RGB unless the filter says otherwise; the copy is painted in sRGB.
  const std::string space = attr(steps[1], "color-interpolation-filters").value_or(
      attr(filter, "color-interpolation-filters").value_or("linearRGB"));
  if (space != "sRGB") {
    auto encode = [](double c) { return c <= 0.0031308 ? 12.92 * c : 1.055 * std::pow(c, 1 / 2.4) - 0.055; };
    s.r = encode(s.r);
    s.g = encode(s.g);
    s.b = encode(s.b);
  }
  const std::vector<xmlNode*> merged = elementChildren(steps[2]);
  if (merged.size() != 2 || !isSvg(merged[0], "feMergeNode") || !isSvg(merged[1], "feMergeNode") ||
      attr(merged[0], "in") != colourResult || attr(merged[1], "in") != std::optional<std::string>("SourceGraphic"))
    return std::nullopt;
  // The region must not cut the shadow: the default one, in user space.
  for (const char* region : {"x", "y", "width", "height", "primitiveUnits"})
    if (attr(filter, region)) return std::nullopt;
  if (attr(filter, "filterUnits").value_or("objectBoundingBox") != "userSpaceOnUse") return std::nullopt;
  return s;
}

void collectFilters(xmlNode* n, std::map<std::string, Shadow>& out) {
  for (; n != nullptr; n = n->next) {
    if (isSvg(n, "filter")) {
      if (auto id = attr(n, "id"); id && !id->empty()) {
        if (auto s = shadowOf(n)) out[*id] = *s;
      }
      continue;
    }
    if (n->type == XML_ELEMENT_NODE) collectFilters(n->children, out);
  }
}

std::string trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\n' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return std::string(s);
}

// A style attribute as its declarations, in order.
std::vector<std::pair<std::string, std::string>> declarations(const std::string& style) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t start = 0;
  while (start <= style.size()) {
    std::size_t end = style.find(';', start);
    if (end == std::string::npos) end = style.size();
    const std::string_view d(style.data() + start, end - start);
    const std::size_t colon = d.find(':');
    if (colon != std::string_view::npos) out.emplace_back(trim(d.substr(0, colon)), trim(d.substr(colon + 1)));
    start = end + 1;
  }
  return out;
}

std::string joinStyle(const std::vector<std::pair<std::string, std::string>>& ds) {
  std::string out;
  for (const auto& [k, v] : ds) out += k + ": " + v + "; ";
  return out;
}

std::string formatNumber(double v) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string hexColour(const Shadow& s) {
  char buf[8];
  auto byte = [](double c) { return static_cast<unsigned>(std::lround(c * 255)); };
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", byte(s.r), byte(s.g), byte(s.b));
  return buf;
}

bool isShape(const xmlNode* n) {
  for (const char* name : {"path", "rect", "circle", "ellipse", "line", "polyline", "polygon"})
    if (isSvg(n, name)) return true;
  return false;
}

// "url(#id)" -> id.
std::optional<std::string> filterId(const std::string& value) {
  const std::string v = trim(value);
  if (v.size() < 7 || v.compare(0, 5, "url(#") != 0 || v.back() != ')') return std::nullopt;
  return v.substr(5, v.size() - 6);
}

int rewrite(xmlNode* n, const std::map<std::string, Shadow>& shadows) {
  int replaced = 0;
  for (xmlNode* next = nullptr; n != nullptr; n = next) {
    next = n->next;
    if (n->type != XML_ELEMENT_NODE || isSvg(n, "defs")) continue;
    if (!isShape(n)) {
      replaced += rewrite(n->children, shadows);
      continue;
    }
    auto style = declarations(attr(n, "style").value_or(""));
    std::optional<Shadow> shadow;
    std::size_t at = style.size();
    for (std::size_t i = 0; i < style.size(); ++i) {
      if (style[i].first != "filter") continue;
      if (auto id = filterId(style[i].second)) {
        if (auto it = shadows.find(*id); it != shadows.end()) {
          shadow = it->second;
          at = i;
        }
      }
    }
    if (!shadow || attr(n, "filter") || attr(n, "fill") || attr(n, "stroke")) continue;
    style.erase(style.begin() + static_cast<std::ptrdiff_t>(at));
    // The silhouette: every paint of the shape in the shadow's colour.
    auto silhouette = style;
    const std::string colour = hexColour(*shadow);
    bool hasFill = false;
    for (auto& [k, v] : silhouette) {
      if ((k == "fill" || k == "stroke") && v != "none") v = colour;
      if (k == "fill") hasFill = true;
    }
    if (!hasFill) silhouette.emplace_back("fill", colour);  // the default fill is painted too
    xmlNode* copy = xmlCopyNode(n, 1);
    if (copy == nullptr) continue;
    setAttr(copy, "style", joinStyle(silhouette));
    xmlUnsetProp(copy, reinterpret_cast<const xmlChar*>("id"));
    // The offset is in the shape's own user space, after its transform.
    const std::string move = "translate(" + formatNumber(shadow->dx) + "," + formatNumber(shadow->dy) + ")";
    const auto transform = attr(n, "transform");
    setAttr(copy, "transform", transform ? *transform + " " + move : move);
    xmlNode* group = xmlNewNode(n->ns, reinterpret_cast<const xmlChar*>("g"));
    setAttr(group, "opacity", formatNumber(shadow->alpha));
    xmlAddChild(group, copy);
    xmlAddPrevSibling(n, group);
    setAttr(n, "style", joinStyle(style));
    ++replaced;
  }
  return replaced;
}

// A length of a dash list in user units (points at 72 dpi); nothing for a unit that depends on
// the viewport or the font.
std::optional<double> dashLength(std::string_view s) {
  double v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || !std::isfinite(v) || v < 0) return std::nullopt;
  const std::string_view unit(p, static_cast<std::size_t>(s.data() + s.size() - p));
  if (unit.empty() || unit == "px" || unit == "pt") return v;
  if (unit == "pc") return v * 12;
  if (unit == "in") return v * 72;
  if (unit == "cm") return v * 72 / 2.54;
  if (unit == "mm") return v * 72 / 25.4;
  return std::nullopt;
}

std::optional<std::vector<double>> dashList(const std::string& value) {
  std::vector<double> out;
  std::size_t i = 0;
  while (i < value.size()) {
    while (i < value.size() && (value[i] == ' ' || value[i] == ',' || value[i] == '\n' || value[i] == '\t' || value[i] == '\r')) ++i;
    std::size_t j = i;
    while (j < value.size() && value[j] != ' ' && value[j] != ',' && value[j] != '\n' && value[j] != '\t' && value[j] != '\r') ++j;
    if (j == i) break;
    const auto v = dashLength(std::string_view(value).substr(i, j - i));
    if (!v) return std::nullopt;
    out.push_back(*v);
    i = j;
  }
  if (out.size() % 2 == 1) out.insert(out.end(), out.begin(), out.end());
  return out;
}

// The linear part of a transform list, or nothing when it does not parse.
struct Linear {
  double a = 1, b = 0, c = 0, d = 1;
  Linear then(const Linear& m) const {  // this, applied after m
    return {a * m.a + c * m.b, b * m.a + d * m.b, a * m.c + c * m.d, b * m.c + d * m.d};
  }
  // How much the transform stretches a length at most.
  double stretch() const {
    const double t = a * a + b * b + c * c + d * d;
    const double det = a * d - b * c;
    return std::sqrt((t + std::sqrt(std::max(0.0, t * t - 4 * det * det))) / 2);
  }
};

std::optional<Linear> transformOf(std::string_view s) {
  constexpr double kRadians = 3.14159265358979323846 / 180;
  Linear out;
  for (;;) {
    while (!s.empty() && (s.front() == ' ' || s.front() == ',' || s.front() == '\n' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    if (s.empty()) return out;
    const std::size_t open = s.find('(');
    const std::size_t close = s.find(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;
    std::string_view name = s.substr(0, open);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    const std::vector<double> v = numbers(std::string(s.substr(open + 1, close - open - 1)));
    s.remove_prefix(close + 1);
    Linear m;
    if (name == "matrix" && v.size() == 6) {
      m = {v[0], v[1], v[2], v[3]};
    } else if (name == "translate" && (v.size() == 1 || v.size() == 2)) {
    } else if (name == "scale" && (v.size() == 1 || v.size() == 2)) {
      m = {v[0], 0, 0, v.size() == 2 ? v[1] : v[0]};
    } else if (name == "rotate" && (v.size() == 1 || v.size() == 3)) {
      m = {std::cos(v[0] * kRadians), std::sin(v[0] * kRadians), -std::sin(v[0] * kRadians), std::cos(v[0] * kRadians)};
    } else if (name == "skewX" && v.size() == 1) {
      m = {1, 0, std::tan(v[0] * kRadians), 1};
    } else if (name == "skewY" && v.size() == 1) {
      m = {1, std::tan(v[0] * kRadians), 0, 1};
    } else {
      return std::nullopt;
    }
    out = out.then(m);
  }
}

// The stroke properties a shape inherits, and how much user units are enlarged on the page.
struct StrokeContext {
  double stretch = 1;  // points per user unit, at most
  std::optional<double> width = 1;
  double opacity = 1;
  std::string cap = "butt";
};

// A property of an element: its style declaration, else its presentation attribute.
std::optional<std::string> property(const xmlNode* n, const std::vector<std::pair<std::string, std::string>>& style,
                                    const char* name) {
  for (auto it = style.rbegin(); it != style.rend(); ++it)
    if (it->first == name) return it->second;
  if (auto v = attr(n, name)) return trim(*v);
  return std::nullopt;
}

std::optional<double> opacityValue(const std::string& v) {
  if (!v.empty() && v.back() == '%') {
    const auto p = number(std::string_view(v).substr(0, v.size() - 1));
    if (!p) return std::nullopt;
    return std::clamp(*p / 100, 0.0, 1.0);
  }
  const auto p = number(v);
  if (!p) return std::nullopt;
  return std::clamp(*p, 0.0, 1.0);
}

// The context inside element `n` (its own transform and stroke properties over `outer`);
// nothing when a value it sets cannot be read, so nothing below it is changed.
std::optional<StrokeContext> contextOf(const xmlNode* n, const std::vector<std::pair<std::string, std::string>>& style,
                                       const StrokeContext& outer) {
  StrokeContext c = outer;
  if (auto t = attr(n, "transform")) {
    const auto m = transformOf(*t);
    if (!m) return std::nullopt;
    c.stretch *= m->stretch();
  }
  if (auto w = property(n, style, "stroke-width"); w && *w != "inherit") c.width = dashLength(*w);
  if (auto o = property(n, style, "stroke-opacity"); o && *o != "inherit") {
    const auto v = opacityValue(*o);
    if (!v) return std::nullopt;
    c.opacity = *v;
  }
  if (auto cap = property(n, style, "stroke-linecap"); cap && *cap != "inherit") c.cap = *cap;
  if (property(n, style, "vector-effect")) return std::nullopt;
  return c;
}

void setDeclaration(std::vector<std::pair<std::string, std::string>>& style, const std::string& name, std::string value) {
  bool found = false;
  for (auto& [k, v] : style) {
    if (k == name) {
      v = value;
      found = true;
    }
  }
  if (!found) style.emplace_back(name, std::move(value));
}

// Draws a dash pattern too fine for any output as the solid line it looks like: at the same
// average strength, the share of the line its dashes (with their caps) cover.
bool solidifyDashes(xmlNode* n, std::vector<std::pair<std::string, std::string>>& style, const StrokeContext& c) {
  const auto value = property(n, style, "stroke-dasharray");
  if (!value || *value == "none" || *value == "inherit" || value->find('!') != std::string::npos || !c.width) return false;
  const auto dashes = dashList(*value);
  if (!dashes || dashes->empty()) return false;
  double period = 0, on = 0, widest = 0;
  for (std::size_t i = 0; i < dashes->size(); i += 2) {
    widest = std::max(widest, ((*dashes)[i] + (*dashes)[i + 1]) * c.stretch);
    on += (*dashes)[i];
    period += (*dashes)[i] + (*dashes)[i + 1];
  }
  // A list of zeros draws solid already.
  if (period <= 0 || widest >= kSolidDashPair) return false;
  const double dashCount = static_cast<double>(dashes->size() / 2);
  if (c.cap == "square") {
    on += dashCount * *c.width;
  } else if (c.cap == "round") {
    on += dashCount * *c.width * 3.14159265358979323846 / 4;
  }
  const double cover = std::min(1.0, on / period);
  setDeclaration(style, "stroke-dasharray", "none");
  setDeclaration(style, "stroke-opacity", formatNumber(c.opacity * cover));
  setAttr(n, "style", joinStyle(style));
  return true;
}

bool isOwnCoordinates(const xmlNode* n) {
  for (const char* name : {"defs", "marker", "pattern", "symbol", "mask", "clipPath", "svg", "style"})
    if (isSvg(n, name)) return true;
  return false;
}

void collectUses(const xmlNode* n, std::set<std::string>& ids, bool& styled) {
  for (; n != nullptr; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    if (isSvg(n, "style")) styled = true;
    if (isSvg(n, "use")) {
      for (const xmlAttr* a = n->properties; a != nullptr; a = a->next) {
        if (std::strcmp(reinterpret_cast<const char*>(a->name), "href") != 0) continue;
        xmlChar* v = xmlNodeListGetString(n->doc, a->children, 1);
        if (v != nullptr && v[0] == '#') ids.insert(reinterpret_cast<const char*>(v) + 1);
        xmlFree(v);
      }
    }
    collectUses(n->children, ids, styled);
  }
}

int solidifyAll(xmlNode* n, const StrokeContext& outer, const std::set<std::string>& used) {
  int changed = 0;
  for (; n != nullptr; n = n->next) {
    if (n->type != XML_ELEMENT_NODE || n->ns == nullptr || isOwnCoordinates(n)) continue;
    if (const auto id = attr(n, "id"); id && used.count(*id) != 0) continue;  // drawn elsewhere too, at another size
    auto style = declarations(attr(n, "style").value_or(""));
    const auto inner = contextOf(n, style, outer);
    if (!inner) continue;
    if (isShape(n)) {
      changed += solidifyDashes(n, style, *inner) ? 1 : 0;
    } else {
      changed += solidifyAll(n->children, *inner, used);
    }
  }
  return changed;
}

// Points per user unit of the page, at most; nothing when the page's size is not its own.
std::optional<double> pageStretch(const xmlNode* svg) {
  const auto box = attr(svg, "viewBox");
  if (!box) return 1.0;
  const std::vector<double> v = numbers(*box);
  const auto w = attr(svg, "width");
  const auto h = attr(svg, "height");
  if (v.size() != 4 || !(v[2] > 0) || !(v[3] > 0) || !w || !h) return std::nullopt;
  const auto wp = svgLengthToPoints(*w);
  const auto hp = svgLengthToPoints(*h);
  if (!wp || !hp) return std::nullopt;
  return std::max(*wp / v[2], *hp / v[3]);
}

}  // namespace

bool maySimplify(std::string_view svg) {
  if (svg.find("feColorMatrix") != std::string_view::npos) return true;
  // Every dash list but "none", as a declaration or an attribute.
  constexpr std::string_view kDashes = "stroke-dasharray";
  for (std::size_t at = svg.find(kDashes); at != std::string_view::npos; at = svg.find(kDashes, at + 1)) {
    std::size_t i = at + kDashes.size();
    while (i < svg.size() && (svg[i] == ' ' || svg[i] == '\t' || svg[i] == '\n' || svg[i] == '\r')) ++i;
    if (i < svg.size() && (svg[i] == ':' || svg[i] == '=')) ++i;
    while (i < svg.size() && (svg[i] == ' ' || svg[i] == '"' || svg[i] == '\'' || svg[i] == '\t' || svg[i] == '\n' || svg[i] == '\r')) ++i;
    if (svg.compare(i, 4, "none") != 0) return true;
    i += 4;
    if (i < svg.size() && svg[i] != ';' && svg[i] != '"' && svg[i] != '\'' && svg[i] != ' ' && svg[i] != '!') return true;
  }
  return false;
}

int simplifyPageTree(_xmlNode* svg) {
  if (svg == nullptr) return 0;
  int changed = 0;
  std::map<std::string, Shadow> shadows;
  collectFilters(svg, shadows);
  if (!shadows.empty()) changed += rewrite(svg, shadows);
  std::set<std::string> used;
  bool styled = false;
  collectUses(svg, used, styled);
  if (const auto stretch = pageStretch(svg); stretch && !styled) {
    StrokeContext outside;
    outside.stretch = *stretch;
    // What the page itself sets is inherited by all it draws.
    if (const auto page = contextOf(svg, declarations(attr(svg, "style").value_or("")), outside))
      changed += solidifyAll(svg->children, *page, used);
  }
  return changed;
}

int simplifyPage(std::string& svg) {
  std::unique_ptr<xmlDoc, DocFree> doc(xmlReadMemory(svg.data(), static_cast<int>(svg.size()), "page.svg", "UTF-8",
                                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                                         XML_PARSE_HUGE));
  if (!doc) return 0;
  const int changed = simplifyPageTree(xmlDocGetRootElement(doc.get()));
  if (changed == 0) return 0;
  xmlChar* bytes = nullptr;
  int size = 0;
  xmlDocDumpMemoryEnc(doc.get(), &bytes, &size, "UTF-8");
  if (bytes == nullptr) return 0;
  svg.assign(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
  xmlFree(bytes);
  return changed;
}

}  // namespace diagramkit
