#include "platform/xpskit/XpsKit.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/foundation/log.h"
#include "platform/pdfkit/PDFDocument.h"
#include "platform/xpskit/XpsPackage.h"
#include "support/temp_dir.h"
#include "support/xps_builder.h"

using namespace xpskit;

namespace {

struct Recorder : QFXpsConverterDelegate {
  std::mutex mutex;
  int starts = 0;
  std::vector<int32_t> ends;
  std::vector<double> progress;
  std::string exported;
  void QFXpsConverterDelegate_converterStart(QFXpsConverter*) override {
    std::lock_guard l(mutex);
    ++starts;
  }
  void QFXpsConverterDelegate_converterProcess(double p, QFXpsConverter*) override {
    std::lock_guard l(mutex);
    progress.push_back(p);
  }
  void QFXpsConverterDelegate_converterEnd(int32_t code, const void* out, QFXpsConverter*) override {
    std::lock_guard l(mutex);
    ends.push_back(code);
    if (out) exported = static_cast<const char*>(out);
  }
};

class XpsKitTest : public ::testing::Test {
 protected:
  // Runs the calls in the order the module makes them and waits for the end.
  std::shared_ptr<QFXpsConverter> convert(const std::string& source, bool cancelFirst = false) {
    auto param = QFXpsConverterParam::paramWithFormat(QFXpsConverterFormat::formatWithType(0));
    param->setDelegate(recorder);
    param->setOutPath(out());
    openError.clear();
    if (auto doc = QFXpsDocument::documentWithPath(source, &openError)) {
      param->addConverterSource(QFXpsConverterSource::converterSourceWithDocument(doc));
    }
    auto converter = QFXpsConverter::converterWithParam(param);
    if (cancelFirst) converter->cancel();
    EXPECT_TRUE(converter->start());
    converter->wait();
    return converter;
  }
  std::string out() const { return (dir / "out.pdf").string(); }
  bool outExists() const { return std::filesystem::exists(out()); }
  // Nothing but the output (no temporary left behind).
  size_t filesInDir() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir.path()), {}));
  }

  testsupport::TempDir dir;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  std::string openError;
};

bool isBlank(const QImage& image) {
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixelColor(x, y) != QColor(Qt::white)) return false;
    }
  }
  return true;
}

// The warnings that say pages were left blank.
std::vector<std::string> blankPageWarnings(const foundation::ScopedLogCapture& log) {
  std::vector<std::string> out;
  for (const auto& r : log.records()) {
    if (r.level == foundation::LogLevel::Warning && r.message.find("left blank") != std::string::npos)
      out.push_back(r.message);
  }
  return out;
}

// Pages libgxps cannot read or draw, each among good ones.
std::string pageMarkup(const std::string& inner, int w = 816, int h = 1056) {
  return std::string("<FixedPage xmlns=\"") + testsupport::xpsNamespace() + "\" Width=\"" + std::to_string(w) +
         "\" Height=\"" + std::to_string(h) + "\" xml:lang=\"en-US\">" + inner;
}
// A green rectangle over most of the page, then a cut in the middle of the markup.
const std::string kCutMarkup = pageMarkup("<Path Data=\"M 0,0 L 800,0 800,600 0,600 Z\" Fill=\"#00FF00\"/><Path Data=\"M 0 0 L");
// The green rectangle is drawn before libgxps finds that the text's font is not in the package.
const std::string kMissingFontMarkup =
    pageMarkup("<Path Data=\"M 0,0 L 1000,0 1000,600 0,600 Z\" Fill=\"#00FF00\"/>"
               "<Glyphs FontUri=\"/Resources/missing.ttf\" FontRenderingEmSize=\"12\" OriginX=\"10\" OriginY=\"20\" "
               "UnicodeString=\"Hi\" Fill=\"#000000\"/></FixedPage>",
               1056, 672);
const std::string kNotAPageMarkup = "<Canvas xmlns=\"http://schemas.microsoft.com/xps/2005/06\"/>";

}  // namespace

TEST_F(XpsKitTest, TwoPagePackageBecomesTwoPagesOfThePagesSizes) {
  const auto src = (dir / "two.xps").string();
  ASSERT_TRUE(testsupport::writeXpsPackage(src, {{816, 1056}, {1056, 672}}));
  auto converter = convert(src);
  ASSERT_EQ(recorder->ends, std::vector<int32_t>{QFXpsConverterEndComplete}) << converter->errorInfo();
  EXPECT_EQ(recorder->starts, 1);
  EXPECT_EQ(recorder->progress, (std::vector<double>{50.0, 100.0}));
  EXPECT_EQ(recorder->exported, out());
  auto pdf = pdfkit::PDFDocument::initWithURL(QString::fromStdString(out()));
  ASSERT_TRUE(pdf);
  ASSERT_EQ(pdf->pageCount(), 2);
  EXPECT_NEAR(pdf->pageAtIndex(0)->size().width(), 612, 0.5);
  EXPECT_NEAR(pdf->pageAtIndex(0)->size().height(), 792, 0.5);
  EXPECT_NEAR(pdf->pageAtIndex(1)->size().width(), 792, 0.5);
  EXPECT_NEAR(pdf->pageAtIndex(1)->size().height(), 504, 0.5);
  // The red rectangle covers the top left quarter of the first page.
  const QImage image = pdf->pageAtIndex(0)->render(0.25);
  EXPECT_EQ(image.pixelColor(image.width() / 8, image.height() / 8), QColor(Qt::red));
  EXPECT_EQ(image.pixelColor(image.width() * 7 / 8, image.height() * 7 / 8), QColor(Qt::white));
  EXPECT_EQ(filesInDir(), 2u);
}

TEST_F(XpsKitTest, CorpusFilesConvertWithTheirPagesAndText) {
  struct Case {
    const char* file;
    int pages;
    bool dataDescriptors;
  };
  for (const Case& c : {Case{"testPPT.xps", 3, false}, Case{"testXPSWithDataDescriptor.xps", 1, true},
                        Case{"test_text.xps", 1, true}}) {
    SCOPED_TRACE(c.file);
    const std::string src = std::string(LECTERN_CORPUS_DIR) + "/xps/" + c.file;
    EXPECT_EQ(zipHasDataDescriptors(src), c.dataDescriptors);
    EXPECT_TRUE(isXpsPackage(src));
    recorder = std::make_shared<Recorder>();
    std::filesystem::remove(out());
    auto converter = convert(src);
    ASSERT_EQ(recorder->ends, std::vector<int32_t>{QFXpsConverterEndComplete}) << converter->errorInfo();
    ASSERT_FALSE(recorder->progress.empty());
    EXPECT_EQ(recorder->progress.back(), 100.0);
    auto pdf = pdfkit::PDFDocument::initWithURL(QString::fromStdString(out()));
    ASSERT_TRUE(pdf);
    EXPECT_EQ(pdf->pageCount(), c.pages);
    EXPECT_FALSE(pdf->string().trimmed().isEmpty());
  }
}

TEST_F(XpsKitTest, FilesThatAreNoXpsEndWithAFailureAndNoOutput) {
  const auto notZip = (dir / "plain.xps").string();
  std::ofstream(notZip) << "this is not a zip";
  testsupport::ZipWriter zip;
  zip.add("hello.txt", "a zip, but no XPS package");
  const auto otherZip = (dir / "other.xps").string();
  std::ofstream(otherZip, std::ios::binary) << zip.bytes();
  for (const std::string& src : {notZip, otherZip, (dir / "missing.xps").string()}) {
    SCOPED_TRACE(src);
    recorder = std::make_shared<Recorder>();
    auto converter = convert(src);
    EXPECT_FALSE(openError.empty());
    EXPECT_FALSE(isXpsPackage(src));
    EXPECT_EQ(recorder->ends, std::vector<int32_t>{QFXpsConverterEndFailed});
    EXPECT_TRUE(recorder->progress.empty());
    EXPECT_FALSE(converter->errorInfo().empty());
    EXPECT_FALSE(outExists());
  }
  EXPECT_EQ(filesInDir(), 2u);  // the two inputs
}

TEST_F(XpsKitTest, CancelEndsOnceWithoutOutput) {
  const auto src = (dir / "two.xps").string();
  ASSERT_TRUE(testsupport::writeXpsPackage(src, {{816, 1056}, {816, 1056}}));
  auto converter = convert(src, /*cancelFirst=*/true);
  EXPECT_EQ(recorder->ends, std::vector<int32_t>{QFXpsConverterEndCancelled});
  EXPECT_FALSE(outExists());
  EXPECT_EQ(filesInDir(), 1u);
  EXPECT_FALSE(converter->start());  // one conversion per converter
}

TEST_F(XpsKitTest, ConverterReleasedFromItsOwnEndCallback) {
  const auto src = (dir / "one.xps").string();
  ASSERT_TRUE(testsupport::writeXpsPackage(src, {{816, 1056}}));
  struct Releasing : Recorder {
    std::shared_ptr<QFXpsConverter> held;
    std::promise<void> ended;
    void QFXpsConverterDelegate_converterEnd(int32_t code, const void* out, QFXpsConverter* c) override {
      Recorder::QFXpsConverterDelegate_converterEnd(code, out, c);
      held.reset();
      ended.set_value();
    }
  };
  auto delegate = std::make_shared<Releasing>();
  auto param = QFXpsConverterParam::paramWithFormat(QFXpsConverterFormat::formatWithType(0));
  param->setDelegate(delegate);
  param->setOutPath(out());
  param->addConverterSource(QFXpsConverterSource::converterSourceWithDocument(QFXpsDocument::documentWithPath(src)));
  std::weak_ptr<QFXpsConverter> weak;
  {
    delegate->held = QFXpsConverter::converterWithParam(param);
    weak = delegate->held;
    auto ended = delegate->ended.get_future();
    delegate->held->start();
    ended.wait();
  }
  for (int i = 0; i < 200 && !weak.expired(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(delegate->ends, std::vector<int32_t>{QFXpsConverterEndComplete});
}

TEST_F(XpsKitTest, PagesThatCannotBeDrawnAreBlankAtTheirSizeAndNamedOnce) {
  using testsupport::XpsPage;
  const XpsPage good{816, 1056};
  struct Case {
    const char* name;
    std::vector<XpsPage> pages;
    std::set<int> blank;  // from 0
    const char* named;
  };
  const Case cases[] = {
      {"part missing", {good, XpsPage{500, 600, {}, false}, good}, {1}, "page 2 of 3 cannot be drawn and is left blank"},
      {"markup cut short", {good, XpsPage{700, 900, kCutMarkup}, good}, {1}, "page 2 of 3 "},
      {"font missing after a drawn rectangle", {good, XpsPage{1056, 672, kMissingFontMarkup}, good}, {1}, "page 2 of 3 "},
      {"not a fixed page", {good, XpsPage{600, 800, kNotAPageMarkup}, good}, {1}, "page 2 of 3 "},
      {"first and last", {XpsPage{1056, 672, kMissingFontMarkup}, good, XpsPage{500, 600, {}, false}}, {0, 2},
       "pages 1, 3 of 3 cannot be drawn and are left blank (page 1: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto src = (dir / "pages.xps").string();
    ASSERT_TRUE(testsupport::writeXpsPages(src, c.pages));
    std::filesystem::remove(out());
    recorder = std::make_shared<Recorder>();
    foundation::ScopedLogCapture log;
    auto converter = convert(src);
    ASSERT_EQ(recorder->ends, std::vector<int32_t>{QFXpsConverterEndComplete}) << converter->errorInfo();
    EXPECT_EQ(recorder->progress.size(), c.pages.size());
    const auto warnings = blankPageWarnings(log);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find(src), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find(c.named), std::string::npos) << warnings[0];
    auto pdf = pdfkit::PDFDocument::initWithURL(QString::fromStdString(out()));
    ASSERT_TRUE(pdf);
    ASSERT_EQ(pdf->pageCount(), static_cast<int>(c.pages.size()));
    for (int i = 0; i < pdf->pageCount(); ++i) {
      SCOPED_TRACE(i);
      const XpsPage& page = c.pages[static_cast<size_t>(i)];
      EXPECT_NEAR(pdf->pageAtIndex(i)->size().width(), page.width * 0.75, 0.5);
      EXPECT_NEAR(pdf->pageAtIndex(i)->size().height(), page.height * 0.75, 0.5);
      const QImage image = pdf->pageAtIndex(i)->render(0.25);
      if (c.blank.count(i)) {
        EXPECT_TRUE(isBlank(image));
      } else {
        EXPECT_EQ(image.pixelColor(image.width() / 8, image.height() / 8), QColor(Qt::red));
      }
    }
    EXPECT_EQ(filesInDir(), 2u);
  }
}

TEST_F(XpsKitTest, APackageWithoutAPageThatCanBeDrawnFailsWithTheFirstReason) {
  const auto src = (dir / "none.xps").string();
  ASSERT_TRUE(testsupport::writeXpsPages(src, {{816, 1056, kMissingFontMarkup}, {816, 1056, {}, false}}));
  auto converter = convert(src);
  EXPECT_EQ(recorder->ends, std::vector<int32_t>{QFXpsConverterEndFailed});
  EXPECT_EQ(converter->errorInfo().rfind("No page can be drawn (", 0), 0u) << converter->errorInfo();
  EXPECT_NE(converter->errorInfo().find("missing.ttf"), std::string::npos) << converter->errorInfo();
  EXPECT_FALSE(outExists());
  EXPECT_EQ(filesInDir(), 1u);
}

// Packages whose zip has to be re-packed for libgxps but cannot be: read as they are.
TEST_F(XpsKitTest, APackageThatCannotBeRePackedIsReadAsItIs) {
  const std::vector<testsupport::XpsPage> pages{{816, 1056}, {1056, 672}};
  // The central directory said to start past the end of the file; the entries are whole.
  testsupport::ZipWriter plain;
  testsupport::addXpsPackage(plain, pages);
  const std::string directoryPastTheEnd = testsupport::withDirectoryPastTheEnd(plain.bytes());
  // Streamed entries (data descriptors) with one name twice, which a zip writer refuses.
  testsupport::ZipWriter streamed({.deflated = true, .dataDescriptors = true});
  testsupport::addXpsPackage(streamed, pages);
  streamed.add("docProps/core.xml", "<coreProperties/>");
  streamed.add("docProps/core.xml", "<coreProperties/>");
  // Nothing but an end record pointing past the end.
  std::string endRecordOnly("PK\x05\x06\0\0\0\0\1\0\1\0\x2e\0\0\0\xff\xff\0\0\0\0", 22);

  struct Case {
    const char* name;
    std::string bytes;
    bool opens;
  };
  for (const Case& c : {Case{"directory past the end", directoryPastTheEnd, true},
                        Case{"a name twice in a streamed zip", streamed.bytes(), true},
                        Case{"no entries", endRecordOnly, false}}) {
    SCOPED_TRACE(c.name);
    const auto src = dir.write("package.xps", c.bytes).string();
    ASSERT_TRUE(zipHasDataDescriptors(src));
    std::string why;
    EXPECT_FALSE(repackZip(src, (dir / "repacked.zip").string(), &why));
    EXPECT_FALSE(why.empty());
    std::filesystem::remove(out());
    recorder = std::make_shared<Recorder>();
    const testsupport::TmpdirOverride tmp(dir / "tmp");
    auto converter = convert(src);
    if (c.opens) {
      EXPECT_TRUE(openError.empty()) << openError;
      ASSERT_EQ(recorder->ends, std::vector<int32_t>{QFXpsConverterEndComplete}) << converter->errorInfo();
      auto pdf = pdfkit::PDFDocument::initWithURL(QString::fromStdString(out()));
      ASSERT_TRUE(pdf);
      EXPECT_EQ(pdf->pageCount(), 2);
    } else {
      EXPECT_EQ(openError.rfind("The package cannot be read (", 0), 0u) << openError;
      EXPECT_EQ(recorder->ends, std::vector<int32_t>{QFXpsConverterEndFailed});
      EXPECT_FALSE(outExists());
    }
    converter.reset();
    EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp"));  // no re-packed copy left
  }
}
