#pragma once
// Rewrites a page's SVG so that it draws the same with less work:
// - a drop shadow given as a filter (an offset copy of the shape in one colour, merged under
//   it) becomes a vector copy of the shape, so the renderer need not rasterise a page-sized
//   filter region per shape;
// - a dash pattern too fine for any output becomes a solid line of the strength the pattern
//   shows, so the renderer need not cut the line into thousands of dashes.

#include <string>
#include <string_view>

struct _xmlNode;

namespace diagramkit {

// A dash pattern is drawn solid when each of its dashes, with the gap after it, spans less
// than this many points on the page. The finest output is the viewer at its highest zoom
// (10 x 72 dpi, a pixel of a double-density screen 0.05 pt) and a 1200 dpi printer (a dot
// 0.06 pt): a dash and its gap cannot each take a whole pixel there, so the pattern is drawn
// as its average (anti-aliased) or as scattered dots (printed), never as dashes. On paper
// 0.1 pt is 0.035 mm, half of the finest detail the eye resolves at reading distance (one
// minute of arc at 25 cm, 0.07 mm), so a printer with finer dots shows a continuous line too.
inline constexpr double kSolidDashPair = 0.1;

// The page rooted at its svg element with every shadow filter it can express as vector
// drawing replaced and every dash pattern finer than kSolidDashPair drawn solid; anything
// else is left as it is. Answers how many shapes were changed.
int simplifyPageTree(_xmlNode* svg);

// False when the page's text shows that simplifyPageTree would leave it as it is.
bool maySimplify(std::string_view svg);

// The same on a whole SVG document; a page that does not parse is left as it is.
int simplifyPage(std::string& svg);

}  // namespace diagramkit
