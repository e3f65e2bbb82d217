#include "platform/xpskit/XpsKit.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <future>
#include <mutex>
#include <thread>
#include <vector>

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
