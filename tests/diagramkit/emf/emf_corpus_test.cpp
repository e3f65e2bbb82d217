// Every sample metafile loads and converts to SVG that parses as XML and renders; every
// corrupted sample loads or fails cleanly.
#include <cairo.h>
#include <librsvg/rsvg.h>
#include <libxml/parser.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <utility>
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

// Ink pixels of the SVG drawn on a canvas three times its size, with its view box in the
// middle: (inside the view box, all).
std::pair<long, long> inkInsideAndAll(const std::string& svg) {
  GError* error = nullptr;
  RsvgHandle* handle = rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), &error);
  if (error) g_error_free(error);
  if (!handle) return {0, 0};
  gdouble w = 0;
  gdouble h = 0;
  rsvg_handle_get_intrinsic_size_in_pixels(handle, &w, &h);
  // Drawn at most 200 pixels on its longer side.
  const double scale = 200.0 / std::max({w, h, 1.0});
  const int cw = static_cast<int>(w * scale) + 1;
  const int ch = static_cast<int>(h * scale) + 1;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 3 * cw, 3 * ch);
  cairo_t* cr = cairo_create(surface);
  // The outermost svg element does not clip: what lies outside its box lands on the margin.
  const RsvgRectangle viewport{static_cast<double>(cw), static_cast<double>(ch), w * scale, h * scale};
  rsvg_handle_render_document(handle, cr, &viewport, nullptr);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  long inside = 0;
  long all = 0;
  for (int y = 0; y < 3 * ch; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
    for (int x = 0; x < 3 * cw; ++x) {
      if ((row[x] >> 24) == 0) continue;
      ++all;
      if (x >= cw && x < 2 * cw && y >= ch && y < 2 * ch) ++inside;
    }
  }
  cairo_surface_destroy(surface);
  g_object_unref(handle);
  return {inside, all};
}

}  // namespace

// The drawing lies in its own view box, where other EMF viewers show it.
TEST(EmfCorpus, TheInkLiesInsideTheViewBox) {
  int drawn = 0;
  for (const auto& f : filesIn("emf")) {
    SCOPED_TRACE(f.filename().string());
    bool loaded = false;
    const auto [inside, all] = inkInsideAndAll(svgOfFile(f, loaded));
    if (all == 0) continue;  // drawn only with records the writer does not render
    ++drawn;
    EXPECT_GE(static_cast<double>(inside), 0.9 * static_cast<double>(all)) << inside << " of " << all;
  }
  EXPECT_GT(drawn, 20);
}

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
