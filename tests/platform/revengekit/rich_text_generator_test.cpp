#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextList>
#include <QTextTable>

#include "platform/revengekit/RichTextGenerator.h"
#include "platform/revengekit/RichTextPrinter.h"
#include "support/pdf_text.h"
#include "support/temp_dir.h"

using librevenge::RVNGPropertyList;
using librevenge::RVNGPropertyListVector;
using librevenge::RVNGString;
using revengekit::RichTextGenerator;

namespace {

RVNGPropertyList pageSpan(double widthIn, double heightIn, double leftIn, double topIn, double rightIn, double bottomIn) {
  RVNGPropertyList p;
  p.insert("fo:page-width", widthIn);
  p.insert("fo:page-height", heightIn);
  p.insert("fo:margin-left", leftIn);
  p.insert("fo:margin-top", topIn);
  p.insert("fo:margin-right", rightIn);
  p.insert("fo:margin-bottom", bottomIn);
  return p;
}

void paragraph(RichTextGenerator& g, const char* text, const RVNGPropertyList& props = {}) {
  g.openParagraph(props);
  g.openSpan({});
  g.insertText(RVNGString(text));
  g.closeSpan();
  g.closeParagraph();
}

// A row of a sheet; each cell a text, a number (`text` null) or nothing shown (`text` empty).
struct SheetCell {
  int column;
  const char* text;
  double number;
  int row = -1;  // the row the cell names, if any
};
void sheetRow(librevenge::RVNGSpreadsheetInterface& sheet, const std::vector<SheetCell>& cells) {
  sheet.openSheetRow({});
  for (const SheetCell& c : cells) {
    RVNGPropertyList props;
    props.insert("librevenge:column", c.column);
    if (c.row >= 0) props.insert("librevenge:row", c.row);
    if (!c.text) {
      props.insert("librevenge:value-type", "float");
      props.insert("librevenge:value", c.number, librevenge::RVNG_GENERIC);
    }
    sheet.openSheetCell(props);
    if (c.text && *c.text) {
      sheet.openParagraph({});
      sheet.openSpan({});
      sheet.insertText(RVNGString(c.text));
      sheet.closeSpan();
      sheet.closeParagraph();
    }
    sheet.closeSheetCell();
  }
  sheet.closeSheetRow();
}

// Prints what the generator built on Letter paper with inch margins; the words of the PDF.
testsupport::PdfLayout printed(RichTextGenerator& g, const testsupport::TempDir& dir) {
  auto doc = g.takeDocument();
  const QString pdf = QString::fromStdString((dir / "out.pdf").string());
  const auto result = revengekit::printRichText(*doc, QSizeF(612, 792), QMarginsF(72, 72, 72, 72), pdf);
  EXPECT_TRUE(result.ok) << result.error.toStdString();
  return testsupport::pdfLayout(pdf);
}

}  // namespace

TEST(RichTextGenerator, PageSpanGivesPaperAndMarginsAndThePrintFillsThem) {
  RichTextGenerator g;
  g.startDocument({});
  g.openPageSpan(pageSpan(8.5, 11.0, 1.0, 1.0, 1.0, 1.0));
  std::string line;
  for (int i = 0; i < 60; ++i) line += "wordy" + std::to_string(i) + " ";
  for (int i = 0; i < 40; ++i) paragraph(g, line.c_str());
  g.closePageSpan();
  g.endDocument();
  EXPECT_EQ(g.pageSetup().paper, QSizeF(612, 792));
  EXPECT_EQ(g.pageSetup().margins, QMarginsF(72, 72, 72, 72));

  auto doc = g.takeDocument();
  testsupport::TempDir dir;
  const QString pdf = QString::fromStdString((dir / "out.pdf").string());
  const auto printed = revengekit::printRichText(*doc, g.pageSetup().paper, g.pageSetup().margins, pdf);
  ASSERT_TRUE(printed.ok) << printed.error.toStdString();
  const auto layout = testsupport::pdfLayout(pdf);
  ASSERT_GE(layout.pages.size(), 2u);  // the text runs over several pages
  EXPECT_EQ(static_cast<int>(layout.pages.size()), printed.pages);
  for (const QSizeF& page : layout.pages) EXPECT_EQ(page.toSize(), QSize(612, 792));
  double right = 0, bottom = 0;
  for (const auto& w : layout.words) {
    EXPECT_GE(w.box.left(), 72.0 - 0.5) << w.text.toStdString();
    EXPECT_LE(w.box.right(), 540.0 + 0.5) << w.text.toStdString();
    EXPECT_GE(w.box.top(), 72.0 - 2.0) << w.text.toStdString();
    EXPECT_LE(w.box.bottom(), 720.0 + 2.0) << w.text.toStdString();
    right = std::max(right, w.box.right());
    if (w.page == 0) bottom = std::max(bottom, w.box.bottom());
  }
  // The lines fill the column and the first page fills down to its bottom margin.
  EXPECT_GT(right, 500.0);
  EXPECT_GT(bottom, 680.0);
}

TEST(RichTextGenerator, SpansParagraphsAndBreaksCarryTheirFormat) {
  RichTextGenerator g;
  RVNGPropertyList centred;
  centred.insert("fo:text-align", "center");
  g.openParagraph(centred);
  RVNGPropertyList bold;
  bold.insert("fo:font-weight", "bold");
  bold.insert("fo:font-size", 18.0, librevenge::RVNG_POINT);
  bold.insert("fo:color", "#ff0000");
  bold.insert("style:font-name", "DejaVu Sans");
  g.openSpan(bold);
  g.insertText(RVNGString("Big"));
  g.closeSpan();
  RVNGPropertyList italic;
  italic.insert("fo:font-style", "italic");
  italic.insert("style:text-underline-type", "single");
  g.openSpan(italic);
  g.insertTab();
  g.insertText(RVNGString("slanted"));
  g.insertLineBreak();
  g.insertText(RVNGString("next"));
  g.closeSpan();
  g.closeParagraph();
  RVNGPropertyList broken;
  broken.insert("fo:break-before", "page");
  paragraph(g, "after the break", broken);
  g.openUnorderedListLevel({});
  g.openListElement({});
  g.insertText(RVNGString("item"));
  g.closeListElement();
  g.closeUnorderedListLevel();

  auto doc = g.takeDocument();
  QTextBlock first = doc->firstBlock();
  EXPECT_EQ(first.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  EXPECT_EQ(first.text(), QStringLiteral("Big\tslanted") + QChar::LineSeparator + QStringLiteral("next"));
  std::vector<QTextCharFormat> formats;
  for (auto it = first.begin(); !it.atEnd(); ++it) formats.push_back(it.fragment().charFormat());
  ASSERT_EQ(formats.size(), 2u);
  EXPECT_EQ(formats[0].fontWeight(), QFont::Bold);
  EXPECT_DOUBLE_EQ(formats[0].fontPointSize(), 18.0);
  EXPECT_EQ(formats[0].foreground().color(), QColor(Qt::red));
  EXPECT_EQ(formats[0].fontFamilies().toStringList(), QStringList{QStringLiteral("DejaVu Sans")});
  EXPECT_TRUE(formats[1].fontItalic());
  EXPECT_TRUE(formats[1].fontUnderline());
  EXPECT_NE(formats[1].fontWeight(), QFont::Bold);
  const QTextBlock second = first.next();
  EXPECT_EQ(second.text(), QStringLiteral("after the break"));
  EXPECT_EQ(second.blockFormat().pageBreakPolicy(), QTextFormat::PageBreak_AlwaysBefore);
  const QTextBlock third = second.next();
  EXPECT_EQ(third.text(), QStringLiteral("item"));
  ASSERT_NE(third.textList(), nullptr);
  EXPECT_EQ(third.textList()->format().style(), QTextListFormat::ListDisc);
}

TEST(RichTextGenerator, SpreadsheetBecomesATableWithItsCellText) {
  RichTextGenerator g;
  librevenge::RVNGSpreadsheetInterface& sheet = g;
  RVNGPropertyList sheetProps;
  RVNGPropertyListVector columns;
  for (int i = 0; i < 3; ++i) {
    RVNGPropertyList c;
    c.insert("style:column-width", 1.0);
    columns.append(c);
  }
  sheetProps.insert("librevenge:columns", columns);
  sheet.openSheet(sheetProps);
  sheet.openSheetRow({});
  for (int col : {0, 2}) {
    RVNGPropertyList cell;
    cell.insert("librevenge:column", col);
    sheet.openSheetCell(cell);
    sheet.openParagraph({});
    sheet.insertText(RVNGString(col == 0 ? "Name" : "Total"));
    sheet.closeParagraph();
    sheet.closeSheetCell();
  }
  sheet.closeSheetRow();
  sheet.openSheetRow({});
  RVNGPropertyList twoPlaces;
  twoPlaces.insert("librevenge:name", "Numbering0");
  twoPlaces.insert("librevenge:value-type", "number");
  twoPlaces.insert("number:decimal-places", 2);
  sheet.defineSheetNumberingStyle(twoPlaces);
  RVNGPropertyList date;
  date.insert("librevenge:name", "Numbering1");
  RVNGPropertyListVector parts;
  for (const char* part : {"month", "/", "day", "/", "year"}) {
    RVNGPropertyList p;
    if (part[0] == '/') {
      p.insert("librevenge:value-type", "text");
      p.insert("librevenge:text", part);
    } else {
      p.insert("librevenge:value-type", part);
    }
    parts.append(p);
  }
  date.insert("librevenge:format", parts);
  sheet.defineSheetNumberingStyle(date);
  struct Value {
    int column;
    const char* type;
    double value;
    const char* numbering;
  };
  // Numbers and dates without text of their own show as the sheet shows them.
  for (const Value& v : {Value{0, "float", 0.00449152354, nullptr}, Value{1, "date", 0, "Numbering1"},
                         Value{2, "float", 1234.5, "Numbering0"}}) {
    RVNGPropertyList cell;
    cell.insert("librevenge:column", v.column);
    cell.insert("librevenge:value-type", v.type);
    if (v.type[0] == 'd') {
      cell.insert("librevenge:year", 1996);
      cell.insert("librevenge:month", 7);
      cell.insert("librevenge:day", 3);
    } else {
      cell.insert("librevenge:value", v.value, librevenge::RVNG_GENERIC);
    }
    if (v.numbering) cell.insert("librevenge:numbering-name", v.numbering);
    sheet.openSheetCell(cell);
    sheet.closeSheetCell();
  }
  sheet.closeSheetRow();
  sheet.closeSheet();
  sheet.openSheet(sheetProps);
  sheet.openSheetRow({});
  sheet.openSheetCell({});
  sheet.insertText(RVNGString("second sheet"));
  sheet.closeSheetCell();
  sheet.closeSheetRow();
  sheet.closeSheet();

  auto doc = g.takeDocument();
  std::vector<QTextTable*> tables;
  for (QTextFrame* f : doc->rootFrame()->childFrames())
    if (auto* t = qobject_cast<QTextTable*>(f)) tables.push_back(t);
  ASSERT_EQ(tables.size(), 2u);
  QTextTable* t = tables[0];
  EXPECT_EQ(t->rows(), 2);
  EXPECT_EQ(t->columns(), 3);
  auto cellText = [](QTextTable* table, int r, int c) {
    QTextCursor cur = table->cellAt(r, c).firstCursorPosition();
    cur.setPosition(table->cellAt(r, c).lastPosition(), QTextCursor::KeepAnchor);
    return cur.selectedText();
  };
  EXPECT_EQ(cellText(t, 0, 0), QStringLiteral("Name"));
  EXPECT_EQ(cellText(t, 0, 1), QString());
  EXPECT_EQ(cellText(t, 0, 2), QStringLiteral("Total"));
  EXPECT_EQ(cellText(t, 1, 0), QStringLiteral("0.00449152"));
  EXPECT_EQ(cellText(t, 1, 1), QStringLiteral("07/03/96"));
  EXPECT_EQ(cellText(t, 1, 2), QStringLiteral("1234.50"));
  EXPECT_EQ(cellText(tables[1], 0, 0), QStringLiteral("second sheet"));
  EXPECT_EQ(tables[1]->format().pageBreakPolicy(), QTextFormat::PageBreak_AlwaysBefore);
}

TEST(RichTextGenerator, OversizedImageIsScaledIntoTheColumn) {
  QImage image(400, 100, QImage::Format_RGB32);
  image.fill(Qt::blue);
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");

  struct Case {
    double frameWidthIn, frameHeightIn;
    double expectedWidth, expectedHeight;
  };
  // Text width 612 - 2 x 72 = 468 points.
  for (const Case& c : {Case{20.0, 5.0, 468.0, 117.0}, Case{2.0, 0.5, 144.0, 36.0}}) {
    RichTextGenerator g;
    g.openPageSpan(pageSpan(8.5, 11.0, 1.0, 1.0, 1.0, 1.0));
    g.openParagraph({});
    RVNGPropertyList frame;
    frame.insert("svg:width", c.frameWidthIn);
    frame.insert("svg:height", c.frameHeightIn);
    g.openFrame(frame);
    RVNGPropertyList object;
    object.insert("librevenge:mime-type", "image/png");
    object.insert("office:binary-data", librevenge::RVNGBinaryData(reinterpret_cast<const unsigned char*>(png.constData()),
                                                                   static_cast<unsigned long>(png.size())));
    g.insertBinaryObject(object);
    g.closeFrame();
    g.closeParagraph();
    auto doc = g.takeDocument();
    QTextImageFormat found;
    for (auto it = doc->firstBlock().begin(); !it.atEnd(); ++it)
      if (it.fragment().charFormat().isImageFormat()) found = it.fragment().charFormat().toImageFormat();
    ASSERT_TRUE(found.isValid());
    EXPECT_NEAR(found.width(), c.expectedWidth, 0.01);
    EXPECT_NEAR(found.height(), c.expectedHeight, 0.01);
    EXPECT_FALSE(doc->resource(QTextDocument::ImageResource, QUrl(found.name())).isNull());
    EXPECT_EQ(g.droppedImages(), 0);
  }
}

TEST(RichTextGenerator, UndecodablePictureIsLeftOutAndCounted) {
  RichTextGenerator g;
  g.openParagraph({});
  RVNGPropertyList object;
  object.insert("librevenge:mime-type", "image/png");
  const unsigned char junk[] = {1, 2, 3, 4, 5};
  object.insert("office:binary-data", librevenge::RVNGBinaryData(junk, sizeof junk));
  g.insertBinaryObject(object);
  g.insertText(RVNGString("text stays"));
  g.closeParagraph();
  EXPECT_EQ(g.droppedImages(), 1);
  EXPECT_EQ(g.takeDocument()->toPlainText(), QStringLiteral("text stays"));
}

TEST(RichTextGenerator, AWordWiderThanItsLineBreaksInsideTheTextWidth) {
  struct Case {
    const char* where;
    int length;
  };
  for (const Case& c : {Case{"text", 9840}, Case{"text", 256}, Case{"sheet", 2000}, Case{"table", 1200}}) {
    SCOPED_TRACE(std::string(c.where) + " " + std::to_string(c.length));
    std::string word;
    for (int i = 0; i < c.length; ++i) word += static_cast<char>('a' + i % 26);
    RichTextGenerator g;
    const std::string where = c.where;
    if (where == "text") {
      paragraph(g, ("before " + word + " after").c_str());
    } else if (where == "sheet") {
      librevenge::RVNGSpreadsheetInterface& sheet = g;
      sheet.openSheet({});
      sheetRow(sheet, {{0, "before", 0}, {1, word.c_str(), 0}, {2, "after", 0}});
      sheet.closeSheet();
    } else {
      RVNGPropertyList table;
      RVNGPropertyListVector columns;
      for (int i = 0; i < 3; ++i) {
        RVNGPropertyList column;
        column.insert("style:column-width", 2.0);
        columns.append(column);
      }
      table.insert("librevenge:table-columns", columns);
      g.openTable(table);
      g.openTableRow({});
      for (const std::string& text : {std::string("before"), word, std::string("after")}) {
        g.openTableCell({});
        paragraph(g, text.c_str());
        g.closeTableCell();
      }
      g.closeTableRow();
      g.closeTable();
    }
    testsupport::TempDir dir;
    const auto layout = printed(g, dir);
    // Every glyph of the word is on a page, inside the text width.
    QString letters;
    for (const auto& w : layout.words) {
      EXPECT_GE(w.box.left(), 72.0 - 0.5) << w.text.toStdString();
      EXPECT_LE(w.box.right(), 540.0 + 0.5) << w.text.toStdString();
      if (w.text == QLatin1String("before") || w.text == QLatin1String("after")) continue;
      EXPECT_NE(word.find(w.text.toStdString()), std::string::npos) << w.text.toStdString() << " " << w.box.left() << " " << w.box.right();
      letters += w.text;
    }
    EXPECT_EQ(letters.size(), static_cast<qsizetype>(word.size()));
  }
}

TEST(RichTextGenerator, SheetNumbersEndAtTheRightOfTheirColumnAndTextStartsAtTheLeft) {
  RichTextGenerator g;
  librevenge::RVNGSpreadsheetInterface& sheet = g;
  sheet.openSheet({});
  sheetRow(sheet, {{0, "Heading", 0}, {1, "Second", 0}});
  sheetRow(sheet, {{0, nullptr, 10}, {1, nullptr, 10}});
  sheetRow(sheet, {{0, "ab", 0}, {1, nullptr, 12345}});
  sheetRow(sheet, {{0, nullptr, 777}, {1, "x", 0}});
  sheet.closeSheet();
  testsupport::TempDir dir;
  const auto layout = printed(g, dir);
  std::vector<QRectF> boxes;  // in the order written: row by row
  for (const auto& w : layout.words) boxes.push_back(w.box);
  ASSERT_EQ(boxes.size(), 8u);
  // Each column is as wide as its widest value (the headings here) and the padding on both
  // sides; the glyph boxes the PDF gives differ from the layout's by up to a point.
  const QRectF heading = boxes[0], second = boxes[1];
  for (int number : {2, 6}) EXPECT_NEAR(boxes[number].right(), heading.right(), 1.0) << number;
  for (int number : {3, 5}) EXPECT_NEAR(boxes[number].right(), second.right(), 1.0) << number;
  EXPECT_NEAR(boxes[4].left(), heading.left(), 0.5);  // ab
  EXPECT_NEAR(boxes[7].left(), second.left(), 0.5);   // x
  // Neighbouring values never touch: at least the cell padding lies between them.
  const double padding = 2.0;
  EXPECT_GE(second.left() - heading.right(), padding);
  EXPECT_GE(boxes[7].left() - boxes[6].right(), padding);  // 777, then x
}

TEST(RichTextGenerator, SheetCellsAreAlignedAsTheSheetSays) {
  struct Case {
    const char* align;
    bool number;
    Qt::Alignment expected;
  };
  for (const Case& c : {Case{nullptr, false, Qt::AlignLeft}, Case{nullptr, true, Qt::AlignRight},
                        Case{"start", true, Qt::AlignLeft}, Case{"center", true, Qt::AlignHCenter},
                        Case{"end", false, Qt::AlignRight}}) {
    SCOPED_TRACE(std::string(c.align ? c.align : "-") + (c.number ? " number" : " text"));
    RichTextGenerator g;
    librevenge::RVNGSpreadsheetInterface& sheet = g;
    sheet.openSheet({});
    sheet.openSheetRow({});
    RVNGPropertyList props;
    props.insert("librevenge:column", 0);
    if (c.align) props.insert("fo:text-align", c.align);
    if (c.number) {
      props.insert("librevenge:value-type", "float");
      props.insert("librevenge:value", 7.0, librevenge::RVNG_GENERIC);
    }
    sheet.openSheetCell(props);
    if (!c.number) {
      RVNGPropertyList left;
      left.insert("fo:text-align", "left");  // what a sheet's paragraphs say, whatever the cell says
      sheet.openParagraph(left);
      sheet.insertText(RVNGString("seven"));
      sheet.closeParagraph();
    }
    sheet.closeSheetCell();
    sheet.closeSheetRow();
    sheet.closeSheet();
    auto doc = g.takeDocument();
    QTextTable* table = nullptr;
    for (QTextFrame* f : doc->rootFrame()->childFrames())
      if (auto* t = qobject_cast<QTextTable*>(f)) table = t;
    ASSERT_NE(table, nullptr);
    const QTextBlock block = table->cellAt(0, 0).firstCursorPosition().block();
    EXPECT_EQ(block.blockFormat().alignment() & Qt::AlignHorizontal_Mask, c.expected);
  }
}

TEST(RichTextGenerator, SheetColumnsAreThoseThatShowSomething) {
  // Sheet columns, what each row holds (text, a number, or nothing shown), and the table's
  // columns: only those shown, in sheet order.
  struct Case {
    const char* what;
    std::vector<std::vector<SheetCell>> rows;
    int columns;
    QString text;
  };
  const SheetCell emptyFar{200, "", 0};
  const std::vector<Case> cases = {
      {"a lone far cell", {{{0, "A", 0}, {1, "B", 0}}, {{250, "far", 0}}}, 3, QStringLiteral("A\nB\n\n\n\nfar")},
      {"an empty far cell", {{{0, "A", 0}, emptyFar}}, 1, QStringLiteral("A")},
      {"beyond the widest sheet", {{{0, "A", 0}, {256, "gone", 0}, {3, "gone", 0, 65536}}}, 1, QStringLiteral("A")},
      {"cells out of order", {{{9, nullptr, 2}, {3, "left", 0}}}, 2, QStringLiteral("left\n2")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RichTextGenerator g;
    librevenge::RVNGSpreadsheetInterface& sheet = g;
    sheet.openSheet({});
    for (const auto& row : c.rows) sheetRow(sheet, row);
    sheet.closeSheet();
    auto doc = g.takeDocument();
    QTextTable* table = nullptr;
    for (QTextFrame* f : doc->rootFrame()->childFrames())
      if (auto* t = qobject_cast<QTextTable*>(f)) table = t;
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->columns(), c.columns);
    EXPECT_EQ(table->rows(), static_cast<int>(c.rows.size()));
    EXPECT_EQ(doc->toPlainText().trimmed(), c.text);
  }
}

TEST(RichTextGenerator, TextTableColumnsTakeTheWidthsTheDocumentGives) {
  // Column widths in inches, and where the text of each column starts on the page: the left
  // margin, the columns before it, the border and the padding.
  struct Case {
    std::vector<double> widths;
    std::vector<double> starts;
  };
  for (const Case& c : {Case{{1.0, 2.0, 1.0}, {72, 144, 288}}, Case{{4.0, 4.0}, {72, 72 + 234}}}) {
    RichTextGenerator g;
    RVNGPropertyList table;
    RVNGPropertyListVector columns;
    for (double w : c.widths) {
      RVNGPropertyList column;
      column.insert("style:column-width", w);
      columns.append(column);
    }
    table.insert("librevenge:table-columns", columns);
    g.openTable(table);
    g.openTableRow({});
    for (size_t i = 0; i < c.widths.size(); ++i) {
      g.openTableCell({});
      paragraph(g, ("column" + std::to_string(i)).c_str());
      g.closeTableCell();
    }
    g.closeTableRow();
    g.closeTable();
    testsupport::TempDir dir;
    const auto layout = printed(g, dir);
    ASSERT_EQ(layout.words.size(), c.starts.size());
    for (size_t i = 0; i < c.starts.size(); ++i) EXPECT_NEAR(layout.words[i].box.left(), c.starts[i] + 1.5, 1.0) << i;
  }
}
