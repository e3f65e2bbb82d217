#include "platform/markupkit/markupkit.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>

#include <string>
#include <vector>

#include "support/flate_image.h"
#include "support/image_pdf.h"
#include "support/temp_dir.h"

namespace {

using testsupport::PdfImage;
using testsupport::PdfImagePage;

QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

int run(const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  return extractHtml(static_cast<int>(argv.size()), argv.data());
}

// The files "<prefix>-NNN.png" in the folder, by name.
QStringList pngs(const testsupport::TempDir& dir) {
  return QDir(q(dir.path())).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
}

QImage image(const testsupport::TempDir& dir, const char* name) { return QImage(q(dir / name)); }

struct Extraction : ::testing::Test {
  testsupport::TempDir dir;
  std::string pdf(const std::vector<PdfImagePage>& pages, const std::string& labels = "") {
    return dir.write("in.pdf", testsupport::imagePdf(pages, labels)).string();
  }
  std::string prefix() const { return (dir / "Temp").string(); }
};

struct ColourCase {
  const char* what;
  PdfImage image;
  QColor first;  // the top-left pixel
  int tolerance = 2;
};

TEST_F(Extraction, EveryColourSpaceAndFilterComesOutAsItsColours) {
  auto im = [](int w, int h, const char* cs, int bits, const char* filter, std::string data) {
    PdfImage i;
    i.width = w;
    i.height = h;
    i.colorSpace = cs;
    i.bits = bits;
    i.filter = filter;
    i.data = std::move(data);
    return i;
  };
  const std::vector<ColourCase> cases = {
      {"RGB, raw", im(2, 1, "/DeviceRGB", 8, "", std::string("\xff\x00\x00\x00\xff\x00", 6)), QColor(255, 0, 0)},
      {"gray, 1 bit, hex", im(8, 1, "/DeviceGray", 1, "/ASCIIHexDecode", "0f>"), QColor(0, 0, 0)},
      {"indexed, 2 bits", im(4, 1, "[/Indexed /DeviceRGB 3 <ff000000ff000000ffffffff>]", 2, "", std::string("\x1b", 1)),
       QColor(255, 0, 0)},
      {"CMYK", im(1, 1, "/DeviceCMYK", 8, "", std::string("\x00\xff\xff\x00", 4)), QColor(255, 0, 0), 40},
      {"RGB, 16 bits", im(1, 1, "/DeviceRGB", 16, "", std::string("\x00\x00\xff\xff\x00\x00", 6)), QColor(0, 255, 0)},
      {"gray, ASCII85", im(2, 1, "/DeviceGray", 8, "/ASCII85Decode", "s8W-!~>"), QColor(255, 255, 255)},
  };
  for (const ColourCase& c : cases) {
    SCOPED_TRACE(c.what);
    for (const QString& f : pngs(dir)) QFile::remove(q(dir / f.toStdString()));
    ASSERT_EQ(run({"", pdf({{{c.image}}}), prefix(), "-R", "1", "IMAGE"}), markupkit::ExtractOk);
    ASSERT_EQ(pngs(dir), QStringList{"Temp-001.png"});
    const QImage out = image(dir, "Temp-001.png");
    EXPECT_EQ(out.size(), QSize(c.image.width, c.image.height));
    const QColor got = out.pixelColor(0, 0);
    EXPECT_NEAR(got.red(), c.first.red(), c.tolerance);
    EXPECT_NEAR(got.green(), c.first.green(), c.tolerance);
    EXPECT_NEAR(got.blue(), c.first.blue(), c.tolerance);
  }
}

TEST_F(Extraction, ABrokenImageIsSkippedAndTheRestKeepTheirOrderWithoutGaps) {
  PdfImage twice = testsupport::rgbImage(2, 1, std::string("\xff\x00\x00\xff\x00\x00", 6));
  twice.draws = 2;
  PdfImage broken = testsupport::rgbImage(4, 4, "this is no deflate data at all");
  broken.filter = "/FlateDecode";
  PdfImage shortData = testsupport::rgbImage(4, 4, std::string("\x00\x00\x00", 3));
  PdfImage inlineGray;
  inlineGray.width = 2;
  inlineGray.height = 1;
  inlineGray.colorSpace = "/DeviceGray";
  inlineGray.filter = "/ASCIIHexDecode";
  inlineGray.data = "80ff>";
  inlineGray.inlineImage = true;
  PdfImage mask;
  mask.width = 8;
  mask.height = 1;
  mask.imageMask = true;
  mask.filter = "/ASCIIHexDecode";
  mask.data = "0f>";
  ASSERT_EQ(run({"", pdf({{{twice, broken, shortData, inlineGray, mask}}}), prefix(), "-R", "1", "IMAGE"}),
            markupkit::ExtractImagesSkipped);
  EXPECT_EQ(pngs(dir), (QStringList{"Temp-001.png", "Temp-002.png", "Temp-003.png"}));
  const auto skipped = markupkit::lastSkippedImages();
  ASSERT_EQ(skipped.size(), 2u);
  for (const auto& s : skipped) {
    EXPECT_EQ(s.page, 1);
    EXPECT_EQ(s.width, 4);
    EXPECT_EQ(s.reason, markupkit::SkipReason::Undecodable);
  }
  EXPECT_EQ(image(dir, "Temp-001.png").pixelColor(1, 0), QColor(255, 0, 0));
  EXPECT_EQ(image(dir, "Temp-002.png").size(), QSize(2, 1));
  EXPECT_NEAR(image(dir, "Temp-002.png").pixelColor(0, 0).red(), 0x80, 1);
  // The stencil paints the fill colour where its samples are 0 and nothing elsewhere.
  const QImage m = image(dir, "Temp-003.png");
  EXPECT_EQ(m.pixelColor(0, 0), QColor(0, 0, 255));
  EXPECT_EQ(m.pixelColor(7, 0).alpha(), 0);
}

TEST_F(Extraction, ALargeImageIsWrittenWholeAndOneTooLargeIsNamed) {
  // 100 million pixels in 100-pixel squares of two colours.
  constexpr int kSide = 10000;
  const PdfImage large = testsupport::flateImage(kSide, kSide, "/DeviceRGB", 3, [](int y, unsigned char* row) {
    for (int x = 0; x < kSide; ++x) {
      const bool dark = ((x / 100) + (y / 100)) % 2;
      row[3 * x] = dark ? 20 : 240;
      row[3 * x + 1] = dark ? 40 : 200;
      row[3 * x + 2] = dark ? 60 : 10;
    }
  });
  // Claims more pixels than may be written; its data is never read.
  PdfImage tooLarge = testsupport::rgbImage(20000, 20000, "xyz");
  PdfImage tooWide = testsupport::rgbImage(markupkit::kMaxImageSide + 1, 1, "xyz");
  const std::string file = pdf({{{tooLarge}}, {{large, tooWide}}});
  ASSERT_EQ(run({"", file, prefix(), "IMAGE"}), markupkit::ExtractImagesSkipped);
  ASSERT_EQ(pngs(dir), QStringList{"Temp-001.png"});
  const auto skipped = markupkit::lastSkippedImages();
  ASSERT_EQ(skipped.size(), 2u);
  EXPECT_EQ(skipped[0].page, 1);
  EXPECT_EQ(skipped[0].width, 20000);
  EXPECT_EQ(skipped[0].reason, markupkit::SkipReason::TooLarge);
  EXPECT_EQ(skipped[1].page, 2);
  EXPECT_EQ(skipped[1].reason, markupkit::SkipReason::TooLarge);

  QImageReader reader(q(dir / "Temp-001.png"));
  reader.setAllocationLimit(0);
  const QImage out = reader.read();
  ASSERT_EQ(out.size(), QSize(kSide, kSide));
  const std::pair<QPoint, QColor> probes[] = {{{0, 0}, QColor(240, 200, 10)},
                                              {{150, 50}, QColor(20, 40, 60)},
                                              {{9999, 9999}, QColor(240, 200, 10)},
                                              {{9950, 9850}, QColor(20, 40, 60)}};
  for (const auto& [at, colour] : probes) EXPECT_EQ(out.pixelColor(at), colour) << at.x() << "," << at.y();
}

TEST_F(Extraction, PagesAreChosenByTheirPlaceNotTheirLabel) {
  const PdfImage red = testsupport::rgbImage(1, 1, std::string("\xff\x00\x00", 3));
  const PdfImage green = testsupport::rgbImage(1, 1, std::string("\x00\xff\x00", 3));
  // Labelled i, ii, 1.
  const std::string file = pdf({{{red}}, {}, {{green, red}}}, "0 << /S /r >> 2 << /S /D >>");
  ASSERT_EQ(run({"", file, prefix(), "-R", "1", "IMAGE"}), markupkit::ExtractOk);
  EXPECT_EQ(pngs(dir), QStringList{"Temp-001.png"});
  EXPECT_EQ(image(dir, "Temp-001.png").pixelColor(0, 0), QColor(255, 0, 0));

  const std::string other = (dir / "other").string();
  ASSERT_EQ(run({"", file, other, "-R", "3", "IMAGE"}), markupkit::ExtractOk);
  EXPECT_EQ(image(dir, "other-001.png").pixelColor(0, 0), QColor(0, 255, 0));
  EXPECT_EQ(image(dir, "other-002.png").pixelColor(0, 0), QColor(255, 0, 0));

  const std::string all = (dir / "all").string();
  ASSERT_EQ(run({"", file, all, "IMAGE"}), markupkit::ExtractOk);
  EXPECT_TRUE(QFile::exists(q(dir / "all-003.png")));
  EXPECT_FALSE(QFile::exists(q(dir / "all-004.png")));

  EXPECT_EQ(run({"", file, prefix(), "-R", "4", "IMAGE"}), markupkit::ExtractNoSuchPage);
  EXPECT_EQ(run({"", file, prefix(), "-R", "ii", "IMAGE"}), markupkit::ExtractNoSuchPage);
}

TEST_F(Extraction, RefusesWhatItCannotDo) {
  const std::string file = pdf({{}});
  EXPECT_EQ(run({"", file}), markupkit::ExtractBadArguments);
  EXPECT_EQ(run({"", file, prefix(), "-R"}), markupkit::ExtractBadArguments);
  EXPECT_EQ(run({"", file, prefix(), "HTML"}), markupkit::ExtractBadArguments);
  EXPECT_EQ(run({"", dir.write("junk.pdf", "not a pdf").string(), prefix(), "IMAGE"}), markupkit::ExtractUnreadable);
  EXPECT_EQ(run({"", (dir / "missing.pdf").string(), prefix(), "IMAGE"}), markupkit::ExtractUnreadable);
  const PdfImage red = testsupport::rgbImage(1, 1, std::string("\xff\x00\x00", 3));
  EXPECT_EQ(run({"", pdf({{{red}}}), (dir / "no/such/folder/x").string(), "IMAGE"}), markupkit::ExtractWriteFailed);
}

TEST_F(Extraction, RealFilesInASCII85CCITTFaxAndLZW) {
  for (const char* name : {"imagemagick-ASCII85Decode.pdf", "imagemagick-CCITTFaxDecode.pdf", "imagemagick-lzw.pdf"}) {
    SCOPED_TRACE(name);
    const std::string prefixName = (dir / name).string();
    ASSERT_EQ(run({"", std::string(LECTERN_CORPUS_DIR) + "/pdf/" + name, prefixName, "-R", "1", "IMAGE"}),
              markupkit::ExtractOk);
    const QImage out(QString::fromStdString(prefixName + "-001.png"));
    ASSERT_EQ(out.size(), QSize(16, 16));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(prefixName + "-002.png")));
    // A picture, not a blank: both dark and light pixels.
    int dark = 0, light = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) (qGray(out.pixel(x, y)) < 128 ? dark : light)++;
    EXPECT_GT(dark, 0);
    EXPECT_GT(light, 0);
  }
}

}  // namespace
