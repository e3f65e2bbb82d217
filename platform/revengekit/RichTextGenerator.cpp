#include "platform/revengekit/RichTextGenerator.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextList>
#include <QTextTable>
#include <QThread>
#include <QUrl>

#include <librevenge-generators/librevenge-generators.h>
#include <librevenge-stream/librevenge-stream.h>
#include <libwpg/libwpg.h>

#include <algorithm>
#include <cmath>

#include "platform/foundation/log.h"

namespace revengekit {

namespace {

QString str(const librevenge::RVNGPropertyList& props, const char* name) {
  const librevenge::RVNGProperty* p = props[name];
  return p ? QString::fromUtf8(p->getStr().cstr()) : QString();
}

int integer(const librevenge::RVNGPropertyList& props, const char* name, int fallback) {
  const librevenge::RVNGProperty* p = props[name];
  return p ? p->getInt() : fallback;
}

QColor colour(const QString& text) {
  if (!text.startsWith(QLatin1Char('#'))) return QColor();
  QColor c(text);
  return c.isValid() ? c : QColor();
}

bool isOn(const QString& lineStyle) { return !lineStyle.isEmpty() && lineStyle != QLatin1String("none"); }

constexpr double kMaxPaper = 14400.0;  // 200 inches

// Draws a picture as SVG and keeps the size of its page, in points.
class SizedSvgGenerator : public librevenge::RVNGSVGDrawingGenerator {
 public:
  using RVNGSVGDrawingGenerator::RVNGSVGDrawingGenerator;
  void startPage(const librevenge::RVNGPropertyList& propList) override {
    if (size.isEmpty()) size = QSizeF(lengthInPoints(propList, "svg:width", 0.0), lengthInPoints(propList, "svg:height", 0.0));
    RVNGSVGDrawingGenerator::startPage(propList);
  }
  QSizeF size;
};

}  // namespace

double lengthInPoints(const librevenge::RVNGPropertyList& props, const char* name, double fallback) {
  const librevenge::RVNGProperty* p = props[name];
  if (!p) return fallback;
  const double v = p->getDouble();
  if (!std::isfinite(v)) return fallback;
  switch (p->getUnit()) {
    case librevenge::RVNG_INCH: return v * 72.0;
    case librevenge::RVNG_POINT: return v;
    case librevenge::RVNG_TWIP: return v / 20.0;
    case librevenge::RVNG_GENERIC: return v * 72.0;
    default: return fallback;
  }
}

RichTextGenerator::RichTextGenerator() : document_(std::make_unique<QTextDocument>()) {
  document_->setUndoRedoEnabled(false);
  document_->setUseDesignMetrics(true);
  document_->setDocumentMargin(0);
  QFont font(QStringLiteral("Times New Roman"));
  font.setPointSizeF(12.0);
  font.setStyleStrategy(QFont::PreferNoShaping);  // see currentFormat()
  document_->setDefaultFont(font);
  // Lines break between words; a word wider than its line breaks where the line ends (the
  // printer keeps a sheet's columns as wide as their longest words where they fit the page).
  QTextOption option = document_->defaultTextOption();
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  // Where a paragraph sets no tab stops, they stand every half inch, as in the word processors.
  option.setTabStopDistance(36.0);
  document_->setDefaultTextOption(option);
  document_->setIndentWidth(30.0);  // of a list level
  cursor_ = QTextCursor(document_.get());
}

RichTextGenerator::~RichTextGenerator() = default;

std::unique_ptr<QTextDocument> RichTextGenerator::takeDocument() {
  cursor_ = QTextCursor();
  tables_.clear();
  lists_.clear();
  if (document_ && document_->thread() == QThread::currentThread()) document_->moveToThread(nullptr);
  return std::move(document_);
}

// ---- pages and paragraphs -----------------------------------------------------------------

void RichTextGenerator::openPageSpan(const librevenge::RVNGPropertyList& propList) {
  if (abandoned_ || !document_) return;
  if (havePage_) {
    pageBreakPending_ = true;
    return;
  }
  havePage_ = true;
  const double width = lengthInPoints(propList, "fo:page-width", page_.paper.width());
  const double height = lengthInPoints(propList, "fo:page-height", page_.paper.height());
  if (width >= 72.0 && width <= kMaxPaper && height >= 72.0 && height <= kMaxPaper) page_.paper = QSizeF(width, height);
  QMarginsF m(lengthInPoints(propList, "fo:margin-left", page_.margins.left()),
              lengthInPoints(propList, "fo:margin-top", page_.margins.top()),
              lengthInPoints(propList, "fo:margin-right", page_.margins.right()),
              lengthInPoints(propList, "fo:margin-bottom", page_.margins.bottom()));
  // Margins that leave less than an inch of text in either direction are not taken.
  const bool sane = m.left() >= 0 && m.top() >= 0 && m.right() >= 0 && m.bottom() >= 0 &&
                    page_.paper.width() - 2.0 * m.left() >= 72.0 && page_.paper.height() - m.top() - m.bottom() >= 72.0;
  if (sane) page_.margins = m;
}

void RichTextGenerator::beginBlock(const librevenge::RVNGPropertyList& propList) {
  ++paragraphDepth_;
  if (ignoring()) return;
  placeSheetCell();
  if (noteDepth_ > 0) {
    // A note's paragraphs run on inline.
    cursor_.insertText(QStringLiteral(" "), currentFormat());
    return;
  }
  QTextBlockFormat bf;
  const QString align = str(propList, "fo:text-align");
  if (align == QLatin1String("center")) bf.setAlignment(Qt::AlignHCenter);
  else if (align == QLatin1String("right") || align == QLatin1String("end")) bf.setAlignment(Qt::AlignRight);
  else if (align == QLatin1String("justify")) bf.setAlignment(Qt::AlignJustify);
  else bf.setAlignment(Qt::AlignLeft);
  bf.setLeftMargin(std::max(0.0, lengthInPoints(propList, "fo:margin-left", 0.0)));
  bf.setRightMargin(std::max(0.0, lengthInPoints(propList, "fo:margin-right", 0.0)));
  bf.setTopMargin(std::max(0.0, lengthInPoints(propList, "fo:margin-top", 0.0)));
  bf.setBottomMargin(std::max(0.0, lengthInPoints(propList, "fo:margin-bottom", 0.0)));
  bf.setTextIndent(lengthInPoints(propList, "fo:text-indent", 0.0));
  if (const librevenge::RVNGProperty* lh = propList["fo:line-height"]; lh && lh->getUnit() == librevenge::RVNG_PERCENT) {
    const double share = lh->getDouble();
    if (share >= 0.5 && share <= 4.0) bf.setLineHeight(share * 100.0, QTextBlockFormat::ProportionalHeight);
  }
  if (const librevenge::RVNGPropertyListVector* stops = propList.child("style:tab-stops")) {
    QList<QTextOption::Tab> tabs;
    for (unsigned long i = 0; i < stops->count(); ++i) {
      const librevenge::RVNGPropertyList& stop = (*stops)[i];
      const double position = lengthInPoints(stop, "style:position", -1.0);
      if (position < 0) continue;
      const QString type = str(stop, "style:type");
      QTextOption::TabType t = QTextOption::LeftTab;
      if (type == QLatin1String("right")) t = QTextOption::RightTab;
      else if (type == QLatin1String("center")) t = QTextOption::CenterTab;
      else if (type == QLatin1String("char")) t = QTextOption::DelimiterTab;
      const QString delimiter = str(stop, "style:char");
      tabs.append(QTextOption::Tab(position, t, delimiter.isEmpty() ? QLatin1Char('.') : delimiter.at(0)));
    }
    bf.setTabPositions(tabs);
  }
  const bool atStart = document_->isEmpty() && cursor_.position() == 0;
  if (tables_.empty() && !atStart && (pageBreakPending_ || str(propList, "fo:break-before") == QLatin1String("page")))
    bf.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
  if (tables_.empty()) pageBreakPending_ = false;
  const QTextCharFormat cf = currentFormat();
  if (blockFresh_) {
    cursor_.setBlockFormat(bf);
    cursor_.setBlockCharFormat(withCellProperties(cf));
  } else {
    cursor_.insertBlock(bf, cf);
  }
  blockFresh_ = false;
}

QTextCharFormat RichTextGenerator::withCellProperties(const QTextCharFormat& format) const {
  // The first block of a table cell holds the cell's format (its span, its background) as its
  // character format: the cell keeps those, the paragraph's letters are set over them.
  const QTextTable* table = cursor_.currentTable();
  if (!table) return format;
  const QTextTableCell cell = table->cellAt(cursor_);
  if (!cell.isValid() || cell.firstPosition() != cursor_.block().position()) return format;
  QTextCharFormat mark = format;
  mark.clearBackground();
  const QTextCharFormat own = cell.format();
  const auto properties = own.properties();
  for (auto it = properties.cbegin(); it != properties.cend(); ++it) {
    const int id = it.key();
    if (id == QTextFormat::BackgroundBrush || (id >= QTextFormat::TableCellRowSpan && id <= QTextFormat::TableCellRightBorderBrush))
      mark.setProperty(id, it.value());
  }
  return mark;
}

void RichTextGenerator::openParagraph(const librevenge::RVNGPropertyList& propList) { beginBlock(propList); }

void RichTextGenerator::closeParagraph() { paragraphDepth_ = std::max(0, paragraphDepth_ - 1); }

QTextCharFormat RichTextGenerator::currentFormat() const {
  if (!spanStack_.empty()) return spanStack_.back();
  QTextCharFormat base;
  // No ligatures: the PDF then holds "ffi" as three letters, which is what search and text
  // extraction look for.
  base.setFontStyleStrategy(QFont::PreferNoShaping);
  return base;
}

void RichTextGenerator::openSpan(const librevenge::RVNGPropertyList& propList) {
  QTextCharFormat f = currentFormat();
  const QString family = str(propList, "style:font-name");
  if (!family.isEmpty()) f.setFontFamilies({family});
  const double size = lengthInPoints(propList, "fo:font-size", -1.0);
  if (size >= 1.0 && size <= 1000.0) f.setFontPointSize(size);
  const QString weight = str(propList, "fo:font-weight");
  if (!weight.isEmpty()) f.setFontWeight(weight == QLatin1String("bold") || weight.toInt() >= 600 ? QFont::Bold : QFont::Normal);
  const QString style = str(propList, "fo:font-style");
  if (!style.isEmpty()) f.setFontItalic(style == QLatin1String("italic") || style == QLatin1String("oblique"));
  if (propList["style:text-underline-type"] || propList["style:text-underline-style"])
    f.setFontUnderline(isOn(str(propList, "style:text-underline-type")) || isOn(str(propList, "style:text-underline-style")));
  if (propList["style:text-line-through-type"] || propList["style:text-line-through-style"])
    f.setFontStrikeOut(isOn(str(propList, "style:text-line-through-type")) || isOn(str(propList, "style:text-line-through-style")));
  if (QColor c = colour(str(propList, "fo:color")); c.isValid()) f.setForeground(c);
  if (QColor c = colour(str(propList, "fo:background-color")); c.isValid()) f.setBackground(c);
  const QString position = str(propList, "style:text-position");
  if (position.startsWith(QLatin1String("super"))) f.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
  else if (position.startsWith(QLatin1String("sub"))) f.setVerticalAlignment(QTextCharFormat::AlignSubScript);
  else if (!position.isEmpty()) {
    const double shift = position.section(QLatin1Char(' '), 0, 0).remove(QLatin1Char('%')).toDouble();
    if (shift > 0) f.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
    else if (shift < 0) f.setVerticalAlignment(QTextCharFormat::AlignSubScript);
  }
  spanStack_.push_back(f);
}

void RichTextGenerator::closeSpan() {
  if (!spanStack_.empty()) spanStack_.pop_back();
}

void RichTextGenerator::insertText(const librevenge::RVNGString& text) {
  if (ignoring() || text.empty()) return;
  placeSheetCell();
  QString s = QString::fromUtf8(text.cstr());
  s.replace(QLatin1Char('\n'), QChar::LineSeparator);
  cursor_.insertText(s, currentFormat());
  blockFresh_ = false;
  if (!tables_.empty()) tables_.back().cellHasText = true;
}

void RichTextGenerator::insertTab() { insertText(librevenge::RVNGString("\t")); }
void RichTextGenerator::insertSpace() { insertText(librevenge::RVNGString(" ")); }
void RichTextGenerator::insertLineBreak() {
  if (ignoring()) return;
  placeSheetCell();
  cursor_.insertText(QString(QChar::LineSeparator), currentFormat());
  blockFresh_ = false;
}

void RichTextGenerator::insertField(const librevenge::RVNGPropertyList& propList) {
  // Page numbers and counts belong to the printed page; a field that carries its text shows it.
  const QString value = str(propList, "librevenge:field-content");
  if (!value.isEmpty()) insertText(librevenge::RVNGString(value.toUtf8().constData()));
}

// ---- lists ----------------------------------------------------------------------------------

void RichTextGenerator::openOrderedListLevel(const librevenge::RVNGPropertyList& propList) {
  lists_.push_back(ListLevel{true, str(propList, "style:num-format"), nullptr});
}

void RichTextGenerator::openUnorderedListLevel(const librevenge::RVNGPropertyList&) {
  lists_.push_back(ListLevel{false, QString(), nullptr});
}

void RichTextGenerator::closeListLevel() {
  if (!lists_.empty()) lists_.pop_back();
}

void RichTextGenerator::openListElement(const librevenge::RVNGPropertyList& propList) {
  beginBlock(propList);
  if (ignoring() || noteDepth_ > 0 || lists_.empty()) return;
  ListLevel& level = lists_.back();
  if (level.list) {
    level.list->add(cursor_.block());
    return;
  }
  QTextListFormat lf;
  lf.setIndent(static_cast<int>(lists_.size()));
  if (level.ordered) {
    const QString f = level.numberFormat;
    lf.setStyle(f == QLatin1String("a")   ? QTextListFormat::ListLowerAlpha
                : f == QLatin1String("A") ? QTextListFormat::ListUpperAlpha
                : f == QLatin1String("i") ? QTextListFormat::ListLowerRoman
                : f == QLatin1String("I") ? QTextListFormat::ListUpperRoman
                                          : QTextListFormat::ListDecimal);
  } else {
    static const QTextListFormat::Style bullets[] = {QTextListFormat::ListDisc, QTextListFormat::ListCircle,
                                                     QTextListFormat::ListSquare};
    lf.setStyle(bullets[(lists_.size() - 1) % 3]);
  }
  level.list = cursor_.createList(lf);
}

// ---- notes ----------------------------------------------------------------------------------

void RichTextGenerator::openNote(const librevenge::RVNGPropertyList& propList) {
  if (ignoring()) {
    ++noteDepth_;
    return;
  }
  placeSheetCell();
  const QString number = str(propList, "librevenge:number");
  QTextCharFormat f = currentFormat();
  cursor_.insertText(number.isEmpty() ? QStringLiteral(" [") : QStringLiteral(" [%1: ").arg(number), f);
  blockFresh_ = false;
  ++noteDepth_;
}

void RichTextGenerator::closeNote() {
  noteDepth_ = std::max(0, noteDepth_ - 1);
  if (ignoring()) return;
  cursor_.insertText(QStringLiteral("]"), currentFormat());
}

// ---- tables and sheets ----------------------------------------------------------------------

void RichTextGenerator::openAnyTable(const librevenge::RVNGPropertyList& propList, const char* columnsKey, bool sized) {
  if (ignoring() || noteDepth_ > 0) {
    tables_.push_back(TableState{});
    return;
  }
  placeSheetCell();
  std::vector<double> widths;
  if (const librevenge::RVNGPropertyListVector* columns = propList.child(columnsKey)) {
    for (unsigned long i = 0; i < columns->count() && widths.size() < 1024; ++i) {
      const librevenge::RVNGPropertyList& column = (*columns)[i];
      const int repeat = std::clamp(integer(column, "table:number-columns-repeated", 1), 1, 1024);
      const double w = lengthInPoints(column, "style:column-width", 0.0);
      for (int r = 0; r < repeat && widths.size() < 1024; ++r) widths.push_back(w);
    }
  }
  // A sheet's table starts with one column and gains those its cells show something in.
  const int columns = sized ? std::clamp<int>(static_cast<int>(widths.size()), 1, kMaxSheetColumns) : 1;
  QTextTableFormat tf;
  tf.setBorder(0.5);
  tf.setBorderBrush(QColor(0x80, 0x80, 0x80));
  tf.setBorderCollapse(true);
  tf.setCellPadding(2);
  tf.setCellSpacing(0);
  tf.setAlignment(Qt::AlignLeft);
  double total = 0;
  for (double w : widths) total += std::max(0.0, w);
  const double available = columnWidth();
  if (!sized) {
    // A sheet's columns take the width their content needs (the printer shrinks a sheet that
    // does not fit the page).
  } else if (total > 0 && static_cast<int>(widths.size()) == columns) {
    // Shares, not fixed lengths: the layout takes a fixed length as pixels of the screen, not
    // as points of the page. A table wider than its room is narrowed to it.
    QList<QTextLength> constraints;
    for (double w : widths) constraints.append(QTextLength(QTextLength::PercentageLength, 100.0 * std::max(0.0, w) / total));
    tf.setColumnWidthConstraints(constraints);
    tf.setWidth(QTextLength(QTextLength::PercentageLength, 100.0 * std::min(1.0, total / available)));
  } else {
    tf.setWidth(QTextLength(QTextLength::PercentageLength, 100));
  }
  if (pageBreakPending_ && tables_.empty() && !(document_->isEmpty() && cursor_.position() == 0))
    tf.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
  if (tables_.empty()) pageBreakPending_ = false;
  TableState state;
  state.table = cursor_.insertTable(1, columns, tf);
  state.sheet = !sized;
  tables_.push_back(state);
}

void RichTextGenerator::nextRow() {
  TableState& st = tables_.back();
  if (!st.table) return;
  ++st.row;
  st.column = 0;
  if (st.row >= st.table->rows()) st.table->appendRows(st.row - st.table->rows() + 1);
}

void RichTextGenerator::enterCell(int column, int columnSpan, int rowSpan) {
  TableState& st = tables_.back();
  if (!st.table) return;
  if (st.cellRefused) leaveCell();  // the last one was not closed
  if (st.row < 0) nextRow();
  if (column < 0 || column >= kMaxSheetColumns) {
    // Beyond the widest table: what the cell holds is left out.
    st.cellRefused = true;
    ++hidden_;
    return;
  }
  columnSpan = std::clamp(columnSpan, 1, kMaxSheetColumns - column);
  rowSpan = std::clamp(rowSpan, 1, 256);
  if (column + columnSpan > st.table->columns()) st.table->appendColumns(column + columnSpan - st.table->columns());
  if (st.row + rowSpan > st.table->rows()) st.table->appendRows(st.row + rowSpan - st.table->rows());
  if (columnSpan > 1 || rowSpan > 1) st.table->mergeCells(st.row, column, rowSpan, columnSpan);
  cursor_ = st.table->cellAt(st.row, column).firstCursorPosition();
  blockFresh_ = true;
  st.column = column + columnSpan;
  st.cellHasText = false;
  st.cellValue.clear();
}

void RichTextGenerator::leaveCell() {
  if (tables_.empty()) return;
  TableState& st = tables_.back();
  if (st.cellRefused) {
    st.cellRefused = false;
    hidden_ = std::max(0, hidden_ - 1);
    return;
  }
  if (!st.table || ignoring()) {
    st.cellPending = st.cellPlaced = false;
    return;
  }
  const bool showsValue = !st.cellHasText && !st.cellValue.isEmpty();
  if (showsValue) {
    placeSheetCell();
    cursor_.insertText(st.cellValue, currentFormat());
    blockFresh_ = false;
  }
  if (st.sheet && st.cellPlaced) {
    // Text starts at the left, numbers end at the right, unless the sheet says otherwise.
    const QString& a = st.cell.align;
    Qt::Alignment align = showsValue ? Qt::AlignRight : Qt::AlignLeft;
    if (a == QLatin1String("center")) align = Qt::AlignHCenter;
    else if (a == QLatin1String("end") || a == QLatin1String("right")) align = Qt::AlignRight;
    else if (!a.isEmpty()) align = Qt::AlignLeft;
    const QTextTableCell cell = st.table->cellAt(cursor_);
    QTextBlockFormat bf;
    bf.setAlignment(align);
    QTextCursor c = cell.firstCursorPosition();
    c.setPosition(cell.lastPosition(), QTextCursor::KeepAnchor);
    c.mergeBlockFormat(bf);
    if (st.cell.columnSpan > 1 || st.cell.rowSpan > 1)
      st.merges.push_back(Merge{st.row, st.cell.column, st.cell.rowSpan, st.cell.columnSpan});
  }
  st.cellPending = st.cellPlaced = false;
  st.cellHasText = false;
  st.cellValue.clear();
}

int RichTextGenerator::tableColumn(TableState& st, int sheetColumn, bool make) {
  auto it = std::lower_bound(st.sheetColumns.begin(), st.sheetColumns.end(), sheetColumn);
  const int index = static_cast<int>(it - st.sheetColumns.begin());
  if (it != st.sheetColumns.end() && *it == sheetColumn) return index;
  if (!make) return -1;
  // The table is made with one column, which the first column shown takes.
  if (!st.sheetColumns.empty()) st.table->insertColumns(index, 1);
  st.sheetColumns.insert(it, sheetColumn);
  return index;
}

void RichTextGenerator::placeSheetCell() {
  if (tables_.empty()) return;
  TableState& st = tables_.back();
  if (!st.cellPending || !st.table) return;
  st.cellPending = false;
  st.cellPlaced = true;
  if (st.row < 0) nextRow();
  cursor_ = st.table->cellAt(st.row, tableColumn(st, st.cell.column, true)).firstCursorPosition();
  blockFresh_ = true;
}

void RichTextGenerator::openTable(const librevenge::RVNGPropertyList& propList) {
  openAnyTable(propList, "librevenge:table-columns", true);
}

void RichTextGenerator::openTableRow(const librevenge::RVNGPropertyList&) {
  if (!tables_.empty()) nextRow();
}

void RichTextGenerator::openTableCell(const librevenge::RVNGPropertyList& propList) {
  if (tables_.empty() || !tables_.back().table) return;
  enterCell(tables_.back().column, integer(propList, "table:number-columns-spanned", 1),
            integer(propList, "table:number-rows-spanned", 1));
  if (tables_.back().cellRefused) return;
  if (QColor c = colour(str(propList, "fo:background-color")); c.isValid()) {
    TableState& st = tables_.back();
    QTextTableCell cell = st.table->cellAt(cursor_);
    QTextCharFormat cf = cell.format();
    cf.setBackground(c);
    cell.setFormat(cf);
  }
}

void RichTextGenerator::closeTableCell() { leaveCell(); }

void RichTextGenerator::insertCoveredTableCell(const librevenge::RVNGPropertyList&) {
  if (!tables_.empty()) ++tables_.back().column;
}

void RichTextGenerator::closeTable() {
  if (tables_.empty()) return;
  TableState st = std::move(tables_.back());
  tables_.pop_back();
  if (st.cellRefused) hidden_ = std::max(0, hidden_ - 1);
  if (!st.table || !document_) return;
  for (const Merge& m : st.merges) {
    // Over the columns shown within the span, and the rows the sheet has.
    const int first = tableColumn(st, m.column, false);
    const auto end = std::lower_bound(st.sheetColumns.begin(), st.sheetColumns.end(), m.column + m.columnSpan);
    const int columns = static_cast<int>(end - st.sheetColumns.begin()) - first;
    const int rows = std::min(m.rowSpan, st.table->rows() - m.row);
    if (first >= 0 && (columns > 1 || rows > 1)) st.table->mergeCells(m.row, first, rows, columns);
  }
  cursor_ = st.table->lastCursorPosition();
  cursor_.movePosition(QTextCursor::NextBlock);
  blockFresh_ = cursor_.block().length() <= 1;
}

void RichTextGenerator::openSheet(const librevenge::RVNGPropertyList& propList) {
  if (!ignoring() && tables_.empty() && (cursor_.position() > 0 || !document_->isEmpty())) pageBreakPending_ = true;
  openAnyTable(propList, "librevenge:columns", false);
}

void RichTextGenerator::closeSheet() { closeTable(); }

void RichTextGenerator::openSheetRow(const librevenge::RVNGPropertyList&) {
  if (!tables_.empty()) nextRow();
}

void RichTextGenerator::openSheetCell(const librevenge::RVNGPropertyList& propList) {
  if (tables_.empty() || !tables_.back().table) return;
  TableState& st = tables_.back();
  if (st.cellPending || st.cellPlaced || st.cellRefused) leaveCell();  // the last one was not closed
  const int column = integer(propList, "librevenge:column", st.column);
  const int row = integer(propList, "librevenge:row", 0);
  st.cellHasText = false;
  st.cellValue.clear();
  if (column < 0 || column >= kMaxSheetColumns || row < 0 || row >= kMaxSheetRows) {
    // No sheet holds it: what the cell holds is left out.
    st.cellRefused = true;
    ++hidden_;
    return;
  }
  st.cell.column = column;
  st.cell.columnSpan = std::clamp(integer(propList, "table:number-columns-spanned", 1), 1, kMaxSheetColumns - column);
  st.cell.rowSpan = std::clamp(integer(propList, "table:number-rows-spanned", 1), 1, kMaxSheetRows - row);
  st.cell.align = str(propList, "fo:text-align");
  st.column = column + st.cell.columnSpan;
  st.cellPending = true;
  st.cellValue = cellValueText(propList);
}

void RichTextGenerator::defineSheetNumberingStyle(const librevenge::RVNGPropertyList& propList) {
  const QString name = str(propList, "librevenge:name");
  if (name.isEmpty()) return;
  NumberingStyle style;
  if (propList["number:decimal-places"]) style.decimals = std::clamp(integer(propList, "number:decimal-places", 0), 0, 15);
  if (const librevenge::RVNGPropertyListVector* parts = propList.child("librevenge:format")) {
    for (unsigned long i = 0; i < parts->count(); ++i) {
      const librevenge::RVNGPropertyList& part = (*parts)[i];
      const QString type = str(part, "librevenge:value-type");
      style.dateParts.emplace_back(type, type == QLatin1String("text") ? str(part, "librevenge:text") : str(part, "number:style"));
    }
  }
  numbering_[name] = style;
}

QString RichTextGenerator::cellValueText(const librevenge::RVNGPropertyList& props) const {
  const QString type = str(props, "librevenge:value-type");
  if (type.isEmpty() || type == QLatin1String("string") || type == QLatin1String("text")) return QString();
  NumberingStyle style;
  if (auto it = numbering_.find(str(props, "librevenge:numbering-name")); it != numbering_.end()) style = it->second;
  auto number = [&](double v, int fallbackDecimals) {
    const int decimals = style.decimals >= 0 ? style.decimals : fallbackDecimals;
    return decimals >= 0 ? QString::number(v, 'f', decimals) : QString::number(v, 'g', 6);
  };
  const librevenge::RVNGProperty* value = props["librevenge:value"];
  if (!value) value = props["office:value"];
  if (type == QLatin1String("date")) {
    const int year = integer(props, "librevenge:year", 0), month = integer(props, "librevenge:month", 0),
              day = integer(props, "librevenge:day", 0);
    if (year == 0 && month == 0 && day == 0) return QString();
    if (style.dateParts.empty())
      return QStringLiteral("%1-%2-%3").arg(year, 4, 10, QLatin1Char('0')).arg(month, 2, 10, QLatin1Char('0')).arg(day, 2, 10, QLatin1Char('0'));
    QString out;
    for (const auto& [part, extra] : style.dateParts) {
      const bool isLong = extra == QLatin1String("long");
      if (part == QLatin1String("text")) out += extra;
      else if (part == QLatin1String("day")) out += QStringLiteral("%1").arg(day, 2, 10, QLatin1Char('0'));
      else if (part == QLatin1String("month")) out += QStringLiteral("%1").arg(month, 2, 10, QLatin1Char('0'));
      else if (part == QLatin1String("year")) out += isLong ? QString::number(year) : QStringLiteral("%1").arg(year % 100, 2, 10, QLatin1Char('0'));
    }
    return out;
  }
  if (type == QLatin1String("time")) {
    return QStringLiteral("%1:%2:%3")
        .arg(integer(props, "librevenge:hours", 0), 2, 10, QLatin1Char('0'))
        .arg(integer(props, "librevenge:minutes", 0), 2, 10, QLatin1Char('0'))
        .arg(integer(props, "librevenge:seconds", 0), 2, 10, QLatin1Char('0'));
  }
  if (!value) return QString();
  const double v = value->getDouble();
  if (!std::isfinite(v)) return QStringLiteral("#N/A");  // a formula without a number
  if (type == QLatin1String("percentage") || type == QLatin1String("percent")) return number(v * 100.0, -1) + QLatin1Char('%');
  if (type == QLatin1String("currency")) return number(v, 2);
  if (type == QLatin1String("boolean") || type == QLatin1String("bool")) return v != 0 ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
  return number(v, -1);
}

void RichTextGenerator::closeSheetCell() { leaveCell(); }

// ---- pictures -------------------------------------------------------------------------------

double RichTextGenerator::columnWidth() const {
  double width = page_.textWidth();
  for (const TableState& st : tables_)
    if (st.table && st.table->columns() > 0) width /= st.table->columns();
  return std::max(8.0, width);
}

void RichTextGenerator::openFrame(const librevenge::RVNGPropertyList& propList) {
  frameSize_ = QSizeF(lengthInPoints(propList, "svg:width", 0.0), lengthInPoints(propList, "svg:height", 0.0));
}

void RichTextGenerator::closeFrame() { frameSize_ = QSizeF(); }

void RichTextGenerator::insertBinaryObject(const librevenge::RVNGPropertyList& propList) {
  if (ignoring()) return;
  const QString mime = str(propList, "librevenge:mime-type");
  const librevenge::RVNGProperty* data = propList["office:binary-data"];
  if (!data) return;
  const QByteArray bytes = QByteArray::fromBase64(QByteArray(data->getStr().cstr()));
  QSizeF size = frameSize_;
  if (size.width() <= 0 || size.height() <= 0) size = QSizeF();

  QImage image;
  std::unique_ptr<QSvgRenderer> svg;
  if (mime == QLatin1String("image/x-wpg") || mime == QLatin1String("image/wpg")) {
    librevenge::RVNGStringStream stream(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                        static_cast<unsigned>(bytes.size()));
    librevenge::RVNGStringVector pages;
    SizedSvgGenerator generator(pages, "");
    if (libwpg::WPGraphics::parse(&stream, &generator) && !pages.empty()) {
      QByteArray markup("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
      markup += pages[0].cstr();
      svg = std::make_unique<QSvgRenderer>(markup);
      if (!svg->isValid()) svg.reset();
    }
    // The picture's own page size: the renderer's default size is in pixels of 90 per inch.
    if (svg && size.isEmpty()) size = generator.size;
  } else {
    image = QImage::fromData(bytes);
    if (!image.isNull() && size.isEmpty()) {
      const double dpmX = image.dotsPerMeterX() > 0 ? image.dotsPerMeterX() : 2835.0;
      const double dpmY = image.dotsPerMeterY() > 0 ? image.dotsPerMeterY() : 2835.0;
      size = QSizeF(image.width() / dpmX * 39.37 * 72.0, image.height() / dpmY * 39.37 * 72.0);
    }
  }
  if ((!svg && image.isNull()) || size.isEmpty()) {
    ++droppedImages_;
    foundation::log(foundation::LogLevel::Info, "revengekit", "a picture of type " + mime.toStdString() + " was left out");
    return;
  }
  // Pictures wider than their column, or taller than a page, are scaled down to fit.
  const double maxWidth = columnWidth();
  const double maxHeight = std::max(8.0, page_.paper.height() - page_.margins.top() - page_.margins.bottom());
  const double scale = std::min({1.0, maxWidth / size.width(), maxHeight / size.height()});
  size *= scale;
  if (svg) {
    const double pixelsPerPoint = 2.0;
    const QSize pixels(std::clamp(static_cast<int>(std::ceil(size.width() * pixelsPerPoint)), 1, 4000),
                       std::clamp(static_cast<int>(std::ceil(size.height() * pixelsPerPoint)), 1, 4000));
    image = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    svg->render(&painter);
  }
  const QString name = QStringLiteral("lectern-picture:%1").arg(++imageCount_);
  document_->addResource(QTextDocument::ImageResource, QUrl(name), image);
  QTextImageFormat f;
  f.setName(name);
  f.setWidth(size.width());
  f.setHeight(size.height());
  placeSheetCell();
  cursor_.insertImage(f);
  blockFresh_ = false;
  if (!tables_.empty()) tables_.back().cellHasText = true;
}

}  // namespace revengekit
