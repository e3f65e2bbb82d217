#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QTextList>
#include <QTextTable>
#include <QThread>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include "core/ProductInfo.h"
#include "core/XVErrorTexts.h"
#include "export_test_util.h"
#include "modules/export/RTFDConverter.h"
#include "modules/rtf/RTFReader.h"
#include "modules/rtf/RTFTextDocument.h"
#include "modules/rtf/RTFWriter.h"
#include "platform/wpdkit/QFWpdConverter.h"
#include "platform/wpskit/QFWpsConverter.h"
#include "support/flat_odt.h"
#include "support/rich_text_compare.h"

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

// A package read back: its TXT.rtf through our reader, its pictures from its folder.
std::unique_ptr<QTextDocument> reload(const QString& package) {
  return rtf::RTFTextDocument::fromData(readAll(package + "/TXT.rtf"),
                                        [package](const QString& name) { return QImage(package + "/" + name); });
}

// The rich text a kit makes of a corpus document, as the exporters get it.
struct KitDocument : QFWpsConverterDelegate, QFWpdConverterDelegate {
  std::mutex mutex;
  std::condition_variable cv;
  bool ended = false;
  int32_t code = -1;
  std::shared_ptr<QFExportObject> exportObject;
  void end(int32_t c, std::shared_ptr<QFExportObject> e) {
    std::lock_guard lock(mutex);
    code = c;
    exportObject = std::move(e);
    ended = true;
    cv.notify_all();
  }
  void QFWpsConverterDelegate_converterEnd(int32_t c, std::shared_ptr<QFExportObject> e, QFWpsConverter*) override { end(c, e); }
  void QFWpdConverterDelegate_converterEnd(int32_t c, std::shared_ptr<QFExportObject> e, QFWpdConverter*) override { end(c, e); }

  // Null when the conversion fails.
  static std::shared_ptr<QFExportObject> convert(const QString& path) {
    auto kit = std::make_shared<KitDocument>();
    auto format = QFConverterFormat::formatWithType(1, path);
    std::shared_ptr<QFConverterRun> run;
    if (QStringList{"wpd", "wp", "wp5", "wp6"}.contains(QFileInfo(path).suffix().toLower())) {
      auto c = QFWpdConverter::converterWithType(format);
      c->setDelegate(kit);
      run = c;
    } else {
      auto c = QFWpsConverter::converterWithType(format);
      c->setDelegate(kit);
      run = c;
    }
    if (!run->start()) return nullptr;
    std::unique_lock lock(kit->mutex);
    if (!kit->cv.wait_for(lock, std::chrono::seconds(60), [&] { return kit->ended; })) return nullptr;
    if (kit->code != QFConverterEndSucceeded || !kit->exportObject) return nullptr;
    kit->exportObject->storage()->moveToThread(QThread::currentThread());
    return kit->exportObject;
  }
};

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

namespace {

QTextCharFormat chars(const std::function<void(QTextCharFormat&)>& set) {
  QTextCharFormat f;
  f.setFontFamilies({QStringLiteral("Times New Roman")});
  f.setFontPointSize(12);
  set(f);
  return f;
}

QTextBlockFormat paragraph(const std::function<void(QTextBlockFormat&)>& set) {
  QTextBlockFormat f;
  set(f);
  return f;
}

QImage squares(int w, int h) {
  QImage image(w, h, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if ((x / 2 + y / 2) % 2) image.setPixelColor(x, y, QColor(20 * x % 256, 40 * y % 256, 200));
  return image;
}

void addPicture(QTextDocument& d, QTextCursor& c, const QString& name, const QImage& image, double w, double h) {
  d.addResource(QTextDocument::ImageResource, QUrl(name), image);
  QTextImageFormat f;
  f.setName(name);
  f.setWidth(w);
  f.setHeight(h);
  c.insertImage(f);
}

QTextTableFormat gridFormat() {
  QTextTableFormat tf;
  tf.setBorder(0.5);
  tf.setBorderBrush(QColor(0x80, 0x80, 0x80));
  tf.setBorderCollapse(true);
  tf.setCellPadding(2);
  tf.setCellSpacing(0);
  tf.setAlignment(Qt::AlignLeft);
  return tf;
}

void cellText(QTextTable* t, int r, int c, const QString& text, const QTextBlockFormat& bf = {}) {
  QTextCursor cursor = t->cellAt(r, c).firstCursorPosition();
  cursor.setBlockFormat(bf);
  cursor.insertText(text, chars([](QTextCharFormat&) {}));
}

struct FormatCase {
  const char* name;
  std::function<void(QTextDocument&, QTextCursor&)> build;
};

const std::vector<FormatCase>& formatCases() {
  static const std::vector<FormatCase> cases = {
      {"fonts and sizes",
       [](QTextDocument&, QTextCursor& c) {
         c.insertText("serif ", chars([](QTextCharFormat&) {}));
         c.insertText("mono small ", chars([](QTextCharFormat& f) {
                        f.setFontFamilies({QStringLiteral("Courier New")});
                        f.setFontPointSize(9);
                      }));
         c.insertText("sans large", chars([](QTextCharFormat& f) {
                        f.setFontFamilies({QStringLiteral("Arial")});
                        f.setFontPointSize(20.5);
                      }));
       }},
      {"bold, italic, underline and strike",
       [](QTextDocument&, QTextCursor& c) {
         c.insertText("bold ", chars([](QTextCharFormat& f) { f.setFontWeight(QFont::Bold); }));
         c.insertText("italic ", chars([](QTextCharFormat& f) { f.setFontItalic(true); }));
         c.insertText("under ", chars([](QTextCharFormat& f) { f.setFontUnderline(true); }));
         c.insertText("struck ", chars([](QTextCharFormat& f) { f.setFontStrikeOut(true); }));
         c.insertText("all", chars([](QTextCharFormat& f) {
                        f.setFontWeight(QFont::Bold);
                        f.setFontItalic(true);
                        f.setFontUnderline(true);
                        f.setFontStrikeOut(true);
                      }));
       }},
      {"colours",
       [](QTextDocument&, QTextCursor& c) {
         c.insertText("black ", chars([](QTextCharFormat& f) { f.setForeground(QColor(0, 0, 0)); }));
         c.insertText("red ", chars([](QTextCharFormat& f) { f.setForeground(QColor(0xC0, 0x10, 0x20)); }));
         c.insertText("marked ", chars([](QTextCharFormat& f) { f.setBackground(QColor(0xFF, 0xFF, 0x00)); }));
         c.insertText("blue on red", chars([](QTextCharFormat& f) {
                        f.setForeground(QColor(0, 0, 0xFF));
                        f.setBackground(QColor(0xC0, 0x10, 0x20));
                      }));
       }},
      {"super- and subscript",
       [](QTextDocument&, QTextCursor& c) {
         c.insertText("E=mc", chars([](QTextCharFormat&) {}));
         c.insertText("2", chars([](QTextCharFormat& f) { f.setVerticalAlignment(QTextCharFormat::AlignSuperScript); }));
         c.insertText(" H", chars([](QTextCharFormat&) {}));
         c.insertText("2", chars([](QTextCharFormat& f) { f.setVerticalAlignment(QTextCharFormat::AlignSubScript); }));
         c.insertText("O", chars([](QTextCharFormat&) {}));
       }},
      {"alignment",
       [](QTextDocument&, QTextCursor& c) {
         c.setBlockFormat(paragraph([](QTextBlockFormat& f) { f.setAlignment(Qt::AlignLeft); }));
         c.insertText("left", chars([](QTextCharFormat&) {}));
         for (Qt::Alignment a : {Qt::AlignHCenter, Qt::AlignRight, Qt::AlignJustify}) {
           c.insertBlock(paragraph([a](QTextBlockFormat& f) { f.setAlignment(a); }));
           c.insertText("aligned text that runs on for a while", chars([](QTextCharFormat&) {}));
         }
       }},
      {"indents and spacing",
       [](QTextDocument&, QTextCursor& c) {
         c.setBlockFormat(paragraph([](QTextBlockFormat& f) {
           f.setLeftMargin(36);
           f.setRightMargin(18);
           f.setTextIndent(-18);
           f.setTopMargin(6);
           f.setBottomMargin(12.5);
         }));
         c.insertText("hanging", chars([](QTextCharFormat&) {}));
         c.insertBlock(paragraph([](QTextBlockFormat& f) { f.setTextIndent(24); }));
         c.insertText("first line", chars([](QTextCharFormat&) {}));
       }},
      {"line heights",
       [](QTextDocument&, QTextCursor& c) {
         c.setBlockFormat(paragraph([](QTextBlockFormat& f) { f.setLineHeight(150, QTextBlockFormat::ProportionalHeight); }));
         c.insertText("one and a half", chars([](QTextCharFormat&) {}));
         c.insertBlock(paragraph([](QTextBlockFormat& f) { f.setLineHeight(100, QTextBlockFormat::ProportionalHeight); }));
         c.insertText("single, said so", chars([](QTextCharFormat&) {}));
         c.insertBlock(paragraph([](QTextBlockFormat& f) { f.setLineHeight(20, QTextBlockFormat::FixedHeight); }));
         c.insertText("exactly 20", chars([](QTextCharFormat&) {}));
         c.insertBlock(paragraph([](QTextBlockFormat& f) { f.setLineHeight(14, QTextBlockFormat::MinimumHeight); }));
         c.insertText("at least 14", chars([](QTextCharFormat&) {}));
       }},
      {"tab stops",
       [](QTextDocument&, QTextCursor& c) {
         c.setBlockFormat(paragraph([](QTextBlockFormat& f) {
           f.setTabPositions({QTextOption::Tab(36, QTextOption::LeftTab), QTextOption::Tab(144, QTextOption::CenterTab),
                              QTextOption::Tab(288, QTextOption::RightTab),
                              QTextOption::Tab(360, QTextOption::DelimiterTab, QLatin1Char('.'))});
         }));
         c.insertText("a\tb\tc\t1.5", chars([](QTextCharFormat&) {}));
       }},
      {"page breaks",
       [](QTextDocument&, QTextCursor& c) {
         c.insertText("page one", chars([](QTextCharFormat&) {}));
         c.insertBlock(paragraph([](QTextBlockFormat& f) { f.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore); }));
         c.insertText("page two", chars([](QTextCharFormat&) {}));
       }},
      {"bullets and numbers",
       [](QTextDocument&, QTextCursor& c) {
         c.insertText("lists follow", chars([](QTextCharFormat&) {}));
         auto list = [&c](QTextListFormat::Style style, int indent, const QStringList& items) {
           c.insertBlock(QTextBlockFormat(), chars([](QTextCharFormat&) {}));
           QTextListFormat lf;
           lf.setStyle(style);
           lf.setIndent(indent);
           QTextList* l = c.createList(lf);
           for (qsizetype i = 0; i < items.size(); ++i) {
             if (i > 0) {
               c.insertBlock(QTextBlockFormat(), chars([](QTextCharFormat&) {}));
               l->add(c.block());
             }
             c.insertText(items[i], chars([](QTextCharFormat&) {}));
           }
           return l;
         };
         list(QTextListFormat::ListDisc, 1, {"disc one", "disc two"});
         list(QTextListFormat::ListCircle, 2, {"circle"});
         list(QTextListFormat::ListSquare, 3, {"square"});
         list(QTextListFormat::ListDecimal, 1, {"first", "second", "third"});
         c.insertBlock(QTextBlockFormat(), chars([](QTextCharFormat&) {}));
         c.insertText("between", chars([](QTextCharFormat&) {}));
         list(QTextListFormat::ListDecimal, 1, {"again first", "again second"});
         list(QTextListFormat::ListUpperAlpha, 1, {"A", "B"});
         list(QTextListFormat::ListLowerAlpha, 2, {"a"});
         list(QTextListFormat::ListUpperRoman, 1, {"I", "II"});
         list(QTextListFormat::ListLowerRoman, 2, {"i"});
         QTextListFormat indented;
         indented.setStyle(QTextListFormat::ListDecimal);
         indented.setIndent(1);
         c.insertBlock(paragraph([](QTextBlockFormat& f) { f.setLeftMargin(18); }), chars([](QTextCharFormat&) {}));
         c.createList(indented);
         c.insertText("indented further", chars([](QTextCharFormat&) {}));
       }},
      {"a grid with widths, colours, merged cells, borders and a page break",
       [](QTextDocument&, QTextCursor& c) {
         c.insertText("before", chars([](QTextCharFormat&) {}));
         QTextTableFormat tf = gridFormat();
         tf.setAlignment(Qt::AlignHCenter);
         tf.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
         tf.setColumnWidthConstraints({QTextLength(QTextLength::FixedLength, 72), QTextLength(QTextLength::FixedLength, 108),
                                       QTextLength(QTextLength::FixedLength, 36)});
         QTextTable* t = c.insertTable(3, 3, tf);
         t->mergeCells(0, 0, 1, 2);
         t->mergeCells(1, 2, 2, 1);
         cellText(t, 0, 0, "wide");
         cellText(t, 0, 2, "x");
         cellText(t, 1, 0, "10", paragraph([](QTextBlockFormat& f) { f.setAlignment(Qt::AlignRight); }));
         cellText(t, 1, 1, "text");
         cellText(t, 1, 2, "tall");
         cellText(t, 2, 1, "last");
         QTextTableCell coloured = t->cellAt(2, 0);
         QTextCharFormat cf = coloured.format();
         cf.setBackground(QColor(0xDD, 0xEE, 0xFF));
         cf.setVerticalAlignment(QTextCharFormat::AlignMiddle);
         coloured.setFormat(cf);
         QTextCursor inCell = t->cellAt(1, 1).lastCursorPosition();
         inCell.insertBlock();
         inCell.insertText("second paragraph", chars([](QTextCharFormat& f) { f.setFontItalic(true); }));
       }},
      {"tables that share the width",
       [](QTextDocument&, QTextCursor& c) {
         QTextTableFormat shares = gridFormat();
         shares.setWidth(QTextLength(QTextLength::PercentageLength, 100));
         shares.setColumnWidthConstraints({QTextLength(QTextLength::PercentageLength, 25), QTextLength(QTextLength::PercentageLength, 75)});
         QTextTable* t = c.insertTable(1, 2, shares);
         cellText(t, 0, 0, "quarter");
         cellText(t, 0, 1, "rest");
         c = t->lastCursorPosition();
         c.movePosition(QTextCursor::NextBlock);
         QTextTableFormat sheet = gridFormat();  // columns as wide as their content
         t = c.insertTable(2, 2, sheet);
         cellText(t, 0, 0, "A1");
         cellText(t, 1, 1, "B2");
         c = t->lastCursorPosition();
         c.movePosition(QTextCursor::NextBlock);
         c.insertText("after", chars([](QTextCharFormat&) {}));
       }},
      {"a table in a table",
       [](QTextDocument&, QTextCursor& c) {
         QTextTable* outer = c.insertTable(1, 2, gridFormat());
         cellText(outer, 0, 0, "outer");
         QTextCursor in = outer->cellAt(0, 1).firstCursorPosition();
         in.insertText("above", chars([](QTextCharFormat&) {}));
         QTextTableFormat inner = gridFormat();
         inner.setBackground(QColor());
         QTextTable* t = in.insertTable(2, 1, inner);
         cellText(t, 0, 0, "inner 1");
         cellText(t, 1, 0, "inner 2");
         in = t->lastCursorPosition();
         in.movePosition(QTextCursor::NextBlock);
         in.insertText("below", chars([](QTextCharFormat&) {}));
       }},
      {"pictures",
       [](QTextDocument& d, QTextCursor& c) {
         c.insertText("see ", chars([](QTextCharFormat&) {}));
         addPicture(d, c, "lectern-picture:1", squares(8, 6), 40, 30);
         c.insertText(" and", chars([](QTextCharFormat&) {}));
         QTextTable* t = c.insertTable(1, 1, gridFormat());
         QTextCursor in = t->cellAt(0, 0).firstCursorPosition();
         addPicture(d, in, "lectern-picture:2", squares(5, 5), 12.5, 12.5);
       }},
      {"empty paragraphs keep their size",
       [](QTextDocument&, QTextCursor& c) {
         c.setBlockCharFormat(chars([](QTextCharFormat& f) { f.setFontPointSize(20); }));
         c.insertBlock(QTextBlockFormat(), chars([](QTextCharFormat& f) { f.setFontPointSize(6); }));
         c.insertText("between", chars([](QTextCharFormat&) {}));
         c.insertBlock(QTextBlockFormat(), chars([](QTextCharFormat& f) { f.setFontFamilies({QStringLiteral("Arial")}); }));
       }},
      {"text that needs escaping",
       [](QTextDocument&, QTextCursor& c) {
         c.insertText(QString::fromUtf8("{braces} \\back\\ caf\u00e9 \u4e2d\u6587 \U0001F600 tab\there line") + QChar::LineSeparator + "next",
                      chars([](QTextCharFormat&) {}));
       }},
  };
  return cases;
}

TEST_F(RtfdTest, EveryFormatOfTheRichTextReadsBackRunByRun) {
  for (const FormatCase& c : formatCases()) {
    QTextDocument original;
    original.setDefaultFont(QFont(QStringLiteral("Times New Roman"), 12));
    QTextCursor cursor(&original);
    c.build(original, cursor);
    const QString package = out() + "/case.rtfd";
    QString why;
    ASSERT_TRUE(RTFDConverter::saveRtfdFile(original, package, true, &why)) << c.name << ": " << why.toStdString();
    const auto back = reload(package);
    ASSERT_TRUE(back) << c.name;
    EXPECT_EQ(richtext::difference(original, *back), "") << c.name << "\n" << readAll(package + "/TXT.rtf").toStdString();
  }
}

// The corpus documents a kit converts, text and sheets.
std::vector<const char*> corpusDocuments() {
  return {"works/testWORKS.wps",  "works/testWORKSWordProcessor3.0.wps", "works/testLotus123.wks",
          "works/testLotus123.wk1", "works/testQuattro.wq1",             "wordperfect/testWordPerfect.wpd",
          "wordperfect/testWordPerfect_5_1.wp"};
}

TEST_F(RtfdTest, CorpusDocumentsReadBackAsTheKitMadeThem) {
  for (const char* file : corpusDocuments()) {
    const QString source = QStringLiteral(LECTERN_CORPUS_DIR "/") + file;
    const auto kit = KitDocument::convert(source);
    ASSERT_TRUE(kit) << file;
    recorder = std::make_shared<ConverterRecorder>();
    auto e = exporter(source, "corpus");
    e->setReplaceExisting(true);
    ASSERT_TRUE(run(e)) << file << ": " << e->errorInfo().toStdString();
    const auto back = reload(out() + "/corpus.rtfd");
    ASSERT_TRUE(back) << file;
    EXPECT_EQ(richtext::difference(*kit->storage(), *back), "") << file;
  }
}

}  // namespace

namespace {

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define RTFD_TEST_UNDER_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(RTFD_TEST_UNDER_TSAN)
constexpr bool underThreadSanitizer = true;
#else
constexpr bool underThreadSanitizer = false;
#endif

// A word processor reads the same formats from the package's RTF. Pictures are left out: it
// does not read a package's picture files.
TEST_F(RtfdTest, AWordProcessorReadsTheSameFormats) {
  if (underThreadSanitizer) GTEST_SKIP() << "ThreadSanitizer cannot follow QProcess's start of a program";
  const QString office = QStandardPaths::findExecutable(QStringLiteral("soffice"));
  if (office.isEmpty()) GTEST_SKIP() << "soffice is not installed";
  const QString rtfs = out() + "/rtf", converted = out() + "/fodt";
  QDir().mkpath(rtfs);
  std::vector<std::unique_ptr<QTextDocument>> originals;
  std::vector<std::shared_ptr<QFExportObject>> kits;
  QStringList names;
  for (const FormatCase& c : formatCases()) {
    if (QString(c.name) == QLatin1String("pictures")) continue;
    auto original = std::make_unique<QTextDocument>();
    original->setDefaultFont(QFont(QStringLiteral("Times New Roman"), 12));
    QTextCursor cursor(original.get());
    c.build(*original, cursor);
    names << c.name;
    originals.push_back(std::move(original));
  }
  std::vector<const QTextDocument*> documents;
  for (const auto& d : originals) documents.push_back(d.get());
  for (const char* file : corpusDocuments()) {
    auto kit = KitDocument::convert(QStringLiteral(LECTERN_CORPUS_DIR "/") + file);
    ASSERT_TRUE(kit) << file;
    names << file;
    documents.push_back(kit->storage());
    kits.push_back(std::move(kit));
  }
  QStringList files;
  for (size_t i = 0; i < documents.size(); ++i) {
    const QString file = QStringLiteral("%1/case%2.rtf").arg(rtfs).arg(i);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(rtf::RTFWriter::write(*documents[i], {}));
    f.close();
    files << file;
  }
  QProcess soffice;
  soffice.start(office, QStringList{QStringLiteral("-env:UserInstallation=file://") + out() + "/profile", "--headless",
                                    "--convert-to", "fodt", "--outdir", converted} + files);
  ASSERT_TRUE(soffice.waitForFinished(180000)) << "soffice did not finish";
  for (size_t i = 0; i < documents.size(); ++i) {
    const QString name = names[i];
    const QByteArray xml = readAll(QStringLiteral("%1/case%2.fodt").arg(converted).arg(i));
    ASSERT_FALSE(xml.isEmpty()) << name.toStdString() << ": not converted";
    const auto peer = flatodt::read(xml);
    richtext::Options options;
    options.pictures = false;
    options.tableWidths = false;  // it keeps column widths in its own units
    options.lastEmptyParagraph = false;  // it gives the last paragraph its style's format
    EXPECT_EQ(richtext::difference(*documents[i], *peer, options), "") << name.toStdString();
  }
}

}  // namespace

namespace {

// RTF from other writers as rich text: what a reader shows of it.
TEST(RTFTextDocument, RtfFromOtherWritersBecomesRichText) {
  struct Case {
    const char* name;
    QByteArray rtf;
    std::function<void(QTextDocument&)> check;
  } cases[] = {
      {"a list the document does not define shows its marker as text",
       "{\\rtf1\\pard\\ls5{\\listtext 3.\\tab}third\\par}",
       [](QTextDocument& d) {
         EXPECT_EQ(d.begin().text(), "3.\tthird");
         EXPECT_FALSE(d.begin().textList());
       }},
      {"a list level with no number is plain text",
       "{\\rtf1{\\*\\listtable{\\list{\\listlevel\\levelnfc255{\\leveltext\\'00;}}\\listid1}}"
       "{\\*\\listoverridetable{\\listoverride\\listid1\\ls1}}\\pard\\ls1\\li720 text\\par}",
       [](QTextDocument& d) {
         EXPECT_FALSE(d.begin().textList());
         EXPECT_EQ(d.begin().blockFormat().leftMargin(), 36);
       }},
      {"a list paragraph's indent holds its level's step and its marker's hang",
       "{\\rtf1{\\*\\listtable{\\list{\\listlevel\\levelnfc0{\\leveltext\\'02\\'00.;}}{\\listlevel\\levelnfc0{\\leveltext\\'02\\'01);}}\\listid1}}"
       "{\\*\\listoverridetable{\\listoverride\\listid1\\ls1}}\\pard\\ls1\\ilvl1\\li1800\\fi-360 item\\par}",
       [](QTextDocument& d) {
         const QTextBlock b = d.begin();
         ASSERT_TRUE(b.textList());
         EXPECT_EQ(b.textList()->format().indent(), 2);
         EXPECT_EQ(b.textList()->format().numberSuffix(), ")");
         EXPECT_EQ(b.blockFormat().leftMargin(), 90 - 2 * d.indentWidth());
         EXPECT_EQ(b.blockFormat().textIndent(), 0);
       }},
      {"text in a merged-over cell joins the cell it is merged into",
       "{\\rtf1\\trowd\\clmgf\\cellx1000\\clmrg\\cellx2000\\pard\\intbl a\\cell\\pard\\intbl b\\cell\\row}",
       [](QTextDocument& d) {
         auto* t = qobject_cast<QTextTable*>(d.rootFrame()->childFrames().value(0));
         ASSERT_TRUE(t);
         EXPECT_EQ(t->cellAt(0, 0).columnSpan(), 2);
         QStringList texts;
         for (auto it = t->cellAt(0, 0).begin(); !it.atEnd(); ++it) texts << it.currentBlock().text();
         EXPECT_EQ(texts, (QStringList{"a", "b"}));
       }},
      {"a table keeps its page break after an empty cell merged into another",
       "{\\rtf1\\trowd\\clmgf\\cellx1000\\clmrg\\cellx2000\\pard\\intbl a\\cell\\pard\\intbl\\cell\\row\\pard\\par"
       "\\trowd\\cellx1000\\pard\\intbl\\pagebb b\\cell\\row}",
       [](QTextDocument& d) {
         const QList<QTextFrame*> tables = d.rootFrame()->childFrames();
         ASSERT_EQ(tables.size(), 2);
         auto* second = qobject_cast<QTextTable*>(tables[1]);
         EXPECT_TRUE(second->format().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore);
         EXPECT_FALSE(second->cellAt(0, 0).firstCursorPosition().blockFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore);
       }},
      {"widths beyond any page stay within 200 inches and the whole width",
       "{\\rtf1\\trowd\\trftsWidth2\\trwWidth999999\\clftsWidth3\\clwWidth2147483647\\cellx1000\\clftsWidth2\\clwWidth7000"
       "\\cellx2000\\cellx2147483647\\pard\\intbl a\\cell b\\cell c\\cell\\row}",
       [](QTextDocument& d) {
         auto* t = qobject_cast<QTextTable*>(d.rootFrame()->childFrames().value(0));
         ASSERT_TRUE(t);
         EXPECT_EQ(t->format().width(), QTextLength(QTextLength::PercentageLength, 100));
         EXPECT_EQ(t->format().columnWidthConstraints(),
                   (QList<QTextLength>{QTextLength(QTextLength::FixedLength, 14400), QTextLength(QTextLength::PercentageLength, 100),
                                       QTextLength(QTextLength::FixedLength, 14400)}));
       }},
      {"rows far wider than the cells they bring are not padded out",
       "{\\rtf1\\trowd" + QByteArray("\\cellx1").repeated(1000) + QByteArray("\\pard\\intbl x\\cell\\row").repeated(400) + "}",
       [](QTextDocument& d) {
         auto* t = qobject_cast<QTextTable*>(d.rootFrame()->childFrames().value(0));
         ASSERT_TRUE(t);
         EXPECT_EQ(t->rows(), 400);
         EXPECT_LE(qsizetype(t->rows()) * t->columns(), 4 * 800 + 4096);
         EXPECT_EQ(t->cellAt(399, 0).firstCursorPosition().block().text(), "x");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto d = rtf::RTFTextDocument::fromData(c.rtf);
    ASSERT_TRUE(d);
    c.check(*d);
  }
}

}  // namespace

namespace {

mode_t modeOf(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

QStringList entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

TEST_F(RtfdTest, APackageHasTheModesTheUmaskGivesNewFiles) {
  QTextDocument text;
  QTextCursor cursor(&text);
  cursor.insertText("words ");
  addPicture(text, cursor, "pic", squares(4, 4), 4, 4);
  for (mode_t mask : {mode_t(022), mode_t(077), mode_t(002)}) {
    SCOPED_TRACE("umask " + QString::number(mask, 8).toStdString());
    const QString package = out() + "/modes.rtfd";
    const mode_t before = ::umask(mask);
    QString why;
    const bool written = RTFDConverter::saveRtfdFile(text, package, true, &why);
    ::umask(before);
    ASSERT_TRUE(written) << why.toStdString();
    EXPECT_EQ(modeOf(package), 0777 & ~mask);
    EXPECT_EQ(modeOf(package + "/TXT.rtf"), 0666 & ~mask);
    EXPECT_EQ(modeOf(package + "/image1.png"), 0666 & ~mask);
  }
}

// A file system without RENAME_NOREPLACE (NFS): renameat2 with it fails with EINVAL. `before`
// runs first, as another program would between the check and the rename.
struct NoNoReplace {
  static inline std::function<void(const char* to)> before;
  static inline int refused = 0;
  static int rename(const char* from, const char* to, unsigned int flags) {
    if (flags & RENAME_NOREPLACE) {
      ++refused;
      if (before) before(to);
      errno = EINVAL;
      return -1;
    }
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
  }
  NoNoReplace() {
    before = nullptr;
    refused = 0;
    RTFDConverter::setRenameForTesting(&NoNoReplace::rename);
  }
  ~NoNoReplace() { RTFDConverter::setRenameForTesting(nullptr); }
};

TEST_F(RtfdTest, WithoutNoReplaceRenamesAPackageStillNeverReplacesAnother) {
  QTextDocument text;
  text.setPlainText("new words");
  const QString package = out() + "/letter.rtfd";
  struct Case {
    const char* name;
    std::function<void()> existing;         // what stands under the name before the save
    std::function<void(const char*)> race;  // what takes the name during the save
    bool replace;
    bool written;
  } cases[] = {
      {"a new name", [] {}, nullptr, false, true},
      {"a package already there", [&] { ASSERT_TRUE(RTFDConverter::saveRtfdFile(QTextDocument("old"), package, false, nullptr)); },
       nullptr, false, false},
      {"an empty folder already there", [&] { ASSERT_TRUE(QDir().mkdir(package)); }, nullptr, false, false},
      {"a package made while this one is written", [] {},
       [](const char* to) {
         QDir().mkdir(QFile::decodeName(to));
         QFile f(QFile::decodeName(to) + "/TXT.rtf");
         ASSERT_TRUE(f.open(QIODevice::WriteOnly));
         f.write("{\\rtf1 theirs}");
       },
       false, false},
      {"a package already there, replaced when told", [&] { ASSERT_TRUE(RTFDConverter::saveRtfdFile(QTextDocument("old"), package, false, nullptr)); },
       nullptr, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QDir(package).removeRecursively();
    c.existing();
    const QByteArray before = readAll(package + "/TXT.rtf");
    NoNoReplace fs;
    NoNoReplace::before = c.race;
    QString why;
    EXPECT_EQ(RTFDConverter::saveRtfdFile(text, package, c.replace, &why), c.written) << why.toStdString();
    EXPECT_EQ(NoNoReplace::refused, 1) << "the no-replace rename is tried first";
    const auto content = rtf::RTFReader::read(readAll(package + "/TXT.rtf"));
    if (c.written) {
      ASSERT_TRUE(content);
      EXPECT_EQ(content->plainText(), "new words");
    } else {
      EXPECT_EQ(why, "it already exists");
      EXPECT_EQ(readAll(package + "/TXT.rtf"), c.race ? QByteArray("{\\rtf1 theirs}") : before);
    }
    EXPECT_EQ(entries(out()), QStringList{"letter.rtfd"}) << "nothing is left beside the package";
  }
}

}  // namespace
