#include "platform/djvukit/DjvuKit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <QColor>
#include <QImage>

#include <atomic>
#include <cstdarg>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/djvukit/PdfWriter.h"
#include "platform/pdfkit/PDFDocument.h"
#include "support/djvu_fixture.h"
#include "support/pdf_text.h"
#include "support/temp_dir.h"

using namespace djvukit;

namespace {

// Everything the converter says, as one line of events.
struct Recorder : DjvuKitDelegate {
  std::mutex mutex;
  std::vector<std::string> events;
  std::string reason;
  std::promise<void> ended;
  void add(std::string e) {
    std::lock_guard l(mutex);
    events.push_back(std::move(e));
  }
  void getAllPageNum(int32_t n) override { add("count " + std::to_string(n)); }
  void getCurrentPageNum(int32_t k) override { add("page " + std::to_string(k)); }
  void endDjVuPageNoti() override {
    add("end");
    ended.set_value();
  }
  void sendErrorInfo(const std::string& r) override {
    reason = r;
    add("error");
    ended.set_value();
  }
};

class DjvuKitTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory(dir / "work"); }
  std::shared_ptr<Recorder> convert(const std::string& source) {
    auto recorder = std::make_shared<Recorder>();
    auto kit = DjvuKit::create();
    kit->setDelegate(recorder);
    EXPECT_TRUE(kit->DjvuToPDFSrc(source, out()));
    EXPECT_FALSE(kit->DjvuToPDFSrc(source, out()));  // one conversion per converter
    kit->wait();
    return recorder;
  }
  std::string out() const { return (dir / "out.pdf").string(); }
  // No output and no temporary file beside it.
  bool onlyInputsLeft(size_t inputs) const {
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file() ? 1 : 0;
    return !std::filesystem::exists(out()) && files == inputs;
  }
  std::string threePages() {
    const auto path = (dir / "three.djvu").string();
    EXPECT_TRUE(testsupport::writeDjvu(path, dir / "work",
                                       {{false, 850, 1100, 100, {"lantern", "quartz"}},
                                        {true, 600, 400, 75, {"meadow"}},
                                        {false, 2550, 3300, 300, {}}}));
    return path;
  }
  testsupport::TempDir dir;
};

}  // namespace

TEST_F(DjvuKitTest, PagesKeepTheirSizeImageAndWords) {
  auto r = convert(threePages());
  EXPECT_EQ(r->events, (std::vector<std::string>{"count 3", "page 1", "page 2", "page 3", "end"})) << r->reason;
  auto pdf = pdfkit::PDFDocument::initWithURL(QString::fromStdString(out()));
  ASSERT_TRUE(pdf);
  ASSERT_EQ(pdf->pageCount(), 3);
  // Width / dpi x 72 points.
  EXPECT_EQ(pdf->pageAtIndex(0)->size(), QSizeF(612, 792));
  EXPECT_EQ(pdf->pageAtIndex(1)->size(), QSizeF(576, 384));
  EXPECT_EQ(pdf->pageAtIndex(2)->size(), QSizeF(612, 792));

  // A bitonal page keeps black on white, a colour page its colour: the block is top left.
  const QImage bitonal = pdf->pageAtIndex(0)->render(0.25);
  EXPECT_LT(bitonal.pixelColor(bitonal.width() / 8, bitonal.height() / 8).lightness(), 5);
  EXPECT_GT(bitonal.pixelColor(bitonal.width() * 7 / 8, bitonal.height() * 7 / 8).lightness(), 250);
  const QImage colour = pdf->pageAtIndex(1)->render(0.25);
  const QColor block = colour.pixelColor(colour.width() / 8, colour.height() / 8);
  EXPECT_GT(block.blue(), 150);
  EXPECT_LT(block.red(), 80);
  EXPECT_GT(colour.pixelColor(colour.width() * 7 / 8, colour.height() * 7 / 8).lightness(), 250);

  // The hidden text is found where the DjVu puts it.
  const auto lantern = pdf->findString(QStringLiteral("lantern"));
  ASSERT_EQ(lantern.size(), 1);
  EXPECT_EQ(lantern[0].page(), pdf->pageAtIndex(0));
  EXPECT_NEAR(lantern[0].bounds().left(), 20 * 0.72, 2);
  EXPECT_NEAR(lantern[0].bounds().right(), 195 * 0.72, 2);
  EXPECT_EQ(pdf->findString(QStringLiteral("quartz")).size(), 1);
  ASSERT_EQ(pdf->findString(QStringLiteral("meadow")).size(), 1);
  EXPECT_EQ(pdf->findString(QStringLiteral("meadow"))[0].page(), pdf->pageAtIndex(1));
  EXPECT_TRUE(pdf->pageAtIndex(2)->string().trimmed().isEmpty());
}

TEST_F(DjvuKitTest, RotatedPageKeepsItsWordsOnTheImage) {
  const auto src = (dir / "turned.djvu").string();
  ASSERT_TRUE(testsupport::writeDjvu(src, dir / "work", {{false, 850, 1100, 100, {"lantern"}, 1}}));
  auto r = convert(src);
  ASSERT_EQ(r->events.back(), "end") << r->reason;
  auto pdf = pdfkit::PDFDocument::initWithURL(QString::fromStdString(out()));
  ASSERT_TRUE(pdf);
  // A quarter turn counter-clockwise is 270 degrees clockwise; the page is drawn upright.
  EXPECT_EQ(pdf->pageAtIndex(0)->fileRotation(), 270);
  EXPECT_EQ(pdf->pageAtIndex(0)->size(), QSizeF(792, 612));
  EXPECT_EQ(pdf->findString(QStringLiteral("lantern")).size(), 1);
  // The black block sits in the bottom left corner once the page is turned.
  const QImage image = pdf->pageAtIndex(0)->render(0.25);
  EXPECT_LT(image.pixelColor(image.width() / 8, image.height() * 7 / 8).lightness(), 5);
  EXPECT_GT(image.pixelColor(image.width() * 7 / 8, image.height() / 8).lightness(), 250);
}

TEST_F(DjvuKitTest, IndirectDocumentWithoutItsPagesFailsWithTheReason) {
  auto r = convert(std::string(LECTERN_CORPUS_DIR) + "/djvu/testDJVU.djvu");
  ASSERT_FALSE(r->events.empty());
  EXPECT_EQ(r->events.back(), "error");
  EXPECT_EQ(std::count(r->events.begin(), r->events.end(), "error"), 1);
  EXPECT_EQ(std::count(r->events.begin(), r->events.end(), "end"), 0);
  EXPECT_NE(r->reason.find("page0001.djvu"), std::string::npos) << r->reason;
  EXPECT_TRUE(onlyInputsLeft(0));
}

// The page files of an indirect document are read only when they are files beside it: not
// through a name reaching out of its folder, not a FIFO (which would never end the conversion).
TEST_F(DjvuKitTest, IndirectDocumentReadsOnlyFilesBesideIt) {
  const auto folder = dir / "doc";
  std::filesystem::create_directories(folder);
  ASSERT_TRUE(testsupport::writeDjvu(folder / "p0.djvu", dir / "work", {{false, 64, 48, 100, {"lantern"}}}));
  std::filesystem::copy_file(folder / "p0.djvu", folder / "p1.djvu");
  std::filesystem::copy_file(folder / "p0.djvu", dir / "outside.djvu");
  ASSERT_EQ(::mkfifo((folder / "fifo.djvu").c_str(), 0600), 0);
  struct Case {
    const char* name;
    std::string second;  // the second page's file
    bool opens;
  };
  const std::vector<Case> cases = {
      {"files beside it", "p1.djvu", true},
      {"a name out of its folder", "../outside.djvu", false},
      {"a path", (dir / "outside.djvu").string(), false},
      {"a FIFO", "fifo.djvu", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto index = folder / "index.djvu";
    ASSERT_TRUE(testsupport::writeIndirectIndex(index, dir / "work", {"p0.djvu", c.second}));
    auto recorder = std::make_shared<Recorder>();
    auto ended = recorder->ended.get_future();
    auto kit = DjvuKit::create();
    kit->setDelegate(recorder);
    kit->DjvuToPDFSrc(index.string(), out());
    if (ended.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
      // Stuck reading the FIFO: a writer that closes at once lets it go.
      ADD_FAILURE() << "the conversion does not end";
      std::ofstream(folder / "fifo.djvu").close();
    }
    kit->wait();
    if (c.opens) {
      EXPECT_EQ(recorder->events.back(), "end") << recorder->reason;
    } else {
      EXPECT_EQ(recorder->events.back(), "error");
      EXPECT_NE(recorder->reason.find(c.second), std::string::npos) << recorder->reason;
      EXPECT_FALSE(std::filesystem::exists(out()));
    }
    std::filesystem::remove(out());
  }
}

TEST_F(DjvuKitTest, CorruptInputSendsTheErrorAndLeavesNothing) {
  const std::string good = threePages();
  std::string bytes;
  {
    std::ifstream in(good, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  struct Case {
    const char* name;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"truncated.djvu", bytes.substr(0, bytes.size() / 3)},
      {"header-only.djvu", bytes.substr(0, 16)},
      {"text.djvu", "this is no DjVu document"},
      {"empty.djvu", ""},
  };
  std::filesystem::remove(good);
  for (const Case& c : cases) std::ofstream(dir / c.name, std::ios::binary) << c.bytes;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = convert((dir / c.name).string());
    ASSERT_FALSE(r->events.empty());
    EXPECT_EQ(r->events.back(), "error");
    EXPECT_EQ(std::count(r->events.begin(), r->events.end(), "end"), 0);
    EXPECT_FALSE(r->reason.empty());
    EXPECT_TRUE(onlyInputsLeft(cases.size()));
  }
  auto r = convert((dir / "missing.djvu").string());
  EXPECT_EQ(r->events, std::vector<std::string>{"error"});
}

// A file that could not be opened (cut short while it was copied, say) opens once it is whole,
// in the same process.
TEST_F(DjvuKitTest, FileThatFailedOpensOnceItIsWhole) {
  const std::string good = threePages();
  std::string bytes;
  {
    std::ifstream in(good, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  const auto path = dir / "copying.djvu";
  for (size_t cut : {size_t{0}, size_t{4}, size_t{16}, size_t{48}}) {
    SCOPED_TRACE(cut);
    std::ofstream(path, std::ios::binary) << bytes.substr(0, cut);
    EXPECT_EQ(convert(path.string())->events.back(), "error");
    // Replaced the way a download or a copy ends: a new file renamed over the old one.
    std::ofstream(dir / "whole.tmp", std::ios::binary) << bytes;
    std::filesystem::rename(dir / "whole.tmp", path);
    auto r = convert(path.string());
    EXPECT_EQ(r->events.back(), "end") << r->reason;
  }
}

TEST_F(DjvuKitTest, ConverterReleasedFromItsOwnEndCallback) {
  struct Releasing : Recorder {
    std::shared_ptr<DjvuKit> held;
    void endDjVuPageNoti() override {
      held.reset();
      Recorder::endDjVuPageNoti();
    }
  };
  const std::string src = threePages();
  auto delegate = std::make_shared<Releasing>();
  delegate->held = DjvuKit::create();
  std::weak_ptr<DjvuKit> weak = delegate->held;
  delegate->held->setDelegate(delegate);
  auto ended = delegate->ended.get_future();
  delegate->held->DjvuToPDFSrc(src, out());
  ended.wait();
  for (int i = 0; i < 200 && !weak.expired(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(delegate->events.back(), "end");
}

namespace {

std::string fileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What a command prints, run through the shell (QProcess's way of starting a process is one
// ThreadSanitizer cannot follow).
QString toolOutput(const std::string& command, const std::filesystem::path& scratch) {
  if (std::system((command + " >" + testsupport::quoted(scratch) + " 2>/dev/null").c_str()) != 0) return {};
  return QString::fromStdString(fileBytes(scratch));
}

QStringList whitespaceWords(const QString& text) { return text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts); }

// A word as pdftotext -bbox writes it, without its XML escapes.
QString plain(QString word) {
  for (auto [from, to] : {std::pair{"&apos;", "'"}, {"&quot;", "\""}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}})
    word.replace(QLatin1String(from), QLatin1String(to));
  return word;
}

size_t occurrences(const std::string& haystack, const std::string& needle) {
  size_t n = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
  return n;
}

}  // namespace

// Hidden text where several words share one box (a word zone holding several words, word zones
// with one box) or where boxes touch: each word comes out on its own, in the document's order,
// as many words as djvutxt reads.
TEST_F(DjvuKitTest, HiddenTextReadsAsTheDocumentsWordsInOrder) {
  struct Case {
    const char* name;
    const char* text;  // on an 850 x 1100 page at 100 dpi
    // A box that its words share (pixels, left and right), or none.
    int sharedLeft, sharedRight;
  };
  const std::vector<Case> cases = {
      {"a word zone holding several words",
       R"((page 0 0 850 1100 (line 50 900 800 940 (word 50 900 400 940 "the zone's displacement") (word 420 900 600 940 "moved"))))",
       50, 400},
      {"word zones with one box",
       R"((page 0 0 850 1100 (line 50 900 800 940 (word 50 900 100 940 "it") (word 120 900 300 940 "is") (word 120 900 300 940 "YES") (word 320 900 400 940 "now"))))",
       120, 300},
      {"touching and overlapping boxes",
       R"((page 0 0 850 1100 (line 50 900 800 940 (word 50 900 120 940 "the") (word 120 900 260 940 "zone's") (word 250 900 500 940 "displacement"))))",
       0, 0},
      {"lines without word zones",
       R"((page 0 0 850 1100 (line 50 900 410 940 "first line of text") (line 50 840 410 880 "and the second one")))", 50, 410},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto src = dir / "text.djvu";
    testsupport::DjvuPageSpec page;
    page.text = c.text;
    ASSERT_TRUE(testsupport::writeDjvu(src, dir / "work", {page}));
    auto r = convert(src.string());
    ASSERT_EQ(r->events.back(), "end") << r->reason;
    const auto scratch = dir / "work" / "printed.txt";
    const QStringList expected = whitespaceWords(toolOutput("djvutxt " + testsupport::quoted(src), scratch));
    ASSERT_FALSE(expected.isEmpty());
    const std::string pdf = testsupport::quoted(out());
    EXPECT_EQ(whitespaceWords(toolOutput("pdftotext " + pdf + " -", scratch)), expected);

    // The words of one line lie side by side, none over another; words sharing a box fill it,
    // each as wide as its share of the characters.
    const auto layout = testsupport::parsePdfLayout(toolOutput("pdftotext -bbox " + pdf + " -", scratch));
    ASSERT_EQ(layout.words.size(), static_cast<size_t>(expected.size()));
    for (size_t i = 1; i < layout.words.size(); ++i) {
      const auto& a = layout.words[i - 1].box;
      const auto& b = layout.words[i].box;
      if (std::abs(a.top() - b.top()) < 1) {
        EXPECT_LT(a.right(), b.left() + 0.01) << layout.words[i].text.toStdString();
      }
    }
    if (c.sharedRight) {
      std::vector<testsupport::PdfWord> shared;
      for (const auto& w : layout.words)
        if (w.box.left() > c.sharedLeft * 0.72 - 0.5 && w.box.right() < c.sharedRight * 0.72 + 0.5 && std::abs(w.box.top() - layout.words[0].box.top()) < 1)
          shared.push_back(w);
      ASSERT_GE(shared.size(), 2u);
      EXPECT_NEAR(shared.front().box.left(), c.sharedLeft * 0.72, 0.5);
      EXPECT_NEAR(shared.back().box.right(), c.sharedRight * 0.72, 0.5);
      const double perChar = shared[0].box.width() / plain(shared[0].text).size();
      for (const auto& w : shared) EXPECT_NEAR(w.box.width() / plain(w.text).size(), perChar, 0.05 * perChar) << w.text.toStdString();
    }
  }
}

// A page whose hidden text says it holds no characters (which makes djvulibre write through a
// null pointer) is converted without its text; the other pages keep theirs.
TEST_F(DjvuKitTest, PageWhoseTextCannotBeReadIsConvertedWithoutIt) {
  const auto work = dir / "work";
  ASSERT_TRUE(testsupport::writeDjvu(dir / "first.djvu", work,
                                     {{false, 600, 800, 100, {"lantern"}}, {false, 600, 800, 100, {}}, {false, 600, 800, 100, {"quartz"}}}));
  // The middle page gets a text chunk of no characters.
  std::string page = fileBytes(work / "page1.djvu");
  ASSERT_EQ(page.substr(0, 8), "AT&TFORM");
  if (page.size() % 2) page += '\0';
  page += std::string("TXTa\0\0\0\3\0\0\0\0", 12);
  const size_t form = page.size() - 12;
  for (int i = 0; i < 4; ++i) page[static_cast<size_t>(8 + i)] = static_cast<char>(form >> (24 - 8 * i));
  std::ofstream(work / "page1.djvu", std::ios::binary) << page;
  const auto src = dir / "damaged.djvu";
  ASSERT_EQ(std::system(("djvm -c " + testsupport::quoted(src) + " " + testsupport::quoted(work / "page0.djvu") + " " +
                         testsupport::quoted(work / "page1.djvu") + " " + testsupport::quoted(work / "page2.djvu"))
                            .c_str()),
            0);
  auto r = convert(src.string());
  ASSERT_EQ(r->events.back(), "end") << r->reason;
  auto pdf = pdfkit::PDFDocument::initWithURL(QString::fromStdString(out()));
  ASSERT_TRUE(pdf);
  EXPECT_EQ(pdf->pageCount(), 3);
  for (const char* word : {"lantern", "quartz"}) EXPECT_EQ(pdf->findString(QString::fromLatin1(word)).size(), 1) << word;
}

// Pages are rendered and encoded a band of rows at a time; each keeps its picture and colour
// kind: grey where nothing has colour, colour however late on the page the colour comes.
TEST_F(DjvuKitTest, PagesKeepTheirPictureAndColourKind) {
  auto at = [](const QImage& image, double x, double y) { return image.pixelColor(int(image.width() * x), int(image.height() * y)); };
  struct Case {
    const char* name;
    testsupport::DjvuPageSpec page;
    const char* kind;  // the image's colour space and filter in the PDF
    QColor block, rest;  // at the middle of the block's quarter and of the opposite one
  };
  auto spec = [](bool colour, int w, int h, int dpi, std::string foreground, bool bottom) {
    testsupport::DjvuPageSpec p;
    p.colour = colour;
    p.width = w;
    p.height = h;
    p.dpi = dpi;
    p.foreground = std::move(foreground);
    p.blockAtBottom = bottom;
    return p;
  };
  const char* jpegGrey = "/ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /DCTDecode";
  const char* jpegColour = "/ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode";
  const std::vector<Case> cases = {
      {"bitonal, several bands", spec(false, 2550, 3300, 300, "", true), "/Filter /CCITTFaxDecode", Qt::black, Qt::white},
      {"colour", spec(true, 1700, 2600, 200, "", true), jpegColour, QColor(0x20, 0x40, 0xC0), Qt::white},
      {"grey background, black shapes", spec(false, 1700, 2600, 200, "#000000", true), jpegGrey, Qt::black, QColor(0xC0, 0xC0, 0xC0)},
      {"grey background, red shapes in a later band", spec(false, 1700, 2600, 200, "#ff0000", true), jpegColour, Qt::red,
       QColor(0xC0, 0xC0, 0xC0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto src = dir / "page.djvu";
    ASSERT_TRUE(testsupport::writeDjvu(src, dir / "work", {c.page}));
    auto r = convert(src.string());
    ASSERT_EQ(r->events.back(), "end") << r->reason;
    EXPECT_EQ(occurrences(fileBytes(out()), c.kind), 1u);
    auto pdf = pdfkit::PDFDocument::initWithURL(QString::fromStdString(out()));
    ASSERT_TRUE(pdf);
    const QImage image = pdf->pageAtIndex(0)->render(0.25);
    for (auto [colour, x, y] : {std::tuple{c.block, 0.75, 0.75}, {c.rest, 0.25, 0.25}, {c.rest, 0.25, 0.9}, {c.block, 0.75, 0.55}}) {
      const QColor seen = at(image, x, y);
      EXPECT_NEAR(seen.red(), colour.red(), 24) << x << "," << y;
      EXPECT_NEAR(seen.green(), colour.green(), 24) << x << "," << y;
      EXPECT_NEAR(seen.blue(), colour.blue(), 24) << x << "," << y;
    }
  }
}

// Several conversions at once, in processes of their own so that the decoder's first use in
// the process is among what they do together; every one must succeed, launch after launch. Each
// launch is one chance for that first use to go wrong (unlocked, about one launch in fifteen
// failed a valid document or crashed).
TEST_F(DjvuKitTest, ConversionsAtOnceInFreshProcessesAllSucceed) {
  std::vector<testsupport::DjvuPageSpec> pages = {{false, 850, 1100, 100, {"lantern", "quartz"}},
                                                  {true, 600, 400, 75, {"meadow"}}};
  const auto bundled = dir / "bundled.djvu", single = dir / "single.djvu", indirect = dir / "indirect" / "index.djvu";
  ASSERT_TRUE(testsupport::writeDjvu(bundled, dir / "work", pages));
  ASSERT_TRUE(testsupport::writeDjvu(single, dir / "work", {pages[1]}));
  ASSERT_TRUE(testsupport::writeIndirectDjvu(dir / "indirect", "index.djvu", dir / "work", pages));
  struct Input {
    std::filesystem::path path;
    int pages;
  };
  std::vector<Input> inputs;
  for (int copy = 0; copy < 4; ++copy) {
    for (const auto& [path, count] : {std::pair{bundled, 2}, {single, 1}}) {
      const auto name = dir / (path.stem().string() + std::to_string(copy) + ".djvu");
      std::filesystem::copy_file(path, name);
      inputs.push_back({name, count});
    }
  }
  inputs.push_back({indirect, 2});
  inputs.push_back({indirect, 2});
  const auto outDir = dir / "outputs";
  std::filesystem::create_directory(outDir);
  std::string command = std::string("'") + LECTERN_DJVU_STRESS + "' 1 " + testsupport::quoted(outDir);
  for (const Input& in : inputs) command += " " + testsupport::quoted(in.path);
  const auto errors = dir / "errors.txt";
  command += " 2>" + testsupport::quoted(errors);
  for (int launch = 0; launch < 48; ++launch) {
    SCOPED_TRACE(launch);
    ASSERT_EQ(std::system(command.c_str()), 0) << fileBytes(errors);
  }
  for (size_t k = 0; k < inputs.size(); ++k) {
    auto pdf = pdfkit::PDFDocument::initWithURL(QString::fromStdString((outDir / (std::to_string(k) + ".pdf")).string()));
    ASSERT_TRUE(pdf) << k;
    EXPECT_EQ(pdf->pageCount(), inputs[k].pages) << k;
    EXPECT_EQ(pdf->findString(QStringLiteral("meadow")).size(), 1) << k;
  }
}

// Converters of the application running at once, each reporting its own document.
TEST_F(DjvuKitTest, ConvertersAtOnceEachReportTheirOwnDocument) {
  const int kinds = 3;
  std::vector<std::string> sources;
  for (int k = 0; k < kinds; ++k) {
    std::vector<testsupport::DjvuPageSpec> pages(static_cast<size_t>(k + 1), {k % 2 == 1, 600, 800, 100, {"word" + std::to_string(k)}});
    const auto src = dir / ("doc" + std::to_string(k) + ".djvu");
    ASSERT_TRUE(testsupport::writeDjvu(src, dir / "work", pages));
    sources.push_back(src.string());
  }
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    std::vector<std::shared_ptr<Recorder>> recorders;
    std::vector<std::shared_ptr<DjvuKit>> kits;
    for (int i = 0; i < 2 * kinds; ++i) {
      recorders.push_back(std::make_shared<Recorder>());
      kits.push_back(DjvuKit::create());
      kits.back()->setDelegate(recorders.back());
      ASSERT_TRUE(kits.back()->DjvuToPDFSrc(sources[static_cast<size_t>(i % kinds)], (dir / ("out" + std::to_string(i) + ".pdf")).string()));
    }
    for (auto& kit : kits) kit->wait();
    for (int i = 0; i < 2 * kinds; ++i) {
      const int pages = i % kinds + 1;
      std::vector<std::string> expected = {"count " + std::to_string(pages)};
      for (int p = 1; p <= pages; ++p) expected.push_back("page " + std::to_string(p));
      expected.push_back("end");
      EXPECT_EQ(recorders[static_cast<size_t>(i)]->events, expected) << i << ": " << recorders[static_cast<size_t>(i)]->reason;
      auto pdf = pdfkit::PDFDocument::initWithURL(QString::fromStdString((dir / ("out" + std::to_string(i) + ".pdf")).string()));
      ASSERT_TRUE(pdf);
      EXPECT_EQ(pdf->findString(QString::fromStdString("word" + std::to_string(i % kinds))).size(), pages);
    }
  }
}

namespace {

// libtiff's process-wide handlers, which another library may set for a while.
std::atomic<int> processWideReports{0};
void countReport(const char*, const char*, va_list) { ++processWideReports; }

}  // namespace

// The CCITT encoder's libtiff errors come back to it, whatever libtiff's process-wide handlers
// are at the time; they never reach those handlers.
TEST(CcittG4EncoderTest, LibtiffErrorsReachTheEncoderNotTheProcessWideHandlers) {
  const TIFFErrorHandler oldError = TIFFSetErrorHandler(countReport);
  const TIFFErrorHandler oldWarning = TIFFSetWarningHandler(countReport);
  processWideReports = 0;
  CcittG4Encoder rejected;
  const bool started = rejected.start(8, 0);  // libtiff takes no strip of no rows
  CcittG4Encoder fine;
  const unsigned char rows[2] = {0xF0, 0x0F};
  std::string code;
  const bool encoded = fine.start(8, 2) && fine.addRows(rows, 2, 1) && fine.finish(&code);
  TIFFSetErrorHandler(oldError);
  TIFFSetWarningHandler(oldWarning);
  EXPECT_FALSE(started);
  EXPECT_NE(rejected.error().find("RowsPerStrip"), std::string::npos) << rejected.error();
  EXPECT_TRUE(encoded);
  EXPECT_FALSE(code.empty());
  EXPECT_TRUE(fine.error().empty()) << fine.error();
  EXPECT_EQ(processWideReports, 0);
}
