#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextList>
#include <QTextTable>
#include <QUrl>

#include <functional>

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

const testsupport::PdfWord* findWord(const testsupport::PdfLayout& layout, const QString& text) {
  for (const auto& w : layout.words)
    if (w.text == text) return &w;
  return nullptr;
}

// `area` (points) of the first page of a PDF, drawn at `pixelsPerPoint`.
QImage drawnArea(const QString& pdf, const QRectF& area, int pixelsPerPoint) {
  const QString base = pdf + QStringLiteral("-area");
  auto pixels = [&](double points) { return QString::number(qRound(points * pixelsPerPoint)); };
  testsupport::runTool(QStringLiteral("pdftoppm"),
                       {QStringLiteral("-r"), QString::number(72 * pixelsPerPoint), QStringLiteral("-x"), pixels(area.x()),
                        QStringLiteral("-y"), pixels(area.y()), QStringLiteral("-W"), pixels(area.width()),
                        QStringLiteral("-H"), pixels(area.height()), QStringLiteral("-png"), QStringLiteral("-singlefile"),
                        pdf, base});
  return QImage(base + QStringLiteral(".png")).convertToFormat(QImage::Format_RGB32);
}

// Where the first page of a PDF shows pixels that `match`, in points: the page drawn at two
// pixels a point.
QRectF paintedBox(const QString& pdf, const std::function<bool(QRgb)>& match) {
  const QImage page = drawnArea(pdf, QRectF(0, 0, 612, 792), 2);
  QRect box;
  for (int y = 0; y < page.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(page.constScanLine(y));
    for (int x = 0; x < page.width(); ++x)
      if (match(line[x])) box |= QRect(x, y, 1, 1);
  }
  return QRectF(box.x() / 2.0, box.y() / 2.0, box.width() / 2.0, box.height() / 2.0);
}

// Where a PDF shows blue, what the test pictures are filled with.
QRectF blueBox(const QString& pdf) {
  return paintedBox(pdf, [](QRgb c) { return qBlue(c) > 100 && qRed(c) < 60 && qGreen(c) < 60; });
}

QByteArray pngOf(const QImage& image) {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return png;
}

// A WPG picture (version 1) of a page of `width` x `height` 1200ths of an inch, filled with
// colour 1 of the default palette (dark blue).
QByteArray wpgPicture(int width, int height) {
  QByteArray w("\xff" "WPC\x10\0\0\0\x01\x16\x01\0\0\0\0\0", 16);
  auto u16 = [&w](int v) {
    w += static_cast<char>(v & 255);
    w += static_cast<char>((v >> 8) & 255);
  };
  w += QByteArray("\x0f\x06\x01\x00", 4);  // start: version 1, no flags, the page size
  u16(width);
  u16(height);
  w += QByteArray("\x01\x02\x01\x01", 4);  // fill: solid, colour 1
  w += QByteArray("\x07\x08", 2);            // a rectangle over the whole page
  u16(0);
  u16(0);
  u16(width);
  u16(height);
  w += QByteArray("\x10\x00", 2);  // end
  return w;
}

// A paragraph holding one picture, in a frame of the given size in inches (none when 0).
void pictureParagraph(RichTextGenerator& g, const char* mime, const QByteArray& bytes, double widthIn, double heightIn) {
  g.openParagraph({});
  if (widthIn > 0) {
    RVNGPropertyList frame;
    frame.insert("svg:width", widthIn);
    frame.insert("svg:height", heightIn);
    g.openFrame(frame);
  }
  RVNGPropertyList object;
  object.insert("librevenge:mime-type", mime);
  object.insert("office:binary-data", librevenge::RVNGBinaryData(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                                                 static_cast<unsigned long>(bytes.size())));
  g.insertBinaryObject(object);
  if (widthIn > 0) g.closeFrame();
  g.closeParagraph();
}

RVNGPropertyList tabStopAt(double inches) {
  RVNGPropertyList props;
  RVNGPropertyListVector stops;
  RVNGPropertyList stop;
  stop.insert("style:position", inches);
  stops.append(stop);
  props.insert("style:tab-stops", stops);
  return props;
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
    for (size_t i = 0; i < c.starts.size(); ++i) EXPECT_NEAR(layout.words[i].box.left(), c.starts[i] + 2.0, 1.0) << i;
  }
}

TEST(RichTextGenerator, AMergedColouredCellKeepsItsSpanAndColour) {
  // Three columns of two inches; the first cell is red and may span columns or rows. The text
  // of a cell starts 2 points into it.
  struct Case {
    const char* what;
    int columnSpan, rowSpan;
    std::vector<std::vector<const char*>> rows;  // null: a covered cell
    QRectF red;                                  // left, width; top and bottom from the words
    const char* besideRed;                       // the first word right of the red cell
  };
  const std::vector<Case> cases = {
      {"one cell", 1, 1, {{"merged", "right", "far"}, {"one", "two", "three"}}, QRectF(72, 0, 144, 0), "right"},
      {"two columns", 2, 1, {{"merged", "right"}, {"one", "two", "three"}}, QRectF(72, 0, 288, 0), "right"},
      {"two rows", 1, 2, {{"merged", "right", "far"}, {nullptr, "below", "last"}}, QRectF(72, 0, 144, 0), "right"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RichTextGenerator g;
    RVNGPropertyList table;
    RVNGPropertyListVector columns;
    for (int i = 0; i < 3; ++i) {
      RVNGPropertyList column;
      column.insert("style:column-width", 2.0);
      columns.append(column);
    }
    table.insert("librevenge:table-columns", columns);
    g.openTable(table);
    for (size_t r = 0; r < c.rows.size(); ++r) {
      g.openTableRow({});
      for (size_t i = 0; i < c.rows[r].size(); ++i) {
        if (!c.rows[r][i]) {
          g.insertCoveredTableCell({});
          continue;
        }
        RVNGPropertyList cell;
        if (r == 0 && i == 0) {
          cell.insert("fo:background-color", "#ff0000");
          cell.insert("table:number-columns-spanned", c.columnSpan);
          cell.insert("table:number-rows-spanned", c.rowSpan);
        }
        g.openTableCell(cell);
        paragraph(g, c.rows[r][i]);
        g.closeTableCell();
      }
      g.closeTableRow();
    }
    g.closeTable();
    testsupport::TempDir dir;
    const auto layout = printed(g, dir);
    const QRectF red = paintedBox(QString::fromStdString((dir / "out.pdf").string()),
                                  [](QRgb p) { return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60; });
    const auto *merged = findWord(layout, QStringLiteral("merged")), *beside = findWord(layout, QString::fromLatin1(c.besideRed));
    ASSERT_TRUE(merged && beside);
    EXPECT_NEAR(red.left(), c.red.left(), 1.0);
    EXPECT_NEAR(red.width(), c.red.width(), 1.5);
    EXPECT_TRUE(red.contains(merged->box.center()));
    EXPECT_NEAR(beside->box.left(), red.right() + 2.0, 1.0);
    // A cell spanning rows is as tall as they are: it reaches below the second row's words.
    const auto* second = findWord(layout, QString::fromLatin1(c.rows[1].back()));
    ASSERT_NE(second, nullptr);
    if (c.rowSpan > 1) EXPECT_GT(red.bottom(), second->box.bottom());
    else EXPECT_LT(red.bottom(), second->box.top());
  }
}

TEST(RichTextGenerator, PicturesPrintAtTheSizeTheDocumentGives) {
  QImage bitmap(100, 50, QImage::Format_RGB32);
  bitmap.fill(Qt::blue);
  QImage fine = bitmap;  // 144 dots per inch: half a point a pixel
  fine.setDotsPerMeterX(5669);
  fine.setDotsPerMeterY(5669);
  struct Case {
    const char* what;
    const char* mime;
    QByteArray bytes;
    double frameWidthIn, frameHeightIn;  // no frame when 0
    QSizeF size;                         // drawn, in points
  };
  const std::vector<Case> cases = {
      {"a bitmap in its frame", "image/png", pngOf(bitmap), 4.0, 2.0, QSizeF(288, 144)},
      {"a bitmap of its own resolution", "image/png", pngOf(fine), 0, 0, QSizeF(50, 25)},
      {"a WPG picture in its frame", "image/x-wpg", wpgPicture(2400, 1200), 3.0, 1.5, QSizeF(216, 108)},
      {"a WPG picture of its own page size", "image/x-wpg", wpgPicture(2400, 1200), 0, 0, QSizeF(144, 72)},
      // Text width 612 - 2 x 72 = 468 points.
      {"a picture wider than the column", "image/png", pngOf(bitmap), 10.0, 2.0, QSizeF(468, 93.6)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RichTextGenerator g;
    g.openPageSpan(pageSpan(8.5, 11.0, 1.0, 1.0, 1.0, 1.0));
    pictureParagraph(g, c.mime, c.bytes, c.frameWidthIn, c.frameHeightIn);
    paragraph(g, "below");
    ASSERT_EQ(g.droppedImages(), 0);
    testsupport::TempDir dir;
    const auto layout = printed(g, dir);
    const QRectF drawn = blueBox(QString::fromStdString((dir / "out.pdf").string()));
    EXPECT_NEAR(drawn.left(), 72.0, 1.0);
    EXPECT_NEAR(drawn.top(), 72.0, 1.0);
    EXPECT_NEAR(drawn.width(), c.size.width(), 1.0);
    EXPECT_NEAR(drawn.height(), c.size.height(), 1.0);
    // The line holding the picture is as tall as the picture.
    const auto* below = findWord(layout, QStringLiteral("below"));
    ASSERT_NE(below, nullptr);
    EXPECT_GE(below->box.top(), drawn.bottom() - 1.0);
    EXPECT_LE(below->box.top(), drawn.bottom() + 6.0);
  }
}

TEST(RichTextPrinter, APictureWithoutASizeInItsFormatPrintsAtItsResolution) {
  QImage image(100, 50, QImage::Format_RGB32);
  image.fill(Qt::blue);
  image.setDotsPerMeterX(5669);  // 144 dots per inch
  image.setDotsPerMeterY(2835);  // 72
  QTextDocument doc;
  doc.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("picture")), image);
  QTextImageFormat format;
  format.setName(QStringLiteral("picture"));
  QTextCursor(&doc).insertImage(format);
  testsupport::TempDir dir;
  const QString pdf = QString::fromStdString((dir / "out.pdf").string());
  ASSERT_TRUE(revengekit::printRichText(doc, QSizeF(612, 792), QMarginsF(72, 72, 72, 72), pdf).ok);
  const QRectF drawn = blueBox(pdf);
  EXPECT_NEAR(drawn.width(), 50.0, 1.0);
  EXPECT_NEAR(drawn.height(), 50.0, 1.0);
}

TEST(RichTextGenerator, ParagraphAndCellLengthsLandInThePdfInPoints) {
  // Where a word starts on the page: the left margin is 72 points.
  struct Across {
    const char* what;
    std::function<void(RichTextGenerator&)> build;
    const char* word;
    double left;
  };
  const std::vector<Across> across = {
      {"a tab stop three inches in",
       [](RichTextGenerator& g) {
         g.openParagraph(tabStopAt(3.0));
         g.insertText(RVNGString("A"));
         g.insertTab();
         g.insertText(RVNGString("tabbed"));
         g.closeParagraph();
       },
       "tabbed", 72 + 216},
      {"tabs without a stop every half inch",
       [](RichTextGenerator& g) { paragraph(g, "A\tB\tstopless"); },
       "stopless", 72 + 72},
      {"a left margin and a first-line indent",
       [](RichTextGenerator& g) {
         RVNGPropertyList props;
         props.insert("fo:margin-left", 1.0);
         props.insert("fo:text-indent", 0.5);
         paragraph(g, "indented", props);
       },
       "indented", 72 + 108},
      {"a list level",
       [](RichTextGenerator& g) {
         g.openUnorderedListLevel({});
         g.openListElement({});
         g.insertText(RVNGString("listed"));
         g.closeListElement();
         g.closeUnorderedListLevel();
       },
       "listed", 72 + 30},
      {"the padding of a cell",
       [](RichTextGenerator& g) {
         g.openTable({});
         g.openTableRow({});
         g.openTableCell({});
         paragraph(g, "celled");
         g.closeTableCell();
         g.closeTableRow();
         g.closeTable();
       },
       "celled", 72 + 2},
  };
  for (const Across& c : across) {
    SCOPED_TRACE(c.what);
    RichTextGenerator g;
    c.build(g);
    testsupport::TempDir dir;
    const auto layout = printed(g, dir);
    const auto* word = findWord(layout, QString::fromLatin1(c.word));
    ASSERT_NE(word, nullptr);
    EXPECT_NEAR(word->box.left(), c.left, 0.25);
  }

  // How much further down the third line starts than the plain line pitch of the first two:
  // the spacing the second or third paragraph asks for, or the padding below and above the
  // first row of a table.
  struct Down {
    const char* what;
    RVNGPropertyList second, third;
    bool table;  // the second and third lines are the rows of a table
    double extra;
  };
  RVNGPropertyList inchBelow, inchAbove;
  inchBelow.insert("fo:margin-bottom", 1.0);
  inchAbove.insert("fo:margin-top", 1.0);
  const std::vector<Down> down = {
      {"an inch below a paragraph", inchBelow, {}, false, 72},
      {"an inch above a paragraph", {}, inchAbove, false, 72},
      {"the padding of the rows of a table", {}, {}, true, 2 * 2},
  };
  for (const Down& c : down) {
    SCOPED_TRACE(c.what);
    RichTextGenerator g;
    paragraph(g, "first");
    if (c.table) {
      g.openTable({});
      for (const char* text : {"second", "third"}) {
        g.openTableRow({});
        g.openTableCell({});
        paragraph(g, text);
        g.closeTableCell();
        g.closeTableRow();
      }
      g.closeTable();
      paragraph(g, "zeroth");  // the pitch of plain lines, after the table
      paragraph(g, "last");
    } else {
      paragraph(g, "second", c.second);
      paragraph(g, "third", c.third);
    }
    testsupport::TempDir dir;
    const auto layout = printed(g, dir);
    const auto *first = findWord(layout, QStringLiteral("first")), *second = findWord(layout, QStringLiteral("second")),
               *third = findWord(layout, QStringLiteral("third"));
    ASSERT_TRUE(first && second && third);
    double pitch = second->box.top() - first->box.top();
    if (c.table) {
      const auto *zeroth = findWord(layout, QStringLiteral("zeroth")), *last = findWord(layout, QStringLiteral("last"));
      ASSERT_TRUE(zeroth && last);
      pitch = last->box.top() - zeroth->box.top();
    }
    EXPECT_NEAR(third->box.top() - second->box.top() - pitch, c.extra, 0.25);
  }
}

TEST(RichTextGenerator, APrintedDocumentKeepsItsLengthsAndPrintsAgainTheSame) {
  RichTextGenerator g;
  RVNGPropertyList spaced = tabStopAt(2.0);
  spaced.insert("fo:margin-top", 0.5);
  paragraph(g, "opening");
  paragraph(g, "x\tspaced", spaced);
  g.openTable({});
  g.openTableRow({});
  g.openTableCell({});
  paragraph(g, "celled");
  g.closeTableCell();
  g.closeTableRow();
  g.closeTable();
  auto doc = g.takeDocument();
  testsupport::TempDir dir;
  std::vector<testsupport::PdfLayout> prints;
  for (const char* name : {"one.pdf", "two.pdf"}) {
    const QString pdf = QString::fromStdString((dir / name).string());
    ASSERT_TRUE(revengekit::printRichText(*doc, QSizeF(612, 792), QMarginsF(72, 72, 72, 72), pdf).ok);
    prints.push_back(testsupport::pdfLayout(pdf));
  }
  ASSERT_EQ(prints[0].words.size(), prints[1].words.size());
  for (size_t i = 0; i < prints[0].words.size(); ++i) {
    EXPECT_EQ(prints[0].words[i].text, prints[1].words[i].text);
    EXPECT_NEAR(prints[0].words[i].box.left(), prints[1].words[i].box.left(), 0.01) << i;
    EXPECT_NEAR(prints[0].words[i].box.top(), prints[1].words[i].box.top(), 0.01) << i;
  }
  // What the document holds is still in points, for whoever reads it after the print.
  const QTextBlockFormat format = doc->firstBlock().next().blockFormat();
  EXPECT_NEAR(format.topMargin(), 36.0, 1e-9);
  ASSERT_EQ(format.tabPositions().size(), 1);
  EXPECT_NEAR(format.tabPositions()[0].position, 144.0, 1e-9);
  EXPECT_NEAR(doc->indentWidth(), 30.0, 1e-9);
  EXPECT_NEAR(doc->defaultTextOption().tabStopDistance(), 36.0, 1e-9);
  for (QTextFrame* f : doc->rootFrame()->childFrames()) {
    if (auto* t = qobject_cast<QTextTable*>(f)) {
      EXPECT_NEAR(t->format().cellPadding(), 2.0, 1e-9);
    }
  }
}
