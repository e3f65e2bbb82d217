#pragma once
// librevenge's SVG generator for libvisio's pages, with a text block's paragraphs on lines of
// their own and the blanks between its spans kept. The plain generator writes every span of a
// text as a tspan with no position and nothing between them, and librsvg drops the blanks at
// either end of a tspan, so the paragraphs of a block were drawn on one line and the words of
// neighbouring spans ran together.

#include <librevenge/librevenge.h>

#include <string>
#include <string_view>
#include <vector>

namespace diagramkit {

// Where a text's lines start: (0-based tspan of the text, line breaks before it).
using TextBreaks = std::vector<std::pair<int, int>>;

// `svg` with each listed tspan started on a new line: at its text's x, one line (1.2 times its
// font size, 12 when it has none) further down per break; and the blanks at either end of a
// tspan moved out before or after it. `texts` holds the breaks of the page's svg:text
// elements in document order; `prefix` is the namespace prefix with its colon ("svg:").
// `lifts`, in the same order, is the share of the lines added below a text's first one by
// which the whole text moves up (0 where it hangs from its top, 0.5 where it is centred, 1
// where it stands on its bottom); a text without one does not move.
std::string breakTextLines(std::string_view svg, std::string_view prefix, const std::vector<TextBreaks>& texts,
                           const std::vector<double>& lifts = {});

namespace detail {
struct PageGeneratorPages {
  librevenge::RVNGStringVector pages;
};
}  // namespace detail

// Appends each page to `pages` as RVNGSVGDrawingGenerator does, every paragraph after a text's
// first one, and the text after a line or paragraph separator (U+2028, U+2029) inside a span,
// starting on a new line.
class PageGenerator : private detail::PageGeneratorPages, public librevenge::RVNGSVGDrawingGenerator {
 public:
  PageGenerator(librevenge::RVNGStringVector& pages, const std::string& nmSpace);

  void endPage() override;
  void endMasterPage() override;
  void endDocument() override;
  void startTextObject(const librevenge::RVNGPropertyList& propList) override;
  void endTextObject() override;
  void openParagraph(const librevenge::RVNGPropertyList& propList) override;
  void openSpan(const librevenge::RVNGPropertyList& propList) override;
  void closeSpan() override;
  void insertText(const librevenge::RVNGString& text) override;

 private:
  void takePages();

  librevenge::RVNGStringVector& out_;
  std::string prefix_;
  unsigned taken_ = 0;
  std::vector<TextBreaks> texts_;  // of the page being written
  std::vector<double> lifts_;      // of the same texts
  bool inText_ = false;
  bool inSpan_ = false;
  librevenge::RVNGPropertyList span_;  // of the open span
  int paragraphs_ = 0, spans_ = 0, breaks_ = 0;
};

}  // namespace diagramkit
