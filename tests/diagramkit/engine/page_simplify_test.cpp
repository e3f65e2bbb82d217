// Shadow filters become vector copies of their shapes and draw the same.
#include <cairo.h>
#include <librsvg/rsvg.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "diagramkit/engine/PageSimplify.h"

namespace {

std::string shadowFilter(const std::string& id, const std::string& values = "0 0 0 0 0.3569 0 0 0 0 0.6078 0 0 0 0 0.8353 0 0 0 0.5 0") {
  return "<svg:defs><svg:filter filterUnits=\"userSpaceOnUse\" id=\"" + id +
         "\"><svg:feOffset in=\"SourceGraphic\" result=\"offset\" dx=\"4\" dy=\"6\" /><svg:feColorMatrix in=\"offset\" "
         "result=\"offset-color\" type=\"matrix\" values=\"" + values +
         "\"/><svg:feMerge><svg:feMergeNode in=\"offset-color\" /><svg:feMergeNode in=\"SourceGraphic\" />"
         "</svg:feMerge></svg:filter></svg:defs>";
}

std::string page(const std::string& body) {
  return "<?xml version=\"1.0\"?>\n<svg:svg xmlns:svg=\"http://www.w3.org/2000/svg\" width=\"200\" height=\"150\" "
         "viewBox=\"0 0 200 150\">" + body + "</svg:svg>";
}

// ARGB pixels of the SVG at 200 x 150.
std::vector<std::uint32_t> render(const std::string& svg) {
  std::vector<std::uint32_t> out;
  RsvgHandle* h = rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), nullptr);
  if (!h) return out;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 200, 150);
  cairo_t* cr = cairo_create(s);
  const RsvgRectangle viewport{0, 0, 200, 150};
  rsvg_handle_render_document(h, cr, &viewport, nullptr);
  cairo_destroy(cr);
  cairo_surface_flush(s);
  const auto* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 200; ++x) out.push_back(reinterpret_cast<const std::uint32_t*>(data + y * stride)[x]);
  cairo_surface_destroy(s);
  g_object_unref(h);
  return out;
}

// Pixels where some channel differs by more than a tenth; edges drawn apart differ a little.
int pixelsApart(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
  int apart = 0;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    for (int shift = 0; shift < 32; shift += 8) {
      if (std::abs(static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF)) > 25) {
        ++apart;
        break;
      }
    }
  }
  return apart;
}

}  // namespace

TEST(PageSimplify, ShadowFiltersBecomeVectorAndLookTheSame) {
  const std::string original = page(
      shadowFilter("s1") +
      "<svg:path d=\"M20,20 L100,20 L100,80 L20,80 Z\" style=\"fill-rule: evenodd; filter:url(#s1); fill: #ff8000; \"/>" +
      shadowFilter("s2") +
      "<svg:path d=\"M120,40 L180,40 L180,120 Z\" transform=\"rotate(10 150 80)\" "
      "style=\"stroke-width: 3; stroke: #0000ff; fill: none; filter:url(#s2); \"/>" +
      shadowFilter("s3") + "<svg:rect x=\"30\" y=\"100\" width=\"40\" height=\"30\" style=\"filter:url(#s3)\"/>");
  std::string simplified = original;
  EXPECT_EQ(diagramkit::simplifyPage(simplified), 3);
  EXPECT_EQ(simplified.find("filter:url"), std::string::npos) << simplified;
  const auto before = render(original);
  const auto after = render(simplified);
  ASSERT_EQ(before.size(), 200u * 150u);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_LE(pixelsApart(before, after), 300);  // of 30000
  // The shadow is there: below the first shape's lower edge, in its colour at half strength.
  const std::uint32_t under = after[83 * 200 + 60];
  EXPECT_GT(under >> 24, 100u);
  EXPECT_LT(under >> 24, 160u);
}

TEST(PageSimplify, OtherFiltersAndPagesStayAsTheyAre) {
  const std::string blur = page(
      "<svg:defs><svg:filter id=\"b\"><svg:feGaussianBlur stdDeviation=\"2\"/></svg:filter></svg:defs>"
      "<svg:path d=\"M1,1 L9,9\" style=\"filter:url(#b)\"/>");
  // A colour matrix that mixes the source's colour is not one colour.
  const std::string mixing = page(shadowFilter("m", "1 0 0 0 0 0 0 0 0 0.5 0 0 0 0 0.5 0 0 0 0.5 0") +
                                  "<svg:path d=\"M1,1 L9,9 L1,9 Z\" style=\"filter:url(#m)\"/>");
  const std::string group = page(shadowFilter("g") + "<svg:g style=\"filter:url(#g)\"><svg:path d=\"M1,1 L9,9\"/></svg:g>");
  for (const std::string& p : {blur, mixing, group, std::string("not xml <"), page("")}) {
    std::string copy = p;
    EXPECT_EQ(diagramkit::simplifyPage(copy), 0);
    EXPECT_EQ(copy, p);
  }
}

namespace {

// The value of the first `name: value` declaration in `svg` after `from`, or -1.
double declared(const std::string& svg, const std::string& name, std::size_t from = 0) {
  const std::size_t at = svg.find(name + ": ", from);
  if (at == std::string::npos) return -1;
  return std::strtod(svg.c_str() + at + name.size() + 2, nullptr);
}

}  // namespace

// A dash pattern whose every dash and gap together stay under 0.1 pt on the page is drawn as a
// solid line at the strength the dashes (with their caps) give it; any other is left alone.
TEST(PageSimplify, DashesTooFineForAnyOutputBecomeSolidAtTheirStrength) {
  struct Case {
    const char* what;
    std::string pageAttributes;
    std::string body;           // the shape under test has id "t"
    double opacity;             // its stroke-opacity after; -1: left as it was
  };
  const std::string box = "width=\"200\" height=\"150\" viewBox=\"0 0 200 150\"";
  const std::string line = "d=\"M10,10 L190,10\"";
  const std::vector<Case> cases = {
      {"half on, butt caps", box, "<svg:path id=\"t\" " + line + " style=\"stroke: #000; stroke-width: 0.018; stroke-dasharray: 0.036, 0.036; \"/>", 0.5},
      {"a repeated list with round caps", box,
       "<svg:path id=\"t\" " + line + " style=\"stroke-width: 0.0180; stroke: #a0a0a0; stroke-dasharray: 0.0360, 0.0360, "
       "0.0360, 0.0360; stroke-linecap: round; \"/>",
       (0.072 + 2 * 3.14159265 * 0.018 / 4) / 0.144},
      {"an odd list, square caps", box,
       "<svg:path id=\"t\" " + line + " style=\"stroke-width: 0.01; stroke-linecap: square; stroke-dasharray: 0.02\"/>", 0.75},
      {"dashes as an attribute, opacity from the group", box,
       "<svg:g style=\"stroke-opacity: 0.5\"><svg:line id=\"t\" x1=\"0\" y1=\"0\" x2=\"9\" y2=\"0\" stroke-width=\"0.02\" "
       "stroke-dasharray=\"0.04 0.04\"/></svg:g>",
       0.25},
      {"opacity from the page", box + " style=\"stroke-opacity: 0.4\"",
       "<svg:path id=\"t\" " + line + " style=\"stroke-width: 0.01; stroke-dasharray: 0.02, 0.06\"/>", 0.1},
      {"caps that cover the gaps", box,
       "<svg:path id=\"t\" " + line + " style=\"stroke-width: 0.05; stroke-linecap: square; stroke-dasharray: 0.03 0.02\"/>", 1},
      {"shrunk by a transform", box,
       "<svg:g transform=\"scale(0.1)\"><svg:path id=\"t\" " + line + " style=\"stroke-dasharray: 0.5, 0.4\"/></svg:g>", 0.5 / 0.9},
      {"visible dashes", box, "<svg:path id=\"t\" " + line + " style=\"stroke-dasharray: 3, 3\"/>", -1},
      {"one gap long enough to see", box, "<svg:path id=\"t\" " + line + " style=\"stroke-dasharray: 0.01, 0.01, 0.01, 5\"/>", -1},
      {"enlarged by a transform", box,
       "<svg:g transform=\"rotate(30) scale(100)\"><svg:path id=\"t\" " + line + " style=\"stroke-dasharray: 0.036, 0.036\"/></svg:g>", -1},
      {"enlarged by the view box", "width=\"1in\" height=\"1in\" viewBox=\"0 0 1 1\"",
       "<svg:path id=\"t\" d=\"M0,0 L1,0\" style=\"stroke-width: 0.001; stroke-dasharray: 0.01, 0.01\"/>", -1},
      {"a view box without the page's size", "viewBox=\"0 0 1 1\"",
       "<svg:path id=\"t\" d=\"M0,0 L1,0\" style=\"stroke-dasharray: 0.0001, 0.0001\"/>", -1},
      {"a transform that does not parse", box,
       "<svg:g transform=\"scale(\"><svg:path id=\"t\" " + line + " style=\"stroke-dasharray: 0.01, 0.01\"/></svg:g>", -1},
      {"lengths of the viewport", box, "<svg:path id=\"t\" " + line + " style=\"stroke-dasharray: 0.01%, 0.01%\"/>", -1},
      {"inside a marker", box,
       "<svg:defs><svg:marker id=\"m\"><svg:path id=\"t\" " + line + " style=\"stroke-dasharray: 0.01, 0.01\"/></svg:marker></svg:defs>", -1},
      {"drawn again by a use", box,
       "<svg:path id=\"t\" " + line + " style=\"stroke-dasharray: 0.01, 0.01\"/>"
       "<svg:use xlink:href=\"#t\" transform=\"scale(1000)\"/>",
       -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string original = "<?xml version=\"1.0\"?>\n<svg:svg xmlns:svg=\"http://www.w3.org/2000/svg\" "
                                 "xmlns:xlink=\"http://www.w3.org/1999/xlink\" " + c.pageAttributes + ">" + c.body +
                                 "</svg:svg>";
    std::string svg = original;
    const int changed = diagramkit::simplifyPage(svg);
    if (c.opacity < 0) {
      EXPECT_EQ(changed, 0);
      EXPECT_EQ(svg, original);
      continue;
    }
    EXPECT_EQ(changed, 1) << svg;
    const std::size_t shape = svg.find("id=\"t\"");
    ASSERT_NE(shape, std::string::npos);
    EXPECT_NE(svg.find("stroke-dasharray: none", shape), std::string::npos) << svg;
    EXPECT_NEAR(declared(svg, "stroke-opacity", shape), c.opacity, 1e-3) << svg;
  }
}

// Seen at ten times the size, the solid line carries the ink the dashes carried.
TEST(PageSimplify, FineDashesMadeSolidKeepTheirInk) {
  for (const char* cap : {"butt", "round", "square"}) {
    SCOPED_TRACE(cap);
    // 150 lines, 0.09 pt apart, each 0.03 wide with 0.03 dashes and 0.05 gaps.
    std::string body;
    for (int i = 0; i < 150; ++i) {
      const std::string y = std::to_string(0.8 + i * 0.09);
      body += "<svg:path d=\"M1," + y + " L19," + y + "\" style=\"stroke: #000000; stroke-width: 0.03; stroke-linecap: " +
              cap + "; stroke-dasharray: 0.03, 0.05; \"/>";
    }
    const std::string original =
        "<?xml version=\"1.0\"?>\n<svg:svg xmlns:svg=\"http://www.w3.org/2000/svg\" width=\"20\" height=\"15\" "
        "viewBox=\"0 0 20 15\">" + body + "</svg:svg>";
    std::string simplified = original;
    ASSERT_EQ(diagramkit::simplifyPage(simplified), 150);
    auto ink = [](const std::string& svg) {
      double sum = 0;
      for (std::uint32_t p : render(svg)) sum += p >> 24;
      return sum;
    };
    const double before = ink(original);
    ASSERT_GT(before, 0);
    EXPECT_NEAR(ink(simplified) / before, 1.0, 0.08);
  }
}
