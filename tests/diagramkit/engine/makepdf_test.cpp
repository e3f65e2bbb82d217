#define POINTERHOLDER_TRANSITION 4
#include <cairo-pdf.h>
#include <cairo.h>
#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>

#include <array>
#include <functional>

#include "diagramkit/engine/MakePDF.h"
#include "diagramkit/engine/PageFile.h"
#include "engine_test_support.h"
#include "platform/foundation/log.h"
#include "support/stderr_capture.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// A sheet drawn by `draw` (nothing: an empty sheet).
using Sheet = std::function<void(cairo_t*)>;

void writePdf(const fs::path& path, double w, double h, const std::vector<Sheet>& sheets) {
  cairo_surface_t* s = cairo_pdf_surface_create(path.c_str(), w, h);
  cairo_t* cr = cairo_create(s);
  for (const Sheet& sheet : sheets) {
    if (sheet) sheet(cr);
    cairo_show_page(cr);
  }
  cairo_destroy(cr);
  cairo_surface_finish(s);
  ASSERT_EQ(cairo_surface_status(s), CAIRO_STATUS_SUCCESS);
  cairo_surface_destroy(s);
}

Sheet words(const std::string& text) {
  return [text](cairo_t* cr) {
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 14);
    cairo_move_to(cr, 20, 40);
    cairo_show_text(cr, text.c_str());
  };
}

// Enough distinct vector content to weigh well over the empty-sheet limit.
Sheet busy(const std::string& text) {
  return [text](cairo_t* cr) {
    words(text)(cr);
    unsigned seed = 7;
    for (int i = 0; i < 1500; ++i) {
      seed = seed * 1103515245u + 12345u;
      cairo_line_to(cr, seed % 500, (seed >> 10) % 700);
    }
    cairo_stroke(cr);
  };
}

Sheet linked(const std::string& uri) {
  return [uri](cairo_t* cr) {
    const std::string attrs = "rect=[50 60 100 20] uri='" + uri + "'";
    cairo_tag_begin(cr, CAIRO_TAG_LINK, attrs.c_str());
    words("link")(cr);
    cairo_tag_end(cr, CAIRO_TAG_LINK);
  };
}

TEST(MakePDF, KeepsTheFirstSheetAndDropsLaterEmptyOnes) {
  testsupport::TempDir dir;
  struct Case {
    const char* name;
    std::vector<Sheet> sheets;
    std::vector<std::string> words;  // expected text per output page
  };
  const std::vector<Case> cases = {
      {"empty first sheet", {Sheet()}, {""}},
      {"small first sheet", {words("Alpha")}, {"Alpha"}},
      {"empty second sheet", {words("Alpha"), Sheet()}, {"Alpha"}},
      {"full second sheet", {busy("Alpha"), busy("Beta")}, {"Alpha", "Beta"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writePdf(dir / "printed.pdf", 300, 400, c.sheets);
    PDFContext ctx(dir / "out.pdf");
    ASSERT_TRUE(MakePDF::addToPdf(ctx, dir / "printed.pdf"));
    ASSERT_TRUE(ctx.close());
    auto pages = enginetest::readPdf(dir / "out.pdf");
    ASSERT_TRUE(pages.has_value());
    ASSERT_EQ(pages->size(), c.words.size());
    for (std::size_t i = 0; i < c.words.size(); ++i) {
      EXPECT_NE((*pages)[i].text.find(c.words[i]), std::string::npos);
    }
  }
}

TEST(MakePDF, CopiesPagesAtOnceSoTheScratchFileCanBeRewritten) {
  testsupport::TempDir dir;
  const fs::path scratch = dir / "temp.pdf";
  PDFContext ctx(dir / "out.pdf");
  writePdf(scratch, 200, 300, {busy("First")});
  ASSERT_TRUE(MakePDF::addToPdf(ctx, scratch));
  writePdf(scratch, 500, 100, {words("Second")});
  ASSERT_TRUE(MakePDF::addToPdf(ctx, scratch));
  fs::remove(scratch);
  EXPECT_EQ(ctx.pageCount(), 2);
  ASSERT_TRUE(ctx.close());
  auto pages = enginetest::readPdf(dir / "out.pdf");
  ASSERT_TRUE(pages.has_value());
  ASSERT_EQ(pages->size(), 2u);
  EXPECT_NEAR((*pages)[0].width, 200, 0.01);
  EXPECT_NEAR((*pages)[0].height, 300, 0.01);
  EXPECT_NE((*pages)[0].text.find("First"), std::string::npos);
  EXPECT_NEAR((*pages)[1].width, 500, 0.01);
  EXPECT_NE((*pages)[1].text.find("Second"), std::string::npos);
}

TEST(MakePDF, CarriesUriLinksAtTheirBounds) {
  testsupport::TempDir dir;
  const std::string uri = "https://example.org/lectern?a=1&b=2";
  // A printed sheet with a cairo link (x 50, y 60 from the top, 100 x 20 on a 400 pt page), and
  // a page SVG with a linked rectangle (x 10, y 10, 50 x 20 on a 72 pt page) as the converter
  // renders it.
  writePdf(dir / "cairo.pdf", 300, 400, {linked(uri)});
  ASSERT_TRUE(diagramkit::renderPageSVG(
      "<svg:svg xmlns:svg=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
      "width=\"2in\" height=\"1in\"><svg:a xlink:href=\"https://example.org/lectern?a=1&amp;b=2\">"
      "<svg:rect x=\"10\" y=\"10\" width=\"50\" height=\"20\"/></svg:a></svg:svg>",
      144, 72, dir / "svg.pdf"));
  const std::vector<std::pair<fs::path, std::array<double, 4>>> cases = {
      {dir / "cairo.pdf", {50, 320, 150, 340}},
      {dir / "svg.pdf", {10, 42, 60, 62}},
  };
  for (const auto& [printed, bounds] : cases) {
    SCOPED_TRACE(printed.filename().string());
    PDFContext ctx(dir / "out.pdf");
    ASSERT_TRUE(MakePDF::addToPdf(ctx, printed));
    ASSERT_TRUE(ctx.close());

    QPDF out;
    out.processFile((dir / "out.pdf").c_str());
    std::vector<QPDFObjectHandle> outPages = out.getAllPages();
    ASSERT_EQ(outPages.size(), 1u);
    QPDFObjectHandle annots = outPages[0].getKey("/Annots");
    ASSERT_TRUE(annots.isArray());
    ASSERT_EQ(annots.getArrayNItems(), 1);
    QPDFObjectHandle link = annots.getArrayItem(0);
    EXPECT_TRUE(link.getKey("/Subtype").isNameAndEquals("/Link"));
    EXPECT_EQ(link.getKey("/A").getKey("/URI").getStringValue(), uri);
    std::vector<QPDFObjectHandle> rect = link.getKey("/Rect").getArrayAsVector();
    ASSERT_EQ(rect.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(rect[i].getNumericValue(), bounds[i], 0.5) << i;
  }
}

TEST(MakePDF, UnreadableInputsAndOutputsFailCleanly) {
  testsupport::TempDir dir;
  PDFContext ctx(dir / "out.pdf");
  std::string error;
  EXPECT_FALSE(MakePDF::addToPdf(ctx, dir / "missing.pdf", &error));
  EXPECT_FALSE(error.empty());
  dir.write("junk.pdf", "%PDF-1.4\nthis is not a PDF body\n");
  EXPECT_FALSE(MakePDF::addToPdf(ctx, dir / "junk.pdf"));
  EXPECT_EQ(ctx.pageCount(), 0);

  PDFContext nowhere(dir / "no-such-folder" / "out.pdf");
  writePdf(dir / "printed.pdf", 300, 400, {words("Alpha")});
  ASSERT_TRUE(MakePDF::addToPdf(nowhere, dir / "printed.pdf"));
  EXPECT_FALSE(nowhere.close(&error));
  EXPECT_FALSE(fs::exists(dir / "no-such-folder"));
}

TEST(MakePDF, ChangePDFKeepsTheFirstPages) {
  testsupport::TempDir dir;
  writePdf(dir / "three.pdf", 300, 400, {words("One"), Sheet(), words("Three")});
  for (const auto& [keep, expected] : std::vector<std::pair<int, std::size_t>>{{2, 2}, {10, 3}, {0, 0}}) {
    SCOPED_TRACE(keep);
    ASSERT_TRUE(MakePDF::changePDF(dir / "three.pdf", keep, dir / "out.pdf"));
    auto pages = enginetest::readPdf(dir / "out.pdf");
    ASSERT_TRUE(pages.has_value());
    EXPECT_EQ(pages->size(), expected);
  }
  EXPECT_FALSE(MakePDF::changePDF(dir / "missing.pdf", 1, dir / "out2.pdf"));
  EXPECT_FALSE(fs::exists(dir / "out2.pdf"));
}

TEST(MakePDF, QpdfWarningsOnADamagedSheetGoToTheLogNotToStderr) {
  testsupport::TempDir dir;
  // A printed sheet without its cross-reference table: qpdf rebuilds it, with warnings.
  writePdf(dir / "printed.pdf", 300, 400, {words("Alpha")});
  std::string bytes = testsupport::readFile(dir / "printed.pdf");
  const std::size_t xref = bytes.rfind("\nxref\n"), trailer = bytes.rfind("trailer");
  ASSERT_TRUE(xref != std::string::npos && trailer != std::string::npos && xref < trailer);
  bytes.erase(xref + 1, trailer - xref - 1);
  dir.write("printed.pdf", bytes);
  const std::vector<std::pair<const char*, std::function<bool()>>> roads = {
      {"append", [&] {
         PDFContext ctx(dir / "out.pdf");
         return MakePDF::addToPdf(ctx, dir / "printed.pdf") && ctx.close();
       }},
      {"first pages", [&] { return MakePDF::changePDF(dir / "printed.pdf", 1, dir / "out.pdf"); }},
  };
  for (const auto& [road, write] : roads) {
    SCOPED_TRACE(road);
    fs::remove(dir / "out.pdf");
    foundation::ScopedLogCapture log;
    bool written = false;
    std::string stderrText;
    {
      testsupport::StderrCapture err;
      ASSERT_TRUE(err.active());
      written = write();
      stderrText = err.text();
    }
    EXPECT_TRUE(written);
    EXPECT_EQ(stderrText, "");
    EXPECT_TRUE(log.contains("file is damaged"));
    auto pages = enginetest::readPdf(dir / "out.pdf");
    ASSERT_TRUE(pages.has_value());
    EXPECT_EQ(pages->size(), 1u);
  }
}

}  // namespace
