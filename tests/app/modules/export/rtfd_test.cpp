#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>

#include "core/ProductInfo.h"
#include "core/XVErrorTexts.h"
#include "export_test_util.h"
#include "modules/export/RTFDConverter.h"
#include "modules/rtf/RTFReader.h"
#include "modules/rtf/RTFWriter.h"

using namespace exporttest;

namespace {

void ensureApp() {
  if (QCoreApplication::instance()) return;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "rtfd-test";
  static char* argv[] = {name, nullptr};
  new QGuiApplication(argc, argv);  // lives for the rest of the process
}

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class RtfdTest : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  std::shared_ptr<ConverterRecorder> recorder = std::make_shared<ConverterRecorder>();
  QString out() const { return q(dir / "out"); }
  void SetUp() override {
    ensureApp();
    QDir().mkpath(out());
  }
  std::shared_ptr<ConverterInterface> exporter(const QString& source, const QString& name) {
    auto c = ProductInfo::converterInterface(Format::formatNamed("RTFD"), QFileInfo(source).suffix());
    c->setOutFilePath(source);
    c->setDelegate(recorder);
    c->setOutDirector(out());
    c->setOutFileName(name);
    c->setConvertStartPage(0, 0);
    return c;
  }
  bool run(const std::shared_ptr<ConverterInterface>& c) {
    c->startConvert();
    EXPECT_TRUE(recorder->reports.waitEnd());
    EXPECT_TRUE(c->waitUntilEnded(std::chrono::seconds(30)));
    return recorder->reports.end.value_or(false);
  }
};

TEST(RTFDFactory, PicksTheKitByTheSourceExtension) {
  const Format rtfd = Format::formatNamed("RTFD");
  EXPECT_TRUE(std::dynamic_pointer_cast<WVConverter>(ProductInfo::converterInterface(rtfd, "wp5")));
  EXPECT_TRUE(std::dynamic_pointer_cast<WVConverter>(ProductInfo::converterInterface(rtfd, "WPD")));
  EXPECT_TRUE(std::dynamic_pointer_cast<WPVConverter>(ProductInfo::converterInterface(rtfd, "wps")));
  EXPECT_TRUE(std::dynamic_pointer_cast<WPVConverter>(ProductInfo::converterInterface(rtfd, "wk1")));
  Format rtfdLower = rtfd;
  rtfdLower.setFormatName("rtfd");
  EXPECT_FALSE(std::dynamic_pointer_cast<RTFDConverter>(ProductInfo::converterInterface(rtfdLower, "wps")));
}

TEST_F(RtfdTest, APackageReloadsWithItsTextFormatsAndPictures) {
  QTextDocument text;
  QTextCursor cursor(&text);
  QTextCharFormat bold;
  bold.setFontWeight(QFont::Bold);
  cursor.insertText("Dear {reader}, ");
  cursor.insertText("caf\u00e9 \u4e2d\\", bold);
  cursor.insertBlock();
  QImage picture(4, 3, QImage::Format_RGB32);
  picture.fill(Qt::red);
  text.addResource(QTextDocument::ImageResource, QUrl("pic"), picture);
  QTextImageFormat image;
  image.setName("pic");
  cursor.insertImage(image);
  cursor.insertText("after");
  const QString path = out() + "/letter.rtfd";
  QString why;
  ASSERT_TRUE(RTFDConverter::saveRtfdFile(text, path, false, &why)) << why.toStdString();
  EXPECT_EQ(QDir(path).entryList(QDir::Files, QDir::Name), (QStringList{"TXT.rtf", "image1.png"}));
  EXPECT_EQ(QImage(path + "/image1.png").pixelColor(0, 0), QColor(Qt::red));
  const QByteArray rtf = readAll(path + "/TXT.rtf");
  EXPECT_TRUE(rtf.contains("\\NeXTGraphic image1.png \\width80 \\height60"));
  const auto content = rtf::RTFReader::read(rtf);
  ASSERT_TRUE(content);
  EXPECT_EQ(content->plainText(), QString("Dear {reader}, caf\u00e9 \u4e2d\\\nafter"));
  ASSERT_GE(content->paragraphs.size(), 1);
  ASSERT_GE(content->paragraphs[0].runs.size(), 2);
  EXPECT_FALSE(content->paragraphs[0].runs[0].format.bold);
  EXPECT_TRUE(content->paragraphs[0].runs[1].format.bold);

  // Replaced only when told to; a refusal leaves the old package as it was.
  QTextDocument other;
  other.setPlainText("second");
  EXPECT_FALSE(RTFDConverter::saveRtfdFile(other, path, false, &why));
  EXPECT_TRUE(rtf::RTFReader::read(readAll(path + "/TXT.rtf"))->plainText().startsWith("Dear"));
  ASSERT_TRUE(RTFDConverter::saveRtfdFile(other, path, true, &why)) << why.toStdString();
  EXPECT_EQ(rtf::RTFReader::read(readAll(path + "/TXT.rtf"))->plainText(), "second");
  EXPECT_EQ(QDir(path).entryList(QDir::Files), QStringList{"TXT.rtf"});
  EXPECT_EQ(QDir(out()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"letter.rtfd"});
}

TEST_F(RtfdTest, WorksAndWordPerfectFilesBecomePackagesOfTheirText) {
  struct Case {
    const char* file;
    const char* name;
  };
  for (const Case& c : {Case{"works/testWORKS.wps", "letter"}, Case{"wordperfect/testWordPerfect.wpd", "memo"}}) {
    recorder = std::make_shared<ConverterRecorder>();
    auto e = exporter(QStringLiteral(LECTERN_CORPUS_DIR "/") + c.file, c.name);
    ASSERT_TRUE(run(e)) << c.file << ": " << e->errorInfo().toStdString();
    const QString package = out() + "/" + c.name + ".rtfd";
    EXPECT_EQ(recorder->reports.urls, QList<QUrl>{QUrl::fromLocalFile(package)});
    EXPECT_TRUE(recorder->reports.progress.empty()) << "no progress is forwarded";
    const auto content = rtf::RTFReader::read(readAll(package + "/TXT.rtf"));
    ASSERT_TRUE(content) << c.file;
    EXPECT_GT(content->plainText().trimmed().size(), 20) << c.file;
  }
}

TEST_F(RtfdTest, AFailedConversionOrWriteEndsWithNo) {
  const QString junk = q(dir.write("junk.wps", "this is not a Works document at all"));
  auto e = exporter(junk, "junk");
  EXPECT_FALSE(run(e));
  EXPECT_FALSE(e->errorInfo().isEmpty());
  EXPECT_TRUE(recorder->reports.urls.isEmpty());
  EXPECT_FALSE(QFileInfo::exists(out() + "/junk.rtfd"));

  ASSERT_TRUE(QDir().mkpath(out() + "/letter.rtfd"));
  recorder = std::make_shared<ConverterRecorder>();
  e = exporter(QStringLiteral(LECTERN_CORPUS_DIR "/works/testWORKS.wps"), "letter");
  EXPECT_EQ(e->existingOutputFiles(), QStringList{out() + "/letter.rtfd"});
  EXPECT_FALSE(run(e));
  EXPECT_EQ(e->errorInfo(), XVErrorText::exportFileExists("letter.rtfd"));
  EXPECT_EQ(recorder->reports.ends, 1);
}

}  // namespace
