#include "diagramkit/engine/PageGenerator.h"

#include <charconv>
#include <cmath>

namespace diagramkit {

namespace {

// The value of attribute `name` in the start tag `tag`, or nothing.
std::string_view attribute(std::string_view tag, std::string_view name) {
  for (std::size_t at = tag.find(name); at != std::string_view::npos; at = tag.find(name, at + 1)) {
    const std::size_t quote = at + name.size();
    const bool whole = at > 0 && (tag[at - 1] == ' ' || tag[at - 1] == '\n' || tag[at - 1] == '\t');
    if (!whole || tag.compare(quote, 2, "=\"") != 0) continue;
    const std::size_t end = tag.find('"', quote + 2);
    if (end == std::string_view::npos) return {};
    return tag.substr(quote + 2, end - quote - 2);
  }
  return {};
}

std::string number(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 4);
  return r.ec == std::errc{} ? std::string(buf, r.ptr) : std::string("0");
}

}  // namespace

std::string breakTextLines(std::string_view svg, std::string_view prefix, const std::vector<TextBreaks>& texts,
                           const std::vector<double>& lifts) {
  const std::string textStart = "<" + std::string(prefix) + "text ";
  const std::string textEnd = "</" + std::string(prefix) + "text>";
  const std::string spanStart = "<" + std::string(prefix) + "tspan ";
  const std::string spanEnd = "</" + std::string(prefix) + "tspan>";
  if (svg.find(spanStart) == std::string_view::npos) return std::string(svg);
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  std::string out;
  out.reserve(svg.size() + 64 * texts.size());
  std::string_view x = "0";
  std::size_t text = 0;  // 1-based once the first text is seen
  int span = 0;
  // The open text's y in `out` (offset and length, none when it has none), the height of the
  // lines added to it, and of those up to its last line with something on it (a text's last
  // paragraph may be empty: it ends the text and shows no line).
  std::size_t yAt = std::string::npos, yLength = 0;
  double added = 0, shown = 0;
  std::size_t at = 0;
  for (std::size_t lt; (lt = svg.find('<', at)) != std::string_view::npos;) {
    const std::string_view rest = svg.substr(lt);
    const std::size_t close = rest.find('>');
    const std::string_view tag = rest.substr(0, close == std::string_view::npos ? rest.size() : close + 1);
    out.append(svg, at, lt - at);
    at = lt + tag.size();
    if (rest.starts_with(textStart)) {
      x = attribute(tag, "x");
      if (x.empty()) x = "0";
      ++text;
      span = 0;
      added = shown = 0;
      yAt = std::string::npos;
      const std::string_view y = attribute(tag, "y");
      if (!y.empty()) {
        yAt = out.size() + static_cast<std::size_t>(y.data() - tag.data());
        yLength = y.size();
      }
    }
    if (rest.starts_with(textEnd) && text > 0 && text <= lifts.size() && lifts[text - 1] > 0 && shown > 0 &&
        yAt != std::string::npos) {
      double y = 0;
      const std::string_view written(out.data() + yAt, yLength);
      if (const auto r = std::from_chars(written.data(), written.data() + written.size(), y);
          r.ec == std::errc{} && r.ptr == written.data() + written.size() && std::isfinite(y)) {
        out.replace(yAt, yLength, number(y - lifts[text - 1] * shown));
      }
      yAt = std::string::npos;
    }
    const std::size_t end = rest.starts_with(spanStart) ? svg.find(spanEnd, at) : std::string_view::npos;
    if (end == std::string_view::npos) {
      out.append(tag);
      continue;
    }
    // librsvg drops the blanks at either end of a tspan, which run the words of neighbouring
    // spans together: they go outside it, where they separate the words.
    std::string_view content = svg.substr(at, end - at);
    bool before = false, after = false;
    while (!content.empty() && space(content.front())) {
      before = before || content.front() == ' ' || content.front() == '\t';
      content.remove_prefix(1);
    }
    while (!content.empty() && space(content.back())) {
      after = after || content.back() == ' ' || content.back() == '\t';
      content.remove_suffix(1);
    }
    int breaks = 0;
    if (text > 0) {
      const int index = span++;
      if (text <= texts.size()) {
        for (const auto& [s, n] : texts[text - 1]) {
          if (s == index) breaks = n;
        }
      }
    }
    if (before) out += ' ';
    out += spanStart;
    if (breaks > 0) {
      double size = 12;
      const std::string_view written = attribute(tag, "font-size");
      double v = 0;
      if (const auto r = std::from_chars(written.data(), written.data() + written.size(), v);
          r.ec == std::errc{} && std::isfinite(v) && v > 0) {
        size = v;
      }
      out += "x=\"" + std::string(x) + "\" dy=\"" + number(breaks * 1.2 * size) + "\" ";
      added += breaks * 1.2 * size;
    }
    if (!content.empty()) shown = added;
    out.append(tag.substr(spanStart.size()));
    out.append(content);
    out += spanEnd;
    if (after) out += ' ';
    at = end + spanEnd.size();
  }
  if (at < svg.size()) out.append(svg, at);
  return out;
}

PageGenerator::PageGenerator(librevenge::RVNGStringVector& pages, const std::string& nmSpace)
    : librevenge::RVNGSVGDrawingGenerator(detail::PageGeneratorPages::pages, nmSpace.c_str()),
      out_(pages),
      prefix_(nmSpace.empty() ? std::string() : nmSpace + ":") {}

void PageGenerator::takePages() {
  for (; taken_ < detail::PageGeneratorPages::pages.size(); ++taken_) {
    const librevenge::RVNGString& page = detail::PageGeneratorPages::pages[taken_];
    const std::string lines = breakTextLines(std::string_view(page.cstr(), page.size()), prefix_, texts_, lifts_);
    out_.append(librevenge::RVNGString(lines.c_str()));
    texts_.clear();
    lifts_.clear();
  }
}

void PageGenerator::endPage() {
  librevenge::RVNGSVGDrawingGenerator::endPage();
  takePages();
}

void PageGenerator::endMasterPage() {
  librevenge::RVNGSVGDrawingGenerator::endMasterPage();
  takePages();
}

void PageGenerator::endDocument() {
  librevenge::RVNGSVGDrawingGenerator::endDocument();
  takePages();
}

void PageGenerator::startTextObject(const librevenge::RVNGPropertyList& propList) {
  texts_.emplace_back();
  // The generator puts the first line's baseline at the box's top, middle or (by default)
  // bottom; the lines added below it are shared out the same way.
  const librevenge::RVNGProperty* align = propList["draw:textarea-vertical-align"];
  const std::string valign = align != nullptr ? align->getStr().cstr() : "bottom";
  lifts_.push_back(valign == "middle" ? 0.5 : valign == "bottom" ? 1.0 : 0.0);
  inText_ = true;
  paragraphs_ = spans_ = breaks_ = 0;
  librevenge::RVNGSVGDrawingGenerator::startTextObject(propList);
}

void PageGenerator::endTextObject() {
  inText_ = false;
  librevenge::RVNGSVGDrawingGenerator::endTextObject();
}

void PageGenerator::openParagraph(const librevenge::RVNGPropertyList& propList) {
  if (inText_ && paragraphs_++ > 0) ++breaks_;
  librevenge::RVNGSVGDrawingGenerator::openParagraph(propList);
}

void PageGenerator::openSpan(const librevenge::RVNGPropertyList& propList) {
  if (inText_) {
    if (breaks_ > 0) texts_.back().emplace_back(spans_, breaks_);
    breaks_ = 0;
    ++spans_;
  }
  inSpan_ = true;
  span_ = propList;
  librevenge::RVNGSVGDrawingGenerator::openSpan(propList);
}

void PageGenerator::closeSpan() {
  inSpan_ = false;
  librevenge::RVNGSVGDrawingGenerator::closeSpan();
}

void PageGenerator::insertText(const librevenge::RVNGString& text) {
  const std::string_view all(text.cstr(), text.size());
  if (!inText_ || !inSpan_) {
    librevenge::RVNGSVGDrawingGenerator::insertText(text);
    return;
  }
  // Each separator ends the span; the text after it goes on in a copy of the span on a new line.
  std::size_t begin = 0;
  for (std::size_t i = 0; i + 3 <= all.size(); ++i) {
    if (all.compare(i, 3, "\xE2\x80\xA8") != 0 && all.compare(i, 3, "\xE2\x80\xA9") != 0) continue;
    if (i > begin) librevenge::RVNGSVGDrawingGenerator::insertText(std::string(all.substr(begin, i - begin)).c_str());
    const librevenge::RVNGPropertyList span = span_;
    closeSpan();
    ++breaks_;
    openSpan(span);
    begin = i + 3;
    i = begin - 1;
  }
  if (begin == 0) {
    librevenge::RVNGSVGDrawingGenerator::insertText(text);
  } else if (begin < all.size()) {
    librevenge::RVNGSVGDrawingGenerator::insertText(std::string(all.substr(begin)).c_str());
  }
}

}  // namespace diagramkit
