#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <atomic>
#include <latch>
#include <thread>

#include "export_test_util.h"
#include "modules/export/XVPDFConverter.h"
#include "pdf_inspect.h"
#include "platform/foundation/log.h"
#include "support/pdf_fixture.h"
#include "support/stderr_capture.h"

using namespace exporttest;

namespace {

class PDFConverterTest : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  std::unique_ptr<pdfkit::PDFDocument> document;
  std::shared_ptr<DocumentSource> source = std::make_shared<DocumentSource>();
  std::shared_ptr<WorkerRecorder> recorder = std::make_shared<WorkerRecorder>();

  void open(const std::vector<testsupport::PdfPageContent>& pages) {
    ASSERT_TRUE(testsupport::writePdf(q(dir / "doc.pdf"), pages));
    document = pdfkit::PDFDocument::initWithURL(q(dir / "doc.pdf"));
    ASSERT_TRUE(document);
    source->document = document.get();
    source->count = static_cast<quint64>(document->pageCount());
  }
  std::shared_ptr<XVPDFConverter> worker(int type) {
    auto w = XVPDFConverter::pdfConverterWithType(type);
    w->setConverterSource(source);
    w->setDelegate(recorder);
    return w;
  }
};

TEST_F(PDFConverterTest, ThreePagesReportSinglePrecisionProgressThenEnd) {
  open({{{"one"}}, {{"two"}}, {{"three"}}});
  for (int type : {XVPDFConverter::PageImages, XVPDFConverter::PageText}) {
    recorder = std::make_shared<WorkerRecorder>();
    auto w = worker(type);
    w->start();
    ASSERT_TRUE(recorder->reports.waitEnd());
    ASSERT_TRUE(w->waitUntilEnded(std::chrono::seconds(10)));
    EXPECT_EQ(recorder->reports.starts, 1);
    EXPECT_EQ(recorder->reports.progress, (std::vector<double>{33.33333206176758, 66.66666412353516, 100.0})) << type;
    EXPECT_TRUE(*recorder->reports.end);
    EXPECT_TRUE(recorder->reports.endCameLast);
    EXPECT_FALSE(w->converting());
  }
}

TEST_F(PDFConverterTest, ZeroPagesEndWithYesAndAnEmptyPdf) {
  open({{{"one"}}});
  source->count = 0;
  auto w = worker(XVPDFConverter::PdfFile);
  w->setSavePath(q(dir / "empty.pdf"));
  w->start();
  ASSERT_TRUE(recorder->reports.waitEnd());
  EXPECT_EQ(recorder->reports.starts, 1);
  EXPECT_TRUE(recorder->reports.progress.empty());
  EXPECT_TRUE(*recorder->reports.end);
  auto facts = inspectPdf((dir / "empty.pdf").string());
  ASSERT_TRUE(facts);
  EXPECT_TRUE(facts->empty());
}

TEST_F(PDFConverterTest, TextJoinsPagesWithNothingBetweenAndSkipsEmptyAndMissingPages) {
  open({{{"A"}}, {{}}, {{"B"}}});
  source->count = 4;  // the fourth page is not there
  auto w = worker(XVPDFConverter::PageText);
  w->start();
  ASSERT_TRUE(recorder->reports.waitEnd());
  EXPECT_TRUE(*recorder->reports.end);
  EXPECT_EQ(recorder->reports.progress.size(), 4u);
  EXPECT_EQ(w->textDeleteCache(), QStringLiteral("AB"));
  EXPECT_TRUE(w->text().isNull());
}

TEST_F(PDFConverterTest, NoSourceEndsWithNo) {
  auto w = XVPDFConverter::pdfConverterWithType(XVPDFConverter::PdfFile);
  w->setDelegate(recorder);
  w->setSavePath(q(dir / "none.pdf"));
  w->start();
  ASSERT_TRUE(recorder->reports.waitEnd());
  EXPECT_EQ(recorder->reports.starts, 1);
  EXPECT_FALSE(*recorder->reports.end);
  EXPECT_FALSE(QFile::exists(q(dir / "none.pdf")));
}

TEST_F(PDFConverterTest, CancelBeforeTheThreadBeginsIsNotLost) {
  open({{{"one"}}, {{"two"}}, {{"three"}}});
  auto w = worker(XVPDFConverter::PdfFile);
  w->setSavePath(q(dir / "out.pdf"));
  source->onPageCount = [&] { w->cancel(); };
  w->start();
  ASSERT_TRUE(recorder->reports.waitEnd());
  EXPECT_FALSE(*recorder->reports.end);
  EXPECT_TRUE(recorder->reports.progress.empty());
  ASSERT_TRUE(w->waitUntilEnded(std::chrono::seconds(10)));
  // A cancelled PDF leaves nothing behind, not even its temporary file.
  EXPECT_TRUE(QDir(q(dir.path())).entryList(QDir::Files | QDir::Hidden).filter("out").isEmpty());
}

TEST_F(PDFConverterTest, SecondStartWhileConvertingDoesNothing) {
  open({{{"one"}}, {{"two"}}});
  std::latch release(1);
  recorder->onStartHook = [&](XVPDFConverter*) { release.wait(); };
  auto w = worker(XVPDFConverter::PageText);
  w->start();
  EXPECT_TRUE(w->converting());
  source->count = 99;  // a second run would ask again and see this
  w->start();
  release.count_down();
  ASSERT_TRUE(recorder->reports.waitEnd());
  ASSERT_TRUE(w->waitUntilEnded(std::chrono::seconds(10)));
  EXPECT_EQ(recorder->reports.starts, 1);
  EXPECT_EQ(recorder->reports.ends, 1);
  EXPECT_EQ(recorder->reports.progress.size(), 2u);
}

TEST_F(PDFConverterTest, PageImagesKeepTheirIndexAndTheUsersRotationAsTakenAtStart) {
  open({{{"one"}}, {{"two"}}, {{"three"}, true}});
  document->pageAtIndex(0)->setRotation(90);
  source->missing = {1};  // no image for the second page; progress still advances
  auto w = worker(XVPDFConverter::PageImages);
  std::vector<XVPDFConverter::PageImage> taken;
  recorder->onProgressHook = [&](XVPDFConverter* c) {
    while (c->imageCacheCount() > 0) taken.push_back(c->imageDeleteCacheAtIndex(0));
  };
  w->start();
  document->pageAtIndex(2)->setRotation(90);  // after the snapshot: not seen by the run
  ASSERT_TRUE(recorder->reports.waitEnd());
  ASSERT_TRUE(w->waitUntilEnded(std::chrono::seconds(10)));
  EXPECT_EQ(recorder->reports.progress.size(), 3u);
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[0].index, 0u);
  EXPECT_EQ(taken[1].index, 2u);
  // One pixel per point: A4 portrait turned a quarter, and A4 landscape as it is.
  EXPECT_EQ(taken[0].image.size(), QSize(842, 595));
  EXPECT_EQ(taken[1].image.size(), QSize(842, 595));
  EXPECT_FALSE(taken[0].image.hasAlphaChannel());
  EXPECT_EQ(taken[0].image.pixelColor(5, 5), QColor(Qt::white));
  EXPECT_TRUE(w->imageDeleteCacheAtIndex(0).isNull());
}

TEST(PdfConverterSpareDocument, MadeOnFirstUseHandedOverOnce) {
  auto w = XVPDFConverter::pdfConverterWithType(XVPDFConverter::PdfFile);
  EXPECT_EQ(w->pdfDocument(), nullptr);
  EXPECT_EQ(w->pdfDocumentDeleteCache(), nullptr);
  pdfkit::PDFDocument* made = w->pdfDocumentNeedCreate();
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->pageCount(), 0);
  EXPECT_EQ(w->pdfDocumentNeedCreate(), made);
  EXPECT_EQ(w->pdfDocument(), made);
  std::unique_ptr<pdfkit::PDFDocument> taken = w->pdfDocumentDeleteCache();
  EXPECT_EQ(taken.get(), made);
  EXPECT_EQ(w->pdfDocument(), nullptr);
  EXPECT_EQ(w->pdfDocumentDeleteCache(), nullptr);
  EXPECT_NE(w->pdfDocumentNeedCreate(), nullptr);
}

TEST_F(PDFConverterTest, ADamagedSourceIsCopiedWithQpdfsWarningsInTheLogNotOnStderr) {
  // Without its cross-reference table: qpdf rebuilds it, with warnings.
  ASSERT_TRUE(testsupport::writePdf(q(dir / "doc.pdf"), {{{"one"}}, {{"two"}}}));
  std::string bytes = testsupport::readFile(dir / "doc.pdf");
  const size_t xref = bytes.rfind("\nxref\n"), trailer = bytes.rfind("trailer");
  ASSERT_TRUE(xref != std::string::npos && trailer != std::string::npos && xref < trailer);
  bytes.erase(xref + 1, trailer - xref - 1);
  dir.write("doc.pdf", bytes);
  document = pdfkit::PDFDocument::initWithURL(q(dir / "doc.pdf"));
  ASSERT_TRUE(document);
  source->document = document.get();
  source->count = 2;
  foundation::ScopedLogCapture log;
  std::string stderrText;
  {
    testsupport::StderrCapture err;
    ASSERT_TRUE(err.active());
    auto w = worker(XVPDFConverter::PdfFile);
    w->setSavePath(q(dir / "out.pdf"));
    w->start();
    ASSERT_TRUE(recorder->reports.waitEnd());
    ASSERT_TRUE(w->waitUntilEnded(std::chrono::seconds(10)));
    stderrText = err.text();
  }
  EXPECT_TRUE(*recorder->reports.end);
  EXPECT_EQ(stderrText, "");
  EXPECT_TRUE(log.contains("file is damaged"));
  auto facts = inspectPdf((dir / "out.pdf").string());
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->size(), 2u);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
