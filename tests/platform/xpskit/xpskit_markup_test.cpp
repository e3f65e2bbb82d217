// Markup on which libgxps would stop the whole process, found and made safe.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/log.h"
#include "platform/pdfkit/PDFDocument.h"
#include "platform/xpskit/XpsKit.h"
#include "platform/xpskit/XpsMarkup.h"
#include "support/temp_dir.h"
#include "support/xps_builder.h"
#include "support/xps_convert.h"

using namespace xpskit;

TEST(XpsGeometry, GeometryIsCutBeforeACommandLibgxpsDoesNotKnow) {
  struct Case {
    const char* data;
    const char* safe;
  };
  const Case cases[] = {
      {"M 0,0 L 10,0 10,10 Z", "M 0,0 L 10,0 10,10 Z"},
      {"M 0,0 L 10,0 10,10 Z I 5", "M 0,0 L 10,0 10,10 Z "},
      {"I", ""},
      {"M0,0L10,10X", "M0,0L10,10"},
      // libgxps reads an exponent as part of its number.
      {"M 1e2,2E-3 L 3.5e+1,4", "M 1e2,2E-3 L 3.5e+1,4"},
      {"M 0,0 e 4", "M 0,0 "},
      {"m 0,0 h 5 v 5 c 1,1 2,2 3,3 q 1,1 2,2 s 1,1 2,2 a 1,1 0 1 0 2,2 z E", "m 0,0 h 5 v 5 c 1,1 2,2 3,3 q 1,1 2,2 s 1,1 2,2 a 1,1 0 1 0 2,2 z "},
      // The fill rule takes the token after it, whatever it is; the one after that is a command.
      {"F I", "F I"},
      {"F 1 I", "F 1 "},
      // libgxps gives up before it reaches the letter: at a token it cannot read, at a point
      // that lacks its comma, at a sign without digits.
      {"M 0,0 # I", "M 0,0 # I"},
      {"M 0,0 L 1,2 3 I", "M 0,0 L 1,2 3 I"},
      {"M 0,0 C 1,2 X", "M 0,0 C 1,2 X"},
      {"M 0,0 + I", "M 0,0 + I"},
      {"M 1e999,0 I", "M 1e999,0 I"},
      {"{StaticResource G}", "{StaticResource G}"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(safeGeometry(c.data), c.safe) << c.data;
  // libgxps is given a C string: a NUL ends it.
  EXPECT_EQ(safeGeometry(std::string("M 0,0\0 I", 8)), std::string("M 0,0\0 I", 8));
}

TEST(XpsGeometry, BezierPointsAreCutToWholeCurves) {
  struct Case {
    const char* points;
    int perCurve;
    const char* whole;
  };
  for (const Case& c : {Case{"1,1 2,2 3,3", 3, "1,1 2,2 3,3"}, Case{"1,1 2,2 3,3 4,4", 3, "1,1 2,2 3,3"},
                        Case{"1,1  2,2 3,3", 2, "1,1 2,2"}, Case{"1,1 2,2", 2, "1,1 2,2"}, Case{"5,5", 3, ""},
                        Case{"", 3, ""}}) {
    EXPECT_EQ(wholeCurves(c.points, c.perCurve), c.whole) << c.points;
  }
}

namespace {

const std::string kNs = testsupport::xpsNamespace();
const std::string kKey = "xmlns:x=\"http://schemas.microsoft.com/xps/2005/06/resourcedictionary-key\"";

std::string page(const std::string& inner) {
  return "<FixedPage xmlns=\"" + kNs + "\" Width=\"816\" Height=\"1056\" xml:lang=\"en-US\">" + inner + "</FixedPage>";
}
// A red rectangle over the top left of the page, then a letter libgxps knows no command for.
const std::string kStops = "<Path Data=\"M 0,0 L 400,0 400,300 0,300 Z I 5\" Fill=\"#FFFF0000\"/>";

std::string utf16(const std::string& ascii, bool bigEndian) {
  std::string out;
  for (char c : ascii) {
    out += bigEndian ? '\0' : c;
    out += bigEndian ? c : '\0';
  }
  return out;
}

// The page's part written as interleaved pieces, split inside the geometry before " Z".
std::string inPieces(const std::string& markup) {
  testsupport::ZipWriter zip;
  testsupport::addXpsPackage(zip, {{816, 1056, {}, false}});
  const std::string part = "Documents/1/Pages/1.fpage";
  const size_t cut = markup.find(" Z");
  zip.add(part + "/[0].piece", markup.substr(0, cut));
  zip.add(part + "/[1].last.piece", markup.substr(cut));
  return zip.bytes();
}

std::string onePage(const std::string& markup) {
  testsupport::ZipWriter zip;
  testsupport::addXpsPackage(zip, {{816, 1056, markup}});
  return zip.bytes();
}

class XpsMarkupTest : public ::testing::Test {
 protected:
  // Converts as the module does; the end codes.
  std::vector<int32_t> convert(const std::string& source) { return testsupport::convertXps(source, out()); }
  std::string out() const { return (dir / "out.pdf").string(); }

  testsupport::TempDir dir;
};

}  // namespace

// Each of these but the last stops a process that hands the package to libgxps as it is; with the
// last, libgxps reads past the points it was given.
TEST_F(XpsMarkupTest, MarkupLibgxpsCannotReadSafelyIsDrawnFromASafeCopy) {
  const testsupport::TmpdirOverride tmp(dir / "tmp");
  const std::string inResource =
      "<FixedPage.Resources><ResourceDictionary><PathGeometry x:Key=\"G\" " + kKey + " %s/></ResourceDictionary>"
      "</FixedPage.Resources><Path Data=\"{StaticResource G}\" Fill=\"#FFFF0000\"/>";
  auto resource = [&](const std::string& attributes) {
    std::string s = inResource;
    s.replace(s.find("%s"), 2, attributes);
    return page(s);
  };
  struct Case {
    const char* name;
    std::string package;
    bool drawsTheRectangle;
  };
  const Case cases[] = {
      {"path data", onePage(page(kStops)), true},
      {"a character reference", onePage(page("<Path Data=\"M 0,0 L 400,0 400,300 0,300 Z &#73; 5\" Fill=\"#FFFF0000\"/>")), true},
      {"a line end before the letter", onePage(page("<Path Data=\"M 0,0 L 400,0 400,300\n0,300 Z I\" Fill=\"#FFFF0000\"/>")), true},
      {"single quotes, spaces around =", onePage(page("<Path Data = 'M 0,0 L 400,0 400,300 0,300 Z I' Fill='#FFFF0000'/>")), true},
      // What looks like a tag inside these is none: the geometry after them is the page's.
      {"after a comment", onePage(page("<!-- > <x a=\"-->" + kStops)), true},
      {"after CDATA", onePage(page("<![CDATA[ > <x a=\"]]>" + kStops)), true},
      {"after a processing instruction", onePage(page("<?pi > <x a=\"?>" + kStops)), true},
      {"after a DOCTYPE", onePage(page("<!DOCTYPE x [ <!ENTITY e \"> <x a=\"> ]>" + kStops)), true},
      {"a clip", onePage(page("<Canvas Clip=\"M 0,0 L 800,0 800,800 0,800 Z X\"><Path Data=\"M 0,0 L 400,0 400,300 0,300 Z\" "
                              "Fill=\"#FFFF0000\"/></Canvas>")), true},
      {"figures of a geometry", onePage(page("<Path Fill=\"#FFFF0000\"><Path.Data><PathGeometry Figures=\"M 0,0 L 400,0 "
                                             "400,300 0,300 Z X\"/></Path.Data></Path>")), true},
      {"a resource", onePage(resource("Figures=\"M 0,0 L 400,0 400,300 0,300 Z I\"")), true},
      {"a reference a copied resource reads again", onePage(resource("Figures=\"M 0,0 L 400,0 400,300 0,300 Z &amp;#73;\"")), true},
      {"an attribute a copied resource makes of a quote",
       onePage(resource("Transform=\"1,0,0,1,0,0&quot; Figures=&quot;M 0,0 L 400,0 400,300 0,300 Z I\"")), false},
      {"UTF-16, little-endian with a byte order mark", onePage("\xFF\xFE" + utf16(page(kStops), false)), true},
      {"UTF-16, big-endian with a byte order mark", onePage("\xFE\xFF" + utf16(page(kStops), true)), true},
      {"UTF-16 without a byte order mark", onePage(utf16(page(kStops), false)), true},
      {"interleaved pieces", inPieces(page(kStops)), true},
      {"Bézier points that make no whole curve",
       onePage(page("<Path Fill=\"#FFFF0000\"><Path.Data><PathGeometry><PathFigure StartPoint=\"0,0\"><PolyBezierSegment "
                    "Points=\"400,0 400,300 0,300 9,9\"/></PathFigure></PathGeometry></Path.Data></Path>")), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto src = dir.write("page.xps", c.package).string();
    EXPECT_EQ(repairMarkup(src, (dir / "safe.xps").string(), nullptr), MarkupRepair::Repaired);
    std::filesystem::remove(dir / "safe.xps");
    std::filesystem::remove(out());
    foundation::ScopedLogCapture log;
    ASSERT_EQ(convert(src), std::vector<int32_t>{QFXpsConverterEndComplete});
    EXPECT_TRUE(log.contains("cut short"));
    auto pdf = pdfkit::PDFDocument::initWithURL(QString::fromStdString(out()));
    ASSERT_TRUE(pdf);
    ASSERT_EQ(pdf->pageCount(), 1);
    if (c.drawsTheRectangle) {
      const QImage image = pdf->pageAtIndex(0)->render(0.25);
      EXPECT_EQ(image.pixelColor(10, 10), QColor(Qt::red));
    }
  }
  // The safe copies went with their documents.
  EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp"));
}

TEST_F(XpsMarkupTest, PackagesLibgxpsReadsSafelyAreReadAsTheyAre) {
  std::vector<std::string> sources;
  for (const char* f : {"testPPT.xps", "testXPSWithDataDescriptor.xps", "test_text.xps"})
    sources.push_back(std::string(LECTERN_CORPUS_DIR) + "/xps/" + f);
  const std::string markups[] = {
      page("<Path Data=\"M 1e2,0 L 4E2,0 400,3e+2 0,300 Z F 1 M 5,5 h 1 v 1 z\" Fill=\"#FFFF0000\"/>"),
      page("<Path Data=\"{StaticResource Missing}\" Fill=\"#FFFF0000\"/><!-- Data=\"I\" -->"),
      page("<Path Fill=\"#FFFF0000\"><Path.Data><PathGeometry><PathFigure StartPoint=\"0,0\"><PolyBezierSegment "
           "Points=\"1,1 2,2 3,3\"/><PolyQuadraticBezierSegment Points=\"1,1 2,2\"/></PathFigure></PathGeometry>"
           "</Path.Data></Path>"),
      page("<FixedPage.Resources><ResourceDictionary><PathGeometry x:Key=\"G\" " + kKey +
           " Figures=\"M 0,0 L 9,9 Z\"/></ResourceDictionary></FixedPage.Resources>"),
  };
  for (size_t i = 0; i < std::size(markups); ++i) sources.push_back(dir.write("safe" + std::to_string(i) + ".xps", onePage(markups[i])).string());
  for (const auto& src : sources) {
    SCOPED_TRACE(src);
    const auto copy = dir / "copy.xps";
    EXPECT_EQ(repairMarkup(src, copy.string(), nullptr), MarkupRepair::NotNeeded);
    EXPECT_FALSE(std::filesystem::exists(copy));
  }
}

TEST_F(XpsMarkupTest, APackageTooLargeToBeMadeSafeFailsAndLeavesNothing) {
  const auto src = dir.write("page.xps", onePage(page(kStops + std::string(4096, ' '))));
  const auto copy = dir / "copy.xps";
  std::string why;
  EXPECT_EQ(repairMarkup(src.string(), copy.string(), &why, 2048), MarkupRepair::Failed);
  EXPECT_NE(why.find("too large"), std::string::npos) << why;
  EXPECT_FALSE(std::filesystem::exists(copy));
  EXPECT_EQ(repairMarkup(src.string(), copy.string(), &why), MarkupRepair::Repaired);
}
