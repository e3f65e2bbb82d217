#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>

#include "core/XVErrorTexts.h"
#include "export_test_util.h"
#include "modules/export/XVConverter.h"
#include "pdf_inspect.h"
#include "raw_pdf.h"
#include "support/pdf_fixture.h"

using namespace exporttest;

namespace {

class ConverterTest : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  std::unique_ptr<pdfkit::PDFDocument> document;
  std::shared_ptr<ConverterRecorder> recorder = std::make_shared<ConverterRecorder>();

  QString out() const { return q(dir / "out"); }
  void SetUp() override { QDir().mkpath(out()); }
  void openPages(const std::vector<testsupport::PdfPageContent>& pages) {
    ASSERT_TRUE(testsupport::writePdf(q(dir / "doc.pdf"), pages));
    document = pdfkit::PDFDocument::initWithURL(q(dir / "doc.pdf"));
    ASSERT_TRUE(document);
  }
  void openRaw(const std::string& bytes) {
    dir.write("doc.pdf", bytes);
    document = pdfkit::PDFDocument::initWithURL(q(dir / "doc.pdf"));
    ASSERT_TRUE(document);
  }
  std::shared_ptr<XVConverter> converter(const QString& formatName, qint64 start, qint64 end, const QString& name = "Report") {
    auto c = XVConverter::converterWithFormat(Format::formatNamed(formatName));
    c->setOutFilePath(q(dir / "source.wps"));
    c->setDelegate(recorder);
    c->setConvertDocument(document.get());
    c->setOutDirector(out());
    c->setOutFileName(name);
    c->setConvertStartPage(start, end);
    return c;
  }
  // Runs `c` to its end and answers whether it reported YES.
  bool run(const std::shared_ptr<XVConverter>& c) {
    c->startConvert();
    EXPECT_TRUE(recorder->reports.waitEnd());
    EXPECT_TRUE(c->waitUntilEnded(std::chrono::seconds(30)));
    return recorder->reports.end.value_or(false);
  }
  QList<QUrl> urls(const QStringList& names) const {
    QList<QUrl> u;
    for (const QString& n : names) u << QUrl::fromLocalFile(out() + "/" + n);
    return u;
  }
  QStringList files() const { return QDir(out()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
};

TEST(ConverterRules, TypeByExactFormatName) {
  const std::pair<const char*, int> cases[] = {{"PDF", 1}, {"TEXT", 2}, {"PNG", 0}, {"GIF", 0}, {"pdf", 0}, {"Text", 0}, {"", 0}};
  for (auto [name, type] : cases) {
    Format f = Format::format();
    f.setFormatName(name);
    EXPECT_EQ(XVConverter::converterTypeByFormat(f), type) << name;
  }
}

TEST(ConverterRules, WindowsLineEndingsAndNoObjectReplacementCharacters) {
  const std::pair<QString, QString> cases[] = {
      {"one\ntwo", "one\r\ntwo"},
      {"one\r\ntwo\nthree", "one\r\ntwo\nthree"},
      {"one\rtwo", "one\r\ntwo"},
      {QString("pic") + QChar(0xFFFC) + "ture\n", "picture\r\n"},
      {"", ""},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(XVConverter::windowsSupportString(in), want) << in.toStdString();
}

TEST_F(ConverterTest, PagesThreeToFiveAsPngAreNumberedByPage) {
  openPages({{{"1"}}, {{"2"}}, {{"3"}}, {{"4"}}, {{"5"}}, {{"6"}}});
  auto c = converter("PNG", 2, 4);
  ASSERT_TRUE(run(c));
  EXPECT_EQ(recorder->reports.urls, urls({"Report_3.png", "Report_4.png", "Report_5.png"}));
  EXPECT_EQ(files(), QStringList({"Report_3.png", "Report_4.png", "Report_5.png"}));
  EXPECT_EQ(recorder->reports.progress.size(), 3u);
  QImage third(out() + "/Report_3.png");
  EXPECT_EQ(third.size(), QSize(595, 842));
}

TEST_F(ConverterTest, CancelAfterTwoPagesKeepsTheirFilesAndSurvivesTheConverterDroppedAtTheEnd) {
  openPages({{{"1"}}, {{"2"}}, {{"3"}}, {{"4"}}});
  auto c = converter("JPEG", 0, 3);
  std::weak_ptr<XVConverter> weak = c;
  std::shared_ptr<XVConverter> held = c;
  recorder->onProgressHook = [&] {
    if (recorder->reports.progress.size() == 2) held->stopConvert();
  };
  // The browser lets go of the converter from inside its end report.
  recorder->onEndHook = [&] { held.reset(); };
  c->startConvert();
  c.reset();
  ASSERT_TRUE(recorder->reports.waitEnd());
  EXPECT_FALSE(*recorder->reports.end);
  EXPECT_EQ(recorder->reports.urls, urls({"Report_1.jpg", "Report_2.jpg"}));
  EXPECT_EQ(files(), QStringList({"Report_1.jpg", "Report_2.jpg"}));
  EXPECT_TRUE(testsupport::pumpUntil([&] { return weak.expired(); }));
}

TEST_F(ConverterTest, PdfKeepsPagesBoxesRotationAndText) {
  openRaw(rawPdf({{"Alpha", std::nullopt, std::nullopt, std::nullopt},
                  {"Beta", "0 0 400 500", "10 20 390 480", 90},
                  {"Gamma", std::nullopt, std::nullopt, std::nullopt},
                  {"Delta", std::nullopt, std::nullopt, 270}},
                 "0 0 612 792", 180));
  document->pageAtIndex(2)->setRotation(document->pageAtIndex(2)->rotation() + 90);  // the user's turn
  auto c = converter("PDF", 1, 3);
  ASSERT_TRUE(run(c));
  EXPECT_EQ(recorder->reports.urls, urls({"Report.pdf"}));
  auto facts = inspectPdf((dir / "out" / "Report.pdf").string());
  ASSERT_TRUE(facts);
  ASSERT_EQ(facts->size(), 3u);
  EXPECT_EQ((*facts)[0].mediaBox, (std::array<double, 4>{0, 0, 400, 500}));
  EXPECT_EQ((*facts)[0].cropBox, (std::array<double, 4>{10, 20, 390, 480}));
  EXPECT_EQ((*facts)[0].rotate, 90);
  EXPECT_EQ((*facts)[1].mediaBox, (std::array<double, 4>{0, 0, 612, 792}));  // inherited in the source
  EXPECT_EQ((*facts)[1].rotate, 270);                                        // 180 inherited + the user's 90
  EXPECT_EQ((*facts)[2].rotate, 270);
  auto back = pdfkit::PDFDocument::initWithURL(out() + "/Report.pdf");
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->pageAtIndex(0)->string().contains("Beta"));
  EXPECT_TRUE(back->pageAtIndex(1)->string().contains("Gamma"));
  EXPECT_TRUE(back->pageAtIndex(2)->string().contains("Delta"));
  EXPECT_EQ(files(), QStringList({"Report.pdf"}));  // no temporary file left
}

TEST_F(ConverterTest, AWholeDocumentIsSavedOutsideARunWithItsRotations) {
  openRaw(rawPdf({{"Alpha", std::nullopt, std::nullopt, std::nullopt}, {"Beta", std::nullopt, std::nullopt, 90}}));
  document->pageAtIndex(0)->setRotation(180);
  dir.write("out/Existing.pdf", "old");
  const pdfkit::PDFDocument empty;
  struct Case {
    const char* what;
    const pdfkit::PDFDocument* doc;
    QString folder, name;
    bool replace;
    std::vector<int> rotations;  // of the written file's pages; empty when none is written
    QString error;
  };
  const Case cases[] = {
      {"the open document", document.get(), out(), "Whole", false, {180, 90}, QString()},
      {"an empty document", &empty, out(), "Empty", false, {}, QString()},
      {"an existing file without consent", document.get(), out(), "Existing", false, {}, XVErrorText::exportFileExists("Existing.pdf")},
      {"an existing file with consent", document.get(), out(), "Existing", true, {180, 90}, QString()},
      {"the document itself", document.get(), q(dir.path()), "doc", true, {}, XVErrorText::exportReplacesDocument("doc.pdf")},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    auto c = converter("PDF", 0, 0, k.name);
    c->setOutDirector(k.folder);
    c->setReplaceExisting(k.replace);
    const QString path = k.folder + "/" + k.name + ".pdf";
    const bool ok = c->savePdfDocumentfile(*k.doc);
    EXPECT_EQ(ok, k.error.isEmpty());
    EXPECT_EQ(c->errorInfo(), k.error);
    EXPECT_EQ(c->urlArray(), ok ? QList<QUrl>{QUrl::fromLocalFile(path)} : QList<QUrl>{});
    if (!ok) continue;
    auto facts = inspectPdf(path.toStdString());
    ASSERT_TRUE(facts);
    std::vector<int> rotations;
    for (const PageFacts& f : *facts) rotations.push_back(f.rotate);
    EXPECT_EQ(rotations, k.rotations);
  }
  EXPECT_EQ(testsupport::readFile(dir / "doc.pdf").substr(0, 5), "%PDF-");
  EXPECT_EQ(files(), QStringList({"Empty.pdf", "Existing.pdf", "Whole.pdf"}));
}

TEST_F(ConverterTest, RotatedPagesNeverComeOutSideways) {
  // The black square is at the top left of the unturned page; a quarter turn clockwise takes
  // it to the top right, a half turn to the bottom right.
  openRaw(rawPdf({{"", std::nullopt, std::nullopt, 90}, {"", std::nullopt, std::nullopt, std::nullopt}}));
  document->pageAtIndex(1)->setRotation(180);
  auto c = converter("PNG", 0, 1);
  ASSERT_TRUE(run(c));
  QImage turned(out() + "/Report_1.png"), half(out() + "/Report_2.png");
  ASSERT_EQ(turned.size(), QSize(792, 612));
  EXPECT_EQ(QColor(turned.pixel(792 - 20, 20)), QColor(Qt::black));
  EXPECT_EQ(QColor(turned.pixel(20, 20)), QColor(Qt::white));
  ASSERT_EQ(half.size(), QSize(612, 792));
  EXPECT_EQ(QColor(half.pixel(612 - 20, 792 - 20)), QColor(Qt::black));
  EXPECT_EQ(QColor(half.pixel(20, 20)), QColor(Qt::white));
}

TEST_F(ConverterTest, TextIsOneUtf8FileWithWindowsLineEndings) {
  openPages({{{"one", "two"}}, {{}}, {{"drei"}}});
  auto c = converter("TEXT", 0, 2);
  ASSERT_TRUE(run(c));
  EXPECT_EQ(recorder->reports.urls, urls({"Report.txt"}));
  QFile f(out() + "/Report.txt");
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
  EXPECT_TRUE(bytes.contains("one\r\ntwo")) << bytes.toStdString();
  EXPECT_TRUE(bytes.contains("drei"));
  EXPECT_EQ(bytes.count('\n'), bytes.count("\r\n"));
}

TEST_F(ConverterTest, NoTextGivesAnEmptyListAndNoFile) {
  openPages({{{}}, {{}}});
  auto c = converter("TEXT", 0, 1);
  ASSERT_TRUE(run(c));
  EXPECT_TRUE(recorder->reports.urls.isEmpty());
  EXPECT_TRUE(files().isEmpty());
}

TEST_F(ConverterTest, AFailedWriteEndsWithNoAndReportsOnlyTheFilesWritten) {
  openPages({{{"1"}}, {{"2"}}, {{"3"}}});
  QDir(out()).mkdir("Report_2.png");  // a folder cannot be replaced by a file
  auto c = converter("PNG", 0, 2);
  c->setReplaceExisting(true);
  EXPECT_FALSE(run(c));
  EXPECT_EQ(recorder->reports.urls, urls({"Report_1.png"}));
  EXPECT_EQ(files(), QStringList({"Report_1.png"}));
  EXPECT_TRUE(c->errorInfo().contains("Report_2.png")) << c->errorInfo().toStdString();
}

TEST_F(ConverterTest, PagesThatDrawNoImageEndWithNoAndAreNamed) {
  // A page of no area, and one far too large to draw.
  RawPage empty, huge, text1, text3;
  empty.mediaBox = "10 10 10 10";
  huge.mediaBox = "0 0 200000 200000";
  text1.text = "1";
  text3.text = "3";
  struct Case {
    const char* format;
    std::vector<RawPage> pages;
    QStringList written;
    QString error;
  };
  const Case cases[] = {
      {"PNG", {empty}, {}, "Page 1 cannot be drawn as an image."},
      {"JPEG", {text1, empty, text3, huge}, {"Report_1.jpg", "Report_3.jpg"}, "Pages 2 and 4 cannot be drawn as images."},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.format);
    for (const QString& f : files()) QFile::remove(out() + "/" + f);
    openRaw(rawPdf(k.pages));
    recorder = std::make_shared<ConverterRecorder>();
    auto c = converter(k.format, 0, static_cast<qint64>(k.pages.size()) - 1);
    EXPECT_FALSE(run(c));
    EXPECT_EQ(c->errorInfo(), k.error);
    EXPECT_EQ(files(), k.written);
    EXPECT_EQ(recorder->reports.urls, urls(k.written));
  }
}

TEST_F(ConverterTest, RefusedStartsEndWithNoAndLeaveEveryFileAsItWas) {
  openPages({{{"1"}}, {{"2"}}});
  QFile::copy(q(dir / "doc.pdf"), out() + "/Existing.pdf");
  dir.write("source.wps", "the user's source");
  struct Case {
    const char* format;
    qint64 start, end;
    QString folder, name;
    bool replace;
    QString error;
  };
  const QString docDir = q(dir.path());
  const Case cases[] = {
      {"PNG", 1, 0, out(), "R", false, XVErrorText::exportRangeOutsideDocument()},
      {"PNG", 0, 2, out(), "R", false, XVErrorText::exportRangeOutsideDocument()},
      {"PNG", -1, 0, out(), "R", false, XVErrorText::exportRangeOutsideDocument()},
      {"PDF", 0, 1, docDir, "doc", true, XVErrorText::exportReplacesDocument("doc.pdf")},
      {"TEXT", 0, 1, docDir, "source.wps", true, QString()},  // "source.wps.txt": allowed, not the source
      {"PDF", 0, 1, out(), "Existing", false, XVErrorText::exportFileExists("Existing.pdf")},
      {"PDF", 0, 1, out(), "../x", false, XVErrorText::exportWriteFailed("../x", "not a file name")},
  };
  const std::string docBytes = testsupport::readFile(dir / "doc.pdf");
  for (const Case& k : cases) {
    recorder = std::make_shared<ConverterRecorder>();
    auto c = converter(k.format, k.start, k.end, k.name);
    c->setOutDirector(k.folder);
    c->setReplaceExisting(k.replace);
    const bool ok = run(c);
    EXPECT_EQ(ok, k.error.isEmpty()) << k.name.toStdString();
    EXPECT_EQ(c->errorInfo(), k.error) << k.name.toStdString();
    EXPECT_EQ(recorder->reports.starts, 1);
    EXPECT_EQ(recorder->reports.ends, 1);
    if (!ok) {
      EXPECT_TRUE(recorder->reports.urls.isEmpty());
    }
  }
  EXPECT_EQ(testsupport::readFile(dir / "source.wps"), "the user's source");
  EXPECT_EQ(testsupport::readFile(dir / "doc.pdf"), docBytes);
  EXPECT_EQ(files(), QStringList({"Existing.pdf"}));
}

TEST_F(ConverterTest, ExistingFilesAreListedAndReplacedOnlyWithConsent) {
  openPages({{{"1"}}, {{"2"}}, {{"3"}}});
  dir.write("out/Report_2.png", "old");
  auto c = converter("PNG", 0, 2);
  EXPECT_EQ(c->existingOutputFiles(), QStringList({out() + "/Report_2.png"}));
  EXPECT_FALSE(run(c));
  EXPECT_EQ(testsupport::readFile(dir / "out" / "Report_2.png"), "old");
  EXPECT_EQ(files(), QStringList({"Report_2.png"}));

  recorder = std::make_shared<ConverterRecorder>();
  c = converter("PNG", 0, 2);
  c->setReplaceExisting(true);
  ASSERT_TRUE(run(c));
  EXPECT_EQ(files(), QStringList({"Report_1.png", "Report_2.png", "Report_3.png"}));
  EXPECT_FALSE(QImage(out() + "/Report_2.png").isNull());
}

}  // namespace
