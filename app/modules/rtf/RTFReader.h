#pragma once
// An RTF reader on Qt Core: turns RTF bytes into paragraphs of formatted runs, or, for RTF
// that encapsulates HTML, into the HTML text it carries.
//
// Read: groups; \par, \line, \page and \sect; character formats (\b, \i, \ul and its kinds,
// \strike, \fs, \f with the font table, \cf and \highlight with the colour table, \super,
// \sub, \plain); paragraph formats (\ql \qc \qr \qj, \li \ri \fi, \sb \sa, \sl \slmult,
// \tx with its kinds, \pagebb, \pard); lists (\listtable, \listoverridetable, \ls, \ilvl);
// tables (\trowd, \cellx and the cell and row properties before it, \intbl, \itap, \cell,
// \row, \nestcell, \nestrow, \nesttableprops); picture references ({\*\NeXTGraphic NAME
// \widthW \heightH}); \'hh and raw 8-bit text through the code page of the current font
// (\fcharset) or of the document (\ansicpg), \uN with \ucN fallback skipping, \bin, and
// \fromhtml with \htmltag and \htmlrtf.
// Embedded pictures, objects, fields' instructions, style sheets and every \* destination
// the reader does not know are skipped. Never throws; any input ends in a result or nothing.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace rtf {

// How far a list paragraph's marker hangs left of its text (\fi), in the RTF that RTFWriter
// writes and RTFTextDocument reads.
inline constexpr int kListHangTwips = 360;

enum class VerticalPosition { Normal, Super, Sub };

struct CharFormat {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strike = false;
  int halfPoints = 24;  // \fs: the size in half points
  int font = -1;        // \f: an index into the font table, -1 for none
  int colour = 0;       // \cf: an index into the colour table, 0 for the automatic colour
  int highlight = 0;    // \highlight, \cb, \chcbpat: an index into the colour table, 0 for none
  VerticalPosition position = VerticalPosition::Normal;
  bool operator==(const CharFormat&) const = default;
};

// A picture kept in a file of its own beside the RTF (a package's picture).
struct Picture {
  QString name;
  int widthTwips = 0;
  int heightTwips = 0;
};

struct Run {
  QString text;
  CharFormat format;
  std::optional<Picture> picture;  // a picture run has no text
};

enum class Alignment { Left, Centre, Right, Justify };

struct TabStop {
  enum class Kind { Left, Centre, Right, Decimal };
  int twips = 0;
  Kind kind = Kind::Left;
  bool operator==(const TabStop&) const = default;
};

// Lengths in twips.
struct ParagraphFormat {
  Alignment alignment = Alignment::Left;
  int leftIndent = 0;   // \li
  int rightIndent = 0;  // \ri
  int firstIndent = 0;  // \fi: the first line's indent from leftIndent
  int spaceBefore = 0;  // \sb
  int spaceAfter = 0;   // \sa
  // \sl: 0 for single spacing; with lineMultiple 240ths of a line, else at least this much
  // (positive) or exactly minus this much (negative).
  int lineSpacing = 0;
  bool lineMultiple = false;
  bool pageBreakBefore = false;  // \pagebb, or a \page before the paragraph
  QList<TabStop> tabs;
  int list = 0;   // \ls: the list override of a list paragraph, 0 for none
  int level = 0;  // \ilvl
  bool inTable = false;  // \intbl
  int nesting = 1;       // \itap: the depth of the table the paragraph stands in
  bool operator==(const ParagraphFormat&) const = default;
};

// Where a paragraph stands in a table: an index into Content::tables, a row and a cell.
struct CellPlace {
  int table = 0;
  int row = 0;
  int cell = 0;
  bool operator==(const CellPlace&) const = default;
};

struct Paragraph {
  QList<Run> runs;
  ParagraphFormat format;
  CharFormat mark;  // the format at the paragraph's end (what an empty paragraph shows)
  // The tables it stands in, outermost first; empty outside tables.
  QList<CellPlace> cells;
  QString listText;  // the number or bullet a list paragraph carries for readers without lists
  QString text() const;
};

struct Font {
  QString name;
  int charset = -1;  // \fcharset, -1 when not given
};

struct Colour {
  int red = 0;
  int green = 0;
  int blue = 0;
  bool automatic = true;  // an entry without \red, \green or \blue
};

struct Border {
  bool present = false;
  int widthTwips = 0;  // \brdrw
  int colour = 0;      // \brdrcf
};

// A cell as its row defines it (\cellx and what comes before it).
struct CellDefinition {
  int edge = 0;  // \cellx: the cell's right edge, twips from the row's left edge
  // \clftsWidth and \clwWidth: 0 or 1 for no preferred width, 2 for fiftieths of a percent,
  // 3 for twips.
  int widthUnit = 0;
  int width = 0;
  int background = 0;        // \clcbpat, 0 for none
  bool mergeFirst = false;   // \clmgf: the first cell of a horizontal merge
  bool merged = false;       // \clmrg: merged into the cell on its left
  bool vmergeFirst = false;  // \clvmgf: the first cell of a vertical merge
  bool vmerged = false;      // \clvmrg: merged into the cell above
  int verticalAlignment = 0;  // \clvertalt 0, \clvertalc 1, \clvertalb 2
  Border top, left, bottom, right;
};

struct RowDefinition {
  QList<CellDefinition> cells;
  int gap = 0;      // \trgaph
  int padding = -1;  // \trpaddl in twips (\trpaddfl3), -1 when not given
  Alignment alignment = Alignment::Left;  // \trql \trqc \trqr
  // \trftsWidth and \trwWidth: the table's preferred width, in the units of a cell's.
  int widthUnit = 0;
  int width = 0;
};

struct TableRow {
  RowDefinition definition;
  int cells = 0;  // cells that ended in the row
};

struct Table {
  QList<TableRow> rows;
};

struct ListLevel {
  int numberFormat = 0;  // \levelnfc: 0 decimal, 1 and 2 upper and lower Roman, 3 and 4 upper and lower letter, 23 bullet
  // \leveltext after its length: the number's place is the character of the level's index.
  QString text;
};

struct ListDefinition {
  QList<ListLevel> levels;
};

struct Content {
  // Yes for RTF that encapsulates HTML (\fromhtml1): html holds the page, paragraphs are empty.
  bool isHtml = false;
  QString html;
  QList<Paragraph> paragraphs;
  QMap<int, Font> fonts;
  QList<Colour> colours;          // \colortbl in order; index 0 is usually automatic
  QMap<int, ListDefinition> lists;  // by \listid
  QMap<int, int> listOverrides;     // \ls -> \listid
  QList<Table> tables;
  int codePage = 1252;  // \ansicpg
  // The paragraphs' text joined with line feeds (the HTML for an HTML document).
  QString plainText() const;
  // The list level a list paragraph stands at, or null.
  const ListLevel* listLevel(const ParagraphFormat& format) const;
};

class RTFReader {
 public:
  RTFReader() = delete;
  // Yes when the bytes begin, after white space, with "{\rtf".
  static bool isRTF(const QByteArray& data);
  // The content of an RTF document; nothing when the data is not RTF.
  static std::optional<Content> read(const QByteArray& data);
  // Bytes in a Windows code page as text; unknown code pages read as Windows-1252, and bytes
  // that do not decode become U+FFFD.
  static QString decodeCodePage(const QByteArray& bytes, int codePage);
  // The Windows code page of an RTF character set (\fcharset); 0 for "the document's".
  static int codePageForCharset(int charset);
};

}  // namespace rtf
