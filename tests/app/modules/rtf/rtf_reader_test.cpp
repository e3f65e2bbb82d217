#include "modules/rtf/RTFReader.h"

#include <gtest/gtest.h>

#include <QFile>

#include <functional>

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
      {"control characters show nothing", "{\\rtf1\\uc0 a\\'01b\\'0d\\u10 c\\'7f\\tab d}", "abc\td"},
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

TEST(RTFReader, ParagraphAndCharacterFormats) {
  using rtf::Alignment;
  using rtf::ParagraphFormat;
  using rtf::TabStop;
  using rtf::VerticalPosition;
  const QByteArray head = "{\\rtf1{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}";
  struct Case {
    const char* name;
    QByteArray body;
    std::function<void(const Content&)> check;
  } cases[] = {
      {"colours, strike, scripts",
       "\\cf1 red\\cf0  {\\highlight2 marked}{\\strike struck\\strike0 plain}{\\super up\\nosupersub level}{\\sub down}",
       [](const Content& c) {
         ASSERT_EQ(c.colours.size(), 3);
         EXPECT_TRUE(c.colours[0].automatic);
         EXPECT_EQ(c.colours[1].red, 255);
         EXPECT_FALSE(c.colours[1].automatic);
         QMap<QString, rtf::CharFormat> f;
         for (const auto& run : c.paragraphs.at(0).runs) f[run.text.trimmed()] = run.format;
         EXPECT_EQ(f["red"].colour, 1);
         EXPECT_EQ(f["marked"].highlight, 2);
         EXPECT_TRUE(f["struck"].strike);
         EXPECT_FALSE(f["plain"].strike);
         EXPECT_EQ(f["up"].position, VerticalPosition::Super);
         EXPECT_EQ(f["level"].position, VerticalPosition::Normal);
         EXPECT_EQ(f["down"].position, VerticalPosition::Sub);
       }},
      {"paragraph formats stand until \\pard",
       "\\qc\\li720\\ri360\\fi-360\\sb120\\sa240\\sl360\\slmult1 one\\par two\\par\\pard\\qj three\\par",
       [](const Content& c) {
         ASSERT_EQ(c.paragraphs.size(), 3);
         ParagraphFormat expected;
         expected.alignment = Alignment::Centre;
         expected.leftIndent = 720;
         expected.rightIndent = 360;
         expected.firstIndent = -360;
         expected.spaceBefore = 120;
         expected.spaceAfter = 240;
         expected.lineSpacing = 360;
         expected.lineMultiple = true;
         EXPECT_EQ(c.paragraphs[0].format, expected);
         EXPECT_EQ(c.paragraphs[1].format, expected);
         EXPECT_EQ(c.paragraphs[2].format.alignment, Alignment::Justify);
         EXPECT_EQ(c.paragraphs[2].format.leftIndent, 0);
       }},
      {"tab stops of each kind",
       "\\tx720\\tqc\\tx2880\\tqr\\tx5760\\tqdec\\tx7200\\tb\\tx8000 a\\tab b\\par",
       [](const Content& c) {
         const QList<TabStop> tabs{{720, TabStop::Kind::Left},
                                   {2880, TabStop::Kind::Centre},
                                   {5760, TabStop::Kind::Right},
                                   {7200, TabStop::Kind::Decimal},
                                   {8000, TabStop::Kind::Left}};
         EXPECT_EQ(c.paragraphs.at(0).format.tabs, tabs);
       }},
      {"a page break starts the next paragraph on a new page",
       "one\\page two\\par\\page\\pard three\\par\\pard\\pagebb four\\par",
       [](const Content& c) {
         ASSERT_EQ(c.paragraphs.size(), 4);
         EXPECT_FALSE(c.paragraphs[0].format.pageBreakBefore);
         EXPECT_TRUE(c.paragraphs[1].format.pageBreakBefore);
         EXPECT_TRUE(c.paragraphs[2].format.pageBreakBefore);
         EXPECT_TRUE(c.paragraphs[3].format.pageBreakBefore);
       }},
      {"an empty paragraph keeps the format at its end",
       "\\fs40\\par text\\par",
       [](const Content& c) {
         ASSERT_EQ(c.paragraphs.size(), 2);
         EXPECT_TRUE(c.paragraphs[0].runs.isEmpty());
         EXPECT_EQ(c.paragraphs[0].mark.halfPoints, 40);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.check(readOrFail(head + c.body + "}"));
  }
}

TEST(RTFReader, ListsTablesAndPictures) {
  struct Case {
    const char* name;
    QByteArray rtf;
    std::function<void(const Content&)> check;
  } cases[] = {
      {"lists through their override and level",
       "{\\rtf1{\\*\\listtable{\\list\\listtemplateid9{\\listlevel\\levelnfc23{\\leveltext\\'01\\u8226 ?;}{\\levelnumbers;}}"
       "{\\listlevel\\levelnfc4{\\leveltext\\'03(\\'01);}{\\levelnumbers\\'02;}}\\listid77}}"
       "{\\*\\listoverridetable{\\listoverride\\listid77\\listoverridecount0\\ls3}}"
       "\\pard\\ls3{\\listtext\\'95\\tab}one\\par\\pard\\ls3\\ilvl1{\\listtext (a)\\tab}two\\par}",
       [](const Content& c) {
         ASSERT_EQ(c.paragraphs.size(), 2);
         EXPECT_EQ(c.paragraphs[0].text(), "one");
         EXPECT_EQ(c.paragraphs[0].listText, QString::fromUtf8("\u2022\t"));
         const rtf::ListLevel* bullet = c.listLevel(c.paragraphs[0].format);
         ASSERT_TRUE(bullet);
         EXPECT_EQ(bullet->numberFormat, 23);
         EXPECT_EQ(bullet->text, QString(QChar(0x2022)));
         const rtf::ListLevel* letter = c.listLevel(c.paragraphs[1].format);
         ASSERT_TRUE(letter);
         EXPECT_EQ(letter->numberFormat, 4);
         EXPECT_EQ(letter->text, QString("(") + QChar(1) + ")");
         const Content long_ = readOrFail("{\\rtf1{\\*\\listtable{\\list{\\listlevel{\\leveltext\\u300 " + QByteArray(400, 'x') +
                                          ";}}\\listid1}}{\\*\\listoverridetable{\\listoverride\\listid1\\ls1}}\\ls1 a\\par}");
         rtf::ParagraphFormat first;
         first.list = 1;
         ASSERT_TRUE(long_.listLevel(first));
         EXPECT_EQ(long_.listLevel(first)->text.size(), 255) << "a level's text has a byte's length";
         rtf::ParagraphFormat unknown;
         unknown.list = 4;
         EXPECT_FALSE(c.listLevel(unknown));
       }},
      {"rows defined before their cells, and again before \\row",
       "{\\rtf1{\\colortbl;\\red1\\green2\\blue3;}\\trowd\\trgaph108\\clcbpat1\\clvertalc\\clmgf\\cellx1000\\clmrg\\cellx2000\\cellx3000"
       "\\pard\\intbl wide\\cell\\pard\\intbl\\cell\\pard\\intbl right\\par second\\cell"
       "\\trowd\\trgaph108\\clcbpat1\\clvertalc\\clmgf\\cellx1000\\clmrg\\cellx2000\\cellx3000\\row"
       "\\trowd\\clvmgf\\cellx1000\\cellx3000\\pard\\intbl a\\cell b\\cell\\row"
       "\\trowd\\clvmrg\\cellx1000\\cellx3000\\pard\\intbl\\cell\\pard\\intbl c\\cell\\row\\pard after\\par}",
       [](const Content& c) {
         ASSERT_EQ(c.tables.size(), 1);
         const rtf::Table& t = c.tables[0];
         ASSERT_EQ(t.rows.size(), 3);
         EXPECT_EQ(t.rows[0].cells, 3);
         ASSERT_EQ(t.rows[0].definition.cells.size(), 3);
         EXPECT_EQ(t.rows[0].definition.gap, 108);
         const rtf::CellDefinition& first = t.rows[0].definition.cells[0];
         EXPECT_TRUE(first.mergeFirst);
         EXPECT_EQ(first.background, 1);
         EXPECT_EQ(first.verticalAlignment, 1);
         EXPECT_EQ(first.edge, 1000);
         EXPECT_TRUE(t.rows[0].definition.cells[1].merged);
         EXPECT_TRUE(t.rows[1].definition.cells[0].vmergeFirst);
         EXPECT_TRUE(t.rows[2].definition.cells[0].vmerged);
         EXPECT_EQ(t.rows[1].cells, 2) << "\\intbl stands until \\pard";
         QStringList places;
         for (const auto& p : c.paragraphs) {
           QString where = p.cells.isEmpty() ? QString("-") : QStringLiteral("%1.%2.%3").arg(p.cells[0].table).arg(p.cells[0].row).arg(p.cells[0].cell);
           places << p.text() + "@" + where;
         }
         EXPECT_EQ(places, (QStringList{"wide@0.0.0", "@0.0.1", "right@0.0.2", "second@0.0.2", "a@0.1.0", "b@0.1.1", "@0.2.0",
                                        "c@0.2.1", "after@-"}));
       }},
      {"a table in a cell",
       "{\\rtf1\\trowd\\cellx4000\\cellx8000\\pard\\intbl outer\\cell\\pard\\intbl above\\par"
       "\\pard\\intbl\\itap2 inner\\nestcell{\\*\\nesttableprops\\trowd\\clcbpat0\\cellx2000\\nestrow}{\\nonesttables\\par}"
       "\\pard\\intbl\\itap2 again\\nestcell{\\*\\nesttableprops\\trowd\\cellx2000\\nestrow}{\\nonesttables\\par}"
       "\\pard\\intbl below\\cell\\row"
       "\\trowd\\cellx4000\\cellx8000\\pard\\intbl\\itap2 second inner\\nestcell{\\*\\nesttableprops\\trowd\\cellx2000\\nestrow}"
       "\\pard\\intbl\\cell\\pard\\intbl x\\cell\\row}",
       [](const Content& c) {
         ASSERT_EQ(c.tables.size(), 3) << "the outer table and one inner table in each of two cells";
         EXPECT_EQ(c.tables[0].rows.size(), 2);
         EXPECT_EQ(c.tables[1].rows.size(), 2);
         EXPECT_EQ(c.tables[2].rows.size(), 1);
         EXPECT_EQ(c.plainText(), "outer\nabove\ninner\nagain\nbelow\nsecond inner\n\nx");
         const rtf::Paragraph& inner = c.paragraphs[2];
         ASSERT_EQ(inner.cells.size(), 2);
         EXPECT_EQ(inner.cells[0], (rtf::CellPlace{0, 0, 1}));
         EXPECT_EQ(inner.cells[1], (rtf::CellPlace{1, 0, 0}));
         EXPECT_EQ(c.paragraphs[3].cells[1], (rtf::CellPlace{1, 1, 0}));
         EXPECT_EQ(c.paragraphs[5].cells[1], (rtf::CellPlace{2, 0, 0}));
       }},
      {"a picture in its own file",
       "{\\rtf1 see {\\*\\NeXTGraphic image1.png \\width800 \\height600}\\u169? end}",
       [](const Content& c) {
         ASSERT_EQ(c.paragraphs.size(), 1);
         const auto& runs = c.paragraphs[0].runs;
         ASSERT_EQ(runs.size(), 3);
         EXPECT_EQ(runs[0].text, "see ");
         ASSERT_TRUE(runs[1].picture);
         EXPECT_EQ(runs[1].picture->name, "image1.png");
         EXPECT_EQ(runs[1].picture->widthTwips, 800);
         EXPECT_EQ(runs[1].picture->heightTwips, 600);
         EXPECT_EQ(runs[2].text, QString::fromUtf8("\u00a9 end"));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.check(readOrFail(c.rtf));
  }
}
