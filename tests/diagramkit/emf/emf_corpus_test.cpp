// Every sample metafile loads and converts to SVG that parses as XML and renders; every
// corrupted sample loads or fails cleanly.
#include <cairo.h>
#include <librsvg/rsvg.h>
#include <libxml/parser.h>

#include <filesystem>
#include <gtest/gtest.h>

#include "emf_test_util.h"

namespace {

std::vector<std::filesystem::path> filesIn(const char* folder) {
  std::vector<std::filesystem::path> out;
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(LECTERN_CORPUS_DIR) / folder))
    if (e.is_regular_file()) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

std::string svgOfFile(const std::filesystem::path& p, bool& loaded) {
  const HENHMETAFILE h = GetEnhMetaFileA(p.c_str());
  loaded = h != 0;
  if (!h) return {};
  const std::string svg = emftest::svgOf(h);
  EXPECT_EQ(DeleteEnhMetaFile(h), 1);
  EXPECT_EQ(DeleteDC(h), 1);
  return svg;
}

void expectWellFormed(const std::string& svg) {
  xmlDocPtr doc = xmlReadMemory(svg.data(), static_cast<int>(svg.size()), "emf.svg", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE);
  EXPECT_NE(doc, nullptr) << "not well-formed XML";
  if (doc) {
    xmlNodePtr root = xmlDocGetRootElement(doc);
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(root->name), "svg");
    xmlFreeDoc(doc);
  }
}

void expectRenders(const std::string& svg) {
  GError* error = nullptr;
  RsvgHandle* handle =
      rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), &error);
  ASSERT_NE(handle, nullptr) << (error ? error->message : "");
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 64, 64);
  cairo_t* cr = cairo_create(surface);
  const RsvgRectangle viewport{0, 0, 64, 64};
  EXPECT_TRUE(rsvg_handle_render_document(handle, cr, &viewport, &error)) << (error ? error->message : "");
  if (error) g_error_free(error);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  g_object_unref(handle);
}

}  // namespace

TEST(EmfCorpus, SamplesConvertToSvgThatParsesAndRenders) {
  const auto files = filesIn("emf");
  ASSERT_FALSE(files.empty());
  for (const auto& f : files) {
    SCOPED_TRACE(f.filename().string());
    bool loaded = false;
    const std::string svg = svgOfFile(f, loaded);
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(svg.starts_with("<svg:svg version=\"1.1\""));
    EXPECT_TRUE(svg.ends_with("</svg:svg>"));
    expectWellFormed(svg);
    expectRenders(svg);
  }
}

TEST(EmfCorpus, CorruptedSamplesLoadOrFailCleanly) {
  const auto files = filesIn("emf-corrupted");
  ASSERT_FALSE(files.empty());
  for (const auto& f : files) {
    SCOPED_TRACE(f.filename().string());
    bool loaded = false;
    const std::string svg = svgOfFile(f, loaded);
    if (loaded) expectWellFormed(svg);
  }
}
