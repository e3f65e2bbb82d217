#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include "core/ProductInfo.h"
#include "core/XVErrorTexts.h"
#include "export_test_util.h"
#include "modules/export/ExportPageRange.h"
#include "modules/export/XVConverter.h"
#include "modules/export/XVExtract.h"
#include "support/flate_image.h"
#include "support/image_pdf.h"

using namespace exporttest;
using testsupport::PdfImage;
using testsupport::PdfImagePage;

namespace {

struct ExtractRecorder : ExtractProgressDelegate {
  Reports reports;
  std::function<void()> onProgressHook;
  void ExtractProgressDelegate_start() override { reports.onStart(); }
  void ExtractProgressDelegate_Progress(double p) override {
    reports.onProgress(p);
    if (onProgressHook) onProgressHook();
  }
  void ExtractProgressDelegate_end(bool ok, const QList<QUrl>& urls) override { reports.onEnd(ok, urls); }
};

// A 2 x 2 image of one colour.
PdfImage solid(unsigned char r, unsigned char g, unsigned char b) {
  const std::string pixel{char(r), char(g), char(b)};
  return testsupport::rgbImage(2, 2, pixel + pixel + pixel + pixel);
}

class ExtractTest : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  std::unique_ptr<pdfkit::PDFDocument> document;
  std::shared_ptr<ExtractRecorder> recorder = std::make_shared<ExtractRecorder>();

  QString out() const { return q(dir / "out"); }
  QString pdfPath() const { return q(dir / "doc.pdf"); }
  void SetUp() override { QDir().mkpath(out()); }
  void open(const std::vector<PdfImagePage>& pages, const std::string& labels = "") {
    dir.write("doc.pdf", testsupport::imagePdf(pages, labels));
    document = pdfkit::PDFDocument::initWithURL(pdfPath());
    ASSERT_TRUE(document);
  }
  std::shared_ptr<XVExtract> extractor(const QString& formatName, qint64 start, qint64 end, const QString& name = "Scan") {
    auto e = XVExtract::extractWithFormat(Format::formatNamed(formatName));
    e->setDelegate(recorder);
    e->setExtractDocument(document.get());
    e->setOutDirector(out());
    e->setOutFilePath(pdfPath());
    e->setOutFileName(name);
    e->setExtractStartPage(start, end);
    return e;
  }
  bool run(const std::shared_ptr<XVExtract>& e) {
    e->startExtract();
    EXPECT_TRUE(recorder->reports.waitEnd());
    EXPECT_TRUE(e->waitUntilEnded(std::chrono::seconds(30)));
    return recorder->reports.end.value_or(false);
  }
  QList<QUrl> urls(const QStringList& names) const {
    QList<QUrl> u;
    for (const QString& n : names) u << QUrl::fromLocalFile(out() + "/" + n);
    return u;
  }
  QStringList files() const { return QDir(out()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
  QColor colourOf(const QString& name) const { return QImage(out() + "/" + name).pixelColor(0, 0); }
};

TEST_F(ExtractTest, ImagesAreNumberedAcrossTheRunWithProgressPerPage) {
  const PdfImage red = solid(255, 0, 0), green = solid(0, 255, 0), blue = solid(0, 0, 255);
  open({{{red, green}}, {}, {{blue, red, green}}, {}});
  auto e = extractor("PNG", 0, 3);
  ASSERT_TRUE(run(e));
  const QStringList names{"Scan_1.png", "Scan_2.png", "Scan_3.png", "Scan_4.png", "Scan_5.png"};
  EXPECT_EQ(recorder->reports.urls, urls(names));
  EXPECT_EQ(files(), names);
  EXPECT_EQ(recorder->reports.progress, (std::vector<double>{25, 50, 75, 100}));
  EXPECT_EQ(recorder->reports.starts, 1);
  EXPECT_EQ(recorder->reports.ends, 1);
  const std::vector<QColor> colours{Qt::red, Qt::green, Qt::blue, Qt::red, Qt::green};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(colourOf(names[i]), colours[static_cast<size_t>(i)]) << i;
  EXPECT_TRUE(e->errorInfo().isEmpty());
}

TEST_F(ExtractTest, WritesEachChosenFormat) {
  open({{{solid(255, 0, 0)}}});
  for (const char* format : {"JPEG", "BMP", "GIF", "TIFF"}) {
    recorder = std::make_shared<ExtractRecorder>();
    auto e = extractor(format, 0, 0);
    ASSERT_TRUE(run(e)) << format;
    const QString name = "Scan_1." + Format::formatNamed(format).extension();
    EXPECT_EQ(recorder->reports.urls, urls({name}));
    const QColor c = colourOf(name);
    EXPECT_GT(c.red(), 200) << format;
    EXPECT_LT(c.green(), 60) << format;
  }
}

TEST_F(ExtractTest, TheRangeIsByPlaceInTheDocumentWhateverTheLabels) {
  // Labelled i, ii, 1: the second and third pages are pages 1 and 2 (0-based) of the range.
  open({{{solid(255, 0, 0)}}, {{solid(0, 255, 0)}}, {{solid(0, 0, 255)}}}, "0 << /S /r >> 2 << /S /D >>");
  auto e = extractor("PNG", 1, 2);
  ASSERT_TRUE(run(e));
  EXPECT_EQ(files(), (QStringList{"Scan_1.png", "Scan_2.png"}));
  EXPECT_EQ(colourOf("Scan_1.png"), QColor(Qt::green));
  EXPECT_EQ(colourOf("Scan_2.png"), QColor(Qt::blue));
}

TEST_F(ExtractTest, PagesWithoutImagesEndWellWithNothing) {
  open({{}, {}});
  ASSERT_TRUE(run(extractor("PNG", 0, 1)));
  EXPECT_TRUE(recorder->reports.urls.isEmpty());
  EXPECT_TRUE(files().isEmpty());
}

TEST_F(ExtractTest, EachRunWorksInAFolderOfItsOwnHoldingOnlyTheCurrentPage) {
  open({{{solid(255, 0, 0), solid(0, 255, 0)}}, {{solid(0, 0, 255)}}});
  auto e = extractor("PNG", 0, 1);
  std::vector<QStringList> seen;
  QString folder;
  recorder->onProgressHook = [&] {
    folder = e->extractImage()->outPath();
    seen.push_back(QDir(folder).entryList(QDir::Files, QDir::Name));
  };
  ASSERT_TRUE(run(e));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], (QStringList{"Temp-001.png", "Temp-002.png"}));
  EXPECT_EQ(seen[1], QStringList{"Temp-001.png"});
  EXPECT_FALSE(QFileInfo::exists(folder)) << "the work folder is removed at the end";
  const QString first = folder;
  recorder = std::make_shared<ExtractRecorder>();
  auto again = extractor("PNG", 0, 0, "Again");
  recorder->onProgressHook = [&] { folder = again->extractImage()->outPath(); };
  ASSERT_TRUE(run(again));
  EXPECT_NE(folder, first);
}

TEST_F(ExtractTest, ExistingFilesAreReplacedOnlyWithConsent) {
  open({{{solid(255, 0, 0), solid(0, 255, 0)}}});
  for (const char* name : {"Scan_2.png", "Scan_x.png", "Other_1.png", "Scan_2.jpg"}) {
    QFile f(out() + "/" + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("old");
  }
  auto e = extractor("PNG", 0, 0);
  EXPECT_EQ(e->existingOutputFiles(), QStringList{out() + "/Scan_2.png"});
  EXPECT_FALSE(run(e));
  EXPECT_EQ(e->errorInfo(), XVErrorText::exportFileExists("Scan_2.png"));
  EXPECT_EQ(recorder->reports.urls, urls({"Scan_1.png"}));
  QFile old(out() + "/Scan_2.png");
  ASSERT_TRUE(old.open(QIODevice::ReadOnly));
  EXPECT_EQ(old.readAll(), "old");

  recorder = std::make_shared<ExtractRecorder>();
  e = extractor("PNG", 0, 0);
  e->setReplaceExisting(true);
  ASSERT_TRUE(run(e));
  EXPECT_EQ(colourOf("Scan_2.png"), QColor(Qt::green));
}

TEST_F(ExtractTest, ACancelEndsBeforeTheNextPageAndKeepsWhatWasWritten) {
  open({{{solid(255, 0, 0)}}, {{solid(0, 255, 0)}}, {{solid(0, 0, 255)}}});
  auto e = extractor("PNG", 0, 2);
  recorder->onProgressHook = [&] { e->stopExtract(); };
  EXPECT_FALSE(run(e));
  EXPECT_EQ(recorder->reports.urls, urls({"Scan_1.png"}));
  EXPECT_EQ(recorder->reports.progress.size(), 1u);
  EXPECT_TRUE(e->errorInfo().isEmpty()) << "a cancel is no failure to report";

  recorder = std::make_shared<ExtractRecorder>();
  auto early = extractor("PNG", 0, 2, "Early");
  early->stopExtract();
  early->startExtract();
  early->stopExtract();
  ASSERT_TRUE(recorder->reports.waitEnd());
  EXPECT_TRUE(early->waitUntilEnded(std::chrono::seconds(30)));
  EXPECT_EQ(recorder->reports.ends, 1);
}

TEST_F(ExtractTest, RefusalsSayWhy) {
  open({{{solid(255, 0, 0)}}, {}});
  struct Case {
    const char* what;
    qint64 start, end;
    QString name;
    QString why;
  };
  const std::vector<Case> cases = {
      {"past the end", 0, 2, "Scan", XVErrorText::exportRangeOutsideDocument()},
      {"reversed", 1, 0, "Scan", XVErrorText::exportRangeOutsideDocument()},
      {"negative", -1, 0, "Scan", XVErrorText::exportRangeOutsideDocument()},
      {"a name with a folder", 0, 0, "../Scan", XVErrorText::exportWriteFailed("../Scan", "not a file name")},
  };
  for (const Case& c : cases) {
    recorder = std::make_shared<ExtractRecorder>();
    auto e = extractor("PNG", c.start, c.end, c.name);
    EXPECT_FALSE(run(e)) << c.what;
    EXPECT_EQ(e->errorInfo(), c.why) << c.what;
    EXPECT_TRUE(files().isEmpty()) << c.what;
  }
  recorder = std::make_shared<ExtractRecorder>();
  auto e = extractor("PNG", 0, 0);
  e->setOutFilePath(q(dir / "missing.pdf"));
  EXPECT_FALSE(run(e));
  EXPECT_EQ(e->errorInfo(), XVErrorText::exportDocumentUnreadable());
}

TEST_F(ExtractTest, APagesOnlyImageOfAHundredMillionPixelsIsExtracted) {
  constexpr int kSide = 10000;
  open({{{testsupport::flateImage(kSide, kSide, "/DeviceGray", 1, [](int y, unsigned char* row) {
    for (int x = 0; x < kSide; ++x) row[x] = ((x / 100) + (y / 100)) % 2 ? 30 : 220;
  })}}});
  ASSERT_TRUE(run(extractor("JPEG", 0, 0)));
  EXPECT_EQ(recorder->reports.urls, urls({"Scan_1.jpg"}));
  QImageReader reader(out() + "/Scan_1.jpg");
  reader.setAllocationLimit(0);
  const QImage back = reader.read();
  ASSERT_EQ(back.size(), QSize(kSide, kSide));
  const std::pair<QPoint, int> probes[] = {{{50, 50}, 220}, {{150, 50}, 30}, {{9950, 9950}, 220}, {{9850, 9950}, 30}};
  for (const auto& [at, grey] : probes) EXPECT_NEAR(qGray(back.pixel(at)), grey, 8) << at.x() << "," << at.y();
}

TEST_F(ExtractTest, ImagesThatCannotBeWrittenEndWithNoNamingTheirPages) {
  const PdfImage tooLarge = testsupport::rgbImage(20000, 20000, "xyz");
  PdfImage broken = testsupport::rgbImage(4, 4, "not deflate data");
  broken.filter = "/FlateDecode";
  const PdfImage red = solid(255, 0, 0), green = solid(0, 255, 0);
  struct Case {
    const char* what;
    std::vector<PdfImagePage> pages;
    QStringList written;
    QString why;
  };
  const std::vector<Case> cases = {
      {"a page's only image, too large", {{{tooLarge}}}, {}, "An image on page 1 is too large to extract (20000 x 20000 pixels)."},
      {"broken images among others",
       {{{red}}, {{broken, green}}, {{broken}}},
       {"Scan_1.png", "Scan_2.png"},
       "2 images on pages 2 and 3 cannot be decoded."},
      {"both", {{{tooLarge, red}}, {{broken}}}, {"Scan_1.png"},
       "An image on page 1 is too large to extract (20000 x 20000 pixels). An image on page 2 cannot be decoded."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const QString& f : files()) QFile::remove(out() + "/" + f);
    open(c.pages);
    recorder = std::make_shared<ExtractRecorder>();
    auto e = extractor("PNG", 0, static_cast<qint64>(c.pages.size()) - 1);
    EXPECT_FALSE(run(e));
    EXPECT_EQ(e->errorInfo(), c.why);
    EXPECT_EQ(files(), c.written);
    EXPECT_EQ(recorder->reports.urls, urls(c.written));
  }
}

TEST_F(ExtractTest, MaskedImagesInFormatsWithoutAlphaLieOnWhite) {
  // A stencil: painted blue where its bits are 0, transparent elsewhere.
  PdfImage stencil;
  stencil.width = 16;
  stencil.height = 16;
  stencil.imageMask = true;
  stencil.data = std::string(16 * 2, '\0');
  for (int y = 8; y < 16; ++y) stencil.data[static_cast<size_t>(2 * y)] = stencil.data[static_cast<size_t>(2 * y + 1)] = '\xff';
  open({{{stencil}}});
  for (const char* format : {"JPEG", "BMP"}) {
    SCOPED_TRACE(format);
    recorder = std::make_shared<ExtractRecorder>();
    ASSERT_TRUE(run(extractor(format, 0, 0, format)));
    const QImage back(recorder->reports.urls.value(0).toLocalFile());
    ASSERT_EQ(back.size(), QSize(16, 16));
    const QColor painted = back.pixelColor(4, 4), clear = back.pixelColor(4, 12);
    EXPECT_LT(painted.red(), 40);
    EXPECT_GT(painted.blue(), 215);
    EXPECT_GT(clear.red(), 235);
    EXPECT_GT(clear.green(), 235);
    EXPECT_GT(clear.blue(), 235);
  }
}

TEST_F(ExtractTest, RealFilesInASCII85CCITTFaxAndLZW) {
  for (const char* name : {"imagemagick-ASCII85Decode.pdf", "imagemagick-CCITTFaxDecode.pdf", "imagemagick-lzw.pdf"}) {
    recorder = std::make_shared<ExtractRecorder>();
    const QString path = QStringLiteral(LECTERN_CORPUS_DIR "/pdf/") + name;
    document = pdfkit::PDFDocument::initWithURL(path);
    ASSERT_TRUE(document) << name;
    auto e = extractor("TIFF", 0, document->pageCount() - 1, QString::fromLatin1(name).section('.', 0, 0));
    e->setOutFilePath(path);
    ASSERT_TRUE(run(e)) << name;
    ASSERT_EQ(recorder->reports.urls.size(), 1) << name;
    EXPECT_EQ(QImage(recorder->reports.urls.first().toLocalFile()).size(), QSize(16, 16)) << name;
  }
}

TEST(ExportFactories, PickTheConverterByFormatAndTheExtractorForImages) {
  EXPECT_TRUE(std::dynamic_pointer_cast<XVConverter>(ProductInfo::converterInterface(Format::formatNamed("PNG"), "wp5")));
  EXPECT_TRUE(std::dynamic_pointer_cast<XVConverter>(ProductInfo::converterInterface(Format::formatNamed("PDF"), "pdf")));
  EXPECT_TRUE(std::dynamic_pointer_cast<XVConverter>(ProductInfo::converterInterface(Format::formatNamed("TEXT"))));
  auto extract = std::dynamic_pointer_cast<XVExtract>(ProductInfo::ExtractInterface(Format::formatNamed("GIF")));
  ASSERT_TRUE(extract);
  EXPECT_EQ(extract->format().formatName(), "GIF");
}

TEST(ExportPageRange, PagesByMode) {
  using R = ExportPageRange;
  struct Case {
    int mode;
    qint64 start, end, count;
    R::Pages pages;
  };
  const std::vector<Case> cases = {
      {R::AllPages, 3, 5, 12, {0, 11}},
      {R::CurrentPage, 7, 7, 12, {6, 6}},
      {R::PageRange, 3, 5, 12, {2, 4}},
      {R::PageRange, 1, 1, 1, {0, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(R::savePages(c.mode, c.start, c.end, c.count), c.pages) << c.mode << " " << c.start;
}

TEST(ExportPageRange, WhatTheFieldsAccept) {
  using R = ExportPageRange;
  EXPECT_TRUE(R::startCanSet(1, R::PageRange, 5, 12));
  EXPECT_FALSE(R::startCanSet(6, R::PageRange, 5, 12)) << "the start may not pass the end";
  EXPECT_TRUE(R::startCanSet(6, R::CurrentPage, 5, 12));
  EXPECT_FALSE(R::startCanSet(0, R::CurrentPage, 5, 12));
  EXPECT_FALSE(R::startCanSet(13, R::CurrentPage, 5, 12));
  EXPECT_FALSE(R::endCanSet(2, R::PageRange, 3, 12));
  EXPECT_FALSE(R::endCanSet(13, R::PageRange, 3, 12));
  EXPECT_FALSE(R::endCanSet(0, R::CurrentPage, 3, 12));
  EXPECT_TRUE(R::isDigits(""));
  EXPECT_TRUE(R::isDigits("0123"));
  EXPECT_FALSE(R::isDigits("1x"));
  EXPECT_FALSE(R::isDigits("-1"));
}

TEST(ExportPageRange, TheCheckAtOK) {
  using R = ExportPageRange;
  struct Case {
    int mode;
    QString start, end;
    bool ok;
    QString startAfter, endAfter;
  };
  const std::vector<Case> cases = {
      {R::AllPages, "", "", true, "", ""},
      {R::PageRange, "3", "5", true, "3", "5"},
      {R::PageRange, "20", "5", false, "1", "5"},
      {R::PageRange, "3", "40", false, "3", "12"},
      {R::PageRange, "5", "3", false, "5", "3"},
      {R::PageRange, "0", "3", false, "0", "3"},
      {R::PageRange, "", "3", false, "", "3"},
      {R::PageRange, "3", "", false, "3", ""},
      {R::CurrentPage, "12", "", true, "12", ""},
      {R::CurrentPage, "", "", false, "", ""},
      {R::CurrentPage, "13", "", false, "1", ""},
  };
  for (const Case& c : cases) {
    const R::Check got = R::check(c.mode, c.start, c.end, 12);
    EXPECT_EQ(got.ok, c.ok) << c.mode << " " << c.start.toStdString() << "-" << c.end.toStdString();
    EXPECT_EQ(got.startText, c.startAfter) << c.start.toStdString();
    EXPECT_EQ(got.endText, c.endAfter) << c.end.toStdString();
  }
}

}  // namespace
