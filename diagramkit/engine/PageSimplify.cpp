#include "diagramkit/engine/PageSimplify.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

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

}  // namespace

int simplifyPage(std::string& svg) {
  if (svg.find("feColorMatrix") == std::string::npos) return 0;
  std::unique_ptr<xmlDoc, DocFree> doc(xmlReadMemory(svg.data(), static_cast<int>(svg.size()), "page.svg", "UTF-8",
                                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                                         XML_PARSE_HUGE));
  if (!doc) return 0;
  std::map<std::string, Shadow> shadows;
  collectFilters(xmlDocGetRootElement(doc.get()), shadows);
  if (shadows.empty()) return 0;
  const int replaced = rewrite(xmlDocGetRootElement(doc.get()), shadows);
  if (replaced == 0) return 0;
  xmlChar* bytes = nullptr;
  int size = 0;
  xmlDocDumpMemoryEnc(doc.get(), &bytes, &size, "UTF-8");
  if (bytes == nullptr) return 0;
  svg.assign(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
  xmlFree(bytes);
  return replaced;
}

}  // namespace diagramkit
