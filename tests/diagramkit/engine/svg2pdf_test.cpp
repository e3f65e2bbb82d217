#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <functional>
#include <regex>
#include <thread>

#include "engine_test_support.h"
#include "support/temp_dir.h"
#include "support/visio_builder.h"

namespace {

using enginetest::Conversion;
using testsupport::VisioPage;
namespace fs = std::filesystem;

enum class Kind { Vdx, Vsdx, VdxStencil };

struct DrawingCase {
  const char* name;
  Kind kind;
  std::vector<VisioPage> pages;
  // Expected output: one (width, height) in points per page, and the word to find on it ("" for none).
  std::vector<std::tuple<double, double, std::string>> expected;
};

fs::path writeDrawing(const testsupport::TempDir& dir, const DrawingCase& c) {
  if (c.kind == Kind::Vsdx) {
    fs::path p = dir / "drawing.vsdx";
    EXPECT_TRUE(testsupport::writeVsdx(p, c.pages));
    return p;
  }
  return dir.write("drawing.vdx", testsupport::vdxDrawing(c.pages, c.kind == Kind::VdxStencil));
}

// Every announced page reported on the main thread, then the end there.
void expectPageEvents(const Conversion& conv, int pages) {
  ASSERT_EQ(conv.events.size(), static_cast<std::size_t>(pages) + 2);
  EXPECT_EQ(conv.events[0].name, VSD_ALL_PAGE_NOTI);
  EXPECT_EQ(conv.events[0].number, pages);
  EXPECT_EQ(conv.events[0].thread, conv.worker);
  for (int i = 1; i <= pages; ++i) {
    EXPECT_EQ(conv.events[i].name, END_VSD_PAGE_NOTI);
    EXPECT_EQ(conv.events[i].number, i);
    EXPECT_EQ(conv.events[i].thread, std::this_thread::get_id());
  }
  EXPECT_EQ(conv.events.back().name, END_VSD_FILE_NOTI);
  EXPECT_EQ(conv.events.back().thread, std::this_thread::get_id());
}

TEST(SVG2PDF, ConvertsEveryPageAtItsSizeWithItsText) {
  const std::vector<DrawingCase> cases = {
      {"one page VDX", Kind::Vdx, {{8.5, 11, "Kestrel"}}, {{612, 792, "Kestrel"}}},
      {"two pages VDX",
       Kind::Vdx,
       {{8.5, 11, "Kestrel"}, {11, 8.5, "Osprey"}},
       {{612, 792, "Kestrel"}, {792, 612, "Osprey"}}},
      {"two pages VSDX",
       Kind::Vsdx,
       {{8.5, 11, "Kestrel"}, {23.3858, 16.5354, "Osprey"}},
       {{612, 792, "Kestrel"}, {1683.7776, 1190.5488, "Osprey"}}},
      // A page without a size keeps the paper of the page before it.
      {"page without size VDX",
       Kind::Vdx,
       {{11, 8.5, "Kestrel"}, {std::nullopt, std::nullopt, "Osprey"}},
       {{792, 612, "Kestrel"}, {792, 612, ""}}},
      {"first page without size VSDX", Kind::Vsdx, {{std::nullopt, std::nullopt, "Kestrel"}}, {{612, 792, ""}}},
      {"escaped text", Kind::Vdx, {{8.5, 11, "Fish &amp; Chips"}}, {{612, 792, "Fish & Chips"}}},
      // A stencil has no pages: its masters are drawn instead.
      {"stencil", Kind::VdxStencil, {{5, 4, "Heron"}}, {{360, 288, "Heron"}}},
  };
  for (const DrawingCase& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir;
    const fs::path out = dir / "out.pdf";
    const Conversion conv = enginetest::convert(writeDrawing(dir, c), out);
    expectPageEvents(conv, static_cast<int>(c.expected.size()));
    ASSERT_FALSE(conv.workFolder.empty());
    EXPECT_FALSE(fs::exists(conv.workFolder)) << "work folder left behind";
    auto pages = enginetest::readPdf(out);
    ASSERT_TRUE(pages.has_value());
    ASSERT_EQ(pages->size(), c.expected.size());
    for (std::size_t i = 0; i < pages->size(); ++i) {
      const auto& [w, h, word] = c.expected[i];
      EXPECT_NEAR((*pages)[i].width, w, 0.01) << "page " << i;
      EXPECT_NEAR((*pages)[i].height, h, 0.01) << "page " << i;
      if (!word.empty()) {
        EXPECT_NE((*pages)[i].text.find(word), std::string::npos) << (*pages)[i].text;
      }
    }
  }
}

TEST(SVG2PDF, DrawingThatCannotBeLoadedPostsOnlyTheEndOnTheCallingThread) {
  testsupport::TempDir dir;
  const std::string vsd = testsupport::readFile(fs::path(LECTERN_CORPUS_DIR) / "visio" / "bitmaps.vsd");
  ASSERT_GT(vsd.size(), 4096u);
  const std::vector<std::pair<const char*, fs::path>> cases = {
      {"not a drawing", dir.write("letter.vsd", "Dear reader,\nthis is plain text.\n")},
      {"truncated VSD", dir.write("cut.vsd", vsd.substr(0, vsd.size() / 2))},
      {"empty file", dir.write("empty.vdx", "")},
      {"VDX without pages", dir.write("nopages.vdx", testsupport::vdxDrawing({}))},
      {"missing file", dir / "nowhere.vsd"},
  };
  for (const auto& [name, src] : cases) {
    SCOPED_TRACE(name);
    const fs::path out = dir / "out.pdf";
    const Conversion conv = enginetest::convert(src, out);
    ASSERT_EQ(conv.events.size(), 1u);
    EXPECT_EQ(conv.events[0].name, END_VSD_FILE_NOTI);
    EXPECT_EQ(conv.events[0].thread, conv.worker);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(conv.workFolder));
  }
}

TEST(SVG2PDF, APageThatFailsEndsTheConversionWithoutReportingIt) {
  testsupport::TempDir dir;
  const fs::path src = dir.write("d.vdx", testsupport::vdxDrawing({{8.5, 11, "Kestrel"}, {8.5, 11, "Osprey"}}));
  struct Case {
    const char* name;
    fs::path out;
    std::function<void(const Conversion&)> afterLoad;
  };
  const std::vector<Case> cases = {
      {"output cannot be written", dir / "missing-folder" / "out.pdf", {}},
      {"page file lost", dir / "out.pdf", [](const Conversion& c) { fs::remove(c.workFolder / "1.svg"); }},
      {"page file damaged", dir / "out.pdf",
       [](const Conversion& c) { std::ofstream(c.workFolder / "1.svg") << "<html><body><svg:svg"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Conversion conv = enginetest::convert(src, c.out, c.afterLoad);
    // The count is announced, page 1 is done, page 2 never is: the caller sees a failure.
    ASSERT_EQ(conv.events.size(), 3u);
    EXPECT_EQ(conv.events[0].number, 2);
    EXPECT_EQ(conv.events[1].name, END_VSD_PAGE_NOTI);
    EXPECT_EQ(conv.events[1].number, 1);
    EXPECT_EQ(conv.events[2].name, END_VSD_FILE_NOTI);
    EXPECT_EQ(conv.events[2].thread, std::this_thread::get_id());
    EXPECT_FALSE(fs::exists(c.out));
    EXPECT_FALSE(fs::exists(conv.workFolder));
  }
  EXPECT_FALSE(fs::exists(dir / "missing-folder"));
}

TEST(SVG2PDF, WorkFoldersArePrivateAndBelongToOneConversion) {
  testsupport::TempDir dir;
  const fs::path src = dir.write("same name.vdx", testsupport::vdxDrawing({{8.5, 11, "Kestrel"}}));
  auto first = SVG2PDF::initWithSrc(src, dir / "a.pdf", nullptr);
  auto second = SVG2PDF::initWithSrc(src, dir / "b.pdf", nullptr);
  const fs::path a = first->tempPath();
  const fs::path b = second->tempPath();
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  EXPECT_NE(a, b);
  EXPECT_EQ(a.parent_path(), b.parent_path());
  EXPECT_EQ(a.filename().string().rfind("same_name-", 0), 0u) << a;
  for (const fs::path& p : {a, a.parent_path()}) {
    struct stat st {};
    ASSERT_EQ(::lstat(p.c_str(), &st), 0) << p;
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, ::getuid());
    EXPECT_EQ(st.st_mode & 077, 0u) << p;
  }
  // A converter that is dropped unstarted removes its own folder and nobody else's.
  first.reset();
  EXPECT_FALSE(fs::exists(a));
  EXPECT_TRUE(fs::is_directory(b));
  second.reset();
  EXPECT_FALSE(fs::exists(b));
}

TEST(SVG2PDF, PageCountAndSupportTest) {
  testsupport::TempDir dir;
  const fs::path two = dir.write("two.vdx", testsupport::vdxDrawing({{8.5, 11, "A"}, {8.5, 11, "B"}}));
  const fs::path text = dir.write("text.vsd", "plain text");
  EXPECT_TRUE(isSupport(two));
  EXPECT_EQ(getVSDFilePageNum(two), 2);
  EXPECT_FALSE(isSupport(text));
  EXPECT_EQ(getVSDFilePageNum(text), 0);
  EXPECT_FALSE(isSupport(dir / "missing.vsd"));
  EXPECT_EQ(getVSDFilePageNum(dir / "missing.vsd"), 0);
}

// Every stream of a PDF that inflates, one after the other.
std::string inflatedStreams(const std::string& pdf) {
  std::string out;
  for (std::size_t at = pdf.find("stream"); at != std::string::npos; at = pdf.find("stream", at + 6)) {
    std::size_t data = at + 6;
    if (pdf.compare(data, 2, "\r\n") == 0) data += 2; else if (pdf.compare(data, 1, "\n") == 0) data += 1; else continue;
    const std::size_t end = pdf.find("endstream", data);
    if (end == std::string::npos) break;
    z_stream z{};
    if (inflateInit(&z) != Z_OK) continue;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(pdf.data() + data));
    z.avail_in = static_cast<uInt>(end - data);
    char buf[65536];
    int rc = Z_OK;
    while (rc == Z_OK) {
      z.next_out = reinterpret_cast<Bytef*>(buf);
      z.avail_out = sizeof buf;
      rc = inflate(&z, Z_NO_FLUSH);
      out.append(buf, sizeof buf - z.avail_out);
    }
    inflateEnd(&z);
    out += "\n";
  }
  return out;
}

// A VDX page at 1:`scale` with one line of `weight` inches in line pattern `pattern`.
std::string dashedLine(double scale, double weight, int pattern) {
  const std::string n = testsupport::visioNumber(scale);
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<VisioDocument xmlns=\"http://schemas.microsoft.com/visio/2003/core\">"
         "<Pages><Page ID=\"0\" NameU=\"P\" Name=\"P\"><PageSheet><PageProps><PageWidth>" + testsupport::visioNumber(8.5 * scale) +
         "</PageWidth><PageHeight>" + testsupport::visioNumber(11 * scale) + "</PageHeight><PageScale>1</PageScale>"
         "<DrawingScale>" + n + "</DrawingScale></PageProps></PageSheet><Shapes><Shape ID=\"1\" Type=\"Shape\"><XForm>"
         "<PinX>" + testsupport::visioNumber(4 * scale) + "</PinX><PinY>" + testsupport::visioNumber(5 * scale) + "</PinY><Width>" +
         testsupport::visioNumber(6 * scale) + "</Width><Height>0</Height><LocPinX>" + testsupport::visioNumber(3 * scale) +
         "</LocPinX><LocPinY>0</LocPinY><Angle>0</Angle></XForm><Line><LineWeight>" + testsupport::visioNumber(weight) +
         "</LineWeight><LinePattern>" + std::to_string(pattern) + "</LinePattern></Line><Geom IX=\"0\"><NoFill>1</NoFill>"
         "<MoveTo IX=\"1\"><X>0</X><Y>0</Y></MoveTo><LineTo IX=\"2\"><X>" + testsupport::visioNumber(6 * scale) +
         "</X><Y>0</Y></LineTo></Geom></Shape></Shapes></Page></Pages></VisioDocument>\n";
}

// A floor plan's hairline grid at 1:50 (0.018 pt lines, 0.036 pt dashes) prints solid; dashes
// that can be seen stay dashes.
TEST(SVG2PDF, DashesTooFineToSeePrintSolid) {
  struct Case {
    const char* what;
    double scale, weight;
    int pattern;
    bool dashed;
  };
  const std::vector<Case> cases = {
      {"hairline grid at 1:50", 50, 0.0125, 23, false},
      {"dashed line at 1:1", 1, 0.01, 23, true},
  };
  const std::regex dash(R"(\[\s*[0-9.]+[^\]]*\]\s*[-0-9.]+\s+d\b)");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::TempDir dir;
    const fs::path out = dir / "out.pdf";
    expectPageEvents(enginetest::convert(dir.write("d.vdx", dashedLine(c.scale, c.weight, c.pattern)), out), 1);
    const std::string contents = inflatedStreams(testsupport::readFile(out));
    ASSERT_NE(contents.find(" S"), std::string::npos) << "no stroke drawn";
    EXPECT_EQ(std::regex_search(contents, dash), c.dashed) << contents;
  }
}

}  // namespace

namespace {

// Two loads convert at the same time, as two documents opened together do: each gets its own
// pages, its own reports and its own output.
TEST(SVG2PDF, TwoConversionsAtOnceKeepToThemselves) {
  testsupport::TempDir dir;
  struct Job {
    fs::path src, out;
    int tag = 0;
    std::atomic<int> announced{-1}, done{0};
    std::atomic<bool> ended{false};
  };
  Job jobs[2];
  jobs[0].src = dir.write("a.vdx", testsupport::vdxDrawing({{8.5, 11, "Kestrel"}, {11, 8.5, "Osprey"}}));
  jobs[1].src = writeDrawing(dir, {"b", Kind::Vsdx, {{5, 4, "Heron"}, {4, 5, "Egret"}, {6, 3, "Plover"}}, {}});
  jobs[0].out = dir / "a.pdf";
  jobs[1].out = dir / "b.pdf";
  auto& center = foundation::NotificationCenter::defaultCenter();
  std::vector<foundation::ObserverToken> tokens;
  for (Job& j : jobs) {
    tokens.push_back(center.addObserver(VSD_ALL_PAGE_NOTI, &j.tag, [&j](const foundation::Notification& n) {
      j.announced = *n.value<int>(VSD_ALL_PAGE_NUM);
    }));
    tokens.push_back(center.addObserver(END_VSD_PAGE_NOTI, &j.tag, [&j](const foundation::Notification& n) {
      j.done = *n.value<int>(END_VSD_PAGE_NUM);
    }));
    tokens.push_back(center.addObserver(END_VSD_FILE_NOTI, &j.tag, [&j](const foundation::Notification&) {
      j.ended = true;
    }));
  }
  foundation::Dispatcher::drainMain();
  std::vector<std::thread> loads;
  for (Job& j : jobs) loads.emplace_back([&j] { SVG2PDF::initWithSrc(j.src, j.out, &j.tag)->createPDF(); });
  for (std::thread& t : loads) t.join();
  foundation::Dispatcher::runMainUntil([&] { return jobs[0].ended && jobs[1].ended; }, std::chrono::seconds(60));
  const std::vector<std::vector<std::pair<double, std::string>>> expected = {
      {{612, "Kestrel"}, {792, "Osprey"}}, {{360, "Heron"}, {288, "Egret"}, {432, "Plover"}}};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const Job& j = jobs[i];
    EXPECT_TRUE(j.ended);
    EXPECT_EQ(j.announced, static_cast<int>(expected[i].size()));
    EXPECT_EQ(j.done, j.announced);
    auto pages = enginetest::readPdf(j.out);
    ASSERT_TRUE(pages.has_value());
    ASSERT_EQ(pages->size(), expected[i].size());
    for (std::size_t p = 0; p < pages->size(); ++p) {
      EXPECT_NEAR((*pages)[p].width, expected[i][p].first, 0.01) << "page " << p;
      EXPECT_NE((*pages)[p].text.find(expected[i][p].second), std::string::npos) << "page " << p;
    }
  }
}

}  // namespace

// A page is rendered while the main queue is left alone; only its report waits for the queue.
TEST(SVG2PDF, PagesRenderOffTheMainQueue) {
  testsupport::TempDir dir;
  const fs::path src = dir.write("one.vdx", testsupport::vdxDrawing({{8.5, 11.0, "Heron"}}));
  const fs::path out = dir / "out.pdf";
  bool renderedWhileMainWaited = false;
  std::size_t eventsMeanwhile = 0;
  const Conversion conv = enginetest::convert(src, out, [&](const Conversion& c) {
    foundation::Dispatcher::drainMain();  // hands page 0 to the render thread
    for (int i = 0; i < 3000 && !fs::exists(out); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    renderedWhileMainWaited = fs::exists(out);
    eventsMeanwhile = c.events.size();
  });
  EXPECT_TRUE(renderedWhileMainWaited);
  EXPECT_EQ(eventsMeanwhile, 1u);  // the page count only
  expectPageEvents(conv, 1);
}

namespace {

// Each line of a text block, wrapped or broken, is read from the PDF as words of its own: the
// renderer's own road (the fixed name) and libvisio's (its paragraphs, a line separator inside
// a span, spans with blanks at their ends).
TEST(SVG2PDF, TheLinesOfATextBlockAreReadAsSeparateWords) {
  const std::string separator = "\xE2\x80\xA8";
  auto vsdxText = [](const std::string& width, const std::string& characters, const std::string& text) {
    auto parts = testsupport::vsdxParts({VisioPage{}});
    for (auto& [name, content] : parts) {
      if (name != "visio/pages/page1.xml") continue;
      content = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PageContents ") + testsupport::detail::kVsdxNs +
                "><Shapes><Shape ID=\"1\" Type=\"Shape\"><Cell N=\"PinX\" V=\"3\"/><Cell N=\"PinY\" V=\"5\"/>"
                "<Cell N=\"Width\" V=\"" + width + "\"/><Cell N=\"Height\" V=\"1\"/><Cell N=\"LocPinX\" V=\"1\"/>"
                "<Cell N=\"LocPinY\" V=\"0.5\"/>" + characters + "<Text>" + text + "</Text></Shape></Shapes></PageContents>";
    }
    return parts;
  };
  const std::string runs =
      "<Section N=\"Character\"><Row IX=\"0\"><Cell N=\"Style\" V=\"0\"/></Row>"
      "<Row IX=\"1\"><Cell N=\"Style\" V=\"1\"/></Row><Row IX=\"2\"><Cell N=\"Style\" V=\"0\"/></Row></Section>";
  struct Case {
    const char* name;
    std::string file;
    std::vector<std::pair<std::string, std::string>> parts;  // a package; none: `vdx`
    std::string vdx;
    std::vector<std::string> words;
  };
  const std::vector<Case> cases = {
      {"own renderer: a wrapped line, a line feed and a line separator", "fixed-diagram.vsdx",
       vsdxText("1.8", "", "Kommissionierungs Beleg alpha\nbeta" + separator + "gamma"), "",
       {"Kommissionierungs", "Beleg", "alpha", "beta", "gamma"}},
      {"libvisio, VSDX: paragraphs, a line separator and spans", "drawing.vsdx",
       vsdxText("2", runs,
                "<cp IX=\"0\"/>Beleg <cp IX=\"1\"/>fett<cp IX=\"2\"/> alpha\nKommissionierungs" + separator + "beta"),
       "", {"Kommissionierungs", "Beleg", "fett", "alpha", "beta"}},
      {"libvisio, VDX: paragraphs and a line separator", "drawing.vdx", {},
       testsupport::vdxDrawing({VisioPage{8.5, 11.0, "Kommissionierungs\nBeleg alpha" + separator + "beta"}}),
       {"Kommissionierungs", "Beleg", "alpha", "beta"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir;
    const fs::path src = c.parts.empty() ? dir.write(c.file, c.vdx) : dir / c.file;
    if (!c.parts.empty()) {
      ASSERT_TRUE(testsupport::writeZip(src, c.parts));
    }
    const Conversion conv = enginetest::convert(src, dir / "out.pdf");
    ASSERT_EQ(conv.events.size(), 3u);
    std::vector<std::string> words = enginetest::pdfWords(dir / "out.pdf");
    std::vector<std::string> expected = c.words;
    std::sort(words.begin(), words.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(words, expected);
  }
}

// The middle, in points from the top, of the words pdftotext reads on page `page` (1-based).
double wordsMiddle(const fs::path& pdf, int page) {
  const std::string html = enginetest::commandOutput("pdftotext -bbox -f " + std::to_string(page) + " -l " +
                                                     std::to_string(page) + " " + enginetest::shellQuoted(pdf) +
                                                     " - 2>/dev/null");
  static const std::regex word(R"re(<word [^>]*yMin="([0-9.]+)"[^>]*yMax="([0-9.]+)")re");
  double top = 1e9, bottom = -1e9;
  for (auto it = std::sregex_iterator(html.begin(), html.end(), word); it != std::sregex_iterator(); ++it) {
    top = std::min(top, std::stod((*it)[1]));
    bottom = std::max(bottom, std::stod((*it)[2]));
  }
  return bottom >= top ? (top + bottom) / 2 : std::nan("");
}

TEST(SVG2PDF, ACentredTextBlockStaysCentredOnItsBoxAsItsLinesGrow) {
  testsupport::TempDir dir;
  // The same box and font on every page. The last text ends in an empty paragraph (libvisio
  // drops one closing line feed of a VDX text, and keeps the one a VSDX text ends with).
  const std::vector<std::string> texts = {"alpha", "alpha\nbeta\ngamma", "alpha\n\n"};
  std::vector<VisioPage> pages;
  for (const std::string& t : texts) pages.push_back(VisioPage{8.5, 11.0, t});
  const fs::path src = dir.write("drawing.vdx", testsupport::vdxDrawing(pages));
  const Conversion conv = enginetest::convert(src, dir / "out.pdf");
  ASSERT_EQ(conv.events.size(), texts.size() + 2);
  const double one = wordsMiddle(dir / "out.pdf", 1);
  ASSERT_FALSE(std::isnan(one));
  for (std::size_t i = 1; i < texts.size(); ++i) {
    // A line is about 14 points; the block's middle moves by less than a quarter of it.
    EXPECT_NEAR(wordsMiddle(dir / "out.pdf", static_cast<int>(i) + 1), one, 3.5) << texts[i];
  }
}

}  // namespace
