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
