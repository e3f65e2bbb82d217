#include "modules/import/DVImport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <filesystem>
#include <future>
#include <thread>

#include "core/ProductInfo.h"
#include "core/XVErrorTexts.h"
#include "diagramkit/engine/SVG2PDF.h"
#include "platform/foundation/dispatcher.h"
#include "platform/pdfkit/PDFDocument.h"
#include "support/djvu_fixture.h"
#include "support/import_recorder.h"
#include "support/password_answerer.h"
#include "support/pdf_fixture.h"
#include "support/pdf_text.h"
#include "support/temp_dir.h"
#include "support/visio_builder.h"
#include "support/wordperfect_builder.h"
#include "support/xps_builder.h"

using testsupport::pumpUntil;
namespace fs = std::filesystem;

namespace {

QString q(const fs::path& p) { return QString::fromStdString(p.string()); }

using Recorder = testsupport::ImportRecorder;

int pdfPages(const fs::path& p) {
  auto doc = pdfkit::PDFDocument::initWithURL(q(p));
  return doc ? static_cast<int>(doc->pageCount()) : -1;
}

class DVImportTest : public ::testing::Test {
 protected:
  void SetUp() override { foundation::Dispatcher::drainMain(); }

  std::shared_ptr<DVImport> make() { return std::dynamic_pointer_cast<DVImport>(ProductInfo::ImportInterface()); }

  // Starts the import on a load thread; `wait` pumps the main queue until the end.
  std::shared_ptr<DVImport> import(const fs::path& src, bool wait = true) {
    auto importer = make();
    if (!importer) return nullptr;
    importer->setDelegate(recorder);
    importer->setImportSourcePath(q(src));
    importer->setImportOutPath(q(out));
    std::thread([importer] { importer->startImport(); }).join();
    if (wait) {
      EXPECT_TRUE(pumpUntil([&] { return recorder->endCount() > 0; }, std::chrono::seconds(120)));
    }
    return importer;
  }

  testsupport::TempDir dir;
  fs::path out = dir / "out.pdf";
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

TEST_F(DVImportTest, TheLowerCaseExtensionChoosesTheConverter) {
  using R = DVImport::Road;
  const std::pair<const char*, R> cases[] = {
      {"Report.PDF", R::PDF},         {"a.OXPS", R::XPS},    {"a.xps", R::XPS},   {"sheet.Wq1", R::Works},
      {"w.WTF", R::Works},            {"d.wks", R::Works},   {"l.WP5", R::WordPerfect}, {"l.wpd", R::WordPerfect},
      {"scan.DjVu", R::DjVu},         {"notes.txt", R::Visio}, {"plan.vsdx", R::Visio}, {"noextension", R::Visio},
      {"book.djvu.pdf", R::PDF},
  };
  for (const auto& [name, road] : cases) EXPECT_EQ(DVImport::roadForPath(name), road) << name;
}

TEST_F(DVImportTest, APdfIsCopiedAndEndsAtOnce) {
  const fs::path src = dir / "Report.PDF";
  ASSERT_TRUE(testsupport::writeNumberedPdf(q(src), 2));
  dir.write("out.pdf", "an older result");
  auto importer = import(src, /*wait=*/false);
  ASSERT_TRUE(importer);
  // Reported before anything else ran.
  EXPECT_EQ(recorder->ends, 1);
  EXPECT_TRUE(recorder->success);
  EXPECT_EQ(testsupport::readFile(out), testsupport::readFile(src));
  EXPECT_FALSE(fs::exists(dir / "out.pdf.part"));
}

TEST_F(DVImportTest, AFailedCopyEndsWithNoAndLeavesTheTarget) {
  dir.write("out.pdf", "an older result");
  const fs::path cases[] = {dir / "missing.pdf", dir / "folder.pdf"};
  fs::create_directory(dir / "folder.pdf");
  for (const fs::path& src : cases) {
    recorder = std::make_shared<Recorder>();
    auto importer = import(src, /*wait=*/false);
    ASSERT_TRUE(importer);
    EXPECT_EQ(recorder->ends, 1) << src;
    EXPECT_FALSE(recorder->success) << src;
    EXPECT_EQ(recorder->error, XVErrorText::conversionFailed());
    EXPECT_EQ(testsupport::readFile(out), "an older result");
  }
}

TEST_F(DVImportTest, AnUnlistedExtensionGoesToTheVisioConverter) {
  // A drawing named as text: only the Visio converter makes pages of it.
  const fs::path src = dir.write("drawing.txt", testsupport::vdxDrawing({{8.5, 11.0, "one"}, {11.0, 8.5, "two"}}));
  auto importer = import(src);
  ASSERT_TRUE(importer);
  EXPECT_TRUE(recorder->success) << recorder->error.toStdString();
  EXPECT_EQ(recorder->ends, 1);
  EXPECT_EQ(recorder->progress, (std::vector<double>{50.0, 100.0}));
  EXPECT_EQ(importer->state(), DVImport::kStateLastPageDone);
  EXPECT_EQ(importer->endPage(), 2);
  EXPECT_EQ(pdfPages(out), 2);

  recorder = std::make_shared<Recorder>();
  auto failing = import(dir.write("plain.txt", "just some words"));
  ASSERT_TRUE(failing);
  EXPECT_FALSE(recorder->success);
  EXPECT_EQ(recorder->error, XVErrorText::conversionFailed());
}

TEST_F(DVImportTest, XpsEndsWithYesOrWithUnknownError) {
  const fs::path good = dir / "two.xps";
  ASSERT_TRUE(testsupport::writeXpsPackage(good, {{816, 1056}, {1056, 816}}));
  auto importer = import(good);
  ASSERT_TRUE(importer);
  EXPECT_TRUE(recorder->success) << recorder->error.toStdString();
  EXPECT_EQ(recorder->starts, 1);
  ASSERT_FALSE(recorder->progress.empty());
  EXPECT_EQ(pdfPages(out), 2);

  recorder = std::make_shared<Recorder>();
  fs::remove(out);
  ASSERT_TRUE(import(dir.write("broken.OXPS", "PK not really")));
  EXPECT_FALSE(recorder->success);
  EXPECT_EQ(recorder->error, XVErrorText::loadFailed());
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(DVImportTest, DjvuCountsItsPagesAndFailsWithoutReason) {
  const fs::path src = dir / "three.djvu";
  testsupport::DjvuPageSpec bitonal;
  testsupport::DjvuPageSpec colour;
  colour.colour = true;
  ASSERT_TRUE(testsupport::writeDjvu(src, dir.path(), {bitonal, colour, bitonal}));
  auto importer = import(src);
  ASSERT_TRUE(importer);
  EXPECT_TRUE(recorder->success) << recorder->error.toStdString();
  EXPECT_EQ(importer->allpage(), 3);
  EXPECT_EQ(importer->currpage(), importer->allpage());
  EXPECT_EQ(importer->startPage(), 1);
  EXPECT_EQ(importer->endPage(), importer->allpage());
  ASSERT_FALSE(recorder->progress.empty());
  EXPECT_EQ(recorder->progress.back(), 100.0);
  EXPECT_EQ(pdfPages(out), importer->allpage());

  recorder = std::make_shared<Recorder>();
  ASSERT_TRUE(import(dir.write("bad.djvu", "AT&TFORM not djvu")));
  EXPECT_FALSE(recorder->success);
  EXPECT_TRUE(recorder->error.isEmpty());
}

TEST_F(DVImportTest, VisioObserversAreRegisteredOnceAndGoWithTheImporter) {
  auto importer = make();
  ASSERT_TRUE(importer);
  importer->setDelegate(recorder);
  EXPECT_FALSE(importer->observesVisio());
  importer->setImportSourcePath(q(dir / "a.vsd"));
  importer->setImportSourcePath(q(dir / "b.vsd"));
  EXPECT_TRUE(importer->observesVisio());
  const void* sender = importer->visioSender();

  setVSDPageNum(4, sender);
  setEndPageVSD2PDFNoti(1, sender);
  setEndPageVSD2PDFNoti(2, nullptr);  // another converter's
  EXPECT_EQ(recorder->progress, (std::vector<double>{25.0}));
  EXPECT_EQ(importer->state(), DVImport::kStatePagesMissing);

  std::weak_ptr<DVImport> weak = importer;
  importer.reset();
  EXPECT_TRUE(weak.expired());
  setEndPageVSD2PDFNoti(4, sender);
  setEndFileVSD2PDFNoti(sender);
  EXPECT_EQ(recorder->progress.size(), 1u);
  EXPECT_EQ(recorder->ends, 0);
}

bool ready(std::future<std::optional<std::string>>& f) {
  return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

TEST_F(DVImportTest, ThePasswordIsAskedOnTheGuiThreadWhileTheConverterWaits) {
  auto importer = make();
  ASSERT_TRUE(importer);
  struct Case {
    const char* name;
    QStringList answers;
    bool stop;  // stopImport() comes from another thread while the prompt is up
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"entered", {QStringLiteral("s\u00e9same")}, false, std::string("s\xc3\xa9same")},
      {"cancelled", {}, false, std::nullopt},
      {"stopped", {}, true, std::nullopt},
  };
  for (const Case& c : cases) {
    std::promise<std::optional<std::string>> answered;
    auto result = answered.get_future();
    std::atomic<bool> blocked{true};
    std::thread converter([&] { answered.set_value(importer->askPassword()); });
    testsupport::PasswordAnswerer answerer(c.answers, [&](PasswordWindow* w) {
      if (ready(result)) blocked = false;
      if (c.stop) {
        std::thread([&] { importer->stopImport(); }).join();
      } else if (!c.answers.isEmpty()) {
        w->passwordField()->setText(c.answers.front());
        w->passwordText();
      } else {
        w->closePasswordWindow();
      }
    });
    EXPECT_TRUE(pumpUntil([&] { return ready(result) && !PasswordWindow::passwordWindowCtrl()->isVisible(); }))
        << c.name;
    converter.join();
    EXPECT_EQ(answerer.prompts.load(), 1) << c.name;
    EXPECT_TRUE(answerer.onGuiThread.load()) << c.name;
    EXPECT_TRUE(blocked.load()) << c.name;
    EXPECT_EQ(result.get(), c.expected) << c.name;
  }
  // A stopped import asks no more.
  EXPECT_EQ(importer->askPassword(), std::nullopt);
}

TEST_F(DVImportTest, WorksAndWordPerfectPrintTheirTextOrEndWithUnknownError) {
  const fs::path letter = dir.write("letter.WP5", testsupport::wp5Document({"Dear reader", "Kind regards"}));
  ASSERT_TRUE(import(letter));
  EXPECT_TRUE(recorder->success) << recorder->error.toStdString();
  EXPECT_EQ(recorder->starts, 1);
  const QString text = testsupport::pdfText(q(out));
  EXPECT_TRUE(text.contains(QStringLiteral("Dear reader"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("Kind regards"))) << text.toStdString();

  for (const char* name : {"broken.wps", "broken.Wk1", "broken.wpd"}) {
    recorder = std::make_shared<Recorder>();
    fs::remove(out);
    ASSERT_TRUE(import(dir.write(name, "neither a document nor a sheet")));
    EXPECT_FALSE(recorder->success) << name;
    EXPECT_EQ(recorder->error, XVErrorText::conversionFailed()) << name;
    EXPECT_FALSE(fs::exists(out)) << name;
  }
}

TEST_F(DVImportTest, AProtectedWordPerfectDocumentOpensWithItsPassword) {
  const fs::path locked = dir.write("locked.wp", testsupport::wp5Document({"hidden text"}, "key"));
  struct Case {
    const char* name;
    QStringList answers;
    bool success;
    int prompts;
  };
  const Case cases[] = {
      {"right at once", {QStringLiteral("key")}, true, 1},
      {"right at the third try", {QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("key")}, true, 3},
      {"wrong three times", {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}, false, 3},
      {"cancelled", {}, false, 1},
  };
  const QString ask = QStringLiteral("This document is protected. Enter its password:");
  const QString again = QStringLiteral("The password is incorrect. Enter the document's password again:");
  for (const Case& c : cases) {
    recorder = std::make_shared<Recorder>();
    fs::remove(out);
    testsupport::PasswordAnswerer answerer(c.answers);
    ASSERT_TRUE(import(locked)) << c.name;
    EXPECT_EQ(recorder->success, c.success) << c.name << ": " << recorder->error.toStdString();
    EXPECT_EQ(answerer.prompts.load(), c.prompts) << c.name;
    EXPECT_TRUE(answerer.onGuiThread.load()) << c.name;
    // Each try after the first says the last password did not fit.
    QStringList asked{ask};
    while (asked.size() < c.prompts) asked << again;
    EXPECT_EQ(answerer.promptTexts, asked) << c.name;
    if (c.success) {
      EXPECT_TRUE(testsupport::pdfText(q(out)).contains(QStringLiteral("hidden text"))) << c.name;
    } else {
      EXPECT_EQ(recorder->error, XVErrorText::conversionFailed()) << c.name;
    }
  }
}

}  // namespace
