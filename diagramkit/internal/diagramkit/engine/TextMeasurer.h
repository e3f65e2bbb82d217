#pragma once
// How wide and high a text is drawn, in points at 72 dpi. The VSDX renderer wraps its texts by
// these sizes; tests give it a measurer of their own.

#include <memory>
#include <string>
#include <string_view>

namespace diagramkit {

struct TextSize {
  double width = 0;
  double height = 0;
  double baseline = 0;  // from the top to the first line's baseline
};

class TextMeasurer {
 public:
  virtual ~TextMeasurer() = default;
  // `text` is UTF-8 and may hold line feeds. An empty `fontName` means the default font at the
  // default size, whatever `pointSize` says.
  virtual TextSize measure(std::string_view text, const std::string& fontName, double pointSize) = 0;
};

// Measures with Pango and fontconfig. One instance is used on one thread at a time.
std::unique_ptr<TextMeasurer> makePangoTextMeasurer();

}  // namespace diagramkit
