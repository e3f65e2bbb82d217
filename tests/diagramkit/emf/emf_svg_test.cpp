// The SVG text written for each drawing record, and the writer's per-document state.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "emf_test_util.h"
#include "support/emf_builder.h"

using namespace EMF;
using emftest::kSvgStart;
using emftest::Loaded;
using testsupport::EmfBuilder;
using testsupport::Pt;

namespace {

// The default pen (BLACK_PEN, one pixel) and brush (WHITE_BRUSH), as a closed and an open shape
// write them.
const std::string kBlackPen1 =
    "stroke:#000000;stroke-width:1.00px;stroke-linecap:round;stroke-linejoin:round;stroke-dasharray:none;"
    "stroke-opacity:1;";
const std::string kFill = "style=\"fill:#ffffff;fill-rule:evenodd;fill-opacity:1;" + kBlackPen1 + "\" />\n";
const std::string kOpen = "style=\"fill:none;" + kBlackPen1 + "\" />\n";
const std::string kHidden = "style=\"fill:none;stroke:none;\" />\n";
const std::vector<Pt> kTriangle = {{0, 0}, {10, 0}, {10, 10}};
const std::string kTrianglePath = "M 0.000000 0.000000 L 10.000000 0.000000 L 10.000000 10.000000 ";
const std::string kTriangleElement = "<svg:path \nd=\"" + kTrianglePath + "z\" ";

std::string svgOf(const EmfBuilder& b) { return Loaded(b.bytes()).svg(); }

}  // namespace

TEST(EmfSvg, DocumentFrame) {
  EXPECT_EQ(svgOf(EmfBuilder().eof()), kSvgStart + "</svg:svg>");
  struct Case {
    const char* name;
    std::int32_t bounds[4];
    std::int32_t frame[4];
    const char* size;
  };
  const Case cases[] = {
      {"the bounds", {0, 0, 99, 49}, {0, 0, 0, 0}, "width=\"99\" height=\"49\" >\n"},
      {"bounds away from the origin", {100, 200, 300, 250}, {0, 0, 0, 0}, "width=\"200\" height=\"50\" >\n"},
      // 1024 x 768 pixels on 320 x 240 mm: 3.2 pixels a millimetre.
      {"empty bounds: the frame", {0, 0, -1, -1}, {0, 0, 1000, 500}, "width=\"32\" height=\"16\" >\n"},
      {"no bounds and no frame: one pixel", {0, 0, -1, -1}, {0, 0, 0, 0}, "width=\"1\" height=\"1\" >\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EmfBuilder::Header h;
    std::copy(std::begin(c.bounds), std::end(c.bounds), h.bounds);
    std::copy(std::begin(c.frame), std::end(c.frame), h.frame);
    const std::string svg = svgOf(EmfBuilder(h).eof());
    EXPECT_NE(svg.find(c.size), std::string::npos) << svg;
  }
}

// The style follows the objects selected into the context and the modes set on it.
TEST(EmfSvg, ShapesAndStyles) {
  struct Case {
    const char* name;
    EmfBuilder emf;
    std::string body;
  };
  const std::string pen1 = kBlackPen1;
  const Case cases[] = {
      {"polygon with the default brush and pen", EmfBuilder().poly16(86, kTriangle), kTriangleElement + kFill},
      {"a selected solid brush (blue channel first)", EmfBuilder().brush(1, 0, 0x0000FF).select(1).poly16(86, kTriangle),
       kTriangleElement + "style=\"fill:#ff0000;fill-rule:evenodd;fill-opacity:1;" + pen1 + "\" />\n"},
      {"a created brush that is not selected does not paint",
       EmfBuilder().brush(1, 0, 0x0000FF).poly16(86, kTriangle), kTriangleElement + kFill},
      {"the selected one of two brushes, not the last created",
       EmfBuilder().brush(1, 0, 0x0000FF).brush(2, 0, 0x00FF00).select(1).poly16(86, kTriangle),
       kTriangleElement + "style=\"fill:#ff0000;fill-rule:evenodd;fill-opacity:1;" + pen1 + "\" />\n"},
      {"a hollow brush fills nothing", EmfBuilder().brush(1, 1, 0x00FF00).select(1).poly16(86, kTriangle),
       kTriangleElement + "style=\"fill:none;" + pen1 + "\" />\n"},
      {"the winding fill mode fills non-zero", EmfBuilder().value(19, 2).poly16(86, kTriangle),
       kTriangleElement + "style=\"fill:#ffffff;fill-rule:nonzero;fill-opacity:1;" + pen1 + "\" />\n"},
      {"the stock null brush and null pen", EmfBuilder().select(0x80000005).select(0x80000008).poly16(86, kTriangle),
       kTriangleElement + kHidden},
      {"the stock gray brush and white pen", EmfBuilder().select(0x80000002).select(0x80000006).poly16(86, kTriangle),
       kTriangleElement + "style=\"fill:#808080;fill-rule:evenodd;fill-opacity:1;stroke:#ffffff;stroke-width:1.00px;"
                          "stroke-linecap:round;stroke-linejoin:round;stroke-dasharray:none;stroke-opacity:1;\" />\n"},
      {"a deleted object is no longer selected",
       EmfBuilder().brush(1, 0, 0x0000FF).value(40, 1).select(1).poly16(86, kTriangle), kTriangleElement + kFill},
      {"RestoreDC gives back the brush SaveDC kept",
       EmfBuilder().brush(1, 0, 0x0000FF).select(1).empty(33).select(0x80000004).value(34, 0xFFFFFFFF)
           .poly16(86, kTriangle),
       kTriangleElement + "style=\"fill:#ff0000;fill-rule:evenodd;fill-opacity:1;" + pen1 + "\" />\n"},
      {"polyline with a selected geometric solid pen", EmfBuilder().extPen(1, 0x10000, 2, 0).select(1).poly16(87, kTriangle),
       "<svg:path \nd=\"" + kTrianglePath +
           "\" style=\"fill:none;stroke:#000000;stroke-width:2.00px;stroke-linecap:round;stroke-linejoin:round;"
           "stroke-dasharray:none;stroke-opacity:1;\" />\n"},
      {"a dashed cosmetic pen strokes with a dash array",
       EmfBuilder().extPen(1, 0x1, 3, 0xFF, 1).select(1).poly16(87, {{1, 1}, {2, 2}}),
       "<svg:path \nd=\"M 1.000000 1.000000 L 2.000000 2.000000 \" "
       "style=\"fill:none;stroke:#ff0000;stroke-width:3.00px;stroke-linecap:round;stroke-linejoin:round;"
       "stroke-dasharray:9.00,3.00;\" />\n"},
      {"a dotted pen with a flat cap and a mitre join",
       EmfBuilder().extPen(1, 0x12202, 2, 0).select(1).poly16(87, {{1, 1}, {2, 2}}),
       "<svg:path \nd=\"M 1.000000 1.000000 L 2.000000 2.000000 \" "
       "style=\"fill:none;stroke:#000000;stroke-width:2.00px;stroke-linecap:butt;stroke-linejoin:miter;"
       "stroke-dasharray:2.00,2.00;stroke-opacity:1;\" />\n"},
      {"a dashed pen of CreatePen", EmfBuilder().record(38, testsupport::Le().u32(1).u32(1).i32(1).i32(0).u32(0xFF0000))
                                        .select(1).poly16(86, kTriangle),
       kTriangleElement + "style=\"fill:#ffffff;fill-rule:evenodd;fill-opacity:1;stroke:#0000ff;stroke-width:1.00px;"
                          "stroke-linecap:round;stroke-linejoin:round;stroke-dasharray:3.00,1.00;stroke-opacity:1;\" />\n"},
      {"polybezier of five points is open", EmfBuilder().poly16(85, {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}}),
       "<svg:path \nd=\"M 0.000000 0.000000 C 1.000000 1.000000 2.000000 2.000000 3.000000 3.000000 "
       "L 4.000000 4.000000 \" " + kOpen},
      {"a bracket that is neither filled nor stroked draws nothing",
       EmfBuilder()
           .empty(59)
           .point(27, 0, 0)
           .poly16(88, {{1, 1}, {2, 2}, {3, 3}, {4, 4}})
           .poly16(89, {{5, 5}, {6, 6}, {7, 7}, {8, 8}})
           .point(54, 9, 9)
           .empty(61)
           .empty(60),
       "<svg:path d=\" M 0.000000 0.000000 C 1.000000 1.000000 2.000000 2.000000 3.000000 3.000000 "
       "L 4.000000 4.000000 L 5.000000 5.000000 L 6.000000 6.000000 L 7.000000 7.000000 L 8.000000 8.000000 "
       "L 9.000000 9.000000 z \n\" " + kHidden},
      {"a filled bracket", EmfBuilder().empty(59).point(27, 1, 1).point(54, 2, 2).empty(60).record(62, testsupport::Le().rect(0, 0, 2, 2)),
       "<svg:path d=\" M 1.000000 1.000000 L 2.000000 2.000000 \" "
       "style=\"fill:#ffffff;fill-rule:evenodd;fill-opacity:1;stroke:none;\" />\n"},
      {"a stroked bracket", EmfBuilder().empty(59).point(27, 1, 1).point(54, 2, 2).empty(60).record(64, testsupport::Le().rect(0, 0, 2, 2)),
       "<svg:path d=\" M 1.000000 1.000000 L 2.000000 2.000000 \" " + kOpen},
      {"a filled and stroked bracket",
       EmfBuilder().empty(59).point(27, 1, 1).point(54, 2, 2).empty(60).record(63, testsupport::Le().rect(0, 0, 2, 2)),
       "<svg:path d=\" M 1.000000 1.000000 L 2.000000 2.000000 \" " + kFill},
      {"polypolygon", EmfBuilder().polyPolygon16({3, 2}, {{0, 0}, {1, 0}, {1, 1}, {5, 5}, {6, 6}}),
       "<svg:path \nd=\"M 0.000000 0.000000 L 1.000000 0.000000 L 1.000000 1.000000 z \n"
       "M 5.000000 5.000000 L 6.000000 6.000000 z \n\"\n" + kFill},
      // Counts that add up to more than the points stop at the last point.
      {"polypolygon counts past the points", EmfBuilder().polyPolygon16({0, 2, 9}, {{0, 0}, {1, 0}, {2, 2}}),
       "<svg:path \nd=\"M 0.000000 0.000000 L 1.000000 0.000000 z \nM 2.000000 2.000000 z \n\"\n" + kFill},
      {"shapes without points write nothing", EmfBuilder().poly16(86, {}).poly16(87, {}).poly16(85, {}), ""},
      {"shape inside a bracket closes it",
       EmfBuilder().empty(59).poly16(86, kTriangle),
       "<svg:path d=\" " + kTrianglePath + "z\" " + kFill},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(svgOf(c.emf), kSvgStart + c.body + "</svg:svg>");
  }
}

// Logical points are mapped into the picture: window and viewport, map mode, the bounds' origin.
TEST(EmfSvg, MappingIntoThePicture) {
  struct Case {
    const char* name;
    EmfBuilder emf;
    Pt point;
    std::string expected;
  };
  EmfBuilder::Header away;
  away.bounds[0] = 100;
  away.bounds[1] = 200;
  away.bounds[2] = 300;
  away.bounds[3] = 400;
  const Case cases[] = {
      {"the bounds' origin is the picture's", EmfBuilder(away), {150, 250}, "50.000000 50.000000 "},
      {"window and viewport origins", EmfBuilder().point(10, 10, 10).point(12, 5, 0), {20, 20}, "15.000000 10.000000 "},
      {"extents do not count in MM_TEXT", EmfBuilder().point(9, 1000, 1000).point(11, 10, 10), {20, 20},
       "20.000000 20.000000 "},
      {"anisotropic extents", EmfBuilder().value(17, 8).point(9, 1000, 1000).point(11, 100, -100), {500, 500},
       "50.000000 -50.000000 "},
      {"anisotropic with origins",
       EmfBuilder().value(17, 8).point(9, 200, 200).point(11, 100, 100).point(10, 100, 100).point(12, 10, 20),
       {300, 300}, "110.000000 120.000000 "},
      {"isotropic takes the smaller scale", EmfBuilder().value(17, 7).point(9, 100, 100).point(11, 50, 200), {10, 10},
       "5.000000 5.000000 "},
      {"0.01 mm units, y upwards", EmfBuilder().value(17, 3), {1000, -1000}, "32.000000 32.000000 "},
      {"0.1 mm units", EmfBuilder().value(17, 2), {100, 100}, "32.000000 -32.000000 "},
      {"scaled viewport extent",
       EmfBuilder().value(17, 8).point(9, 10, 10).point(11, 10, 10).record(31, testsupport::Le().i32(3).i32(1).i32(1).i32(2)),
       {10, 10}, "30.000000 5.000000 "},
      {"SetWorldTransform replaces the transform",
       EmfBuilder().modifyWorldTransform(5, 0, 0, 5, 0, 0, 2).record(35, testsupport::Le().f32(2).f32(0).f32(0).f32(2).f32(1).f32(0)),
       {3, 3}, "7.000000 6.000000 "},
      {"RestoreDC gives back the mapping", EmfBuilder().empty(33).point(10, 50, 50).value(34, 1), {3, 3},
       "3.000000 3.000000 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EmfBuilder emf = c.emf;
    const std::string svg = svgOf(emf.poly16(87, {c.point}));
    EXPECT_NE(svg.find("d=\"M " + c.expected + "\""), std::string::npos) << svg;
  }
  // The pen's width follows the mapping.
  const std::string scaled =
      svgOf(EmfBuilder().value(17, 8).point(9, 10, 10).point(11, 1, 1).extPen(1, 0x10000, 10, 0).select(1).poly16(87, {{0, 0}}));
  EXPECT_NE(scaled.find("stroke-width:1.00px;"), std::string::npos) << scaled;
}

TEST(EmfSvg, WorldTransform) {
  struct Case {
    const char* name;
    float m[6];
    std::uint32_t mode;
    Pt point;
    std::string expected;
  };
  const Case cases[] = {
      {"identity mode ignores the matrix", {5, 1, 1, 5, 9, 9}, 1, {3, 4}, "3.000000 4.000000 "},
      {"left multiply scale", {2, 0, 0, 2, 0, 0}, 2, {1, 1}, "2.000000 2.000000 "},
      {"rotation by 90 degrees", {0, 1, -1, 0, 0, 0}, 2, {1, 0}, "0.000000 1.000000 "},
      {"right multiply translate", {1, 0, 0, 1, 10, -5}, 3, {1, 1}, "11.000000 -4.000000 "},
      {"unknown mode multiplies on the left", {1, 0, 0, 1, 0.5f, 0}, 7, {1, 1}, "1.500000 1.000000 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string svg = svgOf(EmfBuilder()
                                      .modifyWorldTransform(c.m[0], c.m[1], c.m[2], c.m[3], c.m[4], c.m[5], c.mode)
                                      .poly16(87, {c.point}));
    EXPECT_NE(svg.find("d=\"M " + c.expected + "\""), std::string::npos) << svg;
  }
  // Left and right multiplication differ: scale then translate.
  const std::string left = svgOf(EmfBuilder()
                                     .modifyWorldTransform(2, 0, 0, 2, 0, 0, 2)
                                     .modifyWorldTransform(1, 0, 0, 1, 3, 0, 2)
                                     .poly16(87, {{1, 0}}));
  EXPECT_NE(left.find("M 8.000000 0.000000 "), std::string::npos) << left;
  const std::string right = svgOf(EmfBuilder()
                                      .modifyWorldTransform(2, 0, 0, 2, 0, 0, 2)
                                      .modifyWorldTransform(1, 0, 0, 1, 3, 0, 3)
                                      .poly16(87, {{1, 0}}));
  EXPECT_NE(right.find("M 5.000000 0.000000 "), std::string::npos) << right;
  // The pen width follows eM11.
  const std::string wide = svgOf(EmfBuilder()
                                     .modifyWorldTransform(1.5f, 0, 0, 1.5f, 0, 0, 2)
                                     .extPen(1, 0x10000, 3, 0)
                                     .select(1)
                                     .poly16(87, {{0, 0}}));
  EXPECT_NE(wide.find("stroke-width:4.50px;"), std::string::npos) << wide;
}

TEST(EmfSvg, EachDocumentStartsFromItsOwnState) {
  // The first document leaves a transform, a pen, a hatched brush style and an open path.
  Loaded first(EmfBuilder()
                   .modifyWorldTransform(3, 0, 0, 3, 0, 0, 2)
                   .brush(1, 2, 0x123456, 3)
                   .extPen(2, 0x10000, 4, 0xFF)
                   .select(2)
                   .empty(59)
                   .point(27, 1, 1)
                   .bytes());
  const std::string a = first.svg();
  // The open bracket is closed before the document ends.
  EXPECT_TRUE(a.ends_with("M 3.000000 3.000000 \" " + kHidden + "</svg:svg>")) << a;
  // Its pen is selected and scaled.
  const std::string drawn = Loaded(EmfBuilder()
                                       .modifyWorldTransform(3, 0, 0, 3, 0, 0, 2)
                                       .extPen(2, 0x10000, 4, 0xFF)
                                       .select(2)
                                       .poly16(87, {{1, 1}})
                                       .bytes())
                                .svg();
  EXPECT_NE(drawn.find("style=\"fill:none;stroke:#ff0000;stroke-width:12.00px;"), std::string::npos)
      << drawn;
  const std::string plain = kSvgStart + kTriangleElement + kFill + "</svg:svg>";
  EXPECT_EQ(Loaded(EmfBuilder().poly16(86, kTriangle).bytes()).svg(), plain);
  // The same metafile written twice gives the same text.
  EXPECT_EQ(first.svg(), a);
}

TEST(EmfSvg, PathDataOutsideABracketStaysCharacterData) {
  const std::string svg = svgOf(EmfBuilder().point(27, 1, 2).point(54, 3, 4).empty(61));
  EXPECT_EQ(svg, kSvgStart + "M 1.000000 2.000000 L 3.000000 4.000000 z \n</svg:svg>");
}

TEST(EmfSvg, NestedBracketKeepsTheMarkupWhole) {
  const std::string svg = svgOf(EmfBuilder().empty(59).point(27, 1, 1).empty(59).point(54, 2, 2).empty(60));
  // The first path is dropped, as a second BeginPath drops it.
  EXPECT_EQ(svg, kSvgStart + "<svg:path d=\" M 1.000000 1.000000 \" " + kHidden +
                     "<svg:path d=\" L 2.000000 2.000000 \" " + kHidden + "</svg:svg>");
}

TEST(EmfSvg, NumbersDoNotFollowTheLocale) {
  // A German locale built for this test writes "%f" with a decimal comma.
  testsupport::TempDir dir;
  const std::string build = "localedef -i de_DE -f UTF-8 -c '" + (dir / "de_DE.utf8").string() + "' >/dev/null 2>&1";
  if (std::system(build.c_str()) != 0) GTEST_SKIP() << "localedef cannot build de_DE";
  ::setenv("LOCPATH", dir.path().c_str(), 1);
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
    ::unsetenv("LOCPATH");
    GTEST_SKIP() << "de_DE locale not usable";
  }
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  const std::string svg = svgOf(EmfBuilder()
                                    .modifyWorldTransform(1.5f, 0, 0, 1.5f, 0.25f, 0, 2)
                                    .extPen(1, 0x10000, 1, 0)
                                    .select(1)
                                    .poly16(87, {{1, 1}}));
  std::setlocale(LC_ALL, "C");
  ::unsetenv("LOCPATH");
  ASSERT_STREQ(probe, "1,5");
  EXPECT_NE(svg.find("d=\"M 1.750000 1.500000 \" "), std::string::npos) << svg;
  EXPECT_NE(svg.find("stroke-width:1.50px;"), std::string::npos) << svg;
  EXPECT_EQ(svg.find(','), std::string::npos) << svg;
}
