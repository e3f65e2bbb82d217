#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include <poppler/cpp/poppler-page-renderer.h>

#include "diagramkit/engine/PageFile.h"
#include "engine_test_support.h"
#include "support/temp_dir.h"
#include "support/visio_builder.h"

namespace {

using diagramkit::svgLengthToPoints;

void expectLengths() {
  const std::vector<std::pair<const char*, double>> good = {
      {"8.5000in", 612},   {"11.0000in", 792}, {"612", 612},  {"612pt", 612},       {"100px", 100},
      {"3pc", 36},         {"2.54cm", 72},     {"25.4mm", 72}, {"  1in\n", 72},     {"1e1pt", 10},
      {"29.7cm", 841.8898}};
  for (const auto& [text, points] : good) {
    auto v = svgLengthToPoints(text);
    ASSERT_TRUE(v.has_value()) << text;
    EXPECT_NEAR(*v, points, 1e-3) << text;
  }
  for (const char* bad : {"", "in", "0.0000in", "-1in", "12em", "50%", "8,5in", "8.5 in", "inf", "nan", "1e400in"}) {
    EXPECT_FALSE(svgLengthToPoints(bad).has_value()) << bad;
  }
}

TEST(PageFile, LengthsInEveryUnitBecomePoints) { expectLengths(); }

TEST(PageFile, LengthsAndPageSizesIgnoreTheLocale) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous != nullptr ? previous : "C";
  const char* comma = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8"}) {
    if (std::setlocale(LC_NUMERIC, name) != nullptr) {
      comma = name;
      break;
    }
  }
  testsupport::TempDir locales;
  if (comma == nullptr) {
    // Build one for this test when the system has the locale sources.
    const std::string cmd = "localedef -i de_DE -f UTF-8 '" + (locales / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) == 0) {
      ::setenv("LOCPATH", locales.path().c_str(), 1);
      comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
      ::unsetenv("LOCPATH");
    }
  }
  if (comma == nullptr) GTEST_SKIP() << "no locale with a decimal comma";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 8.5);
  ASSERT_STREQ(probe, "8,5");
  expectLengths();
  testsupport::TempDir dir;
  // Not the default paper, so a size lost to a decimal comma would show.
  const auto src = dir.write("d.vdx", testsupport::vdxDrawing({{5.5, 4.25, "Kestrel"}}));
  const auto conv = enginetest::convert(src, dir / "out.pdf");
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(conv.events.size(), 3u);
  auto pages = enginetest::readPdf(dir / "out.pdf");
  ASSERT_TRUE(pages.has_value());
  ASSERT_EQ(pages->size(), 1u);
  EXPECT_NEAR((*pages)[0].width, 396, 0.01);
  EXPECT_NEAR((*pages)[0].height, 306, 0.01);
  EXPECT_NE((*pages)[0].text.find("Kestrel"), std::string::npos);
}

TEST(PageFile, ReadsTheSizeAndTheSvgElementBack) {
  testsupport::TempDir dir;
  const std::string svg =
      "<svg:svg version=\"1.1\" xmlns:svg=\"http://www.w3.org/2000/svg\" "
      "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"2.0000in\" height=\"1.0000in\" viewBox=\"0 0 144 72\">"
      "<svg:text x=\"10\" y=\"40\">A &amp; B</svg:text></svg:svg>";
  ASSERT_TRUE(diagramkit::writePageFile(dir / "0.svg", svg));
  const std::string file = testsupport::readFile(dir / "0.svg");
  EXPECT_EQ(file, diagramkit::pageFileHead() + svg + diagramkit::pageFileTail());

  auto page = diagramkit::readPageFile(dir / "0.svg");
  ASSERT_TRUE(page.has_value());
  EXPECT_DOUBLE_EQ(page->width.value_or(0), 144);
  EXPECT_DOUBLE_EQ(page->height.value_or(0), 72);
  // A standalone SVG document: its root is the svg element with the namespace declared.
  EXPECT_NE(page->svg.find("<svg:svg"), std::string::npos);
  EXPECT_NE(page->svg.find("xmlns:svg=\"http://www.w3.org/2000/svg\""), std::string::npos);
  EXPECT_EQ(page->svg.find("<html"), std::string::npos);
  EXPECT_NE(page->svg.find("A &amp; B"), std::string::npos);
}

// The page's namespaces declared only by the wrapper around it are declared on the page itself.
TEST(PageFile, ThePageKeepsTheNamespacesOfItsWrapper) {
  testsupport::TempDir dir;
  ASSERT_TRUE(diagramkit::writePageFile(
      dir / "0.svg", "<svg:svg width=\"1in\" height=\"1in\"><svg:a xlink:href=\"#x\"><svg:rect width=\"9\" "
                     "height=\"9\"/></svg:a></svg:svg>"));
  auto page = diagramkit::readPageFile(dir / "0.svg");
  ASSERT_TRUE(page.has_value());
  EXPECT_EQ(page->svg.find("<html"), std::string::npos);
  EXPECT_EQ(page->svg.find("DOCTYPE"), std::string::npos);
  EXPECT_NE(page->svg.find("xmlns:svg=\"http://www.w3.org/2000/svg\""), std::string::npos) << page->svg;
  EXPECT_NE(page->svg.find("xmlns:xlink=\"http://www.w3.org/1999/xlink\""), std::string::npos) << page->svg;
  EXPECT_NE(page->svg.find("xlink:href=\"#x\""), std::string::npos) << page->svg;
}

// However a written page is read, its size is the svg element's and the page is one SVG
// document that a renderer takes.
TEST(PageFile, WrittenPagesReadAsOneSvgDocumentWithTheirSize) {
  struct Case {
    const char* what;
    std::string svg;
    std::optional<double> width, height;
    const char* kept;  // text the page keeps
  };
  const std::string ns = "xmlns:svg=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\"";
  const std::vector<Case> cases = {
      {"as libvisio writes it", "<svg:svg version=\"1.1\" " + ns + " width=\"2.0000in\" height=\"1.0000in\" >"
       "<svg:rect width=\"9\" height=\"9\"/></svg:svg>", 144, 72, "<svg:rect"},
      {"quotes of both kinds, blanks around the equals", "<svg:svg " + ns + " width = '3in' height\n=\"72\">"
       "<svg:g/></svg:svg>\n", 216, 72, "<svg:g/>"},
      {"a value holding a bracket", "<svg:svg " + ns + " data-x=\"a>b\" width=\"1in\" height=\"2in\"><svg:g/></svg:svg>", 72,
       144, "<svg:g/>"},
      {"a size given by an entity", "<svg:svg " + ns + " width=\"1&#105;n\" height=\"1in\"><svg:g/></svg:svg>", 72, 72,
       "<svg:g"},
      {"the namespaces on the wrapper only", "<svg:svg width=\"1in\" height=\"1in\"><svg:a xlink:href=\"#a\"/></svg:svg>",
       72, 72, "xlink:href=\"#a\""},
      {"two svg elements: the first is the page", "<svg:svg " + ns + " width=\"1in\" height=\"1in\"><svg:g id=\"one\"/>"
       "</svg:svg><svg:svg " + ns + " width=\"2in\" height=\"2in\"><svg:g id=\"two\"/></svg:svg>", 72, 72, "one"},
      {"no height", "<svg:svg " + ns + " width=\"1in\"><svg:g/></svg:svg>", std::nullopt, std::nullopt, "<svg:g/>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::TempDir dir;
    ASSERT_TRUE(diagramkit::writePageFile(dir / "0.svg", c.svg));
    for (bool simplified : {false, true}) {
      const auto page = diagramkit::readPageFile(dir / "0.svg", nullptr, simplified);
      ASSERT_TRUE(page.has_value());
      EXPECT_EQ(page->width, c.width);
      if (c.height) {
        EXPECT_EQ(page->height, c.height);
      }
      EXPECT_NE(page->svg.find(c.kept), std::string::npos) << page->svg;
      EXPECT_EQ(page->svg.find("two"), std::string::npos) << page->svg;
      EXPECT_EQ(page->svg.find("<html"), std::string::npos) << page->svg;
      EXPECT_TRUE(diagramkit::renderPageSVG(page->svg, 72, 72, dir / "p.pdf")) << page->svg;
    }
  }
}

TEST(PageFile, MissingSizeAndBrokenFiles) {
  testsupport::TempDir dir;
  ASSERT_TRUE(diagramkit::writePageFile(
      dir / "nosize.svg", "<svg:svg xmlns:svg=\"http://www.w3.org/2000/svg\" width=\"3in\"><svg:g/></svg:svg>"));
  auto page = diagramkit::readPageFile(dir / "nosize.svg");
  ASSERT_TRUE(page.has_value());
  EXPECT_FALSE(page->height.has_value());

  std::string error;
  ASSERT_TRUE(diagramkit::writePageFile(dir / "broken.svg", "<svg:svg xmlns:svg=\"http://www.w3.org/2000/svg\">"));
  EXPECT_FALSE(diagramkit::readPageFile(dir / "broken.svg", &error).has_value());
  EXPECT_FALSE(error.empty());
  // An svg element outside the SVG namespace is not a page.
  ASSERT_TRUE(diagramkit::writePageFile(dir / "foreign.svg", "<svg width=\"1in\" height=\"1in\"/>"));
  EXPECT_FALSE(diagramkit::readPageFile(dir / "foreign.svg").has_value());
  EXPECT_FALSE(diagramkit::readPageFile(dir / "missing.svg").has_value());
  EXPECT_FALSE(attrStrForName(nullptr, "width").has_value());
}

TEST(PageFile, ExternalEntitiesAreNotFetched) {
  testsupport::TempDir dir;
  const auto secret = dir.write("secret.txt", "TOPSECRET");
  const std::string file = "<?xml version=\"1.0\"?>\n<!DOCTYPE html [<!ENTITY x SYSTEM \"file://" + secret.string() +
                           "\">]>\n<html><svg:svg xmlns:svg=\"http://www.w3.org/2000/svg\" width=\"1in\" "
                           "height=\"1in\"><svg:text>&x;</svg:text></svg:svg></html>";
  dir.write("entity.svg", file);
  auto page = diagramkit::readPageFile(dir / "entity.svg");
  ASSERT_TRUE(page.has_value());
  EXPECT_EQ(page->svg.find("TOPSECRET"), std::string::npos);
}

TEST(PageFile, RendersOnePageOfTheGivenSize) {
  testsupport::TempDir dir;
  const std::string svg =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"2in\" height=\"1in\"><rect width=\"10\" height=\"10\"/></svg>";
  ASSERT_TRUE(diagramkit::renderPageSVG(svg, 144, 72, dir / "p.pdf"));
  const std::string pdf = testsupport::readFile(dir / "p.pdf");
  EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);
  std::string error;
  EXPECT_FALSE(diagramkit::renderPageSVG("<svg", 144, 72, dir / "q.pdf", &error));
  EXPECT_FALSE(error.empty());
}

// An uncompressed 24-bit BMP of side x side pixels of one colour (0xRRGGBB), in base64.
std::string bmpBase64(int side, std::uint32_t rgb) {
  const std::uint32_t row = (static_cast<std::uint32_t>(side) * 3 + 3) & ~3u;
  const std::uint32_t pixels = row * static_cast<std::uint32_t>(side);
  std::string bmp = "BM";
  auto put = [&](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) bmp += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  put(54 + pixels, 4), put(0, 4), put(54, 4);
  put(40, 4), put(static_cast<std::uint32_t>(side), 4), put(static_cast<std::uint32_t>(side), 4), put(1, 2), put(24, 2);
  put(0, 4), put(pixels, 4), put(2835, 4), put(2835, 4), put(0, 4), put(0, 4);
  std::string line(row, '\0');
  for (int x = 0; x < side; ++x) {
    line[3 * x] = static_cast<char>(rgb & 0xFF);
    line[3 * x + 1] = static_cast<char>((rgb >> 8) & 0xFF);
    line[3 * x + 2] = static_cast<char>((rgb >> 16) & 0xFF);
  }
  for (int y = 0; y < side; ++y) bmp += line;
  static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bmp.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bmp.size(); i += 3) {
    std::uint32_t v = static_cast<unsigned char>(bmp[i]) << 16;
    if (i + 1 < bmp.size()) v |= static_cast<unsigned char>(bmp[i + 1]) << 8;
    if (i + 2 < bmp.size()) v |= static_cast<unsigned char>(bmp[i + 2]);
    out += digits[(v >> 18) & 63];
    out += digits[(v >> 12) & 63];
    out += i + 1 < bmp.size() ? digits[(v >> 6) & 63] : '=';
    out += i + 2 < bmp.size() ? digits[v & 63] : '=';
  }
  return out;
}

// The red, green and blue of pixel (x, y) of the PDF's first page drawn at 72 dpi on paper of
// colour `paper` (0xRRGGBB), or nothing.
std::vector<int> pagePixel(const std::filesystem::path& pdf, int x, int y, unsigned paper = 0xFFFFFF) {
  std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(pdf.string()));
  if (!doc) return {};
  std::unique_ptr<poppler::page> page(doc->create_page(0));
  if (!page) return {};
  poppler::page_renderer renderer;
  renderer.set_paper_color(0xFF000000u | paper);
  const poppler::image image = renderer.render_page(page.get(), 72, 72);
  if (!image.is_valid() || image.format() != poppler::image::format_argb32) return {};
  const std::uint32_t v = reinterpret_cast<const std::uint32_t*>(image.const_data() + y * image.bytes_per_row())[x];
  return {static_cast<int>((v >> 16) & 0xFF), static_cast<int>((v >> 8) & 0xFF), static_cast<int>(v & 0xFF)};
}

void expectColour(const std::vector<int>& got, const std::vector<int>& want) {
  ASSERT_EQ(got.size(), 3u);
  // Within what resampling rounds.
  for (std::size_t c = 0; c < 3; ++c) EXPECT_NEAR(got[c], want[c], 4) << "channel " << c;
}

TEST(PageFile, APictureOfMoreThanTenMegabytesInlineIsDrawn) {
  testsupport::TempDir dir;
  const std::string data = bmpBase64(1700, 0xFF0000);
  ASSERT_GT(data.size(), 10'000'000u);
  const std::string svg =
      "<svg:svg xmlns:svg=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"72\" "
      "height=\"72\"><svg:image x=\"18\" y=\"18\" width=\"36\" height=\"36\" xlink:href=\"data:image/bmp;base64," +
      data + "\"/></svg:svg>";
  std::string error;
  ASSERT_TRUE(diagramkit::renderPageSVG(svg, 72, 72, dir / "p.pdf", &error)) << error;
  expectColour(pagePixel(dir / "p.pdf", 36, 36), {255, 0, 0});
  expectColour(pagePixel(dir / "p.pdf", 8, 8), {255, 255, 255});
}

TEST(PageFile, ADrawingsSheetIsWhitePaperAPictureKeepsItsTransparency) {
  const std::string svg =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"72\" height=\"72\"><rect width=\"10\" height=\"10\" "
      "fill=\"#0000ff\"/></svg>";
  for (const bool white : {true, false}) {
    SCOPED_TRACE(white ? "white paper" : "transparent");
    testsupport::TempDir dir;
    ASSERT_TRUE(diagramkit::renderPageSVG(svg, 72, 72, dir / "p.pdf", nullptr, white));
    expectColour(pagePixel(dir / "p.pdf", 5, 5, 0x00FF00), {0, 0, 255});
    expectColour(pagePixel(dir / "p.pdf", 40, 40, 0x00FF00), white ? std::vector<int>{255, 255, 255} : std::vector<int>{0, 255, 0});
  }
}

}  // namespace
