#include <cairo.h>
#include <gtest/gtest.h>
#include <poppler/cpp/poppler-page-renderer.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <memory>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "diagramkit/engine/PageFile.h"
#include "diagramkit/engine/TextMeasurer.h"
#include "diagramkit/engine/VSDXPackage.h"
#include "diagramkit/engine/VSDXRenderer.h"
#include "engine_test_support.h"
#include "platform/foundation/log.h"
#include "support/temp_dir.h"
#include "support/visio_builder.h"

namespace {

namespace fs = std::filesystem;
using diagramkit::TextSize;
using Parts = std::vector<std::pair<std::string, std::string>>;

// Every character `charWidth` points wide, every line 12 points high.
class FakeMeasurer : public diagramkit::TextMeasurer {
 public:
  explicit FakeMeasurer(double charWidth = 10) : charWidth_(charWidth) {}
  TextSize measure(std::string_view text, const std::string& fontName, double pointSize) override {
    lastFont = fontName;
    lastSize = pointSize;
    double chars = 0, lines = 1;
    for (char c : text) {
      if (c == '\n') ++lines;
      else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++chars;
    }
    measured += static_cast<std::size_t>(chars);
    return {chars * charWidth_, lines * 12};
  }
  std::string lastFont;
  double lastSize = -1;
  std::size_t measured = 0;  // characters measured so far

 private:
  double charWidth_;
};

const char* kNs =
    "xmlns=\"http://schemas.microsoft.com/office/visio/2012/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";

std::string cell(const std::string& n, const std::string& v) { return "<Cell N=\"" + n + "\" V=\"" + v + "\"/>"; }

// The builder's box shape: PinX 2, PinY 3, Width 2, Height 1, LocPin (1, 0.5).
std::string boxCells() {
  return cell("PinX", "2") + cell("PinY", "3") + cell("Width", "2") + cell("Height", "1") + cell("LocPinX", "1") +
         cell("LocPinY", "0.5");
}

std::string moveTo(double x, double y) {
  return "<Section N=\"Geometry\" IX=\"0\"><Row T=\"MoveTo\" IX=\"1\">" + cell("X", testsupport::visioNumber(x)) +
         cell("Y", testsupport::visioNumber(y)) + "</Row></Section>";
}

// A one-page package (8.5 x 11 inches) whose first page holds `shapes`, with extra parts.
Parts package(const std::string& shapes, const Parts& extra = {}) {
  Parts parts = testsupport::vsdxParts({testsupport::VisioPage{}});
  for (auto& [name, content] : parts) {
    if (name == "visio/pages/page1.xml") {
      content = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PageContents ") + kNs + "><Shapes>" +
                shapes + "</Shapes></PageContents>";
    }
  }
  parts.insert(parts.end(), extra.begin(), extra.end());
  return parts;
}

struct Rendered {
  std::string svg;
  std::vector<std::string> lines;
  std::vector<double> heights;
};

Rendered render(const Parts& parts, diagramkit::TextMeasurer& measurer) {
  testsupport::TempDir dir;
  const fs::path file = dir / "drawing.vsdx";
  EXPECT_TRUE(testsupport::writeZip(file, parts));
  auto pkg = diagramkit::VSDXPackage::open(file);
  if (!pkg) {
    ADD_FAILURE() << "package does not open";
    return {};
  }
  diagramkit::VSDXRenderer renderer(*pkg, measurer);
  if (!renderer.loadPages()) {
    ADD_FAILURE() << "no pages";
    return {};
  }
  Rendered r;
  r.svg = renderer.renderPage(0);
  r.lines = renderer.textArry();
  r.heights = renderer.heightArry();
  return r;
}

Rendered render(const std::string& shapes, const Parts& extra = {}) {
  FakeMeasurer m;
  return render(package(shapes, extra), m);
}

std::string shape(const std::string& body) { return "<Shape ID=\"1\" Type=\"Shape\">" + body + "</Shape>"; }

TEST(VSDXRenderer, PageSizeAndGeometryThroughTheShapeTransform) {
  const std::string geometry =
      "<Section N=\"Geometry\" IX=\"0\">" + cell("NoFill", "1") + "<Row T=\"MoveTo\" IX=\"1\">" + cell("X", "0") +
      cell("Y", "0") + "</Row><Row T=\"LineTo\" IX=\"2\">" + cell("X", "2") + cell("Y", "1") +
      "</Row><Row T=\"RelLineTo\" IX=\"3\">" + cell("X", "0.5") + cell("Y", "1") + "</Row></Section>";
  const Rendered r = render(shape(boxCells() + geometry));
  EXPECT_EQ(r.svg.rfind("<svg:svg version=\"1.1\" xmlns:svg=\"http://www.w3.org/2000/svg\" "
                        "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"612.0000\" height=\"792.0000\"  >\n",
                        0),
            0u)
      << r.svg;
  EXPECT_NE(r.svg.find("<svg:path d=\" \nM72.0000,612.0000\nL216.000000,540.000000\nL144.000000,540.000000\" \n"
                       "style=\"stroke-width: 0.7500; stroke: #000000; stroke-dasharray:  solid; "
                       "stroke-linecap: round; stroke-linejoin: round; fill: none; \"/>\n"),
            std::string::npos)
      << r.svg;
  EXPECT_EQ(r.svg.substr(r.svg.size() - 11), "</svg:svg>\n");

  // Line cells are read but change nothing.
  const Rendered weighted = render(shape(boxCells() + cell("LineWeight", "0.5") + cell("LineColor", "#ff0000") + geometry));
  EXPECT_EQ(weighted.svg, r.svg);
}

TEST(VSDXRenderer, EachPageSizeIsWrittenOnceFromItsLastCell) {
  Parts parts = package(shape(boxCells()));
  for (auto& [name, content] : parts) {
    if (name != "visio/pages/pages.xml") continue;
    const std::size_t at = content.find("<PageSheet>") + std::string("<PageSheet>").size();
    content.erase(at, content.find("</PageSheet>") - at);
    content.insert(at, cell("PageHeight", "2") + cell("PageWidth", "3") + cell("PageHeight", "4") + cell("PageWidth", "5"));
  }
  FakeMeasurer m;
  const Rendered r = render(parts, m);
  EXPECT_EQ(r.svg.rfind("<svg:svg version=\"1.1\" xmlns:svg=\"http://www.w3.org/2000/svg\" "
                        "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"360.0000\" height=\"288.0000\"  >\n",
                        0),
            0u)
      << r.svg;
  testsupport::TempDir dir;
  ASSERT_TRUE(diagramkit::writePageFile(dir / "0.svg", r.svg));
  std::string error;
  const auto page = diagramkit::readPageFile(dir / "0.svg", &error);
  ASSERT_TRUE(page.has_value()) << error;
  EXPECT_EQ(page->height, 288.0);
}

TEST(VSDXRenderer, NestedShapesGoThroughTheirOwnTransformFirst) {
  // The parent turns a quarter; the child sits one inch along its x axis.
  const std::string child = shape(cell("PinX", "1") + cell("PinY", "0") + moveTo(0, 0));
  const std::string parent = shape(cell("PinX", "4") + cell("PinY", "5") + cell("Angle", "1.5707963267948966") +
                                   "<Shapes>" + child + "</Shapes>" + moveTo(0, 0));
  const Rendered r = render(parent);
  EXPECT_NE(r.svg.find("\nM288.0000,360.0000"), std::string::npos) << r.svg;  // child, rotated into the parent
  EXPECT_NE(r.svg.find("\nM288.0000,432.0000"), std::string::npos) << r.svg;  // parent's own, after the child
}

TEST(VSDXRenderer, TextIsWrappedByMeasuredWidth) {
  struct Case {
    const char* name;
    std::string width;       // shape width in inches; the wrap width is width x 78 points
    std::string extraCells;
    std::string xmlText;
    double charWidth;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"a line feed breaks the line", "2", "", "A\nB\n", 10, {"A", "B"}},
      {"a carriage return before a line feed breaks once", "2", "", "A&#13;\nB", 10, {"A", "B"}},
      {"line and paragraph separators break", "2", "", "A\xE2\x80\xA8" "B\xE2\x80\xA9" "C", 10, {"A", "B", "C"}},
      {"each paragraph is wrapped on its own", "0.45", "", "abcd\nefg", 10, {"abc", "d", "efg"}},
      {"an empty paragraph keeps its line", "2", "", "A\n\nB", 10, {"A", "", "B"}},
      {"a text of one line feed draws nothing", "2", "", "\n", 10, {}},
      {"ampersand and semicolon stay one line", "0.1", "", "Tom &amp; Jerry;", 10, {"Tom & Jerry;"}},
      {"ampersand and semicolon: paragraphs unwrapped", "0.1", "", "Tom &amp;\nJerry;", 10, {"Tom &", "Jerry;"}},
      {"wrapped at three characters", "0.45", "", "abcdefghij", 10, {"abc", "def", "ghi", "j"}},
      {"never less than one character", "0.05", "", "abc", 10, {"a", "b", "c"}},
      {"lines end after words", "0.9", "", "alpha beta gamma", 10, {"alpha ", "beta ", "gamma"}},
      {"blanks where a line is full stay on it", "0.9", "", "abcdefg   hi", 10, {"abcdefg   ", "hi"}},
      {"a word longer than the line is broken", "0.45", "", "ab cdefgh", 10, {"ab ", "cde", "fgh"}},
      {"no room and no measured width", "0.5", cell("LeftMargin", "1"), "abc", 0, {"a", "b", "c"}},
      {"characters are never split", "0.2", "", "\xC3\xA9\xC3\xA9\xE2\x82\xAC", 10,
       {"\xC3\xA9", "\xC3\xA9", "\xE2\x82\xAC"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeMeasurer m(c.charWidth);
    const std::string body = cell("PinX", "2") + cell("PinY", "3") + cell("Width", c.width) + cell("Height", "1") +
                             c.extraCells + "<Text>" + c.xmlText + "</Text>";
    const Rendered r = render(package(shape(body)), m);
    EXPECT_EQ(r.lines, c.lines);
    EXPECT_EQ(r.heights.size(), c.lines.size());
  }
}

// Widths and heights by character: "i" is narrow, "W" wide; "X" rises highest, "g" falls lowest.
class ShapedMeasurer : public diagramkit::TextMeasurer {
 public:
  TextSize measure(std::string_view text, const std::string&, double) override {
    measured += text.size();
    double width = 0, ascent = 0, descent = 0;
    for (char c : text) {
      width += c == 'i' ? 2 : c == 'W' ? 15 : 7;
      ascent = std::max(ascent, c == 'X' ? 11.0 : 9.0);
      descent = std::max(descent, c == 'g' ? 5.0 : 3.0);
    }
    return {width, ascent + descent, ascent};
  }
  std::size_t measured = 0;
};

TEST(VSDXRenderer, LinesTakeTheLongestPieceThatFitsWithFewMeasurements) {
  // 4,000 characters whose widths vary by runs, in a box 78 points wide.
  std::string text;
  for (int run = 0; text.size() < 4000; ++run) text += std::string(static_cast<std::size_t>(1 + run * 7 % 23), "iWagX"[run % 5]);
  text.resize(4000);
  ShapedMeasurer m;
  const Rendered r = render(package(shape(cell("PinX", "2") + cell("PinY", "3") + cell("Width", "1") + cell("Height", "1") +
                                          "<Text>" + text + "</Text>")),
                            m);
  // Each line is the longest piece of the rest whose width fits, and as high as the rest.
  std::vector<std::string> lines;
  std::vector<double> heights;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t n = 1;
    while (at + n < text.size() && m.measure(text.substr(at, n + 1), "", 0).width <= 78) ++n;
    lines.push_back(text.substr(at, n));
    heights.push_back(m.measure(text.substr(at), "", 0).height);
    at += n;
  }
  EXPECT_EQ(r.lines, lines);
  EXPECT_EQ(r.heights, heights);
  // Measured a few times over, not once more for every line.
  FakeMeasurer uniform;
  render(package(shape(cell("PinX", "2") + cell("PinY", "3") + cell("Width", "0.45") + cell("Height", "1") + "<Text>" +
                       std::string(4000, 'a') + "</Text>")),
         uniform);
  EXPECT_LT(uniform.measured, 20u * 4000) << "characters measured";
}

TEST(VSDXRenderer, TextIsWrittenAsCharactersXmlHolds) {
  // A damaged declaration leaves the parser reading the text's bytes as they are.
  Parts parts = package(shape(boxCells() + "<Text>a\xC3" "b\xFF\xF0\x9F\x98\x80\xED\xA0\x80\x01\xEF\xBF\xBEz</Text>"));
  for (auto& [name, content] : parts) {
    if (name == "visio/pages/page1.xml") content.replace(content.find("version="), 8, "version\xBE");
  }
  FakeMeasurer m;
  const Rendered r = render(parts, m);
  const std::string replaced = "\xEF\xBF\xBD";
  EXPECT_EQ(r.lines, std::vector<std::string>{"a" + replaced + "b" + replaced + "\xF0\x9F\x98\x80" + replaced + replaced +
                                              replaced + "z"});
  testsupport::TempDir dir;
  ASSERT_TRUE(diagramkit::writePageFile(dir / "0.svg", r.svg));
  std::string error;
  EXPECT_TRUE(diagramkit::readPageFile(dir / "0.svg", &error).has_value()) << error;
}

TEST(VSDXRenderer, TextPlacementFontAndEscaping) {
  const std::string character = "<Section N=\"Character\"><Row IX=\"0\">" + cell("Style", "3") +
                                cell("Size", "0.1666666666666667") + "</Row></Section>";
  // Without text-block cells the text sits in the shape's box.
  {
    const Rendered r = render(shape(boxCells() + "<Text>a &lt;b&gt; &amp; \"c\"</Text>"));
    // Centre (2, 8) in y-down inches; no font yet, so one line sits at the middle plus 12/80.
    EXPECT_NE(r.svg.find("<svg:text x=\"72.0000\" y=\"586.8000\">\n<svg:tspan font-family=\"SimSun\" "
                         "font-size=\"10.0000\" fill=\"#000000\" fill-opacity=\"1.0000\" stroke-opacity=\"1.0000\" >\n"
                         "a &lt;b&gt; &amp; &quot;c&quot;\n</svg:tspan>\n</svg:text>\n"),
              std::string::npos)
        << r.svg;
    // The page file holding it parses.
    testsupport::TempDir dir;
    ASSERT_TRUE(diagramkit::writePageFile(dir / "0.svg", r.svg));
    std::string error;
    const auto page = diagramkit::readPageFile(dir / "0.svg", &error);
    ASSERT_TRUE(page.has_value()) << error;
    EXPECT_EQ(page->width, 612.0);
  }
  // A text block of its own, a margin, a character size and style, and a turned shape.
  {
    FakeMeasurer m;
    const std::string block = cell("TxtPinX", "1") + cell("TxtPinY", "0.5") + cell("TxtWidth", "1") +
                              cell("TxtHeight", "0.5") + cell("TxtLocPinX", "0.5") + cell("TxtLocPinY", "0.25") +
                              cell("LeftMargin", "0.25");
    const Rendered r = render(package(shape(boxCells() + cell("Angle", "0.5235987755982988") + block + character +
                                            "<Text>Hi</Text>")),
                              m);
    EXPECT_EQ(m.lastFont, "SimSun");
    EXPECT_NEAR(m.lastSize, 12.0, 1e-4);
    EXPECT_NE(r.svg.find("<svg:text x=\"126.0000\" y=\"574.8000\" transform=\"rotate(-30.0000, 144.0000, 586.8000)\">"),
              std::string::npos)
        << r.svg;
    EXPECT_NE(r.svg.find("font-style=\"italic\" font-weight=\"bold\" font-size=\"12.000000\" "), std::string::npos)
        << r.svg;
  }
}

std::size_t occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

TEST(VSDXRenderer, ImagesAreDataInsideThePackageOnlyWrittenOncePerPage) {
  const std::string jpeg = std::string("\xFF\xD8\xFF\xE0", 4) + "jfif";
  const std::string rels =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Relationships "
      "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"image\" Target=\"../media/image1.JPG\"/>"
      "<Relationship Id=\"rId2\" Type=\"image\" Target=\"../../../../etc/hostname\"/>"
      "<Relationship Id=\"rId3\" Type=\"image\" Target=\"../media/missing.png\"/>"
      "<Relationship Id=\"rId4\" Type=\"image\" Target=\"file:///etc/hostname\"/>"
      "<Relationship Id=\"rId5\" Type=\"image\" Target=\"/visio/media/image1.JPG\"/>"
      "</Relationships>";
  const Parts extra = {{"visio/pages/_rels/page1.xml.rels", rels}, {"visio/media/image1.JPG", jpeg}};
  auto imageShape = [](const std::string& id) {
    return shape(boxCells() + cell("ImgOffsetX", "0") + cell("ImgOffsetY", "0") + cell("ImgWidth", "2") +
                 cell("ImgHeight", "1") + "<ForeignData ForeignType=\"Bitmap\"><Rel r:id=\"" + id + "\"/></ForeignData>");
  };
  const std::string shapes = imageShape("rId1") + imageShape("rId2") + imageShape("rId3") + imageShape("rId4") +
                             imageShape("rId9") + imageShape("rId1") + imageShape("rId5");
  const Rendered r = render(shapes, extra);
  // One definition per part, before anything is drawn; the JPEG's data once for three uses.
  const std::size_t defs = r.svg.find(" >\n<svg:defs>\n");
  ASSERT_NE(defs, std::string::npos) << r.svg;
  EXPECT_NE(r.svg.find("<svg:defs>\n"
                       "<svg:image id=\"image1\" width=\"100%\" height=\"100%\" xlink:href=\"data:image/jpeg;base64," +
                       diagramkit::base64(jpeg) +
                       "\" />\n"
                       "<svg:image id=\"image2\" width=\"100%\" height=\"100%\" "
                       "xlink:href=\"data:application/octet-stream;base64,\" />\n"
                       "<svg:image id=\"image3\" width=\"100%\" height=\"100%\" xlink:href=\"data:image/png;base64,\" />\n"
                       "</svg:defs>\n"),
            std::string::npos)
      << r.svg;
  EXPECT_EQ(occurrences(r.svg, diagramkit::base64(jpeg)), 1u);
  // Each use draws into the image's box through the shape's transform.
  const std::string use =
      "<svg:g transform=\" translate(72.0000,36.0000) scale(1,1) translate(-72.0000,-36.0000) \">\n"
      "<svg:svg x=\"72.0000\" y=\"540.0000\" width=\"144.0000\" height=\"72.0000\">"
      "<svg:use xlink:href=\"#image";
  EXPECT_EQ(occurrences(r.svg, use), 7u) << r.svg;
  for (const auto& [id, uses] : std::vector<std::pair<std::string, std::size_t>>{{"1", 3}, {"2", 3}, {"3", 1}}) {
    EXPECT_EQ(occurrences(r.svg, use + id + "\" /></svg:svg>\n</svg:g>\n"), uses) << id;
  }
}

// A PNG of `width` x `height` pixels, all red.
std::string redPng(int width, int height) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  std::string png;
  cairo_surface_write_to_png_stream(
      surface,
      [](void* closure, const unsigned char* data, unsigned int length) {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
        return CAIRO_STATUS_SUCCESS;
      },
      &png);
  cairo_surface_destroy(surface);
  return png;
}

TEST(VSDXRenderer, AnImageIsDrawnIntoEachOfItsBoxesKeepingItsShape) {
  // A 2:1 image in two boxes of 1 x 1 inch: it fills each box's width and half its height.
  const std::string rels =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Relationships "
      "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"image\" Target=\"../media/red.png\"/></Relationships>";
  auto imageShape = [](const std::string& pinX) {
    return shape(cell("PinX", pinX) + cell("PinY", "10") + cell("Width", "1") + cell("Height", "1") +
                 cell("LocPinX", "0.5") + cell("LocPinY", "0.5") + cell("ImgWidth", "1") + cell("ImgHeight", "1") +
                 "<ForeignData ForeignType=\"Bitmap\"><Rel r:id=\"rId1\"/></ForeignData>");
  };
  testsupport::TempDir dir;
  const fs::path src = dir / "fixed-diagram.vsdx";
  ASSERT_TRUE(testsupport::writeZip(src, package(imageShape("1") + imageShape("3"),
                                                 {{"visio/pages/_rels/page1.xml.rels", rels},
                                                  {"visio/media/red.png", redPng(20, 10)}})));
  const enginetest::Conversion conv = enginetest::convert(src, dir / "out.pdf");
  ASSERT_EQ(conv.events.size(), 3u);
  std::unique_ptr<poppler::document> doc(poppler::document::load_from_file((dir / "out.pdf").string()));
  ASSERT_TRUE(doc);
  std::unique_ptr<poppler::page> page(doc->create_page(0));
  ASSERT_TRUE(page);
  poppler::page_renderer renderer;
  const poppler::image image = renderer.render_page(page.get(), 72, 72);
  ASSERT_TRUE(image.is_valid());
  ASSERT_EQ(image.format(), poppler::image::format_argb32);
  auto red = [&](int x, int y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(image.const_data() + y * image.bytes_per_row());
    return (row[x] & 0xFFFFFF) == 0xFF0000;
  };
  // Boxes at x 36..108 and 180..252, y 36..108 (points, from the top); the image at y 54..90.
  for (int x : {40, 72, 104, 184, 216, 248}) {
    EXPECT_TRUE(red(x, 58) && red(x, 72) && red(x, 86)) << x;
    EXPECT_FALSE(red(x, 40) || red(x, 104)) << x;
  }
  EXPECT_FALSE(red(144, 72));
}

TEST(VSDXRenderer, ImagesBeyondTheDrawingsShareAreLeftOut) {
  // Two pages, each with an 8-byte image drawn twice and a 5-byte one. Allowed 12 bytes, the
  // renderer writes the 8-byte image once on the first page and leaves out the 5-byte one
  // (4 bytes left); on the second page both are left out.
  const std::string eight = "12345678", five = "abcde";
  const std::string rels =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Relationships "
      "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"image\" Target=\"../media/a.png\"/>"
      "<Relationship Id=\"rId2\" Type=\"image\" Target=\"../media/b.png\"/></Relationships>";
  auto imageShape = [](const std::string& id) {
    return shape(boxCells() + cell("ImgWidth", "1") + cell("ImgHeight", "1") +
                 "<ForeignData ForeignType=\"Bitmap\"><Rel r:id=\"" + id + "\"/></ForeignData>");
  };
  const std::string page = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PageContents ") + kNs +
                           "><Shapes>" + imageShape("rId1") + imageShape("rId1") + imageShape("rId2") +
                           "</Shapes></PageContents>";
  Parts parts = testsupport::vsdxParts({testsupport::VisioPage{}, testsupport::VisioPage{}});
  for (auto& [name, content] : parts) {
    if (name == "visio/pages/page1.xml" || name == "visio/pages/page2.xml") content = page;
  }
  parts.insert(parts.end(), {{"visio/pages/_rels/page1.xml.rels", rels},
                             {"visio/pages/_rels/page2.xml.rels", rels},
                             {"visio/media/a.png", eight},
                             {"visio/media/b.png", five}});
  testsupport::TempDir dir;
  ASSERT_TRUE(testsupport::writeZip(dir / "d.vsdx", parts));
  auto pkg = diagramkit::VSDXPackage::open(dir / "d.vsdx");
  ASSERT_TRUE(pkg);
  FakeMeasurer m;
  const foundation::ScopedLogCapture log;
  diagramkit::VSDXRenderer renderer(*pkg, m, 12);
  ASSERT_TRUE(renderer.loadPages());
  const std::string first = renderer.renderPage(0);
  const std::string second = renderer.renderPage(1);
  EXPECT_EQ(occurrences(first, diagramkit::base64(eight)), 1u) << first;
  EXPECT_EQ(occurrences(first, "xlink:href=\"data:image/png;base64,\""), 1u) << first;
  EXPECT_EQ(occurrences(second, "xlink:href=\"data:image/png;base64,\""), 2u) << second;
  std::vector<std::string> leftOut;
  for (const foundation::LogRecord& rec : log.records()) {
    if (rec.message.find("left out") != std::string::npos) leftOut.push_back(rec.message);
  }
  ASSERT_EQ(leftOut.size(), 3u);
  EXPECT_NE(leftOut[0].find("image visio/media/b.png left out"), std::string::npos) << leftOut[0];
  EXPECT_NE(leftOut[0].find("larger than the 4 bytes left for the drawing's images"), std::string::npos) << leftOut[0];
}

TEST(VSDXRenderer, ImagesBeyondWhatAPageCarriesAreLeftOutAndThePageConverts) {
  // The first page holds the most image data a page carries and, in a second image, 3 MB more,
  // which would make the page too large for librsvg; the second page holds only those 3 MB.
  const std::string rels =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Relationships "
      "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"image\" Target=\"../media/most.png\"/>"
      "<Relationship Id=\"rId2\" Type=\"image\" Target=\"../media/more.png\"/></Relationships>";
  auto imageShape = [](const std::string& id) {
    return shape(boxCells() + cell("ImgWidth", "1") + cell("ImgHeight", "1") +
                 "<ForeignData ForeignType=\"Bitmap\"><Rel r:id=\"" + id + "\"/></ForeignData>");
  };
  auto page = [&](const std::string& shapes) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PageContents ") + kNs + "><Shapes>" + shapes +
           "<Shape ID=\"9\">" + boxCells() + "<Text>Kestrel</Text></Shape></Shapes></PageContents>";
  };
  Parts parts = testsupport::vsdxParts({testsupport::VisioPage{}, testsupport::VisioPage{}});
  for (auto& [name, content] : parts) {
    if (name == "visio/pages/page1.xml") content = page(imageShape("rId1") + imageShape("rId2"));
    if (name == "visio/pages/page2.xml") content = page(imageShape("rId2"));
  }
  parts.insert(parts.end(), {{"visio/pages/_rels/page1.xml.rels", rels},
                             {"visio/pages/_rels/page2.xml.rels", rels},
                             {"visio/media/most.png", std::string(diagramkit::kMaxPageImageBytes, '\0')},
                             {"visio/media/more.png", std::string(3'000'000, '\1')}});
  testsupport::TempDir dir;
  const fs::path src = dir / "fixed-diagram.vsdx";
  ASSERT_TRUE(testsupport::writeZip(src, parts));
  const foundation::ScopedLogCapture log;
  const enginetest::Conversion conv = enginetest::convert(src, dir / "out.pdf");
  ASSERT_EQ(conv.events.size(), 4u);
  EXPECT_EQ(conv.events[2].number, 2);
  const auto pdf = enginetest::readPdf(dir / "out.pdf");
  ASSERT_TRUE(pdf.has_value());
  ASSERT_EQ(pdf->size(), 2u);
  EXPECT_NE((*pdf)[0].text.find("Kestrel"), std::string::npos);
  std::vector<std::string> leftOut;
  for (const foundation::LogRecord& rec : log.records()) {
    if (rec.message.find("left out") != std::string::npos) leftOut.push_back(rec.message);
  }
  ASSERT_EQ(leftOut.size(), 1u);
  EXPECT_NE(leftOut[0].find("image visio/media/more.png left out"), std::string::npos) << leftOut[0];
  EXPECT_NE(leftOut[0].find("larger than the 0 bytes left for the page's images"), std::string::npos) << leftOut[0];
}

TEST(VSDXRenderer, PartTargetsBase64AndMimeTypes) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> targets = {
      {"../media/a.png", "visio/media/a.png"},
      {"/visio/media/a.png", "visio/media/a.png"},
      {"media/./b.png", "visio/pages/media/b.png"},
      {"../../a.png", "a.png"},
      {"../../../a.png", std::nullopt},
      {"/../a.png", std::nullopt},
      {"http://example.com/a.png", std::nullopt},
      {"file:///etc/passwd", std::nullopt},
      {"..\\..\\a.png", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [target, part] : targets) {
    EXPECT_EQ(diagramkit::resolvePartTarget("visio/pages/page1.xml", target), part) << target;
  }
  const std::vector<std::pair<std::string, std::string>> codes = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"\xFF\xFE\xFD\xFC", "//79/A=="}};
  for (const auto& [in, out] : codes) EXPECT_EQ(diagramkit::base64(in), out);
  const std::vector<std::pair<std::string, std::string>> types = {{"visio/media/a.jpg", "image/jpeg"},
                                                                  {"a.JPEG", "image/jpeg"},
                                                                  {"a.png", "image/png"},
                                                                  {"a.svg", "image/svg+xml"},
                                                                  {"a.tif", "image/tiff"},
                                                                  {"dir.x/noext", "application/octet-stream"}};
  for (const auto& [name, type] : types) EXPECT_EQ(diagramkit::imageMimeType(name), type) << name;
}

TEST(VSDXRenderer, NumbersDoNotFollowTheLocale) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous != nullptr ? previous : "C";
  // scripts/install-deps generates de_DE.UTF-8.
  ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr) << "no de_DE.UTF-8 locale: run scripts/install-deps";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.2f", 0.25);
  const std::string decimal = probe;
  // Read and written: a cell of 0.25 read as 0 or written with a comma both change the path.
  const Rendered r = render(shape(boxCells() + moveTo(0.25, 0) +
                                  "<Section N=\"Geometry\" IX=\"1\"><Row T=\"LineTo\" IX=\"1\">" + cell("X", "0.5") +
                                  cell("Y", "0.25") + "</Row></Section>"));
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(decimal, "0,25");
  EXPECT_NE(r.svg.find("\nM90.0000,612.0000"), std::string::npos) << r.svg;
  EXPECT_NE(r.svg.find("\nL108.000000,594.000000"), std::string::npos) << r.svg;
}

TEST(VSDXRenderer, PangoMeasuresText) {
  const auto m = diagramkit::makePangoTextMeasurer();
  const TextSize one = m->measure("W", "Sans", 12);
  const TextSize two = m->measure("WW", "Sans", 12);
  EXPECT_GT(one.width, 0);
  EXPECT_GT(two.width, one.width * 1.5);
  EXPECT_GT(one.baseline, one.height / 2);  // the ascent is most of a line
  EXPECT_LT(one.baseline, one.height);
  EXPECT_GT(m->measure("W\nW", "Sans", 12).height, one.height * 1.5);
  EXPECT_GT(m->measure("W", "Sans", 24).width, one.width * 1.5);
  EXPECT_GT(m->measure("W", "", 0).width, 0);  // the default font
  EXPECT_EQ(m->measure("W", "Sans", 0).width, 0);
}

TEST(VSDXRenderer, TheFixedNameConvertsThroughTheOwnRenderer) {
  testsupport::TempDir dir;
  // The text would break the page file unescaped; libvisio would not draw the nested text.
  Parts parts = package(shape(boxCells() + "<Text>Tom &amp; Jerry</Text>"));
  const fs::path src = dir / "fixed-diagram.vsdx";
  ASSERT_TRUE(testsupport::writeZip(src, parts));
  const enginetest::Conversion conv = enginetest::convert(src, dir / "out.pdf");
  ASSERT_EQ(conv.events.size(), 3u);
  EXPECT_EQ(conv.events[0].name, VSD_ALL_PAGE_NOTI);
  EXPECT_EQ(conv.events[0].number, 1);
  EXPECT_EQ(conv.events[1].number, 1);
  const auto pdf = enginetest::readPdf(dir / "out.pdf");
  ASSERT_TRUE(pdf.has_value());
  ASSERT_EQ(pdf->size(), 1u);
  EXPECT_NEAR((*pdf)[0].width, 612, 0.5);
  EXPECT_NEAR((*pdf)[0].height, 792, 0.5);
  EXPECT_NE((*pdf)[0].text.find("Tom & Jerry"), std::string::npos) << (*pdf)[0].text;

  // Without a pages part only the end is posted.
  const fs::path broken = dir / "b" / "fixed-diagram.vsdx";
  fs::create_directories(broken.parent_path());
  ASSERT_TRUE(testsupport::writeZip(broken, {{"visio/document.xml", "<VisioDocument/>"}}));
  const enginetest::Conversion failed = enginetest::convert(broken, dir / "b" / "out.pdf");
  ASSERT_EQ(failed.events.size(), 1u);
  EXPECT_EQ(failed.events[0].name, END_VSD_FILE_NOTI);
  EXPECT_FALSE(fs::exists(dir / "b" / "out.pdf"));
}

}  // namespace
