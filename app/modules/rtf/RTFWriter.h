#pragma once
// Writes a QTextDocument as RTF, with what RTFReader and RTFTextDocument read back:
// - runs with their font (font table), size, bold, italic, underline, strike, colour and
//   background (colour table), super- and subscript; text outside ASCII as \uN;
// - paragraphs with their alignment, indents, spacing, line height, tab stops, page breaks
//   and the format of their end (what an empty paragraph shows);
// - lists (\listtable, \listoverridetable, \ls, \ilvl, with {\listtext} for readers without
//   lists): one list per QTextList, its indent steps in \li, its marker hanging by
//   kListHangTwips;
// - tables, nested ones too (\trowd ... \cellx, \intbl, \itap, \cell and \row, \nestcell and
//   {\*\nesttableprops ... \nestrow}): every grid cell of every row, merged ones marked
//   \clmgf/\clmrg and \clvmgf/\clvmrg, with column widths, cell colours and vertical
//   alignment, borders, padding, the table's alignment and width, and a page break before
//   the table as \pagebb on its first paragraph;
// - each picture as a reference to a file of its own ({\*\NeXTGraphic NAME \widthW \heightH},
//   sizes in twips) that `attach` writes and names.
// Lengths are taken as points.

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>

class QTextDocument;

namespace rtf {

class RTFWriter {
 public:
  RTFWriter() = delete;
  // `attach` gets each picture and answers the file name it was written under, or an empty
  // name when it could not be written (the picture is then left out).
  static QByteArray write(const QTextDocument& document, const std::function<QString(const QImage&)>& attach);
  // The text as RTF text: \\, \{, \}, tabs, line breaks and characters past ASCII escaped;
  // other control characters left out.
  static QByteArray escape(const QString& text);
};

}  // namespace rtf
