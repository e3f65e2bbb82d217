#pragma once
// Rewrites a page's SVG so that it draws the same with less work: a drop shadow given as a
// filter (an offset copy of the shape in one colour, merged under it) becomes a vector copy of
// the shape, so the renderer need not rasterise a page-sized filter region per shape.

#include <string>

namespace diagramkit {

// The page with every shadow filter it can express as vector drawing replaced; any other
// filter, and a page that does not parse, is left as it is. Answers how many were replaced.
int simplifyPage(std::string& svg);

}  // namespace diagramkit
