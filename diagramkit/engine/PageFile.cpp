#include "diagramkit/engine/PageFile.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <librsvg/rsvg.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "diagramkit/engine/PageSimplify.h"
#include "platform/foundation/cairo_font_lock.h"

namespace {

constexpr const char* kSvgNamespace = "http://www.w3.org/2000/svg";

struct DocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

const xmlNode* findSvgElement(const xmlNode* node) {
  for (; node != nullptr; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    if (node->ns != nullptr && node->ns->href != nullptr &&
        std::strcmp(reinterpret_cast<const char*>(node->ns->href), kSvgNamespace) == 0 &&
        std::strcmp(reinterpret_cast<const char*>(node->name), "svg") == 0) {
      return node;
    }
    if (const xmlNode* found = findSvgElement(node->children)) return found;
  }
  return nullptr;
}

void setError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

}  // namespace

std::optional<std::string> attrStrForName(const _xmlNode* node, std::string_view name) {
  if (node == nullptr || node->type != XML_ELEMENT_NODE) return std::nullopt;
  for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
    if (name != reinterpret_cast<const char*>(a->name)) continue;
    xmlChar* value = xmlNodeListGetString(node->doc, a->children, 1);
    std::string out = value != nullptr ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return out;
  }
  return std::nullopt;
}

namespace diagramkit {

const std::string& pageFileHead() {
  static const std::string head =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\" "
      "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd\">\n"
      "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:svg=\"http://www.w3.org/2000/svg\" "
      "xmlns:xlink=\"http://www.w3.org/1999/xlink\">\n"
      "<body>\n"
      "<?import namespace=\"svg\" urn=\"http://www.w3.org/2000/svg\"?>\n"
      "<!-- \n"
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
      "<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" \"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\">\n"
      " -->\n";
  return head;
}

const std::string& pageFileTail() {
  static const std::string tail = "\n</body>\n</html>\n";
  return tail;
}

bool writePageFile(const std::filesystem::path& path, std::string_view svg) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const std::string& head = pageFileHead();
  const std::string& tail = pageFileTail();
  bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size() &&
            std::fwrite(svg.data(), 1, svg.size(), f) == svg.size() &&
            std::fwrite(tail.data(), 1, tail.size(), f) == tail.size();
  ok = (std::fclose(f) == 0) && ok;
  return ok;
}

std::optional<double> svgLengthToPoints(std::string_view text) {
  auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  double value = 0;
  const char* end = text.data() + text.size();
  auto [rest, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || rest == text.data()) return std::nullopt;
  const std::string_view unit(rest, static_cast<std::size_t>(end - rest));
  double scale = 0;
  if (unit.empty() || unit == "px" || unit == "pt") {
    scale = 1.0;
  } else if (unit == "pc") {
    scale = 12.0;
  } else if (unit == "in") {
    scale = 72.0;
  } else if (unit == "cm") {
    scale = 72.0 / 2.54;
  } else if (unit == "mm") {
    scale = 72.0 / 25.4;
  } else {
    return std::nullopt;
  }
  const double points = value * scale;
  if (!std::isfinite(points) || points <= 0) return std::nullopt;
  return points;
}

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The attributes of the start tag at the front of `text` (which begins with '<' and the name),
// or nothing when it is not a plain start tag: an attribute without quotes, an entity in a
// value, no end.
std::optional<std::vector<std::pair<std::string_view, std::string_view>>> startTagAttributes(std::string_view text) {
  std::vector<std::pair<std::string_view, std::string_view>> out;
  std::size_t i = 1;
  while (i < text.size() && !isBlank(text[i]) && text[i] != '>' && text[i] != '/') ++i;
  for (;;) {
    while (i < text.size() && isBlank(text[i])) ++i;
    if (i >= text.size()) return std::nullopt;
    if (text[i] == '>' || text[i] == '/') return out;
    const std::size_t name = i;
    while (i < text.size() && !isBlank(text[i]) && text[i] != '=' && text[i] != '>') ++i;
    const std::string_view key = text.substr(name, i - name);
    while (i < text.size() && isBlank(text[i])) ++i;
    if (i >= text.size() || text[i] != '=') return std::nullopt;
    ++i;
    while (i < text.size() && isBlank(text[i])) ++i;
    if (i >= text.size() || (text[i] != '"' && text[i] != '\'')) return std::nullopt;
    const char quote = text[i++];
    const std::size_t end = text.find(quote, i);
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view value = text.substr(i, end - i);
    if (value.find('&') != std::string_view::npos || value.find('<') != std::string_view::npos) return std::nullopt;
    out.emplace_back(key, value);
    i = end + 1;
  }
}

// The page of a file as writePageFile wrote it, read without a parser: the svg element between
// the head and the tail, declaring the namespaces it uses itself. Nothing when the file is not
// in that form, or when `simplified` and simplification may change the page: the parser reads
// it then.
std::optional<PageSVG> writtenPage(const std::filesystem::path& path, bool simplified) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return std::nullopt;
  std::string bytes;
  char buf[65536];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
  const bool read = std::ferror(f) == 0;
  std::fclose(f);
  const std::string& head = diagramkit::pageFileHead();
  const std::string& tail = diagramkit::pageFileTail();
  if (!read || bytes.size() < head.size() + tail.size() || bytes.compare(0, head.size(), head) != 0 ||
      bytes.compare(bytes.size() - tail.size(), tail.size(), tail) != 0)
    return std::nullopt;
  std::string_view svg(bytes);
  svg = svg.substr(head.size(), svg.size() - head.size() - tail.size());
  while (!svg.empty() && isBlank(svg.back())) svg.remove_suffix(1);
  constexpr std::string_view kOpen = "<svg:svg";
  constexpr std::string_view kClose = "</svg:svg>";
  if (svg.substr(0, kOpen.size()) != kOpen || svg.size() < kOpen.size() + kClose.size() ||
      !(isBlank(svg[kOpen.size()]) || svg[kOpen.size()] == '>') || svg.substr(svg.size() - kClose.size()) != kClose)
    return std::nullopt;
  const auto attributes = startTagAttributes(svg);
  if (!attributes) return std::nullopt;
  PageSVG page;
  std::optional<std::string_view> w, h;
  bool svgNs = false, xlinkNs = false;
  for (const auto& [key, value] : *attributes) {
    if (key == "width" && !w) w = value;
    if (key == "height" && !h) h = value;
    if (key == "xmlns:svg") svgNs = value == kSvgNamespace;
    if (key == "xmlns:xlink") xlinkNs = value == "http://www.w3.org/1999/xlink";
  }
  if (!svgNs || !xlinkNs) return std::nullopt;
  // A second svg element would be a page of its own in the wrapper.
  if (svg.find(kOpen, kOpen.size()) != std::string_view::npos) return std::nullopt;
  if (simplified && diagramkit::maySimplify(svg)) return std::nullopt;
  if (w && h) {
    page.width = diagramkit::svgLengthToPoints(*w);
    page.height = diagramkit::svgLengthToPoints(*h);
  }
  page.svg.reserve(svg.size() + 40);
  page.svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  page.svg.append(svg);
  page.svg += '\n';
  return page;
}

}  // namespace

std::optional<PageSVG> readPageFile(const std::filesystem::path& path, std::string* error, bool simplified) {
  if (auto page = writtenPage(path, simplified)) return page;
  DocPtr doc(xmlReadFile(path.c_str(), "UTF-8",
                         XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE));
  if (!doc) {
    const xmlError* e = xmlGetLastError();
    setError(error, std::string("page file does not parse: ") +
                        (e != nullptr && e->message != nullptr ? e->message : path.string()));
    return std::nullopt;
  }
  xmlNode* svg = const_cast<xmlNode*>(findSvgElement(xmlDocGetRootElement(doc.get())));
  if (svg == nullptr) {
    setError(error, "page file holds no svg:svg element");
    return std::nullopt;
  }
  PageSVG page;
  if (auto w = attrStrForName(svg, "width"), h = attrStrForName(svg, "height"); w && h) {
    page.width = svgLengthToPoints(*w);
    page.height = svgLengthToPoints(*h);
  }
  // The element alone, made the root of its own document, with the namespaces it uses declared
  // on it before the rest is freed.
  xmlNode* wrapper = xmlDocGetRootElement(doc.get());
  if (wrapper != svg) {
    xmlUnlinkNode(svg);
    xmlDocSetRootElement(doc.get(), svg);
    xmlReconciliateNs(doc.get(), svg);
    xmlFreeNode(wrapper);
  }
  // The DOCTYPE and the comments and instructions beside the wrapper are not the page's.
  for (xmlNode* n = doc->children; n != nullptr;) {
    xmlNode* next = n->next;
    if (n != svg) {
      xmlUnlinkNode(n);
      xmlFreeNode(n);
    }
    n = next;
  }
  doc->intSubset = nullptr;
  if (simplified) simplifyPageTree(svg);
  xmlChar* bytes = nullptr;
  int size = 0;
  xmlDocDumpMemoryEnc(doc.get(), &bytes, &size, "UTF-8");
  if (bytes == nullptr) {
    setError(error, "cannot serialise the page");
    return std::nullopt;
  }
  page.svg.assign(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
  xmlFree(bytes);
  return page;
}

bool renderPageSVG(const std::string& svg, double width, double height, const std::filesystem::path& pdfPath,
                   std::string* error, bool whitePaper) {
  GError* gerror = nullptr;
  // Without limits: a picture of some megapixels, written inline, is one attribute of more than
  // the parser's usual 10 MB. The page is the generator's or libxml's own writing, without a
  // DTD, so there is no entity to expand and the parser's memory follows the page's size.
  GInputStream* stream = g_memory_input_stream_new_from_data(svg.data(), static_cast<gssize>(svg.size()), nullptr);
  RsvgHandle* handle = rsvg_handle_new_from_stream_sync(stream, nullptr, RSVG_HANDLE_FLAG_UNLIMITED, nullptr, &gerror);
  g_object_unref(stream);
  if (handle == nullptr) {
    setError(error, std::string("SVG not loaded: ") + (gerror != nullptr ? gerror->message : "unknown"));
    if (gerror != nullptr) g_error_free(gerror);
    return false;
  }
  rsvg_handle_set_dpi(handle, 72.0);
  // Text is laid out while the page is drawn and its fonts written when the surface finishes.
  std::lock_guard fonts(foundation::cairoFontMutex());
  cairo_surface_t* surface = cairo_pdf_surface_create(pdfPath.c_str(), width, height);
  cairo_t* cr = cairo_create(surface);
  if (whitePaper) {
    // Also keeps cairo's record of where the page is drawn to this one rectangle: it adds every
    // shape's extent to that record, which otherwise costs more per shape the more shapes there
    // are.
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
  }
  const RsvgRectangle viewport{0, 0, width, height};
  bool ok = rsvg_handle_render_document(handle, cr, &viewport, &gerror) != FALSE;
  if (!ok) {
    setError(error, std::string("SVG not rendered: ") + (gerror != nullptr ? gerror->message : "unknown"));
    if (gerror != nullptr) g_error_free(gerror);
  }
  cairo_destroy(cr);
  cairo_surface_finish(surface);
  if (ok && cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    setError(error, std::string("PDF page not written: ") + cairo_status_to_string(cairo_surface_status(surface)));
    ok = false;
  }
  cairo_surface_destroy(surface);
  g_object_unref(handle);
  return ok;
}

}  // namespace diagramkit
