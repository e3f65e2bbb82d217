#include "modules/djvu/DjVuModul.h"

#include <gtest/gtest.h>

#include <QFile>

#include "core/XVErrorTexts.h"
#include "support/djvu_fixture.h"
#include "support/pdf_fixture.h"
#include "support/import_recorder.h"
#include "support/temp_dir.h"

using testsupport::pumpUntil;

namespace {

QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

using Recorder = testsupport::ImportRecorder;

class DjVuModulTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DjVuModul::registerModul();
    std::filesystem::create_directory(dir / "work");
  }
  std::shared_ptr<DjVuModul> module() {
    auto m = std::dynamic_pointer_cast<DjVuModul>(DocumentModul::documentModulFilePath(q(dir / "doc.djvu")));
    if (m) {
      m->setDelegate(recorder);
      m->setImportOutPath(out());
    }
    return m;
  }
  std::shared_ptr<DjVuModul> import(const QString& src) {
    auto m = module();
    if (!m) return nullptr;
    m->setImportSourcePath(src);
    m->startImport();
    EXPECT_TRUE(pumpUntil([&] { return recorder->endCount() > 0; }));
    return m;
  }
  QString out() const { return q(dir / "ID1"); }

  testsupport::TempDir dir;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

}  // namespace

// The callbacks as the converter sends them, without a converter.
TEST_F(DjVuModulTest, CallbacksBecomeProgressAndOneEnd) {
  ASSERT_TRUE(testsupport::writeNumberedPdf(out(), 4, "page", {}));
  struct Case {
    const char* name;
    int count;
    std::vector<int> pages;
    bool error;  // sendErrorInfo in place of the end
    std::vector<double> progress;
    bool success;
    QString text;
  };
  const std::vector<Case> cases = {
      {"all pages", 4, {1, 2, 3, 4}, false, {25, 50, 75, 100}, true, QString()},
      {"pages missing", 4, {1, 2}, false, {25, 50}, false, XVErrorText::conversionFailed()},
      {"error after the last page", 3, {1, 2, 3}, true, {1.0 / 3 * 100, 2.0 / 3 * 100, 100}, false, QStringLiteral("why")},
      {"no pages", 0, {0}, false, {}, false, XVErrorText::conversionFailed()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recorder = std::make_shared<Recorder>();
    auto m = module();
    ASSERT_TRUE(m);
    m->getAllPageNum(c.count);
    EXPECT_EQ(m->startPage(), 1);
    EXPECT_EQ(m->endPage(), c.count);
    for (int p : c.pages) m->getCurrentPageNum(p);
    if (c.error) {
      m->sendErrorInfo("why");
    } else {
      m->endDjVuPageNoti();
    }
    m->endDjVuPageNoti();  // a second end is not passed on
    EXPECT_EQ(recorder->starts, 0);
    EXPECT_EQ(recorder->ends, 1);
    EXPECT_EQ(recorder->progress, c.progress);
    EXPECT_EQ(recorder->success, c.success);
    EXPECT_EQ(recorder->error, c.text);
    EXPECT_EQ(m->DocumentModulPDFDocument() != nullptr, c.success);
  }
}

TEST_F(DjVuModulTest, ThreePageDocumentOpensWithProgressAndItsWords) {
  const auto src = dir / "three.djvu";
  ASSERT_TRUE(testsupport::writeDjvu(src, dir / "work",
                                     {{false, 850, 1100, 100, {"lantern"}},
                                      {true, 600, 400, 75, {"meadow", "harbour"}},
                                      {false, 850, 1100, 100, {"lantern"}}}));
  std::weak_ptr<DjVuModul> weak;
  {
    auto m = import(q(src));
    ASSERT_TRUE(m);
    weak = m;
    EXPECT_EQ(recorder->ends, 1);
    ASSERT_TRUE(recorder->success) << recorder->error.toStdString();
    ASSERT_EQ(recorder->progress.size(), 3u);
    EXPECT_NEAR(recorder->progress[0], 33.3, 0.05);
    EXPECT_NEAR(recorder->progress[1], 66.7, 0.05);
    EXPECT_EQ(recorder->progress[2], 100.0);
    EXPECT_EQ(m->state(), 3);
    EXPECT_EQ(m->DocumentcountPage(), 3);
    auto* pdf = m->DocumentModulPDFDocument();
    ASSERT_TRUE(pdf);
    EXPECT_EQ(pdf->findString(QStringLiteral("lantern")).size(), 2);
    EXPECT_EQ(pdf->findString(QStringLiteral("HARBOUR")).size(), 1);
    EXPECT_TRUE(m->SupportSaveFormats().size() == 6 && m->SupportSaveFormats().front().formatName() == "PDF");
  }
  // Nothing keeps the module once its converter has ended and the caller let it go.
  EXPECT_TRUE(pumpUntil([&] { return weak.expired(); }, std::chrono::seconds(5)));
}

TEST_F(DjVuModulTest, IndirectDocumentWithoutItsPagesFailsWithTheReason) {
  auto m = import(QStringLiteral(LECTERN_CORPUS_DIR "/djvu/testDJVU.djvu"));
  ASSERT_TRUE(m);
  EXPECT_EQ(recorder->ends, 1);
  EXPECT_FALSE(recorder->success);
  EXPECT_TRUE(recorder->error.contains("page0001.djvu")) << recorder->error.toStdString();
  EXPECT_TRUE(recorder->progress.empty());
  EXPECT_FALSE(QFile::exists(out()));
  EXPECT_EQ(m->DocumentModulPDFDocument(), nullptr);
}
