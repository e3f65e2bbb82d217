#pragma once
// Builds a QTextDocument from librevenge's text calls (word processors) and spreadsheet calls
// (each sheet becomes a table). Lengths are kept in points: the printer lays the document
// out on a 72-dpi device, so one layout unit is one point. Tabs without a stop of their own
// stand every half inch; a list level stands 30 points in.
//
// The generator is used on one thread; the document it hands out has no thread affinity.

#include <QMarginsF>
#include <QSizeF>
#include <QString>
#include <QTextCharFormat>
#include <QTextCursor>

#include <librevenge/librevenge.h>

#include <map>
#include <memory>
#include <vector>

class QTextDocument;
class QTextList;
class QTextTable;

namespace revengekit {

// Paper size and margins of the document, in points.
struct PageSetup {
  QSizeF paper{612.0, 792.0};
  QMarginsF margins{72.0, 72.0, 72.0, 72.0};  // left, top, right, bottom
  // Width the text may take: the left margin stands on both sides.
  double textWidth() const { return paper.width() - 2.0 * margins.left(); }
};

// The most a sheet holds in any format read here: columns A to IV, and the 65,536 rows of
// the largest Lotus sheets (Works sheets hold 16,384, older Lotus and Quattro sheets 8,192).
// Cells beyond them are left out. Tables of text documents take at most as many columns.
constexpr int kMaxSheetColumns = 256;
constexpr int kMaxSheetRows = 65536;

// A length property in points (inches, points, twips; a bare number is taken as inches), or
// `fallback` when it is missing or not a length.
double lengthInPoints(const librevenge::RVNGPropertyList& props, const char* name, double fallback);

class RichTextGenerator : public librevenge::RVNGTextInterface, public librevenge::RVNGSpreadsheetInterface {
 public:
  RichTextGenerator();
  ~RichTextGenerator() override;

  // Stops building: later calls are ignored (a cancelled conversion).
  void abandon() { abandoned_ = true; }
  // The document built so far, detached from every thread; the generator is done afterwards.
  std::unique_ptr<QTextDocument> takeDocument();
  // From the first page span, or Letter with one-inch margins.
  PageSetup pageSetup() const { return page_; }
  // Pictures that could not be decoded and were left out.
  int droppedImages() const { return droppedImages_; }

  // Shared by both interfaces.
  void setDocumentMetaData(const librevenge::RVNGPropertyList&) override {}
  void startDocument(const librevenge::RVNGPropertyList&) override {}
  void endDocument() override {}
  void definePageStyle(const librevenge::RVNGPropertyList&) override {}
  void defineEmbeddedFont(const librevenge::RVNGPropertyList&) override {}
  void openPageSpan(const librevenge::RVNGPropertyList& propList) override;
  void closePageSpan() override {}
  void openHeader(const librevenge::RVNGPropertyList&) override { ++hidden_; }
  void closeHeader() override { --hidden_; }
  void openFooter(const librevenge::RVNGPropertyList&) override { ++hidden_; }
  void closeFooter() override { --hidden_; }
  void defineParagraphStyle(const librevenge::RVNGPropertyList&) override {}
  void openParagraph(const librevenge::RVNGPropertyList& propList) override;
  void closeParagraph() override;
  void defineCharacterStyle(const librevenge::RVNGPropertyList&) override {}
  void openSpan(const librevenge::RVNGPropertyList& propList) override;
  void closeSpan() override;
  void openLink(const librevenge::RVNGPropertyList&) override {}
  void closeLink() override {}
  void defineSectionStyle(const librevenge::RVNGPropertyList&) override {}
  void openSection(const librevenge::RVNGPropertyList&) override {}
  void closeSection() override {}
  void insertTab() override;
  void insertSpace() override;
  void insertText(const librevenge::RVNGString& text) override;
  void insertLineBreak() override;
  void insertField(const librevenge::RVNGPropertyList& propList) override;
  void openOrderedListLevel(const librevenge::RVNGPropertyList& propList) override;
  void openUnorderedListLevel(const librevenge::RVNGPropertyList& propList) override;
  void closeOrderedListLevel() override { closeListLevel(); }
  void closeUnorderedListLevel() override { closeListLevel(); }
  void openListElement(const librevenge::RVNGPropertyList& propList) override;
  void closeListElement() override { closeParagraph(); }
  void openFootnote(const librevenge::RVNGPropertyList& propList) override { openNote(propList); }
  void closeFootnote() override { closeNote(); }
  void openEndnote(const librevenge::RVNGPropertyList& propList) override { openNote(propList); }
  void closeEndnote() override { closeNote(); }
  void openComment(const librevenge::RVNGPropertyList&) override { ++hidden_; }
  void closeComment() override { --hidden_; }
  void openTextBox(const librevenge::RVNGPropertyList&) override {}
  void closeTextBox() override {}
  void openTable(const librevenge::RVNGPropertyList& propList) override;
  void openTableRow(const librevenge::RVNGPropertyList& propList) override;
  void closeTableRow() override {}
  void openTableCell(const librevenge::RVNGPropertyList& propList) override;
  void closeTableCell() override;
  void insertCoveredTableCell(const librevenge::RVNGPropertyList& propList) override;
  void closeTable() override;
  void openFrame(const librevenge::RVNGPropertyList& propList) override;
  void closeFrame() override;
  void insertBinaryObject(const librevenge::RVNGPropertyList& propList) override;
  void insertEquation(const librevenge::RVNGPropertyList&) override {}
  void openGroup(const librevenge::RVNGPropertyList&) override {}
  void closeGroup() override {}
  void defineGraphicStyle(const librevenge::RVNGPropertyList&) override {}
  void drawRectangle(const librevenge::RVNGPropertyList&) override {}
  void drawEllipse(const librevenge::RVNGPropertyList&) override {}
  void drawPolygon(const librevenge::RVNGPropertyList&) override {}
  void drawPolyline(const librevenge::RVNGPropertyList&) override {}
  void drawPath(const librevenge::RVNGPropertyList&) override {}
  void drawConnector(const librevenge::RVNGPropertyList&) override {}

  // Spreadsheets: every sheet a table, a page break between sheets.
  void defineSheetNumberingStyle(const librevenge::RVNGPropertyList& propList) override;
  void openSheet(const librevenge::RVNGPropertyList& propList) override;
  void closeSheet() override;
  void openSheetRow(const librevenge::RVNGPropertyList& propList) override;
  void closeSheetRow() override {}
  void openSheetCell(const librevenge::RVNGPropertyList& propList) override;
  void closeSheetCell() override;
  void defineChartStyle(const librevenge::RVNGPropertyList&) override {}
  void openChart(const librevenge::RVNGPropertyList&) override { ++hidden_; }
  void closeChart() override { --hidden_; }
  void openChartTextObject(const librevenge::RVNGPropertyList&) override {}
  void closeChartTextObject() override {}
  void openChartPlotArea(const librevenge::RVNGPropertyList&) override {}
  void closeChartPlotArea() override {}
  void insertChartAxis(const librevenge::RVNGPropertyList&) override {}
  void openChartSerie(const librevenge::RVNGPropertyList&) override {}
  void closeChartSerie() override {}

 private:
  // A sheet's table holds only the columns in which a cell shows something: the sheet column
  // of each table column is kept in `sheetColumns`. A sheet cell takes its place in the table
  // when it first writes into it, so a cell that shows nothing adds no column.
  struct SheetCell {
    int column = 0;
    int columnSpan = 1;
    int rowSpan = 1;
    QString align;  // as the sheet says, or empty
  };
  struct Merge {
    int row, column, rowSpan, columnSpan;  // column: a sheet column
  };
  struct TableState {
    QTextTable* table = nullptr;
    bool sheet = false;
    int row = -1;
    int column = 0;
    bool cellHasText = false;
    QString cellValue;  // a sheet cell's value, written when the cell brought no text
    std::vector<int> sheetColumns;  // ascending
    bool cellPending = false;       // a sheet cell is open and has not taken its place yet
    bool cellPlaced = false;        // the open sheet cell has its place in the table
    bool cellRefused = false;       // the open sheet cell lies beyond what a sheet holds
    SheetCell cell;
    std::vector<Merge> merges;      // spans of the sheet's cells, made when the sheet closes
  };
  struct NumberingStyle {
    int decimals = -1;  // -1: general
    std::vector<std::pair<QString, QString>> dateParts;  // (value type, text or style)
  };
  // A sheet cell's value as the sheet shows it.
  QString cellValueText(const librevenge::RVNGPropertyList& props) const;

  struct ListLevel {
    bool ordered = false;
    QString numberFormat;
    QTextList* list = nullptr;
  };

  // The format text takes where it stands.
  QTextCharFormat currentFormat() const;
  QTextCharFormat withCellProperties(const QTextCharFormat& format) const;
  bool ignoring() const { return abandoned_ || hidden_ > 0 || !document_; }
  // Starts the block a paragraph or list element writes into.
  void beginBlock(const librevenge::RVNGPropertyList& propList);
  void closeListLevel();
  void openNote(const librevenge::RVNGPropertyList& propList);
  void closeNote();
  // `sized`: the columns keep the widths the document gives them.
  void openAnyTable(const librevenge::RVNGPropertyList& propList, const char* columnsKey, bool sized);
  void nextRow();
  void enterCell(int column, int columnSpan, int rowSpan);
  void leaveCell();
  // Puts the cursor into the open sheet cell, making its column where the table has none.
  void placeSheetCell();
  // The table column showing `sheetColumn`, made when `make` and missing; -1 when missing.
  int tableColumn(TableState& st, int sheetColumn, bool make);
  // The width a picture may take where it stands.
  double columnWidth() const;

  std::unique_ptr<QTextDocument> document_;
  QTextCursor cursor_;
  PageSetup page_;
  bool havePage_ = false;
  bool blockFresh_ = true;         // the cursor's block is empty and unused
  bool pageBreakPending_ = false;  // the next block starts a new page
  bool abandoned_ = false;
  int hidden_ = 0;        // inside headers, footers, comments, charts
  int noteDepth_ = 0;     // inside a footnote or endnote: written inline
  int paragraphDepth_ = 0;
  int droppedImages_ = 0;
  int imageCount_ = 0;
  QSizeF frameSize_;      // of the frame an object stands in, points
  std::vector<QTextCharFormat> spanStack_;
  std::vector<ListLevel> lists_;
  std::vector<TableState> tables_;
  std::map<QString, NumberingStyle> numbering_;
};

}  // namespace revengekit
