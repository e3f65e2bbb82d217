// Many XPS conversions at once, as when a user opens a batch of packages in one go.
#include <cairo.h>
#include <gtest/gtest.h>
#include <zip.h>

#include <QImage>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <latch>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/cairo_font_lock.h"
#include "platform/foundation/log.h"
#include "platform/pdfkit/PDFDocument.h"
#include "platform/xpskit/XpsKit.h"
#include "support/temp_dir.h"
#include "support/xps_builder.h"
#include "support/xps_convert.h"

using namespace xpskit;

namespace {

using testsupport::convertXps;
using testsupport::XpsEndRecorder;

// What a conversion gave: its ends, and per page the size, text and a small rendering.
struct Result {
  std::vector<int32_t> ends;
  std::vector<QSizeF> sizes;
  std::vector<QString> texts;
  std::vector<QImage> images;
  bool operator==(const Result&) const = default;
};

Result read(std::vector<int32_t> ends, const std::string& out) {
  Result r;
  r.ends = std::move(ends);
  if (!std::filesystem::exists(out)) return r;
  if (auto pdf = pdfkit::PDFDocument::initWithURL(QString::fromStdString(out))) {
    for (int i = 0; i < pdf->pageCount(); ++i) {
      r.sizes.push_back(pdf->pageAtIndex(i)->size());
      r.texts.push_back(pdf->pageAtIndex(i)->string());
      r.images.push_back(pdf->pageAtIndex(i)->render(0.2));
    }
  }
  return r;
}

// The entries of the zip at `path`, in order.
std::vector<std::pair<std::string, std::string>> readZip(const std::string& path) {
  std::vector<std::pair<std::string, std::string>> entries;
  int code = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &code);
  if (!z) return entries;
  for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
    zip_stat_t st;
    zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0);
    if (!f || zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st) != 0) std::abort();
    std::string data(st.size, '\0');
    if (zip_fread(f, data.data(), st.size) != static_cast<zip_int64_t>(st.size)) std::abort();
    zip_fclose(f);
    entries.emplace_back(st.name, std::move(data));
  }
  zip_discard(z);
  return entries;
}

// One page of text in `copies` copies of every font the corpus packages embed, each copy in a
// folder of its own and padded by a length of its own, starting at `padding`.
std::string manyFontsPackage(const std::vector<std::string>& packages, int copies, size_t padding) {
  testsupport::ZipWriter zip;
  std::string glyphs;
  int line = 0;
  for (const auto& package : packages) {
    for (auto& [name, data] : readZip(package)) {
      if (std::filesystem::path(name).extension() != ".odttf") continue;
      for (int c = 0; c < copies; ++c) {
        // The name of an obfuscated font is its key: only the folder changes.
        const std::string part = "Resources/" + std::to_string(c) + "/" + std::filesystem::path(name).filename().string();
        zip.add(part, data + std::string(padding++, '\0'));
        glyphs += "<Glyphs FontUri=\"/" + part + "\" FontRenderingEmSize=\"14\" OriginX=\"20\" OriginY=\"" +
                  std::to_string(20 + 16 * line++) + "\" UnicodeString=\"Lectern 3.1\" Fill=\"#000000\"/>";
      }
    }
  }
  testsupport::addXpsPackage(zip, {{816, 1056,
                                    std::string("<FixedPage xmlns=\"") + testsupport::xpsNamespace() +
                                        "\" Width=\"816\" Height=\"1056\" xml:lang=\"en-US\">" + glyphs + "</FixedPage>"}});
  return zip.bytes();
}

// Another road of the process drawing text through cairo, as the Visio renderer does: while it
// runs it draws a glyph at ever new sizes, so that cairo keeps making scaled fonts and pushing
// the oldest unused ones (XPS fonts among them) out of its cache on this thread. It holds the
// process-wide cairo font lock while it draws, as every such road does.
class OtherCairoTextUser {
 public:
  OtherCairoTextUser() : thread_([this] { run(); }) {}
  ~OtherCairoTextUser() {
    stop_ = true;
    thread_.join();
  }

 private:
  static cairo_status_t square(cairo_scaled_font_t*, unsigned long, cairo_t* cr, cairo_text_extents_t*) {
    cairo_rectangle(cr, 0, 0, 0.5, 0.5);
    cairo_fill(cr);
    return CAIRO_STATUS_SUCCESS;
  }
  void run() {
    std::unique_lock lock(foundation::cairoFontMutex());
    cairo_font_face_t* face = cairo_user_font_face_create();
    cairo_user_font_face_set_render_glyph_func(face, square);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 8);
    lock.unlock();
    for (double size = 1; !stop_; size += 0.01) {
      lock.lock();
      cairo_t* cr = cairo_create(surface);
      cairo_set_font_face(cr, face);
      cairo_set_font_size(cr, size);
      cairo_show_text(cr, "a");
      cairo_destroy(cr);
      lock.unlock();
      std::this_thread::yield();
    }
    lock.lock();
    cairo_surface_destroy(surface);
    cairo_font_face_destroy(face);
  }
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace

// Each round converts, all at once, every corpus package and a few broken ones (each twice) and
// many copies of one package in fonts that no conversion has loaded yet, so that they all load
// the same new fonts at the same moment, while another road draws text through cairo; every
// conversion must give what it gives alone.
TEST(XpsKitConcurrency, ManyConversionsAtOnceGiveWhatEachGivesAlone) {
  constexpr int kRounds = 8;
  constexpr int kCopies = 2;
  constexpr int kFontJobs = 12;
  constexpr int kFontCopies = 3;  // of each corpus font in the package of fonts
  testsupport::TempDir dir;
  foundation::ScopedLogCapture quiet;
  const std::string corpus = std::string(LECTERN_CORPUS_DIR) + "/xps/";
  std::vector<std::string> corpusFiles;
  for (const char* f : {"testPPT.xps", "testXPSWithDataDescriptor.xps", "test_text.xps"}) corpusFiles.push_back(corpus + f);

  std::vector<std::string> inputs = corpusFiles;  // converted in every round
  inputs.push_back(dir.write("not-a-zip.xps", "PK\x03\x04 and no more").string());
  {
    std::ifstream in(corpusFiles[0], std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(in)), {});
    inputs.push_back(dir.write("cut.xps", whole.substr(0, whole.size() / 2)).string());
  }
  const auto badPage = dir / "bad-page.xps";
  ASSERT_TRUE(testsupport::writeXpsPages(
      badPage, {{816, 1056}, {816, 1056, std::string("<FixedPage xmlns=\"") + testsupport::xpsNamespace() + "\""}, {1056, 672}}));
  inputs.push_back(badPage.string());
  const auto streamed = dir / "streamed.xps";
  ASSERT_TRUE(testsupport::writeXpsPages(streamed, {{816, 1056}, {1056, 672}},
                                         testsupport::ZipWriter({.deflated = true, .dataDescriptors = true})));
  inputs.push_back(streamed.string());

  // What each gives alone; the package of fonts gives the same whatever its fonts are padded by.
  std::map<std::string, Result> alone;
  const auto aloneOut = (dir / "alone.pdf").string();
  const auto fontsAlone = dir / "fonts.xps";
  ASSERT_TRUE(testsupport::writeFile(fontsAlone, manyFontsPackage(corpusFiles, kFontCopies, 1)));
  for (const auto& f : inputs) {
    std::filesystem::remove(aloneOut);
    alone[f] = read(convertXps(f, aloneOut), aloneOut);
  }
  std::filesystem::remove(aloneOut);
  const Result fonts = read(convertXps(fontsAlone.string(), aloneOut), aloneOut);
  for (const auto& f : corpusFiles) {
    ASSERT_EQ(alone[f].ends, std::vector<int32_t>{QFXpsConverterEndComplete}) << f;
    ASSERT_FALSE(alone[f].sizes.empty()) << f;
  }
  ASSERT_EQ(alone[badPage.string()].sizes.size(), 3u);
  ASSERT_EQ(fonts.sizes.size(), 1u);
  ASSERT_TRUE(fonts.texts[0].contains("Lectern 3.1"));

  const OtherCairoTextUser otherTextUser;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    const auto roundDir = dir / ("round" + std::to_string(round));
    std::filesystem::create_directories(roundDir);
    const auto freshFonts = roundDir / "fonts.xps";
    ASSERT_TRUE(testsupport::writeFile(
        freshFonts, manyFontsPackage(corpusFiles, kFontCopies, 1000 * (static_cast<size_t>(round) + 1))));
    struct Job {
      std::string source;
      const Result* expected;
      std::string out;
      std::vector<int32_t> ends;
    };
    std::vector<Job> jobs;
    for (int copy = 0; copy < kCopies; ++copy) {
      for (const auto& f : inputs) jobs.push_back({f, &alone[f], {}, {}});
    }
    for (int i = 0; i < kFontJobs; ++i) jobs.push_back({freshFonts.string(), &fonts, {}, {}});
    for (size_t i = 0; i < jobs.size(); ++i) jobs[i].out = (roundDir / ("out" + std::to_string(i) + ".pdf")).string();

    std::latch go(static_cast<std::ptrdiff_t>(jobs.size()));
    std::vector<std::thread> threads;
    for (Job& job : jobs) {
      threads.emplace_back([&go, &job] {
        go.arrive_and_wait();
        job.ends = convertXps(job.source, job.out);
      });
    }
    for (auto& t : threads) t.join();

    for (const Job& job : jobs) {
      SCOPED_TRACE(job.source);
      EXPECT_TRUE(read(job.ends, job.out) == *job.expected);
    }
    for (const auto& entry : std::filesystem::directory_iterator(roundDir))
      EXPECT_EQ(entry.path().filename().string().find(".part-"), std::string::npos) << entry.path();
  }
}

// The kit draws only under the process-wide cairo font lock, so that another road holding it can
// draw text of its own safely.
TEST(XpsKitConcurrency, AConversionWaitsWhileAnotherRoadHoldsTheCairoFontLock) {
  testsupport::TempDir dir;
  const auto src = dir / "two.xps";
  ASSERT_TRUE(testsupport::writeXpsPackage(src, {{816, 1056}, {816, 1056}}));
  auto recorder = std::make_shared<XpsEndRecorder>();
  auto param = QFXpsConverterParam::paramWithFormat(QFXpsConverterFormat::formatWithType(0));
  param->setDelegate(recorder);
  param->setOutPath((dir / "out.pdf").string());
  param->addConverterSource(QFXpsConverterSource::converterSourceWithDocument(QFXpsDocument::documentWithPath(src)));
  auto converter = QFXpsConverter::converterWithParam(param);
  {
    std::lock_guard held(foundation::cairoFontMutex());
    converter->start();
    // Long enough for two small pages many times over.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(recorder->pages, 0);
  }
  converter->wait();
  EXPECT_EQ(recorder->pages, 2);
  std::lock_guard l(recorder->mutex);
  EXPECT_EQ(recorder->ends, std::vector<int32_t>{QFXpsConverterEndComplete});
}
