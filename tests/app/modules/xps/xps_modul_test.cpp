#include "modules/xps/XPSModul.h"

#include <gtest/gtest.h>

#include <QFile>

#include "core/XVErrorTexts.h"
#include "core/XVNotifications.h"
#include "platform/foundation/log.h"
#include "support/pdf_fixture.h"
#include "support/import_recorder.h"
#include "support/temp_dir.h"
#include "support/xps_builder.h"

using testsupport::pumpUntil;

namespace {

QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

using Recorder = testsupport::ImportRecorder;

// Stands in the Visio slot, to see which files the XPS module declines.
class StandIn : public PDFModul {};

class XPSModulTest : public ::testing::Test {
 protected:
  void SetUp() override {
    XPSModul::registerModul();
    DocumentModul::registerModuleClass(DocumentModul::Kind::Visio,
                                       [](const QString&) { return std::make_shared<StandIn>(); });
  }
  void TearDown() override { DocumentModul::registerModuleClass(DocumentModul::Kind::Visio, nullptr); }

  // Imports through the factory and waits for the end.
  std::shared_ptr<XPSModul> import(const QString& src) {
    auto m = std::dynamic_pointer_cast<XPSModul>(DocumentModul::documentModulFilePath(src));
    if (!m) return nullptr;
    m->setDelegate(recorder);
    m->setImportSourcePath(src);
    m->setImportOutPath(out());
    m->startImport();
    EXPECT_TRUE(pumpUntil([&] { return recorder->endCount() > 0; }));
    pumpUntil([] { return false; }, std::chrono::milliseconds(20));
    return m;
  }
  QString out() const { return q(dir / "ID1"); }

  testsupport::TempDir dir;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

}  // namespace

TEST_F(XPSModulTest, CorpusFilesOpenWithTheirPagesAndSearchableText) {
  struct Case {
    const char* file;
    int pages;
    const char* word;
  };
  for (const Case& c : {Case{"testPPT.xps", 3, "Rajiv"}, Case{"testXPSWithDataDescriptor.xps", 1, "document"},
                        Case{"test_text.xps", 1, "italics"}}) {
    SCOPED_TRACE(c.file);
    recorder = std::make_shared<Recorder>();
    QFile::remove(out());
    auto m = import(QStringLiteral(LECTERN_CORPUS_DIR "/xps/") + c.file);
    ASSERT_TRUE(m);
    EXPECT_EQ(recorder->ends, 1);
    EXPECT_EQ(recorder->starts, 1);
    ASSERT_TRUE(recorder->success) << recorder->error.toStdString();
    ASSERT_FALSE(recorder->progress.empty());
    EXPECT_EQ(recorder->progress.back(), 100.0);
    ASSERT_TRUE(m->DocumentModulPDFDocument());
    EXPECT_EQ(m->DocumentcountPage(), c.pages);
    EXPECT_FALSE(m->DocumentModulPDFDocument()->findString(QString::fromLatin1(c.word)).isEmpty());
  }
}

TEST_F(XPSModulTest, UnreadablePackageEndsWithItsReasonAndNoOutput) {
  const QString src = q(dir / "broken.xps");
  {
    QFile f(src);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("PK\x03\x04 but no more of a zip");
  }
  auto m = import(src);
  ASSERT_TRUE(m);
  EXPECT_EQ(recorder->ends, 1);
  EXPECT_FALSE(recorder->success);
  EXPECT_TRUE(recorder->error.startsWith("Not an XPS document")) << recorder->error.toStdString();
  EXPECT_TRUE(recorder->progress.empty());
  EXPECT_FALSE(QFile::exists(out()));
  EXPECT_EQ(m->DocumentModulPDFDocument(), nullptr);
}

// Packages that are damaged but can be drawn in part open with what can be drawn, and the log
// names once the pages left blank.
TEST_F(XPSModulTest, DamagedPackagesOpenWithWhatCanBeDrawn) {
  testsupport::ZipWriter package;
  testsupport::addXpsPackage(package, {{816, 1056}, {1056, 672}});
  testsupport::ZipWriter pageMissing;
  testsupport::addXpsPackage(pageMissing, {{816, 1056}, {500, 600, {}, false}, {1056, 672}});
  struct Case {
    const char* name;
    std::string bytes;
    int pages;
    const char* blank;  // what the log names, or null
  };
  for (const Case& c : {Case{"a page without its part", pageMissing.bytes(), 3, "page 2 of 3 cannot be drawn"},
                        Case{"a zip that cannot be re-packed", testsupport::withDirectoryPastTheEnd(package.bytes()), 2,
                             nullptr}}) {
    SCOPED_TRACE(c.name);
    recorder = std::make_shared<Recorder>();
    QFile::remove(out());
    const auto src = dir.write("damaged.xps", c.bytes);
    foundation::ScopedLogCapture log;
    auto m = import(q(src));
    ASSERT_TRUE(m);
    ASSERT_TRUE(recorder->success) << recorder->error.toStdString();
    EXPECT_EQ(m->DocumentcountPage(), c.pages);
    int blankLines = 0;
    for (const auto& r : log.records()) {
      if (r.message.find("left blank") == std::string::npos) continue;
      ++blankLines;
      EXPECT_EQ(r.level, foundation::LogLevel::Warning);
      EXPECT_NE(r.message.find(src.string()), std::string::npos) << r.message;
      if (c.blank) {
        EXPECT_NE(r.message.find(c.blank), std::string::npos) << r.message;
      }
    }
    EXPECT_EQ(blankLines, c.blank ? 1 : 0);
  }
}

TEST_F(XPSModulTest, VsxGoesToXpsOnlyWhenItIsAPackage) {
  const auto package = dir / "drawing.vsx";
  ASSERT_TRUE(testsupport::writeXpsPackage(package, {{816, 1056}, {816, 1056}}));
  const auto stencil = dir / "stencil.vsx";
  std::ofstream(stencil) << "<?xml version=\"1.0\"?><VisioDocument/>";
  const auto otherZip = dir / "other.vsx";
  testsupport::ZipWriter zip;
  zip.add("_rels/.rels", "<Relationships/>");
  std::ofstream(otherZip, std::ios::binary) << zip.bytes();

  EXPECT_TRUE(std::dynamic_pointer_cast<XPSModul>(DocumentModul::documentModulFilePath(q(package))));
  EXPECT_TRUE(std::dynamic_pointer_cast<StandIn>(DocumentModul::documentModulFilePath(q(stencil))));
  EXPECT_TRUE(std::dynamic_pointer_cast<StandIn>(DocumentModul::documentModulFilePath(q(otherZip))));
  EXPECT_TRUE(std::dynamic_pointer_cast<StandIn>(DocumentModul::documentModulFilePath(q(dir / "missing.vsx"))));
  // Other XPS extensions are never declined: a broken file there fails with its reason.
  EXPECT_TRUE(std::dynamic_pointer_cast<XPSModul>(DocumentModul::documentModulFilePath(q(dir / "stencil.xps"))));

  auto m = import(q(package));
  ASSERT_TRUE(m);
  EXPECT_TRUE(recorder->success);
  EXPECT_EQ(recorder->progress, (std::vector<double>{50.0, 100.0}));
  EXPECT_EQ(m->DocumentcountPage(), 2);
}

TEST_F(XPSModulTest, SameTextSearchesAgainAfterTheResultListIsClosed) {
  auto m = import(QStringLiteral(LECTERN_CORPUS_DIR "/xps/testPPT.xps"));
  ASSERT_TRUE(m && recorder->success);
  QWidget* v = m->documentView();
  ASSERT_TRUE(v);
  v->resize(800, 600);
  int finds = 0;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      SearchForThunbnailNotification, [&](const foundation::Notification&) { ++finds; });
  m->searchContent("Rajiv");
  ASSERT_TRUE(pumpUntil([&] { return finds == 1; }));
  m->searchEndState();
  EXPECT_TRUE(m->searchString().isEmpty());
  EXPECT_FALSE(m->searchString().isNull());
  m->searchContent("Rajiv");
  ASSERT_TRUE(pumpUntil([&] { return finds == 2; }));
  EXPECT_FALSE(m->searchResultArray().isEmpty());
}
