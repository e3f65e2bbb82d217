// DiagramKit draws and measures text through cairo only under the process-wide cairo font
// lock, so that Visio drawings and XPS documents convert safely at the same time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <latch>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "diagramkit/engine/TextMeasurer.h"
#include "engine_test_support.h"
#include "platform/foundation/cairo_font_lock.h"
#include "platform/foundation/log.h"
#include "platform/xpskit/XpsKit.h"
#include "support/temp_dir.h"
#include "support/visio_builder.h"
#include "support/xps_convert.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Long enough for a small page or a measure many times over.
constexpr auto kHeld = 300ms;

TEST(CairoFonts, APageWaitsWhileAnotherRoadHoldsTheLock) {
  testsupport::TempDir dir;
  const fs::path src = dir.write("d.vdx", testsupport::vdxDrawing({{8.5, 11, "Kestrel"}}));
  const fs::path out = dir / "out.pdf";
  bool drawnWhileHeld = true;
  const enginetest::Conversion conv = enginetest::convert(src, out, [&](const enginetest::Conversion& c) {
    std::lock_guard held(foundation::cairoFontMutex());
    foundation::Dispatcher::drainMain();  // hands the page to the render thread
    std::this_thread::sleep_for(kHeld);
    drawnWhileHeld = fs::exists(c.workFolder / "temp.pdf") || fs::exists(out);
  });
  EXPECT_FALSE(drawnWhileHeld);
  const auto pages = enginetest::readPdf(out);
  ASSERT_TRUE(pages.has_value());
  ASSERT_EQ(pages->size(), 1u);
  EXPECT_NE((*pages)[0].text.find("Kestrel"), std::string::npos);
}

TEST(CairoFonts, AMeasureWaitsWhileAnotherRoadHoldsTheLock) {
  const auto measurer = diagramkit::makePangoTextMeasurer();
  std::atomic<bool> measured{false};
  std::thread t;
  {
    std::lock_guard held(foundation::cairoFontMutex());
    t = std::thread([&] {
      measurer->measure("Kestrel", "Sans", 11);
      measured = true;
    });
    std::this_thread::sleep_for(kHeld);
    EXPECT_FALSE(measured);
  }
  t.join();
  EXPECT_TRUE(measured);
}

// What one Visio conversion gave: its pages' sizes and texts.
using Pages = std::vector<std::pair<double, std::string>>;

Pages pagesOf(const fs::path& pdf) {
  Pages out;
  if (const auto pages = enginetest::readPdf(pdf))
    for (const auto& p : *pages) out.emplace_back(p.width, p.text);
  return out;
}

using testsupport::convertXps;

// A VDX page of texts in 40 sizes from `first` points up, so that its fonts come and go from
// cairo's caches.
std::string manySizes(double first) {
  std::string shapes;
  for (int i = 0; i < 40; ++i) {
    const std::string id = std::to_string(i + 1);
    shapes += "<Shape ID=\"" + id + "\" Type=\"Shape\"><XForm><PinX>" + testsupport::visioNumber(1 + (i % 5) * 1.5) +
              "</PinX><PinY>" + testsupport::visioNumber(1 + (i / 5) * 1.2) +
              "</PinY><Width>1.4</Width><Height>1</Height><LocPinX>0.7</LocPinX><LocPinY>0.5</LocPinY></XForm>"
              "<Char IX=\"0\"><Size>" + testsupport::visioNumber((first + 0.13 * i) / 72) + "</Size></Char><Text>Lectern " +
              id + "</Text></Shape>";
  }
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<VisioDocument xmlns=\"http://schemas.microsoft.com/visio/2003/core\">"
         "<Pages><Page ID=\"0\" NameU=\"P\" Name=\"P\"><PageSheet><PageProps><PageWidth>8.5</PageWidth><PageHeight>11"
         "</PageHeight></PageProps></PageSheet><Shapes>" + shapes + "</Shapes></Page></Pages></VisioDocument>\n";
}

// Each round converts, all at once, Visio drawings with text (libvisio's and the own renderer's,
// a page of texts in sizes no round drew before) and the corpus XPS documents,
// while another thread measures text; every conversion must give what it gives alone.
TEST(CairoFonts, VisioAndXpsConvertAtOnceAndGiveWhatEachGivesAlone) {
  constexpr int kRounds = 3;
  constexpr int kVisioCopies = 2;
  constexpr int kXpsCopies = 2;
  foundation::ScopedLogCapture quiet;
  testsupport::TempDir dir;
  const fs::path corpus(LECTERN_CORPUS_DIR);
  std::vector<fs::path> visio;
  for (const char* f : {"Visio11FormatLine.vsd", "fdo86729-utf8.vsd", "Visio6TextFieldsWithUnits.vsd"})
    visio.push_back(corpus / "visio" / f);
  fs::create_directories(dir / "own");
  ASSERT_TRUE(testsupport::writeVsdx(dir / "own" / "fixed-diagram.vsdx", {{8.5, 11, "Heron"}, {11, 8.5, "Egret"}}));
  visio.push_back(dir / "own" / "fixed-diagram.vsdx");
  std::vector<std::string> xps;
  for (const char* f : {"testPPT.xps", "testXPSWithDataDescriptor.xps"}) xps.push_back((corpus / "xps" / f).string());

  std::map<fs::path, Pages> alone;
  for (const fs::path& f : visio) {
    enginetest::convert(f, dir / "alone.pdf");
    alone[f] = pagesOf(dir / "alone.pdf");
    ASSERT_FALSE(alone[f].empty()) << f;
    fs::remove(dir / "alone.pdf");
  }
  std::map<std::string, Pages> xpsAlone;
  for (const std::string& f : xps) {
    ASSERT_EQ(convertXps(f, (dir / "alone.pdf").string()), std::vector<int32_t>{xpskit::QFXpsConverterEndComplete}) << f;
    xpsAlone[f] = pagesOf(dir / "alone.pdf");
    ASSERT_FALSE(xpsAlone[f].empty()) << f;
    fs::remove(dir / "alone.pdf");
  }

  std::atomic<bool> stop{false};
  std::thread measuring([&] {
    const auto measurer = diagramkit::makePangoTextMeasurer();
    for (double size = 1; !stop; size += 0.25) {
      measurer->measure("Lectern", "Sans", size);
      std::this_thread::yield();
    }
  });
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    const fs::path roundDir = dir / ("round" + std::to_string(round));
    fs::create_directories(roundDir);
    std::vector<fs::path> sources;
    for (int copy = 0; copy < kVisioCopies; ++copy) sources.insert(sources.end(), visio.begin(), visio.end());
    sources.push_back(roundDir / "sizes.vdx");
    dir.write(sources.back().lexically_relative(dir.path()).string(), manySizes(6 + 0.037 * round));
    struct VisioJob {
      fs::path src, out;
      int tag = 0;
      std::atomic<bool> ended{false};
      foundation::ObserverToken token;
    };
    std::vector<VisioJob> jobs(sources.size());
    auto& center = foundation::NotificationCenter::defaultCenter();
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      VisioJob& j = jobs[i];
      j.src = sources[i];
      j.out = roundDir / ("visio" + std::to_string(i) + ".pdf");
      j.token = center.addObserver(END_VSD_FILE_NOTI, &j.tag, [&j](const foundation::Notification&) { j.ended = true; });
    }
    struct XpsJob {
      std::string src, out;
      std::vector<int32_t> ends;
    };
    std::vector<XpsJob> xpsJobs;
    for (int copy = 0; copy < kXpsCopies; ++copy)
      for (const std::string& f : xps)
        xpsJobs.push_back({f, (roundDir / ("xps" + std::to_string(xpsJobs.size()) + ".pdf")).string(), {}});

    foundation::Dispatcher::drainMain();
    std::latch go(static_cast<std::ptrdiff_t>(jobs.size() + xpsJobs.size()));
    std::vector<std::thread> threads;
    for (VisioJob& j : jobs) {
      threads.emplace_back([&go, &j] {
        go.arrive_and_wait();
        SVG2PDF::initWithSrc(j.src, j.out, &j.tag)->createPDF();
      });
    }
    for (XpsJob& j : xpsJobs) {
      threads.emplace_back([&go, &j] {
        go.arrive_and_wait();
        j.ends = convertXps(j.src, j.out);
      });
    }
    foundation::Dispatcher::runMainUntil(
        [&] {
          for (const VisioJob& j : jobs)
            if (!j.ended) return false;
          return true;
        },
        std::chrono::seconds(120));
    for (std::thread& t : threads) t.join();
    foundation::Dispatcher::drainMain();

    for (std::size_t i = 0; i < jobs.size(); ++i) {
      SCOPED_TRACE(jobs[i].src.string());
      EXPECT_TRUE(jobs[i].ended);
      const Pages pages = pagesOf(jobs[i].out);
      if (i + 1 < jobs.size()) {
        EXPECT_EQ(pages, alone[jobs[i].src]);
      } else {
        ASSERT_EQ(pages.size(), 1u);
        for (int n = 1; n <= 40; ++n) EXPECT_NE(pages[0].second.find("Lectern " + std::to_string(n)), std::string::npos) << n;
      }
    }
    for (const XpsJob& j : xpsJobs) {
      SCOPED_TRACE(j.src);
      EXPECT_EQ(j.ends, std::vector<int32_t>{xpskit::QFXpsConverterEndComplete});
      EXPECT_EQ(pagesOf(j.out), xpsAlone[j.src]);
    }
  }
  stop = true;
  measuring.join();
}

}  // namespace
