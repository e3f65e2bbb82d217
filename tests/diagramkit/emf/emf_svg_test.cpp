// The SVG text written for each drawing record, and the writer's per-document state.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "emf_test_util.h"
#include "support/emf_builder.h"

using namespace EMF;
using emftest::kSvgStart;
using emftest::Loaded;
using testsupport::EmfBuilder;
using testsupport::Pt;

namespace {

const std::string kFill = "style=\"fill:#ffffff;fill-rule:nonzero;fill-opacity:1;stroke:none;\" />\n";
const std::string kRedFill = "style=\"fill:#ff0000;fill-rule:nonzero;fill-opacity:1;stroke:none;\" />\n";
const std::string kBlackStroke2 =
    "style=\"fill:none;stroke:#000000;stroke-width:2.00px;stroke-linecap:round;stroke-linejoin:round;"
    "stroke-dasharray:none;stroke-opacity:1;\" />\n";
const std::vector<Pt> kTriangle = {{0, 0}, {10, 0}, {10, 10}};
const std::string kTrianglePath = "M 0.000000 0.000000 L 10.000000 0.000000 L 10.000000 10.000000 ";

std::string svgOf(const EmfBuilder& b) { return Loaded(b.bytes()).svg(); }

}  // namespace

TEST(EmfSvg, DocumentFrame) {
  EXPECT_EQ(svgOf(EmfBuilder().eof()), kSvgStart + "</svg:svg>");
  EmfBuilder::Header h;
  h.bounds[0] = 0;
  h.bounds[1] = 0;
  h.bounds[2] = 99;
  h.bounds[3] = 49;
  const std::string svg = svgOf(EmfBuilder(h).eof());
  EXPECT_NE(svg.find("width=\"99\" height=\"49\" >\n"), std::string::npos) << svg;
}

// One record after a style record, written exactly.
TEST(EmfSvg, ShapesAndStyles) {
  struct Case {
    const char* name;
    EmfBuilder emf;
    std::string body;
  };
  const Case cases[] = {
      {"polygon with a solid blue-channel brush", EmfBuilder().brush(1, 0, 0x0000FF).poly16(86, kTriangle),
       "<svg:path \nd=\"" + kTrianglePath + "z\" " + kRedFill},
      {"polyline with a geometric solid pen", EmfBuilder().extPen(1, 0x10000, 2, 0).poly16(87, kTriangle),
       "<svg:path \nd=\"" + kTrianglePath + "\" " + kBlackStroke2},
      {"hollow brush keeps its colour, loses the opacity",
       EmfBuilder().brush(1, 1, 0x00FF00).poly16(86, kTriangle),
       "<svg:path \nd=\"" + kTrianglePath +
           "z\" style=\"fill:#00ff00;fill-rule:nonzero;stroke:none;\" />\n"},
      {"dashed cosmetic pen: no stroke colour, no dash piece",
       EmfBuilder().extPen(1, 0x1, 3, 0xFF, 1).poly16(87, {{1, 1}, {2, 2}}),
       "<svg:path \nd=\"M 1.000000 1.000000 L 2.000000 2.000000 \" "
       "style=\"stroke-width:3.00px;stroke-linecap:round;stroke-linejoin:round;\" />\n"},
      {"polybezier of five points", EmfBuilder().poly16(85, {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}}),
       "<svg:path \nd=\"M 0.000000 0.000000 C 1.000000 1.000000 2.000000 2.000000 3.000000 3.000000 "
       "L 4.000000 4.000000 \" " + kFill},
      {"bezierto and lineto in a bracket",
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
       "L 9.000000 9.000000 z \n\" " + kFill},
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
                                     .poly16(87, {{0, 0}}));
  EXPECT_NE(wide.find("stroke-width:4.50px;"), std::string::npos) << wide;
}

TEST(EmfSvg, EachDocumentStartsFromItsOwnState) {
  // The first document leaves a transform, a pen, a hatched brush style and an open path.
  Loaded first(EmfBuilder()
                   .modifyWorldTransform(3, 0, 0, 3, 0, 0, 2)
                   .brush(1, 2, 0x123456, 3)
                   .extPen(2, 0x10000, 4, 0xFF)
                   .empty(59)
                   .point(27, 1, 1)
                   .bytes());
  const std::string a = first.svg();
  // The open bracket is closed before the document ends.
  EXPECT_TRUE(a.ends_with("M 3.000000 3.000000 \" style=\"fill:none;stroke:#ff0000;stroke-width:12.00px;"
                          "stroke-linecap:round;stroke-linejoin:round;stroke-dasharray:none;stroke-opacity:1;\" />\n"
                          "</svg:svg>"))
      << a;
  const std::string plain = kSvgStart + "<svg:path \nd=\"" + kTrianglePath + "z\" " + kFill + "</svg:svg>";
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
  EXPECT_EQ(svg, kSvgStart + "<svg:path d=\" M 1.000000 1.000000 \" " + kFill +
                     "<svg:path d=\" L 2.000000 2.000000 \" " + kFill + "</svg:svg>");
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
                                    .poly16(87, {{1, 1}}));
  std::setlocale(LC_ALL, "C");
  ::unsetenv("LOCPATH");
  ASSERT_STREQ(probe, "1,5");
  EXPECT_NE(svg.find("d=\"M 1.750000 1.500000 \" "), std::string::npos) << svg;
  EXPECT_NE(svg.find("stroke-width:1.50px;"), std::string::npos) << svg;
  EXPECT_EQ(svg.find(','), std::string::npos) << svg;
}
