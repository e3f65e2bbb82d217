#include "modules/rtf/RTFTextDocument.h"

#include <QColor>
#include <QMap>
#include <QPair>
#include <QTextBlock>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QTextList>
#include <QTextTable>
#include <QUrl>

#include <algorithm>
#include <optional>
#include <vector>

namespace rtf {

namespace {

// A table is never wider than this many columns; a table's cells are never many more than
// the cells its RTF brings (ragged rows are padded only this far).
constexpr int kMaxColumns = 1024;
constexpr qsizetype kSpareCells = 4096;

double points(int twips) { return twips / 20.0; }

// Widths: twips up to 200 inches, fiftieths of a percent up to the whole.
QTextLength length(qint64 twips) {
  return QTextLength(QTextLength::FixedLength, std::clamp<qint64>(twips, 0, 288000) / 20.0);
}
QTextLength share(int fiftieths) {
  return QTextLength(QTextLength::PercentageLength, std::clamp(fiftieths, 0, 5000) / 50.0);
}

class Builder {
 public:
  Builder(QTextDocument& document, const Content& content, const PictureSource& pictures)
      : document_(document), content_(content), pictures_(pictures), cursor_(&document) {}

  void build() {
    for (const Paragraph& p : content_.paragraphs) paragraph(p);
  }

 private:
  struct Open {
    int index = 0;  // into content_.tables
    QTextTable* table = nullptr;
    int row = -1;
    int column = -1;
  };
  struct Grid {
    int rows = 0;
    int columns = 0;
  };

  std::optional<QColor> colour(int index) const {
    if (index <= 0 || index >= content_.colours.size()) return std::nullopt;
    const Colour& c = content_.colours[index];
    if (c.automatic) return std::nullopt;
    return QColor(c.red, c.green, c.blue);
  }

  QTextCharFormat charFormat(const CharFormat& f) const {
    QTextCharFormat format;
    format.setFontWeight(f.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(f.italic);
    format.setFontUnderline(f.underline);
    format.setFontStrikeOut(f.strike);
    format.setFontPointSize(f.halfPoints / 2.0);
    const auto font = content_.fonts.constFind(f.font);
    if (font != content_.fonts.constEnd() && !font->name.isEmpty()) format.setFontFamilies({font->name});
    if (auto c = colour(f.colour)) format.setForeground(*c);
    if (auto c = colour(f.highlight)) format.setBackground(*c);
    if (f.position == VerticalPosition::Super) format.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
    if (f.position == VerticalPosition::Sub) format.setVerticalAlignment(QTextCharFormat::AlignSubScript);
    return format;
  }

  QTextListFormat::Style listStyle(const ListLevel& level) const {
    switch (level.numberFormat) {
      case 1: return QTextListFormat::ListUpperRoman;
      case 2: return QTextListFormat::ListLowerRoman;
      case 3: return QTextListFormat::ListUpperAlpha;
      case 4: return QTextListFormat::ListLowerAlpha;
      case 23: {
        const QChar bullet = level.text.isEmpty() ? QChar(0x2022) : level.text.at(0);
        if (bullet == QChar(0x25E6) || bullet == QLatin1Char('o')) return QTextListFormat::ListCircle;
        if (bullet == QChar(0x25AA) || bullet == QChar(0x25A0) || bullet == QChar(0xA7)) return QTextListFormat::ListSquare;
        return QTextListFormat::ListDisc;
      }
      default: return QTextListFormat::ListDecimal;
    }
  }

  // The list level a paragraph shows, or null when it shows none.
  const ListLevel* shownLevel(const ParagraphFormat& f) const {
    const ListLevel* level = content_.listLevel(f);
    return level && level->numberFormat != 255 ? level : nullptr;
  }

  QTextBlockFormat blockFormat(const ParagraphFormat& f, const ListLevel* level) const {
    QTextBlockFormat format;
    switch (f.alignment) {
      case Alignment::Left: break;
      case Alignment::Centre: format.setAlignment(Qt::AlignHCenter); break;
      case Alignment::Right: format.setAlignment(Qt::AlignRight); break;
      case Alignment::Justify: format.setAlignment(Qt::AlignJustify); break;
    }
    double left = points(f.leftIndent);
    double first = points(f.firstIndent);
    if (level) {
      left -= (f.level + 1) * document_.indentWidth();
      first += points(kListHangTwips);
    }
    format.setLeftMargin(std::max(0.0, left));
    format.setRightMargin(std::max(0.0, points(f.rightIndent)));
    format.setTextIndent(first);
    format.setTopMargin(points(f.spaceBefore));
    format.setBottomMargin(points(f.spaceAfter));
    if (f.lineSpacing > 0 && f.lineMultiple) {
      format.setLineHeight(f.lineSpacing * 100.0 / 240.0, QTextBlockFormat::ProportionalHeight);
    } else if (f.lineSpacing > 0) {
      format.setLineHeight(points(f.lineSpacing), QTextBlockFormat::MinimumHeight);
    } else if (f.lineSpacing < 0) {
      format.setLineHeight(points(-f.lineSpacing), QTextBlockFormat::FixedHeight);
    }
    if (f.pageBreakBefore) format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    if (!f.tabs.isEmpty()) {
      QList<QTextOption::Tab> tabs;
      for (const TabStop& t : f.tabs) {
        switch (t.kind) {
          case TabStop::Kind::Left: tabs.append(QTextOption::Tab(points(t.twips), QTextOption::LeftTab)); break;
          case TabStop::Kind::Centre: tabs.append(QTextOption::Tab(points(t.twips), QTextOption::CenterTab)); break;
          case TabStop::Kind::Right: tabs.append(QTextOption::Tab(points(t.twips), QTextOption::RightTab)); break;
          case TabStop::Kind::Decimal:
            tabs.append(QTextOption::Tab(points(t.twips), QTextOption::DelimiterTab, QLatin1Char('.')));
            break;
        }
      }
      format.setTabPositions(tabs);
    }
    return format;
  }

  // Rows and columns of a table: what its rows define and what its paragraphs fill, the
  // columns kept within the cells it brings.
  Grid grid(int index) const {
    const Table& table = content_.tables[index];
    Grid g;
    qsizetype brought = 0;
    g.rows = static_cast<int>(table.rows.size());
    for (const TableRow& row : table.rows) {
      g.columns = std::max({g.columns, row.cells, static_cast<int>(row.definition.cells.size())});
      brought += row.cells;
    }
    for (const CellPlace& place : placements_.value(index)) {
      g.rows = std::max(g.rows, place.row + 1);
      g.columns = std::max(g.columns, place.cell + 1);
      ++brought;
    }
    g.rows = std::max(g.rows, 1);
    g.columns = std::clamp(g.columns, 1, kMaxColumns);
    const qsizetype most = 4 * brought + kSpareCells;
    if (qsizetype(g.rows) * g.columns > most) g.columns = static_cast<int>(std::max<qsizetype>(1, most / g.rows));
    return g;
  }

  QTextTableFormat tableFormat(const Table& table, const Grid& g) const {
    QTextTableFormat format;
    format.setCellSpacing(0);
    format.setBorderCollapse(true);
    format.setBorder(0);
    format.setAlignment(Qt::AlignLeft);
    if (table.rows.isEmpty()) return format;
    const RowDefinition& row = table.rows.first().definition;
    format.setCellPadding(points(row.padding >= 0 ? row.padding : row.gap));
    format.setAlignment(row.alignment == Alignment::Centre  ? Qt::AlignHCenter
                        : row.alignment == Alignment::Right ? Qt::AlignRight
                                                            : Qt::AlignLeft);
    if (!row.cells.isEmpty() && row.cells.first().top.present) {
      const Border& b = row.cells.first().top;
      format.setBorder(points(b.widthTwips));
      if (auto c = colour(b.colour)) format.setBorderBrush(*c);
    }
    if (row.widthUnit == 2 && row.width > 0) format.setWidth(share(row.width));
    if (row.widthUnit == 3 && row.width > 0) format.setWidth(length(row.width));
    // Column widths from the first row that defines every column.
    for (const TableRow& r : table.rows) {
      if (r.definition.cells.size() != g.columns) continue;
      QList<QTextLength> widths;
      int left = 0;
      for (const CellDefinition& cell : r.definition.cells) {
        if (cell.widthUnit == 3) widths.append(length(cell.width));
        else if (cell.widthUnit == 2) widths.append(share(cell.width));
        else if (cell.widthUnit == 1) widths.append(QTextLength());
        else widths.append(length(qint64(cell.edge) - left));
        left = cell.edge;
      }
      // Columns as wide as their content are no constraint.
      const auto sized = [](const QTextLength& l) { return l.type() != QTextLength::VariableLength; };
      if (std::any_of(widths.begin(), widths.end(), sized)) format.setColumnWidthConstraints(widths);
      break;
    }
    return format;
  }

  // Cell colours, vertical alignment and merges, from the rows' definitions.
  void shapeCells(QTextTable* t, const Table& table, const Grid& g) {
    for (int r = 0; r < std::min<int>(g.rows, table.rows.size()); ++r) {
      const QList<CellDefinition>& cells = table.rows[r].definition.cells;
      for (int c = 0; c < std::min<int>(g.columns, cells.size()); ++c) {
        const CellDefinition& def = cells[c];
        QTextTableCell cell = t->cellAt(r, c);
        QTextCharFormat f = cell.format();
        if (auto colourOf = colour(def.background)) f.setBackground(*colourOf);
        if (def.verticalAlignment == 1) f.setVerticalAlignment(QTextCharFormat::AlignMiddle);
        if (def.verticalAlignment == 2) f.setVerticalAlignment(QTextCharFormat::AlignBottom);
        cell.setFormat(f);
      }
    }
    for (int r = 0; r < std::min<int>(g.rows, table.rows.size()); ++r) {
      const QList<CellDefinition>& cells = table.rows[r].definition.cells;
      for (int c = 0; c < std::min<int>(g.columns, cells.size()); ++c) {
        const CellDefinition& def = cells[c];
        if ((!def.mergeFirst && !def.vmergeFirst) || def.merged || def.vmerged) continue;
        int columns = 1;
        if (def.mergeFirst)
          while (c + columns < std::min<int>(g.columns, cells.size()) && cells[c + columns].merged) ++columns;
        int rows = 1;
        if (def.vmergeFirst) {
          while (r + rows < std::min<int>(g.rows, table.rows.size())) {
            const QList<CellDefinition>& below = table.rows[r + rows].definition.cells;
            if (c >= below.size() || !below[c].vmerged) break;
            ++rows;
          }
        }
        if (rows > 1 || columns > 1) t->mergeCells(r, c, rows, columns);
      }
    }
  }

  void leaveTable() {
    const Open o = open_.back();
    open_.pop_back();
    cursor_ = o.table->lastCursorPosition();
    cursor_.movePosition(QTextCursor::NextBlock);
    fresh_ = true;
  }

  // Moves into the cell a paragraph names; false when the paragraph is an empty one in a
  // cell merged into another (it is left out).
  bool enterCell(Open& o, const CellPlace& place, bool empty) {
    const int row = std::clamp(place.row, 0, o.table->rows() - 1);
    const int column = std::clamp(place.cell, 0, o.table->columns() - 1);
    if (row == o.row && column == o.column) return true;
    const QTextTableCell cell = o.table->cellAt(row, column);
    const bool covered = cell.row() != row || cell.column() != column;
    if (covered && empty) return false;
    o.row = row;
    o.column = column;
    if (covered) {
      cursor_ = cell.lastCursorPosition();
      fresh_ = false;
    } else {
      cursor_ = cell.firstCursorPosition();
      fresh_ = true;
    }
    return true;
  }

  void openTable(int index) {
    const Grid g = grid(index);
    const Table& table = content_.tables[index];
    QTextTableFormat format = tableFormat(table, g);
    if (pageBreakFirst(index)) format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    QTextTable* t = cursor_.insertTable(g.rows, g.columns, format);
    shapeCells(t, table, g);
    open_.push_back(Open{index, t, -1, -1});
  }

  // Whether the table's first paragraph breaks the page: the outermost table it opens does.
  bool pageBreakFirst(int index) const {
    const auto first = firstParagraph_.constFind(index);
    return first != firstParagraph_.constEnd() && content_.paragraphs[*first].format.pageBreakBefore &&
           breakingTable_.value(*first, -1) == index;
  }

  void paragraph(const Paragraph& p) {
    const int index = index_++;
    const int depth = static_cast<int>(p.cells.size());
    const bool empty = p.runs.isEmpty() && p.listText.isEmpty();
    int same = 0;
    while (same < static_cast<int>(open_.size()) && same < depth && open_[same].index == p.cells[same].table) ++same;
    while (static_cast<int>(open_.size()) > same) leaveTable();
    if (same > 0 && !enterCell(open_.back(), p.cells[same - 1], empty)) return;
    for (int d = same; d < depth; ++d) {
      openTable(p.cells[d].table);
      enterCell(open_.back(), p.cells[d], false);
    }
    const bool breaksTable = breakingTable_.contains(index);

    const ListLevel* level = shownLevel(p.format);
    QTextBlockFormat bf = blockFormat(p.format, level);
    if (breaksTable) bf.clearProperty(QTextFormat::PageBreakPolicy);
    const QTextCharFormat mark = charFormat(p.mark);
    if (fresh_) {
      cursor_.setBlockFormat(bf);
      // Merged: the first block of a cell carries the cell's own format.
      cursor_.mergeBlockCharFormat(mark);
    } else {
      cursor_.insertBlock(bf, mark);
    }
    fresh_ = false;
    if (level) {
      const QPair<int, int> key(p.format.list, p.format.level);
      if (QTextList* list = lists_.value(key)) {
        list->add(cursor_.block());
      } else {
        QTextListFormat lf;
        lf.setStyle(listStyle(*level));
        lf.setIndent(p.format.level + 1);
        if (level->numberFormat != 23) {
          const QChar place(static_cast<char16_t>(p.format.level));
          const qsizetype at = level->text.indexOf(place);
          auto visible = [](QString s) {
            s.removeIf([](QChar c) { return c.unicode() < 9; });
            return s;
          };
          if (at >= 0) {
            lf.setNumberPrefix(visible(level->text.left(at)));
            lf.setNumberSuffix(visible(level->text.mid(at + 1)));
          }
        }
        lists_.insert(key, cursor_.createList(lf));
      }
    } else if (p.format.list > 0 && !p.listText.isEmpty()) {
      // A list this reader does not know: its marker as text.
      cursor_.insertText(p.listText, p.runs.isEmpty() ? mark : charFormat(p.runs.first().format));
    }
    for (const Run& run : p.runs) {
      if (!run.picture) {
        cursor_.insertText(run.text, charFormat(run.format));
        continue;
      }
      const QImage image = pictures_ ? pictures_(run.picture->name) : QImage();
      if (image.isNull()) continue;
      document_.addResource(QTextDocument::ImageResource, QUrl(run.picture->name), image);
      QTextImageFormat f;
      f.merge(charFormat(run.format));
      f.setName(run.picture->name);
      if (run.picture->widthTwips > 0) f.setWidth(points(run.picture->widthTwips));
      if (run.picture->heightTwips > 0) f.setHeight(points(run.picture->heightTwips));
      cursor_.insertImage(f);
    }
  }

 public:
  // Where each table's paragraphs stand, and which paragraph comes first in each.
  void survey() {
    for (qsizetype i = 0; i < content_.paragraphs.size(); ++i) {
      const Paragraph& p = content_.paragraphs[i];
      for (const CellPlace& place : p.cells) {
        placements_[place.table].append(place);
        if (firstParagraph_.contains(place.table)) continue;
        firstParagraph_.insert(place.table, static_cast<int>(i));
        if (!breakingTable_.contains(static_cast<int>(i))) breakingTable_.insert(static_cast<int>(i), place.table);
      }
    }
  }

 private:
  QTextDocument& document_;
  const Content& content_;
  const PictureSource& pictures_;
  QTextCursor cursor_;
  bool fresh_ = true;  // the cursor's block is empty and not yet any paragraph's
  int index_ = 0;      // of the next paragraph
  std::vector<Open> open_;
  QMap<QPair<int, int>, QTextList*> lists_;
  QMap<int, QList<CellPlace>> placements_;
  QMap<int, int> firstParagraph_;  // table -> its first paragraph
  QMap<int, int> breakingTable_;   // paragraph -> the outermost table it is the first of
};

}  // namespace

void RTFTextDocument::fill(QTextDocument& document, const Content& content, const PictureSource& pictures) {
  document.clear();
  if (content.isHtml) {
    document.setHtml(content.html);
    return;
  }
  Builder builder(document, content, pictures);
  builder.survey();
  builder.build();
}

std::unique_ptr<QTextDocument> RTFTextDocument::fromData(const QByteArray& data, const PictureSource& pictures) {
  const auto content = RTFReader::read(data);
  if (!content) return nullptr;
  auto document = std::make_unique<QTextDocument>();
  fill(*document, *content, pictures);
  return document;
}

}  // namespace rtf
