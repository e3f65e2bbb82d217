#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "browser_fakes.h"
#include "core/XVErrorTexts.h"
#include "core/XVNotifications.h"
#include "gui_test_app.h"
#include "platform/foundation/notification_center.h"
#include "modules/export/ExportToSave.h"
#include "platform/pdfkit/PDFDocument.h"
#include "shell/XVBrowserControl.h"
#include "shell/XVBrowserExport.h"
#include "support/image_pdf.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

using testsupport::FakeDocumentModul;
using testsupport::FakeLoader;
using testsupport::PdfImage;
using testsupport::PdfImagePage;

namespace {

QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

// A page document over a real PDF, its current page chosen by index.
class PdfDocumentModul : public FakeDocumentModul {
 public:
  explicit PdfDocumentModul(const QString& path) : FakeDocumentModul(true), document(pdfkit::PDFDocument::initWithURL(path)) {
    setImportSourcePath(path);
    saveFormats = {Format::formatNamed("PDF"), Format::formatNamed("RTFD"), Format::formatNamed("PNG")};
    extractFormats = {Format::formatNamed("PNG"), Format::formatNamed("JPEG")};
  }
  pdfkit::PDFDocument* DocumentModulPDFDocument() override { return document.get(); }
  pdfkit::PDFPage* currentPage() override { return document->pageAtIndex(static_cast<int>(page)); }
  qint64 DocumentcountPage() override { return document->pageCount(); }
  std::unique_ptr<pdfkit::PDFDocument> document;
};

PdfImage solid(unsigned char r, unsigned char g, unsigned char b) {
  const std::string pixel{char(r), char(g), char(b)};
  return testsupport::rgbImage(2, 2, pixel + pixel + pixel + pixel);
}

class BrowserExport : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  std::unique_ptr<XVBrowserControl> browser;
  std::shared_ptr<FakeLoader> loader = std::make_shared<FakeLoader>();
  std::shared_ptr<PdfDocumentModul> module;
  XVBrowserExport* flow = nullptr;
  int shown = 0;
  QString shownFolder;
  QList<QUrl> shownFiles;

  QString out() const { return q(dir / "out"); }

  void SetUp() override {
    testsupport::guiApp();
    QDir().mkpath(out());
    browser = std::make_unique<XVBrowserControl>();
    browser->setDocumentLoader(loader);
    browser->resize(1000, 700);
    browser->show();
    flow = XVBrowserExport::install(browser.get());
    flow->setFolderShower([this](const QString& folder, const QList<QUrl>& files) {
      ++shown;
      shownFolder = folder;
      shownFiles = files;
    });
  }
  void TearDown() override {
    browser.reset();
    foundation::Dispatcher::drainMain();
  }
  // Opens a document in a tab; labelled i, ii, 1, 2, ... when `labels`.
  void open(const std::vector<PdfImagePage>& pages, bool labels = false) {
    const std::string name = "doc" + std::to_string(counter++) + ".pdf";
    dir.write(name, testsupport::imagePdf(pages, labels ? "0 << /S /r >> 2 << /S /D >>" : ""));
    module = std::make_shared<PdfDocumentModul>(q(dir / name));
    ASSERT_TRUE(module->document);
    browser->openFiles({q(dir / name)});
    loader->finish(q(dir / name), module);
    foundation::Dispatcher::drainMain();
  }
  ExportToSave* openDialog(bool extract) {
    QAction* a = extract ? browser->commands().actions().extractImages : browser->commands().actions().saveAs;
    EXPECT_TRUE(a->isEnabled());
    a->trigger();
    ExportToSave* d = flow->exportsave();
    EXPECT_TRUE(d && d->isVisible());
    if (d) {
      d->txtFolder()->setText(out());
      d->txtSaveName()->setText("Scan");
    }
    return d;
  }
  void choose(ExportToSave* d, const QString& format) {
    d->popFormat()->setCurrentIndex(d->popFormat()->findText(format));
    emit d->popFormat()->activated(d->popFormat()->currentIndex());
  }
  void pageMode(ExportToSave* d, int mode) {
    d->popPageMode()->setCurrentIndex(mode);
    emit d->popPageMode()->activated(mode);
  }
  bool waitEnd() {
    return testsupport::pumpUntil([this] { return !flow->running() && !flow->windowExportProgress()->isVisible(); });
  }
  QStringList files() const { return QDir(out()).entryList(QDir::Files, QDir::Name); }
  QString alertText() const { return flow->alert() ? flow->alert()->informativeText() : QString(); }
  int counter = 0;
};

TEST_F(BrowserExport, ExtractImagesWritesTheRangesImagesAndShowsTheFolder) {
  open({{{solid(255, 0, 0), solid(0, 255, 0)}}, {}, {{solid(0, 0, 255), solid(255, 0, 0), solid(0, 255, 0)}}, {}});
  ExportToSave* d = openDialog(true);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->popFormat()->count(), 2);
  choose(d, "JPEG");
  d->okButton()->click();
  // The progress dialog is up before any report of the worker can arrive.
  ASSERT_TRUE(flow->windowExportProgress() && flow->windowExportProgress()->isVisible());
  EXPECT_EQ(flow->textProgressExport()->text(), "0.0%");
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(files(), (QStringList{"Scan_1.jpg", "Scan_2.jpg", "Scan_3.jpg", "Scan_4.jpg", "Scan_5.jpg"}));
  EXPECT_EQ(flow->textProgressExport()->text(), "100.0%");
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(shownFolder, out());
  EXPECT_EQ(shownFiles.size(), 5);
  EXPECT_FALSE(flow->alert());
}

TEST_F(BrowserExport, PagesWithoutImagesSaySoAndShowNoFolder) {
  open({{}, {}});
  ExportToSave* d = openDialog(true);
  ASSERT_TRUE(d);
  d->okButton()->click();
  ASSERT_TRUE(waitEnd());
  ASSERT_TRUE(testsupport::pumpUntil([this] { return flow->alert() && flow->alert()->isVisible(); }));
  EXPECT_EQ(alertText(), XVErrorText::noImagesToExtract());
  EXPECT_EQ(flow->alert()->text(), "Warning");
  ASSERT_EQ(flow->alert()->buttons().size(), 1);
  EXPECT_EQ(flow->alert()->buttons().first()->text(), "YES");
  EXPECT_EQ(shown, 0);
  EXPECT_TRUE(files().isEmpty());
}

TEST_F(BrowserExport, ThePagesAreChosenByTheirPlaceWhateverTheirLabels) {
  // Labelled i, ii, 1, 2, 3; the current page is the fourth (labelled "2").
  open({{{solid(255, 0, 0)}}, {}, {}, {{solid(0, 255, 0)}}, {}}, true);
  module->page = 3;
  ExportToSave* d = openDialog(true);
  ASSERT_TRUE(d);
  pageMode(d, ExportPageRange::CurrentPage);
  EXPECT_EQ(d->txtPageStart()->text(), "4");
  EXPECT_TRUE(d->txtPageEnd()->isHidden());
  d->okButton()->click();
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(flow->saveStartPage(), 3);
  EXPECT_EQ(flow->saveEndPage(), 3);
  ASSERT_EQ(files(), QStringList{"Scan_1.png"});
  EXPECT_EQ(QImage(out() + "/Scan_1.png").pixelColor(0, 0), QColor(Qt::green));

  // Save As of pages 2 to 4 as page images, named by their page numbers.
  d = openDialog(false);
  ASSERT_TRUE(d);
  choose(d, "PNG");
  d->txtSaveName()->setText("Report");
  pageMode(d, ExportPageRange::PageRange);
  d->setStartPage(2);
  d->setEndPage(4);
  d->okButton()->click();
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(files(), (QStringList{"Report_2.png", "Report_3.png", "Report_4.png", "Scan_1.png"}));
}

TEST_F(BrowserExport, TheFieldsTakeOnlyAllowedPages) {
  std::vector<PdfImagePage> twelve(12);
  open(twelve);
  ExportToSave* d = openDialog(false);
  ASSERT_TRUE(d);
  pageMode(d, ExportPageRange::PageRange);
  EXPECT_EQ(d->txtPageStart()->text(), "1");
  EXPECT_EQ(d->txtPageEnd()->text(), "12");

  d->txtPageStart()->clear();
  QTest::keyClicks(d->txtPageStart(), "13");
  EXPECT_EQ(d->txtPageStart()->text(), "1") << "13 is refused at its second keystroke";
  d->txtPageStart()->clear();
  QTest::keyClicks(d->txtPageStart(), "x");
  EXPECT_EQ(d->txtPageStart()->text(), "");
  QTest::keyClicks(d->txtPageStart(), "0");
  EXPECT_EQ(d->txtPageStart()->text(), "") << "no page 0";
  QTest::keyClicks(d->txtPageStart(), "3");
  EXPECT_EQ(d->txtPageStart()->text(), "3");
  EXPECT_EQ(d->stepPageStart()->value(), 3);

  d->txtPageEnd()->clear();
  QTest::keyClicks(d->txtPageEnd(), "5");
  d->stepPageStart()->setValue(6);
  EXPECT_EQ(d->txtPageStart()->text(), "3") << "the start cannot pass the end";
  EXPECT_EQ(d->stepPageStart()->value(), 3);
  d->stepPageStart()->setValue(4);
  EXPECT_EQ(d->txtPageStart()->text(), "4");
  EXPECT_EQ(d->pages(), (ExportPageRange::Pages{3, 4}));

  // A format without pages exports them all.
  choose(d, "RTFD");
  EXPECT_FALSE(d->popPageMode()->isVisibleTo(d));
  EXPECT_EQ(d->pageMode(), ExportPageRange::AllPages);
  choose(d, "PNG");
  EXPECT_TRUE(d->popPageMode()->isVisibleTo(d));
  d->reject();
}

TEST_F(BrowserExport, AnInvalidRangeKeepsTheDialogOpen) {
  std::vector<PdfImagePage> twelve(12);
  open(twelve);
  ExportToSave* d = openDialog(false);
  ASSERT_TRUE(d);
  choose(d, "PNG");
  pageMode(d, ExportPageRange::PageRange);
  d->txtPageStart()->setText("20");
  d->okButton()->click();
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(d->txtPageStart()->text(), "1");
  EXPECT_EQ(alertText(), XVErrorText::invalidPageRange());
  EXPECT_EQ(flow->alert()->text(), "Warning");
  flow->alert()->close();

  d->txtPageEnd()->clear();
  d->okButton()->click();
  EXPECT_TRUE(d->isVisible()) << "an empty field is refused";
  EXPECT_EQ(alertText(), XVErrorText::invalidPageRange());
  flow->alert()->close();
  EXPECT_FALSE(flow->running());
  EXPECT_TRUE(files().isEmpty());
  d->reject();
}

TEST_F(BrowserExport, NamesStayInTheFolderAndFailedConversionsSaySo) {
  open({{{solid(255, 0, 0)}}});
  ExportToSave* d = openDialog(true);
  ASSERT_TRUE(d);
  d->txtSaveName()->setText("../Scan");
  d->okButton()->click();
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(alertText(), XVErrorText::exportNameLeavesFolder());
  flow->alert()->close();
  EXPECT_FALSE(QFile::exists(q(dir / "Scan_1.png")));

  d->txtFolder()->setText(q(dir / "missing"));
  d->txtSaveName()->setText("Scan");
  d->okButton()->click();
  EXPECT_EQ(alertText(), XVErrorText::exportFolderMissing());
  flow->alert()->close();
  d->reject();

  // RTFD converts the source again: a source its kit cannot read ends with the reason.
  d = openDialog(false);
  ASSERT_TRUE(d);
  choose(d, "RTFD");
  d->okButton()->click();
  ASSERT_TRUE(waitEnd());
  ASSERT_TRUE(testsupport::pumpUntil([this] { return flow->alert() != nullptr; }));
  EXPECT_FALSE(alertText().isEmpty());
  EXPECT_FALSE(QFileInfo::exists(out() + "/Scan.rtfd"));
  EXPECT_EQ(shown, 0);
}

TEST_F(BrowserExport, OneQuestionBeforeReplacingFiles) {
  open({{{solid(255, 0, 0), solid(0, 255, 0)}}});
  for (const char* name : {"Scan_1.png", "Scan_2.png"}) {
    QFile f(out() + "/" + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("old");
  }
  ExportToSave* d = openDialog(true);
  ASSERT_TRUE(d);
  d->okButton()->click();
  ASSERT_TRUE(flow->alert());
  EXPECT_EQ(flow->alert()->icon(), QMessageBox::Question);
  EXPECT_TRUE(flow->alert()->text().startsWith("2 files already exist"));
  flow->alert()->button(QMessageBox::Cancel)->click();
  testsupport::pumpFor(std::chrono::milliseconds(50));
  EXPECT_TRUE(d->isVisible()) << "a no leaves the dialog open";
  EXPECT_FALSE(flow->running());
  EXPECT_EQ(QFile(out() + "/Scan_1.png").size(), 3);

  d->okButton()->click();
  ASSERT_TRUE(flow->alert());
  QPushButton* replace = nullptr;
  for (QAbstractButton* b : flow->alert()->buttons())
    if (b->text() == "Replace") replace = qobject_cast<QPushButton*>(b);
  ASSERT_TRUE(replace);
  replace->click();
  ASSERT_TRUE(waitEnd());
  EXPECT_FALSE(d->isVisible());
  EXPECT_EQ(QImage(out() + "/Scan_2.png").pixelColor(0, 0), QColor(Qt::green));
  EXPECT_EQ(shown, 1);
}

TEST_F(BrowserExport, TheDocumentItselfIsRefusedBeforeAnyQuestion) {
  open({{{solid(255, 0, 0)}}});
  const QString source = module->sourcePath();
  const QByteArray before = [&] {
    QFile f(source);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }();
  ExportToSave* d = openDialog(false);
  ASSERT_TRUE(d);
  choose(d, "PDF");
  d->txtFolder()->setText(QFileInfo(source).absolutePath());
  d->txtSaveName()->setText(QFileInfo(source).completeBaseName());
  d->okButton()->click();
  ASSERT_TRUE(flow->alert());
  EXPECT_NE(flow->alert()->icon(), QMessageBox::Question) << flow->alert()->text().toStdString();
  EXPECT_EQ(alertText(), XVErrorText::exportReplacesDocument(QFileInfo(source).fileName()));
  flow->alert()->close();
  EXPECT_TRUE(d->isVisible()) << "another name or folder can still be chosen";
  EXPECT_FALSE(flow->running());
  QFile after(source);
  ASSERT_TRUE(after.open(QIODevice::ReadOnly));
  EXPECT_EQ(after.readAll(), before);
  d->reject();
}

TEST_F(BrowserExport, CancelStopsTheRunAndClosesTheProgress) {
  std::vector<PdfImagePage> pages(300, PdfImagePage{{solid(255, 0, 0)}});
  open(pages);
  ExportToSave* d = openDialog(true);
  ASSERT_TRUE(d);
  d->okButton()->click();
  ASSERT_TRUE(flow->windowExportProgress()->isVisible());
  flow->cancelButton()->click();
  ASSERT_TRUE(waitEnd());
  EXPECT_LT(files().size(), 300);
  EXPECT_FALSE(flow->alert()) << "a cancel is not a failure to report";
  EXPECT_EQ(shown, files().isEmpty() ? 0 : 1);
}

TEST_F(BrowserExport, TheToolNotificationSaysNoWhileTheProgressOrAnEndAlertIsUp) {
  std::vector<bool> posts;
  const foundation::ObserverToken token = foundation::NotificationCenter::defaultCenter().addObserver(
      XV_DOCUMENT_NEEDTOOLENABLE_NOTIFICATION, [&posts](const foundation::Notification& n) {
        const bool* enable = n.value<bool>(XVToolEnableUserInfoKey);
        ASSERT_TRUE(enable);
        posts.push_back(*enable);
      });
  const std::vector<PdfImagePage> many(300, PdfImagePage{{solid(255, 0, 0)}});
  const std::vector<PdfImagePage> two{{{solid(255, 0, 0)}}, {{solid(0, 255, 0)}}};
  const std::vector<PdfImagePage> blank{{}, {}};
  struct Case {
    const char* run;
    bool extract;
    const char* format;
    std::vector<PdfImagePage> pages;
    std::function<void()> before;  // after the dialog's OK
    std::vector<bool> posts;       // once the run's alert, if any, is closed
  } cases[] = {
      {"Save As", false, "PDF", two, [] {}, {false, true}},
      {"Save As that fails", false, "RTFD", two, [] {}, {false, true, false, true}},
      {"Save As cancelled", false, "PNG", many, [this] { flow->cancelButton()->click(); }, {false, true}},
      {"Extract", true, "PNG", two, [] {}, {false, true}},
      {"Extract without images", true, "PNG", blank, [] {}, {false, true, false, true}},
      {"Extract that fails", true, "PNG", two, [] {}, {false, true, false, true}},
      {"Extract cancelled", true, "PNG", many, [this] { flow->cancelButton()->click(); }, {false, true}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.run);
    QDir(out()).removeRecursively();
    QDir().mkpath(out());
    // A folder in the way of the first image: nothing to ask about, nothing can be written.
    if (std::string(c.run) == "Extract that fails") {
      ASSERT_TRUE(QDir().mkpath(out() + "/Scan_1.png"));
    }
    open(c.pages);
    ExportToSave* d = openDialog(c.extract);
    ASSERT_TRUE(d);
    choose(d, c.format);
    posts.clear();
    d->okButton()->click();
    c.before();
    ASSERT_TRUE(waitEnd());
    testsupport::pumpFor(std::chrono::milliseconds(20));
    if (flow->alert() && flow->alert()->isVisible()) {
      EXPECT_EQ(posts.back(), false) << "the alert is up";
      flow->alert()->buttons().first()->click();
      ASSERT_TRUE(testsupport::pumpUntil([this] { return !flow->alert(); }));
    }
    EXPECT_EQ(posts, c.posts);
  }
}

TEST_F(BrowserExport, AFailedRunSaysWhy) {
  open({{{solid(255, 0, 0), solid(0, 255, 0)}}});
  // A folder in the way of the first image: no file to ask about, and no file can be written.
  ASSERT_TRUE(QDir().mkpath(out() + "/Scan_1.png"));
  ExportToSave* d = openDialog(true);
  ASSERT_TRUE(d);
  d->okButton()->click();
  ASSERT_TRUE(waitEnd());
  ASSERT_TRUE(testsupport::pumpUntil([this] { return flow->alert() != nullptr; }));
  EXPECT_EQ(alertText(), XVErrorText::exportFileExists("Scan_1.png"));
  EXPECT_EQ(shown, 0);
  EXPECT_FALSE(QFile::exists(out() + "/Scan_2.png")) << "the run stops at the first failed file";
}

}  // namespace
