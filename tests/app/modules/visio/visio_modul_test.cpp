#include "modules/visio/VisioModul.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QThread>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "core/XVErrorTexts.h"
#include "modules/visio/VisioRetired.h"
#include "modules/xps/XPSModul.h"
#include "diagramkit/engine/SVG2PDF.h"
#include "platform/pdfkit/PDFDocument.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"
#include "support/visio_builder.h"

using testsupport::pumpUntil;
namespace fs = std::filesystem;

namespace {

QString q(const fs::path& p) { return QString::fromStdString(p.string()); }

struct Recorder : ImportProgressDelegate {
  std::mutex mutex;
  std::vector<double> progress;
  std::vector<bool> progressOnMain;
  int starts = 0;
  int ends = 0;
  bool success = false;
  QString error;
  void ImportProgressDelegate_start(ImportInterface*) override { ++starts; }
  void ImportProgressDelegate_Progress(double p, ImportInterface*) override {
    std::lock_guard lock(mutex);
    progress.push_back(p);
    progressOnMain.push_back(foundation::Dispatcher::isMainThread());
  }
  void ImportProgressDelegate_end(bool ok, ImportInterface*, const QString& e) override {
    std::lock_guard lock(mutex);
    ++ends;
    success = ok;
    error = e;
  }
  int endCount() {
    std::lock_guard lock(mutex);
    return ends;
  }
};

class VisioModulTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VisioModul::registerModul();
    foundation::Dispatcher::drainMain();  // the test thread is the main thread
  }

  // Made by the factory and imported on a load thread, as the load manager does.
  std::shared_ptr<VisioModul> import(const fs::path& src, const fs::path& out) {
    auto m = std::dynamic_pointer_cast<VisioModul>(DocumentModul::documentModulFilePath(q(src)));
    if (!m) return nullptr;
    m->setDelegate(recorder);
    m->setImportSourcePath(q(src));
    m->setImportOutPath(q(out));
    std::thread([m] { m->startImport(); }).join();
    return m;
  }
  bool ended() { return pumpUntil([&] { return recorder->endCount() > 0; }, std::chrono::seconds(120)); }

  testsupport::TempDir dir;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

}  // namespace

TEST_F(VisioModulTest, ThreePagesReportAThirdEachThenSucceed) {
  const fs::path src = dir.write("three.vdx", testsupport::vdxDrawing({{8.5, 11.0, "one"}, {8.5, 11.0, "two"},
                                                                         {11.0, 8.5, "three"}}));
  auto m = import(src, dir / "out.pdf");
  ASSERT_TRUE(m);
  m->stopImport();  // changes nothing
  ASSERT_TRUE(ended());
  EXPECT_EQ(recorder->ends, 1);
  EXPECT_EQ(recorder->starts, 0);
  EXPECT_TRUE(recorder->success) << recorder->error.toStdString();
  ASSERT_EQ(recorder->progress.size(), 3u);
  EXPECT_NEAR(recorder->progress[0], 100.0 / 3, 1e-9);
  EXPECT_NEAR(recorder->progress[1], 200.0 / 3, 1e-9);
  EXPECT_EQ(recorder->progress[2], 100.0);
  for (bool onMain : recorder->progressOnMain) EXPECT_TRUE(onMain);
  EXPECT_EQ(m->state(), VisioModul::kStateLastPageDone);
  EXPECT_EQ(m->startPage(), 1);
  EXPECT_EQ(m->endPage(), 3);
  ASSERT_NE(m->DocumentModulPDFDocument(), nullptr);
  EXPECT_EQ(m->DocumentcountPage(), 3);
  // Released after the end, on the main queue.
  EXPECT_TRUE(pumpUntil([&] { return !m->holdsConverter(); }));
}

TEST_F(VisioModulTest, ADrawingThatCannotBeLoadedFails) {
  auto m = import(dir.write("bad.vsd", "not a drawing"), dir / "out.pdf");
  ASSERT_TRUE(m);
  ASSERT_TRUE(ended());
  EXPECT_FALSE(recorder->success);
  EXPECT_EQ(recorder->error, XVErrorText::conversionFailed());
  EXPECT_TRUE(recorder->progress.empty());
  EXPECT_FALSE(fs::exists(dir / "out.pdf"));
  EXPECT_TRUE(pumpUntil([&] { return !m->holdsConverter(); }));
}

TEST_F(VisioModulTest, OnlyTheLastPageEqualToTheCountSucceedsAndOnlyWithAPdfThatOpens) {
  struct Case {
    const char* name;
    std::vector<int> pages;
    bool pdfOpens;
    bool success;
  };
  const Case cases[] = {
      {"stops after page 2 of 3", {1, 2}, true, false},
      {"all three pages", {1, 2, 3}, true, true},
      {"all pages, but the PDF does not open", {1, 2, 3}, false, false},
      {"no page", {}, true, false},
  };
  ASSERT_TRUE(testsupport::writePdf(q(dir / "good.pdf"), {{{"a"}}, {{"b"}}, {{"c"}}}));
  const fs::path junk = dir.write("junk.pdf", "not a pdf");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recorder = std::make_shared<Recorder>();
    auto m = std::make_shared<VisioModul>();
    m->setDelegate(recorder);
    m->setImportSourcePath(q(dir / "x.vsd"));
    m->setImportOutPath(q(c.pdfOpens ? dir / "good.pdf" : junk));
    m->getVSDAllPageNum({VSD_ALL_PAGE_NOTI, nullptr, {{VSD_ALL_PAGE_NUM, 3}}});
    for (int p : c.pages) m->endVSDPage({END_VSD_PAGE_NOTI, nullptr, {{END_VSD_PAGE_NUM, p}}});
    m->endVSDFile();
    EXPECT_EQ(recorder->ends, 1);
    EXPECT_EQ(recorder->success, c.success);
    if (!c.success) {
      EXPECT_EQ(recorder->error, XVErrorText::conversionFailed());
    }
  }
}

TEST_F(VisioModulTest, HearsOnlyItsOwnConverter) {
  auto m = std::make_shared<VisioModul>();
  m->setDelegate(recorder);
  m->setImportSourcePath(q(dir / "x.vsd"));
  m->setImportSourcePath(q(dir / "x.vsd"));  // registering again does not hear twice
  auto& center = foundation::NotificationCenter::defaultCenter();
  center.post(VSD_ALL_PAGE_NOTI, nullptr, {{VSD_ALL_PAGE_NUM, 2}});
  center.post(END_VSD_PAGE_NOTI, m.get(), {{END_VSD_PAGE_NUM, 1}});
  center.post(END_VSD_FILE_NOTI, nullptr);
  EXPECT_EQ(m->allpage(), 0);
  EXPECT_EQ(m->currpage(), 0);
  EXPECT_EQ(recorder->ends, 0);
  // Its own converter is heard, once per notification.
  const fs::path src = dir.write("one.vdx", testsupport::vdxDrawing({{8.5, 11.0, "solo"}}));
  m->setImportOutPath(q(dir / "one.pdf"));
  m->setImportSourcePath(q(src));
  std::thread([m] { m->startImport(); }).join();
  ASSERT_TRUE(ended());
  EXPECT_EQ(recorder->ends, 1);
  EXPECT_EQ(recorder->progress, std::vector<double>{100.0});
}

TEST_F(VisioModulTest, AVsdxInAnyCaseIsPreProcessedAndConvertedFromTheSource) {
  // Its pages live outside the items the pre-processor packs again: only the source has them.
  auto parts = testsupport::vsdxParts({{8.5, 11.0, "packaged"}});
  for (auto& [name, content] : parts) {
    if (name.starts_with("visio/pages/")) name = "sheets/" + name.substr(12);
    auto replace = [&content](const std::string& from, const std::string& to) {
      for (std::size_t at = content.find(from); at != std::string::npos; at = content.find(from, at + to.size()))
        content.replace(at, from.size(), to);
    };
    if (name == "visio/_rels/document.xml.rels") replace("Target=\"pages/pages.xml\"", "Target=\"../sheets/pages.xml\"");
    if (name == "[Content_Types].xml") replace("/visio/pages/", "/sheets/");
  }
  const fs::path src = dir / "Plan.VSDX";
  ASSERT_TRUE(testsupport::writeZip(src, parts));
  const fs::path work = fs::path(qEnvironmentVariable("XDG_DATA_HOME").toStdString()) / "VSD2PDF";
  auto m = std::make_shared<VisioModul>();
  m->setDelegate(recorder);
  m->setImportSourcePath(q(src));
  m->setImportOutPath(q(dir / "out.pdf"));
  std::thread([m] { m->startImport(); }).join();
  ASSERT_TRUE(ended());
  EXPECT_TRUE(recorder->success) << recorder->error.toStdString();
  std::vector<fs::path> repacked;
  for (const auto& e : fs::recursive_directory_iterator(work))
    if (e.path().filename() == "Plan.vsdx" && e.path().parent_path().filename().string().starts_with("Plan.vsdx"))
      repacked.push_back(e.path());
  ASSERT_EQ(repacked.size(), 1u);
  EXPECT_EQ(getVSDFilePageNum(repacked.front()), 0);  // converted, it would have failed
  EXPECT_EQ(m->DocumentcountPage(), 1);
  EXPECT_TRUE(m->DocumentModulPDFDocument()->pageAtIndex(0)->string().contains("packaged"));
}

// The converter's end while the module is going (its observers can no longer act) still lets
// the converter and the tag go.
TEST_F(VisioModulTest, AnEndWhileTheModuleGoesStillReleasesTheConverter) {
  const fs::path src = dir.write("two.vdx", testsupport::vdxDrawing({{8.5, 11.0, "a"}, {8.5, 11.0, "b"}}));
  auto m = import(src, dir / "out.pdf");
  ASSERT_TRUE(m);
  const std::weak_ptr<SVG2PDF> converter = m->converter();
  ASSERT_FALSE(converter.expired());
  std::atomic<bool> endPosted{false};
  const auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      END_VSD_FILE_NOTI, m->visioSender(), [&](const foundation::Notification&) { endPosted = true; });
  // The pages are drawn through the main queue: pumping it as the module goes ends the
  // conversion right then.
  VisioModul::setGoingHook([&](const void*) { pumpUntil([&] { return endPosted.load(); }, std::chrono::seconds(60)); });
  m.reset();
  VisioModul::setGoingHook(nullptr);
  ASSERT_TRUE(endPosted);
  EXPECT_TRUE(pumpUntil([&] { return converter.expired(); }, std::chrono::seconds(5)));
  EXPECT_EQ(recorder->endCount(), 0);
}

// Each end of a tag's converters lets one of its conversions go; the tag goes with the last.
TEST_F(VisioModulTest, TheKeeperLetsOneConversionGoPerEnd) {
  auto tag = std::make_shared<const char>('t');
  const std::weak_ptr<const char> tagAlive = tag;
  auto first = std::make_shared<int>(1);
  auto second = std::make_shared<int>(2);
  const std::weak_ptr<int> firstAlive = first, secondAlive = second;
  const void* sender = tag.get();
  keepUntilVisioEnd(tag, std::move(first));
  keepUntilVisioEnd(std::move(tag), std::move(second));
  testsupport::pumpFor(std::chrono::milliseconds(10));
  EXPECT_FALSE(firstAlive.expired());
  EXPECT_FALSE(secondAlive.expired());
  auto& center = foundation::NotificationCenter::defaultCenter();
  center.post(END_VSD_PAGE_NOTI, sender, {{END_VSD_PAGE_NUM, 1}});
  center.post(END_VSD_FILE_NOTI, nullptr);
  testsupport::pumpFor(std::chrono::milliseconds(10));
  EXPECT_FALSE(firstAlive.expired());
  center.post(END_VSD_FILE_NOTI, sender);
  EXPECT_TRUE(pumpUntil([&] { return firstAlive.expired(); }));
  EXPECT_FALSE(secondAlive.expired());
  EXPECT_FALSE(tagAlive.expired());
  center.post(END_VSD_FILE_NOTI, sender);
  EXPECT_TRUE(pumpUntil([&] { return secondAlive.expired() && tagAlive.expired(); }));
}

TEST_F(VisioModulTest, AModuleDroppedDuringTheConversionLetsItFinishAlone) {
  const fs::path src = dir.write("two.vdx", testsupport::vdxDrawing({{8.5, 11.0, "a"}, {8.5, 11.0, "b"}}));
  auto m = import(src, dir / "out.pdf");
  ASSERT_TRUE(m);
  m.reset();
  // A module made now (perhaps at the same address) hears nothing of the old converter.
  auto next = std::make_shared<VisioModul>();
  auto other = std::make_shared<Recorder>();
  next->setDelegate(other);
  next->setImportSourcePath(q(dir / "y.vsd"));
  EXPECT_TRUE(pumpUntil([&] { return fs::exists(dir / "out.pdf"); }, std::chrono::seconds(60)));
  testsupport::pumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(recorder->endCount(), 0);
  EXPECT_EQ(other->endCount(), 0);
  EXPECT_TRUE(other->progress.empty());
}

// Every drawing, stencil and template of the corpus, with its page count (as vsd2raw counts
// pages, and for the packages as many as their pages part lists) and its text.
TEST_F(VisioModulTest, EveryCorpusDrawingOpensWithProgressAndItsPageCount) {
  const fs::path corpus = fs::path(LECTERN_CORPUS_DIR) / "visio";
  const std::map<std::string, int> pages = {
      {"Visio11FormatLine.vsd", 1}, {"Visio11PlanWithDimensions.vsd", 1}, {"Visio5PlanWithDimensions.vsd", 1},
      {"Visio6TextFieldsWithUnits.vsd", 1}, {"bgcolor.vsdx", 1}, {"bitmaps.vsd", 1}, {"blue-box.vsdx", 1},
      {"dwg.vsdx", 1}, {"fdo86729-utf8.vsd", 1}, {"qs-box.vsdx", 1}, {"tab-short-prefix.vsdx", 1},
      {"testfile1.vsdx", 1}, {"testfile3.vsdx", 1}};
  // A word of the drawings that carry text; the others are shapes and pictures only.
  const std::map<std::string, QString> words = {
      {"Visio11FormatLine.vsd", "middle"}, {"Visio11PlanWithDimensions.vsd", "Transparency"},
      {"Visio6TextFieldsWithUnits.vsd", "units"}, {"bgcolor.vsdx", "green"}, {"fdo86729-utf8.vsd", "aaa"}};
  std::set<std::string> seen;
  for (const auto& e : fs::directory_iterator(corpus)) {
    const std::string name = e.path().filename().string();
    SCOPED_TRACE(name);
    seen.insert(name);
    const auto expected = pages.find(name);
    ASSERT_NE(expected, pages.end()) << "a corpus drawing without its page count here";
    recorder = std::make_shared<Recorder>();
    auto m = import(e.path(), dir / (name + ".pdf"));
    ASSERT_TRUE(m);
    ASSERT_TRUE(ended());
    EXPECT_TRUE(recorder->success) << recorder->error.toStdString();
    EXPECT_EQ(m->DocumentcountPage(), expected->second);
    ASSERT_EQ(static_cast<int>(recorder->progress.size()), expected->second);
    EXPECT_EQ(recorder->progress.back(), 100.0);
    QString text;
    for (int i = 0; i < m->DocumentModulPDFDocument()->pageCount(); ++i)
      text += m->DocumentModulPDFDocument()->pageAtIndex(i)->string();
    if (auto w = words.find(name); w != words.end()) {
      EXPECT_TRUE(text.contains(w->second)) << text.toStdString();
    }
  }
  std::set<std::string> listed;
  for (const auto& [name, count] : pages) listed.insert(name);
  EXPECT_EQ(seen, listed);
}

// A stencil named .vsx is no XPS package: the Visio module takes it.
TEST_F(VisioModulTest, AVsxStencilComesToTheVisioModule) {
  XPSModul::registerModul();
  const fs::path src = dir.write("shapes.vsx", testsupport::vdxDrawing({{8.5, 11.0, "Master"}}, true));
  auto m = import(src, dir / "out.pdf");
  ASSERT_TRUE(m);
  ASSERT_TRUE(ended());
  EXPECT_TRUE(recorder->success) << recorder->error.toStdString();
  EXPECT_EQ(m->DocumentcountPage(), 1);
}
