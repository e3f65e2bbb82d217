#include "modules/pdf/PDFModul.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QPrinter>
#include <QScrollBar>
#include <QThread>

#include <thread>

#include "platform/pdfkit/PDFView.h"
#include "core/XVNotifications.h"
#include "core/XVPreviewInfo.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

using testsupport::pumpUntil;

namespace {

QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

struct Recorder : ImportProgressDelegate {
  int starts = 0;
  int ends = 0;
  bool success = false;
  QString error;
  void ImportProgressDelegate_start(ImportInterface*) override { ++starts; }
  void ImportProgressDelegate_Progress(double, ImportInterface*) override {}
  void ImportProgressDelegate_end(bool ok, ImportInterface*, const QString& e) override {
    ++ends;
    success = ok;
    error = e;
  }
};

class PDFModulTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PDFModul::registerModul();
    std::filesystem::create_directory(dir / "cache");
    ASSERT_TRUE(testsupport::writeNumberedPdf(source(), 12, "needle", {1, 5, 11}));
  }
  QString source() const { return q(dir / "doc.pdf"); }
  QString cached() const { return q(dir / "cache" / "ID1"); }

  std::shared_ptr<PDFModul> import(const QString& src, const QString& out) {
    auto m = std::dynamic_pointer_cast<PDFModul>(DocumentModul::documentModulFilePath(src));
    if (!m) return nullptr;
    m->setDelegate(recorder);
    m->setImportSourcePath(src);
    m->setImportOutPath(out);
    m->startImport();
    return m;
  }
  // An imported module with its view made and sized.
  std::shared_ptr<PDFModul> shown() {
    auto m = import(source(), cached());
    QWidget* v = m->documentView();
    v->resize(900, 700);
    v->show();
    pumpUntil([&] { return m->DocumentcountPage() > 0 && m->currentPage() != nullptr; });
    return m;
  }
  int currentIndex(PDFModul& m) { return static_cast<int>(m.currentNumberPage()); }

  testsupport::TempDir dir;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

}  // namespace

TEST_F(PDFModulTest, ImportCopiesIntoTheCacheOpensTheSourceAndEndsOnce) {
  auto m = import(source(), cached());
  ASSERT_TRUE(m);
  EXPECT_EQ(recorder->ends, 1);
  EXPECT_EQ(recorder->starts, 0);
  EXPECT_TRUE(recorder->success);
  EXPECT_EQ(testsupport::readFile(dir / "cache" / "ID1"), testsupport::readFile(dir / "doc.pdf"));
  ASSERT_TRUE(m->DocumentModulPDFDocument());
  EXPECT_EQ(m->DocumentModulPDFDocument()->documentPath(), QDir(source()).absolutePath());
  EXPECT_EQ(m->DocumentcountPage(), 12);
  // Nothing but the cached file in the cache folder.
  EXPECT_EQ(QDir(q(dir / "cache")).entryList(QDir::Files | QDir::Hidden), QStringList{"ID1"});
}

TEST_F(PDFModulTest, FailedCopyOrUnreadableSourceEndsWithNo) {
  struct Case {
    QString src;
    QString out;
    QString error;  // empty: any text
  };
  dir.write("junk.pdf", "%PDF-1.4 garbage");
  dir.write("empty.pdf",
            "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
            "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n"
            "trailer\n<< /Root 1 0 R >>\n%%EOF\n");
  const Case cases[] = {
      {source(), q(dir / "no-such-folder" / "ID"), {}},  // the copy fails
      {q(dir / "missing.pdf"), q(dir / "cache" / "ID2"), {}},
      {q(dir / "junk.pdf"), q(dir / "cache" / "ID3"), "An unknown error"},  // copied, cannot be opened
      {QStringLiteral(LECTERN_CORPUS_DIR "/pdf/libreoffice-writer-password.pdf"), q(dir / "cache" / "ID4"),
       "It is protected by a password."},
      {q(dir / "empty.pdf"), q(dir / "cache" / "ID5"), "It has no pages."},
  };
  for (const Case& c : cases) {
    recorder = std::make_shared<Recorder>();
    auto m = import(c.src, c.out);
    ASSERT_TRUE(m);
    EXPECT_EQ(recorder->ends, 1) << c.src.toStdString();
    EXPECT_FALSE(recorder->success) << c.src.toStdString();
    EXPECT_FALSE(recorder->error.isEmpty());
    if (!c.error.isEmpty()) {
      EXPECT_EQ(recorder->error, c.error) << c.src.toStdString();
    }
    EXPECT_EQ(m->DocumentModulPDFDocument(), nullptr);
    EXPECT_EQ(m->documentView(), nullptr);
  }
  EXPECT_FALSE(QFile::exists(q(dir / "cache" / "ID2")));
}

TEST_F(PDFModulTest, ModuleBuiltOnALoadThreadMakesItsWidgetsOnTheGuiThread) {
  std::shared_ptr<PDFModul> m;
  QWidget* offThread = reinterpret_cast<QWidget*>(1);
  std::thread loader([&] {
    m = import(source(), cached());
    offThread = m->documentView();
  });
  loader.join();
  ASSERT_TRUE(m && m->documentViewController());
  EXPECT_EQ(offThread, nullptr);
  EXPECT_FALSE(m->documentViewController()->isViewLoaded());
  testsupport::pumpFor(std::chrono::milliseconds(20));  // the queued refresh finds no view yet

  QWidget* view = m->documentView();
  ASSERT_TRUE(view);
  EXPECT_EQ(view->thread(), QApplication::instance()->thread());
  EXPECT_EQ(m->documentViewController()->pdfView()->document(), m->DocumentModulPDFDocument());
  EXPECT_EQ(m->documentViewController()->thumbnailModel()->rowCount(), 12);
}

TEST_F(PDFModulTest, ModuleReleasedOnAnotherThreadLeavesItsWidgetsToTheGuiThread) {
  auto m = shown();
  std::weak_ptr<DocumentViewController> controller = m->documentViewController();
  QPointer<QWidget> view = m->documentView();
  QPointer<pdfkit::PDFView> page = m->documentViewController()->pdfView();
  std::thread([m = std::move(m)]() mutable { m.reset(); }).join();
  // The widgets live on until the GUI thread takes them down, and with them what they show.
  ASSERT_FALSE(view.isNull());
  ASSERT_FALSE(controller.expired());
  page->goToLastPage();
  page->viewport()->repaint();
  ASSERT_TRUE(pumpUntil([&] { return view.isNull(); }));
  EXPECT_TRUE(controller.expired());
}

TEST_F(PDFModulTest, ResetViewSizeAppliesTheFrame) {
  auto m = shown();
  m->ResetViewSize(QRectF(0, 0, 640, 480));
  EXPECT_EQ(m->documentView()->size(), QSize(640, 480));
  std::thread([&] { m->ResetViewSize(QRectF(0, 0, 500, 400)); }).join();
  pumpUntil([&] { return m->documentView()->width() == 500; });
  EXPECT_EQ(m->documentView()->size(), QSize(500, 400));
}

TEST_F(PDFModulTest, ZoomStepsAndViewSettings) {
  auto m = shown();
  auto info = std::make_shared<XVPreviewInfo>();
  m->setPreviewInfo(info);
  auto* v = m->documentViewController()->pdfView();
  m->setScale(1.0);
  for (int i = 0; i < 3; ++i) m->setZoomIn();
  EXPECT_NEAR(v->scaleFactor(), 1.728, 1e-4);
  m->setZoomOut();
  EXPECT_NEAR(v->scaleFactor(), 1.44, 1e-4);
  EXPECT_DOUBLE_EQ(info->zoomValue(), v->scaleFactor());
  EXPECT_FALSE(info->widthStretch());
  m->setAutoResize(true);
  EXPECT_TRUE(v->autoScales());
  EXPECT_TRUE(info->widthStretch());
  m->setAutoResize(false);
  EXPECT_FALSE(v->autoScales());
  EXPECT_FALSE(info->widthStretch());
  m->setScale(500);
  EXPECT_DOUBLE_EQ(info->zoomValue(), pdfkit::PDFView::kMaxScale);
}

TEST_F(PDFModulTest, DisplayModesFollowTheTwoFlagsAndKeepThePage) {
  const struct {
    bool one, cont;
    int mode;
  } cases[] = {{true, true, 1}, {true, false, 0}, {false, true, 3}, {false, false, 2}};
  auto m = shown();
  m->goPageAtIndex(4);
  for (const auto& c : cases) {
    EXPECT_EQ(PDFModul::displayModeFor(c.one, c.cont), c.mode);
    m->setshowOneOrTwoPageIsOne(c.one);
    m->setshowPageContinue(c.cont);
    EXPECT_EQ(m->documentViewController()->pdfView()->displayMode(), c.mode);
    EXPECT_EQ(currentIndex(*m), 4);
  }
  m->goPageAtIndex(12);  // past the end: ignored
  m->goPageAtIndex(-1);
  EXPECT_EQ(currentIndex(*m), 4);
}

TEST_F(PDFModulTest, SwitchingBetweenOneAndTwoPagesFitsTheRowsToTheWidth) {
  auto m = shown();
  auto* view = m->documentViewController()->pdfView();
  m->setScale(1.5);  // one page already wider than the view
  ASSERT_GT(view->horizontalScrollBar()->maximum(), 0);
  m->setshowOneOrTwoPageIsOne(false);
  EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);
  EXPECT_LT(view->scaleFactor(), 1.5);
  // Back to one page: fitted again, larger than the two-up scale.
  const double twoUp = view->scaleFactor();
  m->setshowOneOrTwoPageIsOne(true);
  EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);
  EXPECT_GT(view->scaleFactor(), twoUp);
}

TEST_F(PDFModulTest, RotationsTurnBackAndKeepTheCurrentPage) {
  auto m = shown();
  auto* doc = m->DocumentModulPDFDocument();
  m->goPageAtIndex(3);
  m->rotateCurPageleft();
  EXPECT_EQ(doc->pageAtIndex(3)->rotation(), 270);
  m->rotateCurPage(90);
  EXPECT_EQ(doc->pageAtIndex(3)->rotation(), 0);
  m->rotatePage(doc->pageAtIndex(3), 450);
  EXPECT_EQ(doc->pageAtIndex(3)->rotation(), 90);
  m->rotateAllPage(90);
  EXPECT_EQ(currentIndex(*m), 3);
  EXPECT_EQ(doc->pageAtIndex(3)->rotation(), 180);
  EXPECT_EQ(doc->pageAtIndex(0)->rotation(), 90);
  m->rotateAllPageleft();
  EXPECT_EQ(doc->pageAtIndex(0)->rotation(), 0);
  m->rotatePage(nullptr, 90);  // nothing happens
}

TEST_F(PDFModulTest, WriteBackKeepsRotationsAcrossReopenAndNeverTouchesTheSource) {
  const std::string sourceBytes = testsupport::readFile(dir / "doc.pdf");
  {
    auto m = shown();
    m->goPageAtIndex(2);
    m->rotateCurPage(90);
    m->setNeedSave(true);
    EXPECT_TRUE(m->needSave());
    EXPECT_TRUE(m->needSaveDocument());
    EXPECT_FALSE(m->needSave());
  }
  EXPECT_EQ(testsupport::readFile(dir / "doc.pdf"), sourceBytes);
  // Reopened from the cache (a cache hit opens the cached file directly).
  auto again = std::make_shared<PDFModul>();
  again->setImportOutPath(cached());
  ASSERT_TRUE(again->importWithResultPath(cached()));
  EXPECT_EQ(again->DocumentModulPDFDocument()->pageAtIndex(2)->rotation(), 90);
  EXPECT_EQ(again->DocumentModulPDFDocument()->pageAtIndex(1)->rotation(), 0);
  // Turned further and written over the file it shows.
  again->rotatePage(again->DocumentModulPDFDocument()->pageAtIndex(2), 90);
  EXPECT_TRUE(again->needSaveDocument());
  EXPECT_EQ(pdfkit::PDFDocument::initWithURL(cached())->pageAtIndex(2)->rotation(), 180);
}

TEST_F(PDFModulTest, FailedWriteBackKeepsTheOldFile) {
  auto m = import(source(), cached());
  m->rotatePage(m->DocumentModulPDFDocument()->pageAtIndex(0), 90);
  // The cached copy lost pages under the module: the write is refused and the file stays.
  ASSERT_TRUE(testsupport::writeNumberedPdf(cached(), 2));
  const std::string before = testsupport::readFile(dir / "cache" / "ID1");
  EXPECT_FALSE(m->needSaveDocument());
  EXPECT_EQ(testsupport::readFile(dir / "cache" / "ID1"), before);
  EXPECT_EQ(QDir(q(dir / "cache")).entryList(QDir::Files | QDir::Hidden), QStringList{"ID1"});
}

TEST_F(PDFModulTest, WriteBackTakesThePagesFromTheCachedCopyNotTheSource) {
  // The cache entry belongs to the source's content at import: a later change of the source,
  // or its removal, must neither end up in the cache nor lose the rotations.
  const std::function<void()> changes[] = {
      [&] { ASSERT_TRUE(testsupport::writeNumberedPdf(source(), 12, "other", {0})); },
      [&] { ASSERT_TRUE(QFile::remove(source())); },
  };
  for (const auto& change : changes) {
    ASSERT_TRUE(testsupport::writeNumberedPdf(source(), 12, "needle", {1, 5, 11}));
    QFile::remove(cached());
    auto m = import(source(), cached());
    ASSERT_TRUE(m && m->DocumentModulPDFDocument());
    m->rotatePage(m->DocumentModulPDFDocument()->pageAtIndex(1), 90);
    change();
    ASSERT_TRUE(m->needSaveDocument());
    auto back = pdfkit::PDFDocument::initWithURL(cached());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->pageAtIndex(1)->rotation(), 90);
    EXPECT_EQ(back->findString("needle").size(), 3);
    EXPECT_TRUE(back->findString("other").isEmpty());
  }
}

TEST_F(PDFModulTest, TwoTabsOfOneContentBothKeepTheirTurnsOnWriteBack) {
  // A file and its copy have one content, so their tabs share one cached PDF.
  ASSERT_TRUE(QFile::copy(source(), q(dir / "copy.pdf")));
  for (const bool copyFirst : {false, true}) {
    SCOPED_TRACE(copyFirst ? "the copy's tab writes first" : "the file's tab writes first");
    QFile::remove(cached());
    auto file = import(source(), cached());
    auto copy = import(q(dir / "copy.pdf"), cached());
    ASSERT_TRUE(file && copy && file->DocumentModulPDFDocument() && copy->DocumentModulPDFDocument());
    auto turn = [](PDFModul& m, int page, int degrees) {
      m.rotatePage(m.DocumentModulPDFDocument()->pageAtIndex(page), degrees);
      m.setNeedSave(true);
    };
    turn(*file, 3, 180);  // only in the file's tab
    turn(*copy, 7, 90);   // only in the copy's tab
    turn(*file, 9, 90);   // in both
    turn(*copy, 9, 270);
    PDFModul& first = copyFirst ? *copy : *file;
    PDFModul& last = copyFirst ? *file : *copy;
    ASSERT_TRUE(first.needSaveDocument());
    ASSERT_TRUE(last.needSaveDocument());
    auto back = pdfkit::PDFDocument::initWithURL(cached());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->pageAtIndex(3)->rotation(), 180);
    EXPECT_EQ(back->pageAtIndex(7)->rotation(), 90);
    EXPECT_EQ(back->pageAtIndex(9)->rotation(), copyFirst ? 90 : 270);  // the last writer's
    EXPECT_EQ(back->pageAtIndex(0)->rotation(), 0);
    EXPECT_EQ(back->findString("needle").size(), 3);
  }
}

TEST_F(PDFModulTest, SearchShowsMatchesOnceAndRunsAgainAfterClearing) {
  auto m = shown();
  auto info = std::make_shared<XVPreviewInfo>();
  m->setPreviewInfo(info);
  int ends = 0;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      SearchForThunbnailNotification, [&](const foundation::Notification&) { ++ends; });
  auto controller = m->documentViewController();

  m->searchContent("NEEDLE");
  EXPECT_EQ(m->getSearchString(), "NEEDLE");
  EXPECT_EQ(info->searchString(), "NEEDLE");
  ASSERT_TRUE(pumpUntil([&] { return ends == 1; }));
  ASSERT_EQ(m->searchResultArray().size(), 3);
  EXPECT_TRUE(controller->showsSearchResults());
  EXPECT_FALSE(m->isShow());
  EXPECT_FALSE(controller->sidePanel()->isHidden());
  EXPECT_EQ(controller->searchModel()->rowCount(), 3);
  EXPECT_EQ(controller->pdfView()->highlightedSelections().size(), 3);

  m->searchContent("NEEDLE");  // the same text again: nothing
  EXPECT_FALSE(m->DocumentModulPDFDocument()->isFinding());
  testsupport::pumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(ends, 1);

  m->searchContent("");
  EXPECT_TRUE(m->searchResultArray().isEmpty());
  EXPECT_TRUE(m->searchString().isNull());
  EXPECT_TRUE(info->searchString().isNull());
  EXPECT_TRUE(controller->pdfView()->highlightedSelections().isEmpty());
  m->searchEndState();
  EXPECT_FALSE(controller->showsSearchResults());

  m->searchContent("NEEDLE");
  ASSERT_TRUE(pumpUntil([&] { return ends == 2; }));
  EXPECT_EQ(m->searchResultArray().size(), 3);
}

TEST_F(PDFModulTest, TwoModulesSearchingEachShowOnlyTheirOwnMatches) {
  const QString other = q(dir / "other.pdf");
  ASSERT_TRUE(testsupport::writeNumberedPdf(other, 6, "needle", {0}));
  auto a = shown();
  auto b = import(other, q(dir / "cache" / "ID9"));
  b->documentView();
  int ends = 0;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      SearchForThunbnailNotification, [&](const foundation::Notification&) { ++ends; });
  a->searchContent("needle");
  b->searchContent("needle");
  ASSERT_TRUE(pumpUntil([&] { return ends == 2; }));
  testsupport::pumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(ends, 2);
  EXPECT_EQ(a->searchResultArray().size(), 3);
  ASSERT_EQ(b->searchResultArray().size(), 1);
  for (const auto& s : a->searchResultArray()) EXPECT_EQ(s.page()->document(), a->DocumentModulPDFDocument());
  EXPECT_EQ(b->documentViewController()->searchResultData().size(), 1);
}

TEST_F(PDFModulTest, PrintsTheChosenRangeAsShownToAPdfFile) {
  auto m = shown();
  m->goPageAtIndex(3);
  m->rotateCurPage(90);
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(q(dir / "print.pdf"));
  printer.setPrintRange(QPrinter::PageRange);
  printer.setFromTo(2, 4);
  ASSERT_TRUE(m->printWithPrinter(&printer));
  auto printed = pdfkit::PDFDocument::initWithURL(q(dir / "print.pdf"));
  ASSERT_TRUE(printed);
  ASSERT_EQ(printed->pageCount(), 3);
  for (int k = 0; k < 3; ++k) {
    const QString text = printed->pageAtIndex(k)->string();
    EXPECT_TRUE(text.contains(QStringLiteral("Page %1").arg(k + 2))) << k << " " << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("Page 1\n"))) << k;
  }
  // The turned page keeps the user's turn: its line runs down the sheet.
  const QList<pdfkit::PDFSelection> turned = printed->findString(QStringLiteral("Page 4"));
  ASSERT_EQ(turned.size(), 1);
  EXPECT_GT(turned[0].bounds().height(), turned[0].bounds().width());
  const QList<pdfkit::PDFSelection> upright = printed->findString(QStringLiteral("Page 3"));
  ASSERT_EQ(upright.size(), 1);
  EXPECT_LT(upright[0].bounds().height(), upright[0].bounds().width());
}

TEST_F(PDFModulTest, WithoutADocumentOperationsDoNothingButFlagsAndSearchTextAreKept) {
  PDFModul m;
  EXPECT_EQ(m.documentView(), nullptr);
  m.goNextPage();
  m.setZoomIn();
  m.rotateAllPage(90);
  m.rotateCurPageleft();
  m.print();
  m.searchContent("text");
  EXPECT_EQ(m.getSearchString(), "text");
  m.setshowPageContinue(false);
  m.setshowOneOrTwoPageIsOne(false);
  EXPECT_FALSE(m.pageContinue());
  EXPECT_FALSE(m.oneOrTwoPageIsOne());
  EXPECT_EQ(m.currentPage(), nullptr);
  EXPECT_EQ(m.curPageIndex(), -1);
  EXPECT_FALSE(m.needSaveDocument());
  EXPECT_TRUE(m.isShow());
}

TEST_F(PDFModulTest, FormatListsAndFactory) {
  PDFModul m;
  QStringList save, extract;
  for (const Format& f : m.SupportSaveFormats()) save << f.formatName() + "/" + f.extension();
  for (const Format& f : m.SupportExtractFormats()) extract << f.formatName() + "/" + f.extension();
  EXPECT_EQ(save, QStringList({"PDF/pdf", "TEXT/txt", "PNG/png", "JPEG/jpg", "BMP/bmp", "GIF/gif", "TIFF/tiff"}));
  EXPECT_EQ(extract, QStringList({"PNG/png", "JPEG/jpg", "BMP/bmp", "GIF/gif", "TIFF/tiff"}));
  EXPECT_TRUE(std::dynamic_pointer_cast<PDFModul>(DocumentModul::documentModulFilePath("/x/a.pdf")));
  EXPECT_FALSE(DocumentModul::documentModulFilePath("/x/a.dxf"));
}
