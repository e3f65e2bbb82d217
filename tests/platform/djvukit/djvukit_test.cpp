#include "platform/djvukit/DjvuKit.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/pdfkit/PDFDocument.h"
#include "support/djvu_fixture.h"
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
