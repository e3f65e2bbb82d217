#include "modules/rtf/RTFReader.h"

#include <gtest/gtest.h>

#include <QFile>

using rtf::Content;
using rtf::RTFReader;

namespace {

Content readOrFail(const QByteArray& data) {
  auto content = RTFReader::read(data);
  EXPECT_TRUE(content.has_value()) << data.constData();
  return content.value_or(Content{});
}

}  // namespace

TEST(RTFReader, TextThroughGroupsEscapesAndCodePages) {
  struct Case {
    const char* name;
    QByteArray rtf;
    QString text;
  } cases[] = {
      {"paragraphs and groups", "{\\rtf1 one {\\b two}\\par three}", "one two\nthree"},
      {"escaped braces and backslash", "{\\rtf1 a\\{b\\}c\\\\d}", "a{b}c\\d"},
      {"hex through the document code page", "{\\rtf1\\ansi\\ansicpg1252 caf\\'e9 \\'80}", QString::fromUtf8("café €")},
      {"hex through the font's charset",
       "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset204 Arial Cyr;}}\\f1 \\'cf\\'f0 \\f0 \\'e9}",
       QString::fromUtf8("Пр é")},
      {"double-byte code page", "{\\rtf1\\ansi\\ansicpg932 \\'82\\'a0}", QString::fromUtf8("あ")},
      {"unicode with one fallback character", "{\\rtf1 \\u8364?x}", QString::fromUtf8("€x")},
      {"unicode with \\uc2 and hex fallbacks", "{\\rtf1\\uc2 \\u-3913\\'3f\\'3fz}", QString(QChar(0xF0B7)) + "z"},
      {"\\u without a number", "{\\rtf1 a\\u b\\u0 c}", "abc"},
      {"surrogate pair", "{\\rtf1\\uc0 \\u-10179\\u-8704 }", QString::fromUtf8("😀")},
      {"fallback skipping ends with the group", "{\\rtf1\\uc3 {\\u65 }BC}", "ABC"},
      {"skipped destinations", "{\\rtf1{\\colortbl;\\red0;}{\\*\\generator x;}{\\pict 0a0b}{\\*\\unknown y}ok}", "ok"},
      {"field result shown, instruction not", "{\\rtf1{\\field{\\*\\fldinst HYPERLINK x}{\\fldrslt link}}}", "link"},
      {"binary data skipped", "{\\rtf1 a{\\pict\\bin3 }}}}b}", "ab"},
      {"special characters", "{\\rtf1 \\endash\\~\\tab x\\line y}", QString(QChar(0x2013)) + QChar(0xA0) + "\tx" + QChar(0x2028) + "y"},
      {"a parameter that overflows", "{\\rtf1\\fs99999999999999 big}", "big"},
      {"unclosed groups", "{\\rtf1 open {\\b more", "open more"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(readOrFail(c.rtf).plainText(), c.text) << c.name;
  }
}

TEST(RTFReader, CharacterFormatsAndFonts) {
  const Content content = readOrFail(
      "{\\rtf1\\deff0{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\froman{\\*\\panose 0203}Times New Roman;}}"
      "plain {\\b bold {\\i both}} {\\ul under\\ul0 not} \\f1\\fs40 big\\plain  reset}");
  ASSERT_EQ(content.paragraphs.size(), 1);
  EXPECT_EQ(content.fonts.value(0).name, "Arial");
  EXPECT_EQ(content.fonts.value(1).name, "Times New Roman");
  QMap<QString, rtf::CharFormat> byText;
  for (const auto& run : content.paragraphs[0].runs) byText[run.text.trimmed()] = run.format;
  EXPECT_TRUE(byText["bold"].bold);
  EXPECT_FALSE(byText["bold"].italic);
  EXPECT_TRUE(byText["both"].bold && byText["both"].italic);
  EXPECT_TRUE(byText["under"].underline);
  EXPECT_FALSE(byText["not"].underline);
  EXPECT_EQ(byText["big"].halfPoints, 40);
  EXPECT_EQ(byText["big"].font, 1);
  EXPECT_EQ(byText["reset"].halfPoints, 24);
  EXPECT_EQ(byText["reset"].font, 0);
  EXPECT_FALSE(byText["plain"].bold);
}

TEST(RTFReader, HtmlEncapsulatedInRtf) {
  const Content content = readOrFail(
      "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 {\\fonttbl{\\f0\\fswiss Arial;}}"
      "{\\*\\htmltag19 <html>}{\\*\\htmltag64 <p>}\\htmlrtf {\\b\\htmlrtf0 caf\\'e9\\htmlrtf }\\htmlrtf0 "
      "{\\*\\htmltag72 </p>}\\par{\\*\\mhtmltag0 <a href=\"other\">}{\\*\\htmltag0 <b>}\\htmlrtf hidden\\htmlrtf0 x"
      "{\\*\\htmltag27 </html>}}");
  ASSERT_TRUE(content.isHtml);
  EXPECT_EQ(content.html, QString::fromUtf8("<html><p>café</p>\r\n<b>x</html>"));
  EXPECT_TRUE(content.paragraphs.isEmpty());
}

TEST(RTFReader, OnlyRtfIsRead) {
  EXPECT_FALSE(RTFReader::read("plain text"));
  EXPECT_FALSE(RTFReader::read(""));
  EXPECT_FALSE(RTFReader::read("{\\rt"));
  EXPECT_TRUE(RTFReader::read("\r\n {\\rtf1}"));
  EXPECT_EQ(RTFReader::decodeCodePage("\x81", 1252), QString(QChar::ReplacementCharacter));
  EXPECT_EQ(RTFReader::decodeCodePage("a\xe9", 99999), QString::fromUtf8("aé"));
}

TEST(RTFReader, TheCorpusMessageBody) {
  QFile file(QStringLiteral(LECTERN_CORPUS_DIR "/tnef/quick-contents/message.rtf"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const Content content = readOrFail(file.readAll());
  ASSERT_FALSE(content.isHtml);
  ASSERT_GE(content.paragraphs.size(), 2);
  EXPECT_EQ(content.paragraphs[0].text(), "These are five files.");
  EXPECT_TRUE(content.paragraphs[0].runs[0].format.bold);
  EXPECT_EQ(content.paragraphs[0].runs[0].format.halfPoints, 22);
  EXPECT_EQ(content.fonts.value(content.paragraphs[0].runs[0].format.font).name, "Calibri");
  EXPECT_TRUE(content.plainText().contains("Five files from Hell!"));
  EXPECT_FALSE(content.plainText().contains("panose"));
  EXPECT_FALSE(content.plainText().contains("Times New Roman"));
}
