#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <string>

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

}  // namespace
