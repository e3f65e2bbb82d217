#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <cmath>

#include "export_test_util.h"
#include "modules/export/XVImageSave.h"

using namespace exporttest;

namespace {

// Every pixel a different colour: far more than a GIF palette holds.
QImage manyColours() {
  QImage image(320, 200, QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb(x * 255 / 319, y * 255 / 199, (x + y) * 255 / 518));
  }
  return image;
}

double meanError(const QImage& a, const QImage& b) {
  double sum = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), r = b.pixel(x, y);
      sum += std::abs(qRed(p) - qRed(r)) + std::abs(qGreen(p) - qGreen(r)) + std::abs(qBlue(p) - qBlue(r));
    }
  }
  return sum / (3.0 * a.width() * a.height());
}

TEST(ImageSave, NullImageGivesNoSaver) { EXPECT_EQ(XVImageSave::imageSaveWith(QImage()), nullptr); }

TEST(ImageSave, GifOfManyColoursReloadsAtTheSameSizeAndClose) {
  const QImage image = manyColours();
  const QByteArray gif = XVImageSave::encodeGIF(image);
  ASSERT_TRUE(gif.startsWith("GIF89a") || gif.startsWith("GIF87a"));
  QImage back = QImage::fromData(gif, "GIF");
  ASSERT_FALSE(back.isNull());
  EXPECT_EQ(back.size(), image.size());
  EXPECT_LE(back.colorCount(), 256);
  EXPECT_LT(meanError(image, back.convertToFormat(QImage::Format_RGB32)), 8.0);
}

TEST(ImageSave, GifOfFewColoursIsExact) {
  QImage image(33, 17, QImage::Format_ARGB32);
  image.fill(qRgb(250, 10, 10));
  for (int x = 0; x < 33; ++x) image.setPixel(x, 5, qRgb(0, 0, x * 7));
  image.setPixel(0, 0, qRgba(0, 0, 0, 0));  // transparent: laid over white
  QImage back = QImage::fromData(XVImageSave::encodeGIF(image), "GIF").convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(back.size(), image.size());
  EXPECT_EQ(back.pixel(0, 0), qRgb(255, 255, 255));
  EXPECT_EQ(back.pixel(10, 10), qRgb(250, 10, 10));
  for (int x = 0; x < 33; ++x) EXPECT_EQ(back.pixel(x, 5), qRgb(0, 0, x * 7)) << x;
}

TEST(ImageSave, EachFormatWritesItsFileType) {
  testsupport::TempDir dir;
  auto saver = XVImageSave::imageSaveWith(manyColours());
  ASSERT_TRUE(saver);
  const std::pair<const char*, const char*> cases[] = {
      {"PNG", "png"}, {"JPEG", "jpeg"}, {"BMP", "bmp"}, {"GIF", "gif"}, {"TIFF", "tiff"}};
  for (auto [name, type] : cases) {
    const QString path = q(dir / (std::string("x.") + name));
    ASSERT_TRUE(saver->saveAtPath(name, path)) << name;
    QImageReader reader(path);
    EXPECT_EQ(reader.format(), QByteArray(type)) << name;
    EXPECT_EQ(reader.size(), QSize(320, 200)) << name;
  }
  EXPECT_FALSE(saver->saveAtPath("png", q(dir / "lower")));
  EXPECT_FALSE(QFile::exists(q(dir / "lower")));
}

TEST(ImageSave, FormatsWithoutAlphaLayTranslucentPixelsOverWhite) {
  testsupport::TempDir dir;
  // Blue where fully transparent, half-transparent red, opaque green: 8 x 8 blocks so that
  // JPEG keeps each colour in the middle of its block.
  QImage image(24, 8, QImage::Format_ARGB32);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 24; ++x) image.setPixel(x, y, x < 8 ? qRgba(0, 0, 255, 0) : x < 16 ? qRgba(255, 0, 0, 128) : qRgb(0, 255, 0));
  }
  auto saver = XVImageSave::imageSaveWith(image);
  struct Case {
    const char* format;
    int tolerance;
  };
  for (const Case& c : {Case{"JPEG", 12}, Case{"BMP", 1}, Case{"GIF", 1}}) {
    SCOPED_TRACE(c.format);
    const QString path = q(dir / (std::string("x.") + c.format));
    ASSERT_TRUE(saver->saveAtPath(c.format, path));
    const QImage back = QImage(path).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(back.size(), image.size());
    const std::pair<int, QRgb> expected[] = {{4, qRgb(255, 255, 255)}, {12, qRgb(255, 127, 127)}, {20, qRgb(0, 255, 0)}};
    for (auto [x, want] : expected) {
      const QRgb got = back.pixel(x, 4);
      EXPECT_EQ(qAlpha(got), 255) << x;
      EXPECT_NEAR(qRed(got), qRed(want), c.tolerance) << x;
      EXPECT_NEAR(qGreen(got), qGreen(want), c.tolerance) << x;
      EXPECT_NEAR(qBlue(got), qBlue(want), c.tolerance) << x;
    }
  }
}

TEST(ImageSave, ExistingFileIsKeptWithoutConsent) {
  testsupport::TempDir dir;
  dir.write("x.png", "mine");
  auto saver = XVImageSave::imageSaveWith(manyColours());
  QString why;
  EXPECT_FALSE(saver->saveToPNGAtPath(q(dir / "x.png"), &why));
  EXPECT_FALSE(why.isEmpty());
  EXPECT_EQ(testsupport::readFile(dir / "x.png"), "mine");
  saver->setReplaceExisting(true);
  EXPECT_TRUE(saver->saveToPNGAtPath(q(dir / "x.png")));
  EXPECT_EQ(QImage(q(dir / "x.png")).size(), QSize(320, 200));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
}

}  // namespace
